// The test seams of a running agent: named places where a test can stop the
// process and kill it, to prove that no moment loses or repeats data, or
// hold up one thread, to prove that a stuck part stalls nothing else; and
// offsets that move the clocks of a running agent instead of waiting.
//
// They act only in the agent the tests start (build/seams/zepagent, built
// from this file with AXO_TEST_SEAMS defined). In every other build, the
// shipped agent among them, each is a no-op that never reads the
// environment: whoever can set the service's environment or write a file
// cannot stop the agent, stall it or move its clock. All are thread-safe.
#ifndef AXO_TESTPAUSE_H_
#define AXO_TESTPAUSE_H_

#include <ctime>

// When the environment variable ZEP_TEST_PAUSE_AT equals `name`, writes the
// line "AXO_TestPausePoint <name>" to standard error and stops the whole
// process with SIGSTOP, the first time the point is reached; a test then
// kills it with SIGKILL. Otherwise does nothing: the variable is read once,
// so an inactive point costs one comparison.
void AXO_TestPausePoint(const char* name);

// When the environment variable ZEP_TEST_STALL_AT equals `name`, blocks the
// calling thread (whatever it holds) for as long as the file named by
// ZEP_TEST_STALL_FILE exists, checking every 100 ms; writes the line
// "AXO_TestStallPoint <name>" to standard error when a stall begins. A test
// creates the file to stall the part and removes it to let the part go on.
// Otherwise does nothing: both variables are read once, so an inactive
// point costs one comparison.
void AXO_TestStallPoint(const char* name);

// Returns the seconds to add to time() for the framework clock (AXO_Now):
// the whole number held by the file that ZEP_TEST_CLOCK_FILE names (within
// ±999999999), re-read at most once a second so that a test moves the clock
// by writing the file anew; 0 without the variable or a number.
time_t AXO_TestClockFileOffset();

// Returns the seconds to add to time() for the agent's own clock
// (ZEPPORT::now): ZEP_TEST_CLOCK_OFFSET when it is a whole number of seconds
// within a day either way, read once; else 0.
time_t AXO_TestClockOffset();

#endif  // AXO_TESTPAUSE_H_
