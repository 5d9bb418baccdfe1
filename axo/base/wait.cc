// The text of a request that waited too long for the agent's data.
#include "axo/base/wait.h"

#include <cstdio>

#include "axo/base/osb1.h"

namespace axo_internal {

std::string BusyError() {
  char seconds[32];
  snprintf(seconds, sizeof(seconds), "%g", OSB1_WaitLimit::current() / 1000.0);
  return std::string("the agent's data stayed locked for ") + seconds +
         " s (a part of the agent is stuck or slow); try again later";
}

}  // namespace axo_internal
