// Fault injection, then what crosses a trust boundary (below).
//
// Fault injection through the port layer while the dispatcher reads cached
// metric log files, archives them, purges the archive and saves the
// configuration file: each case checks the reported message, that the
// dispatcher goes on, that no file is lost, and that a later pass (or the
// start-up scan) recovers.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "axo/base/osb1.h"
#include "axo/base/trk1.h"
#include "config/zepacmd.h"
#include "foundation/zepprops.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"
#include "runtime/zepdisp.h"

namespace {

using namespace zeplogs_test;
using D = ZEPDISP_dispatcher;
using Op = zeptest::FakeEnv::FileOp;

class FaultInjectionTest : public ZepLogsTest {
 protected:
  void SetUp() override {
    ZepLogsTest::SetUp();
    tmp_.write("install/ZEP/config/ZEP.dc.properties", "zep.axo.logReadSleepTimeSeconds=5\n");
    ASSERT_EQ(D::initWithoutThread(), 0);
  }
  static int totalLines() {
    OSB1_ScopedLock lock(&D::metricsLogListLock);
    return D::metricsLogList.getNumMetricsRecords();
  }
  // A file of server1 with `n` records at the current time.
  void writeRecords(const std::string& name, int n) {
    std::vector<std::string> recs;
    for (int i = 0; i < n; ++i) recs.push_back(record(2, fakeTime() * 1000LL + i));
    writeLog(name, header("server1") + lines(recs));
  }
  // One dispatcher pass with `op` on paths containing `where` failing once;
  // true when it reported `message`.
  bool passFailing(Op op, const char* where, const char* message) {
    env_.FailFiles(op, where, EIO, 1);
    TRK1_Capture capture;
    D::runOnePass();
    env_.ClearFileFaults();
    return capture.contains(message);
  }
  // Restarts the dispatcher as a new process would: the cache is read again.
  static void restart() {
    D::resetForTesting();
    ASSERT_EQ(D::initWithoutThread(), 0);
  }
};

// A cached file that cannot be opened or read is reported and kept; the
// dispatcher goes on with the next file, and the start-up scan reads the
// failed one again. (A failed rename into the cache is tested with the log.)
TEST_F(FaultInjectionTest, ReadingACachedFileFailsWithoutLosingIt) {
  for (const auto& [op, message] : {std::pair{Op::kOpen, "ZEP00102E"}, {Op::kRead, "ZEP0301E"}}) {
    SCOPED_TRACE(message);
    fakeTime() += 2;
    writeRecords("ZEP.f.metric.log", 3);
    const int before = totalLines();
    EXPECT_TRUE(passFailing(op, "-CA", message));
    EXPECT_EQ(totalLines(), before);
    fakeTime() += 1;
    writeRecords("ZEP.g.metric.log", 2);
    D::runOnePass();
    EXPECT_EQ(totalLines(), before + 2);
    EXPECT_TRUE(filesIn(logDir()).empty());
    restart();
    EXPECT_EQ(totalLines(), before + 5);  // every record of the cache
  }
}

TEST_F(FaultInjectionTest, ArchivingAndPurgingFailuresKeepTheFiles) {
  writeRecords("ZEP.a.metric.log", 1);
  D::runOnePass();
  ASSERT_EQ(filesIn(cacheDir()).size(), 1u);
  const std::string cached = filesIn(cacheDir())[0];

  // The window is spent; moving its file to the archive fails once.
  fakeTime() += 71 * 60;
  EXPECT_TRUE(passFailing(Op::kRename, "archive", "ZEP00103E Cannot rename file from"));
  EXPECT_EQ(filesIn(cacheDir()), std::vector<std::string>{cached});
  // The start-up scan takes it again; once spent it reaches the archive.
  restart();
  fakeTime() += 71 * 60;
  D::runOnePass();
  EXPECT_TRUE(filesIn(cacheDir()).empty());
  EXPECT_EQ(filesIn(archiveDir()), std::vector<std::string>{cached});

  // The archive is past its age, and removing the file fails: reported, the
  // file stays, and the next purge (after the interval) removes it.
  fakeTime() += 1441 * 60;
  tmp_.setMtime("install/ZEP/logs/ZEP.DCA.CACHE/archive/" + cached, fakeTime() - 1442 * 60);
  EXPECT_TRUE(passFailing(Op::kUnlink, "archive", "ZEP0306E Error deleting file"));
  EXPECT_EQ(filesIn(archiveDir()).size(), 1u);
  fakeTime() += 301;
  D::runOnePass();
  EXPECT_TRUE(filesIn(archiveDir()).empty());
}

// A failed save of the configuration file fails the action command with
// its message and leaves the file as it was (every step of the save is
// failed in turn where the properties file is tested); the next command
// saves.
TEST_F(FaultInjectionTest, FailedConfigurationSaveFailsTheCommandOnly) {
  tmp_.write("install/ZEP/config/ZEP.dc.properties",
             "1.server1.monitor=on\n1.server1.monitor.control.count=0\n"
             "1.server1.filter.control.count=0\n");
  D::runOnePass();  // completes the settings in the file
  const std::string before = tmp_.read("install/ZEP/config/ZEP.dc.properties");
  const char* const command =
      "addMonitorControl;server1;Granite_Application_Server;host1;OrderPort;submitOrder;Full";
  OSB1_ScopedLock lock(&D::configPropertiesLock);
  ZEPACMD_actionCommand action;
  env_.FailFiles(Op::kWrite, "ZEP.dc.properties.tmp", ENOSPC, 1, 3);
  {
    TRK1_Capture capture;
    EXPECT_EQ(action.handleAction(command, D::configProperties, nullptr, 0),
              ZEPACMD_actionCommand::RC_ERROR);
    EXPECT_TRUE(capture.contains("ZEP0020"));
  }
  env_.ClearFileFaults();
  EXPECT_EQ(tmp_.read("install/ZEP/config/ZEP.dc.properties"), before);
  EXPECT_EQ(action.handleAction(command, D::configProperties, nullptr, 0),
            ZEPACMD_actionCommand::RC_SUCCESS);
  EXPECT_STREQ(
      ZEPPROPS_properties(configFile().c_str()).getProperty("1.server1.monitor.control.count"),
      "1");
}

// ---- trust boundaries --------------------------------------------------------

// What crosses a trust boundary: metric log files and their names (written
// by collectors the agent does not control), action commands and the
// operator API. Nothing outside the log directory tree is ever written or
// removed because of a file, a symbolic link or a name in a header; an
// action command writes only the configuration file. (The operator API's
// token, body cap and path-like names are tested with its routes.)
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
