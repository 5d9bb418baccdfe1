// The operator API's connection front end: it owns the listening socket and
// every connection, and hands complete requests, one at a time, to a fixed
// pool of workers. Framework-internal.
//
// One reception thread reads every connection that is not being served,
// without blocking, and frames exactly one request at a time: the request
// line and the header fields within their limits, then the body by its
// Content-Length or its chunked framing within the body limit, all of it
// within a deadline from its first byte. A request it cannot accept it
// answers itself ({"error": ...} with Connection: close): 400 when it cannot
// be framed, 408 when it did not arrive in time, 413 for a body over the
// limit, 414 for a request line over its limit, 415 for a compressed body
// (decompressing one could cost far more than the body limit), 431 for a
// head over its limits.
//
// A worker serves a framed request through the Serve callback, with a
// stream that reads that request's bytes only and writes to the socket, each
// wait for the socket bounded by the write timeout and the whole answer by
// the minimum answer rate (FrontEndOptions): an answer past either bound
// is cut off, its connection closed, counted in
// zep_api_answers_cut_total{reason} and traced (AXO0115W). Requests whose
// answers hold rows (SetRowAnswers) are served at most maxRowAnswers at a
// time; the others pass them in the queue. A connection kept alive
// then goes back to the reception thread, with any pipelined bytes already
// read. A connection without a request is closed after the idle timeout.
//
// Fair shares: one peer address holds at most maxConnectionsPerAddress
// connections (more are closed at once) and has at most
// maxRequestsPerAddress requests with the workers; its further complete
// requests wait on the reception side, in arrival order, holding no
// worker. When the table is full, room is made by the address holding the
// most connections, if it holds more than the newcomer's: its connection
// idle longest goes (one opening or without a request first, then one
// whose request is under way); a connection kept alive after an answer, or
// with a request served or waiting, is never evicted. The head is strict:
// whitespace before a field's colon, a folded field, a bare CR or a NUL is
// refused with 400. A head that announces a body goes to the CheckHead
// callback (on a worker) before its body is read: a refused head is
// answered at once, and "100 Continue" goes out only to a head let through.
#ifndef AXO_HTTP_HTTP_SERVER_H_
#define AXO_HTTP_HTTP_SERVER_H_

#include <httplib.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "axo/base/status.h"
#include "axo/http/front_end_options.h"

namespace axo::http {

// The content type of the front end's own answers, and of every JSON
// answer of the API. With the charset parameter the HTTP library, which
// compresses "application/json" exactly, leaves an answer uncompressed.
inline constexpr const char* kJsonType = "application/json; charset=utf-8";

// The body of an error answer: {"error": message} and a line end, text
// that is not UTF-8 written with replacement characters. The API answers
// its own errors the same way. Thread-safe.
std::string ErrorBody(const std::string& message);

// Limits of one request besides the body (FrontEndOptions::maxBodyBytes)
// and the deadlines (FrontEndOptions).
inline constexpr size_t kMaxRequestLineBytes = 8 * 1024;  // longer: 414
inline constexpr size_t kMaxHeadBytes = 32 * 1024;        // request line and fields: 431
inline constexpr size_t kMaxHeaderFields = 100;           // more: 431
// Chunk-size lines, chunk extensions and trailer fields of one chunked body,
// in bytes: 413 beyond, so that tiny chunks cannot multiply the body limit.
inline constexpr size_t kMaxChunkFramingBytes = 16 * 1024;
// Requests answered on one connection; the last answer closes it.
inline constexpr int kMaxRequestsPerConnection = 100;
// After an answer of its own the front end closes the connection, but first
// reads and drops what the client still sends, for at most this long, so
// that the client reads the answer rather than a reset.
inline constexpr std::chrono::milliseconds kLingerTime{1000};
// Descriptors left to the rest of the process below its limit: the
// connection table is made smaller when the limit would not hold both.
inline constexpr size_t kReservedDescriptors = 128;

// The byte transport of one connection: plain TCP (NewPlainTransport) or
// TLS (axo/http/tls.h). Open, Read and Write never block. Besides a byte
// count they return kWantRead or kWantWrite (wait until the socket is
// readable or writable, then call again) or kFailed; Read returns 0 at the
// end of the peer's stream. Not thread-safe: one thread uses a connection
// at a time.
class Transport {
 public:
  static constexpr ssize_t kFailed = -1;
  static constexpr ssize_t kWantRead = -2;
  static constexpr ssize_t kWantWrite = -3;

  virtual ~Transport() = default;  // closes the connection
  // Runs the connection's opening exchange (a TLS handshake) as far as it
  // goes: 0 once done (at once on plain TCP), kWantRead, kWantWrite, or
  // kFailed with the reason in `*why`, which stays empty when the client
  // only went away (nothing worth a trace record).
  virtual ssize_t Open(std::string* why) {
    (void)why;
    return 0;
  }
  virtual ssize_t Read(char* buf, size_t size) = 0;
  virtual ssize_t Write(const char* data, size_t size) = 0;
  // True when bytes were received and decoded but not yet read: the socket
  // will not say so.
  virtual bool Pending() const { return false; }
  // Ends the sending direction once what was written has gone.
  virtual void ShutdownWrite() = 0;
  virtual int fd() const = 0;
  // The connection's TLS session, null on plain TCP.
  virtual SSL* ssl() const { return nullptr; }
};

// A plain TCP transport that owns `fd`, a non-blocking socket.
std::unique_ptr<Transport> NewPlainTransport(int fd);

// The front end. Listen, Run and Stop are called from one thread at a
// time; the callbacks run on the front end's threads. Not copyable.
class FrontEnd {
 public:
  // Serves one complete request: reads it from `stream`, which ends with
  // it, and writes the answer. `ssl` is the connection's TLS session (null
  // on plain TCP). `close_connection` asks for the last answer on the
  // connection. Returns false when the connection cannot go on; sets
  // `*connection_closed` when the client asked to close it.
  // Called on several workers at once.
  using Serve = std::function<bool(httplib::Stream& stream, SSL* ssl, bool close_connection,
                                   bool* connection_closed)>;
  // Makes the transport of a connection just accepted on socket `fd`,
  // which it owns from then on. Called on the reception thread.
  using MakeTransport = std::function<std::unique_ptr<Transport>(int fd)>;
  // Told of every answer of the front end's own: the request's method and
  // path (empty when its request line was not read) and the status.
  using Refused =
      std::function<void(const std::string& method, const std::string& path, int status)>;
  // Decides on the head of a request with a body before the body is read:
  // `head` holds the method, target, path, version, header fields, the
  // peer's address (remote_addr, remote_port) and the TLS session (ssl),
  // no body. Returns true to go on, or false with the answer in `*refusal`
  // (the connection then closes). Called on several workers at once.
  using CheckHead = std::function<bool(const httplib::Request& head, httplib::Response* refusal)>;

  FrontEnd();
  ~FrontEnd();  // stops
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  // Tells the requests (method, path) whose answers hold a sample's rows
  // while they are written. Called before Run, on the reception thread.
  using RowAnswer = std::function<bool(const std::string& method, const std::string& path)>;
  void SetRowAnswers(RowAnswer row_answer);

  // Binds `options.host`:`options.port` (port 0 picks a free one) and
  // listens. Returns kFailed when the address is in use or not available.
  Status Listen(const FrontEndOptions& options);
  // Starts the reception thread and the workers on the listening socket;
  // connections get their transports from `make` (plain TCP when null).
  // A connection must open (Transport::Open) within the request timeout;
  // one that fails to is closed, and the reason traced. Returns kFailed
  // when a thread cannot be created.
  Status Run(Serve serve, Refused refused, MakeTransport make = nullptr, CheckHead check = nullptr);
  // Closes the listener and every connection; a worker finishes the answer
  // it is writing (each wait bounded by the write timeout). Joins every
  // thread. Safe to call when not running.
  void Stop();

  // The listening socket and its port; -1 and 0 when not listening.
  int listener() const;
  int port() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace axo::http

#endif  // AXO_HTTP_HTTP_SERVER_H_
