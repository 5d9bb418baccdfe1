// The operator API of the agent framework: HTTP/1.1 with JSON bodies on a
// loopback address, over the in-process request API (axo/requests/request.h).
//
// The routes are the entries of one table, Routes() in axo/api/routes.h.
//
// Who may do what is decided before any handler (axo/api/access.h): 421
// for a Host that does not name the agent, 403 for a change sent by
// another site's page or made with no token configured, 401 without the
// bearer token or a user's credentials. Bad input answers 400
// {"error": ...}, an unknown table or situation 404, a body over the cap 413, and every internal
// failure (a table or the agent that cannot serve the request, a handler that throws) 500. Requests
// that exceed the front end's limits (axo/http/http_server.h) are refused before they are read
// whole: 408, 413, 414, 415, 431. Complete requests are served on a bounded pool of framework
// threads; no request can leave a lock held.
#ifndef AXO_API_HTTP_API_H_
#define AXO_API_HTTP_API_H_

#include <memory>
#include <string>

#include "axo/base/status.h"
#include "axo/http/front_end_options.h"

namespace axo::api {

// The front end's options (address, port, body limit, workers, deadlines,
// shares: axo/http/front_end_options.h; port 0 picks a free one, see
// OperatorApi::port) and those of the API itself.
struct OperatorApiOptions : http::FrontEndOptions {
  std::string token;  // the bearer token changes need; empty: changes are refused
  // ... unless this is set: then they are open (demos and tests only).
  bool allowUnauthenticatedChanges = false;
  // --allowed-hosts: names a request's Host may give (axo/api/access.h).
  std::string allowedHosts;
  // The web configuration file (axo/http/web_config.h); empty: plain HTTP
  // and open reads.
  std::string webConfig;
  // Password checks (bcrypt runs, some 70 ms at cost 10) at once; a request
  // whose credentials were not verified before and find none free is
  // answered 429 unhashed. Below `threads`, so that a password flood leaves
  // workers to everyone else.
  int maxPasswordChecks = 2;
};

// One HTTP listener. Start and Stop are called from one thread at a time;
// the handlers run on the listener's own pool. Not copyable.
class OperatorApi {
 public:
  OperatorApi();
  ~OperatorApi();  // stops the listener
  OperatorApi(const OperatorApi&) = delete;
  OperatorApi& operator=(const OperatorApi&) = delete;

  // Binds and starts serving on a thread of its own. Returns ok when
  // listening, kFailed when the address is in use or not available, and
  // the reason when the web configuration does not load. A listener beyond
  // loopback without a token is traced (AXO0110W).
  Status Start(const OperatorApiOptions& options);
  // Stops serving and joins the threads. Safe to call when not started.
  void Stop();
  // The bound port (the real one when 0 was asked), 0 when not listening.
  int port() const;
  // Reads the web configuration again if it or a file it names changed
  // (as its watch does once a second). Thread-safe.
  void RefreshWebConfig();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace axo::api

#endif  // AXO_API_HTTP_API_H_
