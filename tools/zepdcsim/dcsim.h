// zepdcsim: a data-collector simulator.
//
// Writes metric log files into a log directory exactly as the data
// collectors inside monitored application servers do: a header block of
// "#ZEP.key=value" lines naming the server, then record lines of 16
// ";"-separated fields, one per observed message. Each file is written under
// a temporary name that the agent ignores and linked to its final
// "ZEP.<server>.<sequence>.metric.log" name only when complete, so the agent
// never takes a half-written file; an existing file is never replaced.
//
// Output is deterministic: the records of a server depend only on the seed,
// the server's index, the record's index and the message time base. For
// tests the simulator also reports what it wrote: a CSV of the records, and
// the aggregates the agent is expected to compute per server, service
// operation and time window.
//
// The simulator depends on the standard library and POSIX only; it shares
// no code with the agent, so its expectations are an independent check.
#ifndef ZEPDCSIM_DCSIM_H_
#define ZEPDCSIM_DCSIM_H_

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace dcsim {

// How the message times of the records are chosen.
enum class TimeBase {
  kNow,    // the wall clock when the simulator starts
  kOld,    // one day before the simulator starts (records older than any agent start)
  kEpoch,  // a fixed time in seconds, so that tests know every time
};

// One weighted choice of a message location code.
struct LocationWeight {
  int code;
  int weight;
};

// Everything the command line sets. Defaults are the documented ones.
struct Options {
  std::string log_dir;        // where files go; empty: derived from ZEP_ETC_DIR
  std::string etc_dir;        // --etc-dir, else the ZEP_ETC_DIR environment variable
  int servers = 1;            // number of distinct simulated servers
  std::string server_prefix;  // put before each server's name (fleets of simulators)
  int services = 4;           // service operations per server
  int clients = 3;            // distinct remote clients
  long count = 0;             // records per server; 0 with a rate: unlimited
  double rate = 0;            // records per second over all servers; 0: as fast as possible
  double duration = 0;        // seconds to run in rate mode; 0: until a signal
  uint64_t seed = 1;
  double fault_ratio = 0.05;  // share of records that carry a fault
  double junk_ratio = 0;      // share of extra malformed lines (never counted)
  std::vector<LocationWeight> locations{{0, 1}, {1, 1}, {2, 2}, {3, 1}};
  TimeBase time_base = TimeBase::kNow;
  int64_t epoch_seconds = 0;  // with TimeBase::kEpoch
  int64_t step_ms = 100;      // message time between two records of a server (count mode)
  long per_file = 500;        // records per file
  double file_seconds = 1.0;  // rate mode: a non-empty file is completed after this long
  int env = 0;                // 1..9 forces every server's environment; 0 cycles them
  int window_minutes = 5;     // aggregation window of --expect
  std::string expect_path;    // --expect: aggregate report ("-" standard output)
  std::string csv_path;       // --csv: one CSV line per record ("-" standard output)
  bool verbose = false;
};

// Parses argv. Returns 0 when the simulator should run, 1 when --help was
// printed (exit 0), 2 on a usage error (message already on stderr).
int ParseOptions(int argc, char** argv, Options* options);

// Prints the usage text that documents every option.
void PrintUsage(FILE* out);

// The identity of one simulated server, as its header block states it.
struct Server {
  int index = 0;  // 1-based
  std::string server_name, host_name, ip_address, node, cell, cluster;
  int env = 1;
};

// Builds the identity of server `index` (1-based): its name is `prefix`
// followed by "appsrv" and the index; `forced_env` 0 cycles 1..9.
Server MakeServer(int index, int forced_env, const std::string& prefix);

// One record line's content.
struct Record {
  int location = 0;
  int64_t time_ms = 0;
  std::string thread_id;
  long elapsed = 0;
  std::string port, operation;
  int one_way = 0;
  int fault_response = 0;
  long length = 0;
  std::string current_correlator, previous_correlator;
  std::string remote_host, remote_ip;
  std::string fault_code, fault_string;  // both empty for a record without fault
};

// Formats the header block of a file for `server`.
std::string HeaderBlock(const Server& server);
// Formats one record line (16 fields, LF-terminated).
std::string RecordLine(const Record& record);

// A small deterministic generator (splitmix64): identical on every platform,
// unlike the distributions of <random>.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // A value in [0, n); n must be positive.
  uint64_t Below(uint64_t n) { return Next() % n; }
  // A value in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

 private:
  uint64_t state_;
};

// Makes the records of one server in order. Not thread-safe.
class RecordSource {
 public:
  RecordSource(const Options& options, const Server& server);
  // The next record, with message time `time_ms`.
  Record Next(int64_t time_ms);
  // A malformed line (too few fields, or stray bytes) for --junk-ratio.
  std::string Junk();
  // Whether a junk line goes before the next record.
  bool WantJunk();

 private:
  const Options& options_;
  const Server& server_;
  Rng rng_;
  int total_weight_ = 0;
};

// Accumulates what the agent should aggregate: per server, service
// operation (port, operation, request/response type) and window.
class Expectations {
 public:
  explicit Expectations(int window_minutes) : window_seconds_(window_minutes * 60L) {}
  void Add(const Server& server, const Record& record);
  // Writes the report as CSV with a header line.
  void Write(FILE* out) const;

 private:
  struct Stats {
    long count = 0;  // lines with a length of 0 or more
    double sum = 0, sum_sq = 0;
    long min = 2147483647, max = -1;
    void Add(long v);
  };
  struct Bucket {
    Stats length, elapsed;
    long faults = 0;
    long location2 = 0;  // lines the agent's situations count
  };
  using Key = std::tuple<std::string, std::string, std::string, std::string, char, int64_t>;
  long window_seconds_;
  std::map<Key, Bucket> buckets_;
};

// Writes one server's files into the log directory. Not thread-safe.
class FileSink {
 public:
  FileSink(const std::string& dir, const Server& server);
  ~FileSink();
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Appends a line to the open file, opening a new one (with its header)
  // first when none is open. Returns false on an I/O error.
  bool Append(const std::string& line, bool is_record);
  // Completes the open file: closes it and links it to its final name.
  // Returns false on an I/O error. Does nothing when no file is open.
  bool Complete();
  long records_in_file() const { return records_; }
  long files_written() const { return files_; }
  const std::string& error() const { return error_; }

 private:
  bool Open();
  std::string dir_;
  const Server& server_;
  FILE* file_ = nullptr;
  std::string temp_path_;
  long records_ = 0;
  long files_ = 0;
  long sequence_ = 0;
  std::string error_;
};

// Resolves the log directory when --dir is not given: the base-directory
// file "ZEPBaseDirConfig.properties" in the etc directory names INSTALLDIR;
// the configuration file "ZEP/config/ZEP.dc.properties" there may name
// "dc.logging.directory"; otherwise "ZEP/logs" under INSTALLDIR. Returns an
// empty string (and sets `error`) when it cannot.
std::string ResolveLogDir(const std::string& etc_dir, std::string* error);

// Runs the simulation. Returns the process exit status.
int Run(const Options& options);

}  // namespace dcsim

#endif  // ZEPDCSIM_DCSIM_H_
