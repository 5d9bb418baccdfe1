// The operator API's connection front end: the request framer, the
// reception thread and the workers.
#include "axo/http/http_server.h"

#include <errno.h>
#include <malloc.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string_view>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"

TRK1_UNIT(axoserver_unit, "AXOHTTP");
// Each is traced too (AXO0111W), at most a few a second.
AXO_COUNTER(handshakesFailed, "zep_api_handshakes_failed_total",
            "Operator API connections closed because their TLS handshake failed.");

namespace axo::http {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadBytes = 16 * 1024;  // one read from a connection
constexpr int kReadsPerWakeup = 4;        // then the other connections get their turn
constexpr int kAcceptsPerWakeup = 64;
constexpr int kEventsPerWait = 64;
// How long accepting pauses when the process has no descriptor left.
constexpr std::chrono::milliseconds kAcceptPause{100};
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

AXO_COUNTER_FAMILY(connectionsRefused, "zep_api_connections_refused_total",
                   "Operator API connections closed as soon as accepted, by reason: "
                   "address_share (its address held its share of the table), table_full "
                   "(no connection could make room).",
                   {"reason"});
AXO_COUNTER_FAMILY(connectionsEvicted, "zep_api_connections_evicted_total",
                   "Operator API connections closed to make room for a new one, by reason: "
                   "table_full, no_descriptor.",
                   {"reason"});
AXO_COUNTER(requestsHeld, "zep_api_requests_held_total",
            "Operator API requests that waited on the reception side while their address "
            "had its share of requests with the workers.");

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Parses `digits` (at least one, nothing else) in `base` (10 or 16). A
// value too large for size_t gives SIZE_MAX: it is over every limit anyway.
bool ParseSize(std::string_view digits, int base, size_t* out) {
  if (digits.empty()) return false;
  size_t n = 0;
  for (char ch : digits) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const int d = isdigit(c) ? c - '0' : base == 16 && isxdigit(c) ? tolower(c) - 'a' + 10 : -1;
    if (d < 0) return false;
    n = n > (SIZE_MAX - static_cast<size_t>(d)) / static_cast<size_t>(base)
            ? SIZE_MAX
            : n * static_cast<size_t>(base) + static_cast<size_t>(d);
  }
  *out = n;
  return true;
}

// Frames one request at the front of a connection's input: finds where it
// ends, interpreting no more of it than the framing needs, and refuses it as
// soon as it crosses a limit. Frame is called again with the same input,
// grown, until it answers kComplete or kRefused; the next request needs a
// new Framer on input that starts with it.
class Framer {
 public:
  enum class Result { kNeedMore, kComplete, kRefused };

  explicit Framer(size_t max_body) : maxBody_(max_body) {}

  Result Frame(const std::string& in);

  // Complete: the request is in[begin(), end()); empty lines before it are
  // skipped.
  size_t begin() const { return begin_; }
  size_t end() const { return end_; }
  // Refused: the status and why.
  int status() const { return status_; }
  const std::string& reason() const { return reason_; }
  // The method and path of the request line, empty until it is read.
  const std::string& method() const { return method_; }
  const std::string& path() const { return path_; }
  // True once, when the head has ended and a body is to follow.
  bool TakeHeadEnd() { return std::exchange(headEnded_, false); }
  // The head, request line and fields, is in[begin(), headEnd()); known
  // once TakeHeadEnd() was true.
  size_t headEnd() const { return headEnd_; }
  // True when the head asked for "100 Continue" before its body.
  bool expectsContinue() const { return continue_; }

 private:
  enum class Phase { kRequestLine, kFields, kBody, kChunkSize, kChunkData, kTrailer, kDone };

  bool NextLine(const std::string& in, std::string_view* line);
  Result Refuse(int status, std::string reason);
  Result HeadLine(std::string_view line);
  Result HeadEnd();
  Result ChunkLine(std::string_view line);

  size_t maxBody_;
  Phase phase_ = Phase::kRequestLine;
  size_t begin_ = 0, end_ = 0;
  size_t pos_ = 0;     // where framing goes on
  size_t scan_ = 0;    // how far the search for the next line end has looked
  bool crlf_ = false;  // the last line ended with CRLF
  size_t fields_ = 0;
  std::string method_, path_, version_;
  // The fields that frame the body: the first value and the number of each.
  std::string contentLength_, transferEncoding_;
  int contentLengths_ = 0, transferEncodings_ = 0;
  bool lengthsDiffer_ = false, compressed_ = false, expectsContinue_ = false;
  bool continue_ = false, headEnded_ = false;
  size_t headEnd_ = 0;
  size_t left_ = 0;     // body or chunk bytes still to come
  size_t decoded_ = 0;  // chunk data so far
  size_t framing_ = 0;  // chunk framing so far
  int status_ = 0;
  std::string reason_;
};

// The next whole line at pos_, without its line end; pos_ moves past it.
bool Framer::NextLine(const std::string& in, std::string_view* line) {
  const size_t lf = in.find('\n', std::max(scan_, pos_));
  if (lf == std::string::npos) {
    scan_ = in.size();
    return false;
  }
  crlf_ = lf > pos_ && in[lf - 1] == '\r';
  *line = std::string_view(in).substr(pos_, lf - pos_ - (crlf_ ? 1 : 0));
  pos_ = scan_ = lf + 1;
  return true;
}

Framer::Result Framer::Refuse(int status, std::string reason) {
  status_ = status;
  reason_ = std::move(reason);
  return Result::kRefused;
}

Framer::Result Framer::Frame(const std::string& in) {
  auto longLine = [&] {
    return Refuse(414, "request line over " + std::to_string(kMaxRequestLineBytes) + " bytes");
  };
  auto largeHead = [&] {
    return Refuse(431, "request head over " + std::to_string(kMaxHeadBytes) + " bytes");
  };
  std::string_view line;
  for (;;) {
    switch (phase_) {
      case Phase::kRequestLine:
      case Phase::kFields: {
        // The head counts from the first byte, empty lines before the
        // request line included.
        if (!NextLine(in, &line)) {
          if (phase_ == Phase::kRequestLine && in.size() - pos_ > kMaxRequestLineBytes + 1) {
            return longLine();
          }
          return in.size() > kMaxHeadBytes ? largeHead() : Result::kNeedMore;
        }
        if (phase_ == Phase::kRequestLine && line.size() > kMaxRequestLineBytes) return longLine();
        if (pos_ > kMaxHeadBytes) return largeHead();
        if (Result r = HeadLine(line); r != Result::kNeedMore) return r;
        break;
      }
      case Phase::kBody:
        if (in.size() - pos_ < left_) return Result::kNeedMore;
        end_ = pos_ + left_;
        phase_ = Phase::kDone;
        break;
      case Phase::kChunkSize:
      case Phase::kTrailer: {
        const size_t start = pos_;
        const bool whole = NextLine(in, &line);
        if (framing_ + (whole ? pos_ : in.size()) - start > kMaxChunkFramingBytes) {
          return Refuse(413,
                        "chunked framing over " + std::to_string(kMaxChunkFramingBytes) + " bytes");
        }
        if (!whole) return Result::kNeedMore;
        framing_ += pos_ - start;
        if (!crlf_) return Refuse(400, "the lines of a chunked body must end with CRLF");
        if (Result r = ChunkLine(line); r != Result::kNeedMore) return r;
        break;
      }
      case Phase::kChunkData:
        if (in.size() - pos_ < left_ + 2) return Result::kNeedMore;
        if (in.compare(pos_ + left_, 2, "\r\n") != 0) {
          return Refuse(400, "chunk data must end with CRLF");
        }
        decoded_ += left_;
        framing_ += 2;
        pos_ = scan_ = pos_ + left_ + 2;
        phase_ = Phase::kChunkSize;
        break;
      case Phase::kDone:
        return Result::kComplete;
    }
  }
}

// A line of the head: the request line (or an empty line before it) or a
// header field. Only the fields that frame the body are interpreted; what
// the rest says is the parser's to judge.
Framer::Result Framer::HeadLine(std::string_view line) {
  // A proxy in front may read these otherwise than the parser here (a
  // bare CR as a line end, a NUL as the end of the text), and so frame
  // another request: refused, whatever field they are in.
  if (line.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
    return Refuse(400, "a bare CR or a NUL in the request head");
  }
  if (phase_ == Phase::kRequestLine) {
    if (line.empty()) {
      begin_ = pos_;
      return Result::kNeedMore;
    }
    const size_t sp1 = line.find(' ');
    const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 != std::string_view::npos) {
      method_ = line.substr(0, sp1);
      const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
      path_ = target.substr(0, target.find('?'));
      version_ = line.substr(sp2 + 1);
    }
    phase_ = Phase::kFields;
    return Result::kNeedMore;
  }
  if (line.empty()) return HeadEnd();
  if (++fields_ > kMaxHeaderFields) {
    return Refuse(431, "more than " + std::to_string(kMaxHeaderFields) + " header fields");
  }
  if (line.front() == ' ' || line.front() == '\t') {
    return Refuse(400, "a header field continued on the next line (obsolete line folding)");
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return Refuse(400, "a header line without a colon");
  const std::string_view name = line.substr(0, colon);
  if (name.find_first_of(" \t") != std::string_view::npos) {
    return Refuse(400, "whitespace in a header field name or before its colon");
  }
  const std::string_view value = axo_internal::TrimSpace(line.substr(colon + 1));
  if (EqualsIgnoringCase(name, "Content-Length")) {
    if (contentLengths_++ == 0) contentLength_ = value;
    lengthsDiffer_ |= contentLength_ != value;
  } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
    if (transferEncodings_++ == 0) transferEncoding_ = value;
  } else if (EqualsIgnoringCase(name, "Content-Encoding")) {
    compressed_ |= !EqualsIgnoringCase(value, "identity");
  } else if (EqualsIgnoringCase(name, "Expect")) {
    expectsContinue_ = EqualsIgnoringCase(value, "100-continue");
  }
  return Result::kNeedMore;
}

// Decides how the body is framed, now that the head has ended.
Framer::Result Framer::HeadEnd() {
  if (transferEncodings_ > 0) {
    if (contentLengths_ > 0) {
      return Refuse(400, "Content-Length and Transfer-Encoding in one request");
    }
    if (transferEncodings_ > 1 || !EqualsIgnoringCase(transferEncoding_, "chunked")) {
      return Refuse(400, "the only transfer coding accepted is chunked");
    }
    phase_ = Phase::kChunkSize;
  } else if (contentLengths_ > 0) {
    if (lengthsDiffer_ || !ParseSize(contentLength_, 10, &left_)) {
      return Refuse(400, "bad Content-Length");
    }
    phase_ = Phase::kBody;
  } else {
    end_ = pos_;
    phase_ = Phase::kDone;
    return Result::kNeedMore;
  }
  if (left_ > maxBody_) {
    return Refuse(413, "request body over " + std::to_string(maxBody_) + " bytes");
  }
  if (compressed_ && (left_ > 0 || phase_ == Phase::kChunkSize)) {
    return Refuse(415, "a request body must not be compressed (Content-Encoding)");
  }
  continue_ = expectsContinue_ && version_ == "HTTP/1.1";
  headEnded_ = true;
  headEnd_ = pos_;
  return Result::kNeedMore;
}

// A chunk-size line ("1a;ext") or, after the last chunk, a trailer field.
Framer::Result Framer::ChunkLine(std::string_view line) {
  if (phase_ == Phase::kTrailer) {
    if (line.empty()) {
      end_ = pos_;
      phase_ = Phase::kDone;
    }
    return Result::kNeedMore;
  }
  size_t digits = 0;
  while (digits < line.size() && isxdigit(static_cast<unsigned char>(line[digits]))) ++digits;
  const std::string_view rest = axo_internal::TrimSpace(line.substr(digits));
  size_t size = 0;
  if (!ParseSize(line.substr(0, digits), 16, &size) || (!rest.empty() && rest[0] != ';')) {
    return Refuse(400, "bad chunk size line");
  }
  if (size > maxBody_ - decoded_) {
    return Refuse(413, "request body over " + std::to_string(maxBody_) + " bytes");
  }
  left_ = size;
  phase_ = size == 0 ? Phase::kTrailer : Phase::kChunkData;
  return Result::kNeedMore;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 408:
      return "Request Timeout";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 421:
      return "Misdirected Request";
    case 431:
      return "Request Header Fields Too Large";
  }
  return "Error";
}

// An answer of the front end's own, `res` (status, headers, body), that
// closes the connection. Every answer says nosniff: a browser must not take
// an error's JSON for a page or a script.
std::string CloseAnswer(const httplib::Response& res) {
  std::string out = "HTTP/1.1 " + std::to_string(res.status) + " " + ReasonPhrase(res.status) +
                    "\r\nX-Content-Type-Options: nosniff\r\n";
  for (const auto& [name, value] : res.headers) {
    if (!EqualsIgnoringCase(name, "X-Content-Type-Options")) out += name + ": " + value + "\r\n";
  }
  return out + "Content-Length: " + std::to_string(res.body.size()) +
         "\r\nConnection: close\r\n\r\n" + res.body;
}

// The front end's refusal: the API's error shape.
std::string ErrorAnswer(int status, const std::string& reason) {
  httplib::Response res;
  res.status = status;
  res.set_content(ErrorBody(reason), kJsonType);
  return CloseAnswer(res);
}

// The head in[0, end) as the request the API decides on: request line and
// fields, framed by Framer already (one field a line, no folding).
void HeadRequest(std::string_view head, httplib::Request* req) {
  bool first = true;
  while (!head.empty()) {
    const size_t lf = std::min(head.find('\n'), head.size());
    std::string_view line = head.substr(0, lf);
    head.remove_prefix(std::min(lf + 1, head.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (first) {
      first = false;
      const size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
      if (sp1 == std::string_view::npos || sp2 <= sp1) continue;
      req->method = line.substr(0, sp1);
      req->target = line.substr(sp1 + 1, sp2 - sp1 - 1);
      req->version = line.substr(sp2 + 1);
      req->path = httplib::detail::decode_url(req->target.substr(0, req->target.find('?')), false);
      continue;
    }
    const size_t colon = line.find(':');
    req->headers.emplace(std::string(line.substr(0, colon)),
                         std::string(axo_internal::TrimSpace(line.substr(colon + 1))));
  }
}

class PlainTransport final : public Transport {
 public:
  explicit PlainTransport(int fd) : fd_(fd) {}
  ~PlainTransport() override { close(fd_); }
  PlainTransport(const PlainTransport&) = delete;
  PlainTransport& operator=(const PlainTransport&) = delete;

  ssize_t Read(char* buf, size_t size) override {
    return Result(recv(fd_, buf, size, 0), kWantRead);
  }
  ssize_t Write(const char* data, size_t size) override {
    return Result(send(fd_, data, size, MSG_NOSIGNAL), kWantWrite);
  }
  void ShutdownWrite() override { shutdown(fd_, SHUT_WR); }
  int fd() const override { return fd_; }

 private:
  static ssize_t Result(ssize_t n, ssize_t would_block) {
    if (n >= 0) return n;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? would_block : kFailed;
  }
  const int fd_;
};

}  // namespace

std::string ErrorBody(const std::string& message) {
  return nlohmann::ordered_json{{"error", message}}.dump(
             -1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
         "\n";
}

std::unique_ptr<Transport> NewPlainTransport(int fd) {
  return std::make_unique<PlainTransport>(fd);
}

namespace {

// The numeric address and port of a socket address.
void AddressText(const sockaddr* addr, socklen_t len, std::string* ip, int* port) {
  char host[NI_MAXHOST] = "", service[NI_MAXSERV] = "";  // bounded by getnameinfo
  if (getnameinfo(addr, len, host, sizeof(host), service, sizeof(service),
                  NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    *ip = host;
    *port = atoi(service);
  }
}

// Waits until `fd` is ready for `events` or `deadline` passes; true when
// ready (or failed: the next call says how).
bool WaitUntil(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(std::min<long long>(left, INT32_MAX)));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

// Whether the front end is stopping, and the stop's deadline: once
// stopping, no wait to write lasts beyond it.
struct Stopping {
  std::atomic<bool> now{false};
  Clock::time_point deadline;  // written before `now` is set

  Clock::time_point Bound(Clock::time_point d) const {
    return now.load(std::memory_order_acquire) ? std::min(d, deadline) : d;
  }
};

struct Connection;

// What one peer address holds. The reception thread's own.
struct Peer {
  size_t connections = 0;           // in the table
  int serving = 0;                  // requests queued for or held by a worker
  std::deque<Connection*> waiting;  // complete requests past its share, in order
};

// Why a worker gave up writing an answer (the label of
// zep_api_answers_cut_total).
enum class Cut { kNone, kStalled, kTooSlow, kStopping };

const char* CutLabel(Cut cut) {
  switch (cut) {
    case Cut::kNone:
      break;
    case Cut::kStalled:
      return "stalled";
    case Cut::kTooSlow:
      return "too_slow";
    case Cut::kStopping:
      return "stopping";
  }
  return "none";
}

// One connection. Owned by the reception thread's table; while its request
// is served (kServing) only that worker touches it.
struct Connection {
  enum class State {
    kOpening,    // its transport opens (TLS handshake): closed at the request timeout
    kIdle,       // no byte of a request: closed after the idle timeout
    kReceiving,  // a request under way: refused (408) at its deadline
    kServing,    // queued for or served by a worker
    kWaiting,    // complete, waiting for its address's turn (Peer::waiting)
    kClosing,    // answered by the front end: its answer goes out, input is dropped
  };

  Connection(std::unique_ptr<Transport> t, size_t max_body, uint64_t n)
      : transport(std::move(t)), framer(max_body), seq(n) {}

  std::unique_ptr<Transport> transport;
  std::string peerIp;
  int peerPort = 0;
  Peer* peer = nullptr;  // the entry of peerIp
  State state = State::kIdle;
  Clock::time_point since;  // of the state (kReceiving: of the request's first byte)
  std::string in;           // read and not yet served; starts with the request being framed
  Framer framer;
  std::string out;    // kClosing: the rest of the front end's answer
  int served = 0;     // requests answered
  bool keep = false;  // set by the worker: the connection goes on
  // Queued for its head's check (CheckHead) rather than to be served; the
  // worker leaves a refusal in `out` and its status in `refusal`.
  bool checkingHead = false;
  int refusal = 0;
  bool rowAnswer = false;  // its request's answer holds rows (FrontEnd::SetRowAnswers)
  uint64_t seq;            // accept order, to tell equally idle connections apart
  size_t slot = 0;         // index in the table
  uint32_t watched = 0;    // epoll events asked for; 0 when not registered
};

}  // namespace

struct FrontEnd::Impl {
  FrontEndOptions options;
  Serve serve;
  Refused refused;
  MakeTransport make;
  CheckHead check;
  RowAnswer rowAnswer;
  size_t maxConnections = 0;
  size_t maxPerAddress = 0;
  int listenFd = -1;
  int port = 0;
  int epollFd = -1;
  int wakeFd = -1;  // an eventfd: a worker returned a connection, or Stop
  std::thread reception;
  std::vector<std::thread> workers;

  // The reception thread's own.
  std::vector<std::unique_ptr<Connection>> table;
  std::unordered_map<std::string, Peer> peers;  // by address; those in the table
  uint64_t accepted = 0;
  bool listenerWatched = false;
  bool outOfDescriptors = false;
  Clock::time_point acceptPausedUntil;

  // Shared with the workers, under `mu`.
  std::mutex mu;
  std::condition_variable work;
  std::deque<Connection*> queue;      // complete requests, in arrival order
  std::vector<Connection*> returned;  // served, back to the reception thread
  int rowAnswers = 0;                 // row answers being served
  Stopping stopping;

  // --- reception thread ---
  void Receive();
  void Accept(Clock::time_point now);
  bool MakeRoom(const Peer* newcomer, const char* reason);
  void Dispatch(Connection* c);
  void Queue(Connection* c);
  void TakeBackHead(Connection* c);
  void Watch(Connection* c, uint32_t events);
  void Close(Connection* c);
  void OnEvent(Connection* c, uint32_t events);
  void Open(Connection* c);
  void ReadRequest(Connection* c);
  bool Advance(Connection* c);
  bool Continue(Connection* c);
  bool Refuse(Connection* c, int status, const std::string& reason);
  bool Answer(Connection* c, int status, std::string answer);
  bool Flush(Connection* c);
  void TakeBack();
  Clock::time_point Expire(Clock::time_point now);
  // --- workers ---
  void Work();
  void DecideHead(Connection* c);
  void Return(Connection* c);
  Connection* TakeNext();
  void Served(Connection* c, Cut cut, size_t sent, Clock::time_point started);
};

namespace {

// What a worker hands to the Serve callback: the framed request's bytes,
// and the connection's socket for the answer, each wait for it bounded by
// the write timeout, the answer's minimum rate and the stop.
class RequestStream final : public httplib::Stream {
 public:
  RequestStream(Connection& c, const Stopping& stopping, const FrontEndOptions& options)
      : c_(c),
        stopping_(stopping),
        writeTimeout_(options.writeTimeout),
        minRate_(options.minAnswerRate),
        next_(c.framer.begin()) {}

  // Why the answer was cut off (Cut::kNone while it was not).
  Cut cut() const { return cut_; }
  size_t sent() const { return sent_; }
  // When the answer started going out (the epoch while nothing was written).
  Clock::time_point started() const { return started_; }

  bool is_readable() const override { return next_ < c_.framer.end(); }
  bool is_writable() const override { return Wait(POLLOUT); }
  // Returns 0 at the end of the request: never reads on from the socket.
  ssize_t read(char* ptr, size_t size) override {
    const size_t n = std::min(size, c_.framer.end() - next_);
    memcpy(ptr, c_.in.data() + next_, n);
    next_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    for (;;) {
      if (started_ == Clock::time_point()) started_ = Clock::now();  // the answer starts going out
      const ssize_t n = c_.transport->Write(ptr, size);
      if (n >= 0) {
        sent_ += static_cast<size_t>(n);
        return n;
      }
      if (n == Transport::kFailed || !Wait(n == Transport::kWantRead ? POLLIN : POLLOUT)) {
        return -1;
      }
    }
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.peerIp;
    port = c_.peerPort;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage addr{};
    socklen_t len = sizeof(addr);
    if (getsockname(c_.transport->fd(), reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
      AddressText(reinterpret_cast<sockaddr*>(&addr), len, &ip, &port);
    }
  }
  socket_t socket() const override { return c_.transport->fd(); }

 private:
  // Waits until the socket is ready for `events`; false, with the reason in
  // cut_, when a bound passes first.
  bool Wait(short events) const {
    const Clock::time_point stall = Clock::now() + writeTimeout_;
    Clock::time_point rate = Clock::time_point::max();
    if (minRate_ > 0 && started_ != Clock::time_point()) {
      rate =
          started_ + writeTimeout_ +
          std::chrono::milliseconds(sent_ / minRate_ * 1000 + sent_ % minRate_ * 1000 / minRate_);
    }
    if (WaitUntil(c_.transport->fd(), events, stopping_.Bound(std::min(stall, rate)))) return true;
    cut_ = stopping_.now.load(std::memory_order_acquire) ? Cut::kStopping
           : rate < stall                                ? Cut::kTooSlow
                                                         : Cut::kStalled;
    return false;
  }

  Connection& c_;
  const Stopping& stopping_;
  const std::chrono::milliseconds writeTimeout_;
  const size_t minRate_;  // bytes per second; 0: none
  // When the first byte of the answer went out: the time the handler took
  // (a sample, a wait for the agent's data) does not count against the rate.
  Clock::time_point started_;
  size_t next_;
  size_t sent_ = 0;
  mutable Cut cut_ = Cut::kNone;
};

}  // namespace

// --- the reception thread -------------------------------------------------

void FrontEnd::Impl::Receive() {
  epoll_event events[kEventsPerWait];
  while (!stopping.now.load(std::memory_order_acquire)) {
    const Clock::time_point next = Expire(Clock::now());
    int timeout = -1;
    if (next != Clock::time_point::max()) {
      timeout = static_cast<int>(std::clamp<long long>(
          std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count(), 0, 60000));
    }
    const int n = epoll_wait(epollFd, events, kEventsPerWait, timeout);
    if (n < 0 && errno != EINTR) {
      TRK1_Printf(&axoserver_unit, __LINE__, "AXO0108E Operator API connections lost: %s",
                  strerror(errno));
      break;
    }
    bool accept = false;
    for (int i = 0; i < n; ++i) {
      void* tag = events[i].data.ptr;
      if (tag == &listenFd) {
        accept = true;  // after the connections of this round: they come first
      } else if (tag == &wakeFd) {
        uint64_t count;
        if (read(wakeFd, &count, sizeof(count)) < 0) {  // nonblocking; a wake-up is enough
        }
        TakeBack();
      } else {
        OnEvent(static_cast<Connection*>(tag), events[i].events);
      }
    }
    if (accept) Accept(Clock::now());
  }
  // Stopping: the listener and every connection not being served close now;
  // the served ones when their workers are done (Stop).
  close(listenFd);
  listenFd = -1;
  for (size_t i = table.size(); i-- > 0;) {
    if (table[i]->state != Connection::State::kServing) Close(table[i].get());
  }
}

void FrontEnd::Impl::Accept(Clock::time_point now) {
  for (int i = 0; i < kAcceptsPerWakeup; ++i) {
    sockaddr_storage addr{};
    socklen_t len = sizeof(addr);
    const int fd =
        accept4(listenFd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: a connection makes room, else accepting
        // pauses (the listener would wake this thread at once again).
        if (MakeRoom(nullptr, "no_descriptor")) continue;
        if (!outOfDescriptors) {  // once until a connection is accepted again
          TRK1_PrintfLimited(&axoserver_unit, __LINE__,
                             "AXO0109W Operator API: no descriptor for a new connection (%s); "
                             "accepting pauses %lld ms at a time",
                             strerror(errno), static_cast<long long>(kAcceptPause.count()));
        }
        outOfDescriptors = true;
        acceptPausedUntil = now + kAcceptPause;
        epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
        listenerWatched = false;
      }
      return;
    }
    outOfDescriptors = false;
    // An answer leaves in more than one write (head, body, chunks): with
    // Nagle's algorithm each later write would wait for the client's
    // delayed acknowledgement, some 40 ms per answer on a kept-alive
    // connection (a scrape every 15 s over one connection, as Prometheus does).
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::string ip;
    int peerPort = 0;
    AddressText(reinterpret_cast<sockaddr*>(&addr), len, &ip, &peerPort);
    const auto [at, added] = peers.try_emplace(ip);
    Peer* peer = &at->second;
    const char* refusal = peer->connections >= maxPerAddress ? "address_share"
                          : table.size() >= maxConnections && !MakeRoom(peer, "table_full")
                              ? "table_full"
                              : nullptr;
    if (refusal != nullptr) {
      close(fd);
      connectionsRefused.counter({refusal}).Inc();
      if (peer->connections == 0) peers.erase(at);
      continue;
    }
    auto c = std::make_unique<Connection>(make ? make(fd) : NewPlainTransport(fd),
                                          options.maxBodyBytes, ++accepted);
    c->peerIp = std::move(ip);
    c->peerPort = peerPort;
    c->peer = peer;
    ++peer->connections;
    c->state = Connection::State::kOpening;
    c->since = now;
    c->slot = table.size();
    table.push_back(std::move(c));
    Open(table.back().get());
  }
}

// Closes a connection of the address holding the most connections, when
// it holds more than `newcomer` (null: an address not known yet): the one
// waiting longest for its first request (or still opening), else the one
// whose request began first. A kept-alive connection, or one whose request
// is with the workers or waiting for them, never goes. Counts the eviction
// under `reason`; false when no connection may go.
bool FrontEnd::Impl::MakeRoom(const Peer* newcomer, const char* reason) {
  const size_t floor = newcomer == nullptr ? 0 : newcomer->connections;
  // Rank: the address's connections, then idle before receiving, then age.
  auto rank = [](const Connection& c) {
    return std::make_tuple(c.peer->connections, c.state != Connection::State::kReceiving,
                           Clock::time_point::max() - c.since, UINT64_MAX - c.seq);
  };
  Connection* victim = nullptr;
  for (const auto& c : table) {
    const bool evictable = c->state == Connection::State::kOpening ||
                           c->state == Connection::State::kReceiving ||
                           (c->state == Connection::State::kIdle && c->served == 0);
    if (evictable && c->peer->connections > floor &&
        (victim == nullptr || rank(*c) > rank(*victim))) {
      victim = c.get();
    }
  }
  if (victim == nullptr) return false;
  connectionsEvicted.counter({reason}).Inc();
  Close(victim);
  return true;
}

void FrontEnd::Impl::Watch(Connection* c, uint32_t events) {
  if (events == c->watched) return;
  epoll_event e{};
  e.events = events;
  e.data.ptr = c;
  const int op = events == 0 ? EPOLL_CTL_DEL : c->watched == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
  epoll_ctl(epollFd, op, c->transport->fd(), &e);
  c->watched = events;
}

void FrontEnd::Impl::Close(Connection* c) {
  Watch(c, 0);
  Peer* peer = c->peer;
  if (c->state == Connection::State::kWaiting) std::erase(peer->waiting, c);
  if (--peer->connections == 0) peers.erase(c->peerIp);
  const size_t slot = c->slot;
  if (slot + 1 != table.size()) {
    std::swap(table[slot], table.back());
    table[slot]->slot = slot;
  }
  table.pop_back();                         // closes the socket
  if (!listenerWatched && listenFd >= 0) {  // a descriptor is free again
    acceptPausedUntil = Clock::time_point();
  }
}

void FrontEnd::Impl::OnEvent(Connection* c, uint32_t events) {
  if (c->state == Connection::State::kOpening) return Open(c);
  if (c->state != Connection::State::kClosing) return ReadRequest(c);
  if ((events & EPOLLOUT) != 0 && !Flush(c)) return;
  // Drops what the client still sends; its end (or a failure) closes.
  char drop[kReadBytes];
  for (int i = 0; i < kReadsPerWakeup; ++i) {
    const ssize_t n = c->transport->Read(drop, sizeof(drop));
    if (n == Transport::kWantRead || n == Transport::kWantWrite) return;
    if (n <= 0) return Close(c);
  }
}

// Takes the opening exchange as far as it goes; once done, the connection
// waits for its first request.
void FrontEnd::Impl::Open(Connection* c) {
  std::string why;
  const ssize_t r = c->transport->Open(&why);
  if (r == Transport::kWantRead || r == Transport::kWantWrite) {
    return Watch(c, r == Transport::kWantRead ? EPOLLIN : EPOLLOUT);
  }
  if (r != 0) {
    if (!why.empty()) {
      handshakesFailed.Inc();
      TRK1_PrintfLimited(&axoserver_unit, __LINE__,
                         "AXO0111W Operator API connection from %s:%d refused: %s",
                         c->peerIp.c_str(), c->peerPort, why.c_str());
    }
    return Close(c);
  }
  c->state = Connection::State::kIdle;
  c->since = Clock::now();
  Watch(c, EPOLLIN);
  ReadRequest(c);  // what came with the opening exchange
}

void FrontEnd::Impl::ReadRequest(Connection* c) {
  // Bytes the transport decoded but did not hand out yet are read too: no
  // event would announce them.
  for (int i = 0;
       (i < kReadsPerWakeup || c->transport->Pending()) &&
       c->state != Connection::State::kServing && c->state != Connection::State::kWaiting;
       ++i) {
    const size_t had = c->in.size();
    c->in.resize(had + kReadBytes);
    const ssize_t n = c->transport->Read(c->in.data() + had, kReadBytes);
    c->in.resize(had + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n == Transport::kWantRead || n == Transport::kWantWrite) return;
    // The client has gone, or ended its stream without a whole request.
    if (n <= 0) return Close(c);
    if (!Advance(c) || c->state == Connection::State::kClosing) return;
  }
}

// Frames what `c` has read: hands a complete request to the workers,
// refuses one that cannot be accepted, or waits for more. False when `c`
// was closed.
bool FrontEnd::Impl::Advance(Connection* c) {
  if (c->in.empty()) return true;
  if (c->state == Connection::State::kIdle) {
    c->state = Connection::State::kReceiving;
    c->since = Clock::now();
  }
  switch (c->framer.Frame(c->in)) {
    case Framer::Result::kNeedMore:
      if (!c->framer.TakeHeadEnd()) return true;
      if (check) {  // the body is read once the head is let through
        c->checkingHead = true;
        Dispatch(c);
        return true;
      }
      return Continue(c);
    case Framer::Result::kRefused:
      return Refuse(c, c->framer.status(), c->framer.reason());
    case Framer::Result::kComplete:
      break;
  }
  Dispatch(c);
  return true;
}

// Sends "100 Continue" when the head of `c` asked for it. False when `c`
// was closed.
bool FrontEnd::Impl::Continue(Connection* c) {
  if (c->framer.expectsContinue() && c->transport->Write(kContinue, sizeof(kContinue) - 1) !=
                                         static_cast<ssize_t>(sizeof(kContinue) - 1)) {
    Close(c);  // a part of the interim answer would corrupt the next
    return false;
  }
  return true;
}

// Hands `c` to the workers, or, when its address has its share of requests
// with them, makes it wait for its address's turn.
void FrontEnd::Impl::Dispatch(Connection* c) {
  Watch(c, 0);
  if (c->peer->serving >= options.maxRequestsPerAddress) {
    c->state = Connection::State::kWaiting;
    c->peer->waiting.push_back(c);
    requestsHeld.Inc();
    return;
  }
  Queue(c);
}

void FrontEnd::Impl::Queue(Connection* c) {
  ++c->peer->serving;
  c->state = Connection::State::kServing;
  c->rowAnswer = !c->checkingHead && rowAnswer && rowAnswer(c->framer.method(), c->framer.path());
  {
    std::lock_guard<std::mutex> guard(mu);
    queue.push_back(c);
  }
  work.notify_one();
}

// Answers `c` with an error of the front end's own, then closes it. False
// when `c` was closed at once.
bool FrontEnd::Impl::Refuse(Connection* c, int status, const std::string& reason) {
  return Answer(c, status, ErrorAnswer(status, reason));
}

// Sends `answer`, of `status`, then closes `c`. False when `c` was closed
// at once.
bool FrontEnd::Impl::Answer(Connection* c, int status, std::string answer) {
  if (refused) refused(c->framer.method(), c->framer.path(), status);
  c->out = std::move(answer);
  std::string().swap(c->in);
  c->state = Connection::State::kClosing;
  c->since = Clock::now();
  return Flush(c);
}

// Writes what is left of the front end's answer; once it is out, ends the
// stream. False when the connection was closed.
bool FrontEnd::Impl::Flush(Connection* c) {
  while (!c->out.empty()) {
    const ssize_t n = c->transport->Write(c->out.data(), c->out.size());
    if (n == Transport::kWantWrite || n == Transport::kWantRead) {
      Watch(c, EPOLLIN | EPOLLOUT);
      return true;
    }
    if (n <= 0) {
      Close(c);
      return false;
    }
    c->out.erase(0, static_cast<size_t>(n));
  }
  c->transport->ShutdownWrite();
  Watch(c, EPOLLIN);
  return true;
}

// Takes back the connections the workers have served.
void FrontEnd::Impl::TakeBack() {
  std::vector<Connection*> back;
  {
    std::lock_guard<std::mutex> guard(mu);
    back.swap(returned);
  }
  for (Connection* c : back) {
    // The address's next waiting request takes the place this one leaves.
    Peer* peer = c->peer;
    --peer->serving;
    if (!peer->waiting.empty() && peer->serving < options.maxRequestsPerAddress) {
      Connection* next = peer->waiting.front();
      peer->waiting.pop_front();
      Queue(next);
    }
    if (c->checkingHead) {
      TakeBackHead(c);
      continue;
    }
    ++c->served;
    if (!c->keep) {
      Close(c);
      continue;
    }
    c->in.erase(0, c->framer.end());  // pipelined bytes stay
    if (c->in.empty() && c->in.capacity() > 2 * kReadBytes) std::string().swap(c->in);
    c->framer = Framer(options.maxBodyBytes);
    c->state = Connection::State::kIdle;
    c->since = Clock::now();
    Watch(c, EPOLLIN);
    Advance(c);
  }
}

// Goes on with `c` once its head was decided: answers the refusal, or
// reads the body, the request's deadline running on from its first byte.
void FrontEnd::Impl::TakeBackHead(Connection* c) {
  c->checkingHead = false;
  if (!c->out.empty()) {
    Answer(c, c->refusal, std::move(c->out));
    return;
  }
  c->state = Connection::State::kReceiving;
  Watch(c, EPOLLIN);
  // Then reads on: bytes a TLS transport decoded already raise no event.
  if (Continue(c) && Advance(c) && c->state == Connection::State::kReceiving) ReadRequest(c);
}

// Closes or refuses the connections whose time is up. Returns the next
// deadline (time_point::max() when there is none).
Clock::time_point FrontEnd::Impl::Expire(Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  if (!listenerWatched && listenFd >= 0) {
    if (now >= acceptPausedUntil) {
      epoll_event e{};
      e.events = EPOLLIN;
      e.data.ptr = &listenFd;
      listenerWatched = epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd, &e) == 0;
    } else {
      next = acceptPausedUntil;
    }
  }
  // Backwards: closing moves the last connection into the slot.
  for (size_t i = table.size(); i-- > 0;) {
    Connection* c = table[i].get();
    Clock::time_point deadline;
    switch (c->state) {
      case Connection::State::kOpening:  // no answer can go out yet: closed at the deadline
      case Connection::State::kReceiving:
        deadline = c->since + options.requestTimeout;
        break;
      case Connection::State::kIdle:
        deadline = c->since + options.idleTimeout;
        break;
      case Connection::State::kClosing:
        deadline = c->since + kLingerTime;
        break;
      case Connection::State::kServing:
      case Connection::State::kWaiting:
        continue;
    }
    if (deadline > now) {
      next = std::min(next, deadline);
    } else if (c->state == Connection::State::kReceiving) {
      char within[48];  // "the request ... within 10 s"
      snprintf(within, sizeof(within), "%g s",
               std::chrono::duration<double>(options.requestTimeout).count());
      Refuse(c, 408, std::string("the request did not arrive whole within ") + within);
      next = std::min(next, now + kLingerTime);
    } else {
      Close(c);
    }
  }
  return next;
}

// --- workers ------------------------------------------------------------------

void FrontEnd::Impl::Work() {
  for (;;) {
    Connection* c = nullptr;
    {
      std::unique_lock<std::mutex> lock(mu);
      work.wait(lock, [&] { return stopping.now.load() || (c = TakeNext()) != nullptr; });
      if (stopping.now.load()) {  // a request not yet started is dropped
        if (c != nullptr) queue.push_front(c);
        return;
      }
    }
    if (c->checkingHead) {
      DecideHead(c);
      Served(c, Cut::kNone, 0, Clock::time_point());
      continue;
    }
    const bool last = c->served + 1 >= kMaxRequestsPerConnection;
    bool closed = false;
    c->keep = false;
    RequestStream stream(*c, stopping, options);
    try {
      c->keep = serve(stream, c->transport->ssl(), last, &closed) && !closed && !last &&
                !stopping.now.load();
    } catch (const std::exception& e) {
      TRK1_Printf(&axoserver_unit, __LINE__, "AXO0108E Operator API request failed: %s", e.what());
    }
    Served(c, stream.cut(), stream.sent(), stream.started());
  }
}

// Asks the CheckHead callback about the head of `c`; a refusal is left in
// c->out for the reception thread to send.
void FrontEnd::Impl::DecideHead(Connection* c) {
  httplib::Request head;
  HeadRequest(
      std::string_view(c->in).substr(c->framer.begin(), c->framer.headEnd() - c->framer.begin()),
      &head);
  RequestStream stream(*c, stopping, options);  // for the addresses, as the parser takes them
  stream.get_remote_ip_and_port(head.remote_addr, head.remote_port);
  stream.get_local_ip_and_port(head.local_addr, head.local_port);
  head.ssl = c->transport->ssl();
  httplib::Response res;
  try {
    if (check(head, &res)) return;
  } catch (const std::exception& e) {
    TRK1_Printf(&axoserver_unit, __LINE__, "AXO0108E Operator API request failed: %s", e.what());
    res = httplib::Response();
    res.status = 500;
    res.set_content(ErrorBody("internal error"), kJsonType);
  }
  c->refusal = res.status;
  c->out = CloseAnswer(res);
}

// The first queued request a worker may serve now: a row answer only while
// fewer than maxRowAnswers are served. Requires: mu held.
Connection* FrontEnd::Impl::TakeNext() {
  const bool rowsAllowed = rowAnswers < std::max(options.maxRowAnswers, 1);
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    Connection* c = *it;
    if (c->rowAnswer && !rowsAllowed) continue;
    queue.erase(it);
    if (c->rowAnswer) ++rowAnswers;
    return c;
  }
  return nullptr;
}

// Counts and traces an answer that was cut off, ends the row answer of `c`
// if it was one, and hands `c` back to the reception thread.
void FrontEnd::Impl::Served(Connection* c, Cut cut, size_t sent, Clock::time_point started) {
  if (cut != Cut::kNone) {
    AXO_COUNTER_FAMILY(cuts, "zep_api_answers_cut_total",
                       "Operator API answers cut off before their end, by reason: stalled (the "
                       "client took nothing for the write timeout), too_slow (below "
                       "--answer-min-rate), stopping (the agent stopped).",
                       {"reason"});
    cuts.counter({CutLabel(cut)}).Inc();
    const double seconds = started == Clock::time_point()
                               ? 0.0
                               : std::chrono::duration<double>(Clock::now() - started).count();
    TRK1_Printf(&axoserver_unit, __LINE__,
                "AXO0115W Answer to %s %s for %s:%d cut off (%s) after %zu bytes in %.1f s",
                c->framer.method().c_str(), c->framer.path().c_str(), c->peerIp.c_str(),
                c->peerPort, CutLabel(cut), sent, seconds);
  }
  const bool wasRowAnswer = c->rowAnswer;  // `c` is the reception thread's after Return
  bool lastRowAnswer = false;
  if (wasRowAnswer) {
    std::lock_guard<std::mutex> guard(mu);
    lastRowAnswer = --rowAnswers == 0;
  }
  Return(c);
  // A row answer waiting for its turn may go now.
  if (wasRowAnswer) work.notify_one();
  // The samples of row answers are tens of megabytes, freed into the
  // workers' malloc arenas, which keep them: once none is written, the
  // free pages go back to the system.
  if (lastRowAnswer) malloc_trim(0);
}

// Hands `c` back to the reception thread.
void FrontEnd::Impl::Return(Connection* c) {
  {
    std::lock_guard<std::mutex> guard(mu);
    returned.push_back(c);
  }
  const uint64_t one = 1;
  if (write(wakeFd, &one, sizeof(one)) < 0) {  // the counter cannot overflow here
  }
}

// --- FrontEnd -------------------------------------------------------------------

FrontEnd::FrontEnd() : impl_(new Impl) {}

FrontEnd::~FrontEnd() { Stop(); }

Status FrontEnd::Listen(const FrontEndOptions& options) {
  Impl& m = *impl_;
  m.options = options;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(options.port);
  if (options.port >= 0 && options.port <= 65535 &&
      getaddrinfo(options.host.empty() ? nullptr : options.host.c_str(), service.c_str(), &hints,
                  &found) == 0) {
    for (addrinfo* a = found; a != nullptr && m.listenFd < 0; a = a->ai_next) {
      const int fd =
          socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
      if (fd < 0) continue;
      // SO_REUSEADDR lets a restarted agent bind while its old connections
      // linger; never SO_REUSEPORT, with which a second process would bind
      // the same port silently and share the requests.
      const int yes = 1, no = 0;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
      if (a->ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof(no));
      if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) {
        m.listenFd = fd;
      } else {
        close(fd);
      }
    }
    freeaddrinfo(found);
  }
  sockaddr_storage addr{};
  socklen_t len = sizeof(addr);
  std::string ip;
  if (m.listenFd >= 0 && getsockname(m.listenFd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    AddressText(reinterpret_cast<sockaddr*>(&addr), len, &ip, &m.port);
  }
  if (m.port <= 0) {
    Stop();
    return Status::Failed("cannot listen on " + options.host + ":" + std::to_string(options.port) +
                          " (address in use or not available)");
  }
  // The table stays below the process's descriptor limit.
  m.maxConnections = std::max<size_t>(options.maxConnections, 1);
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const size_t usable = limit.rlim_cur > 2 * kReservedDescriptors
                              ? limit.rlim_cur - kReservedDescriptors
                              : limit.rlim_cur / 2;
    m.maxConnections = std::max<size_t>(std::min(m.maxConnections, usable), 1);
  }
  m.maxPerAddress = options.maxConnectionsPerAddress > 0 ? options.maxConnectionsPerAddress
                                                         : m.maxConnections / 8;
  m.maxPerAddress = std::clamp<size_t>(m.maxPerAddress, 1, m.maxConnections);
  m.options.maxRequestsPerAddress = std::max(options.maxRequestsPerAddress, 1);
  // Every reason shows in /metrics from the start, at 0.
  for (const char* reason : {"address_share", "table_full"}) connectionsRefused.counter({reason});
  for (const char* reason : {"table_full", "no_descriptor"}) connectionsEvicted.counter({reason});
  return Status::OK();
}

Status FrontEnd::Run(Serve serve, Refused refused, MakeTransport make, CheckHead check) {
  Impl& m = *impl_;
  m.check = std::move(check);
  m.serve = std::move(serve);
  m.refused = std::move(refused);
  m.make = std::move(make);
  m.stopping.now = false;
  m.epollFd = epoll_create1(EPOLL_CLOEXEC);
  m.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event e{};
  e.events = EPOLLIN;
  e.data.ptr = &m.wakeFd;
  if (m.epollFd < 0 || m.wakeFd < 0 || epoll_ctl(m.epollFd, EPOLL_CTL_ADD, m.wakeFd, &e) != 0) {
    Status failed = Status::Failed(std::string("the operator API cannot wait for connections: ") +
                                   strerror(errno));
    Stop();
    return failed;
  }
  try {
    const int threads = m.options.threads > 0 ? m.options.threads : 8;
    for (int i = 0; i < threads; ++i) m.workers.emplace_back([&m] { m.Work(); });
    m.reception = std::thread([&m] { m.Receive(); });
  } catch (const std::system_error& e) {
    Stop();
    return Status::Failed(std::string("the operator API cannot start its threads: ") + e.what());
  }
  return Status::OK();
}

void FrontEnd::Stop() {
  Impl& m = *impl_;
  {
    std::lock_guard<std::mutex> guard(m.mu);
    m.stopping.deadline = Clock::now() + m.options.writeTimeout;
    m.stopping.now.store(true, std::memory_order_release);
  }
  m.work.notify_all();
  const uint64_t one = 1;
  if (m.wakeFd >= 0 && write(m.wakeFd, &one, sizeof(one)) < 0) {  // a wake-up is enough
  }
  if (m.reception.joinable()) m.reception.join();
  for (std::thread& t : m.workers) t.join();
  m.workers.clear();
  // Every thread has ended: what is left here is this thread's.
  m.table.clear();
  m.peers.clear();
  m.queue.clear();
  m.returned.clear();
  for (int* fd : {&m.listenFd, &m.epollFd, &m.wakeFd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  m.port = 0;
  m.listenerWatched = false;
}

void FrontEnd::SetRowAnswers(RowAnswer row_answer) { impl_->rowAnswer = std::move(row_answer); }

int FrontEnd::listener() const { return impl_->listenFd; }

int FrontEnd::port() const { return impl_->port; }

}  // namespace axo::http
