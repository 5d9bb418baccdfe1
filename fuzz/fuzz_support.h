// Shared set-up of the fuzz targets: a private install tree in a fresh
// temporary directory (etc directory, configuration and log directories), a
// fixed clock, and small file helpers.
#ifndef ZEP_FUZZ_FUZZ_SUPPORT_H_
#define ZEP_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "axo/base/env.h"

namespace zepfuzz {

// 2006-03-28 13:40:00 UTC.
constexpr time_t kNow = 1143553200;

inline void abortWith(const char* what) {
  fprintf(stderr, "fuzz invariant broken: %s\n", what);
  abort();
}
#define ZEPFUZZ_CHECK(cond) ((cond) ? (void)0 : ::zepfuzz::abortWith(#cond))

// The fuzz process's env: the private tree's etc directory and the fixed
// clock; the rest is the real one's.
class FuzzEnv : public axo::EnvWrapper {
 public:
  explicit FuzzEnv(std::string etcDir)
      : EnvWrapper(axo::Env::Default()), etcDir_(std::move(etcDir)) {}
  time_t Now() override { return kNow; }
  std::string EtcDir() override { return etcDir_; }

 private:
  const std::string etcDir_;
};

// Root of the private tree, made once per process: <root>/etc holds the
// base-directory file naming <root>/install, whose ZEP/config and ZEP/logs
// exist.
inline const std::string& root() {
  static const std::string dir = [] {
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base != nullptr && base[0] ? base : "/tmp") + "/zepfuzz.XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) abortWith("mkdtemp");
    for (const char* d : {"/etc", "/install/ZEP/config", "/install/ZEP/logs"}) {
      std::filesystem::create_directories(templ + d);
    }
    std::ofstream(templ + "/etc/ZEPBaseDirConfig.properties")
        << "INSTALLDIR=" << templ << "/install\n";
    // Installed for the rest of the process, never destroyed; held by a
    // static so that the leak checker sees it reachable.
    static axo::ScopedEnv* const installed = new axo::ScopedEnv(new FuzzEnv(templ + "/etc"));
    (void)installed;
    return templ;
  }();
  return dir;
}

inline std::string configDir() { return root() + "/install/ZEP/config"; }
inline std::string logDir() { return root() + "/install/ZEP/logs"; }

// Writes `size` bytes to `path`, replacing it.
inline void writeFile(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ZEPFUZZ_CHECK(out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)));
}

inline std::string readFile(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

// The number of entries of `dir`.
inline int filesIn(const std::string& dir) {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

}  // namespace zepfuzz

#endif  // ZEP_FUZZ_FUZZ_SUPPORT_H_
