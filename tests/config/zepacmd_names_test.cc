// Action commands: an absent or blank command text and a present but empty
// command name are told apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "axo/trk1.h"
#include "config/zepacmd.h"
#include "foundation/zepprops.h"
#include "foundation/zeptestdir.h"

namespace {

TEST(ActionCommandNamesTest, EmptyNameIsAnInvalidCommandNotAMissingText) {
  ZepTestDir dir;
  dir.write("ZEP.dc.properties", "1.server1.monitor=off\n");
  ZEPPROPS_properties props(dir.path("ZEP.dc.properties").c_str());
  const std::string noName =
      "ZEPAC0001E The command string contains no command name or parameters";
  // With the empty name shown as such: nothing follows the colon.
  const std::string invalid = "ZEPAC0002E The command specified is not a valid action command: ";
  struct Case {
    const char* command;
    const std::string& message;
    const std::string& absent;
  } cases[] = {
      {";;;", invalid, noName},
      {" ;server1", invalid, noName},
      {nullptr, noName, invalid},
      {"  ", noName, invalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command != nullptr ? c.command : "(null)");
    TRK1_Capture capture;
    ZEPACMD_actionCommand action;
    EXPECT_EQ(action.handleAction(c.command, props, nullptr, 0), ZEPACMD_actionCommand::RC_ERROR);
    const std::vector<std::string> messages = capture.messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), c.message), messages.end());
    EXPECT_FALSE(capture.contains(c.absent.substr(0, 10)));
  }
}

}  // namespace
