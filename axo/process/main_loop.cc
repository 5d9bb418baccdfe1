// Process binding, the main loop, the services and the shutdown hooks.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "axo/base/clock.h"
#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/process/service.h"
#include "axo/process/state.h"
#include "axo/tables/vexor.h"

TRK1_UNIT(axo_unit, "AXOMAIN");

namespace axo_internal {

Process& P() {
  static Process* p = new Process;
  return *p;
}

namespace {
// Every program that uses the process part scrapes its metrics too.
const bool g_collectors_registered = (RegisterProcessCollectors(), true);
}  // namespace

std::string Text(const char* s) { return s == nullptr ? std::string() : std::string(s); }

}  // namespace axo_internal

using namespace axo_internal;

namespace {

constexpr const char kFrameworkVersion[] = "AXO framework stand-in 1.0";

// How long omxmain waits, in all, for the services and the shutdown hooks
// to stop before it gives up on them.
constexpr int kShutdownSeconds = 10;

}  // namespace

namespace {

// --check-web-config: every registered service checks what it would read;
// "OK", or each reason on standard error.
int CheckFiles(const AXO_Options& options) {
  std::vector<axo::Service*> services;
  {
    Process& p = P();
    std::lock_guard<std::mutex> guard(p.mu);
    services = p.services;
  }
  bool ok = true;
  for (axo::Service* s : services) {
    if (axo::Status st = s->Check(options); !st.ok()) {
      fprintf(stderr, "%s\n", st.message().c_str());
      ok = false;
    }
  }
  if (ok) printf("OK\n");
  return ok ? AXO_OPTIONS_CHECKED : AXO_OPTIONS_CHECK_FAILED;
}

}  // namespace

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
  int rc = ParseAllOptions(argc == nullptr ? 0 : *argc, argv, &options, &error, &given);
  if (rc == AXO_OPTIONS_HELP) {
    AXO_PrintUsage(stdout, program);
    return rc;
  }
  if (rc == AXO_OPTIONS_VERSION) {
    printf("%s (%s)\n", program == nullptr ? "agent" : program, kFrameworkVersion);
    return rc;
  }
  if (rc == AXO_OPTIONS_CHECKED) return CheckFiles(options);
  if (rc == AXO_OPTIONS_OK && !options.trace.empty()) TRK1_Configure(options.trace);
  if (rc == AXO_OPTIONS_OK && !options.traceFile.empty() && !TRK1_SetTraceFile(options.traceFile)) {
    error = "cannot open the trace file " + options.traceFile;
    rc = AXO_OPTIONS_ERROR;
  }
  if (rc != AXO_OPTIONS_OK) {
    fprintf(stderr, "%s: %s\n", program == nullptr ? "agent" : program, error.c_str());
    AXO_PrintUsage(stderr, program);
    return AXO_OPTIONS_ERROR;
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
  axo::metrics::ConfigureBounded(AXO_BoundedSettings(options));
  // Each pooled request thread would otherwise get a malloc arena of its
  // own and keep the memory of the largest answer it ever built: with a pool
  // of request threads that is many times the agent's real working set.
  mallopt(M_ARENA_MAX, 2);
  return 0;
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
  axo_internal::SetCommandCallback(callback);
  return 0;
}

int AXO_RegisterManagerCommand(AXO_ManagerCommand entry) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.managerCommand = entry;
  return 0;
}

bool AXO_RunManagerCommand(int argc, char** argv, int* rc) {
  AXO_ManagerCommand entry;
  {
    Process& p = P();
    std::lock_guard<std::mutex> guard(p.mu);
    entry = p.managerCommand;
  }
  if (entry == nullptr) return false;
  *rc = entry(argc, argv);  // not under p.mu: STOP takes it to shut down
  return true;
}

void AXO_RegisterShutdownHook(void (*hook)(), const char* name) {
  if (hook == nullptr) return;
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  auto same = [hook](const ShutdownHook& h) { return h.hook == hook; };
  if (std::none_of(p.hooks.begin(), p.hooks.end(), same)) {
    p.hooks.push_back(ShutdownHook{name != nullptr ? name : "shutdown hook", hook});
  }
}

void AXO_AddService(axo::Service* service) {
  if (service == nullptr) return;
  std::vector<std::string> reloadable = service->ReloadableOptions();
  {
    Process& p = P();
    std::lock_guard<std::mutex> guard(p.mu);
    if (std::find(p.services.begin(), p.services.end(), service) != p.services.end()) return;
    p.services.push_back(service);
  }
  if (!reloadable.empty()) {
    AXO_OnReload(std::move(reloadable),
                 [service](const AXO_Options& before, const AXO_Options& after) {
                   service->Reload(before, after);
                 });
  }
}

namespace {

// One part to stop: its name and how.
struct Stopping {
  std::string name;
  std::function<void()> stop;
};

// Calls the `stop` of each of `parts` in order, on a thread of its own, and
// waits at most `seconds` for all of them. Returns "" when they all
// returned, else the name of the part still stopping; its thread is then
// left running (detached): the caller ends the process.
std::string StopWithin(std::vector<Stopping> parts, int seconds) {
  struct State {
    std::mutex mu;
    std::condition_variable finished;
    bool done = false;
    std::string current;  // the part now stopping
  };
  auto state = std::make_shared<State>();
  std::thread stopper([state, parts = std::move(parts)] {
    for (const Stopping& s : parts) {
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
    TRK1_Trace(&axo_unit, TRK1_ERROR, "omxmain: no agent loader registered");
    return 1;
  }

  bool own_handlers = InstallStopHandlers();

  unsigned long load_rc = loader();
  TRK1_Trace(&axo_unit, TRK1_DETAIL, "Agent loader returned %lu", load_rc);

  // Services are started without the process lock: they may call back in.
  std::vector<axo::Service*> services;
  AXO_Options options;
  {
    std::lock_guard<std::mutex> guard(p.mu);
    services = p.services;
    options = p.options;
  }
  size_t started = 0;
  axo::Status status;
  while (started < services.size() && (status = services[started]->Start(options)).ok()) {
    ++started;
  }
  const bool failed = started < services.size();

  if (failed) {
    // Every start-up failure is fatal (see axo.h): say why where the
    // operator looks, then undo what started.
    const char* name = services[started]->name();
    const char* reason = status.message().c_str();
    TRK1_Printf(&axo_unit, __LINE__, "AXO0002E %s not started: %s", name, reason);
    fprintf(stderr, "%s: %s not started: %s\n", program.c_str(), name, reason);
    fflush(stderr);
  } else {
    AXO_Notify("READY=1");
    WaitForShutdown();
    AXO_Notify("STOPPING=1");
    TRK1_Trace(&axo_unit, TRK1_DETAIL, "omxmain: shutting down");
  }

  // What stops, in order: the started services in reverse, then the hooks
  // in reverse.
  std::vector<Stopping> stopping;
  for (size_t i = started; i-- > 0;) {
    axo::Service* s = services[i];
    stopping.push_back(Stopping{s->name(), [s] { s->Stop(); }});
  }
  {
    std::lock_guard<std::mutex> guard(p.mu);
    for (auto h = p.hooks.rbegin(); h != p.hooks.rend(); ++h) {
      stopping.push_back(Stopping{h->name, h->hook});
    }
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
  TRK1_Trace(&axo_unit, TRK1_DETAIL, "AXO_Shutdown(%d)", reason);
  WakeMainLoop();
  return 0;
}

// --- test seams -------------------------------------------------------------------------

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
  axo_internal::SetCommandCallback(nullptr);
  p.callbackProduct.clear();
  p.managerCommand = nullptr;
  p.hooks.clear();
  p.services.clear();
  p.subnodes.clear();
  p.pending.clear();
  p.registerRc = 0;
  p.sendRc = 0;
  p.args.clear();
  p.given.clear();
  p.reloadHooks.clear();
  ForgetHostLocked();
}
