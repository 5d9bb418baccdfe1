// The operator API's parameters and bodies.
#include "axo/api/params.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "axo/base/text.h"
#include "axo/tables/catalog.h"

namespace axo::api {
namespace {

using Json = nlohmann::ordered_json;

// The values of `key`, in the order given.
std::vector<std::string> Values(const httplib::Params& params, const std::string& key) {
  std::vector<std::string> out;
  auto [begin, end] = params.equal_range(key);
  for (auto it = begin; it != end; ++it) out.push_back(it->second);
  return out;
}

// The first value of `key`, or null when it is not given.
const std::string* Value(const httplib::Params& params, const std::string& key) {
  auto it = params.lower_bound(key);
  return it == params.end() || it->first != key ? nullptr : &it->second;
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

// Parses a JSON object body.
Status JsonBody(const std::string& body, Json* out) {
  *out = Json::parse(body, nullptr, false);
  if (out->is_discarded() || !out->is_object()) {
    return Status::BadRequest("the body must be a JSON object");
  }
  return Status::OK();
}

}  // namespace

Status ParseWhere(const std::string& text, FilterTerm* term) {
  size_t i = 0;
  while (i < text.size() && (isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
  const axo_internal::OperatorName* op =
      i == 0 ? nullptr : axo_internal::OperatorAt(std::string_view(text).substr(i));
  if (op == nullptr) {
    return Status::BadRequest("bad where term '" + text +
                              "': expected ATTR<op>VALUE with op one of = != < <= > >=");
  }
  term->attribute = text.substr(0, i);
  term->op = op->text;
  term->value = text.substr(i + op->text.size());
  return Status::OK();
}

Status ParseTime(const std::string& text, time_t* out) {
  const Status bad = Status::BadRequest(
      "'" + text + "' (expected ISO 8601, e.g. 2026-03-28T13:46:09Z, or seconds since 1970)");
  long long seconds;
  if (axo_internal::ParseInteger(text, 0, 253402300799LL, &seconds)) {
    *out = static_cast<time_t>(seconds);
    return Status::OK();
  }
  struct tm tm = {};
  const char* rest = strptime(text.c_str(), "%Y-%m-%d", &tm);
  if (rest == nullptr || text.size() < 10) return bad;
  if (*rest == 'T' || *rest == ' ') {
    const char* time = strptime(rest + 1, "%H:%M", &tm);
    if (time == nullptr) return bad;
    rest = time;
    if (*rest == ':') {
      if ((rest = strptime(rest + 1, "%S", &tm)) == nullptr) return bad;
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
      return bad;
    }
    offset = (h * 3600L + m * 60L) * (*rest == '-' ? -1 : 1);
    rest += 6;
  }
  if (*rest != '\0') return bad;
  *out = timegm(&tm) - offset;
  return Status::OK();
}

Status ParseRowParams(const httplib::Params& params, std::vector<std::string>* subnodes,
                      std::vector<FilterTerm>* terms, bool* csv) {
  for (std::string& s : Values(params, "subnode")) subnodes->push_back(std::move(s));
  for (const std::string& w : Values(params, "where")) {
    FilterTerm t;
    if (Status s = ParseWhere(w, &t); !s.ok()) return s;
    terms->push_back(t);
  }
  const std::string* format = Value(params, "format");
  if (format != nullptr && *format != "json" && *format != "csv") {
    return Status::BadRequest("format must be json or csv");
  }
  *csv = format != nullptr && *format == "csv";
  return Status::OK();
}

Status ParseQuery(const std::string& table, const httplib::Params& params, Query* query,
                  bool* csv) {
  query->table = axo_internal::Upper(table);
  if (Status s = ParseRowParams(params, &query->subnodes, &query->terms, csv); !s.ok()) return s;
  const std::string* history = Value(params, "history");
  if (history != nullptr && !ParseFlag(*history, &query->history)) {
    return Status::BadRequest("history must be 0 or 1");
  }
  return Status::OK();
}

Status ParseHistoryQuery(const std::string& table, const httplib::Params& params, time_t now,
                         HistoryQuery* query, bool* csv) {
  query->table = axo_internal::Upper(table);
  if (Status s = ParseRowParams(params, &query->subnodes, &query->terms, csv); !s.ok()) return s;
  query->to = now + 1;
  for (const char* name : {"to", "from"}) {
    const std::string* text = Value(params, name);
    if (text == nullptr) continue;
    if (Status s = ParseTime(*text, name[0] == 't' ? &query->to : &query->from); !s.ok()) {
      return Status::BadRequest(std::string("bad time for ") + name + ": " + s.message());
    }
  }
  if (Value(params, "from") == nullptr) query->from = query->to - 86400;
  query->limit = kDefaultHistoryLimit;
  if (const std::string* limit = Value(params, "limit")) {
    long long n;
    if (!axo_internal::ParseInteger(*limit, 1, kMaxHistoryLimit, &n)) {
      return Status::BadRequest("limit must be a number from 1 to " +
                                std::to_string(kMaxHistoryLimit));
    }
    query->limit = static_cast<size_t>(n);
  }
  return Status::OK();
}

Status ParseSince(const httplib::Params& params, long long* since) {
  *since = 0;
  const std::string* text = Value(params, "since");
  if (text != nullptr && !axo_internal::ParseInteger(*text, 0, LLONG_MAX, since)) {
    return Status::BadRequest("since must be a non-negative integer");
  }
  return Status::OK();
}

Status ParseCommand(const std::string& body, const std::string& contentType, std::string* command) {
  *command = body;
  if (contentType.find("json") != std::string::npos || (!body.empty() && body.front() == '{')) {
    Json j;
    if (Status s = JsonBody(body, &j); !s.ok()) return s;
    auto it = j.find("command");
    if (it == j.end() || !it->is_string()) {
      return Status::BadRequest("the body needs a \"command\" text");
    }
    *command = it->get<std::string>();
  }
  while (!command->empty() && (command->back() == '\n' || command->back() == '\r')) {
    command->pop_back();
  }
  if (command->empty()) return Status::BadRequest("empty command");
  return Status::OK();
}

Status ParseManagerWords(const std::string& body, std::vector<std::string>* words) {
  Json j;
  if (Status s = JsonBody(body, &j); !s.ok()) return s;
  auto it = j.find("words");
  if (it == j.end() || !it->is_array() || it->empty() || it->size() > 16) {
    return Status::BadRequest("the body needs \"words\": 1 to 16 texts");
  }
  for (const Json& w : *it) {
    if (!w.is_string() || w.get<std::string>().size() > 256) {
      return Status::BadRequest("every word must be a text of at most 256 characters");
    }
    words->push_back(w.get<std::string>());
  }
  return Status::OK();
}

}  // namespace axo::api
