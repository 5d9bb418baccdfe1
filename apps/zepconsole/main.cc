// The developer's test console: a terminal for the foundation classes and
// the action commands, without the framework.
#include "zepconsole/zeptacmd.h"

int main(int argc, char** argv) { return testmain(argc, argv); }
