// zepdcsim: record generation, file writing and the expected aggregates.
#include "dcsim.h"

#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

namespace dcsim {

namespace {

// The service operations a simulated server offers; a server uses
// --services of them, starting at an offset given by its index so that
// servers differ.
struct Operation {
  const char* port;
  const char* operation;
};
constexpr Operation kOperations[] = {
    {"OrderPort", "submitOrder"},       {"OrderPort", "cancelOrder"},
    {"OrderPort", "getOrderStatus"},    {"InventoryPort", "checkStock"},
    {"InventoryPort", "reserveItem"},   {"InventoryPort", "releaseItem"},
    {"PaymentPort", "authorize"},       {"PaymentPort", "capture"},
    {"PaymentPort", "refund"},          {"ShippingPort", "quoteShipping"},
    {"ShippingPort", "createShipment"}, {"ShippingPort", "trackShipment"},
    {"CustomerPort", "getCustomer"},    {"CustomerPort", "updateAddress"},
    {"CustomerPort", "listOrders"},     {"QuotePort", "getQuote"},
    {"QuotePort", "acceptQuote"},       {"QuotePort", "expireQuote"},
};
constexpr int kNumOperations = sizeof(kOperations) / sizeof(kOperations[0]);

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

int64_t WallClockMillis() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

std::string Hex(uint64_t v) {
  char buf[17];
  snprintf(buf, sizeof(buf), "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

// The 16-character UTC time stamp "CYYMMDDHHMMSSmmm" with milliseconds 000.
std::string Timestamp(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  snprintf(buf, sizeof(buf), "%d%02d%02d%02d%02d%02d%02d000", tm.tm_year >= 100 ? 1 : 0,
           tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The service type letter the agent derives from a location code.
char TypeLetter(int location) {
  if (location == 0 || location == 1) return 'R';
  if (location == 2 || location == 3) return 'P';
  return 'X';
}

// Reads "key=value" lines of a properties file into `out`.
bool ReadProperties(const std::string& path, std::map<std::string, std::string>* out) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line[0] == '!') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    (*out)[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return true;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// mkdir -p.
bool MakeDirs(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

uint64_t Rng::Next() {
  uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

Server MakeServer(int index, int forced_env, const std::string& prefix) {
  Server s;
  char buf[64];
  s.index = index;
  snprintf(buf, sizeof(buf), "appsrv%02d", index);
  s.server_name = prefix + buf;
  snprintf(buf, sizeof(buf), "host%02d.example.com", index);
  s.host_name = buf;
  snprintf(buf, sizeof(buf), "10.0.%d.%d", index / 250, index % 250 + 1);
  s.ip_address = buf;
  snprintf(buf, sizeof(buf), "node%02d", index);
  s.node = buf;
  snprintf(buf, sizeof(buf), "cell%d", (index + 1) / 2);
  s.cell = buf;
  snprintf(buf, sizeof(buf), "cluster%d", (index + 2) / 3);
  s.cluster = buf;
  s.env = forced_env > 0 ? forced_env : (index - 1) % 9 + 1;
  return s;
}

std::string HeaderBlock(const Server& s) {
  return "#ZEP.version=01.01.00\n#ZEP.env=" + std::to_string(s.env) + "\n#ZEP.node=" + s.node +
         "\n#ZEP.cell=" + s.cell + "\n#ZEP.servername=" + s.server_name +
         "\n#ZEP.cluster=" + s.cluster + "\n#ZEP.hostname=" + s.host_name +
         "\n#ZEP.ipaddress=" + s.ip_address + "\n";
}

std::string RecordLine(const Record& r) {
  // Field 11 is not read by the agent; collectors write 0 there.
  return std::to_string(r.location) + ";" + std::to_string(r.time_ms) + ";" + r.thread_id + ";" +
         std::to_string(r.elapsed) + ";" + r.port + ";" + r.operation + ";" +
         std::to_string(r.one_way) + ";" + std::to_string(r.fault_response) + ";" +
         std::to_string(r.length) + ";" + r.current_correlator + ";0;" + r.previous_correlator +
         ";" + r.remote_host + ";" + r.remote_ip + ";" + r.fault_code + ";" + r.fault_string + "\n";
}

RecordSource::RecordSource(const Options& options, const Server& server)
    : options_(options),
      server_(server),
      rng_(options.seed * 0x100000001b3ULL + static_cast<uint64_t>(server.index)) {
  for (const LocationWeight& w : options.locations) total_weight_ += w.weight;
}

Record RecordSource::Next(int64_t time_ms) {
  Record r;
  const Operation& op =
      kOperations[(rng_.Below(options_.services) + server_.index) % kNumOperations];
  r.port = op.port;
  r.operation = op.operation;
  int pick = static_cast<int>(rng_.Below(total_weight_));
  for (const LocationWeight& w : options_.locations) {
    if (pick < w.weight) {
      r.location = w.code;
      break;
    }
    pick -= w.weight;
  }
  r.time_ms = time_ms;
  r.thread_id = "WebContainer : " + std::to_string(rng_.Below(16));
  r.one_way = rng_.Below(10) == 0 ? 1 : 0;
  // A one-way message has no response, so no elapsed time: collectors write -1.
  r.elapsed = r.one_way ? -1 : 1 + static_cast<long>(rng_.Below(500));
  r.length = 200 + static_cast<long>(rng_.Below(4800));
  r.current_correlator = Hex(rng_.Next());
  r.previous_correlator = rng_.Below(2) == 0 ? std::string() : Hex(rng_.Next());
  int client = static_cast<int>(rng_.Below(options_.clients)) + 1;
  r.remote_host = "client" + std::to_string(client) + ".example.com";
  r.remote_ip = "192.168.1." + std::to_string(client);
  if (rng_.Unit() < options_.fault_ratio) {
    r.fault_response = 1;
    // Some faults carry only a fault string; fault strings may hold ";".
    if (rng_.Below(4) != 0) r.fault_code = "Server.Unavailable";
    r.fault_string = "Request " + std::to_string(rng_.Below(100000)) + " rejected; retry later";
  }
  return r;
}

bool RecordSource::WantJunk() {
  return options_.junk_ratio > 0 && rng_.Unit() < options_.junk_ratio;
}

std::string RecordSource::Junk() {
  switch (rng_.Below(3)) {
    case 0:
      return "2;1143553569123;too;few;fields\n";
    case 1:
      return std::string("\x01\x02\x7f garbage \xff\xfe;;\n");
    default:
      return std::string(3000, 'x') + "\n";  // longer than a line buffer, no fields
  }
}

void Expectations::Stats::Add(long v) {
  if (v < 0) return;
  ++count;
  sum += static_cast<double>(v);
  sum_sq += static_cast<double>(v) * static_cast<double>(v);
  if (v < min) min = v;
  if (v > max) max = v;
}

void Expectations::Add(const Server& server, const Record& r) {
  int64_t seconds = r.time_ms / 1000;
  int64_t begin = seconds / window_seconds_ * window_seconds_;
  Bucket& b = buckets_[Key(server.server_name, server.host_name, r.port, r.operation,
                           TypeLetter(r.location), begin)];
  b.length.Add(r.length);
  b.elapsed.Add(r.elapsed);
  if (!r.fault_code.empty() || !r.fault_string.empty()) ++b.faults;
  if (r.location == 2) ++b.location2;
}

void Expectations::Write(FILE* out) const {
  fprintf(out,
          "server,host,port,operation,svctype,svcopertyp,intbegtime,begin,intlength,"
          "msgcount,avgmsglen,sdmsglen,minmsglen,maxmsglen,lensum,"
          "etmsgcount,avgetime,sdetime,minetime,maxetime,etsum,fltcount,loc2count\n");
  // Average and standard deviation as the agent computes them: truncated
  // toward zero, -1 when nothing was counted, a variance below 0 read as 0.
  auto stats_columns = [](const Stats& s) {
    char buf[160];
    if (s.count < 1) {
      snprintf(buf, sizeof(buf), "%ld,-1,-1,-1,-1,%.0f", s.count, s.sum);
      return std::string(buf);
    }
    double n = static_cast<double>(s.count);
    double var = s.count > 1 ? (s.sum_sq - s.sum * s.sum / n) / (n - 1) : 0.0;
    if (var < 0) var = 0;
    snprintf(buf, sizeof(buf), "%ld,%ld,%ld,%ld,%ld,%.0f", s.count, static_cast<long>(s.sum / n),
             static_cast<long>(std::sqrt(var)), s.min, s.max, s.sum);
    return std::string(buf);
  };
  for (const auto& [key, b] : buckets_) {
    const auto& [server, host, port, operation, type, begin] = key;
    int svctype = type == 'R' ? 0 : type == 'P' ? 1 : -1;
    std::string opertyp = port + ":" + operation + ":" + (svctype == 0 ? "R" : "P");
    fprintf(out, "%s,%s,%s,%s,%d,%s,%s,%lld,%ld,%s,%s,%ld,%ld\n", server.c_str(), host.c_str(),
            port.c_str(), operation.c_str(), svctype, opertyp.c_str(), Timestamp(begin).c_str(),
            static_cast<long long>(begin), window_seconds_ / 60, stats_columns(b.length).c_str(),
            stats_columns(b.elapsed).c_str(), b.faults, b.location2);
  }
}

FileSink::FileSink(const std::string& dir, const Server& server) : dir_(dir), server_(server) {}

FileSink::~FileSink() {
  if (file_ != nullptr) {
    fclose(file_);
    unlink(temp_path_.c_str());
  }
}

bool FileSink::Open() {
  // The temporary name neither begins with "ZEP." nor ends with
  // ".metric.log", so the agent leaves it alone.
  temp_path_ =
      JoinPath(dir_, ".zepdcsim." + std::to_string(getpid()) + "." + server_.server_name + ".tmp");
  file_ = fopen(temp_path_.c_str(), "w");
  if (file_ == nullptr) {
    error_ = "cannot create " + temp_path_ + ": " + strerror(errno);
    return false;
  }
  records_ = 0;
  std::string header = HeaderBlock(server_);
  if (fwrite(header.data(), 1, header.size(), file_) != header.size()) {
    error_ = "cannot write " + temp_path_ + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool FileSink::Append(const std::string& line, bool is_record) {
  if (file_ == nullptr && !Open()) return false;
  if (fwrite(line.data(), 1, line.size(), file_) != line.size()) {
    error_ = "cannot write " + temp_path_ + ": " + strerror(errno);
    return false;
  }
  if (is_record) ++records_;
  return true;
}

bool FileSink::Complete() {
  if (file_ == nullptr) return true;
  int rc = fclose(file_);
  file_ = nullptr;
  records_ = 0;
  if (rc != 0) {
    error_ = "cannot close " + temp_path_ + ": " + strerror(errno);
    unlink(temp_path_.c_str());
    return false;
  }
  // link() fails with EEXIST instead of replacing a file of the same name
  // that the agent has not taken yet: try the next sequence number.
  for (int attempt = 0; attempt < 1000000; ++attempt) {
    char name[160];
    snprintf(name, sizeof(name), "ZEP.%s.%06ld.metric.log", server_.server_name.c_str(),
             ++sequence_);
    std::string final_path = JoinPath(dir_, name);
    if (link(temp_path_.c_str(), final_path.c_str()) == 0) {
      unlink(temp_path_.c_str());
      ++files_;
      return true;
    }
    if (errno == EEXIST) continue;
    // A file system without hard links: check, then rename.
    struct stat st;
    if (stat(final_path.c_str(), &st) == 0) continue;
    if (rename(temp_path_.c_str(), final_path.c_str()) == 0) {
      ++files_;
      return true;
    }
    error_ = "cannot rename " + temp_path_ + " to " + final_path + ": " + strerror(errno);
    unlink(temp_path_.c_str());
    return false;
  }
  error_ = "no free file name for " + server_.server_name;
  unlink(temp_path_.c_str());
  return false;
}

std::string ResolveLogDir(const std::string& etc_dir, std::string* error) {
  std::map<std::string, std::string> base;
  std::string base_file = JoinPath(etc_dir, "ZEPBaseDirConfig.properties");
  if (!ReadProperties(base_file, &base) || base["INSTALLDIR"].empty()) {
    *error = "no INSTALLDIR in " + base_file;
    return "";
  }
  std::string install = base["INSTALLDIR"];
  std::map<std::string, std::string> config;
  if (ReadProperties(JoinPath(install, "ZEP/config/ZEP.dc.properties"), &config) &&
      !config["dc.logging.directory"].empty()) {
    return config["dc.logging.directory"];
  }
  return JoinPath(install, "ZEP/logs");
}

namespace {

// One simulated server with its generator and its files.
struct Feed {
  Server server;
  RecordSource source;
  FileSink sink;
  long written = 0;
  int64_t file_opened_ms = 0;
  Feed(const Options& o, int index)
      : server(MakeServer(index, o.env, o.server_prefix)),
        source(o, server),
        sink(o.log_dir, server) {}
};

class Simulation {
 public:
  explicit Simulation(const Options& o) : o_(o), expect_(o.window_minutes) {}

  int Main() {
    if (!OpenReports()) return 1;
    for (int i = 1; i <= o_.servers; ++i) feeds_.push_back(std::make_unique<Feed>(o_, i));
    int64_t start_ms = WallClockMillis();
    switch (o_.time_base) {
      case TimeBase::kNow:
        base_ms_ = start_ms;
        break;
      case TimeBase::kOld:
        base_ms_ = start_ms - 86400LL * 1000;
        break;
      case TimeBase::kEpoch:
        base_ms_ = o_.epoch_seconds * 1000;
        break;
    }
    bool ok = o_.rate > 0 ? Paced(start_ms) : Burst();
    for (auto& f : feeds_) ok = Complete(*f) && ok;
    return FinishReports(ok) ? 0 : 1;
  }

 private:
  // Count mode: every server's records as fast as possible, message times
  // step_ms apart from the base.
  bool Burst() {
    for (auto& f : feeds_) {
      for (long i = 0; i < o_.count && !g_stop; ++i) {
        if (!Emit(*f, base_ms_ + i * o_.step_ms, 0)) return false;
      }
    }
    return true;
  }

  // Rate mode: records spread round-robin over the servers at the rate,
  // message times following the wall clock from the base.
  bool Paced(int64_t start_ms) {
    long emitted = 0;
    size_t next = 0;
    while (!g_stop) {
      int64_t now_ms = WallClockMillis();
      double elapsed = (now_ms - start_ms) / 1000.0;
      if (o_.duration > 0 && elapsed >= o_.duration) break;
      long due = static_cast<long>(o_.rate * elapsed) - emitted;
      for (; due > 0; --due) {
        Feed* f = NextFeed(&next);
        if (f == nullptr) return true;  // every server reached --count
        if (!Emit(*f, base_ms_ + (now_ms - start_ms), now_ms)) return false;
        ++emitted;
      }
      for (auto& feed : feeds_) {
        if (feed->sink.records_in_file() > 0 &&
            now_ms - feed->file_opened_ms >= static_cast<int64_t>(o_.file_seconds * 1000)) {
          if (!Complete(*feed)) return false;
        }
      }
      usleep(20 * 1000);
    }
    return true;
  }

  Feed* NextFeed(size_t* next) {
    for (size_t tried = 0; tried < feeds_.size(); ++tried) {
      Feed* f = feeds_[(*next)++ % feeds_.size()].get();
      if (o_.count == 0 || f->written < o_.count) return f;
    }
    return nullptr;
  }

  bool Emit(Feed& f, int64_t time_ms, int64_t now_ms) {
    if (f.sink.records_in_file() == 0) f.file_opened_ms = now_ms;
    if (f.source.WantJunk() && !f.sink.Append(f.source.Junk(), false)) return Fail(f);
    Record r = f.source.Next(time_ms);
    if (!f.sink.Append(RecordLine(r), true)) return Fail(f);
    ++f.written;
    ++total_;
    expect_.Add(f.server, r);
    if (csv_ != nullptr) WriteCsv(f.server, r);
    if (f.sink.records_in_file() >= o_.per_file) return Complete(f);
    return true;
  }

  bool Complete(Feed& f) { return f.sink.Complete() || Fail(f); }

  bool Fail(Feed& f) {
    fprintf(stderr, "zepdcsim: %s\n", f.sink.error().c_str());
    return false;
  }

  FILE* OpenReport(const std::string& path) {
    if (path.empty()) return nullptr;
    if (path == "-") return stdout;
    FILE* f = fopen(path.c_str(), "w");
    if (f == nullptr)
      fprintf(stderr, "zepdcsim: cannot write %s: %s\n", path.c_str(), strerror(errno));
    return f;
  }

  bool OpenReports() {
    csv_ = OpenReport(o_.csv_path);
    if (!o_.csv_path.empty() && csv_ == nullptr) return false;
    if (csv_ != nullptr) {
      fprintf(csv_,
              "server,host,location,time_ms,thread,elapsed,port,operation,oneway,faultresp,"
              "length,currcorr,prevcorr,rmhost,rmip,faultcode,faultstring\n");
    }
    return true;
  }

  void WriteCsv(const Server& s, const Record& r) {
    fprintf(csv_, "%s,%s,%d,%lld,%s,%ld,%s,%s,%d,%d,%ld,%s,%s,%s,%s,%s,%s\n", s.server_name.c_str(),
            s.host_name.c_str(), r.location, static_cast<long long>(r.time_ms),
            CsvField(r.thread_id).c_str(), r.elapsed, r.port.c_str(), r.operation.c_str(),
            r.one_way, r.fault_response, r.length, r.current_correlator.c_str(),
            r.previous_correlator.c_str(), r.remote_host.c_str(), r.remote_ip.c_str(),
            CsvField(r.fault_code).c_str(), CsvField(r.fault_string).c_str());
  }

  bool FinishReports(bool ok) {
    if (csv_ != nullptr && csv_ != stdout && fclose(csv_) != 0) ok = false;
    if (!o_.expect_path.empty()) {
      FILE* out = OpenReport(o_.expect_path);
      if (out == nullptr) return false;
      expect_.Write(out);
      if (out != stdout && fclose(out) != 0) ok = false;
    }
    fflush(stdout);
    if (o_.verbose) {
      long files = 0;
      for (auto& f : feeds_) files += f->sink.files_written();
      fprintf(stderr, "zepdcsim: wrote %ld records in %ld files for %d servers to %s\n", total_,
              files, o_.servers, o_.log_dir.c_str());
    }
    return ok;
  }

  const Options& o_;
  Expectations expect_;
  std::vector<std::unique_ptr<Feed>> feeds_;
  int64_t base_ms_ = 0;
  long total_ = 0;
  FILE* csv_ = nullptr;
};

}  // namespace

int Run(const Options& options) {
  Options o = options;
  if (o.log_dir.empty()) {
    std::string etc = o.etc_dir;
    if (etc.empty() && getenv("ZEP_ETC_DIR") != nullptr) etc = getenv("ZEP_ETC_DIR");
    if (etc.empty()) {
      fprintf(stderr, "zepdcsim: no log directory: give --dir, --etc-dir or ZEP_ETC_DIR\n");
      return 2;
    }
    std::string error;
    o.log_dir = ResolveLogDir(etc, &error);
    if (o.log_dir.empty()) {
      fprintf(stderr, "zepdcsim: %s\n", error.c_str());
      return 1;
    }
  }
  if (!MakeDirs(o.log_dir)) {
    fprintf(stderr, "zepdcsim: cannot create log directory %s: %s\n", o.log_dir.c_str(),
            strerror(errno));
    return 1;
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return Simulation(o).Main();
}

}  // namespace dcsim
