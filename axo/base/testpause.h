// Test-only pause and stall points: named places where a test can stop the
// process and kill it, to prove that no moment loses or repeats data, or
// hold up one thread, to prove that a stuck part stalls nothing else.
#ifndef AXO_TESTPAUSE_H_
#define AXO_TESTPAUSE_H_

// When the environment variable ZEP_TEST_PAUSE_AT equals `name`, writes the
// line "AXO_TestPausePoint <name>" to standard error and stops the whole
// process with SIGSTOP, the first time the point is reached; a test then
// kills it with SIGKILL. Otherwise does nothing: the variable is read once,
// so an inactive point costs one comparison. Thread-safe.
void AXO_TestPausePoint(const char* name);

// When the environment variable ZEP_TEST_STALL_AT equals `name`, blocks the
// calling thread (whatever it holds) for as long as the file named by
// ZEP_TEST_STALL_FILE exists, checking every 100 ms; writes the line
// "AXO_TestStallPoint <name>" to standard error when a stall begins. A test
// creates the file to stall the part and removes it to let the part go on.
// Otherwise does nothing: both variables are read once, so an inactive
// point costs one comparison. Thread-safe.
void AXO_TestStallPoint(const char* name);

#endif  // AXO_TESTPAUSE_H_
