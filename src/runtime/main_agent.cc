// Process entry of the agent: everything happens inside the framework.
#include "runtime/zepmain.h"

int main(int argc, char** argv) { return axo_main(argc, argv); }
