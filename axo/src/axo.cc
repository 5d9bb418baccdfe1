// Process binding, options, identity, the main loop and the subnode registry.
#include "axo/axo.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "axo/alerts.h"
#include "axo/history.h"
#include "axo/http_api.h"
#include "axo/trk1.h"
#include "axo/vexor.h"
#include "axo_internal.h"

TRK1_UNIT(axo_unit, "AXOMAIN");

namespace {

constexpr const char kFrameworkVersion[] = "AXO framework stand-in 1.0";

using axo_internal::CopyBounded;

struct Service {
  const char* name;
  AXO_ServiceStart start;
  void (*stop)();
};

// How long omxmain waits, in all, for the services and the shutdown hooks
// to stop before it gives up on them.
constexpr int kShutdownSeconds = 10;

// Process-wide framework state. Never destroyed: threads may use it at exit.
struct Process {
  std::mutex mu;
  bool bound = false;
  std::string program = "agent";  // names the process in start-up errors
  AXO_Options options;
  AXO_Identity identity;
  AXO_AgentLoader loader = nullptr;
  AXO_CommandCallback callback = nullptr;
  std::string callbackProduct;
  std::vector<Service> hooks;  // shutdown hooks: name and function (`stop`)
  std::vector<Service> services;
  std::vector<AXO_SubnodeInfo> subnodes;
  std::vector<AXO_SubnodeInfo> pending;
  int registerRc = 0;
  int sendRc = 0;
  bool systemNameOverride = false;
  std::string systemName;
  std::vector<std::string> args;             // OSB1_Main's argv, for reloads
  std::map<std::string, std::string> given;  // the options given, by name
  struct ReloadHook {
    std::vector<std::string> options;
    AXO_ReloadHook hook;
  };
  std::vector<ReloadHook> reloadHooks;
};

Process& P() {
  static Process* p = new Process;
  return *p;
}

// Host and origin node are handed out as C strings that stay valid; they are
// rewritten only by the identity setters.
char g_hostname[65];
char g_originnode[33];

std::atomic<time_t (*)()> g_clock{nullptr};

// --- shutdown signalling ----------------------------------------------------
//
// A self-pipe: AXO_Shutdown and the signal handlers write one byte, omxmain
// polls the read end: kReloadByte asks for a reload, any other byte for the
// end of the loop. write() is async-signal-safe.
int g_pipe[2] = {-1, -1};
std::once_flag g_pipe_once;

void MakePipe() {
  std::call_once(g_pipe_once, [] {
    if (pipe(g_pipe) != 0) {
      g_pipe[0] = g_pipe[1] = -1;
      return;
    }
    for (int fd : g_pipe) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
  });
}

constexpr char kStopByte = 1;
constexpr char kReloadByte = 2;

void WakeMainLoop(char byte = kStopByte) {
  if (g_pipe[1] < 0) return;
  ssize_t rc = write(g_pipe[1], &byte, 1);  // a full pipe already wakes the loop
  (void)rc;
}

extern "C" void OnStopSignal(int sig) {
  int saved = errno;
  WakeMainLoop(sig == SIGHUP ? kReloadByte : kStopByte);
  errno = saved;
}

// SIGINT and SIGTERM wake the main loop instead of ending the process, and
// SIGHUP asks it for a reload. They are caught from OSB1_Main on, so that a
// signal during the agent's start-up still ends in an orderly return from
// omxmain.
struct sigaction g_old_int, g_old_term, g_old_hup;
bool g_handlers_installed = false;  // changed by the main thread only

// Returns true when this call installed the handlers.
bool InstallStopHandlers() {
  if (g_handlers_installed) return false;
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &g_old_int);
  sigaction(SIGTERM, &action, &g_old_term);
  sigaction(SIGHUP, &action, &g_old_hup);
  g_handlers_installed = true;
  return true;
}

void RestoreStopHandlers() {
  if (!g_handlers_installed) return;
  sigaction(SIGINT, &g_old_int, nullptr);
  sigaction(SIGTERM, &g_old_term, nullptr);
  sigaction(SIGHUP, &g_old_hup, nullptr);
  g_handlers_installed = false;
}

void DrainPipe() {
  char buf[64];
  while (g_pipe[0] >= 0 && read(g_pipe[0], buf, sizeof(buf)) > 0) {
  }
}

// Blocks until a stop byte arrives, reloading the options for each reload
// byte on the way.
void WaitForShutdown() {
  if (g_pipe[0] < 0) {
    // Without a pipe there is no way to be woken; sleep until a signal ends us.
    for (;;) pause();
  }
  for (;;) {
    struct pollfd pfd = {g_pipe[0], POLLIN, 0};
    while (poll(&pfd, 1, -1) < 0 && errno == EINTR) {
    }
    char buf[64];
    const ssize_t n = read(g_pipe[0], buf, sizeof(buf));
    if (n <= 0) continue;
    bool reload = false;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] != kReloadByte) return;
      reload = true;
    }
    if (reload) {
      AXO_Notify("RELOADING=1");
      AXO_ReloadOptions();
      AXO_Notify("READY=1");
    }
  }
}

// --- options -------------------------------------------------------------------

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

// Parses a count of seconds or days: 1 to 999999999.
bool ParseCount(const std::string& v, int* out) {
  long long n;
  if (!axo_internal::ParseInteger(v, 1, 999999999, &n)) return false;
  *out = static_cast<int>(n);
  return true;
}

// Recomputes the host and origin-node texts. Requires P().mu.
void RefreshHostLocked(Process& p) {
  std::string host = p.identity.hostname;
  if (host.empty()) {
    char buf[65] = "";
    if (gethostname(buf, sizeof(buf) - 1) == 0) {
      buf[sizeof(buf) - 1] = '\0';
      host = buf;
      host = host.substr(0, host.find('.'));
    }
  }
  CopyBounded(g_hostname, sizeof(g_hostname), host);
  std::string origin =
      host.empty() ? std::string()
                   : (p.identity.nodeType.empty() ? host : host + ":" + p.identity.nodeType);
  CopyBounded(g_originnode, sizeof(g_originnode), origin);
  p.identity.originnode = g_originnode;
}

std::string Text(const char* s) { return s == nullptr ? std::string() : std::string(s); }

// The framework's own services, started by omxmain in this order.
void RegisterStandardServices() {
  AXO_RegisterService("operator API", AXO_StartOperatorApi, AXO_StopOperatorApi);
  AXO_RegisterService("history collector", AXO_StartHistory, AXO_StopHistory);
  AXO_RegisterService("alert sender", axo::alerts::StartService, axo::alerts::StopService);
  // What a reload can change without a restart. (The URLs were checked when
  // the file was parsed.)
  AXO_OnReload({"alertmanager-url"}, [](const AXO_Options&, const AXO_Options& after) {
    std::string ignored;
    axo::alerts::SetUrls(after.alertmanagerUrls, &ignored);
  });
  AXO_OnReload({"history-interval"}, [](const AXO_Options&, const AXO_Options& after) {
    AXO_SetHistoryInterval(after.historyInterval);
  });
  // Read from the options at each creation: nothing to do but say so.
  AXO_OnReload({"max-situations"}, [](const AXO_Options&, const AXO_Options&) {});
}

// Every option that takes a value (all but --help and --version), in the
// order of the usage text, with its lines there, and where its value goes:
// a text that must not be empty, a count of 1 to 999999999, or (neither) a
// value with a rule of its own in ApplyOption.
struct OptionSpec {
  const char* name;
  const char* usage;
  std::string AXO_Options::*text = nullptr;
  int AXO_Options::*count = nullptr;
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
     "  --history-db PATH|URI     collect history into this SQLite file, or into\n"
     "                            the PostgreSQL warehouse at a postgresql:// URI\n",
     &AXO_Options::historyDb},
    {"--history-interval",
     "  --history-interval SECS   history collection interval (default 300)\n", nullptr,
     &AXO_Options::historyInterval},
    {"--history-tables", "  --history-tables LIST     tables collected (default ZEPSMT,ZEPINV)\n",
     &AXO_Options::historyTables},
    {"--history-retain-days",
     "  --history-retain-days N   remove history older than N days (default: keep)\n", nullptr,
     &AXO_Options::historyRetainDays},
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
};

const OptionSpec* FindOption(const std::string& name) {
  for (const OptionSpec& spec : kOptionSpecs) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

bool TakesValue(const std::string& name) { return FindOption(name) != nullptr; }

}  // namespace

// --- process binding -------------------------------------------------------------

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
  } else if (name == "--listen") {
    ok = ParseListen(value, o);
    if (!ok) reason += " (expected HOST:PORT, :PORT, PORT or none)";
  } else if (name == "--alertmanager-url") {
    ok = axo::alerts::ValidUrl(value, &reason);
    if (ok) o->alertmanagerUrls.push_back(value);
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
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read the options file " + path;
    return false;
  }
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
    if (key == "config") {
      *error = where + "config cannot be set in an options file";
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

// Parses argv and the options file it names into `*options`; `*given`
// receives every option given, by name, with its values in order (what a
// reload compares).
int ParseAll(int argc, char** argv, AXO_Options* options, std::string* error,
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
    if (!TakesValue(name)) {
      *error = "unknown option: " + arg;
      return AXO_OPTIONS_ERROR;
    }
    if (!has_value) {
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
  return AXO_OPTIONS_OK;
}

}  // namespace

int AXO_ParseOptions(int argc, char** argv, AXO_Options* options, std::string* error) {
  return ParseAll(argc, argv, options, error, nullptr);
}

bool AXO_ReadTokenFile(const std::string& path, std::string* token, std::string* error) {
  std::ifstream in(path);
  std::string line;
  if (!in) {
    *error = "cannot read token file " + path;
    return false;
  }
  if (!AXO_CheckSecretFile("token file", path, error)) return false;
  if (!std::getline(in, line)) {
    *error = "cannot read token file " + path;
    return false;
  }
  std::string_view text = axo_internal::TrimSpace(line);
  if (text.empty()) {
    *error = "token file " + path + " holds no token";
    return false;
  }
  *token = text;
  return true;
}

bool AXO_CheckSecretFile(const std::string& what, const std::string& path, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = "cannot examine " + what + " " + path + ": " + strerror(errno);
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *error = what + " " + path + " has mode " + mode +
             ": it must be readable and writable by its owner only (chmod 600)";
    return false;
  }
  const uid_t self = geteuid();
  if (st.st_uid != 0 && st.st_uid != self) {
    *error = what + " " + path + " is owned by user " + std::to_string(st.st_uid) +
             ": it must be owned by root or by the agent's own user (" + std::to_string(self) + ")";
    return false;
  }
  return true;
}

int OSB1_Main(int* argc, char** argv, const char* program) {
  Process& p = P();
  {
    std::lock_guard<std::mutex> guard(p.mu);
    if (p.bound) return 0;
  }
  MakePipe();
  InstallStopHandlers();
  AXO_Options options;
  std::string error;
  std::map<std::string, std::string> given;
  int rc = ParseAll(argc == nullptr ? 0 : *argc, argv, &options, &error, &given);
  if (rc == AXO_OPTIONS_HELP) {
    AXO_PrintUsage(stdout, program);
    exit(0);
  }
  if (rc == AXO_OPTIONS_VERSION) {
    printf("%s (%s)\n", program == nullptr ? "agent" : program, kFrameworkVersion);
    exit(0);
  }
  if (rc == AXO_OPTIONS_OK && !options.trace.empty()) TRK1_Configure(options.trace);
  if (rc == AXO_OPTIONS_OK && !options.traceFile.empty() && !TRK1_SetTraceFile(options.traceFile)) {
    error = "cannot open the trace file " + options.traceFile;
    rc = AXO_OPTIONS_ERROR;
  }
  if (rc != AXO_OPTIONS_OK) {
    fprintf(stderr, "%s: %s\n", program == nullptr ? "agent" : program, error.c_str());
    AXO_PrintUsage(stderr, program);
    exit(AXO_OPTIONS_ERROR);
  }
  {
    std::lock_guard<std::mutex> guard(p.mu);
    p.options = options;
    p.given = std::move(given);
    for (int i = 0; argv != nullptr && i < (argc == nullptr ? 0 : *argc); ++i) {
      p.args.push_back(argv[i] == nullptr ? "" : argv[i]);
    }
    if (program != nullptr) p.program = program;
    p.identity.startTime = AXO_Now();
    p.bound = true;
  }
  // Each pooled request thread would otherwise get a malloc arena of its
  // own and keep the memory of the largest answer it ever built: with a pool
  // of request threads that is many times the agent's real working set.
  mallopt(M_ARENA_MAX, 2);
  // A bound process gets the framework's standard services (operator API,
  // history collector); omxmain starts them after the loader.
  RegisterStandardServices();
  return 0;
}

AXO_Options AXO_GetOptions() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  return p.options;
}

void AXO_OnReload(std::vector<std::string> options, AXO_ReloadHook hook) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.reloadHooks.push_back(Process::ReloadHook{std::move(options), std::move(hook)});
}

int AXO_ReloadOptions() {
  Process& p = P();
  AXO_Options before;
  std::map<std::string, std::string> given_before;
  std::vector<std::string> args;
  std::vector<Process::ReloadHook> hooks;
  {
    std::lock_guard<std::mutex> guard(p.mu);
    before = p.options;
    given_before = p.given;
    args = p.args;
    hooks = p.reloadHooks;
  }
  if (before.configFile.empty()) {
    TRK1_Printf(&axo_unit, __LINE__,
                "AXO0010W Reload asked for, but no options file (--config) was given");
    return 1;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  AXO_Options after;
  std::map<std::string, std::string> given;
  std::string error;
  if (ParseAll(static_cast<int>(argv.size()), argv.data(), &after, &error, &given) !=
      AXO_OPTIONS_OK) {
    TRK1_Printf(&axo_unit, __LINE__, "AXO0011E Options not reloaded, the running ones stay: %s",
                error.c_str());
    return 1;
  }
  // Every option whose value changed, with both values.
  auto text = [](const std::map<std::string, std::string>& m, const std::string& name) {
    auto it = m.find(name);
    return it == m.end() ? std::string("(default)") : it->second;
  };
  std::map<std::string, std::string> all = given_before;
  all.insert(given.begin(), given.end());
  std::vector<std::string> changed;
  for (const auto& entry : all) {
    if (text(given_before, entry.first) != text(given, entry.first)) changed.push_back(entry.first);
  }
  auto hook_names = [](const Process::ReloadHook& h, const std::string& option) {
    return std::find(h.options.begin(), h.options.end(), option) != h.options.end();
  };
  for (const std::string& name : changed) {
    if (name == "trace") {  // the levels are set anew, not on top of the old ones
      TRK1_ResetLevels();
      TRK1_Configure(after.trace);
    }
    const bool applied = name == "trace" ||
                         std::any_of(hooks.begin(), hooks.end(), [&](const Process::ReloadHook& h) {
                           return hook_names(h, name);
                         });
    TRK1_Printf(&axo_unit, __LINE__, "%s Option %s changed from %s to %s: %s",
                applied ? "AXO0012I" : "AXO0013W", name.c_str(), text(given_before, name).c_str(),
                text(given, name).c_str(), applied ? "applied" : "needs a restart");
  }
  {
    std::lock_guard<std::mutex> guard(p.mu);
    p.options = after;
    p.given = given;
  }
  for (const Process::ReloadHook& h : hooks) {
    if (std::any_of(changed.begin(), changed.end(),
                    [&](const std::string& n) { return hook_names(h, n); })) {
      h.hook(before, after);
    }
  }
  return 0;
}

int OSB1_Info(int selector, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  if (selector != 0) return 0;
  std::string name;
  {
    Process& p = P();
    std::lock_guard<std::mutex> guard(p.mu);
    if (p.systemNameOverride) {
      name = p.systemName;
    } else {
      struct utsname u;
      if (uname(&u) == 0) name = u.nodename;
    }
  }
  if (name.empty()) return 0;
  CopyBounded(buffer, static_cast<size_t>(size), name);
  return static_cast<int>(strlen(buffer));
}

int DetermineLocalHost(char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return -1;
  char name[256] = "";
  if (gethostname(name, sizeof(name) - 1) != 0) {
    buffer[0] = '\0';
    return -1;
  }
  name[sizeof(name) - 1] = '\0';
  CopyBounded(buffer, static_cast<size_t>(size), name);
  return 0;
}

// --- identity -------------------------------------------------------------------------

int AXO_SetAffinity(const char* affinity) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.affinities.push_back(Text(affinity));
  return 0;
}

int AXO_SetProduct(const char* product, const char* version) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.product = Text(product);
  p.identity.version = Text(version);
  return 0;
}

int AXO_SetSubsystemId(const char* subsystem) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.subsystem = Text(subsystem);
  return 0;
}

int AXO_SetNodeType(const char* node_type) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.nodeType = Text(node_type);
  RefreshHostLocked(p);
  return 0;
}

int AXO_SetHostname(const char* hostname) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.hostname = Text(hostname);
  RefreshHostLocked(p);
  return 0;
}

const char* AXO_GetHostname() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  if (g_hostname[0] == '\0') RefreshHostLocked(p);
  return g_hostname[0] != '\0' ? g_hostname : nullptr;
}

const char* AXO_GetOriginnode() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  if (g_originnode[0] == '\0') RefreshHostLocked(p);
  return g_originnode[0] != '\0' ? g_originnode : nullptr;
}

AXO_Identity AXO_GetIdentity() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  if (g_originnode[0] == '\0') RefreshHostLocked(p);
  AXO_Identity id = p.identity;
  id.hostname = g_hostname;
  return id;
}

// --- main loop -------------------------------------------------------------------------

int AXO_RegisterAgentLoader(AXO_AgentLoader loader) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.loader = loader;
  return 0;
}

int AXO_RegisterCommandCallback(const char* product, AXO_CommandCallback callback) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.callbackProduct = Text(product);
  p.callback = callback;
  return 0;
}

AXO_CommandCallback axo_internal::CommandCallback() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  return p.callback;
}

void AXO_RegisterShutdownHook(void (*hook)(), const char* name) {
  if (hook == nullptr) return;
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  auto same = [hook](const Service& h) { return h.stop == hook; };
  if (std::none_of(p.hooks.begin(), p.hooks.end(), same)) {
    p.hooks.push_back(Service{name != nullptr ? name : "shutdown hook", nullptr, hook});
  }
}

void AXO_RegisterService(const char* name, AXO_ServiceStart start, void (*stop)()) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  for (const Service& s : p.services) {
    if (s.start == start && s.stop == stop) return;  // registered already
  }
  p.services.push_back(Service{name == nullptr ? "service" : name, start, stop});
}

namespace {

// Calls the `stop` of each of `parts` in order, on a thread of its own, and
// waits at most `seconds` for all of them. Returns "" when they all
// returned, else the name of the part still stopping; its thread is then
// left running (detached): the caller ends the process.
std::string StopWithin(std::vector<Service> parts, int seconds) {
  struct State {
    std::mutex mu;
    std::condition_variable finished;
    bool done = false;
    std::string current;  // the part now stopping
  };
  auto state = std::make_shared<State>();
  std::thread stopper([state, parts = std::move(parts)] {
    for (const Service& s : parts) {
      if (s.stop == nullptr) continue;
      {
        std::lock_guard<std::mutex> guard(state->mu);
        state->current = s.name;
      }
      s.stop();
    }
    std::lock_guard<std::mutex> guard(state->mu);
    state->done = true;
    state->finished.notify_all();
  });
  std::unique_lock<std::mutex> lock(state->mu);
  if (state->finished.wait_for(lock, std::chrono::seconds(seconds), [&] { return state->done; })) {
    lock.unlock();
    stopper.join();
    return "";
  }
  stopper.detach();
  return state->current;
}

}  // namespace

int omxmain(int, char**) {
  Process& p = P();
  MakePipe();
  AXO_AgentLoader loader;
  std::string program;
  {
    std::lock_guard<std::mutex> guard(p.mu);
    loader = p.loader;
    program = p.program;
  }
  if (loader == nullptr) {
    if (TRK1_On(&axo_unit, TRK1_ERROR)) {
      TRK1_Printf(&axo_unit, __LINE__, "omxmain: no agent loader registered");
    }
    return 1;
  }

  bool own_handlers = InstallStopHandlers();

  unsigned long load_rc = loader();
  if (TRK1_On(&axo_unit, TRK1_DETAIL)) {
    TRK1_Printf(&axo_unit, __LINE__, "Agent loader returned %lu", load_rc);
  }

  // Services are started without the process lock: they may call back in.
  std::vector<Service> services;
  {
    std::lock_guard<std::mutex> guard(p.mu);
    services = p.services;
  }
  services.push_back(Service{"situation timer", axo_internal::StartSituationTimer,
                             axo_internal::StopSituationTimer});
  size_t started = 0;
  std::string error;
  while (started < services.size() &&
         (services[started].start == nullptr || services[started].start(&error) == 0)) {
    ++started;
  }
  const bool failed = started < services.size();

  if (failed) {
    // Every start-up failure is fatal (see axo.h): say why where the
    // operator looks, then undo what started.
    const char* name = services[started].name;
    TRK1_Printf(&axo_unit, __LINE__, "AXO0002E %s not started: %s", name, error.c_str());
    fprintf(stderr, "%s: %s not started: %s\n", program.c_str(), name, error.c_str());
    fflush(stderr);
  } else {
    AXO_Notify("READY=1");
    WaitForShutdown();
    AXO_Notify("STOPPING=1");
    if (TRK1_On(&axo_unit, TRK1_DETAIL)) {
      TRK1_Printf(&axo_unit, __LINE__, "omxmain: shutting down");
    }
  }

  // What stops, in order: the started services in reverse, then the hooks
  // in reverse.
  std::vector<Service> stopping(services.rbegin() + static_cast<long>(services.size() - started),
                                services.rend());
  {
    std::lock_guard<std::mutex> guard(p.mu);
    stopping.insert(stopping.end(), p.hooks.rbegin(), p.hooks.rend());
  }
  const std::string unfinished = StopWithin(std::move(stopping), kShutdownSeconds);

  if (own_handlers) RestoreStopHandlers();
  DrainPipe();
  if (!unfinished.empty()) {
    TRK1_Printf(&axo_unit, __LINE__,
                "AXO0003E Shutdown did not finish within %d s: %s is still stopping; "
                "ending the process",
                kShutdownSeconds, unfinished.c_str());
    return AXO_SHUTDOWN_UNFINISHED;
  }
  return failed ? 1 : 0;
}

int AXO_Shutdown(int reason) {
  MakePipe();
  if (TRK1_On(&axo_unit, TRK1_DETAIL)) {
    TRK1_Printf(&axo_unit, __LINE__, "AXO_Shutdown(%d)", reason);
  }
  WakeMainLoop();
  return 0;
}

// --- subnodes -------------------------------------------------------------------------

int AXO_Subnode_Register_nAff(const char* name, const char* product, const char* version,
                              int affinity_count, ...) {
  va_list args;
  va_start(args, affinity_count);
  std::vector<std::string> affinities;
  for (int i = 0; i < affinity_count && i < 16; ++i)
    affinities.push_back(Text(va_arg(args, const char*)));
  va_end(args);

  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  if (p.registerRc != 0) return p.registerRc;
  if (name == nullptr || name[0] == '\0' || strlen(name) > 32 || product == nullptr ||
      product[0] == '\0') {
    return AXO_SUBNODE_BAD_ARGUMENT;
  }
  p.pending.push_back(AXO_SubnodeInfo{name, product, Text(version)});
  return 0;
}

int AXO_Subnode_SendRequest() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  int rc = p.sendRc;
  if (rc == 0 || rc == AXO_SUBNODE_NOTHING_NEW) {
    for (AXO_SubnodeInfo& s : p.pending) {
      auto same = [&](const AXO_SubnodeInfo& e) { return e.name == s.name; };
      auto it = std::find_if(p.subnodes.begin(), p.subnodes.end(), same);
      if (it == p.subnodes.end()) {
        p.subnodes.push_back(s);
      } else {
        *it = s;
      }
    }
  }
  p.pending.clear();
  return rc;
}

std::vector<AXO_SubnodeInfo> AXO_ListSubnodes() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  return p.subnodes;
}

// --- seams ------------------------------------------------------------------------------

void AXO_SetSubnodeResultsForTesting(int register_rc, int send_rc) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.registerRc = register_rc;
  p.sendRc = send_rc;
}

void AXO_SetSystemNameForTesting(const char* name) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.systemNameOverride = name != nullptr;
  p.systemName = Text(name);
}

void AXO_SetClockForTesting(time_t (*clock)()) { g_clock.store(clock); }

namespace {

// The end-to-end tests' seam on the framework clock: the whole number of
// seconds held by the file that ZEP_TEST_CLOCK_FILE names is added to the
// system clock, so a test can move a running agent's framework clock
// forward (write the file anew) instead of waiting. The file is read again
// at most once a second; without the variable the cost is one branch.
time_t TestClockOffset() {
  static const char* const path = std::getenv("ZEP_TEST_CLOCK_FILE");
  if (path == nullptr) return 0;
  static std::mutex mu;
  static time_t offset = 0;
  static std::chrono::steady_clock::time_point readAt;
  std::lock_guard<std::mutex> guard(mu);
  const auto now = std::chrono::steady_clock::now();
  if (now - readAt >= std::chrono::seconds(1)) {
    readAt = now;
    std::ifstream in(path);
    long long seconds = 0;
    std::string text;
    if (in >> text && axo_internal::ParseInteger(text, -999999999, 999999999, &seconds)) {
      offset = static_cast<time_t>(seconds);
    }
  }
  return offset;
}

}  // namespace

time_t AXO_Now() {
  time_t (*clock)() = g_clock.load();
  return clock != nullptr ? clock() : time(nullptr) + TestClockOffset();
}

void AXO_ResetForTesting() {
  RestoreStopHandlers();
  DrainPipe();
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.bound = false;
  p.program = "agent";
  p.options = AXO_Options();
  p.identity = AXO_Identity();
  p.loader = nullptr;
  p.callback = nullptr;
  p.callbackProduct.clear();
  p.hooks.clear();
  p.services.clear();
  p.subnodes.clear();
  p.pending.clear();
  p.registerRc = 0;
  p.sendRc = 0;
  p.systemNameOverride = false;
  p.systemName.clear();
  p.args.clear();
  p.given.clear();
  p.reloadHooks.clear();
  g_hostname[0] = '\0';
  g_originnode[0] = '\0';
}
