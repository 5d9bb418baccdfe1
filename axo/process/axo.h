// Process binding, identity, main loop and subnodes of the agent framework.
//
// An agent binds the process with OSB1_Main (which also parses the
// framework's own command-line options), tells the framework who it is
// through the AXO_Set* calls, registers its table loader and its
// action-command callback, and hands the main thread to omxmain. omxmain
// calls the loader once, starts the framework's services (registered with
// AXO_AddService, axo/process/service.h; the standard ones by
// axo::services::RegisterStandard), and blocks until AXO_Shutdown is called from any
// thread or the process receives SIGINT or SIGTERM; it then stops the
// services, runs the shutdown hooks and returns 0 (within 10 s, see
// omxmain).
//
// Failures. A malformed command line is a usage error: OSB1_Main prints it
// with the usage text on standard error and returns AXO_OPTIONS_ERROR, and
// the program's main ends with status 2. The framework never ends the
// process itself. A service that cannot
// start is a start-up failure, and every start-up failure is fatal: omxmain
// prints "<program>: <service> not started: <reason>" on standard error,
// stops the services it started, runs the shutdown hooks and returns 1
// (the agent's exit status). The standard services fail to start on
//   - an operator API address that cannot be bound (in use, not local),
//   - a token file (--token-file) that cannot be read, holds no token, or
//     can be read or written by others than its owner (AXO_ReadSecretFile),
//   - a web configuration (--web-config) that does not pass its checks,
//   - a history database (--history-db) that cannot be opened or created,
//   - an alert sender (--alertmanager-url) whose thread cannot be created,
// and the situation timer when its thread cannot be created. An agent that
// runs without the API its operator asked for, or without the history it
// was told to keep, would fail silently later; so none of these is merely
// traced. Failures after start-up (a failed history write, a request that
// fails) are traced and answered, never fatal. The loader's result is
// traced only: the agent reports its own table errors.
//
// All functions are thread-safe unless stated otherwise.
#ifndef AXO_PROCESS_AXO_H_
#define AXO_PROCESS_AXO_H_

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "axo/base/clock.h"  // AXO_Now, the framework clock
#include "axo/base/status.h"
#include "axo/metrics/metrics.h"

class VexorAutomationCapsule;

// --- process binding and options --------------------------------------------

// The framework's command-line options, as parsed by OSB1_Main.
struct AXO_Options {
  // --listen HOST:PORT, :PORT or PORT (host 127.0.0.1), or "none". An IPv6
  // host is written in brackets ("[::1]:1920"). Port 0 picks a free port.
  bool listen = true;  // false for "none"
  std::string listenHost = "127.0.0.1";
  int listenPort = 1920;
  std::string tokenFile;      // --token-file PATH, empty: no token
  std::string trace;          // --trace UNIT=BITS,...
  std::string traceFile;      // --trace-file PATH, empty: stderr
  std::string historyDb;      // --history-db PATH, empty: no history
  int historyInterval = 300;  // --history-interval SECONDS
  std::string historyTables;  // --history-tables LIST; empty: the agent's defaults
  std::string configFile;     // --config FILE, empty: none
  // --alertmanager-url URL, repeatable: where situation events go (see
  // axo/alerts/alerts.h); each is http[s]://HOST[:PORT][/PATH].
  std::vector<std::string> alertmanagerUrls;
  int historyRetainDays = 0;    // --history-retain-days N, 0: keep all
  int historyWriteTimeout = 0;  // --history-write-timeout SECONDS, 0: from the interval
  // --max-situations N: situations that may exist at once; a creation past
  // it is refused. Read at each creation, so a reload applies it at once
  // (existing situations stay).
  int maxSituations = 1000;
  // --web-config FILE: TLS, client certificates, basic-auth users and extra
  // answer headers of the operator API, in the exporter toolkit's web
  // configuration format (see axo/http/web_config.h); empty: plain HTTP,
  // reads open. Re-read when it or a file it names changes.
  std::string webConfig;
  // --allowed-hosts LIST: names (NAME or NAME:PORT, comma-separated) that
  // a request's Host may give besides the address it arrived on.
  std::string allowedHosts;
  // --allow-unauthenticated-changes: without a token, changes are open to
  // whoever reaches the API instead of refused (demos and tests only).
  bool allowUnauthenticatedChanges = false;
  // The operator API's connection table (axo/http/http_server.h), read at
  // start: --api-max-connections N, connections open at once;
  // --api-connections-per-address N, of them one peer address may hold (0:
  // an eighth of the table); --api-requests-per-address N, requests of one
  // address with the workers at once (its further requests wait).
  int apiMaxConnections = 1000;
  int apiConnectionsPerAddress = 0;
  int apiRequestsPerAddress = 2;
  // --max-password-checks N: basic-auth passwords checked (bcrypt) at
  // once; past it a request with credentials not verified before is
  // answered 429 without hashing. Read at start.
  int maxPasswordChecks = 2;
  // --check-web-config FILE: check that file and end (AXO_OPTIONS_CHECKED).
  std::string checkWebConfig;
  // The bounded metric families (axo/metrics/metrics.h, "Bounded
  // families"): --metrics-labels LIST, the labels they carry;
  // --metrics-max-series N, label sets per family; --metrics-series-ttl
  // DURATION (seconds, or a number with s, m or h; 0: never), how long a
  // label set stays without an update. A reload applies all three.
  std::string metricsLabels = "subnode,operation,msgloc";
  int metricsMaxSeries = 20000;
  // --answer-min-rate KIB: the average rate, in KiB per second, at which a
  // client must take an answer after the grace of the write timeout (5 s);
  // a slower one is cut off (OperatorApiOptions::minAnswerRate).
  int answerMinRateKiB = 128;
  // --row-answers N: table and history answers written at once; the others
  // wait for their turn without holding a worker.
  int rowAnswers = 1;
  int64_t metricsSeriesTtl = 3600;
  // --situations-file FILE: the situations are kept there over restarts;
  // empty: they live as long as the process. Read at start only.
  std::string situationsFile;
};

// The options file (--config FILE) holds the same options, one per line as
// "key = value" with the option's name without "--" as the key; blank lines
// and lines whose first non-blank character is '#' are skipped, and an
// option that may be given more than once may repeat. An option given on
// the command line replaces every value the file gives it. A line that is
// not "key = value", an unknown key or a bad value is an error
// "FILE:LINE: reason"; an unreadable file is an error too.

// Binds the process to the framework and parses the framework options in
// argv (argv[0] is the program). Options take their value either as the next
// argument or after "=". `program` names the program in the usage text.
// --help prints the usage on standard output and returns AXO_OPTIONS_HELP,
// --version prints the version and returns AXO_OPTIONS_VERSION: the program
// then ends with status 0. An unknown option or a bad value prints an error
// and the usage on standard error and returns AXO_OPTIONS_ERROR: the program
// ends with status 2 (AXO_OPTIONS_ERROR). Otherwise the process is bound
// and the call returns 0 (AXO_OPTIONS_OK). --trace and --trace-file take
// effect at once. The first successful call fixes the options; later calls
// change nothing and return 0. argc and argv are left unchanged.
// From the first call on, SIGINT and SIGTERM end omxmain (also when they
// arrive before it is entered) instead of the process, SIGHUP makes
// omxmain re-read the options file (see AXO_OnReload), and the allocator is
// limited to two arenas (each of the framework's pooled request threads
// would otherwise keep an arena, and the memory of the largest answer it
// built, of its own).
int OSB1_Main(int* argc, char** argv, const char* program);

// Results of OSB1_Main and AXO_ParseOptionsForTesting.
enum : int {
  AXO_OPTIONS_OK = 0,
  AXO_OPTIONS_HELP = 1,     // --help was given
  AXO_OPTIONS_ERROR = 2,    // described in `*error`; also the exit status
  AXO_OPTIONS_VERSION = 3,  // --version was given
  // --check-web-config was given and the services' checks ran (Service::
  // Check): "OK" is printed on standard output and the program ends with
  // status 0, or the reasons on standard error and status 1.
  AXO_OPTIONS_CHECKED = 4,
  AXO_OPTIONS_CHECK_FAILED = 5,
};

// Reads the bearer token of --token-file from `path`: its first line
// without surrounding white space. Returns kFailed when the file cannot be
// read, fails AXO_ReadSecretFile, or holds no token.
axo::Status AXO_ReadTokenFile(const std::string& path, std::string* token);

// Reads a file that holds a secret (the bearer token, a TLS key) whole into
// `*out`, as axo_internal::ReadRegularFile does (a regular file of at most
// `limit` bytes, never through a link, never waiting on a FIFO), and checks
// the file it read: no permission bits for group or others, and owned by
// root or by the user the agent runs as, so that nobody else can read or
// replace it. Returns kFailed naming `what` ("token file"), the path and
// the reason, its mode or its owner when it is not so.
axo::Status AXO_ReadSecretFile(const std::string& what, const std::string& path, size_t limit,
                               std::string* out);

// Writes the usage text of the framework options to `out`.
void AXO_PrintUsage(FILE* out, const char* program);

// The options fixed by OSB1_Main (the defaults before it ran), as last
// re-read from the options file: an option that takes effect only at a
// restart shows its new value here before it is in effect.
AXO_Options AXO_GetOptions();

// The bounded metric families' settings that `options` give (labels, cap,
// TTL); OSB1_Main applies them, a reload re-applies them.
axo::metrics::BoundedSettings AXO_BoundedSettings(const AXO_Options& options);

// --- reloading the options file ----------------------------------------------
//
// On SIGHUP the main loop (never the signal handler) re-reads the options
// file with the command line of OSB1_Main, and for every option whose value
// changed traces "AXO0012I Option NAME changed from OLD to NEW: applied" or
// "AXO0013W Option NAME changed from OLD to NEW: needs a restart". The
// framework applies --trace itself (the levels are set anew from the new
// value); an option is applied otherwise only when a reload hook names it.
// A file that no longer parses changes nothing and is traced (AXO0011E).

// Applies changed options: called with the options before and after the
// reload, on the main loop's thread, after the framework's own changes.
// Must not block for long and must be safe against the threads that use
// the options.
typedef std::function<void(const AXO_Options& before, const AXO_Options& after)> AXO_ReloadHook;

// Registers `hook` for the options named in `options` (without "--", as in
// the options file: "history-interval"). The hook runs once per reload in
// which any of them changed; with no option named, once per reload (for
// files that a reload re-reads whatever the options say). Hooks run in
// registration order.
void AXO_OnReload(std::vector<std::string> options, AXO_ReloadHook hook);

// Re-reads the options file now, as SIGHUP does. Returns 0, or 1 when no
// options file was given or it no longer parses (nothing changed then).
// Must be called from one thread at a time (the main loop calls it).
int AXO_ReloadOptions();

// --- service manager readiness ------------------------------------------------

// Sends `state` ("READY=1", "STOPPING=1", ...) as one datagram to the
// service manager's notification socket named by NOTIFY_SOCKET (a path, or
// an abstract name written with a leading '@'). Returns 1 when sent, 0 when
// NOTIFY_SOCKET is not set, -1 when it could not be sent. omxmain sends
// READY=1 once its services run, RELOADING=1 and READY=1 around a reload,
// and STOPPING=1 when it shuts down.
int AXO_Notify(const std::string& state);

// Writes the local host name, terminated and cut to size-1 characters, into
// `buffer`. Returns 0 on success, -1 when the name cannot be determined.
int DetermineLocalHost(char* buffer, int size);

// --- identity -------------------------------------------------------------

// Each setter copies its text; null is treated as empty. Results are 0.
int AXO_SetAffinity(const char* affinity);  // may be called repeatedly
int AXO_SetProduct(const char* product, const char* version);
int AXO_SetSubsystemId(const char* subsystem);
int AXO_SetNodeType(const char* node_type);
int AXO_SetHostname(const char* hostname);

// The agent's host name (AXO_SetHostname, else the local host's short name),
// or null when none is known. The text stays valid for the process's life.
const char* AXO_GetHostname();
// The agent's origin node, "<host name>:<node type>" cut to 32 characters, or
// null when no host name is known. Valid for the process's life.
const char* AXO_GetOriginnode();

// Everything the agent told the framework, for the operator API.
struct AXO_Identity {
  std::string product;
  std::string version;
  std::string subsystem;
  std::string nodeType;
  std::string hostname;
  std::string originnode;
  std::vector<std::string> affinities;
  time_t startTime = 0;  // when OSB1_Main bound the process
};
AXO_Identity AXO_GetIdentity();

// --- main loop ------------------------------------------------------------

typedef unsigned long (*AXO_AgentLoader)();
// (Also declared with the samplers in axo/tables/vexor.h, which keeps it.)
typedef long (*AXO_CommandCallback)(VexorAutomationCapsule* capsule);

// Registers the table loader that omxmain calls once. A later call replaces it.
int AXO_RegisterAgentLoader(AXO_AgentLoader loader);
// Registers the action-command callback of `product`. A later call replaces it.
int AXO_RegisterCommandCallback(const char* product, AXO_CommandCallback callback);

// The agent's manager-command entry point: the words of one manager command
// (argv[argc] is null); returns the command's result code.
typedef int (*AXO_ManagerCommand)(int argc, char** argv);
// Registers the entry point that manager commands (POST /api/v1/manager) are
// handed to; a later call replaces it. The framework applies no rule of its
// own to the words: what STOP or SHUTDOWN do is the agent's.
int AXO_RegisterManagerCommand(AXO_ManagerCommand entry);
// Hands one manager command to the registered entry point and stores its
// result in `*rc`. Returns false, touching nothing, when none is registered.
// Thread-safe; the entry point runs on the calling thread.
bool AXO_RunManagerCommand(int argc, char** argv, int* rc);

// Registers a function that omxmain calls after its services have stopped,
// before it returns (the agent stops its own threads here). Hooks run in the
// reverse order of registration; registering the same function twice has no
// further effect. `name` ("dispatcher", must stay valid) names the hook
// when it does not return in time.
void AXO_RegisterShutdownHook(void (*hook)(), const char* name = "shutdown hook");

// What omxmain returns when its services and shutdown hooks did not all
// stop within 10 s (traced with AXO0003E naming the one still stopping): a
// thread of the process still runs, so the program's main must end the
// process at once (flush stdio, then std::_Exit with this status) rather
// than return and run static destructors under it.
enum : int { AXO_SHUTDOWN_UNFINISHED = 3 };

// The framework main loop: calls the loader, starts the services (see
// AXO_AddService), blocks until AXO_Shutdown or SIGINT/SIGTERM, stops them,
// runs the shutdown hooks and returns 0. Returns 1 when no loader was
// registered, and 1 after a start-up failure (see the top of this file),
// once the services that had started are stopped and the hooks have run.
// Stopping is bounded: when the services and hooks take more than 10 s in
// all, omxmain gives up on them and returns AXO_SHUTDOWN_UNFINISHED.
// The signal handlers are restored on return, and a pending shutdown
// request is consumed, so omxmain may be entered again.
int omxmain(int argc, char** argv);

// Ends the main loop. Safe from any thread, also before omxmain is entered
// (omxmain then returns as soon as the loader has run). Returns 0.
int AXO_Shutdown(int reason);

// --- subnodes --------------------------------------------------------------

// Results of the subnode calls besides 0.
enum : int {
  AXO_SUBNODE_BAD_ARGUMENT = 4,  // a null, empty or too long name or product
  AXO_SUBNODE_NOTHING_NEW = 7,   // SendRequest: nothing new to send (a success)
};

// Queues the registration of subnode `name` (at most 32 characters, kept as
// given, trailing blanks included) with its product and version, followed by
// `affinity_count` affinity strings (const char*). Returns 0, or a non-zero
// code: AXO_SUBNODE_BAD_ARGUMENT.
int AXO_Subnode_Register_nAff(const char* name, const char* product, const char* version,
                              int affinity_count, ...);

// Sends the queued registrations: on 0 (or AXO_SUBNODE_NOTHING_NEW) they
// become visible in the subnode list; on any other result they are dropped.
int AXO_Subnode_SendRequest();

struct AXO_SubnodeInfo {
  std::string name;  // as registered, trailing blanks included
  std::string product;
  std::string version;
};
// The registered subnodes in registration order.
std::vector<AXO_SubnodeInfo> AXO_ListSubnodes();

// --- test seams ---------------------------------------------------------------

// Makes the following AXO_Subnode_Register_nAff / AXO_Subnode_SendRequest
// calls return `register_rc` / `send_rc` (a failing register queues nothing).
// (0, 0) restores normal behaviour.
void AXO_SetSubnodeResultsForTesting(int register_rc, int send_rc);

// The test seam of option parsing: OSB1_Main's parsing without side
// effects on the process. Fills `options` from argv and returns
// AXO_OPTIONS_OK, or another AXO_OPTIONS_* result (then `options` is
// unchanged; on AXO_OPTIONS_ERROR `*error` says why).
int AXO_ParseOptionsForTesting(int argc, char** argv, AXO_Options* options, std::string* error);

// Forgets options, identity, subnodes, loader, callback, hooks and services,
// so that a test starts from a fresh process state. Tables stay registered.
void AXO_ResetForTesting();

#endif  // AXO_PROCESS_AXO_H_
