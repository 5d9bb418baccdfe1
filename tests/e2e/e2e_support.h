// Support for tests that talk to real processes: a minimal loopback HTTP/1.1
// client, child processes with their own environment and output files, and a
// private install directory (base-directory file, configuration, logs).
#ifndef TESTS_E2E_E2E_SUPPORT_H_
#define TESTS_E2E_E2E_SUPPORT_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

struct HttpReply {
  int status = 0;        // 0 when no answer came
  std::map<std::string, std::string> headers;  // lower-case names
  std::string body;
};

// Sends one request to 127.0.0.1:`port` with "Connection: close" and reads
// the whole answer. Gives up after 15 seconds without data.
inline HttpReply Http(int port, const std::string& method, const std::string& target,
                      const std::string& body = "",
                      const std::vector<std::string>& extra_headers = {},
                      const std::string& version = "HTTP/1.1") {
  HttpReply reply;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return reply;
  struct timeval tv = {15, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    close(fd);
    return reply;
  }
  std::string req = method + " " + target + " " + version + "\r\nHost: 127.0.0.1\r\n" +
                    "Connection: close\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\n";
  for (const std::string& h : extra_headers) req += h + "\r\n";
  req += "\r\n" + body;
  size_t sent = 0;
  while (sent < req.size()) {
    ssize_t n = send(fd, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server may answer (413) before reading everything
    sent += static_cast<size_t>(n);
  }
  std::string raw;
  char buf[8192];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) break;
    raw.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  size_t head_end = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || head_end == std::string::npos) return reply;
  reply.status = atoi(raw.c_str() + 9);
  std::istringstream head(raw.substr(0, head_end));
  std::string line;
  std::getline(head, line);
  while (std::getline(head, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const size_t begin = line.find_first_not_of(' ', colon + 1);
    const size_t end = line.find_last_not_of("\r ");
    reply.headers[name] = begin > end ? "" : line.substr(begin, end - begin + 1);
  }
  reply.body = raw.substr(head_end + 4);
  const auto encoding = reply.headers.find("transfer-encoding");
  if (encoding != reply.headers.end() && encoding->second == "chunked") {
    // "<hex size>\r\n<data>\r\n" pieces up to a size of 0. A malformed or
    // cut-off stream leaves status 0, so that a test sees the failure.
    std::string chunked;
    chunked.swap(reply.body);
    size_t at = 0;
    for (;;) {
      const size_t eol = chunked.find("\r\n", at);
      if (eol == std::string::npos) return HttpReply{};
      const size_t size = std::stoul(chunked.substr(at, eol - at), nullptr, 16);
      if (size == 0) break;
      if (eol + 2 + size + 2 > chunked.size()) return HttpReply{};
      reply.body.append(chunked, eol + 2, size);
      at = eol + 2 + size + 2;
    }
  }
  return reply;
}

// A loopback port free at the time of the call.
inline int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

// Percent-encodes a query parameter value.
inline std::string UrlEncode(const std::string& s) {
  std::string out;
  char buf[4];
  for (unsigned char c : s) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      snprintf(buf, sizeof(buf), "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A fresh directory under the test temporary directory, removed by the
// destructor.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = std::string(getenv("TEST_TMPDIR") ? getenv("TEST_TMPDIR") : "/tmp") +
                       "/zepe2e_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A private install directory: <root>/etc/ZEPBaseDirConfig.properties names
// <root>/install; its configuration file carries `settings` (extra
// "key=value" lines); the log directory is <root>/install/ZEP/logs.
struct InstallDir {
  std::string root, etc, install, config, logs;

  explicit InstallDir(const std::string& r, const std::string& settings = "") : root(r) {
    etc = root + "/etc";
    install = root + "/install";
    config = install + "/ZEP/config/ZEP.dc.properties";
    logs = install + "/ZEP/logs";
    for (const std::string& d : {etc, install, install + "/ZEP", install + "/ZEP/config", logs}) {
      mkdir(d.c_str(), 0755);
    }
    WriteFile(etc + "/ZEPBaseDirConfig.properties", "INSTALLDIR=" + install + "\n");
    WriteFile(config, settings);
  }
};

// A child process with its own environment additions, standard output and
// standard error in files. The destructor kills it if it still runs.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& out_path, const std::string& err_path)
      : out_(out_path), err_(err_path) {
    pid_ = fork();
    if (pid_ == 0) {
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      for (const std::string& e : env) putenv(strdup(e.c_str()));
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(strdup(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (Running()) {
      kill(pid_, SIGKILL);
      Wait(30);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Running() {
    if (pid_ <= 0 || exited_) return false;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      exited_ = true;
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return false;
    }
    return true;
  }
  // Waits up to `seconds` for the exit; returns the exit status (128 + the
  // signal for a killed process) or -1 when it still runs.
  int Wait(int seconds) {
    for (int i = 0; i < seconds * 20 && Running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return exited_ ? status_ : -1;
  }
  void Signal(int sig) {
    if (Running()) kill(pid_, sig);
  }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
  std::string out_, err_;
};

// Polls `done` every 100 ms for up to `seconds`. End-to-end tests wait for
// the real processes this way; in-process tests drive the clock instead.
template <typename F>
bool Eventually(int seconds, F done) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return done();
}

}  // namespace e2e

#endif  // TESTS_E2E_E2E_SUPPORT_H_
