// Shared pieces of the zepbench executable.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "axo/base/env.h"
#include "support/fake_env.h"
#include "zepbench.h"

namespace zepbench {
namespace {

// The env of the whole bench process: what is not set passes on to the
// real one. Installed at first use and never removed or destroyed, so that
// threads still running at exit find it.
zeptest::FakeEnv& benchEnv() {
  static zeptest::FakeEnv* const env = new zeptest::FakeEnv;
  static axo::ScopedEnv* const installed [[maybe_unused]] = new axo::ScopedEnv(env);
  return *env;
}

bool writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

InstallDir::InstallDir(const std::string& config) {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl =
      std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/zepbench.XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) return;
  std::error_code ec;
  std::filesystem::create_directories(tmpl + "/etc", ec);
  std::filesystem::create_directories(tmpl + "/install/ZEP/config", ec);
  std::filesystem::create_directories(tmpl + "/install/ZEP/logs", ec);
  if (ec ||
      !writeText(tmpl + "/etc/ZEPBaseDirConfig.properties", "INSTALLDIR=" + tmpl + "/install\n") ||
      !writeText(tmpl + "/install/ZEP/config/ZEP.dc.properties", config)) {
    std::filesystem::remove_all(tmpl, ec);
    return;
  }
  root_ = tmpl;
  benchEnv().SetEtcDir(root_ + "/etc");
  benchEnv().SetTmpDir(root_);
}

InstallDir::~InstallDir() {
  if (root_.empty()) return;
  benchEnv().SetEtcDir("");
  benchEnv().SetTmpDir("");
  restoreClock();
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void setFixedClock(time_t t) { benchEnv().SetNow(t); }

void restoreClock() { benchEnv().SetClock(nullptr); }

double peakRssMiB() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0.0;
  return usage.ru_maxrss / 1024.0;  // kilobytes on Linux
}

double cpuSeconds() {
  struct timespec ts;
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) return 0.0;
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double monotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool writeMetricLog(const std::string& path, int server, int services, long long records,
                    long long firstMillis, int stepMillis, bool uniqueNames) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::fprintf(f,
               "#ZEP.servername=server%d\n#ZEP.env=1\n#ZEP.hostname=host%d.example\n"
               "#ZEP.version=1.0\n#ZEP.node=n1\n#ZEP.cell=c1\n#ZEP.cluster=cl1\n"
               "#ZEP.ipaddress=10.0.0.5\n",
               server, server);
  // A small deterministic mix: every 50th record a fault, every 4th from a
  // provider (location 2), elapsed -1 now and then.
  unsigned state = 12345u + static_cast<unsigned>(server);
  for (long long i = 0; i < records; ++i) {
    state = state * 1103515245u + 12345u;
    const int svc = static_cast<int>(i % services);
    const int loc = (i % 4 == 3) ? 2 : 0;
    const int elapsed = (state >> 8) % 37 == 0 ? -1 : static_cast<int>((state >> 8) % 900);
    const bool fault = i % 50 == 49;
    std::fprintf(f,
                 uniqueNames ? "%d;%lld;worker-%u;%d;Port%03d;operation%04d;0;%d;%u;"
                               "%08x%08x%08x%08x%08x;;;client%02u.example;10.1.0.%u;%s;%s\n"
                             : "%d;%lld;worker-%u;%d;Port%03d;operation%02d;0;%d;%u;"
                               "%08x%08x%08x%08x%08x;;;client%02u.example;10.1.0.%u;%s;%s\n",
                 loc, firstMillis + i * stepMillis, (state >> 4) % 32, elapsed, svc / 10,
                 uniqueNames ? svc : svc % 10, fault ? 1 : 0, 100 + (state >> 12) % 900, state,
                 state ^ 1u, state ^ 2u, state ^ 3u, static_cast<unsigned>(i), (state >> 16) % 20,
                 (state >> 16) % 20, fault ? "E42" : "", fault ? "service failed" : "");
  }
  return std::fclose(f) == 0;
}

long long httpGet(int port, const std::string& path) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  long long total = -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
    const std::string req =
        "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nConnection: close\r\n\r\n";  // the API answers 421 to a Host not naming it
    if (::send(fd, req.data(), req.size(), 0) == static_cast<ssize_t>(req.size())) {
      std::vector<char> buf(1 << 16);
      total = 0;
      ssize_t n;
      while ((n = ::recv(fd, buf.data(), buf.size(), 0)) > 0) total += n;
      if (n < 0) total = -1;
    }
  }
  ::close(fd);
  return total;
}

}  // namespace zepbench
