// The operator API's admission of a request: Host, Origin, credentials.
#include "axo/api/access.h"

#include <arpa/inet.h>

#include <algorithm>

#include "axo/api/http_answer.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/http/basic_auth.h"
#include "axo/http/constant_time.h"
#include "axo/metrics/metrics.h"

TRK1_UNIT(axoaccess_unit, "AXOHTTP");

namespace axo::api {
namespace {

// `name` as compared: lower case; an IP address in its canonical text (an
// IPv4 address mapped into IPv6 as the IPv4 address).
std::string Canonical(const std::string& name) {
  unsigned char bytes[sizeof(in6_addr)];
  char text[INET6_ADDRSTRLEN];  // bounded by inet_ntop
  if (inet_pton(AF_INET6, name.c_str(), bytes) == 1) {
    const auto* v6 = reinterpret_cast<const in6_addr*>(bytes);
    if (IN6_IS_ADDR_V4MAPPED(v6)) return inet_ntop(AF_INET, bytes + 12, text, sizeof(text));
    return inet_ntop(AF_INET6, bytes, text, sizeof(text));
  }
  return axo_internal::Lower(name);
}

bool IsLoopback(const std::string& canonical) {
  in_addr v4;
  return canonical == "::1" ||
         (inet_pton(AF_INET, canonical.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127);
}

// The name and port of an authority, a missing port being `default_port`;
// false when it is not one.
bool Authority(const std::string& text, int default_port, std::string* name, int* port) {
  if (!axo_internal::SplitAuthority(text, name, port)) return false;
  *name = Canonical(*name);
  if (*port == 0) *port = default_port;
  return true;
}

bool HostNamesAgent(const httplib::Request& req, const AccessPolicy& policy) {
  if (!req.has_header("Host")) return true;
  std::string name;
  int port = 0;
  if (!Authority(req.get_header_value("Host"), req.ssl ? 443 : 80, &name, &port)) return false;
  for (const auto& [allowed, allowed_port] : policy.allowedHosts) {
    if (name == allowed && (allowed_port == 0 || allowed_port == port)) return true;
  }
  if (port != req.local_port) return false;
  const std::string local = Canonical(req.local_addr);
  return name == local ||
         (IsLoopback(local) && (name == "localhost" || name == "127.0.0.1" || name == "::1"));
}

// The Origin and Sec-Fetch-Site rule of a change: false when another site's
// page sent it.
bool SameSite(const httplib::Request& req) {
  if (req.get_header_value("Sec-Fetch-Site") == "cross-site") return false;
  if (!req.has_header("Origin")) return true;
  const std::string origin = req.get_header_value("Origin");
  const size_t sep = origin.find("://");
  const std::string scheme = sep == std::string::npos ? "" : origin.substr(0, sep);
  std::string origin_name, host_name;
  int origin_port = 0, host_port = 0;
  // The authority decides: behind a proxy the scheme may differ.
  return (scheme == "http" || scheme == "https") && req.has_header("Host") &&
         Authority(origin.substr(sep + 3), scheme == "https" ? 443 : 80, &origin_name,
                   &origin_port) &&
         Authority(req.get_header_value("Host"), req.ssl ? 443 : 80, &host_name, &host_port) &&
         origin_name == host_name && origin_port == host_port;
}

bool HasToken(const httplib::Request& req, const AccessPolicy& policy) {
  static const std::string kPrefix = "Bearer ";
  const std::string header = req.get_header_value("Authorization");
  return !policy.token.empty() && header.compare(0, kPrefix.size(), kPrefix) == 0 &&
         http::ConstantTimeEquals(header.substr(kPrefix.size()), policy.token);
}

bool Refuse(const httplib::Request& req, httplib::Response& res, int status,
            const std::string& answer, const std::string& why) {
  Fail(res, status, answer);
  if (TRK1_On(&axoaccess_unit, TRK1_ERROR)) {
    // Counted in zep_api_requests_total; traced at most a few a second.
    TRK1_PrintfLimited(&axoaccess_unit, __LINE__, "AXO0105W Refused %s %s from %s: %s",
                       req.method.c_str(), req.path.c_str(), req.remote_addr.c_str(), why.c_str());
  }
  return false;
}

// Step 3: the basic credentials of a user, or the token, when the web
// configuration has users.
bool ReadAllowed(const httplib::Request& req, const AccessPolicy& policy,
                 const http::ActiveWebConfig& web, httplib::Response& res) {
  if (web.users->empty() || HasToken(req, policy)) return true;
  std::string user;
  const char* why = "";
  switch (web.users->Check(req.get_header_value("Authorization"), *policy.passwordChecks, &user)) {
    case http::BasicAuth::Verdict::kAccepted:
      return true;
    case http::BasicAuth::Verdict::kBusy:
      // Counted, not traced: a flood would fill the trace.
      PasswordChecksRefused().Inc();
      res.set_header("Retry-After", "1");
      Fail(res, 429, "too many password checks at once: retry in a second");
      return false;
    case http::BasicAuth::Verdict::kNoCredentials:
      why = "no user's credentials";
      break;
    case http::BasicAuth::Verdict::kUnknownUser:
      why = "unknown user";
      break;
    case http::BasicAuth::Verdict::kWrongPassword:
      why = "wrong password";
      break;
  }
  res.set_header("WWW-Authenticate", "Basic realm=\"zepagent\", charset=\"UTF-8\"");
  return Refuse(req, res, 401, "missing or wrong user credentials",
                std::string(why) + (user.empty() ? "" : " " + axo_internal::ValidUtf8(user)));
}

}  // namespace

metrics::Counter& PasswordChecksRefused() {
  AXO_COUNTER(refused, "zep_api_password_checks_refused_total",
              "Requests turned away unhashed (429) because every password check slot "
              "(--max-password-checks) was taken.");
  return refused;
}

std::vector<std::pair<std::string, int>> ParseAllowedHosts(const std::string& list) {
  std::vector<std::pair<std::string, int>> out;
  for (size_t start = 0; start <= list.size() && !list.empty();) {
    const size_t comma = std::min(list.find(',', start), list.size());
    std::string name;
    int port = 0;
    if (axo_internal::SplitAuthority(list.substr(start, comma - start), &name, &port)) {
      out.emplace_back(Canonical(name), port);
    }
    start = comma + 1;
  }
  return out;
}

bool Admit(const httplib::Request& req, const Route* route, const AccessPolicy& policy,
           const http::ActiveWebConfig& web, httplib::Response& res) {
  if (!HostNamesAgent(req, policy)) {
    return Refuse(req, res, 421, "misdirected request",
                  "Host " + axo_internal::ValidUtf8(req.get_header_value("Host")) +
                      " does not name this agent (--allowed-hosts adds names)");
  }
  if (route == nullptr || !route->changes) return ReadAllowed(req, policy, web, res);
  if (!SameSite(req)) {
    return Refuse(req, res, 403, "cross-origin request refused",
                  "a change sent by another site's page (Origin " +
                      axo_internal::ValidUtf8(req.get_header_value("Origin")) +
                      ", Sec-Fetch-Site " +
                      axo_internal::ValidUtf8(req.get_header_value("Sec-Fetch-Site")) + ")");
  }
  if (policy.token.empty()) {
    if (policy.allowUnauthenticatedChanges) return ReadAllowed(req, policy, web, res);
    return Refuse(req, res, 403,
                  "changes are refused: the agent has no operator token (--token-file)",
                  "no operator token is configured");
  }
  if (HasToken(req, policy)) return true;
  res.set_header("WWW-Authenticate", "Bearer");
  return Refuse(req, res, 401, "missing or wrong bearer token", "no valid token");
}

}  // namespace axo::api
