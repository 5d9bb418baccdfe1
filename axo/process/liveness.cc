// Liveness registry of the periodic parts.
#include "axo/process/liveness.h"

#include <algorithm>
#include <mutex>

#include "axo/process/axo.h"

namespace axo::liveness {
namespace {

struct Part {
  std::string name;
  time_t since = 0;  // last round, or when watched
  time_t lastRound = 0;
  int intervalSeconds = 1;
};

struct Registry {
  std::mutex mu;
  std::vector<Part> parts;  // guarded by mu; in the order first watched
};

Registry& Reg() {
  static Registry* r = new Registry;  // never destroyed: parts report at exit
  return *r;
}

// The entry of `name`, added when missing. Requires Reg().mu.
Part& Entry(Registry& r, const std::string& name) {
  auto it =
      std::find_if(r.parts.begin(), r.parts.end(), [&](const Part& p) { return p.name == name; });
  if (it != r.parts.end()) return *it;
  r.parts.push_back(Part{name, AXO_Now(), 0, 1});
  return r.parts.back();
}

}  // namespace

void Watch(const std::string& part, int intervalSeconds) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.mu);
  Part& p = Entry(r, part);
  p.since = AXO_Now();
  p.intervalSeconds = std::max(1, intervalSeconds);
}

void Completed(const std::string& part, int intervalSeconds) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.mu);
  Part& p = Entry(r, part);
  p.since = p.lastRound = AXO_Now();
  p.intervalSeconds = std::max(1, intervalSeconds);
}

void Forget(const std::string& part) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.mu);
  r.parts.erase(
      std::remove_if(r.parts.begin(), r.parts.end(), [&](const Part& p) { return p.name == part; }),
      r.parts.end());
}

std::vector<PartState> Parts(time_t now) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.mu);
  std::vector<PartState> out;
  for (const Part& p : r.parts) {
    PartState s;
    s.name = p.name;
    s.lastRound = p.lastRound;
    s.intervalSeconds = p.intervalSeconds;
    s.ageSeconds = std::max<long>(0, static_cast<long>(now - p.since));
    s.stuck = s.ageSeconds > static_cast<long>(kStuckIntervals) * p.intervalSeconds &&
              s.ageSeconds >= kStuckMinSeconds;
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace axo::liveness
