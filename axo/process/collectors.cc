// The process part's metrics: the standard process_* figures read from
// /proc at each scrape, the agent's build and its subnodes. Registered with
// the registry's collectors when the process part is linked.
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"

namespace {

namespace m = axo::metrics;

// The standard process_* metrics, read from /proc/self at scrape time.
void CollectProcess() {
  static m::Gauge& cpu = m::Define(m::Kind::kRealCounter, "process_cpu_seconds_total",
                                   "Total user and system CPU time spent in seconds.")
                             .realCounter();
  AXO_GAUGE(resident, "process_resident_memory_bytes", "Resident memory size in bytes.");
  AXO_GAUGE(virtualBytes, "process_virtual_memory_bytes", "Virtual memory size in bytes.");
  AXO_GAUGE(openFds, "process_open_fds", "Number of open file descriptors.");
  AXO_GAUGE(maxFds, "process_max_fds", "Maximum number of open file descriptors.");
  AXO_GAUGE(startTime, "process_start_time_seconds",
            "Start time of the process since unix epoch in seconds.");
  const long page = sysconf(_SC_PAGESIZE);
  const long ticks = sysconf(_SC_CLK_TCK);
  unsigned long long vsize = 0;
  long long rss = 0;
  unsigned long utime = 0, stime = 0;
  unsigned long long startTicks = 0;
  if (FILE* f = std::fopen("/proc/self/stat", "r")) {
    char buf[1024];
    size_t n = std::fread(buf, 1, sizeof(buf) - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    // Fields after the command name, which may contain blanks: from ") ".
    const char* p = std::strrchr(buf, ')');
    if (p != nullptr) {
      std::sscanf(p + 2,
                  "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu %*d %*d %*d %*d %*d %*d "
                  "%llu %llu %lld",
                  &utime, &stime, &startTicks, &vsize, &rss);
    }
  }
  double bootTime = 0;
  if (FILE* f = std::fopen("/proc/stat", "r")) {
    char line[256];
    while (std::fgets(line, sizeof(line), f) != nullptr) {
      if (std::strncmp(line, "btime ", 6) == 0) bootTime = std::atof(line + 6);
    }
    std::fclose(f);
  }
  int fds = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (struct dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++fds;
    }
    closedir(d);
    --fds;  // the descriptor of the listing itself
  }
  struct rlimit lim {};
  getrlimit(RLIMIT_NOFILE, &lim);

  cpu.Set(static_cast<double>(utime + stime) / static_cast<double>(ticks));
  resident.Set(static_cast<double>(rss) * static_cast<double>(page));
  virtualBytes.Set(static_cast<double>(vsize));
  openFds.Set(fds);
  maxFds.Set(lim.rlim_cur == RLIM_INFINITY ? -1.0 : static_cast<double>(lim.rlim_cur));
  startTime.Set(bootTime + static_cast<double>(startTicks) / static_cast<double>(ticks));
}

// The agent's build and its subnodes, as the agent told the framework.
void CollectIdentity() {
  AXO_GAUGE_FAMILY(buildInfo, "zep_build_info",
                   "The agent's product and version; the value is always 1.",
                   {"product", "version"});
  AXO_GAUGE(subnodes, "zep_subnodes", "Subnodes registered with the framework.");
  AXO_Identity id = AXO_GetIdentity();
  if (!id.version.empty()) buildInfo.gauge({id.product, id.version}).Set(1);
  subnodes.Set(static_cast<double>(AXO_ListSubnodes().size()));
}

}  // namespace

namespace axo_internal {

void RegisterProcessCollectors() {
  m::AddCollector(CollectIdentity);
  m::AddCollector(CollectProcess);
}

}  // namespace axo_internal
