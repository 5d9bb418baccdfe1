// The service interface: how the process drives the framework's parts that
// run beside the agent (the operator API, the history collector, the alert
// sender, the situation timer; see axo/services/standard.h).
//
// The process part knows services only through this interface, so it
// includes none of the parts that implement them: they register with it
// (AXO_AddService) before omxmain runs.
#ifndef AXO_PROCESS_SERVICE_H_
#define AXO_PROCESS_SERVICE_H_

#include <string>
#include <vector>

#include "axo/base/status.h"

struct AXO_Options;

namespace axo {

class Service {
 public:
  virtual ~Service() = default;
  // Names the service in start-up failures and traces ("operator API").
  virtual const char* name() const = 0;
  // Starts the service on the options fixed by OSB1_Main. Returns ok when it
  // runs or has nothing to do (its option is not given), or the reason it
  // cannot run: a start-up failure, which ends the agent (see axo.h).
  virtual Status Start(const AXO_Options& options) = 0;
  // Checks the files `options` names for this service without starting
  // anything (--check-web-config): ok, or the reasons. Runs on the main
  // thread before omxmain, in place of it.
  virtual Status Check(const AXO_Options& options) {
    (void)options;
    return Status::OK();
  }
  // The options (names without "--", as in the options file) whose change
  // Reload applies without a restart.
  virtual std::vector<std::string> ReloadableOptions() const { return {}; }
  // Applies a reload in which any of ReloadableOptions changed; runs on the
  // main loop's thread (see AXO_OnReload).
  virtual void Reload(const AXO_Options& before, const AXO_Options& after) {
    (void)before;
    (void)after;
  }
  // Stops the service and waits for its threads. Called once after a
  // successful Start; must not block past the process's stop bound.
  virtual void Stop() = 0;
};

}  // namespace axo

// Registers `service` (not owned; it must live as long as the process).
// omxmain starts the services after the loader, in registration order, and
// stops every started one, in reverse order, when the main loop ends or a
// later service fails to start. Its ReloadableOptions are registered as a
// reload hook at once. Registering the same service again has no further
// effect. Thread-safe.
void AXO_AddService(axo::Service* service);

#endif  // AXO_PROCESS_SERVICE_H_
