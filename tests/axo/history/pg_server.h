// A real PostgreSQL server for tests: a fresh cluster in a mkdtemp directory
// under $TMPDIR, listening on a free loopback port with its socket in that
// directory, fsync off, stopped and removed by the destructor. As root the
// server runs as the packaged `postgres` user (initdb refuses root). The
// superuser is `zep`, trusted without a password (replication too).
#ifndef TESTS_AXO_PG_SERVER_H_
#define TESTS_AXO_PG_SERVER_H_

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/e2e_support.h"

namespace pgtest {

using e2e::FreePort;

class PgServer {
 public:
  // A primary named `name` (its cluster_name, which a standby's walreceiver
  // reports as its application_name).
  explicit PgServer(const std::string& name = "pga") : name_(name) {
    if (Prepare() && Run("initdb -D '" + dir_ + "/data' -A trust --no-sync -U zep", "initdb")) {
      Start();
    }
  }
  // A streaming standby of `primary` named `name`, attached through a
  // replication slot of that name.
  PgServer(const PgServer& primary, const std::string& name) : name_(name) {
    if (!Prepare()) return;
    if (primary.Psql("SELECT pg_create_physical_replication_slot('" + name + "')")
            .starts_with("ERROR")) {
      error_ = "cannot create the replication slot " + name;
      return;
    }
    if (Run("pg_basebackup -h 127.0.0.1 -p " + std::to_string(primary.port()) +
                " -U zep -c fast -D '" + dir_ + "/data' -R -X stream -S " + name,
            "pg_basebackup")) {
      Start();
    }
  }
  ~PgServer() {
    if (!dir_.empty()) {
      Stop();
      std::filesystem::remove_all(dir_, ignored_);
    }
  }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // Empty when the server runs; otherwise why it does not.
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  std::string Uri(const std::string& db = "postgres") const {
    return "postgresql://zep@127.0.0.1:" + std::to_string(port_) + "/" + db;
  }

  bool Start() {
    return Run("pg_ctl -D '" + dir_ + "/data' -w -t 60 -l '" + dir_ + "/log' -o \"-p " +
                   std::to_string(port_) + " -k '" + dir_ + "' -c listen_addresses=127.0.0.1 " +
                   "-c fsync=off -c full_page_writes=off -c max_connections=200 -c cluster_name=" +
                   name_ + "\" start",
               "pg_ctl start");
  }
  bool Stop() { return Run("pg_ctl -D '" + dir_ + "/data' -m fast -w stop", "pg_ctl stop"); }

  // The unaligned output of `sql` run by psql (rows on lines, fields split
  // by '|'), or "ERROR: ..." when psql fails.
  std::string Psql(const std::string& sql, const std::string& db = "postgres") const {
    std::string quoted = "'";
    for (char c : sql) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    std::string out;
    const int rc = e2e::RunCommand(
        bin_ + "/psql -X -q -At -v ON_ERROR_STOP=1 '" + Uri(db) + "' -c " + quoted + "'", &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return rc == 0 ? out : "ERROR: " + out;
  }
  const std::string& bin() const { return bin_; }

 private:
  // Finds the binaries, makes the server's directory and picks its port.
  bool Prepare() {
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ignored_)) {
      std::string bin = entry.path().string() + "/bin";
      if (std::filesystem::exists(bin + "/initdb") && bin > bin_) bin_ = bin;
    }
    if (bin_.empty()) {
      error_ =
          "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb; run "
          "scripts/install-deps)";
      return false;
    }
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zeppg_XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
      error_ = "mkdtemp failed in " + tmpl;
      return false;
    }
    dir_ = tmpl;
    if (geteuid() == 0) {
      const passwd* pw = getpwnam("postgres");
      if (pw == nullptr || chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
        error_ = "cannot give " + dir_ + " to the postgres user";
        return false;
      }
      as_ = "runuser -u postgres -- ";
    }
    port_ = FreePort();
    return true;
  }
  bool Run(const std::string& command, const char* what) {
    std::string cmd = as_ + bin_ + "/" + command + " >>'" + dir_ + "/setup.log' 2>&1";
    if (std::system(cmd.c_str()) == 0) return true;
    error_ = std::string(what) + " failed: " + e2e::ReadFile(dir_ + "/setup.log").substr(0, 2048);
    return false;
  }

  std::error_code ignored_;
  std::string name_, bin_, dir_, as_, error_;
  int port_ = 0;
};

}  // namespace pgtest

#endif  // TESTS_AXO_PG_SERVER_H_
