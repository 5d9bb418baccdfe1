// Answer encoding of the operator API: JSON bodies, the row writer, CSV,
// and the streaming of table answers.
#include "axo/api/http_answer.h"

#include <charconv>
#include <cstdint>
#include <ctime>
#include <exception>
#include <memory>

#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/http/http_server.h"
#include "axo/tables/catalog.h"
#include "axo/tables/vexor.h"

TRK1_UNIT(axoanswer_unit, "AXOHTTP");

namespace axo::api {
namespace {

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

const char* ColumnTypeName(int type) {
  switch (type) {
    case COLUMN_TYPE_TEXT:
      return "text";
    case COLUMN_TYPE_SHORT:
      return "int16";
    case COLUMN_TYPE_LONG:
      return "int32";
  }
  return "unknown";
}

// Appends `row` as one CSV line (defined below).
void AppendRowCsv(const Row& row, std::string* out);

// The text of a query answer, produced piece by piece from a row source:
// JSON {"table":...,"count":N,"rows":[...]}, or CSV lines after `head`.
// Each piece holds the following rows, at least one, until it reaches
// `limit` bytes. One row buffer is reused, so memory stays that of a piece.
class RowsAnswer {
 public:
  RowsAnswer(std::string head, RowSource source, bool csv)
      : head_(std::move(head)), source_(std::move(source)), csv_(csv) {}

  // Appends the next piece to `*out`. Returns true when that piece ends the
  // document; later calls append nothing.
  bool Next(size_t limit, std::string* out) {
    if (done_) return true;
    const size_t start = out->size();
    if (!started_) out->append(head_);
    started_ = true;
    while (out->size() - start < limit) {
      if (!source_(&row_)) {
        done_ = true;
        break;
      }
      if (csv_) {
        AppendRowCsv(row_, out);
      } else {
        if (any_) out->push_back(',');
        AppendRowJson(row_, out);
      }
      any_ = true;
    }
    if (done_ && !csv_) out->append("]}\n");
    return done_;
  }

 private:
  const std::string head_;
  RowSource source_;
  const bool csv_;
  Row row_;
  bool any_ = false;
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

void AppendRowCsv(const Row& row, std::string* out) {
  for (size_t i = 0; i < row.size(); ++i) {
    const Value& v = row[i].second;
    if (i != 0) out->push_back(',');
    out->append(v.isText ? CsvField(v.text) : std::to_string(v.number));
  }
  out->push_back('\n');
}

// The CSV header line: the attributes of `first`, or the table's columns
// when there is no row.
std::string CsvHeader(const std::string& table, const Row* first) {
  std::vector<std::string> header;
  if (first != nullptr) {
    for (const auto& column : *first) header.push_back(column.first);
  } else {
    TableDescription d;
    if (describeTable(table, &d).ok()) {
      for (const auto& c : d.columns) header.push_back(c.attribute);
    }
  }
  std::string out;
  for (size_t i = 0; i < header.size(); ++i) out += (i ? "," : "") + header[i];
  return out + "\n";
}

// JSON answers go out uncompressed (http::kJsonType): the listener compresses the
// types it knows ("application/json" exactly) with brotli at its highest
// quality when a browser offers it, which costs seconds of the agent's
// processor time per megabyte of table answer. With the charset parameter it
// leaves them alone.

// Sends `answer` as it is encoded, a piece at a time, so that its text
// never exists whole: in chunks, or to an HTTP/1.0 client (which cannot
// read chunks) ended by the end of the connection.
void SendAnswer(const httplib::Request& req, httplib::Response& res,
                std::shared_ptr<RowsAnswer> answer, const char* type) {
  res.status = 200;
  auto provider = [answer, path = req.path](size_t, httplib::DataSink& sink) {
    constexpr size_t kPieceBytes = 256 * 1024;
    // The provider runs after the handler, outside the listener's
    // exception handler, and the status line has gone out: a failure
    // here can only cut the answer off, never end the process.
    try {
      std::string piece;
      piece.reserve(kPieceBytes + 4096);
      const bool complete = answer->Next(kPieceBytes, &piece);
      if (!sink.write(piece.data(), piece.size())) return false;
      if (complete) sink.done();
      return true;
    } catch (const std::exception& e) {
      TRK1_Printf(&axoanswer_unit, __LINE__, "AXO0107E Answer to GET %s cut off: %s", path.c_str(),
                  e.what());
      return false;
    }
  };
  if (req.version == "HTTP/1.0") {
    res.set_content_provider(type, std::move(provider));
  } else {
    res.set_chunked_content_provider(type, std::move(provider));
  }
}

std::string JsonHead(const std::string& table, size_t count) {
  return "{\"table\":" + Dump(Json(table)) + ",\"count\":" + std::to_string(count) + ",\"rows\":[";
}

}  // namespace

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

void Reply(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(Dump(body) + "\n", http::kJsonType);
}

void Fail(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(http::ErrorBody(message), http::kJsonType);
}

void Fail(httplib::Response& res, const Status& status) {
  // kFailed (the table or the agent could not serve the request) is an
  // internal failure; kUnavailable (the agent's data stayed locked past the
  // wait limit) a temporary one.
  int code = 500;
  switch (status.code()) {
    case kOk:
      code = 200;
      break;
    case kBadRequest:
      code = 400;
      break;
    case kNotFound:
      code = 404;
      break;
    case kConflict:
      code = 409;
      break;
    case kFailed:
      code = 500;
      break;
    case kUnavailable:
      code = 503;
      break;
    case kTooMany:
      code = 429;
      break;
  }
  Fail(res, code, status.message());
}

Json AgentJson(const AXO_Identity& id, const std::vector<AXO_SubnodeInfo>& subnodes) {
  return Json{{"product", id.product},
              {"version", id.version},
              {"subsystem", id.subsystem},
              {"nodeType", id.nodeType},
              {"hostname", id.hostname},
              {"originnode", std::string(axo_internal::TrimBlanks(id.originnode))},
              {"affinities", id.affinities},
              {"startTime", static_cast<int64_t>(id.startTime)},
              {"started", axo_internal::Rfc3339(id.startTime)},
              {"subnodes", SubnodesJson(subnodes)}};
}

Json SubnodesJson(const std::vector<AXO_SubnodeInfo>& subnodes) {
  Json list = Json::array();
  for (const AXO_SubnodeInfo& s : subnodes) {
    list.push_back(Json{{"name", std::string(axo_internal::TrimBlanks(s.name))},
                        {"product", s.product},
                        {"version", s.version}});
  }
  return list;
}

Json TablesJson(const std::vector<TableDescription>& tables) {
  Json list = Json::array();
  for (const TableDescription& d : tables) {
    Json columns = Json::array();
    for (const ColumnDescription& c : d.columns) {
      columns.push_back(Json{{"attribute", c.attribute},
                             {"name", c.name},
                             {"type", ColumnTypeName(c.type)},
                             {"width", c.width},
                             {"offset", c.offset}});
    }
    list.push_back(Json{{"application", d.application}, {"table", d.table}, {"columns", columns}});
  }
  return Json{{"tables", list}};
}

Json SituationJson(const SituationInfo& s) {
  Json conditions = Json::array();
  for (const FilterTerm& t : s.terms) {
    Json c{{"attribute", t.attribute}, {"op", t.op}, {"value", t.value}};
    if (t.orWithPrevious) c["or"] = true;
    conditions.push_back(c);
  }
  return Json{
      {"name", s.name},
      {"table", s.table},
      {"interval", s.interval},
      {"state", s.raised ? "raised" : "cleared"},
      {"lastChange", s.lastChange == 0 ? Json(nullptr) : Json(static_cast<int64_t>(s.lastChange))},
      {"conditions", conditions}};
}

Json SituationsJson(const std::vector<SituationInfo>& situations) {
  Json list = Json::array();
  for (const SituationInfo& s : situations) list.push_back(SituationJson(s));
  return Json{{"situations", list}};
}

Json EventsJson(const std::vector<Event>& events) {
  Json list = Json::array();
  for (const Event& e : events) {
    list.push_back(Json{{"id", e.id},
                        {"time", static_cast<int64_t>(e.time)},
                        {"situation", e.situation},
                        {"state", e.raised ? "raised" : "cleared"},
                        {"row", RowJson(e.row)}});
  }
  return Json{{"events", list}};
}

void AnswerRowSource(const httplib::Request& req, httplib::Response& res, const std::string& table,
                     size_t count, RowSource source, bool csv) {
  if (!csv) {
    SendAnswer(req, res,
               std::make_shared<RowsAnswer>(JsonHead(table, count), std::move(source), false),
               http::kJsonType);
    return;
  }
  // The header names the first row's attributes: that row is read now and
  // handed out again first.
  auto first = std::make_shared<Row>();
  const bool any = source(first.get());
  std::string head = CsvHeader(table, any ? first.get() : nullptr);
  RowSource again = [first, any, pending = any, source = std::move(source)](Row* row) mutable {
    if (pending) {
      pending = false;
      row->swap(*first);
      return true;
    }
    return any && source(row);
  };
  SendAnswer(req, res, std::make_shared<RowsAnswer>(std::move(head), std::move(again), true),
             "text/csv");
}

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

}  // namespace axo::api
