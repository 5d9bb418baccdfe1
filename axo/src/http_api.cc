// The operator API: HTTP routes over the in-process request API.
#include "axo/http_api.h"

#include <malloc.h>

#include <atomic>
#include <charconv>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>

#include "axo/axo.h"
#include "axo/history.h"
#include "axo/request.h"
#include "axo/trk1.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

TRK1_UNIT(axohttp_unit, "AXOHTTP");

// The agent's manager-command entry point, when the agent is linked in.
extern "C" int axo_sendCommand(int argc, char** argv) __attribute__((weak));

namespace axo {

bool ParseListenAddress(const std::string& text, std::string* host, int* port,
                        std::string* error) {
  error->clear();
  if (text == "none") return false;
  std::string h = "127.0.0.1", p = text;
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    h = text.substr(0, colon);
    p = text.substr(colon + 1);
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  }
  char* end = nullptr;
  long n = p.empty() ? -1 : strtol(p.c_str(), &end, 10);
  if (h.empty() || p.empty() || *end != '\0' || n < 0 || n > 65535) {
    *error = "bad listen address '" + text + "': expected HOST:PORT or none";
    return false;
  }
  *host = h;
  *port = static_cast<int>(n);
  return true;
}

bool ReadTokenFile(const std::string& path, std::string* token, std::string* error) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) {
    *error = "cannot read token file " + path;
    return false;
  }
  while (!line.empty() && isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  size_t start = 0;
  while (start < line.size() && isspace(static_cast<unsigned char>(line[start]))) ++start;
  line = line.substr(start);
  if (line.empty()) {
    *error = "token file " + path + " holds no token";
    return false;
  }
  *token = line;
  return true;
}

bool ConstantTimeEquals(const std::string& a, const std::string& b) {
  // Every byte of `a` is compared whatever `b` holds; a length difference
  // only flips the result.
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char other = b.empty() ? 0 : static_cast<unsigned char>(b[i % b.size()]);
    diff |= static_cast<unsigned char>(a[i]) ^ other;
  }
  return diff == 0;
}

namespace {

using Json = nlohmann::ordered_json;

// Dumps without throwing on text that is not UTF-8 (record fields are bytes).
std::string Dump(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void Reply(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(Dump(body) + "\n", "application/json");
}

void Fail(httplib::Response& res, int status, const std::string& message) {
  Reply(res, status, Json{{"error", message}});
}

int StatusCode(Status s) {
  switch (s) {
    case kOk: return 200;
    case kBadRequest: return 400;
    case kNotFound: return 404;
    case kConflict: return 409;
    default: return 500;
  }
}

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string IsoTime(time_t t) {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  strftime(buf, sizeof(buf), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

// Appends `text` as a JSON string, exactly as the document dump writes it.
// Printable ASCII other than the quote and the backslash is copied as it
// is; any other text (control characters, bytes that may not be UTF-8) is
// left to the dump, whose escapes and replacement of bad bytes it keeps.
void AppendJsonString(const std::string& text, std::string* out) {
  bool plain = true;
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
      plain = false;
      break;
    }
  }
  if (!plain) {
    out->append(Dump(Json(text)));
    return;
  }
  out->push_back('"');
  out->append(text);
  out->push_back('"');
}

Json RowJson(const Row& row) {
  Json j = Json::object();
  for (const auto& [attribute, value] : row) {
    if (value.isText) {
      j[attribute] = value.text;
    } else {
      j[attribute] = value.number;
    }
  }
  return j;
}

}  // namespace

void AppendRowJson(const Row& row, std::string* out) {
  out->push_back('{');
  bool first = true;
  for (const auto& [attribute, value] : row) {
    if (!first) out->push_back(',');
    first = false;
    AppendJsonString(attribute, out);
    out->push_back(':');
    if (value.isText) {
      AppendJsonString(value.text, out);
    } else {
      char digits[24];  // an int64 needs at most 20 characters
      const std::to_chars_result r = std::to_chars(digits, digits + sizeof(digits), value.number);
      out->append(digits, r.ec == std::errc() ? static_cast<size_t>(r.ptr - digits) : 0);
    }
  }
  out->push_back('}');
}

namespace {

// The JSON text of a query answer, {"table":...,"count":N,"rows":[...]},
// produced piece by piece. Each piece holds the following rows, at least
// one, until it reaches `limit` bytes; a written row's memory is released.
class JsonAnswer {
 public:
  JsonAnswer(const std::string& table, std::vector<Row> rows)
      : head_("{\"table\":" + Dump(Json(table)) + ",\"count\":" + std::to_string(rows.size()) +
              ",\"rows\":["),
        rows_(std::move(rows)) {}

  // Appends the next piece to `*out`. Returns true when that piece ends the
  // document; later calls append nothing.
  bool Next(size_t limit, std::string* out) {
    if (done_) return true;
    const size_t start = out->size();
    if (!started_) out->append(head_);
    started_ = true;
    while (next_ < rows_.size() && out->size() - start < limit) {
      if (next_ != 0) out->push_back(',');
      AppendRowJson(rows_[next_], out);
      Row().swap(rows_[next_]);
      ++next_;
    }
    done_ = next_ == rows_.size();
    if (done_) out->append("]}\n");
    return done_;
  }

 private:
  const std::string head_;
  std::vector<Row> rows_;
  size_t next_ = 0;
  bool started_ = false;
  bool done_ = false;
};

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string RowsCsv(const std::string& table, const std::vector<Row>& rows) {
  std::string out;
  std::vector<std::string> header;
  if (!rows.empty()) {
    for (const auto& column : rows.front()) header.push_back(column.first);
  } else {
    TableDescription d;
    std::string error;
    if (describeTable(table, &d, &error) == kOk) {
      for (const auto& c : d.columns) header.push_back(c.attribute);
    }
  }
  for (size_t i = 0; i < header.size(); ++i) out += (i ? "," : "") + header[i];
  out += "\n";
  for (const Row& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      const Value& v = row[i].second;
      out += (i ? "," : "") + (v.isText ? CsvField(v.text) : std::to_string(v.number));
    }
    out += "\n";
  }
  return out;
}

// Splits "ATTR<op>VALUE". The attribute is letters, digits and "_".
bool ParseWhere(const std::string& text, FilterTerm* term) {
  size_t i = 0;
  while (i < text.size() && (isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
  if (i == 0 || i >= text.size()) return false;
  static const char* const kOps[] = {"!=", "<=", ">=", "=", "<", ">"};
  for (const char* op : kOps) {
    if (text.compare(i, strlen(op), op) == 0) {
      term->attribute = text.substr(0, i);
      term->op = op;
      term->value = text.substr(i + strlen(op));
      return true;
    }
  }
  return false;
}

bool ParseFlag(const std::string& s, bool* out) {
  if (s == "1" || s == "true" || s == "yes") {
    *out = true;
  } else if (s == "0" || s == "false" || s == "no" || s.empty()) {
    *out = false;
  } else {
    return false;
  }
  return true;
}

// A condition value: a string, or an integer given as a JSON number.
bool ConditionValue(const Json& v, std::string* out) {
  if (v.is_string()) {
    *out = v.get<std::string>();
  } else if (v.is_number_integer()) {
    *out = std::to_string(v.get<int64_t>());
  } else if (v.is_number_float() && v.get<double>() == static_cast<double>(
                                         static_cast<int64_t>(v.get<double>()))) {
    *out = std::to_string(static_cast<int64_t>(v.get<double>()));
  } else {
    return false;
  }
  return true;
}

const char* const kOperators[] = {"=", "!=", "<", "<=", ">", ">="};

bool KnownOperator(const std::string& op) {
  for (const char* o : kOperators) {
    if (op == o) return true;
  }
  return false;
}

}  // namespace

struct OperatorApi::Impl {
  OperatorApiOptions options;
  httplib::Server server;
  std::thread thread;
  std::atomic<bool> listenReturned{false};
  int port = 0;

  bool Authorized(const httplib::Request& req, httplib::Response& res) {
    if (options.token.empty()) return true;
    std::string header = req.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    bool ok = header.compare(0, prefix.size(), prefix) == 0 &&
              ConstantTimeEquals(header.substr(prefix.size()), options.token);
    if (!ok) {
      res.set_header("WWW-Authenticate", "Bearer");
      Fail(res, 401, "missing or wrong bearer token");
      if (TRK1_Sync(&axohttp_unit, __LINE__) & TRK1_ERROR) {
        TRK1_Printf(&axohttp_unit, __LINE__, "AXO0105W Refused %s %s from %s: no valid token",
                    req.method.c_str(), req.path.c_str(), req.remote_addr.c_str());
      }
    }
    return ok;
  }

  // Parses a JSON object body; answers 400 itself when it is not one.
  static bool JsonBody(const httplib::Request& req, httplib::Response& res, Json* out) {
    *out = Json::parse(req.body, nullptr, false);
    if (out->is_discarded() || !out->is_object()) {
      Fail(res, 400, "the body must be a JSON object");
      return false;
    }
    return true;
  }

  void Routes() {
    server.Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
      Reply(res, 200, Json{{"status", "ok"}});
    });
    server.Get("/api/v1/agent", [](const httplib::Request&, httplib::Response& res) {
      AXO_Identity id = AXO_GetIdentity();
      Reply(res, 200,
            Json{{"product", id.product},
                 {"version", id.version},
                 {"subsystem", id.subsystem},
                 {"nodeType", id.nodeType},
                 {"hostname", id.hostname},
                 {"originnode", TrimRight(id.originnode)},
                 {"affinities", id.affinities},
                 {"startTime", static_cast<int64_t>(id.startTime)},
                 {"started", IsoTime(id.startTime)},
                 {"subnodes", SubnodesJson()}});
    });
    server.Get("/api/v1/subnodes", [](const httplib::Request&, httplib::Response& res) {
      Reply(res, 200, Json{{"subnodes", SubnodesJson()}});
    });
    server.Get("/api/v1/tables", [](const httplib::Request&, httplib::Response& res) {
      Json tables = Json::array();
      for (const TableDescription& d : listTables()) tables.push_back(TableJson(d));
      Reply(res, 200, Json{{"tables", tables}});
    });
    server.Get(R"(/api/v1/tables/([A-Za-z0-9_]{1,32}))",
               [](const httplib::Request& req, httplib::Response& res) { QueryTable(req, res); });
    server.Post("/api/v1/actions", [this](const httplib::Request& req, httplib::Response& res) {
      if (Authorized(req, res)) Action(req, res);
    });
    server.Post("/api/v1/manager", [this](const httplib::Request& req, httplib::Response& res) {
      if (Authorized(req, res)) Manager(req, res);
    });
    server.Get("/api/v1/situations", [](const httplib::Request&, httplib::Response& res) {
      Json list = Json::array();
      for (const SituationInfo& s : listSituations()) list.push_back(SituationJson(s));
      Reply(res, 200, Json{{"situations", list}});
    });
    server.Post("/api/v1/situations", [this](const httplib::Request& req, httplib::Response& res) {
      if (Authorized(req, res)) CreateSituation(req, res);
    });
    server.Delete(R"(/api/v1/situations/([^/]{1,64}))",
                  [this](const httplib::Request& req, httplib::Response& res) {
                    if (!Authorized(req, res)) return;
                    std::string error;
                    Status s = deleteSituation(req.matches[1].str(), &error);
                    if (s != kOk) return Fail(res, StatusCode(s), error);
                    Reply(res, 200, Json{{"deleted", req.matches[1].str()}});
                  });
    server.Get("/api/v1/events", [](const httplib::Request& req, httplib::Response& res) {
      int64_t since = 0;
      if (req.has_param("since")) {
        std::string s = req.get_param_value("since");
        char* end = nullptr;
        long long v = s.empty() ? -1 : strtoll(s.c_str(), &end, 10);
        if (s.empty() || *end != '\0' || v < 0) {
          return Fail(res, 400, "since must be a non-negative integer");
        }
        since = v;
      }
      Json events = Json::array();
      for (const Event& e : eventsSince(since)) {
        events.push_back(Json{{"id", e.id},
                              {"time", static_cast<int64_t>(e.time)},
                              {"situation", e.situation},
                              {"state", e.raised ? "raised" : "cleared"},
                              {"row", RowJson(e.row)}});
      }
      Reply(res, 200, Json{{"events", events}});
    });
  }

  static Json SubnodesJson() {
    Json list = Json::array();
    for (const AXO_SubnodeInfo& s : AXO_ListSubnodes()) {
      list.push_back(
          Json{{"name", TrimRight(s.name)}, {"product", s.product}, {"version", s.version}});
    }
    return list;
  }

  static Json TableJson(const TableDescription& d) {
    Json columns = Json::array();
    for (const ColumnDescription& c : d.columns) {
      const char* type = c.type == 9 ? "text" : c.type == 5 ? "int16" : c.type == 3 ? "int32"
                                                                                 : "unknown";
      columns.push_back(Json{{"attribute", c.attribute},
                             {"name", c.name},
                             {"type", type},
                             {"width", c.width},
                             {"offset", c.offset}});
    }
    return Json{{"application", d.application}, {"table", d.table}, {"columns", columns}};
  }

  static Json SituationJson(const SituationInfo& s) {
    Json conditions = Json::array();
    for (const FilterTerm& t : s.terms) {
      Json c{{"attribute", t.attribute}, {"op", t.op}, {"value", t.value}};
      if (t.orWithPrevious) c["or"] = true;
      conditions.push_back(c);
    }
    return Json{{"name", s.name},
                {"table", s.table},
                {"interval", s.interval},
                {"state", s.raised ? "raised" : "cleared"},
                {"lastChange", s.lastChange == 0 ? Json(nullptr)
                                                 : Json(static_cast<int64_t>(s.lastChange))},
                {"conditions", conditions}};
  }

  static void QueryTable(const httplib::Request& req, httplib::Response& res) {
    Query q;
    q.table = Upper(req.matches[1].str());
    for (size_t i = 0; i < req.get_param_value_count("subnode"); ++i) {
      q.subnodes.push_back(req.get_param_value("subnode", i));
    }
    if (req.has_param("history") && !ParseFlag(req.get_param_value("history"), &q.history)) {
      return Fail(res, 400, "history must be 0 or 1");
    }
    for (size_t i = 0; i < req.get_param_value_count("where"); ++i) {
      FilterTerm t;
      std::string w = req.get_param_value("where", i);
      if (!ParseWhere(w, &t)) {
        return Fail(res, 400, "bad where term '" + w + "': expected ATTR<op>VALUE with op one "
                              "of = != < <= > >=");
      }
      q.terms.push_back(t);
    }
    std::string format = req.has_param("format") ? req.get_param_value("format") : "json";
    if (format != "json" && format != "csv") return Fail(res, 400, "format must be json or csv");
    std::vector<Row> rows;
    std::string error;
    Status s = runQuery(q, &rows, &error);
    if (s != kOk) return Fail(res, StatusCode(s), error);
    if (format == "csv") {
      res.set_content(RowsCsv(q.table, rows), "text/csv");
      return;
    }
    // The answer is streamed in chunks of rows: its text never exists whole,
    // and each row's memory goes as soon as the row is written. A client of
    // HTTP/1.0 cannot read chunks; it gets the text whole.
    auto answer = std::make_shared<JsonAnswer>(q.table, std::move(rows));
    res.status = 200;
    if (req.version == "HTTP/1.0") {
      std::string body;
      while (!answer->Next(SIZE_MAX, &body)) {
      }
      res.set_content(body, "application/json");
      return;
    }
    res.set_chunked_content_provider(
        "application/json", [answer](size_t, httplib::DataSink& sink) {
          constexpr size_t kChunkBytes = 256 * 1024;
          std::string chunk;
          chunk.reserve(kChunkBytes + 4096);
          const bool complete = answer->Next(kChunkBytes, &chunk);
          if (!sink.write(chunk.data(), chunk.size())) return false;
          if (complete) sink.done();
          return true;
        });
  }

  static void Action(const httplib::Request& req, httplib::Response& res) {
    std::string command = req.body;
    std::string type = req.get_header_value("Content-Type");
    if (type.find("json") != std::string::npos ||
        (!command.empty() && command.front() == '{')) {
      Json body;
      if (!JsonBody(req, res, &body)) return;
      auto it = body.find("command");
      if (it == body.end() || !it->is_string()) {
        return Fail(res, 400, "the body needs a \"command\" text");
      }
      command = it->get<std::string>();
    }
    while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) {
      command.pop_back();
    }
    if (command.empty()) return Fail(res, 400, "empty command");
    if (command.find('\0') != std::string::npos) return Fail(res, 400, "NUL in command");
    long rc = 0;
    std::string message, error;
    Status s = runActionCommand(command, &rc, &message, &error);
    if (s != kOk) return Fail(res, s == kFailed ? 503 : StatusCode(s), error);
    if (TRK1_Sync(&axohttp_unit, __LINE__) & TRK1_DETAIL) {
      TRK1_Printf(&axohttp_unit, __LINE__, "AXO0103I Action command from %s ended with %ld",
                  req.remote_addr.c_str(), rc);
    }
    Reply(res, 200, Json{{"rc", rc}, {"message", message}});
  }

  static void Manager(const httplib::Request& req, httplib::Response& res) {
    Json body;
    if (!JsonBody(req, res, &body)) return;
    auto it = body.find("words");
    if (it == body.end() || !it->is_array() || it->empty() || it->size() > 16) {
      return Fail(res, 400, "the body needs \"words\": 1 to 16 texts");
    }
    std::vector<std::string> words;
    for (const Json& w : *it) {
      if (!w.is_string() || w.get<std::string>().size() > 256) {
        return Fail(res, 400, "every word must be a text of at most 256 characters");
      }
      words.push_back(w.get<std::string>());
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    TRK1_Printf(&axohttp_unit, __LINE__, "AXO0104I Manager command from %s",
                req.remote_addr.c_str());
    int rc = 0;
    if (axo_sendCommand != nullptr) {
      rc = axo_sendCommand(static_cast<int>(words.size()), argv.data());
    } else if ((words.size() > 2 && words[2].compare(0, 4, "STOP") == 0) ||
               (words.size() > 3 && words[3].compare(0, 8, "SHUTDOWN") == 0)) {
      AXO_Shutdown(1);
    }
    Reply(res, 200, Json{{"rc", rc}});
  }

  static void CreateSituation(const httplib::Request& req, httplib::Response& res) {
    Json body;
    if (!JsonBody(req, res, &body)) return;
    SituationSpec spec;
    auto name = body.find("name");
    auto table = body.find("table");
    if (name == body.end() || !name->is_string() || table == body.end() || !table->is_string()) {
      return Fail(res, 400, "a situation needs a \"name\" and a \"table\"");
    }
    spec.name = name->get<std::string>();
    spec.table = Upper(table->get<std::string>());
    spec.interval = 60;
    if (auto it = body.find("interval"); it != body.end()) {
      if (!it->is_number_integer() || it->get<int64_t>() < 1 || it->get<int64_t>() > 86400) {
        return Fail(res, 400, "interval must be an integer from 1 to 86400 seconds");
      }
      spec.interval = static_cast<int>(it->get<int64_t>());
    }
    auto conditions = body.find("conditions");
    if (conditions != body.end() && (!conditions->is_array() || conditions->size() > 64)) {
      return Fail(res, 400, "conditions must be a list of at most 64 terms");
    }
    if (conditions != body.end()) {
      for (const Json& c : *conditions) {
        FilterTerm t;
        if (!c.is_object() || !c.contains("attribute") || !c["attribute"].is_string() ||
            !c.contains("op") || !c["op"].is_string() || !c.contains("value") ||
            !ConditionValue(c["value"], &t.value)) {
          return Fail(res, 400, "each condition needs \"attribute\", \"op\" and a text or "
                                "integer \"value\"");
        }
        t.attribute = c["attribute"].get<std::string>();
        t.op = c["op"].get<std::string>();
        if (!KnownOperator(t.op)) return Fail(res, 400, "unknown operator '" + t.op + "'");
        if (c.contains("or")) {
          if (!c["or"].is_boolean()) return Fail(res, 400, "\"or\" must be true or false");
          t.orWithPrevious = c["or"].get<bool>();
        }
        spec.terms.push_back(t);
      }
    }
    std::string error;
    Status s = createSituation(spec, &error);
    if (s != kOk) return Fail(res, StatusCode(s), error);
    for (const SituationInfo& info : listSituations()) {
      if (info.name == spec.name) return Reply(res, 201, SituationJson(info));
    }
    Reply(res, 201, Json{{"name", spec.name}});
  }
};

OperatorApi::OperatorApi() : impl_(new Impl) {}

OperatorApi::~OperatorApi() { Stop(); }

bool OperatorApi::Start(const OperatorApiOptions& options, std::string* error) {
  if (impl_->thread.joinable()) {
    *error = "the operator API is already running";
    return false;
  }
  impl_->options = options;
  httplib::Server& s = impl_->server;
  int threads = options.threads > 0 ? options.threads : 8;
  s.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  s.set_payload_max_length(options.maxBodyBytes);
  // The library's default also sets SO_REUSEPORT, which lets a second
  // process bind the same port silently and share the requests; a port in
  // use must be a start-up error instead.
  s.set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  s.set_read_timeout(5, 0);
  s.set_write_timeout(5, 0);
  s.set_keep_alive_max_count(100);
  s.set_keep_alive_timeout(5);
  s.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    const char* text = res.status == 404   ? "no such resource"
                       : res.status == 413 ? "request body too large"
                       : res.status == 405 ? "method not allowed"
                                           : "bad request";
    res.set_content(Dump(Json{{"error", text}}) + "\n", "application/json");
    return httplib::Server::HandlerResponse::Handled;
  }));
  s.set_exception_handler([](const httplib::Request& req, httplib::Response& res,
                             std::exception_ptr ep) {
    std::string what = "internal error";
    try {
      if (ep) std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    TRK1_Printf(&axohttp_unit, __LINE__, "AXO0106E %s %s failed: %s", req.method.c_str(),
                req.path.c_str(), what.c_str());
    Fail(res, 500, "internal error");
  });
  impl_->Routes();
  if (options.port == 0) {
    impl_->port = s.bind_to_any_port(options.host);
  } else if (s.bind_to_port(options.host, options.port)) {
    impl_->port = options.port;
  } else {
    impl_->port = -1;
  }
  if (impl_->port <= 0) {
    impl_->port = 0;
    *error = "cannot listen on " + options.host + ":" + std::to_string(options.port) +
             " (address in use or not available)";
    return false;
  }
  impl_->listenReturned = false;
  impl_->thread = std::thread([this] {
    impl_->server.listen_after_bind();
    impl_->listenReturned = true;
  });
  // The server counts as running only once its accept loop has started;
  // a stop() before that would be lost and the join would never return.
  while (!impl_->server.is_running() && !impl_->listenReturned) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!impl_->server.is_running()) {
    impl_->thread.join();
    impl_->port = 0;
    *error = "the operator API stopped at once on " + options.host;
    return false;
  }
  TRK1_Printf(&axohttp_unit, __LINE__, "AXO0101I Operator API listening on http://%s:%d%s",
              options.host.c_str(), impl_->port, options.token.empty() ? "" : " (token required)");
  return true;
}

void OperatorApi::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->server.stop();
  impl_->thread.join();
  impl_->port = 0;
}

int OperatorApi::port() const { return impl_->port; }

}  // namespace axo

namespace {
std::mutex g_api_mutex;
axo::OperatorApi* g_api = nullptr;
}  // namespace

int AXO_StartOperatorApi() {
  // Each request thread would otherwise get a malloc arena of its own and
  // keep the memory of the largest answer it ever built: with a pool of
  // request threads that is many times the agent's real working set.
  mallopt(M_ARENA_MAX, 2);
  AXO_Options options = AXO_GetOptions();
  axo::OperatorApiOptions api;
  std::string error;
  if (!axo::ParseListenAddress(options.listen, &api.host, &api.port, &error)) {
    if (error.empty()) return 0;  // --listen none
  } else if (!options.tokenFile.empty()) {
    axo::ReadTokenFile(options.tokenFile, &api.token, &error);
  }
  std::lock_guard<std::mutex> lock(g_api_mutex);
  if (error.empty() && g_api == nullptr) {
    g_api = new axo::OperatorApi;
    if (!g_api->Start(api, &error)) {
      delete g_api;
      g_api = nullptr;
    }
  }
  if (!error.empty()) {
    // The operator cannot reach an agent without its API: stop at once with
    // a clear message rather than run unreachable.
    TRK1_Printf(&axohttp_unit, __LINE__, "AXO0102E Operator API not started: %s", error.c_str());
    fprintf(stderr, "operator API not started: %s\n", error.c_str());
    fflush(stderr);
    _exit(1);
  }
  return 0;
}

void AXO_StopOperatorApi() {
  std::lock_guard<std::mutex> lock(g_api_mutex);
  delete g_api;  // stops and joins
  g_api = nullptr;
}

void AXO_RegisterStandardServices() {
  AXO_RegisterService("operator-api", AXO_StartOperatorApi, AXO_StopOperatorApi);
  AXO_RegisterService("history", AXO_StartHistory, AXO_StopHistory);
}
