// Process binding, identity, main loop and subnodes of the agent framework.
//
// An agent binds the process with OSB1_Main (which also parses the
// framework's own command-line options), tells the framework who it is
// through the AXO_Set* calls, registers its table loader and its
// action-command callback, and hands the main thread to omxmain. omxmain
// calls the loader once, starts the framework's services (registered with
// AXO_RegisterService), and blocks until AXO_Shutdown is called from any
// thread or the process receives SIGINT or SIGTERM; it then stops the
// services, runs the shutdown hooks and returns 0.
//
// All functions are thread-safe unless stated otherwise.
#ifndef AXO_AXO_H_
#define AXO_AXO_H_

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

class VexorAutomationCapsule;

// --- process binding and options --------------------------------------------

// The framework's command-line options, as parsed by OSB1_Main.
struct AXO_Options {
  std::string listen = "127.0.0.1:1920";   // --listen HOST:PORT, or "none"
  std::string tokenFile;                   // --token-file PATH, empty: no token
  std::string trace;                       // --trace UNIT=BITS,...
  std::string traceFile;                   // --trace-file PATH, empty: stderr
  std::string historyDb;                   // --history-db PATH, empty: no history
  int historyInterval = 300;               // --history-interval SECONDS
  std::string historyTables = "ZEPSMT,ZEPINV";  // --history-tables LIST
};

// Binds the process to the framework and parses the framework options in
// argv (argv[0] is the program). Options take their value either as the next
// argument or after "=". `program` names the program in the usage text.
// --help prints the usage on standard output and exits 0, --version prints
// the version and exits 0; an unknown option or a bad value prints an error
// and the usage on standard error and exits 2. --trace and --trace-file take
// effect at once. The first successful call fixes the options; later calls
// change nothing and return 0. argc and argv are left unchanged.
// From the first call on, SIGINT and SIGTERM end omxmain (also when they
// arrive before it is entered) instead of the process, and the framework's
// standard services (operator API, history collector) are registered.
// Returns 0.
int OSB1_Main(int* argc, char** argv, const char* program);

// Like OSB1_Main's parsing, without side effects on the process: fills
// `options` from argv. Returns 0 when the arguments are valid, 1 for --help,
// 3 for --version, and 2 for an error (described in `*error`).
int AXO_ParseOptions(int argc, char** argv, AXO_Options* options, std::string* error);

// Writes the usage text of the framework options to `out`.
void AXO_PrintUsage(FILE* out, const char* program);

// The options fixed by OSB1_Main (the defaults before it ran).
AXO_Options AXO_GetOptions();

// Machine information. Selector 0 asks for the system name of this machine
// (its node name). Writes at most size-1 characters and a terminator into
// `buffer`. Returns the number of characters written, 0 on failure (the
// buffer then holds an empty string) or for an unknown selector.
int OSB1_Info(int selector, char* buffer, int size);

// Writes the local host name, terminated and cut to size-1 characters, into
// `buffer`. Returns 0 on success, -1 when the name cannot be determined.
int DetermineLocalHost(char* buffer, int size);

// --- identity -------------------------------------------------------------

// Each setter copies its text; null is treated as empty. Results are 0.
int AXO_SetAffinity(const char* affinity);        // may be called repeatedly
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
  time_t startTime = 0;   // when OSB1_Main bound the process
};
AXO_Identity AXO_GetIdentity();

// --- main loop ------------------------------------------------------------

typedef unsigned long (*AXO_AgentLoader)();
typedef long (*AXO_CommandCallback)(VexorAutomationCapsule* capsule);

// Registers the table loader that omxmain calls once. A later call replaces it.
int AXO_RegisterAgentLoader(AXO_AgentLoader loader);
// Registers the action-command callback of `product`. A later call replaces it.
int AXO_RegisterCommandCallback(const char* product, AXO_CommandCallback callback);

// Registers a function that omxmain calls after its services have stopped,
// before it returns (the agent stops its own threads here). Hooks run in the
// reverse order of registration; registering the same function twice has no
// further effect.
void AXO_RegisterShutdownHook(void (*hook)());

// Registers a framework service (operator API, history collector, ...).
// omxmain calls `start` after the loader (a non-zero result is traced and
// the service counts as not running) and `stop` of every running service,
// in reverse order, when the main loop ends. `name` must stay valid.
// Registering the same pair of functions again has no further effect.
void AXO_RegisterService(const char* name, int (*start)(), void (*stop)());

// The framework main loop: calls the loader, starts the services and the
// situation timer, blocks until AXO_Shutdown or SIGINT/SIGTERM, stops them,
// runs the shutdown hooks and returns 0. Returns 1 when no loader was
// registered. The signal handlers are restored on return, and a pending
// shutdown request is consumed, so omxmain may be entered again.
int omxmain(int argc, char** argv);

// Ends the main loop. Safe from any thread, also before omxmain is entered
// (omxmain then returns as soon as the loader has run). Returns 0.
int AXO_Shutdown(int reason);

// --- subnodes --------------------------------------------------------------

// Queues the registration of subnode `name` (at most 32 characters, kept as
// given, trailing blanks included) with its product and version, followed by
// `affinity_count` affinity strings (const char*). Returns 0, or a non-zero
// code: 4 for a null, empty or too long name or product.
int AXO_Subnode_Register_nAff(const char* name, const char* product,
                              const char* version, int affinity_count, ...);

// Sends the queued registrations: on 0 (or 7, "nothing new to send") they
// become visible in the subnode list; on any other result they are dropped.
int AXO_Subnode_SendRequest();

struct AXO_SubnodeInfo {
  std::string name;      // as registered, trailing blanks included
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

// Makes OSB1_Info(0, ...) report `name`; "" makes it fail; null restores the
// machine's real name.
void AXO_SetSystemNameForTesting(const char* name);

// Replaces the framework clock (time()) used for event times and situation
// sampling; null restores time().
void AXO_SetClockForTesting(time_t (*clock)());
time_t AXO_Now();

// Forgets options, identity, subnodes, loader, callback, hooks and services,
// so that a test starts from a fresh process state. Tables stay registered.
void AXO_ResetForTesting();

#endif  // AXO_AXO_H_
