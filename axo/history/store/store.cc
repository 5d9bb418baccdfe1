// The helpers both history stores use: time stamps, quoting, the SELECT
// of a history query and the rows it answers.
#include "axo/history/store/store.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "axo/base/text.h"

namespace axo {

std::string HistoryStamp(time_t t) {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  snprintf(buf, sizeof(buf), "%d%02d%02d%02d%02d%02d%02d000", tm.tm_year >= 100 ? 1 : 0,
           tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

bool ParseHistoryStamp(const std::string& stamp, time_t* t, int* millis) {
  if (stamp.size() != 16) return false;
  for (char c : stamp) {
    if (c < '0' || c > '9') return false;
  }
  auto num = [&](size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) v = v * 10 + (stamp[i] - '0');
    return v;
  };
  struct tm tm = {};
  tm.tm_year = num(0, 1) * 100 + num(1, 2);
  tm.tm_mon = num(3, 2) - 1;
  tm.tm_mday = num(5, 2);
  tm.tm_hour = num(7, 2);
  tm.tm_min = num(9, 2);
  tm.tm_sec = num(11, 2);
  if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 60) {
    return false;
  }
  *t = timegm(&tm);
  *millis = num(13, 3);
  return true;
}

std::string QuoteName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool IsPostgresLocation(const std::string& location) {
  if (location.starts_with("postgresql://") || location.starts_with("postgres://")) return true;
  // Keyword/value: a keyword of letters and '_', then '=' (blanks may
  // surround it). A file name holding '=' is given with a '/' (./a=b.db).
  std::string_view text = axo_internal::TrimSpace(location);
  size_t i = 0;
  while (i < text.size() && (isalpha(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
  if (i == 0) return false;
  while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i < text.size() && text[i] == '=';
}

namespace {

// Where each password value of `text` lies: [begin, end) offsets.
std::vector<std::pair<size_t, size_t>> PasswordSpans(const std::string& text) {
  std::vector<std::pair<size_t, size_t>> spans;
  // A URI's user:PASSWORD@host: the userinfo ends at the last '@' before
  // the path, the query or a blank.
  for (size_t at = text.find("://"); at != std::string::npos; at = text.find("://", at + 3)) {
    const size_t begin = at + 3;
    const size_t end = std::min(text.find_first_of("/? \t\n", begin), text.size());
    const size_t sign = text.rfind('@', end == 0 ? 0 : end - 1);
    if (sign == std::string::npos || sign < begin) continue;
    const size_t colon = text.find(':', begin);
    if (colon < sign) spans.emplace_back(colon + 1, sign);
  }
  // password=VALUE: a URI's query parameter (after '?' or '&', up to the
  // next '&') or a keyword/value pair (a blank before it; a value in
  // quotes ends at the closing quote, one without at a blank).
  for (size_t at = text.find("password"); at != std::string::npos;
       at = text.find("password", at + 8)) {
    const char before = at == 0 ? ' ' : text[at - 1];
    const bool query = before == '?' || before == '&';
    if (!query && !isspace(static_cast<unsigned char>(before))) continue;
    size_t i = at + 8;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size() || text[i] != '=') continue;
    ++i;
    while (!query && i < text.size() && text[i] == ' ') ++i;
    size_t end = i;
    if (!query && i < text.size() && text[i] == '\'') {
      for (end = i + 1; end < text.size() && text[end] != '\''; ++end) {
        if (text[end] == '\\') ++end;
      }
      end = std::min(end + 1, text.size());
    } else {
      while (end < text.size() && !isspace(static_cast<unsigned char>(text[end])) &&
             !(query && text[end] == '&')) {
        ++end;
      }
    }
    if (end > i) spans.emplace_back(i, end);
  }
  return spans;
}

}  // namespace

std::string MaskPasswords(const std::string& text, const std::string& location) {
  std::vector<std::pair<size_t, size_t>> spans = PasswordSpans(text);
  std::sort(spans.begin(), spans.end());
  std::string out;
  size_t done = 0;
  for (const auto& [begin, end] : spans) {
    if (begin < done) continue;
    out.append(text, done, begin - done).append("***");
    done = end;
  }
  out.append(text, done, std::string::npos);
  // A message may quote a password without its keyword (a bad token).
  for (const auto& [begin, end] : PasswordSpans(location)) {
    std::string secret = location.substr(begin, end - begin);
    if (secret.size() < 3 || secret == "***") continue;
    for (size_t at = out.find(secret); at != std::string::npos; at = out.find(secret, at + 3)) {
      out.replace(at, secret.size(), "***");
    }
  }
  return out;
}

int WriteTimeoutSeconds(const HistoryOptions& options) {
  if (options.writeTimeoutSeconds > 0) return options.writeTimeoutSeconds;
  return std::clamp(options.intervalSeconds, 10, 60);
}

std::map<std::string, std::vector<std::string>> DefaultHistoryKeys() {
  return {{"ZEPSMT", {}}, {"ZEPFLCT", {}}, {"ZEPINV", {"ORIGINNODE", "SVCOPERTYP", "INTBEGTIME"}}};
}

std::map<std::string, std::string> DefaultHistoryTimeColumns() {
  return {{"ZEPSMT", "MSGTIME"}, {"ZEPFLCT", "MSGTIME"}, {"ZEPINV", "INTBEGTIME"}};
}

std::string HistoryTimeColumn(const HistoryOptions& options, const std::string& table) {
  auto found = options.timeColumns.find(table);
  return found != options.timeColumns.end() ? found->second : "WRITETIME";
}

Status BuildHistorySelect(const HistoryQuery& query, const std::vector<HistoryColumn>& stored,
                          const std::string& timeColumn, const std::string& from,
                          const std::string& to, const std::string& placeholder,
                          HistorySelect* out) {
  if (stored.empty()) {
    return Status::BadRequest("no history of table " + query.table);
  }
  auto param = [&](const std::string& value) {
    out->params.push_back(value);
    return placeholder == "$" ? "$" + std::to_string(out->params.size()) : placeholder;
  };
  auto find = [&](const std::string& name) -> const HistoryColumn* {
    for (const HistoryColumn& c : stored) {
      if (c.name == name) return &c;
    }
    return nullptr;
  };
  out->columns = stored;
  std::string names;
  for (const HistoryColumn& c : stored) names += (names.empty() ? "" : ",") + QuoteName(c.name);
  // Each placeholder is made in its own statement: the operands of one
  // expression are evaluated in no fixed order.
  std::string where = timeColumn + " >= " + param(from);
  where += " AND " + timeColumn + " < " + param(to);
  if (!query.subnodes.empty()) {
    if (find("ORIGINNODE") == nullptr) {
      return Status::BadRequest("table " + query.table +
                                " has no ORIGINNODE to select subnodes by");
    }
    std::string any;
    for (const std::string& s : query.subnodes) {
      std::string name(axo_internal::TrimBlanks(s));
      std::string placeholder = param(name);
      any += (any.empty() ? "" : " OR ") + std::string("\"ORIGINNODE\" = ") + placeholder;
    }
    where += " AND (" + any + ")";
  }
  for (const FilterTerm& t : query.terms) {
    const HistoryColumn* c = find(t.attribute);
    if (c == nullptr) {
      return Status::BadRequest("table " + query.table + " has no attribute " + t.attribute);
    }
    long long ignored;
    if (c->integer && !axo_internal::ParseInteger(t.value, INT64_MIN, INT64_MAX, &ignored)) {
      return Status::BadRequest("attribute " + t.attribute + " holds integers, not '" + t.value +
                                "'");
    }
    // Both back ends read the framework's operators as they are written;
    // only one of those texts reaches the statement.
    _IntfOper code;
    if (!axo_internal::ParseOperator(t.op, &code)) {
      return Status::BadRequest("unknown operator " + t.op);
    }
    std::string placeholder = param(t.value);
    where += " AND " + QuoteName(c->name) + " " + t.op + " " + placeholder;
  }
  const std::string source = " FROM " + QuoteName(query.table) + " WHERE " + where;
  const std::string limit = " LIMIT " + std::to_string(query.limit + 1);
  out->sql = "SELECT " + names + source + " ORDER BY " + timeColumn + limit;
  out->countSql = "SELECT count(*) FROM (SELECT 1" + source + limit + ") AS matched";
  return Status::OK();
}

void FillHistoryRow(const std::vector<HistoryColumn>& columns,
                    const std::function<std::pair<const char*, size_t>(int)>& text, Row* row) {
  row->resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    auto& [name, value] = (*row)[i];
    name.assign(columns[i].name);
    auto [data, size] = text(static_cast<int>(i));
    value.isText = !columns[i].integer;
    if (value.isText) {
      value.text.assign(data != nullptr ? data : "", data != nullptr ? size : 0);
    } else {
      value.text.clear();
      value.number = data != nullptr ? strtoll(data, nullptr, 10) : 0;
    }
  }
}

Status CheckHistoryLimit(const HistoryQuery& query, size_t count) {
  if (count <= query.limit) return Status::OK();
  return Status::BadRequest("more than " + std::to_string(query.limit) +
                            " rows match: narrow the time range or the filters, or raise limit");
}

}  // namespace axo
