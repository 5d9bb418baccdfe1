// Support for tests that talk to real processes: a loopback HTTP client,
// child processes with their own environment and output files, and a
// private install directory (base-directory file, configuration, logs).
#ifndef ZEP_TESTS_SUPPORT_E2E_SUPPORT_H_
#define ZEP_TESTS_SUPPORT_E2E_SUPPORT_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/zeptestdir.h"

namespace e2e {

struct HttpReply {
  int status = 0;                                                   // 0 when no answer came
  std::map<std::string, std::string, httplib::detail::ci> headers;  // any case finds a name
  std::string body;
};

// Sends one request through `client` and reads the whole answer (a chunked
// one joined). `extra_headers` are "Name: value" lines. Gives up after 15
// seconds without data; status 0 when no answer came.
template <typename Client>
HttpReply Send(Client& client, const std::string& method, const std::string& target,
               const std::string& body, const std::vector<std::string>& extra_headers) {
  client.set_read_timeout(15, 0);
  client.set_write_timeout(15, 0);
  httplib::Request request;
  request.method = method;
  request.path = target;
  request.body = body;
  for (const std::string& h : extra_headers) {
    const size_t colon = h.find(':');
    request.set_header(h.substr(0, colon), h.substr(h.find_first_not_of(' ', colon + 1)));
  }
  httplib::Result result = client.send(request);
  if (!result) return {};
  return {result->status, {result->headers.begin(), result->headers.end()}, result->body};
}

// Sends one request to 127.0.0.1:`port` (see Send).
inline HttpReply Http(int port, const std::string& method, const std::string& target,
                      const std::string& body = "",
                      const std::vector<std::string>& extra_headers = {}) {
  httplib::Client client("127.0.0.1", port);
  return Send(client, method, target, body, extra_headers);
}

// The client's side of TLS: the authority it trusts, the name the server's
// certificate must carry, and its own certificate and key (none when empty).
struct TlsClient {
  std::string caFile;
  std::string certFile, keyFile;
  std::string host = "127.0.0.1";
};

// Sends one request over TLS to `tls.host`:`port` (see Send); status 0 when
// the handshake failed.
inline HttpReply Https(int port, const TlsClient& tls, const std::string& method,
                       const std::string& target, const std::string& body = "",
                       const std::vector<std::string>& extra_headers = {}) {
  httplib::SSLClient client(tls.host, port, tls.certFile, tls.keyFile);
  client.set_ca_cert_path(tls.caFile.c_str());
  client.enable_server_certificate_verification(true);
  return Send(client, method, target, body, extra_headers);
}

// A loopback port free at the time of the call.
inline int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  const int port = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
                           getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0
                       ? ntohs(addr.sin_port)
                       : 0;
  close(fd);
  return port;
}

// Runs `command` through the shell; its exit status, and its standard output
// and error appended to `*output`.
inline int RunCommand(const std::string& command, std::string* output) {
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) output->append(buf, n);
  int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Makes a private authority and the certificates it signs in `dir` with the
// README's example script (deploy/examples/network/make-certs.sh): ca.crt,
// agent.crt and agent.key for `names`, prometheus.crt and prometheus.key.
// Returns the script's output when it failed, else "".
inline std::string MakeCertificates(const std::string& dir,
                                    const std::string& names = "localhost 127.0.0.1") {
  std::string out;
  const int rc = RunCommand("cd '" + dir + "' && sh " + std::string(ZEP_SOURCE_DIR) +
                                "/deploy/examples/network/make-certs.sh " + names,
                            &out);
  return rc == 0 ? "" : "make-certs.sh failed: " + out;
}

// The fields of one CSV line; a field in double quotes may hold commas and
// doubled quotes.
inline std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (quoted && line.compare(i, 2, "\"\"") == 0)
      fields.back() += line[++i];
    else if (line[i] == '"')
      quoted = !quoted;
    else if (line[i] == ',' && !quoted)
      fields.emplace_back();
    else
      fields.back() += line[i];
  }
  return fields;
}

// An HTTP server on loopback (a free port, or `port`) that answers 200 to
// every POST and keeps the bodies, for what the agent or a server it talks
// to sends out. Not a stand-in for any server: just where posts land.
class HttpSink {
 public:
  explicit HttpSink(int port = 0)
      : port_(port == 0 ? server_.bind_to_any_port("127.0.0.1")
                        : (server_.bind_to_port("127.0.0.1", port) ? port : -1)) {
    server_.Post(".*", [this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard<std::mutex> guard(mu_);
      bodies_.push_back(req.body);
    });
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();  // else stop() is lost
  }
  ~HttpSink() {
    server_.stop();
    thread_.join();
  }
  HttpSink(const HttpSink&) = delete;
  HttpSink& operator=(const HttpSink&) = delete;
  int port() const { return port_; }
  std::vector<std::string> bodies() {
    std::lock_guard<std::mutex> guard(mu_);
    return bodies_;
  }

 private:
  httplib::Server server_;
  int port_;
  std::thread thread_;
  std::mutex mu_;
  std::vector<std::string> bodies_;
};

// Percent-encodes a query parameter value.
inline std::string UrlEncode(const std::string& s) {
  return httplib::detail::encode_query_param(s);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A file that holds a secret (a token): mode 0600, as the agent requires.
inline void WriteSecretFile(const std::string& path, const std::string& text) {
  WriteFile(path, text);
  chmod(path.c_str(), 0600);
}

// A fresh directory under the test temporary directory, removed with its
// content by the destructor.
using TempDir = ::ZepTestDir;

// The install tree of a started agent (support/zeptestdir.h).
using InstallDir = ::zeptest::InstallDir;

// A child process with its own environment additions, standard output and
// standard error in files. The destructor kills it if it still runs.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& out_path, const std::string& err_path)
      : out_(out_path), err_(err_path) {
    pid_ = fork();
    if (pid_ == 0) {
      dup2(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      dup2(open("/dev/null", O_RDONLY), 0);
      for (const std::string& e : env) putenv(strdup(e.c_str()));
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(strdup(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() { Stop(SIGKILL); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Running() {
    if (pid_ <= 0 || exited_) return false;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) != pid_) return true;
    exited_ = true;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return false;
  }
  // Waits up to `seconds` for the exit; returns the exit status (128 + the
  // signal for a killed process) or -1 when it still runs.
  int Wait(int seconds) {
    for (int i = 0; i < seconds * 20 && Running(); ++i) usleep(50000);
    return exited_ ? status_ : -1;
  }
  void Signal(int sig) {
    if (Running()) kill(pid_, sig);
  }
  pid_t pid() const { return pid_; }
  // Sends `sig` and waits for the exit, as Wait(30).
  int Stop(int sig = SIGTERM) {
    Signal(sig);
    return Wait(30);
  }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
  std::string out_, err_;
};

// A raw connection to 127.0.0.1:`port`, for what no HTTP client sends: a
// request cut off, sent slowly, or larger than the server accepts.
class RawClient {
 public:
  // Connects from the loopback address `from` (127.0.0.1 when null).
  explicit RawClient(int port, const char* from = nullptr)
      : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in local = addr;
    if (from != nullptr && inet_pton(AF_INET, from, &local.sin_addr) == 1) {
      bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local));  // a failure shows in connect
    }
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) closed_ = true;
  }
  ~RawClient() { close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // Sends all of `data`; false once the server has closed or reset.
  bool Send(const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
      const ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  // What arrives until the server closes or nothing comes for `wait_ms`.
  std::string Receive(int wait_ms) {
    std::string out;
    char buf[16384];
    pollfd p{fd_, POLLIN, 0};
    while (!closed_ && poll(&p, 1, wait_ms) == 1) {
      const ssize_t n = recv(fd_, buf, sizeof(buf), 0);
      if (n <= 0)
        closed_ = true;
      else
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  // True once Receive has seen the end of the stream (or the connect failed).
  bool closed() const { return closed_; }

 private:
  int fd_;
  bool closed_ = false;
};

// The status code of the first answer in `text` ("HTTP/1.1 413 ..."), 0 if none.
inline int StatusOf(const std::string& text) {
  return text.compare(0, 5, "HTTP/") == 0 && text.size() > 12 ? std::atoi(text.c_str() + 9) : 0;
}

// Polls `done` every 100 ms for up to `seconds`; its last answer (it is
// asked once more at the end, so it must not consume what it checks).
// End-to-end tests wait for the real processes this way; in-process tests
// drive the clock instead.
template <typename F>
bool Eventually(int seconds, F done) {
  for (int i = 0; i < seconds * 10 && !done(); ++i) usleep(100000);
  return done();
}

}  // namespace e2e

#endif  // ZEP_TESTS_SUPPORT_E2E_SUPPORT_H_
