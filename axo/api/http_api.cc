// The operator API: HTTP routes over the in-process request API, and the
// listener's lifecycle. How answers are written is http_answer.cc's job.
#include "axo/api/http_api.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cctype>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "axo/api/http_answer.h"
#include "axo/api/http_server.h"
#include "axo/api/http_ui.h"
#include "axo/base/osb1.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/base/wait.h"
#include "axo/history/history.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/process/liveness.h"
#include "axo/requests/request.h"
#include "axo/tables/catalog.h"

TRK1_UNIT(axohttp_unit, "AXOHTTP");

// The agent's manager-command entry point, when the agent is linked in.
extern "C" int axo_sendCommand(int argc, char** argv) __attribute__((weak));

namespace axo {

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

using answer::Fail;
using answer::Json;
using answer::Reply;

// How long a scrape waits for the agent's data before it answers with the
// gauges' last values: a scrape must never hang.
constexpr int kScrapeWaitMillis = 1000;

// Runs `handler` with the framework's wait limit for the agent's data, so
// that a request never waits on a stalled part for longer (503 instead).
template <typename Handler>
httplib::Server::Handler Limited(Handler handler) {
  return [handler](const httplib::Request& req, httplib::Response& res) {
    OSB1_WaitLimit limit(axo_internal::kDataWaitMillis);
    handler(req, res);
  };
}

// Splits "ATTR<op>VALUE". The attribute is letters, digits and "_".
bool ParseWhere(const std::string& text, FilterTerm* term) {
  size_t i = 0;
  while (i < text.size() && (isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
  if (i == 0) return false;
  const axo_internal::OperatorName* op = axo_internal::OperatorAt(std::string_view(text).substr(i));
  if (op == nullptr) return false;
  term->attribute = text.substr(0, i);
  term->op = op->text;
  term->value = text.substr(i + op->text.size());
  return true;
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
  } else if (v.is_number_float() &&
             v.get<double>() == static_cast<double>(static_cast<int64_t>(v.get<double>()))) {
    *out = std::to_string(static_cast<int64_t>(v.get<double>()));
  } else {
    return false;
  }
  return true;
}

// Parses a JSON object body; answers 400 itself when it is not one.
bool JsonBody(const httplib::Request& req, httplib::Response& res, Json* out) {
  *out = Json::parse(req.body, nullptr, false);
  if (out->is_discarded() || !out->is_object()) {
    Fail(res, 400, "the body must be a JSON object");
    return false;
  }
  return true;
}

// The subnode, where and format parameters shared by the table and history
// routes. Answers 400 itself and returns false when one is malformed.
bool RowParams(const httplib::Request& req, httplib::Response& res,
               std::vector<std::string>* subnodes, std::vector<FilterTerm>* terms, bool* csv) {
  for (size_t i = 0; i < req.get_param_value_count("subnode"); ++i) {
    subnodes->push_back(req.get_param_value("subnode", i));
  }
  for (size_t i = 0; i < req.get_param_value_count("where"); ++i) {
    FilterTerm t;
    std::string w = req.get_param_value("where", i);
    if (!ParseWhere(w, &t)) {
      Fail(res, 400,
           "bad where term '" + w +
               "': expected ATTR<op>VALUE with op one "
               "of = != < <= > >=");
      return false;
    }
    terms->push_back(t);
  }
  std::string format = req.has_param("format") ? req.get_param_value("format") : "json";
  if (format != "json" && format != "csv") {
    Fail(res, 400, "format must be json or csv");
    return false;
  }
  *csv = format == "csv";
  return true;
}

void QueryTable(const httplib::Request& req, httplib::Response& res) {
  Query q;
  q.table = axo_internal::Upper(req.matches[1].str());
  bool csv = false;
  if (!RowParams(req, res, &q.subnodes, &q.terms, &csv)) return;
  if (req.has_param("history") && !ParseFlag(req.get_param_value("history"), &q.history)) {
    return Fail(res, 400, "history must be 0 or 1");
  }
  std::vector<Row> rows;
  if (Status s = runQuery(q, &rows); !s.ok()) return Fail(res, s);
  answer::AnswerRows(req, res, q.table, std::move(rows), csv);
}

// A time as seconds since 1970 or ISO 8601: YYYY-MM-DD, optionally with
// THH:MM[:SS[.fraction]] and Z or an offset +HH:MM (none: UTC).
bool ParseTime(const std::string& text, time_t* out) {
  long long seconds;
  if (axo_internal::ParseInteger(text, 0, 253402300799LL, &seconds)) {
    *out = static_cast<time_t>(seconds);
    return true;
  }
  struct tm tm = {};
  const char* rest = strptime(text.c_str(), "%Y-%m-%d", &tm);
  if (rest == nullptr || text.size() < 10) return false;
  if (*rest == 'T' || *rest == ' ') {
    const char* time = strptime(rest + 1, "%H:%M", &tm);
    if (time == nullptr) return false;
    rest = time;
    if (*rest == ':') {
      if ((rest = strptime(rest + 1, "%S", &tm)) == nullptr) return false;
      if (*rest == '.') {
        ++rest;
        while (isdigit(static_cast<unsigned char>(*rest))) ++rest;
      }
    }
  }
  long offset = 0;
  if (*rest == 'Z') {
    ++rest;
  } else if (*rest == '+' || *rest == '-') {
    int h, m;
    if (sscanf(rest + 1, "%2d:%2d", &h, &m) != 2 || strlen(rest) != 6 || h > 23 || m > 59) {
      return false;
    }
    offset = (h * 3600L + m * 60L) * (*rest == '-' ? -1 : 1);
    rest += 6;
  }
  if (*rest != '\0') return false;
  *out = timegm(&tm) - offset;
  return true;
}

// GET /api/v1/history/{TABLE}: rows of the history store, the table
// route's shape and filters over a time range (default: the last day).
void QueryHistory(const httplib::Request& req, httplib::Response& res) {
  constexpr size_t kDefaultLimit = 10000;
  constexpr size_t kMaxLimit = 100000;
  HistoryQuery q;
  q.table = axo_internal::Upper(req.matches[1].str());
  bool csv = false;
  if (!RowParams(req, res, &q.subnodes, &q.terms, &csv)) return;
  q.to = AXO_Now() + 1;
  for (const char* name : {"to", "from"}) {
    if (!req.has_param(name)) continue;
    std::string text = req.get_param_value(name);
    if (!ParseTime(text, name[0] == 't' ? &q.to : &q.from)) {
      return Fail(res, 400,
                  std::string("bad time for ") + name + ": '" + text +
                      "' (expected ISO 8601, e.g. 2026-03-28T13:46:09Z, or seconds "
                      "since 1970)");
    }
  }
  if (!req.has_param("from")) q.from = q.to - 86400;
  q.limit = kDefaultLimit;
  if (req.has_param("limit")) {
    long long n;
    if (!axo_internal::ParseInteger(req.get_param_value("limit"), 1, kMaxLimit, &n)) {
      return Fail(res, 400, "limit must be a number from 1 to " + std::to_string(kMaxLimit));
    }
    q.limit = static_cast<size_t>(n);
  }
  HistoryAnswer rows;
  if (Status s = RunHistoryQuery(q, &rows); !s.ok()) return Fail(res, s);
  answer::AnswerRowSource(req, res, q.table, rows.count, std::move(rows.next), csv);
}

void Action(const httplib::Request& req, httplib::Response& res) {
  std::string command = req.body;
  std::string type = req.get_header_value("Content-Type");
  if (type.find("json") != std::string::npos || (!command.empty() && command.front() == '{')) {
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
  long rc = 0;
  std::string message;
  if (Status s = runActionCommand(command, &rc, &message); !s.ok()) return Fail(res, s);
  if (TRK1_On(&axohttp_unit, TRK1_DETAIL)) {
    TRK1_Printf(&axohttp_unit, __LINE__, "AXO0103I Action command from %s ended with %ld",
                req.remote_addr.c_str(), rc);
  }
  Reply(res, 200, Json{{"rc", rc}, {"message", message}});
}

void Manager(const httplib::Request& req, httplib::Response& res) {
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
  TRK1_Printf(&axohttp_unit, __LINE__, "AXO0104I Manager command from %s", req.remote_addr.c_str());
  int rc = 0;
  if (axo_sendCommand != nullptr) {
    rc = axo_sendCommand(static_cast<int>(words.size()), argv.data());
  } else if ((words.size() > 2 && words[2].compare(0, 4, "STOP") == 0) ||
             (words.size() > 3 && words[3].compare(0, 8, "SHUTDOWN") == 0)) {
    AXO_Shutdown(1);
  }
  Reply(res, 200, Json{{"rc", rc}});
}

void CreateSituation(const httplib::Request& req, httplib::Response& res) {
  Json body;
  if (!JsonBody(req, res, &body)) return;
  SituationSpec spec;
  auto name = body.find("name");
  auto table = body.find("table");
  if (name == body.end() || !name->is_string() || table == body.end() || !table->is_string()) {
    return Fail(res, 400, "a situation needs a \"name\" and a \"table\"");
  }
  spec.name = name->get<std::string>();
  spec.table = axo_internal::Upper(table->get<std::string>());
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
        return Fail(res, 400,
                    "each condition needs \"attribute\", \"op\" and a text or "
                    "integer \"value\"");
      }
      t.attribute = c["attribute"].get<std::string>();
      t.op = c["op"].get<std::string>();  // checked with the terms
      if (c.contains("or")) {
        if (!c["or"].is_boolean()) return Fail(res, 400, "\"or\" must be true or false");
        t.orWithPrevious = c["or"].get<bool>();
      }
      spec.terms.push_back(t);
    }
  }
  if (Status s = createSituation(spec); !s.ok()) return Fail(res, s);
  for (const SituationInfo& info : listSituations()) {
    if (info.name == spec.name) return Reply(res, 201, answer::SituationJson(info));
  }
  Reply(res, 201, Json{{"name", spec.name}});
}

void DeleteSituation(const httplib::Request& req, httplib::Response& res) {
  if (Status s = deleteSituation(req.matches[1].str()); !s.ok()) return Fail(res, s);
  Reply(res, 200, Json{{"deleted", req.matches[1].str()}});
}

// GET /healthz: "ok" with each periodic part's last round, or 503 with
// "stuck" naming the parts that completed no round for too long (see
// axo/liveness.h for the rule).
void Health(const httplib::Request&, httplib::Response& res) {
  const time_t now = AXO_Now();
  Json parts = Json::object();
  std::string reason;
  for (const liveness::PartState& p : liveness::Parts(now)) {
    parts[p.name] = Json{
        {"state", p.stuck ? "stuck" : "ok"},
        {"last_round", p.lastRound != 0 ? Json(axo_internal::Rfc3339(p.lastRound)) : Json(nullptr)},
        {"age_seconds", p.ageSeconds},
        {"interval_seconds", p.intervalSeconds}};
    if (!p.stuck) continue;
    reason += (reason.empty() ? "" : "; ") + p.name + ": no round completed for " +
              std::to_string(p.ageSeconds) + " s (interval " + std::to_string(p.intervalSeconds) +
              " s)";
  }
  Json body{{"status", reason.empty() ? "ok" : "stuck"}};
  if (!reason.empty()) body["reason"] = reason;
  body["parts"] = std::move(parts);
  Reply(res, reason.empty() ? 200 : 503, body);
}

void Events(const httplib::Request& req, httplib::Response& res) {
  long long since = 0;
  if (req.has_param("since") &&
      !axo_internal::ParseInteger(req.get_param_value("since"), 0, LLONG_MAX, &since)) {
    return Fail(res, 400, "since must be a non-negative integer");
  }
  Reply(res, 200, answer::EventsJson(eventsSince(since)));
}

// What the listener answers when no handler wrote a body: httplib's own
// refusals (no route, body too large, bad request line) and failures.
void Metrics(const httplib::Request& req, httplib::Response& res) {
  OSB1_WaitLimit limit(kScrapeWaitMillis);
  std::string type;
  const auto format = axo::metrics::NegotiateFormat(req.get_header_value("Accept"), &type);
  std::vector<std::string> names;
  for (size_t i = 0; i < req.get_param_value_count("name"); ++i) {
    names.push_back(req.get_param_value("name", i));
  }
  res.set_content(axo::metrics::Expose(format, names), type);
}

// Counts every answered request by route (the path's pattern, never the
// client or a free-form path: bounded cardinality) and status.
void CountRequest(const httplib::Request& req, const httplib::Response& res) {
  AXO_COUNTER_FAMILY(requests, "zep_api_requests_total",
                     "Operator API requests answered, by route and status.",
                     {"method", "route", "status"});
  static const char* const kRoutes[] = {"/healthz",         "/metrics",           "/api/v1/agent",
                                        "/api/v1/subnodes", "/api/v1/tables",     "/api/v1/actions",
                                        "/api/v1/manager",  "/api/v1/situations", "/api/v1/events"};
  std::string route = "other";
  for (const char* r : kRoutes) {
    if (req.path == r) route = r;
  }
  if (req.path.starts_with("/api/v1/tables/")) route = "/api/v1/tables/{table}";
  if (req.path.starts_with("/api/v1/history/")) route = "/api/v1/history/{table}";
  if (req.path.starts_with("/api/v1/situations/")) route = "/api/v1/situations/{name}";
  const char* method = "other";
  for (const char* m : {"GET", "POST", "DELETE", "PUT", "HEAD"}) {
    if (req.method == m) method = m;
  }
  requests.counter({method, route, std::to_string(res.status)}).Inc();
}

// True when `host` is a loopback address (127.0.0.0/8, ::1) or "localhost".
bool IsLoopback(const std::string& host) {
  in_addr v4;
  in6_addr v6;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return host == "localhost";
}

httplib::Server::HandlerResponse DefaultError(const httplib::Request&, httplib::Response& res) {
  if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
  const char* text = res.status >= 500   ? "internal error"
                     : res.status == 404 ? "no such resource"
                     : res.status == 413 ? "request body too large"
                     : res.status == 405 ? "method not allowed"
                                         : "bad request";
  Fail(res, res.status, text);
  return httplib::Server::HandlerResponse::Handled;
}

// A handler that threw: 500, and the reason in the trace only.
void InternalError(const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
  std::string what = "unknown exception";
  try {
    if (ep) std::rethrow_exception(ep);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  TRK1_Printf(&axohttp_unit, __LINE__, "AXO0106E %s %s failed: %s", req.method.c_str(),
              req.path.c_str(), what.c_str());
  Fail(res, 500, "internal error");
}

// httplib's server for what it does well: parsing a request, routing it and
// writing the answer. It never sees a socket: the front end owns them and
// hands it complete requests.
class ApiServer : public httplib::Server {
 public:
  // Serves the one request `stream` holds (see http::FrontEnd::Serve).
  bool Serve(httplib::Stream& stream, bool close_connection, bool* connection_closed) {
    bool closed = false;
    // The front end has answered "100 Continue" already, when it was asked.
    const bool ok = process_request(stream, close_connection, closed,
                                    [](httplib::Request& req) { req.headers.erase("Expect"); });
    *connection_closed = closed;
    return ok;
  }
  // The library takes an invalid listening socket for a server shutting
  // down, and then ends the answers it streams: it holds the front end's
  // socket while that serves (and never uses it).
  void SetListener(int fd) { svr_sock_ = fd; }
};

}  // namespace

struct OperatorApi::Impl {
  OperatorApiOptions options;
  std::unique_ptr<ApiServer> server;
  http::FrontEnd frontEnd;
  bool running = false;
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
      if (TRK1_On(&axohttp_unit, TRK1_ERROR)) {
        TRK1_Printf(&axohttp_unit, __LINE__, "AXO0105W Refused %s %s from %s: no valid token",
                    req.method.c_str(), req.path.c_str(), req.remote_addr.c_str());
      }
    }
    return ok;
  }

  // Wraps a handler that changes something: it runs only with the token.
  httplib::Server::Handler Guarded(void (*handler)(const httplib::Request&, httplib::Response&)) {
    return [this, handler](const httplib::Request& req, httplib::Response& res) {
      if (Authorized(req, res)) handler(req, res);
    };
  }

  void Routes() {
    using httplib::Request;
    using httplib::Response;
    ApiServer& s = *server;
    s.Get("/healthz", Health);
    s.Get("/api/v1/agent", [](const Request&, Response& res) {
      Reply(res, 200, answer::AgentJson(AXO_GetIdentity(), AXO_ListSubnodes()));
    });
    s.Get("/api/v1/subnodes", [](const Request&, Response& res) {
      Reply(res, 200, Json{{"subnodes", answer::SubnodesJson(AXO_ListSubnodes())}});
    });
    s.Get("/api/v1/tables", Limited([](const Request&, Response& res) {
            Reply(res, 200, answer::TablesJson(listTables()));
          }));
    s.Get(R"(/api/v1/tables/([A-Za-z0-9_]{1,32}))", Limited(QueryTable));
    s.Get(R"(/api/v1/history/([A-Za-z0-9_]{1,32}))", Limited(QueryHistory));
    s.Post("/api/v1/actions", Limited(Guarded(Action)));
    s.Post("/api/v1/manager", Guarded(Manager));
    s.Get("/api/v1/situations", [](const Request&, Response& res) {
      Reply(res, 200, answer::SituationsJson(listSituations()));
    });
    s.Post("/api/v1/situations", Limited(Guarded(CreateSituation)));
    s.Delete(R"(/api/v1/situations/([^/]{1,64}))", Limited(Guarded(DeleteSituation)));
    s.Get("/api/v1/events", Events);
    s.Get("/metrics", Limited(Metrics));
    ui::AddRoutes(s);
    s.set_logger(CountRequest);
  }
};

OperatorApi::OperatorApi() : impl_(new Impl) {}

OperatorApi::~OperatorApi() { Stop(); }

bool OperatorApi::Start(const OperatorApiOptions& options, std::string* error) {
  if (impl_->running) {
    *error = "the operator API is already running";
    return false;
  }
  impl_->options = options;
  impl_->server = std::make_unique<ApiServer>();
  ApiServer& s = *impl_->server;
  s.set_payload_max_length(options.maxBodyBytes);
  // Only for the Keep-Alive field of the answers: the front end keeps time.
  s.set_keep_alive_max_count(http::kMaxRequestsPerConnection);
  s.set_keep_alive_timeout(std::chrono::ceil<std::chrono::seconds>(options.idleTimeout).count());
  s.set_error_handler(httplib::Server::HandlerWithResponse(DefaultError));
  s.set_exception_handler(InternalError);
  impl_->Routes();
  http::FrontEnd& front = impl_->frontEnd;
  if (!front.Listen(options, error)) return false;
  s.SetListener(front.listener());
  auto serve = [&s](httplib::Stream& stream, bool close_connection, bool* connection_closed) {
    return s.Serve(stream, close_connection, connection_closed);
  };
  // The front end's own answers are counted like every other.
  auto refused = [](const std::string& method, const std::string& path, int status) {
    httplib::Request req;
    req.method = method;
    req.path = path;
    httplib::Response res;
    res.status = status;
    CountRequest(req, res);
  };
  if (!front.Run(serve, refused, error)) return false;
  impl_->port = front.port();
  impl_->running = true;
  TRK1_Printf(&axohttp_unit, __LINE__, "AXO0101I Operator API listening on http://%s:%d%s",
              options.host.c_str(), impl_->port, options.token.empty() ? "" : " (token required)");
  if (options.token.empty() && !IsLoopback(options.host)) {
    TRK1_Printf(&axohttp_unit, __LINE__,
                "AXO0110W Operator API on %s listens beyond loopback without a token "
                "(--token-file): anyone who reaches the address can use it",
                options.host.c_str());
  }
  return true;
}

void OperatorApi::Stop() {
  if (!impl_->running) return;
  impl_->frontEnd.Stop();
  impl_->server->SetListener(INVALID_SOCKET);
  impl_->running = false;
  impl_->port = 0;
}

int OperatorApi::port() const { return impl_->port; }

}  // namespace axo
