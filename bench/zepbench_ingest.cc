// `zepbench ingest`: metric log files through the dispatcher's real path.
//
//   zepbench ingest [--situations K] [--times old|new] FILE...
//   zepbench ingest [--situations K] [--times old|new]
//                   --generate N [--servers S] [--services V]
//
// Each FILE is hard-linked (or copied, across file systems) into the log
// directory of a fresh install tree as "ZEP.benchI.metric.log"; the agent
// moves the link into its cache, so FILE itself is never touched. With
// --generate the files are written instead: N records over S servers (one
// file each), V service operations per server; every server and each of its
// service operations is registered beforehand (untimed) so that the figure
// is the cost per record, not per new operation. The timed part is the
// dispatcher's init (for FILEs) and the passes that take and read every
// file: cache rename, header, every record into a metric line, service
// inventory, aggregation buckets, situation counting, record and bucket
// limits. A FILE's records are counted by the agent (zep_records_read_total),
// so FILEs cannot be read with "--metrics off".
//
// K message-count situations are registered before the first pass: one on
// (*,*,*) that every location-2 record reaches, the others on client
// addresses no record carries, so the lookups are paid and one counter
// moves. With "--times new" the clock is set before the first record, so
// the records count as newer than the agent's start; with "old" (the
// default) it is set a day after the last one.
//
// Prints "records=N seconds=S records_per_second=R rss_mib=M", then a second
// line with the processor seconds of the timed part, the lines kept and the
// heap bytes each kept line holds (with the allocator's overhead).
//
// The per-service metric families carry the agent's default labels and cap
// (--max-series N changes the cap). With --scrape, a third line gives what
// GET /metrics then answers: the label sets of each per-service family, the
// records folded into overflow, the sample lines, the bytes plain and
// gzip-compressed, the time per scrape against the Prometheus C++ client's
// serializer holding the same series, and the heap the untimed registration
// of every operation took (series and inventory: a run with --max-series 1
// gives the part that is not the series'). --unique-operations names every
// operation apart (by default the names repeat from port to port).
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "logs/zepdclst.h"
#include "logs/zepmelem.h"
#include "runtime/zepdisp.h"
#include "situations/zepdc.h"
#include "zepbench.h"

namespace zepbench {
namespace {

using D = ZEPDISP_dispatcher;

struct Options {
  int situations = 0;
  bool newTimes = false;
  long long generate = 0;
  int servers = 1;
  int services = 50;
  std::vector<std::string> files;
  bool scrape = false;
  bool uniqueNames = false;  // --unique-operations: every operation named apart
  long long maxSeries = 0;   // 0: the agent's default
};

int usage() {
  std::fprintf(stderr,
               "usage: zepbench ingest [--situations K] [--times old|new] FILE...\n"
               "       zepbench ingest [--situations K] [--times old|new] --generate N "
               "[--servers S] [--services V]\n"
               "       (either form also takes --metrics on|off, --max-series N, --scrape,\n"
               "        --unique-operations)\n");
  return 2;
}

bool parse(int argc, char** argv, Options* o) {
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--situations" && hasValue) {
      o->situations = std::atoi(argv[++i]);
    } else if (a == "--times" && hasValue) {
      const std::string v = argv[++i];
      if (v != "old" && v != "new") return false;
      o->newTimes = v == "new";
    } else if (a == "--generate" && hasValue) {
      o->generate = std::atoll(argv[++i]);
    } else if (a == "--servers" && hasValue) {
      o->servers = std::atoi(argv[++i]);
    } else if (a == "--services" && hasValue) {
      o->services = std::atoi(argv[++i]);
    } else if (a == "--metrics" && hasValue) {
      // Benchmark-only: the cost of the metrics registry's updates.
      const std::string v = argv[++i];
      if (v != "on" && v != "off") return false;
      axo::metrics::SetEnabled(v == "on");
    } else if (a == "--scrape") {
      o->scrape = true;
    } else if (a == "--unique-operations") {
      o->uniqueNames = true;
    } else if (a == "--max-series" && hasValue) {
      o->maxSeries = std::atoll(argv[++i]);
    } else if (a.rfind("--", 0) == 0) {
      return false;
    } else {
      o->files.push_back(a);
    }
  }
  if (o->situations < 0 || o->servers < 1 || o->services < 1 || o->maxSeries < 0) return false;
  // Files are counted by the agent's own counter, which --metrics off stops.
  if (!axo::metrics::Enabled() && o->generate == 0) return false;
  return o->generate > 0 ? o->files.empty() : !o->files.empty();
}

// The message seconds of the first and the last record of a file.
struct FileFacts {
  long long firstSeconds = -1;
  long long lastSeconds = -1;
};

long long recordSeconds(const char* line, size_t len) {
  const char* semi = static_cast<const char*>(std::memchr(line, ';', len));
  if (semi == nullptr) return -1;
  long long ms = 0;
  for (const char* p = semi + 1; p < line + len && *p >= '0' && *p <= '9'; ++p) {
    ms = ms * 10 + (*p - '0');
  }
  return ms / 1000;
}

// The seconds of the first (or last) record line within `len` bytes at `p`.
long long edgeRecordSeconds(const char* p, size_t len, bool last) {
  long long found = -1;
  const char* end = p + len;
  while (p < end) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
    const char* lineEnd = nl != nullptr ? nl : end;
    if (lineEnd > p && p[0] != '#' && nl != nullptr) {
      found = recordSeconds(p, lineEnd - p);
      if (!last) return found;
    }
    p = lineEnd + 1;
  }
  return found;
}

// Reads the file's first and last 64 KiB only: a pass over the whole file
// would weigh in the whole-process time the ingestion is compared by. (The
// agent counts the records: zep_records_read_total.)
bool scan(const std::string& path, FileFacts* facts) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  const off_t size = st.st_size;
  if (size > 0) {
    std::vector<char> edge(1 << 16);
    const ssize_t head = ::pread(fd, edge.data(), edge.size(), 0);
    if (head > 0) facts->firstSeconds = edgeRecordSeconds(edge.data(), head, false);
    const off_t tailAt = size > static_cast<off_t>(edge.size()) ? size - edge.size() : 0;
    const ssize_t tail = ::pread(fd, edge.data(), edge.size(), tailAt);
    if (tail > 0) facts->lastSeconds = edgeRecordSeconds(edge.data(), tail, true);
  }
  ::close(fd);
  return true;
}

bool placeFile(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) == 0) return true;
  std::error_code ec;
  return std::filesystem::copy_file(from, to, ec);
}

// Registers `k` situations: one reached by every location-2 record, the
// others on addresses no record carries.
void registerSituations(int k) {
  if (k <= 0) return;
  D::dataComputer()->CreateSituation("*", "*", "*", 60, 1000000000, 1, "bench", "BenchAll");
  for (int i = 1; i < k; ++i) {
    char address[64];
    std::snprintf(address, sizeof(address), "192.0.%d.%d", i / 256 % 256, i % 256);
    char name[32];
    std::snprintf(name, sizeof(name), "Bench%d", i);
    D::dataComputer()->CreateSituation(address, "*", "*", 60, 1000000000, 1, "bench", name);
  }
}

size_t heapInUse() { return mallinfo2().uordblks; }

// The third line of --scrape (see the top of this file).
void printScrape(size_t warmHeap) {
  namespace m = axo::metrics;
  std::string sets;
  m::ForEachFamily([&](const m::Family& f) {
    if (f.bounded() && f.name().starts_with("zep_")) {
      sets += "label_sets_" + f.name() + "=" + std::to_string(f.seriesCount()) + " ";
    }
  });
  uint64_t folded = 0;
  m::Define(m::Kind::kCounter, "zep_metrics_series_overflowed_total", "", {"family"})
      .ForEach([&](const auto&, const auto&, const m::Family::Series& s) {
        folded += s.counter.Value();
      });
  const std::string text = m::Expose(m::Format::kPrometheus);
  size_t lines = 0;
  for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
    if (text[at] != '#') ++lines;
  }
  const ScrapeFigures f = compareScrape(5);
  std::printf(
      "%soverflowed_records=%llu sample_lines=%zu scrape_bytes=%zu scrape_gzip_bytes=%zu "
      "scrape_ms=%.1f client_ms=%.1f scrape_ratio=%.3f warm_heap_bytes=%zu\n",
      sets.c_str(), static_cast<unsigned long long>(folded), lines, f.registryBytes, f.gzipBytes,
      f.registryMs, f.clientMs, f.registryMs / f.clientMs, warmHeap);
}

}  // namespace

int runIngest(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) return usage();
  axo::metrics::BoundedSettings series = AXO_BoundedSettings(AXO_Options());
  if (o.maxSeries > 0) series.maxSeries = static_cast<size_t>(o.maxSeries);
  axo::metrics::ConfigureBounded(series);
  InstallDir install;
  if (!install.ok()) {
    std::fprintf(stderr, "zepbench: cannot create a temporary install directory\n");
    return 1;
  }

  FileFacts facts;
  long long records = 0;
  const long long firstMillis = 1765000000123LL;
  if (o.generate > 0) {
    const long long perServer = o.generate / o.servers;
    for (int s = 0; s < o.servers; ++s) {
      const long long n = perServer + (s < o.generate % o.servers ? 1 : 0);
      const std::string path = install.root() + "/ZEP.bench" + std::to_string(s) + ".metric.log";
      // Records one hour long in all, as the peers' file.
      const int step = static_cast<int>(3600000 / (n > 0 ? n : 1));
      if (!writeMetricLog(path, s, o.services, n, firstMillis, step > 0 ? step : 1,
                          o.uniqueNames)) {
        std::fprintf(stderr, "zepbench: cannot write %s\n", path.c_str());
        return 1;
      }
    }
    records = o.generate;
    facts.firstSeconds = firstMillis / 1000;
    facts.lastSeconds = facts.firstSeconds + 3600;
  } else {
    for (size_t i = 0; i < o.files.size(); ++i) {
      FileFacts f;
      if (!scan(o.files[i], &f)) {
        std::fprintf(stderr, "zepbench: cannot read %s\n", o.files[i].c_str());
        return 1;
      }
      if (facts.firstSeconds < 0 || (f.firstSeconds >= 0 && f.firstSeconds < facts.firstSeconds)) {
        facts.firstSeconds = f.firstSeconds;
      }
      if (f.lastSeconds > facts.lastSeconds) facts.lastSeconds = f.lastSeconds;
      const std::string to = install.logDir() + "/ZEP.bench" + std::to_string(i) + ".metric.log";
      if (!placeFile(o.files[i], to)) {
        std::fprintf(stderr, "zepbench: cannot link or copy %s\n", o.files[i].c_str());
        return 1;
      }
    }
  }
  setFixedClock(o.newTimes ? static_cast<time_t>(facts.firstSeconds - 60)
                           : static_cast<time_t>(facts.lastSeconds + 86400));

  // Generated runs measure the cost per record: every server and its
  // operations (both service types) are registered beforehand, untimed,
  // from a short file, and the generated files are moved into the log
  // directory afterwards.
  size_t warmHeap = 0;
  if (o.generate > 0) {
    for (int s = 0; s < o.servers; ++s) {
      const std::string path = install.logDir() + "/ZEP.warm" + std::to_string(s) + ".metric.log";
      // Record i is of operation i % V, a provider's when i % 4 is 3.
      const long long warm = std::lcm(static_cast<long long>(o.services), 4LL);
      if (!writeMetricLog(path, s, o.services, warm, firstMillis - 1000, 1, o.uniqueNames)) {
        return 1;
      }
    }
    if (D::initWithoutThread() != 0) {
      std::fprintf(stderr, "zepbench: dispatcher init failed\n");
      return 1;
    }
    registerSituations(o.situations);
    const size_t heapBefore = heapInUse();
    D::runOnePass();
    warmHeap = heapInUse() - heapBefore;
    for (int s = 0; s < o.servers; ++s) {
      const std::string name = "/ZEP.bench" + std::to_string(s) + ".metric.log";
      if (std::rename((install.root() + name).c_str(), (install.logDir() + name).c_str()) != 0) {
        std::fprintf(stderr, "zepbench: cannot move %s\n", name.c_str());
        return 1;
      }
    }
  }
  axo::metrics::Counter& recordsRead =
      axo::metrics::Define(axo::metrics::Kind::kCounter, "zep_records_read_total", "").counter();
  const uint64_t recordsBefore = recordsRead.Value();
  const double start = monotonicSeconds();
  const double cpuStart = cpuSeconds();
  if (o.generate == 0) {
    if (D::initWithoutThread() != 0) {
      std::fprintf(stderr, "zepbench: dispatcher init failed\n");
      return 1;
    }
    registerSituations(o.situations);
  }
  // Each pass takes every file present; a file that cannot be moved yet is
  // taken by the next one.
  for (int pass = 0; pass < 3; ++pass) {
    D::runOnePass();
    bool left = false;
    for (const auto& e : std::filesystem::directory_iterator(install.logDir())) {
      if (e.path().filename().string().find(".metric.log") != std::string::npos) left = true;
    }
    if (!left) break;
  }
  const double seconds = monotonicSeconds() - start;
  const double cpu = cpuSeconds() - cpuStart;
  if (o.generate == 0) records = static_cast<long long>(recordsRead.Value() - recordsBefore);
  // The heap the kept lines hold: what deleting them gives back.
  int kept;
  size_t heapWithLines, heapWithout;
  {
    OSB1_ScopedLock lock(&D::metricsLogListLock);
    kept = D::metricsLogList.getNumMetricsRecords();
    ZEPMELEM_MetricLine::releaseFreeStorage();  // storage of lines deleted before
    heapWithLines = heapInUse();
    D::metricsLogList.deleteOldestMetricRecords(kept);
    ZEPMELEM_MetricLine::releaseFreeStorage();  // what the deleted lines left for reuse
    heapWithout = heapInUse();
  }

  std::printf("records=%lld seconds=%.3f records_per_second=%.0f rss_mib=%.1f\n", records, seconds,
              seconds > 0 ? records / seconds : 0.0, peakRssMiB());
  std::printf("cpu_seconds=%.3f lines_kept=%d bytes_per_kept_line=%.0f situations=%d times=%s\n",
              cpu, kept, kept > 0 ? static_cast<double>(heapWithLines - heapWithout) / kept : 0.0,
              o.situations, o.newTimes ? "new" : "old");
  if (o.scrape) printScrape(warmHeap);
  D::resetForTesting();
  restoreClock();
  return 0;
}

}  // namespace zepbench
