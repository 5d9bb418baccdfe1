// A real temporary directory for tests of file-handling code, removed with
// everything in it when the object goes out of scope.
#ifndef ZEP_TESTS_SUPPORT_ZEPTESTDIR_H_
#define ZEP_TESTS_SUPPORT_ZEPTESTDIR_H_

#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

class ZepTestDir {
 public:
  ZepTestDir() {
    std::string tmpl = ::testing::TempDir() + "zeptest-XXXXXX";
    char* made = mkdtemp(tmpl.data());
    EXPECT_NE(made, nullptr);
    dir_ = tmpl;
  }
  ~ZepTestDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ZepTestDir(const ZepTestDir&) = delete;
  ZepTestDir& operator=(const ZepTestDir&) = delete;

  const std::string& dir() const { return dir_; }
  const std::string& path() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Writes `content` byte for byte to `name` (created or truncated).
  void write(const std::string& name, const std::string& content) const {
    std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
    out << content;
  }
  // The whole content of `name`, or "<missing>".
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }
  // Sets the modification (and access) time of `name`.
  void setMtime(const std::string& name, time_t t) const {
    struct timeval tv[2] = {{t, 0}, {t, 0}};
    EXPECT_EQ(utimes(path(name).c_str(), tv), 0);
  }

 private:
  std::string dir_;
};

namespace zeptest {

// A private install tree below `root`: <root>/etc/ZEPBaseDirConfig.properties
// names <root>/install, whose ZEP/config holds the configuration file and
// ZEP/logs is the log directory. The configuration file is written with
// `settings` ("key=value" lines) unless it exists already; with no settings
// at all (nullopt) there is none, as on a fresh install.
struct InstallDir {
  std::string root, etc, install, config, logs;

  explicit InstallDir(const std::string& r, std::optional<std::string> settings = "")
      : root(r),
        etc(r + "/etc"),
        install(r + "/install"),
        config(install + "/ZEP/config/ZEP.dc.properties"),
        logs(install + "/ZEP/logs") {
    for (auto d : {etc, logs, install + "/ZEP/config"}) std::filesystem::create_directories(d);
    std::ofstream(etc + "/ZEPBaseDirConfig.properties") << "INSTALLDIR=" << install << "\n";
    if (settings && !std::filesystem::exists(config)) std::ofstream(config) << *settings;
  }
};

}  // namespace zeptest

#endif  // ZEP_TESTS_SUPPORT_ZEPTESTDIR_H_
