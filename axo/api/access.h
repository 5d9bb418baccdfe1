// Who may do what on the operator API, decided for each request before its
// handler runs and before its body matters. Framework-internal.
//
// In order:
//  1. The Host header must name the agent, or the request is misdirected
//     (421, and the answer tells nothing): the address the connection
//     arrived on with its port; on loopback also "localhost", "127.0.0.1"
//     and "[::1]" with that port; and the names of --allowed-hosts (with
//     any port, or the one given). A request without Host (no browser
//     sends one) passes. This is what keeps a DNS-rebinding page from
//     reading anything.
//  2. A route that changes state (the route table says so) is refused
//     (403), token or not, when its Origin header is present and not the
//     agent's own (the Host's authority), or its Sec-Fetch-Site is
//     "cross-site": a page of another site can make a browser send such a
//     request, never read it. It then needs the bearer token in the
//     Authorization header (401); with no token configured it is refused
//     (403) unless --allow-unauthenticated-changes opens it to whoever
//     passes step 3.
//  3. Every other route (reads) needs, when the web configuration has
//     users, a user's basic credentials or the bearer token (401 with a
//     Basic challenge, which makes a browser ask for the user). Credentials
//     not verified before that find every password check slot taken are
//     turned away unhashed (429 with Retry-After).
// (Client certificates are checked by the TLS handshake, before any
// request.) No Access-Control-Allow-* header is ever sent.
#ifndef AXO_API_ACCESS_H_
#define AXO_API_ACCESS_H_

#include <httplib.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "axo/api/routes.h"
#include "axo/http/web_config.h"
#include "axo/metrics/metrics.h"

namespace axo::http {
class CheckSlots;
}  // namespace axo::http

namespace axo::api {

struct AccessPolicy {
  std::string token;  // the bearer token; empty: none configured
  bool allowUnauthenticatedChanges = false;
  // --allowed-hosts: a name (lower case; an IP address in its canonical
  // form) and its port, 0 for any.
  std::vector<std::pair<std::string, int>> allowedHosts;
  // The password checks that may hash at once (never null).
  std::shared_ptr<http::CheckSlots> passwordChecks;
};

// Parses an --allowed-hosts value (checked when the options were read).
std::vector<std::pair<std::string, int>> ParseAllowedHosts(const std::string& list);

// Requests turned away by the bound on password checks (defined, at 0,
// on the first call).
metrics::Counter& PasswordChecksRefused();

// Decides whether `req`, which reaches `route` (null: none), may go on
// under `policy` and the web configuration `web`. When not, writes the
// refusal to `res`, traces it, and returns false. Thread-safe.
bool Admit(const httplib::Request& req, const Route* route, const AccessPolicy& policy,
           const http::ActiveWebConfig& web, httplib::Response& res);

}  // namespace axo::api

#endif  // AXO_API_ACCESS_H_
