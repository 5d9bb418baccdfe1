// What crosses a trust boundary: metric log files and their names (written
// by collectors the agent does not control), action commands and the
// operator API. Nothing outside the log directory tree is ever written or
// removed because of a file, a symbolic link or a name in a header; an
// action command writes only the configuration file. (The operator API's
// token, body cap and path-like names are tested with its routes.)
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "config/zepacmd.h"
#include "foundation/zepprops.h"
#include "logs/zeplogs_test_util.h"
#include "runtime/zepdisp.h"

namespace {

using namespace zeplogs_test;
using D = ZEPDISP_dispatcher;
namespace fs = std::filesystem;

class TrustBoundaryTest : public ZepLogsTest {
 protected:
  void SetUp() override {
    ZepLogsTest::SetUp();
    fs::create_directories(tmp_.path("elsewhere"));
    tmp_.write("elsewhere/victim.metric.log",
               header("victim") + lines({record(2, kBaseTime * 1000LL)}));
    tmp_.write("elsewhere/keep.txt", "keep");
  }
  // Every file and link of the tree, with its content (a link: its target).
  std::map<std::string, std::string> snapshot(const std::string& dir) const {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      if (e.is_symlink()) {
        out[e.path().string()] = "-> " + fs::read_symlink(e.path()).string();
      } else if (e.is_regular_file()) {
        out[e.path().string()] = tmp_.read(fs::relative(e.path(), tmp_.dir()).string());
      }
    }
    return out;
  }
};

TEST_F(TrustBoundaryTest, LogFilesLinksAndHeaderNamesStayInsideTheLogTree) {
  tmp_.write("install/ZEP/config/ZEP.dc.properties", "");
  ASSERT_EQ(D::initWithoutThread(), 0);
  const auto outside = snapshot(tmp_.path("elsewhere"));
  // A link posing as a metric log file, and names built to climb out.
  fs::create_symlink(tmp_.path("elsewhere/victim.metric.log"), logDir() + "/ZEP.link.metric.log");
  writeLog("ZEP.climb.metric.log",
           header("../../../elsewhere/x", "1", "../../elsewhere") +
               lines({record(2, kBaseTime * 1000LL, 10, "../../elsewhere/p", "../o")}));
  D::runOnePass();
  // Spent windows go to the archive, the archive ages out and is purged.
  fakeTime() += 71 * 60;
  D::runOnePass();
  fakeTime() += 1441 * 60 + 301;
  for (const std::string& name : filesIn(archiveDir())) {
    tmp_.setMtime("install/ZEP/logs/ZEP.DCA.CACHE/archive/" + name, fakeTime() - 1442 * 60);
  }
  D::runOnePass();
  EXPECT_EQ(snapshot(tmp_.path("elsewhere")), outside);
  for (const auto& e : fs::recursive_directory_iterator(tmp_.dir())) {
    const std::string p = e.path().string();
    EXPECT_TRUE(p.rfind(tmp_.path("install"), 0) == 0 || p.rfind(tmp_.path("elsewhere"), 0) == 0 ||
                p.rfind(tmp_.path("etc"), 0) == 0)
        << p;
  }

  // An archive directory that is a link into another directory is refused:
  // nothing is moved there.
  D::resetForTesting();
  fs::remove_all(archiveDir());
  fs::create_directory_symlink(tmp_.path("elsewhere"), archiveDir());
  ASSERT_EQ(D::initWithoutThread(), 0);
  fakeTime() += 1;
  writeLog("ZEP.b.metric.log", header("server1") + lines({record(2, fakeTime() * 1000LL)}));
  D::runOnePass();
  fakeTime() += 71 * 60;
  D::runOnePass();
  EXPECT_EQ(snapshot(tmp_.path("elsewhere")), outside);
}

TEST_F(TrustBoundaryTest, ActionCommandsWriteOnlyTheConfigurationFile) {
  const std::string config = "install/ZEP/config/ZEP.dc.properties";
  tmp_.write(config,
             "1.server1.monitor=on\n1.server1.monitor.control.count=0\n"
             "1.server1.filter.control.count=0\n");
  ZEPPROPS_properties props(configFile().c_str());
  ZEPACMD_actionCommand action;
  const std::string commands[] = {
      "setKeyVal ../../../elsewhere/keep.txt=overwritten",
      "setKeyVal dc.logging.directory=" + tmp_.path("elsewhere"),
      "setKeyVal k=v\nINSTALLDIR=" + tmp_.path("elsewhere"),
      "addMonitorControl;../../elsewhere;Granite_Application_Server;host1;P;O;Full",
      "addMonitorControl;server1;Granite_Application_Server;host1;P\n1.x=y;O;Full",
      "enableMonitoring;server1/../../x;Granite_Application_Server;host1",
      "getKeyVal ../../../elsewhere/keep.txt",
  };
  for (const std::string& c : commands) {
    SCOPED_TRACE(c);
    auto before = snapshot(tmp_.dir());
    char msg[64];
    action.handleAction(c.c_str(), props, msg, sizeof(msg));
    auto after = snapshot(tmp_.dir());
    before.erase(tmp_.path(config));
    after.erase(tmp_.path(config));
    EXPECT_EQ(after, before);
    // No command smuggles a line of its own into the file.
    ZEPPROPS_properties saved(configFile().c_str());
    EXPECT_EQ(saved.getProperty("INSTALLDIR"), nullptr);
    EXPECT_EQ(saved.getProperty("1.x"), nullptr);
  }
}

}  // namespace
