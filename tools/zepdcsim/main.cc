// zepdcsim: command line.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dcsim.h"

namespace dcsim {

void PrintUsage(FILE* out) {
  fputs(
      "Usage: zepdcsim [OPTION]...\n"
      "Writes metric log files into a log directory as data collectors do.\n"
      "Each file is written under a temporary name and appears under its final\n"
      "name ZEP.<server>.<sequence>.metric.log only when complete.\n"
      "\n"
      "Where:\n"
      "  --dir DIR             log directory to write into (created if missing)\n"
      "  --etc-dir DIR         without --dir: directory holding ZEPBaseDirConfig.properties;\n"
      "                        the log directory is dc.logging.directory of\n"
      "                        ZEP/config/ZEP.dc.properties under INSTALLDIR, else\n"
      "                        ZEP/logs under INSTALLDIR (default: $ZEP_ETC_DIR)\n"
      "\n"
      "What:\n"
      "  --servers N           simulated servers, each with its own name, host, node,\n"
      "                        cell, cluster and environment (1..999, default 1)\n"
      "  --server-prefix P     put P before every server's name, so that simulators\n"
      "                        of different hosts differ (letters, digits, '_';\n"
      "                        at most 8 characters; default none)\n"
      "  --services N          service operations per server (1..18, default 4)\n"
      "  --clients N           distinct remote clients (1..250, default 3)\n"
      "  --env CODE            environment code 1..9 for every server (default: cycle 1..9)\n"
      "  --locations LIST      weighted message location codes, CODE:WEIGHT,...\n"
      "                        (codes 0..9; default 0:1,1:1,2:2,3:1)\n"
      "  --fault-ratio F       share of records carrying a fault, 0..1 (default 0.05)\n"
      "  --junk-ratio F        share of extra malformed lines, 0..1 (default 0)\n"
      "  --seed N              seed of the generator; equal seeds give equal records\n"
      "                        (default 1)\n"
      "\n"
      "How many and when:\n"
      "  --count N             records per server; without --rate they are written at\n"
      "                        once and the simulator exits; with --rate it stops when\n"
      "                        every server has written N (0: no limit)\n"
      "  --rate R              records per second over all servers, spread round-robin;\n"
      "                        runs until --duration or SIGINT/SIGTERM\n"
      "  --duration S          seconds to run with --rate (default: until a signal)\n"
      "  --time-base B         message times: 'now' (wall clock, default), 'old' (one\n"
      "                        day ago) or a fixed time in seconds since 1970\n"
      "  --step-ms N           without --rate: milliseconds between the message times\n"
      "                        of two records of a server (default 100)\n"
      "  --per-file N          records per file (default 500)\n"
      "  --file-seconds S      with --rate: a file is completed after S seconds even\n"
      "                        when not full (default 1)\n"
      "\n"
      "Reports (PATH '-' is standard output):\n"
      "  --expect PATH         CSV of the aggregates the agent should compute per\n"
      "                        server, service operation and window: counts, sums,\n"
      "                        averages, deviations, extremes, faults, location-2 count\n"
      "  --window-minutes M    window length of --expect: 5, 10, 15, 20, 30 or 60\n"
      "                        (default 5)\n"
      "  --csv PATH            CSV of every record written\n"
      "  --verbose             summary on standard error at the end\n"
      "  --help                this text\n"
      "\n"
      "Exit status: 0 success, 1 I/O error, 2 usage error.\n",
      out);
}

namespace {

bool ParseLong(const std::string& s, long lo, long hi, long* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool ParseDouble(const std::string& s, double lo, double hi, double* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = strtod(s.c_str(), &end);
  if (errno != 0 || *end != '\0' || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

bool ParseLocations(const std::string& s, std::vector<LocationWeight>* out) {
  std::vector<LocationWeight> list;
  long total = 0;
  size_t pos = 0;
  while (pos <= s.size()) {
    size_t comma = s.find(',', pos);
    std::string item = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    size_t colon = item.find(':');
    long code, weight = 1;
    if (!ParseLong(item.substr(0, colon), 0, 9, &code)) return false;
    if (colon != std::string::npos && !ParseLong(item.substr(colon + 1), 0, 1000000, &weight)) {
      return false;
    }
    list.push_back({static_cast<int>(code), static_cast<int>(weight)});
    total += weight;
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  if (total <= 0) return false;
  *out = list;
  return true;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool has_value = false;
    size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    auto need = [&]() {
      if (has_value) return true;
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    auto bad = [&]() {
      fprintf(stderr, "zepdcsim: bad or missing value for %s\nTry 'zepdcsim --help'.\n",
              arg.c_str());
      return 2;
    };
    long n = 0;
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return 1;
    } else if (arg == "--verbose") {
      o->verbose = true;
    } else if (arg == "--dir") {
      if (!need() || value.empty()) return bad();
      o->log_dir = value;
    } else if (arg == "--etc-dir") {
      if (!need() || value.empty()) return bad();
      o->etc_dir = value;
    } else if (arg == "--servers") {
      if (!need() || !ParseLong(value, 1, 999, &n)) return bad();
      o->servers = static_cast<int>(n);
    } else if (arg == "--server-prefix") {
      // Subnode names hold 20 characters of host and server name.
      const char* const kNameChars =
          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
      if (!need() || value.size() > 8 || value.find_first_not_of(kNameChars) != std::string::npos) {
        return bad();
      }
      o->server_prefix = value;
    } else if (arg == "--services") {
      if (!need() || !ParseLong(value, 1, 18, &n)) return bad();
      o->services = static_cast<int>(n);
    } else if (arg == "--clients") {
      if (!need() || !ParseLong(value, 1, 250, &n)) return bad();
      o->clients = static_cast<int>(n);
    } else if (arg == "--env") {
      if (!need() || !ParseLong(value, 1, 9, &n)) return bad();
      o->env = static_cast<int>(n);
    } else if (arg == "--locations") {
      if (!need() || !ParseLocations(value, &o->locations)) return bad();
    } else if (arg == "--fault-ratio") {
      if (!need() || !ParseDouble(value, 0, 1, &o->fault_ratio)) return bad();
    } else if (arg == "--junk-ratio") {
      if (!need() || !ParseDouble(value, 0, 1, &o->junk_ratio)) return bad();
    } else if (arg == "--seed") {
      if (!need() || !ParseLong(value, 0, 2147483647L, &n)) return bad();
      o->seed = static_cast<uint64_t>(n);
    } else if (arg == "--count") {
      if (!need() || !ParseLong(value, 0, 1000000000L, &o->count)) return bad();
    } else if (arg == "--rate") {
      if (!need() || !ParseDouble(value, 0, 1e7, &o->rate)) return bad();
    } else if (arg == "--duration") {
      if (!need() || !ParseDouble(value, 0, 1e9, &o->duration)) return bad();
    } else if (arg == "--time-base") {
      if (!need()) return bad();
      if (value == "now") {
        o->time_base = TimeBase::kNow;
      } else if (value == "old") {
        o->time_base = TimeBase::kOld;
      } else if (ParseLong(value, 1000, 4102444800L, &n)) {
        o->time_base = TimeBase::kEpoch;
        o->epoch_seconds = n;
      } else {
        return bad();
      }
    } else if (arg == "--step-ms") {
      if (!need() || !ParseLong(value, 0, 86400000L, &n)) return bad();
      o->step_ms = n;
    } else if (arg == "--per-file") {
      if (!need() || !ParseLong(value, 1, 100000000L, &o->per_file)) return bad();
    } else if (arg == "--file-seconds") {
      if (!need() || !ParseDouble(value, 0.01, 86400, &o->file_seconds)) return bad();
    } else if (arg == "--window-minutes") {
      if (!need() || !ParseLong(value, 5, 60, &n) || 60 % n != 0 || n == 6 || n == 12) return bad();
      o->window_minutes = static_cast<int>(n);
    } else if (arg == "--expect") {
      if (!need() || value.empty()) return bad();
      o->expect_path = value;
    } else if (arg == "--csv") {
      if (!need() || value.empty()) return bad();
      o->csv_path = value;
    } else {
      fprintf(stderr, "zepdcsim: unknown option %s\nTry 'zepdcsim --help'.\n", arg.c_str());
      return 2;
    }
  }
  if (o->count == 0 && o->rate == 0) {
    fprintf(stderr, "zepdcsim: give --count N, --rate R or both\nTry 'zepdcsim --help'.\n");
    return 2;
  }
  return 0;
}

}  // namespace dcsim

int main(int argc, char** argv) {
  dcsim::Options options;
  int rc = dcsim::ParseOptions(argc, argv, &options);
  if (rc == 1) return 0;
  if (rc != 0) return rc;
  return dcsim::Run(options);
}
