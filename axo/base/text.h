// Text and number helpers every part of the framework shares: case,
// trimming, strict integer parsing, bounded copies, UTF-8 repair and UTC
// times. Pure functions, thread-safe.
#ifndef AXO_BASE_TEXT_H_
#define AXO_BASE_TEXT_H_

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

#include "axo/base/status.h"

namespace axo_internal {

// `text` with the ASCII letters in upper case, or in lower case.
std::string Upper(std::string text);
std::string Lower(std::string text);

// `text` without the trailing blanks (' ') that pad fixed-width fields.
std::string_view TrimBlanks(std::string_view text);

// `text` without leading and trailing white space.
std::string_view TrimSpace(std::string_view text);

// Parses the whole of `text` as an integer in `base` (10 or 16): an optional
// '-' and digits, nothing else (no blanks, no '+'). Returns false, leaving
// `*out` alone, for anything else or a value outside [low, high].
bool ParseInteger(std::string_view text, long long low, long long high, long long* out,
                  int base = 10);

// `text` as valid UTF-8: every byte that is not part of a well-formed UTF-8
// sequence becomes U+FFFD, exactly as the JSON answers write it (one
// mechanism, the JSON library's, for every text the agent sends out).
std::string ValidUtf8(std::string_view text);

// Copies `src` into `dst[size]` (size > 0), cut to size-1 bytes and
// terminated. Returns false when it was cut.
bool CopyBounded(char* dst, size_t size, std::string_view src);

// Splits an authority, "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT", into
// the host (never empty; without the brackets) and the port (1 to 65535, or
// 0 when none is given). Returns false for anything else; a host holds no
// blank, '/', '@', '?' or '#'.
bool SplitAuthority(std::string_view authority, std::string* host, int* port);

// Checks an http:// or https:// URL: a host (an IPv6 host in brackets), an
// optional port, an optional path; no user, query, fragment or blank.
// Returns ok, with "scheme://authority" in `*base` and the path without a
// trailing '/' in `*path` (each unless null), or kBadRequest whose message
// names the URL as `what` ("an Alertmanager URL").
axo::Status CheckHttpUrl(const std::string& url, const char* what, std::string* base = nullptr,
                         std::string* path = nullptr);

// `t` in UTC through strftime's `format` (at most 63 characters of result).
std::string UtcTime(time_t t, const char* format);
// `t` as an RFC 3339 (ISO 8601) UTC time, "2026-12-07T05:00:00Z".
std::string Rfc3339(time_t t);

}  // namespace axo_internal

#endif  // AXO_BASE_TEXT_H_
