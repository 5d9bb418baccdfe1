// The options of the operator API's connection front end
// (axo/http/http_server.h): kept apart from it so that the API's options,
// which extend them, need no HTTP library to be named.
#ifndef AXO_HTTP_FRONT_END_OPTIONS_H_
#define AXO_HTTP_FRONT_END_OPTIONS_H_

#include <chrono>
#include <cstddef>
#include <string>

namespace axo::http {

// The front end's address, workers, deadlines and shares; its user (the
// operator API's options) fills them in.
struct FrontEndOptions {
  std::string host = "127.0.0.1";
  int port = 1920;                  // 0 picks a free port (see FrontEnd::port)
  size_t maxBodyBytes = 64 * 1024;  // a request's body, decoded: 413 beyond
  int threads = 8;                  // workers; each serves one complete request at a time
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
  // makes room (axo/http/http_server.h).
  size_t maxConnections = 1000;
  // Connections of one peer address at most; 0: an eighth of maxConnections.
  size_t maxConnectionsPerAddress = 0;
  // Requests of one peer address with the workers at once; more wait.
  int maxRequestsPerAddress = 2;
};

}  // namespace axo::http

#endif  // AXO_HTTP_FRONT_END_OPTIONS_H_
