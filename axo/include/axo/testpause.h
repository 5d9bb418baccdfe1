// Test-only pause points: named places where a test can stop the process
// and kill it, to prove that no moment loses or repeats data.
#ifndef AXO_TESTPAUSE_H_
#define AXO_TESTPAUSE_H_

// When the environment variable ZEP_TEST_PAUSE_AT equals `name`, writes the
// line "AXO_TestPausePoint <name>" to standard error and stops the whole
// process with SIGSTOP, the first time the point is reached; a test then
// kills it with SIGKILL. Otherwise does nothing: the variable is read once,
// so an inactive point costs one comparison. Thread-safe.
void AXO_TestPausePoint(const char* name);

#endif  // AXO_TESTPAUSE_H_
