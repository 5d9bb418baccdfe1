// Hostile input against the real agent, started as the package starts it:
// each case is an attack that once stalled, redirected or exhausted the
// agent, and shows that it no longer does. Grouped by what is attacked.
#include <gtest/gtest.h>

#include <string>

#include "e2e/zepagent_process.h"
#include "foundation/zeptestdir.h"

namespace {

using e2e::Agent;

class HostileInputTest : public ::testing::Test {
 protected:
  ZepTestDir tmp_;
};

// --- the log directory and the files the agent writes ------------------------

// --- requests before authentication ------------------------------------------

// --- operator objects, exposition, secrets and names --------------------------

}  // namespace
