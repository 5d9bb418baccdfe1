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
// that exceed the front end's limits (axo/api/http_server.h) are refused before they are read
// whole: 408, 413, 414, 415, 431. Complete requests are served on a bounded pool of framework
// threads; no request can leave a lock held.
#ifndef AXO_API_HTTP_API_H_
#define AXO_API_HTTP_API_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "axo/base/status.h"
#include "axo/requests/request.h"

namespace axo {

struct OperatorApiOptions {
  std::string host = "127.0.0.1";
  int port = 1920;    // 0 picks a free port (see OperatorApi::port)
  std::string token;  // the bearer token changes need; empty: changes are refused
  // ... unless this is set: then they are open (demos and tests only).
  bool allowUnauthenticatedChanges = false;
  // --allowed-hosts: names a request's Host may give (axo/api/access.h).
  std::string allowedHosts;
  // The web configuration file (axo/api/web_config.h); empty: plain HTTP
  // and open reads.
  std::string webConfig;
  size_t maxBodyBytes = 64 * 1024;  // a request's body, decoded: 413 beyond
  int threads = 8;                  // workers; each serves one complete request at a time
  // Password checks (bcrypt runs, some 70 ms at cost 10) at once; a request
  // whose credentials were not verified before and find none free is
  // answered 429 unhashed. Below `threads`, so that a password flood leaves
  // workers to everyone else.
  int maxPasswordChecks = 2;
  // A request must arrive whole within this time of its first byte (408).
  std::chrono::milliseconds requestTimeout{10000};
  // A connection without a request under way is closed after this time.
  std::chrono::milliseconds idleTimeout{5000};
  // Each wait for a client to take more of an answer; past it the answer is cut off.
  std::chrono::milliseconds writeTimeout{5000};
  // --answer-min-rate: a client takes an answer at this average rate at
  // least, in bytes per second, after a grace of the write timeout: an
  // answer of B bytes is cut off once it has been written for longer than
  // writeTimeout + B / minAnswerRate (0: no such bound).
  size_t minAnswerRate = 128 * 1024;
  // --row-answers: table and history answers written at once (at least 1).
  // Each holds its sample's rows until it ends; the others wait for their
  // turn without a worker, while other requests go past them.
  int maxRowAnswers = 1;
  // Open connections at most; when full, the address holding the most
  // makes room (axo/api/http_server.h).
  size_t maxConnections = 1000;
  // Connections of one peer address at most; 0: an eighth of maxConnections.
  size_t maxConnectionsPerAddress = 0;
  // Requests of one peer address with the workers at once; more wait.
  int maxRequestsPerAddress = 2;
};

// Compares two secrets in time that depends only on their lengths.
bool ConstantTimeEquals(const std::string& a, const std::string& b);

// Appends `row` to `*out` as one JSON object {"ATTR":value,...} in column
// order: text columns as strings, integer columns as numbers. The text is
// the same as a JSON document library writes for that object.
void AppendRowJson(const Row& row, std::string* out);

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

}  // namespace axo

#endif  // AXO_API_HTTP_API_H_
