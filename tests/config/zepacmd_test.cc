// Action commands and control list editing, on a real configuration file.
#include "config/zepacmd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "axo/axo.h"
#include "axo/osb1.h"
#include "axo/request.h"
#include "axo/trk1.h"
#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "foundation/zeptestdir.h"
#include "runtime/zepcmd.h"
#include "runtime/zepdisp.h"

namespace {

const char kServer1[] =
    "1.server1.monitor=off\n"
    "1.server1.log=error\n"
    "1.server1.trace=off\n"
    "1.server1.monitor.control.count=1\n"
    "1.server1.monitor.control.1=*;*;*;none\n"
    "1.server1.filter.control.count=0\n";

const std::string kPrefix = "ACMD;server1;Granite_Application_Server;host1";

class ActionCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TRK1_SetLevel("all", 255);
    props_.setPropertyFilename(dir_.path("ZEP.dc.properties").c_str());
    write(kServer1);
  }
  void TearDown() override {
    ZEPPORT::clearFaults();
    TRK1_ResetLevels();
  }

  void write(const std::string& content) { dir_.write("ZEP.dc.properties", content); }
  std::string file() const { return dir_.read("ZEP.dc.properties"); }
  std::string value(const char* key) {
    ZEPPROPS_properties p(dir_.path("ZEP.dc.properties").c_str());
    const char* v = p.getProperty(key);
    return v != nullptr ? v : "<absent>";
  }
  // A command of `name` for server1 in environment 1 with host1, then `rest`.
  static std::string cmd(const std::string& name, const std::string& rest = "") {
    std::string c = name + kPrefix.substr(4);
    return rest.empty() ? c : c + ";" + rest;
  }
  int run(const std::string& command, char* buf = nullptr, int size = 0) {
    return acmd_.handleAction(command.c_str(), props_, buf, size);
  }
  // Runs `command`, expects RC_ERROR, an untouched file and `message`.
  void expectRejected(const std::string& command, const std::string& message) {
    SCOPED_TRACE(command);
    std::string before = file();
    TRK1_Capture capture;
    EXPECT_EQ(run(command), ZEPACMD_actionCommand::RC_ERROR);
    EXPECT_EQ(file(), before);
    EXPECT_TRUE(capture.contains(message)) << "missing message: " << message;
  }

  ZepTestDir dir_;
  ZEPPROPS_properties props_;
  ZEPACMD_actionCommand acmd_;
};

TEST_F(ActionCommandTest, EnableTwiceChangesOnceAndSavesOnce) {
  EXPECT_EQ(run(cmd("enableMonitoring")), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(file().rfind("#ZEPAC0003I Data collector configuration file\n", 0), 0u);
  EXPECT_EQ(value("1.server1.monitor"), "on");

  // A second save would drop this comment.
  write(file() + "# hand-written note\n");
  EXPECT_EQ(run(cmd("enableMonitoring")), ZEPACMD_actionCommand::RC_NO_CHANGE);
  EXPECT_NE(file().find("# hand-written note"), std::string::npos);

  EXPECT_EQ(run(cmd("disableMonitoring")), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("1.server1.monitor"), "off");
}

TEST_F(ActionCommandTest, NamesAndWordsIgnoreCaseAndStoreCanonicalWords) {
  EXPECT_EQ(run("ENABLEMONITORING; server1 ;granite_application_server; host1 "),
            ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(run(cmd("updateLogging", "WARNING")), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("1.server1.log"), "warning");
  EXPECT_EQ(run(cmd("updateLogging", "Warning")), ZEPACMD_actionCommand::RC_NO_CHANGE);
  EXPECT_EQ(run(cmd("updateTracing", "ON")), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("1.server1.trace"), "on");
  EXPECT_EQ(run(cmd("addMonitorControl", "OrderPort;submitOrder;Full")),
            ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("1.server1.monitor.control.1"), "OrderPort;submitOrder;*;full");
  EXPECT_EQ(run(cmd("addMonitorControl", "OrderPort;*;header")), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("1.server1.monitor.control.2"), "OrderPort;*;*;headers");
}

TEST_F(ActionCommandTest, AbsentSettingCountsAsDifferent) {
  write("2.app.node1.monitor=on\n");
  EXPECT_EQ(run("updateLogging;app.node1;Quill_Runtime;h;Info"), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(run("updateTracing;app.node1;Quill_Runtime;h;Off"), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("2.app.node1.log"), "info");
  EXPECT_EQ(value("2.app.node1.trace"), "off");
}

TEST_F(ActionCommandTest, HostNameLimits) {
  std::string host64(64, 'h');
  EXPECT_EQ(run("updateTracing;server1;Granite_Application_Server;" + host64 + ";on"),
            ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(run("updateTracing;server1;Granite_Application_Server;;off"),
            ZEPACMD_actionCommand::RC_SUCCESS);
  expectRejected("enableMonitoring;server1;Granite_Application_Server;" + host64 + "h",
                 "ZEPAC0010E The host name is missing or not valid");
}

TEST_F(ActionCommandTest, RejectionsReportEveryFaultAndLeaveTheFileAlone) {
  expectRejected("enableMonitoring;server1;Granite_Application_Server",
                 "ZEPAC0003E The number of command parameters is incorrect");
  expectRejected("enableMonitoring;server1;Granite_Application_Server",
                 "ZEPAC0010E The host name is missing or not valid");
  expectRejected("enableMonitoring;server9;Granite_Application_Server;host1",
                 "ZEPAC0008E The application server name is missing or not valid");
  expectRejected("enableMonitoring;server1;Granite;host1",
                 "ZEPAC0009E The application server environment is missing or not valid");
  expectRejected(cmd("updateLogging", "debug"),
                 "ZEPAC0004E The logging level is missing or not valid");
  expectRejected(cmd("updateTracing", "yes"), "ZEPAC0005E The trace level is missing or not valid");
  expectRejected(cmd("addMonitorControl", "*;submitOrder;Full"),
                 "ZEPAC0010E The combination of WSDL port name and operation name is not valid");
  expectRejected(cmd("addMonitorControl", "OrderPort;submitOrder;headers"),
                 "ZEPAC0006E The monitor level is missing or not valid");
  expectRejected(cmd("addMonitorControl", std::string(65, 'p') + ";op;Full"),
                 "ZEPAC0011E The WSDL port name is missing or not valid");
  expectRejected(cmd("addFilterControl", "OrderPort;submitOrder"),
                 "ZEPAC0010E The client address is missing or not valid");
  expectRejected("reboot;x", "ZEPAC0002E The command specified is not a valid action command: reboot");
  expectRejected("   ", "ZEPAC0001E The command string contains no command name or parameters");
}

TEST_F(ActionCommandTest, LineBreaksAndCommentKeysCannotReachTheFile) {
  expectRejected(cmd("addMonitorControl", "Order\nzep.x=1;op;Full"),
                 "ZEPAC0011E The WSDL port name is missing or not valid");
  expectRejected(cmd("addFilterControl", "OrderPort;op;10.0.0.1\r\n1.server1.monitor=off"),
                 "ZEPAC0010E The client address is missing or not valid");
  expectRejected("setKeyVal #note=1", "ZEPAC0013E");
  expectRejected("setKeyVal !note=1", "ZEPAC0013E");
  expectRejected("setKeyVal a=b\nc=d", "ZEPAC0013E");
  expectRejected("setKeyVal =value", "ZEPAC0013E");
  expectRejected("setKeyVal k=" + std::string(3000, 'v'), "ZEPAC0013E");
}

TEST_F(ActionCommandTest, GetKeyValNeverOverrunsTheBuffer) {
  char big[100];
  EXPECT_EQ(run("getKeyVal  1.server1.log ", big, sizeof big), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_STREQ(big, "1.server1.log=error");

  char small[20] = "untouched";
  small[19] = 'X';
  EXPECT_EQ(run("getKeyVal 1.server1.log", small, 19), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(small[19], 'X');

  char one[1] = {'Z'};
  EXPECT_EQ(run("getKeyVal 1.server1.log", one, 1), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(run("getKeyVal 1.server1.log", nullptr, 0), ZEPACMD_actionCommand::RC_SUCCESS);

  EXPECT_EQ(run("getKeyVal no.such.key", big, sizeof big), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_STREQ(big, "");
}

TEST_F(ActionCommandTest, SetKeyValTrimsSetsAndRemoves) {
  EXPECT_EQ(run("setKeyVal  zep.config.version = 2 "), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("zep.config.version"), "2");
  EXPECT_EQ(run("setKeyVal zep.config.version="), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("zep.config.version"), "<absent>");
  EXPECT_EQ(run("setKeyVal a.b=x=y"), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("a.b"), "x=y");
  // New keys go to the end of the file.
  EXPECT_EQ(file().substr(file().size() - 8), "a.b=x=y\n");
}

TEST_F(ActionCommandTest, FailedSaveAnswersErrorAndKeepsFileAndProperties) {
  std::string before = file();
  ZEPPORT::injectFault(ZEPPORT::Op::kWrite, "ZEP.dc.properties", ENOSPC);
  ZEPPORT::injectFault(ZEPPORT::Op::kRename, "ZEP.dc.properties", ENOSPC);
  EXPECT_EQ(run(cmd("enableMonitoring")), ZEPACMD_actionCommand::RC_ERROR);
  ZEPPORT::clearFaults();
  EXPECT_EQ(file(), before);
  EXPECT_STREQ(props_.getProperty("1.server1.monitor"), "off");
}

TEST_F(ActionCommandTest, OddCommandTextsAreHandledSafely) {
  const std::string odd[] = {
      "",          ";;;;;;;;;;;;;;;;",        "=",          "getKeyVal ",
      "setKeyVal", "setKeyVal =",             "\x01\x02\x7f", std::string(100000, ';'),
      std::string(5000, 'x'), "addFilterControl;;;;;;;;;;;;", "enableMonitoring;=;=;=",
  };
  std::string before = file();
  for (const std::string& c : odd) {
    int rc = run(c);
    EXPECT_TRUE(rc == ZEPACMD_actionCommand::RC_ERROR || rc == ZEPACMD_actionCommand::RC_SUCCESS)
        << c.substr(0, 40);
    if (rc == ZEPACMD_actionCommand::RC_ERROR) {
      EXPECT_EQ(file(), before);
    }
    before = file();
  }
  EXPECT_EQ(acmd_.handleAction(nullptr, props_, nullptr, 0), ZEPACMD_actionCommand::RC_ERROR);
}

// --- control lists ---------------------------------------------------------

struct ListCase {
  const char* name;
  const char* list;     // stored controls, "|"-separated
  const char* command;  // name;port;op;third
  const char* expect;   // resulting list, "|"-separated
};

// Test listings show a case by its name.
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class ControlListTest : public ActionCommandTest,
                        public ::testing::WithParamInterface<ListCase> {
 protected:
  // Writes server1 with the given monitor or filter list.
  void writeList(const std::string& kind, const std::string& list) {
    std::string content = "1.server1.monitor=on\n";
    int n = 0;
    size_t pos = 0;
    while (!list.empty() && pos <= list.size()) {
      size_t bar = list.find('|', pos);
      if (bar == std::string::npos) bar = list.size();
      content += "1.server1." + kind + ".control." + std::to_string(++n) + "=" +
                 list.substr(pos, bar - pos) + "\n";
      pos = bar + 1;
    }
    if (n > 0) content += "1.server1." + kind + ".control.count=" + std::to_string(n) + "\n";
    write(content);
  }
  std::string readList(const std::string& kind) {
    ZEPPROPS_properties p(dir_.path("ZEP.dc.properties").c_str());
    const char* count = p.getProperty(("1.server1." + kind + ".control.count").c_str());
    std::string out;
    for (int i = 1; count != nullptr && i <= std::stoi(count); i++) {
      const char* v = p.getProperty(("1.server1." + kind + ".control." + std::to_string(i)).c_str());
      out += (i > 1 ? "|" : "") + std::string(v != nullptr ? v : "<missing>");
    }
    return out;
  }
};

TEST_P(ControlListTest, InsertsAtPriorityPosition) {
  const ListCase& c = GetParam();
  std::string name = c.command;
  std::string kind = name.find("Monitor") != std::string::npos ? "monitor" : "filter";
  writeList(kind, c.list);
  std::string verb = name.substr(0, name.find(';'));
  EXPECT_EQ(run(cmd(verb, name.substr(name.find(';') + 1))), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(readList(kind), c.expect);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, ControlListTest,
    ::testing::Values(
        ListCase{"SpecificBeforeAny", "*;*;*;none", "addMonitorControl;OrderPort;submitOrder;Full",
                 "OrderPort;submitOrder;*;full|*;*;*;none"},
        ListCase{"PortBetween", "OrderPort;submitOrder;*;full|*;*;*;none",
                 "addMonitorControl;OrderPort;*;Body",
                 "OrderPort;submitOrder;*;full|OrderPort;*;*;body|*;*;*;none"},
        ListCase{"EqualRankAfterExisting", "A;a;*;none|*;*;*;none", "addMonitorControl;B;b;None",
                 "A;a;*;none|B;b;*;none|*;*;*;none"},
        ListCase{"IntoEmptyList", "", "addMonitorControl;*;*;Full", "*;*;*;full"},
        ListCase{"FilterSpecificLast", "*;*;*;reject", "addFilterControl;OrderPort;submitOrder;10.0.0.1",
                 "*;*;*;reject|OrderPort;submitOrder;10.0.0.1;reject"},
        ListCase{"FilterAnyFirst", "OrderPort;submitOrder;10.0.0.1;reject", "addFilterControl;*;*;*",
                 "*;*;*;reject|OrderPort;submitOrder;10.0.0.1;reject"},
        ListCase{"IdentityIsCaseSensitive", "OrderPort;op;*;none", "addMonitorControl;orderport;op;Full",
                 "OrderPort;op;*;none|orderport;op;*;full"}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST_F(ControlListTest, DuplicatesAreRefusedEvenOutOfRankOrder) {
  // Hand-edited list: the general control stands before the specific one.
  writeList("monitor", "*;*;*;none|OrderPort;submitOrder;*;full");
  expectRejected(cmd("addMonitorControl", "OrderPort;submitOrder;Body"),
                 "ZEPAC0010E The configuration file already contains a matching control: "
                 "1.server1.monitor.control.2");
  writeList("filter", "OrderPort;op;10.0.0.1;reject");
  expectRejected(cmd("addFilterControl", "OrderPort;op;10.0.0.1"),
                 "already contains a matching control");
}

TEST_F(ControlListTest, DamagedListsAreReportedAndUntouched) {
  write("1.server1.monitor=on\n1.server1.monitor.control.count=abc\n");
  expectRejected(cmd("addMonitorControl", "P;o;Full"),
                 "ZEPAC0010E The configuration file contains a bad count value: "
                 "1.server1.monitor.control.count");
  write("1.server1.monitor=on\n1.server1.monitor.control.count=3\n"
        "1.server1.monitor.control.1=*;*;*;none\n1.server1.monitor.control.3=*;*;*;none\n");
  expectRejected(cmd("addMonitorControl", "P;o;Full"),
                 "ZEPAC0010E The configuration file is missing a property: "
                 "1.server1.monitor.control.2");
  expectRejected(cmd("deleteMonitorControl", "P;o"), "is missing a property");
  write("1.server1.monitor=on\n1.server1.filter.control.count=1\n"
        "1.server1.filter.control.1=*;*\n");
  expectRejected(cmd("addFilterControl", "P;o;c"),
                 "ZEPAC0010E The configuration file contains a bad control value: "
                 "1.server1.filter.control.1");
  write("1.server1.monitor=on\n1.server1.monitor.control.count=2000000000\n");
  expectRejected(cmd("addMonitorControl", "P;o;Full"), "is missing a property");
}

TEST_F(ControlListTest, DeletionsRenumberAndDropTheCount) {
  writeList("filter", "*;*;*;reject|A;a;1.1.1.1;reject|B;b;2.2.2.2;reject");
  EXPECT_EQ(run(cmd("deleteFilterControl", "*;*;*")), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(readList("filter"), "A;a;1.1.1.1;reject|B;b;2.2.2.2;reject");
  EXPECT_EQ(value("1.server1.filter.control.3"), "<absent>");

  writeList("monitor", "OrderPort;submitOrder;*;full");
  EXPECT_EQ(run(cmd("deleteMonitorControl", "OrderPort;submitOrder")),
            ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(value("1.server1.monitor.control.1"), "<absent>");
  EXPECT_EQ(value("1.server1.monitor.control.count"), "<absent>");

  TRK1_Capture capture;
  EXPECT_EQ(run(cmd("deleteMonitorControl", "OrderPort;submitOrder")),
            ZEPACMD_actionCommand::RC_NO_CHANGE);
  EXPECT_EQ(run(cmd("deleteFilterControl", "X;x;9.9.9.9")), ZEPACMD_actionCommand::RC_NO_CHANGE);
  EXPECT_TRUE(capture.contains(
      "ZEPAC0001W The specified control does not exist in the configuration file"));
}

TEST_F(ControlListTest, UpdateReplacesTheLevelInPlace) {
  writeList("monitor", "*;*;*;none|OrderPort;submitOrder;*;full");
  EXPECT_EQ(run(cmd("updateMonitorControlTraceLevel", "OrderPort;submitOrder;Body")),
            ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(readList("monitor"), "*;*;*;none|OrderPort;submitOrder;*;body");
  expectRejected(cmd("updateMonitorControlTraceLevel", "Other;submitOrder;Body"), "Processing");
}

}  // namespace

// --- the framework's road ----------------------------------------------------

namespace {

class CommandHandlerTest : public ActionCommandTest {
 protected:
  void SetUp() override {
    ActionCommandTest::SetUp();
    OSB1_ScopedLock configLock(&ZEPDISP_dispatcher::configPropertiesLock);
    ZEPDISP_dispatcher::configProperties.setPropertyFilename(dir_.path("ZEP.dc.properties").c_str());
    AXO_RegisterCommandCallback("ZP", ZEP_CommandHandler);
  }
  void TearDown() override {
    {
      OSB1_ScopedLock configLock(&ZEPDISP_dispatcher::configPropertiesLock);
      ZEPDISP_dispatcher::configProperties.clear();
      ZEPDISP_dispatcher::configProperties.setPropertyFilename("");
    }
    ActionCommandTest::TearDown();
  }
  long send(const std::string& command, std::string* message) {
    long rc = -1;
    std::string error;
    EXPECT_EQ(axo::runActionCommand(command, &rc, message, &error), axo::kOk) << error;
    return rc;
  }
};

TEST_F(CommandHandlerTest, CommandsReachTheFileAndAnswersReachTheFramework) {
  std::string message = "stale";
  EXPECT_EQ(send("  " + cmd("enableMonitoring"), &message), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(message, "");
  EXPECT_EQ(value("1.server1.monitor"), "on");
  EXPECT_EQ(send("getKeyVal 1.server1.monitor", &message), ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_EQ(message, "1.server1.monitor=on");
  EXPECT_EQ(send("reboot;now", &message), ZEPACMD_actionCommand::RC_ERROR);
  EXPECT_EQ(message, "");
}

}  // namespace
