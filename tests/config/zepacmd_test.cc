// Action commands and control list editing, on a real configuration file.
#include "config/zepacmd.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>

#include "axo/base/trk1.h"
#include "foundation/zepprops.h"
#include "support/zeptestdir.h"

namespace {

using A = ZEPACMD_actionCommand;

const char kServer1[] =
    "1.server1.monitor=off\n1.server1.log=error\n1.server1.trace=off\n"
    "1.server1.monitor.control.count=1\n1.server1.monitor.control.1=*;*;*;none\n"
    "1.server1.filter.control.count=0\n";

// `name` for server1 in environment 1 on host1, then `rest`.
std::string cmd(const std::string& name, const std::string& rest = "") {
  const std::string c = name + ";server1;Granite_Application_Server;host1";
  return rest.empty() ? c : c + ";" + rest;
}

class ActionCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    props_.setPropertyFilename(dir_.path("ZEP.dc.properties").c_str());
    write(kServer1);
  }

  void write(const std::string& content) { dir_.write("ZEP.dc.properties", content); }
  std::string file() const { return dir_.read("ZEP.dc.properties"); }
  std::string value(const std::string& key) {
    ZEPPROPS_properties p(dir_.path("ZEP.dc.properties").c_str());
    const char* v = p.getProperty(key.c_str());
    return v != nullptr ? v : "<absent>";
  }
  int run(const std::string& command, char* buf = nullptr, int size = 0) {
    return acmd_.handleAction(command.c_str(), props_, buf, size);
  }
  // Runs `command`, expects RC_ERROR, an untouched file and `message`
  // (unless empty).
  void expectRejected(const std::string& command, const std::string& message) {
    SCOPED_TRACE(command.substr(0, 80));
    const std::string before = file();
    TRK1_Capture capture;
    EXPECT_EQ(run(command), A::RC_ERROR);
    EXPECT_EQ(file(), before);
    EXPECT_TRUE(message.empty() || capture.contains(message)) << "missing: " << message;
  }

  ZepTestDir dir_;
  ZEPPROPS_properties props_;
  ZEPACMD_actionCommand acmd_;
};

TEST_F(ActionCommandTest, SettingsChangeOnceAndStoreCanonicalWords) {
  // command, result, a key and its value afterwards
  const std::tuple<std::string, int, const char*, const char*> steps[] = {
      {"ENABLEMONITORING; server1 ;granite_application_server; host1 ", A::RC_SUCCESS,
       "1.server1.monitor", "on"},
      {cmd("enableMonitoring"), A::RC_NO_CHANGE, "1.server1.monitor", "on"},
      {cmd("updateLogging", "WARNING"), A::RC_SUCCESS, "1.server1.log", "warning"},
      {cmd("updateLogging", "Warning"), A::RC_NO_CHANGE, "1.server1.log", "warning"},
      // A 64-character host name and an empty one are accepted.
      {"updateTracing;server1;Granite_Application_Server;" + std::string(64, 'h') + ";ON",
       A::RC_SUCCESS, "1.server1.trace", "on"},
      {"updateTracing;server1;Granite_Application_Server;;off", A::RC_SUCCESS, "1.server1.trace",
       "off"},
      // An absent setting counts as different.
      {"updateLogging;app.node1;Quill_Runtime;h;Info", A::RC_SUCCESS, "2.app.node1.log", "info"},
      {"setKeyVal  zep.config.version = 2 ", A::RC_SUCCESS, "zep.config.version", "2"},
      {"setKeyVal a.b=x=y", A::RC_SUCCESS, "a.b", "x=y"},
      {"setKeyVal a.b=", A::RC_SUCCESS, "a.b", "<absent>"},
  };
  write(std::string(kServer1) + "2.app.node1.monitor=on\n");
  for (const auto& [command, rc, key, expected] : steps) {
    SCOPED_TRACE(command);
    // A save would drop this comment: only a change saves.
    write(file() + "# hand-written note\n");
    EXPECT_EQ(run(command), rc);
    EXPECT_EQ(value(key), expected);
    EXPECT_EQ(file().find("# hand-written note") != std::string::npos, rc == A::RC_NO_CHANGE);
  }
  EXPECT_EQ(file().rfind("#ZEPAC0003I Data collector configuration file\n", 0), 0u);
}

TEST_F(ActionCommandTest, RejectionsReportEveryFaultAndLeaveTheFileAlone) {
  // Each fault's message, by its number and the words that tell it apart.
  const std::pair<std::string, const char*> cases[] = {
      {"enableMonitoring;server1;Granite_Application_Server", "ZEPAC0003E The number"},
      {"enableMonitoring;server1;Granite_Application_Server;" + std::string(65, 'h'),
       "ZEPAC0010E The host name"},
      {"enableMonitoring;server9;Granite_Application_Server;host1", "ZEPAC0008E"},
      {"enableMonitoring;server1;Granite;host1", "ZEPAC0009E"},
      {cmd("updateLogging", "debug"), "ZEPAC0004E"},
      {cmd("updateTracing", "yes"), "ZEPAC0005E"},
      {cmd("addMonitorControl", "*;submitOrder;Full"), "ZEPAC0010E The combination"},
      {cmd("addMonitorControl", "OrderPort;submitOrder;headers"), "ZEPAC0006E"},
      {cmd("addMonitorControl", std::string(65, 'p') + ";op;Full"), "ZEPAC0011E"},
      {cmd("addMonitorControl", "OrderPort;" + std::string(65, 'o') + ";Full"), "ZEPAC0012E"},
      {cmd("addFilterControl", "OrderPort;submitOrder"), "ZEPAC0010E The client address"},
      {"reboot;x", "ZEPAC0002E The command specified is not a valid action command: reboot"},
      {"   ", "ZEPAC0001E"},
      {"setKeyVal #note=1", "ZEPAC0013E"},
      {"setKeyVal k=" + std::string(3000, 'v'), "ZEPAC0013E"},
  };
  for (const auto& [command, message] : cases) expectRejected(command, message);
  EXPECT_EQ(acmd_.handleAction(nullptr, props_, nullptr, 0), A::RC_ERROR);
}

TEST_F(ActionCommandTest, GetKeyValNeverOverrunsTheBuffer) {
  char big[100];
  EXPECT_EQ(run("getKeyVal  1.server1.log ", big, sizeof big), A::RC_SUCCESS);
  EXPECT_STREQ(big, "1.server1.log=error");
  char small[20] = "untouched";
  small[19] = 'X';
  EXPECT_EQ(run("getKeyVal 1.server1.log", small, 19), A::RC_SUCCESS);  // 19 bytes: no room
  EXPECT_STREQ(small, "");
  EXPECT_EQ(small[19], 'X');
  EXPECT_EQ(run("getKeyVal 1.server1.log", nullptr, 0), A::RC_SUCCESS);
  EXPECT_EQ(run("getKeyVal no.such.key", big, sizeof big), A::RC_SUCCESS);
  EXPECT_STREQ(big, "");
}

// --- control lists ---------------------------------------------------------

// A configuration file with server1's `kind` list ("|"-separated controls),
// or `list` itself when it is a whole file.
std::string listFile(const std::string& kind, const std::string& list) {
  if (list.find('\n') != std::string::npos) return list;
  std::string content = "1.server1.monitor=on\n";
  std::istringstream in(list);
  int n = 0;
  for (std::string c; std::getline(in, c, '|');) {
    content += "1.server1." + kind + ".control." + std::to_string(++n) + "=" + c + "\n";
  }
  if (n > 0) content += "1.server1." + kind + ".control.count=" + std::to_string(n) + "\n";
  return content;
}

TEST_F(ActionCommandTest, ControlListsKeepTheirPriorityOrder) {
  const std::string on = "1.server1.monitor=on\n1.server1.monitor.control.";
  // The stored controls ("|"-separated) or a damaged file; the command
  // (verb;port;operation;level or client); its result; the resulting list,
  // or the rejection's message.
  const std::tuple<std::string, std::string, int, const char*> cases[] = {
      {"*;*;*;none", "addMonitorControl;OrderPort;submitOrder;Full", A::RC_SUCCESS,
       "OrderPort;submitOrder;*;full|*;*;*;none"},
      {"OrderPort;submitOrder;*;full|*;*;*;none", "addMonitorControl;OrderPort;*;Body",
       A::RC_SUCCESS, "OrderPort;submitOrder;*;full|OrderPort;*;*;body|*;*;*;none"},
      {"A;a;*;none|*;*;*;none", "addMonitorControl;B;b;None", A::RC_SUCCESS,
       "A;a;*;none|B;b;*;none|*;*;*;none"},
      {"", "addMonitorControl;*;*;Full", A::RC_SUCCESS, "*;*;*;full"},
      {"OrderPort;op;*;none", "addMonitorControl;orderport;op;header",  // names are exact
       A::RC_SUCCESS, "OrderPort;op;*;none|orderport;op;*;headers"},
      {"P;o;10.0.0.1;reject", "addFilterControl;*;*;*", A::RC_SUCCESS,
       "*;*;*;reject|P;o;10.0.0.1;reject"},
      {"P;*;*;reject|*;*;1.1.1.1;reject", "addFilterControl;P;o;*", A::RC_SUCCESS,
       "P;*;*;reject|P;o;*;reject|*;*;1.1.1.1;reject"},  // any client ranks higher
      {"*;*;*;none|P;o;*;full", "updateMonitorControlTraceLevel;P;o;Body", A::RC_SUCCESS,
       "*;*;*;none|P;o;*;body"},
      {"*;*;*;reject|A;a;1.1.1.1;reject", "deleteFilterControl;*;*;*", A::RC_SUCCESS,
       "A;a;1.1.1.1;reject"},
      {"P;o;*;full", "deleteMonitorControl;P;o", A::RC_SUCCESS, ""},
      {"P;o;*;full", "deleteMonitorControl;X;o", A::RC_NO_CHANGE, "P;o;*;full"},
      // Duplicates are found even in a hand-edited list out of rank order.
      {"*;*;*;none|P;o;*;full", "addMonitorControl;P;o;Body", A::RC_ERROR,
       "already contains a matching control: 1.server1.monitor.control.2"},
      {"*;*;*;none", "updateMonitorControlTraceLevel;Q;o;Body", A::RC_ERROR, ""},
      {"*;*;*;reject|*;*", "addFilterControl;P;o;c", A::RC_ERROR,
       "bad control value: 1.server1.filter.control.2"},
      // Damaged lists: a bad count, a missing control, a count far beyond the file.
      {on + "count=abc\n", "addMonitorControl;P;o;Full", A::RC_ERROR,
       "bad count value: 1.server1.monitor.control.count"},
      {on + "count=3\n" + on + "1=*;*;*;none\n" + on + "3=*;*;*;none\n", "deleteMonitorControl;P;o",
       A::RC_ERROR, "missing a property: 1.server1.monitor.control.2"},
      {on + "count=2000000000\n", "addMonitorControl;P;o;Full", A::RC_ERROR,
       "missing a property: 1.server1.monitor.control.1"},
      {on + "count=2000000000\n", "deleteMonitorControl;P;o", A::RC_ERROR,
       "missing a property: 1.server1.monitor.control.1"},
  };
  for (const auto& [stored, words, rc, expect] : cases) {
    SCOPED_TRACE(words);
    const std::string verb = words.substr(0, words.find(';'));
    const std::string kind = verb.find("Monitor") != std::string::npos ? "monitor" : "filter";
    write(listFile(kind, stored));
    const std::string command = cmd(verb, words.substr(verb.size() + 1));
    if (rc == A::RC_ERROR) {
      expectRejected(command, expect);
      continue;
    }
    EXPECT_EQ(run(command), rc);
    // Every control and the count as the file has them now.
    std::string list;
    const std::string stem = "1.server1." + kind + ".control.";
    int n = 0;
    for (; value(stem + std::to_string(n + 1)) != "<absent>"; ++n) {
      list += (n > 0 ? "|" : "") + value(stem + std::to_string(n + 1));
    }
    EXPECT_EQ(list, expect);
    EXPECT_EQ(value(stem + "count"), n > 0 ? std::to_string(n) : "<absent>");
  }
}

}  // namespace
