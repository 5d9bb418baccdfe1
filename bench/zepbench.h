// Shared pieces of the zepbench executable: a private install tree in a
// fresh temporary directory, the test clock, and the end-to-end runs.
//
// `zepbench ingest` and `zepbench sample` drive the agent through its real
// paths (dispatcher init and passes, framework samples, operator API); every
// other argument list goes to Google Benchmark, which runs the
// micro-benchmarks of bench/*_bench.cc.
#ifndef ZEP_BENCH_ZEPBENCH_H_
#define ZEP_BENCH_ZEPBENCH_H_

#include <ctime>
#include <string>

namespace zepbench {

// A private install tree: <dir>/etc holds the base-directory file naming
// <dir>/install; logs go to <dir>/install/ZEP/logs. The constructor points
// the bench's env (axo/base/env.h) at it for the etc and temporary
// directories; the destructor gives the env the real directories and clock
// back and removes the tree. Not copyable.
class InstallDir {
 public:
  // `config` is written as the data-collector configuration file.
  explicit InstallDir(const std::string& config = "");
  ~InstallDir();
  InstallDir(const InstallDir&) = delete;
  InstallDir& operator=(const InstallDir&) = delete;

  bool ok() const { return !root_.empty(); }
  const std::string& root() const { return root_; }
  std::string logDir() const { return root_ + "/install/ZEP/logs"; }

 private:
  std::string root_;
};

// Stops the clock (the agent's and the framework's) at `t`; the caller moves
// it by calling again.
void setFixedClock(time_t t);
// Gives the clock back to time().
void restoreClock();

// Peak resident set size of this process, in MiB.
double peakRssMiB();
// Seconds of a monotonic clock (for timing only; the agent never sees it).
double monotonicSeconds();
// User plus system processor seconds of this process.
double cpuSeconds();

// Writes a metric log file of `records` lines for server `server` with
// `services` service operations, message times from `firstMillis` on, one
// record every `stepMillis`. Operation i is named "operation" and i % 10 in
// port i / 10, or, with `uniqueNames`, a name of its own. Returns false when
// the file cannot be written.
bool writeMetricLog(const std::string& path, int server, int services, long long records,
                    long long firstMillis, int stepMillis, bool uniqueNames = false);

// GET `path` from 127.0.0.1:`port`; returns the bytes of the answer (head
// and body), or -1.
long long httpGet(int port, const std::string& path);

// The registry's exposition timed against the client library's serializer
// holding a copy of the same families and series, `scrapes` times each;
// also the answer's size gzip-compressed (as a scraper receives it).
struct ScrapeFigures {
  double registryMs = 0, clientMs = 0;
  size_t registryBytes = 0, clientBytes = 0, gzipBytes = 0;
  int families = 0;
};
ScrapeFigures compareScrape(int scrapes);

// The end-to-end commands; `argv` starts after the command word.
// Return the process exit status.
int runIngest(int argc, char** argv);
int runSample(int argc, char** argv);
// Defines the service families of GET /metrics at fleet size (100 servers x
// 20 operations x 4 message locations) with a value in every series;
// returns the number of label sets.
int defineServiceFamilies();

// `zepbench scrape [SCRAPES]`: registry exposition against the client library.
int runScrape(int argc, char** argv);
// `zepbench history [ROWS]`: the history writers against the database
// shells' bulk loads, and a one-day history query over the operator API.
int runHistory(int argc, char** argv);
// `zepbench tls [SCRAPES]`: GET /metrics in plain HTTP and over TLS, kept
// alive, and the first scrape of a new TLS connection.
int runTls(int argc, char** argv);

}  // namespace zepbench

#endif  // ZEP_BENCH_ZEPBENCH_H_
