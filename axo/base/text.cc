// Text and number helpers shared by every part of the framework.
#include "axo/base/text.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <nlohmann/json.hpp>
#include <system_error>

namespace axo_internal {

std::string ValidUtf8(std::string_view text) {
  using Json = nlohmann::json;
  // The dump replaces what is not UTF-8; reading it back undoes its escapes.
  const std::string dumped =
      Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
  const Json back = Json::parse(dumped, nullptr, false);
  return back.is_string() ? back.get<std::string>() : std::string();
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string_view TrimBlanks(std::string_view text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::string_view TrimSpace(std::string_view text) {
  auto space = [](char c) { return isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

bool ParseInteger(std::string_view text, long long low, long long high, long long* out, int base) {
  long long v = 0;
  const char* end = text.data() + text.size();
  std::from_chars_result r = std::from_chars(text.data(), end, v, base);
  if (text.empty() || r.ec != std::errc() || r.ptr != end || v < low || v > high) return false;
  *out = v;
  return true;
}

bool CopyBounded(char* dst, size_t size, std::string_view src) {
  size_t n = src.size() < size ? src.size() : size - 1;
  if (n > 0) memcpy(dst, src.data(), n);
  dst[n] = '\0';
  return n == src.size();
}

std::string UtcTime(time_t t, const char* format) {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[64];
  return strftime(buf, sizeof(buf), format, &tm) == 0 ? std::string() : std::string(buf);
}

bool SplitAuthority(std::string_view authority, std::string* host, int* port) {
  std::string_view name = authority, digits;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    name = authority.substr(1, close - 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && (after[0] != ':' || after.size() == 1)) return false;
    if (!after.empty()) digits = after.substr(1);
  } else if (const size_t colon = authority.find(':'); colon != std::string_view::npos) {
    name = authority.substr(0, colon);
    digits = authority.substr(colon + 1);
    if (digits.empty()) return false;
  }
  long long n = 0;
  if (name.empty() || name.find_first_of(" \t\r\n/@?#[]") != std::string_view::npos ||
      (!digits.empty() && !ParseInteger(digits, 1, 65535, &n))) {
    return false;
  }
  *host = name;
  *port = static_cast<int>(n);
  return true;
}

axo::Status CheckHttpUrl(const std::string& url, const char* what, std::string* base,
                         std::string* path) {
  const size_t sep = url.find("://");
  const std::string scheme = sep == std::string::npos ? "" : url.substr(0, sep);
  if (scheme != "http" && scheme != "https") {
    return axo::Status::BadRequest(std::string(what) + " starts with http:// or https://: " + url);
  }
  const std::string rest = url.substr(sep + 3);
  if (rest.find_first_of("?#@ \t\r\n") != std::string::npos) {
    return axo::Status::BadRequest(std::string(what) +
                                   " has no user, query, fragment or blank: " + url);
  }
  const std::string authority = rest.substr(0, rest.find('/'));
  std::string host;
  int port = 0;
  if (!SplitAuthority(authority, &host, &port)) {
    return axo::Status::BadRequest(std::string(what) + " is http://HOST[:PORT][/PATH]: " + url);
  }
  if (base != nullptr) *base = scheme + "://" + authority;
  if (path != nullptr) {
    *path = rest.substr(authority.size());
    while (!path->empty() && path->back() == '/') path->pop_back();
  }
  return axo::Status::OK();
}

std::string Rfc3339(time_t t) { return UtcTime(t, "%Y-%m-%dT%H:%M:%SZ"); }

}  // namespace axo_internal
