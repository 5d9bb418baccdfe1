// The developer's test console: a terminal for the foundation classes and
// the action commands, without the framework.
#include "config/zeptacmd.h"
#include "runtime/zepdisp.h"

int main(int argc, char** argv) {
  ZEPTACMD_setAgentControl({&ZEPDISP_dispatcher::init, &ZEPDISP_dispatcher::stop});
  return testmain(argc, argv);
}
