// Process entry of the agent: everything happens inside the framework.
#include "zepmain.h"

int main(int argc, char** argv) { return axo_main(argc, argv); }
