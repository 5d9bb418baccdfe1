// The framework's standard services, wired to the process: the operator
// API, the history collector, the alert sender and the situation timer.
// Each reads its options from the process (axo/process/axo.h), starts the
// part that does the work, and applies the options a reload may change.
#ifndef AXO_SERVICES_STANDARD_H_
#define AXO_SERVICES_STANDARD_H_

namespace axo::services {

// Registers the standard services with the process (AXO_AddService), in
// the order omxmain starts them: operator API (--listen, --token-file; none
// with --listen none), history collector (--history-*; none without
// --history-db), alert sender (--alertmanager-url; reloadable), situation
// timer (--max-situations is read at each creation, so a reload applies it
// at once). Call it before omxmain (the agent's main calls it first of
// all); calling it again has no further effect. Thread-safe.
void RegisterStandard();

}  // namespace axo::services

#endif  // AXO_SERVICES_STANDARD_H_
