// Shared set-up of the fuzz targets: a private install tree in a fresh
// temporary directory (etc directory, configuration and log directories), a
// fixed clock, and the error-only trace level.
#ifndef ZEP_FUZZ_FUZZ_SUPPORT_H_
#define ZEP_FUZZ_FUZZ_SUPPORT_H_

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "foundation/zepport.h"
#include "foundation/zeputil.h"

namespace zepfuzz {

// 2006-03-28 13:40:00 UTC.
constexpr time_t kNow = 1143553200;
inline time_t fixedNow() { return kNow; }

inline void abortWith(const char* what) {
  fprintf(stderr, "fuzz invariant broken: %s\n", what);
  abort();
}
#define ZEPFUZZ_CHECK(cond) \
  do {                      \
    if (!(cond)) ::zepfuzz::abortWith(#cond); \
  } while (0)

// Root of the private tree, made once per process:
//   <root>/etc/ZEPBaseDirConfig.properties names <root>/install;
//   <root>/install/ZEP/config and <root>/install/ZEP/logs exist.
inline const std::string& root() {
  static const std::string dir = [] {
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base != nullptr && base[0] ? base : "/tmp") +
                        "/zepfuzz.XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) abortWith("mkdtemp");
    for (const char* sub : {"/etc", "/install", "/install/ZEP", "/install/ZEP/config",
                            "/install/ZEP/logs"}) {
      mkdir((templ + sub).c_str(), 0700);
    }
    FILE* f = fopen((templ + "/etc/ZEPBaseDirConfig.properties").c_str(), "w");
    if (f == nullptr) abortWith("base-directory file");
    fprintf(f, "INSTALLDIR=%s/install\n", templ.c_str());
    fclose(f);
    ZEPUTIL::setEtcDirForTesting((templ + "/etc").c_str());
    ZEPPORT::setClockForTesting(fixedNow);
    return templ;
  }();
  return dir;
}

inline std::string configDir() { return root() + "/install/ZEP/config"; }
inline std::string logDir() { return root() + "/install/ZEP/logs"; }

// Writes `size` bytes to `path`, replacing it.
inline void writeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) abortWith("cannot write a scratch file");
  if (size > 0 && fwrite(data, 1, size, f) != size) abortWith("short write of a scratch file");
  fclose(f);
}

inline std::string readFile(const std::string& path) {
  std::string out;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

// The number of entries of `dir` whose names do not begin with a dot.
inline int filesIn(const std::string& dir) {
  int n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) n += (e->d_name[0] != '.');
    closedir(d);
  }
  return n;
}

}  // namespace zepfuzz

#endif  // ZEP_FUZZ_FUZZ_SUPPORT_H_
