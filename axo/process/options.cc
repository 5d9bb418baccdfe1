// The framework's command-line options and the options file, the usage
// text, and the files that hold secrets.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>

#include "axo/base/files.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/process/state.h"

using axo_internal::P;
using axo_internal::Process;

namespace {

// Parses a --listen value into `o`; see AXO_Options.
bool ParseListen(const std::string& value, AXO_Options* o) {
  if (value == "none") {
    o->listen = false;
    return true;
  }
  size_t colon = value.rfind(':');
  std::string host = colon == std::string::npos ? "" : value.substr(0, colon);
  std::string port = colon == std::string::npos ? value : value.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    if (host.empty()) return false;
  } else if (host.find(':') != std::string::npos) {
    return false;  // an IPv6 host goes in brackets
  }
  long long n;
  if (!axo_internal::ParseInteger(port, 0, 65535, &n)) return false;
  o->listen = true;
  o->listenHost = host.empty() ? "127.0.0.1" : host;
  o->listenPort = static_cast<int>(n);
  return true;
}

// Checks an --allowed-hosts value: entries NAME or NAME:PORT ([IPV6] in
// brackets), comma-separated, none empty.
bool CheckHostList(const std::string& value) {
  size_t start = 0;
  for (;;) {
    const size_t comma = value.find(',', start);
    std::string host;
    int port = 0;
    if (!axo_internal::SplitAuthority(value.substr(start, comma - start), &host, &port)) {
      return false;
    }
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

// Parses a count of seconds or days: 1 to 999999999.
bool ParseCount(const std::string& v, int* out) {
  long long n;
  if (!axo_internal::ParseInteger(v, 1, 999999999, &n)) return false;
  *out = static_cast<int>(n);
  return true;
}

// Parses a duration: a whole number of seconds, or of minutes or hours
// with the unit m or h (s for seconds may be written), 0 to 10 years.
bool ParseDuration(const std::string& v, int64_t* out) {
  static const struct {
    char unit;
    int64_t seconds;
  } kUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}};
  std::string digits = v;
  int64_t scale = 1;
  for (const auto& u : kUnits) {
    if (!v.empty() && v.back() == u.unit) {
      digits = v.substr(0, v.size() - 1);
      scale = u.seconds;
    }
  }
  long long n;
  constexpr long long kTenYears = 10LL * 366 * 86400;
  if (!axo_internal::ParseInteger(digits, 0, kTenYears / scale, &n)) return false;
  *out = n * scale;
  return true;
}

// Every option but --help and --version, in the order of the usage text,
// with its lines there, and where its value goes: a text that must not be
// empty, a count of 1 to 999999999, a flag (given alone on the command
// line, "true" or "false" in the file), or (none of them) a value with a
// rule of its own in ApplyOption.
struct OptionSpec {
  const char* name;
  const char* usage;
  std::string AXO_Options::*text = nullptr;
  int AXO_Options::*count = nullptr;
  bool AXO_Options::*flag = nullptr;
};
const OptionSpec kOptionSpecs[] = {
    {"--listen",
     "  --listen HOST:PORT        operator API address (default 127.0.0.1:1920);\n"
     "                            :PORT or PORT listen on 127.0.0.1; none: no API\n"},
    {"--token-file", "  --token-file PATH         require this bearer token on changing requests\n",
     &AXO_Options::tokenFile},
    {"--trace", "  --trace UNIT=BITS,...     trace levels per unit (all= for every unit)\n",
     &AXO_Options::trace},
    {"--trace-file",
     "  --trace-file PATH         write trace records to PATH (default standard error)\n",
     &AXO_Options::traceFile},
    {"--history-db",
     "  --history-db PATH|CONNINFO  collect history into this SQLite file, or into\n"
     "                            the PostgreSQL warehouse of a libpq connection\n"
     "                            string (postgresql:// URI or 'host=... dbname=...')\n",
     &AXO_Options::historyDb},
    {"--history-interval",
     "  --history-interval SECS   history collection interval (default 300)\n", nullptr,
     &AXO_Options::historyInterval},
    {"--history-tables", "  --history-tables LIST     tables collected (default: the agent's)\n",
     &AXO_Options::historyTables},
    {"--history-retain-days",
     "  --history-retain-days N   remove history older than N days (default: keep)\n", nullptr,
     &AXO_Options::historyRetainDays},
    {"--history-write-timeout",
     "  --history-write-timeout SECS  deadline of each warehouse write and commit and\n"
     "                            of each connection attempt; at it the connection is\n"
     "                            dropped and the rows wait (default: the interval,\n"
     "                            at least 10, at most 60)\n",
     nullptr, &AXO_Options::historyWriteTimeout},
    {"--config",
     "  --config FILE             read options from FILE (key = value lines);\n"
     "                            the command line wins; SIGHUP re-reads it\n",
     &AXO_Options::configFile},
    {"--alertmanager-url",
     "  --alertmanager-url URL    send situation events to this Alertmanager\n"
     "                            (http[s]://HOST[:PORT][/PATH]; repeatable)\n"},
    {"--max-situations",
     "  --max-situations N        situations that may exist at once (default 1000)\n", nullptr,
     &AXO_Options::maxSituations},
    {"--metrics-labels",
     "  --metrics-labels LIST     labels of the per-service metrics, some of subnode,\n"
     "                            port,operation,msgloc (default subnode,operation,\n"
     "                            msgloc; the histograms never carry msgloc)\n"},
    {"--metrics-max-series",
     "  --metrics-max-series N    label sets per per-service metric (default 20000);\n"
     "                            the records of more count as __overflow__\n",
     nullptr, &AXO_Options::metricsMaxSeries},
    {"--metrics-series-ttl",
     "  --metrics-series-ttl TIME a label set not updated this long leaves /metrics\n"
     "                            (seconds, or with s, m or h; default 1h; 0: never)\n"},
    {"--answer-min-rate",
     "  --answer-min-rate KIB     the slowest a client may take an answer, in KiB per\n"
     "                            second after a 5 s grace (default 128); a slower\n"
     "                            one is cut off\n",
     nullptr, &AXO_Options::answerMinRateKiB},
    {"--row-answers",
     "  --row-answers N           table and history answers written at once (default\n"
     "                            1); the others wait, other requests go past them\n",
     nullptr, &AXO_Options::rowAnswers},
    {"--situations-file", "  --situations-file FILE    keep the situations in FILE over restarts\n",
     &AXO_Options::situationsFile},
    {"--web-config",
     "  --web-config FILE         TLS, client certificates, basic-auth users and\n"
     "                            headers of the operator API (exporter toolkit format)\n",
     &AXO_Options::webConfig},
    {"--allowed-hosts",
     "  --allowed-hosts LIST      names a request's Host may give besides the API's\n"
     "                            address (NAME or NAME:PORT, comma-separated)\n"},
    {"--max-password-checks",
     "  --max-password-checks N   basic-auth passwords checked at once (default 2);\n"
     "                            past it a new password is answered 429 unchecked\n",
     nullptr, &AXO_Options::maxPasswordChecks},
    {"--allow-unauthenticated-changes",
     "  --allow-unauthenticated-changes\n"
     "                            without --token-file, let anyone change the agent\n"
     "                            (demos and tests only; changes are refused otherwise)\n",
     nullptr, nullptr, &AXO_Options::allowUnauthenticatedChanges},
    {"--api-max-connections",
     "  --api-max-connections N   operator API connections open at once (default 1000;\n"
     "                            fewer under a low descriptor limit)\n",
     nullptr, &AXO_Options::apiMaxConnections},
    {"--api-connections-per-address",
     "  --api-connections-per-address N\n"
     "                            of them, connections one client address may hold\n"
     "                            (default: an eighth of --api-max-connections)\n",
     nullptr, &AXO_Options::apiConnectionsPerAddress},
    {"--api-requests-per-address",
     "  --api-requests-per-address N\n"
     "                            requests of one client address served at once; its\n"
     "                            further requests wait their turn (default 2)\n",
     nullptr, &AXO_Options::apiRequestsPerAddress},
    {"--check-web-config",
     "  --check-web-config FILE   check a web configuration file, print OK or why not\n",
     &AXO_Options::checkWebConfig},
};

const OptionSpec* FindOption(const std::string& name) {
  for (const OptionSpec& spec : kOptionSpecs) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

bool TakesValue(const std::string& name) { return FindOption(name) != nullptr; }

}  // namespace

// --- the usage text ---------------------------------------------------------------

void AXO_PrintUsage(FILE* out, const char* program) {
  fprintf(out, "Usage: %s [options]\n", program == nullptr ? "agent" : program);
  for (const OptionSpec& spec : kOptionSpecs) fputs(spec.usage, out);
  fputs(
      "  --help                    print this text\n"
      "  --version                 print the version\n",
      out);
}

namespace {

// One option as given: its name with "--", its value, and where it was
// given ("" on the command line, "FILE:LINE: " in the options file).
struct OptionPair {
  std::string name;
  std::string value;
  std::string where;
};

// Applies one option to `o`, the one place that knows every option's
// values. Requires: TakesValue(pair.name). Returns false with `*error` for
// a bad value.
bool ApplyOption(const OptionPair& pair, AXO_Options* o, std::string* error) {
  const std::string& name = pair.name;
  const std::string& value = pair.value;
  const OptionSpec* spec = FindOption(name);
  std::string reason = value;  // what the message shows after the name
  bool ok = true;
  if (spec->text != nullptr) {
    ok = !value.empty() && (name != "--trace" || TRK1_CheckSpec(value));
    o->*spec->text = value;
  } else if (spec->count != nullptr) {
    ok = ParseCount(value, &(o->*spec->count));
    if (!ok && name == "--metrics-max-series") reason += " (expected 1 to 999999999 label sets)";
  } else if (spec->flag != nullptr) {
    ok = value == "true" || value == "false";
    o->*spec->flag = value == "true";
    if (!ok) reason += " (expected true or false)";
  } else if (name == "--allowed-hosts") {
    ok = CheckHostList(value);
    if (ok) o->allowedHosts = value;
    if (!ok) reason += " (expected NAME or NAME:PORT, comma-separated)";
  } else if (name == "--listen") {
    ok = ParseListen(value, o);
    if (!ok) reason += " (expected HOST:PORT, :PORT, PORT or none)";
  } else if (name == "--metrics-labels") {
    axo::metrics::BoundedSettings settings;
    ok = axo::metrics::ParseBoundedLabels(value, &settings, &reason);
    if (ok) o->metricsLabels = value;
  } else if (name == "--metrics-series-ttl") {
    ok = ParseDuration(value, &o->metricsSeriesTtl);
    if (!ok) reason += " (expected seconds, or a number with the unit s, m or h; 0: never)";
  } else if (name == "--alertmanager-url") {
    const axo::Status url = axo_internal::CheckHttpUrl(value, "an Alertmanager URL");
    ok = url.ok();
    if (ok)
      o->alertmanagerUrls.push_back(value);
    else
      reason = url.message();
  }
  if (!ok) {
    // In the file an option is named by its key, without "--".
    *error = pair.where + "bad value for " + (pair.where.empty() ? name : name.substr(2)) + ": " +
             reason;
  }
  return ok;
}

// Reads the "key = value" lines of the options file `path` into `pairs`.
bool ReadOptionsFile(const std::string& path, std::vector<OptionPair>* pairs, std::string* error) {
  constexpr size_t kMaxOptionsFileBytes = 1 << 20;
  std::string content;
  if (axo::Status s = axo_internal::ReadRegularFile(path, kMaxOptionsFileBytes, &content);
      !s.ok()) {
    *error = "cannot read the options file " + path + ": " + s.message();
    return false;
  }
  std::istringstream in(content);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string_view text = axo_internal::TrimSpace(line);
    if (text.empty() || text.front() == '#') continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    const size_t eq = text.find('=');
    const std::string key(axo_internal::TrimSpace(text.substr(0, eq == text.npos ? 0 : eq)));
    if (eq == text.npos || key.empty()) {
      *error = where + "expected key = value";
      return false;
    }
    if (key == "config" || key == "check-web-config") {
      *error = where + key + " cannot be set in an options file";
      return false;
    }
    if (key.rfind("--", 0) == 0 || !TakesValue("--" + key)) {
      *error = where + "unknown option: " + key;
      return false;
    }
    pairs->push_back(
        {"--" + key, std::string(axo_internal::TrimSpace(text.substr(eq + 1))), where});
  }
  return true;
}

}  // namespace

int axo_internal::ParseAllOptions(int argc, char** argv, AXO_Options* options, std::string* error,
                                  std::map<std::string, std::string>* given) {
  std::vector<OptionPair> command_line;
  std::string config_file;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i] == nullptr ? "" : argv[i];
    if (arg == "--help") return AXO_OPTIONS_HELP;
    if (arg == "--version") return AXO_OPTIONS_VERSION;
    std::string name = arg, value;
    bool has_value = false;
    size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    const OptionSpec* spec = FindOption(name);
    if (spec == nullptr) {
      *error = "unknown option: " + arg;
      return AXO_OPTIONS_ERROR;
    }
    if (!has_value && spec->flag != nullptr) {
      value = "true";
    } else if (!has_value) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        *error = "option " + name + " needs a value";
        return AXO_OPTIONS_ERROR;
      }
      value = argv[++i];
    }
    if (name == "--config") config_file = value;
    command_line.push_back({name, value, ""});
  }
  // The file's values first, without the options the command line gives.
  std::vector<OptionPair> pairs;
  if (!config_file.empty() && !ReadOptionsFile(config_file, &pairs, error)) {
    return AXO_OPTIONS_ERROR;
  }
  std::erase_if(pairs, [&](const OptionPair& f) {
    return std::any_of(command_line.begin(), command_line.end(),
                       [&](const OptionPair& c) { return c.name == f.name; });
  });
  pairs.insert(pairs.end(), command_line.begin(), command_line.end());
  AXO_Options o;
  std::map<std::string, std::string> values;
  for (const OptionPair& pair : pairs) {
    if (!ApplyOption(pair, &o, error)) return AXO_OPTIONS_ERROR;
    std::string& v = values[pair.name.substr(2)];
    v += (v.empty() ? "" : " ") + pair.value;
  }
  *options = o;
  if (given != nullptr) *given = std::move(values);
  return o.checkWebConfig.empty() ? AXO_OPTIONS_OK : AXO_OPTIONS_CHECKED;
}

int AXO_ParseOptionsForTesting(int argc, char** argv, AXO_Options* options, std::string* error) {
  return axo_internal::ParseAllOptions(argc, argv, options, error, nullptr);
}

axo::Status AXO_ReadTokenFile(const std::string& path, std::string* token) {
  constexpr size_t kMaxTokenFileBytes = 64 * 1024;
  std::string text;
  if (axo::Status s = AXO_ReadSecretFile("token file", path, kMaxTokenFileBytes, &text); !s.ok()) {
    return s;
  }
  text.resize(std::min(text.size(), text.find('\n')));  // the first line
  const std::string_view line = axo_internal::TrimSpace(text);
  if (line.empty()) return axo::Status::Failed("token file " + path + " holds no token");
  *token = line;
  return axo::Status::OK();
}

axo::Status AXO_ReadSecretFile(const std::string& what, const std::string& path, size_t limit,
                               std::string* out) {
  struct stat st;
  if (axo::Status s = axo_internal::ReadRegularFile(path, limit, out, &st); !s.ok()) {
    return axo::Status::Failed("cannot read " + what + " " + path + ": " + s.message());
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return axo::Status::Failed(what + " " + path + " has mode " + mode +
                               ": it must be readable and writable by its owner only (chmod 600)");
  }
  const uid_t self = geteuid();
  if (st.st_uid != 0 && st.st_uid != self) {
    return axo::Status::Failed(
        what + " " + path + " is owned by user " + std::to_string(st.st_uid) +
        ": it must be owned by root or by the agent's own user (" + std::to_string(self) + ")");
  }
  return axo::Status::OK();
}

axo::metrics::BoundedSettings AXO_BoundedSettings(const AXO_Options& options) {
  axo::metrics::BoundedSettings settings;
  std::string error;
  axo::metrics::ParseBoundedLabels(options.metricsLabels, &settings,
                                   &error);  // checked when parsed
  settings.maxSeries = static_cast<size_t>(options.metricsMaxSeries);
  settings.ttlSeconds = options.metricsSeriesTtl;
  return settings;
}

AXO_Options AXO_GetOptions() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  return p.options;
}
