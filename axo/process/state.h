// The process part's own state, shared by its files (options, reload,
// identity, subnodes, signals, the main loop). Not for other parts.
#ifndef AXO_PROCESS_STATE_H_
#define AXO_PROCESS_STATE_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "axo/process/axo.h"
#include "axo/process/service.h"

namespace axo_internal {

// A shutdown hook: its name and function.
struct ShutdownHook {
  const char* name;
  void (*hook)();
};

// Process-wide framework state. Never destroyed: threads may use it at exit.
struct Process {
  std::mutex mu;
  bool bound = false;
  std::string program = "agent";  // names the process in start-up errors
  AXO_Options options;
  AXO_Identity identity;
  AXO_AgentLoader loader = nullptr;
  std::string callbackProduct;  // the callback itself is kept with the samplers
  AXO_ManagerCommand managerCommand = nullptr;
  std::vector<ShutdownHook> hooks;
  std::vector<axo::Service*> services;  // in start order; not owned
  std::vector<AXO_SubnodeInfo> subnodes;
  std::vector<AXO_SubnodeInfo> pending;
  int registerRc = 0;
  int sendRc = 0;
  std::vector<std::string> args;             // OSB1_Main's argv, for reloads
  std::map<std::string, std::string> given;  // the options given, by name
  struct ReloadHook {
    std::vector<std::string> options;
    AXO_ReloadHook hook;
  };
  std::vector<ReloadHook> reloadHooks;
};

Process& P();

// `s`, or "" for null.
std::string Text(const char* s);

// Parses argv and the options file it names into `*options`; `*given`
// (unless null) receives every option given, by name, with its values in
// order (what a reload compares). Returns an AXO_OPTIONS_* result; on
// AXO_OPTIONS_ERROR `*error` says why.
int ParseAllOptions(int argc, char** argv, AXO_Options* options, std::string* error,
                    std::map<std::string, std::string>* given);

// Registers the part's metrics collectors (collectors.cc): zep_build_info,
// zep_subnodes and the process_* figures. Called once, at start-up.
void RegisterProcessCollectors();

// Forgets the host and origin-node texts (AXO_ResetForTesting).
void ForgetHostLocked();

// --- the main loop's wake-up pipe and signals (signals.cc) -------------------

// Creates the self-pipe once.
void MakePipe();
// Ends WaitForShutdown (from any thread or a signal handler).
void WakeMainLoop();
// SIGINT and SIGTERM wake the main loop instead of ending the process, and
// SIGHUP asks it for a reload. Returns true when this call installed them.
// Main thread only.
bool InstallStopHandlers();
void RestoreStopHandlers();
// Reads and drops what the pipe holds.
void DrainPipe();
// Blocks until a stop byte arrives, reloading the options (with the
// service manager told) for each reload byte on the way.
void WaitForShutdown();

}  // namespace axo_internal

#endif  // AXO_PROCESS_STATE_H_
