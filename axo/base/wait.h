// How long the framework's own threads wait for the agent's data.
#ifndef AXO_BASE_WAIT_H_
#define AXO_BASE_WAIT_H_

#include <string>

namespace axo_internal {

// How long a framework thread that serves requests or samples (operator API,
// history collector, situation timer) waits for the agent's locks before it
// answers "busy" (OSB1_WaitLimit, AXO_RC_BUSY).
inline constexpr int kDataWaitMillis = 5000;

// The error text of a request that found the agent's data locked past the
// calling thread's wait limit (OSB1_WaitLimit::current).
std::string BusyError();

}  // namespace axo_internal

#endif  // AXO_BASE_WAIT_H_
