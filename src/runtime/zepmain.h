// Agent start-up: binds the process to the framework, tells the framework
// who this agent is, prints the banner, initialises the log dispatcher,
// registers the table loader and the action-command callback, and hands the
// main thread to the framework's main loop.
//
// Thread-safety: start-up runs on the main thread. The identity buffers are
// written before any other thread of the agent exists and are read-only
// afterwards.
#ifndef ZEP_RUNTIME_ZEPMAIN_H_
#define ZEP_RUNTIME_ZEPMAIN_H_

// The agent's identity, written once during start-up (terminated texts).
extern "C" char zep_product_code[8];  // "ZP": product code, node type
extern "C" char zep_product_ver[10];  // "01.01.00"
extern "C" char zep_server_name[64];  // local host name
extern "C" char zep_agent_name[32];   // system name of this machine, or ""

// Build identifier written to the trace and the banner.
inline constexpr const char kZepBuildId[] = "200603281600";

// Runs the agent: binds the process, initialises it and runs the framework
// main loop. Returns the process exit status: 0 after --help or --version,
// 2 (AXO_OPTIONS_ERROR) for a bad option, the main loop's code after a
// normal run, 1 when initialisation failed. The agent's background threads
// are stopped before it returns, unless it returns AXO_SHUTDOWN_UNFINISHED:
// then a part did not stop in time and the caller must end the process at
// once (see omxmain).
extern "C" int axo_main(int argc, char** argv);

// The initialisation sequence. Returns true when it failed, false when it
// succeeded.
bool initZEPAgent(int argc, char** argv);

// Runs the framework main loop and returns its code.
int run_omxmain(int argc, char** argv);

// The table loader: registers the seven tables in their fixed order. The
// results of the single registrations are not examined; returns 0.
unsigned long LoadAgents();

// Writes the current local time as 15 digits: years since 1900 (three
// digits), month, day, hour, minute, second and "00". Requires `buffer` to
// hold at least 16 bytes.
extern "C" void get_timestamp(char* buffer);

#endif  // ZEP_RUNTIME_ZEPMAIN_H_
