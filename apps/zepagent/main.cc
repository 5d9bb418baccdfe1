// Process entry of the agent: everything happens inside the framework.
#include <cstdio>
#include <cstdlib>

#include "axo/process/axo.h"
#include "axo/services/standard.h"
#include "runtime/zepmain.h"

int main(int argc, char** argv) {
  // The framework's operator API, history collector, alert sender and
  // situation timer, started by the main loop.
  axo::services::RegisterStandard();
  const int rc = axo_main(argc, argv);
  if (rc == AXO_SHUTDOWN_UNFINISHED) {
    // A part of the agent did not stop and still runs: returning would run
    // static destructors under it. End here, with what was written flushed.
    std::fflush(nullptr);
    std::_Exit(rc);
  }
  return rc;
}
