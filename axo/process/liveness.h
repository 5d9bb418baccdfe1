// Liveness of the periodic parts of the agent and the framework: each part
// says when it completed a round and how often it means to (the dispatcher
// after each pass, the history writer after each collection, the alert
// sender after each round); GET /healthz reads the registry and tells a
// stuck part from a slow one. The API depends on this registry, never on
// the agent.
//
// The rule: a part is stuck when its last completed round (before its
// first: the moment it began to be watched) is more than kStuckIntervals
// intervals and at least kStuckMinSeconds seconds old. Three intervals
// spare a part whose round runs long once; the floor spares parts with
// short intervals whose rounds legitimately take a few seconds (a pass over
// a backlog, a slow Alertmanager).
//
// Times are the framework clock's (AXO_Now). Thread-safety: every function
// may be called from any thread.
#ifndef AXO_LIVENESS_H_
#define AXO_LIVENESS_H_

#include <ctime>
#include <string>
#include <vector>

namespace axo::liveness {

inline constexpr int kStuckIntervals = 3;
inline constexpr int kStuckMinSeconds = 30;

// Starts watching `part` (e.g. "dispatcher"), due every `intervalSeconds`
// (at least 1); its age counts from now. Watching a watched part changes its
// interval and restarts its age (its last round stays as it was).
void Watch(const std::string& part, int intervalSeconds);
// `part` completed a round now; from now on it is due every
// `intervalSeconds`. Watches the part if it was not watched.
void Completed(const std::string& part, int intervalSeconds);
// Stops watching `part` (it was stopped on purpose).
void Forget(const std::string& part);

struct PartState {
  std::string name;
  time_t lastRound = 0;  // when the last round completed; 0 before the first
  int intervalSeconds = 0;
  long ageSeconds = 0;  // since lastRound (or since watched), at `now`
  bool stuck = false;   // by the rule above
};
// Every watched part at `now`, in the order they were first watched.
std::vector<PartState> Parts(time_t now);

}  // namespace axo::liveness

#endif  // AXO_LIVENESS_H_
