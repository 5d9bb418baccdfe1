// Fault injection through the port layer: opens, reads, writes, syncs,
// closes, renames and removals failing at each step of taking a metric log
// file into the cache, reading it, archiving it, purging the archive and
// saving the configuration file. Each case checks the reported message,
// that the dispatcher goes on, that no file is lost, and that the next pass
// (or, for a file that failed after it entered the cache, the start-up scan)
// recovers.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "axo/osb1.h"
#include "axo/trk1.h"
#include "config/zepacmd.h"
#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"
#include "runtime/zepdisp.h"

namespace {

using namespace zeplogs_test;
using D = ZEPDISP_dispatcher;
using Op = ZEPPORT::Op;

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
  // Every plain file below the log directory whose name starts with `name`.
  int copiesOf(const std::string& name) const {
    int n = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(logDir())) {
      if (e.is_regular_file() && e.path().filename().string().rfind(name, 0) == 0) ++n;
    }
    return n;
  }
  // The record lines of the files of `dir`.
  static int recordsIn(const std::string& dir) {
    int n = 0;
    for (const std::string& name : filesIn(dir)) {
      std::ifstream in(dir + "/" + name);
      for (std::string line; std::getline(in, line);) n += !line.empty() && line[0] != '#';
    }
    return n;
  }
  // Restarts the dispatcher as a new process would: the cache is read again.
  static void restart() {
    D::resetForTesting();
    ASSERT_EQ(D::initWithoutThread(), 0);
  }
};

TEST_F(FaultInjectionTest, TakingAndReadingAFileFailsWithoutLosingIt) {
  struct Case {
    const char* name;
    Op op;
    const char* path;
    const char* message;
    bool staysLive;  // the file never reached the cache
  };
  const Case cases[] = {
      {"rename into the cache", Op::kRename, "ZEP.f.metric.log", "ZEP00103E", true},
      {"open of the cached file", Op::kOpen, "-CA", "ZEP00102E", false},
      {"read of the cached file", Op::kRead, "-CA", "ZEP0301E", false},
  };
  int expected = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakeTime() += 2;
    const int copies = copiesOf("ZEP.f.metric.log");
    writeRecords("ZEP.f.metric.log", 3);
    ZEPPORT::injectFault(c.op, c.path, EIO, 1);
    TRK1_Capture capture;
    D::runOnePass();
    EXPECT_TRUE(capture.contains(c.message));
    EXPECT_TRUE(capture.contains("ZEP0301E"));
    EXPECT_EQ(totalLines(), expected);
    EXPECT_EQ(copiesOf("ZEP.f.metric.log"), copies + 1);
    EXPECT_EQ(filesIn(logDir()).size(), c.staysLive ? 1u : 0u);
    ZEPPORT::clearFaults();

    // The next pass goes on: a live file left behind is taken now, a cached
    // one waits for the start-up scan.
    fakeTime() += 1;
    writeRecords("ZEP.g.metric.log", 2);
    D::runOnePass();
    expected += 2 + (c.staysLive ? 3 : 0);
    EXPECT_EQ(totalLines(), expected);
    if (!c.staysLive) {
      restart();
      // The restart reads every cached file again, the failed one included.
      expected = recordsIn(cacheDir());
      EXPECT_EQ(totalLines(), expected);
    }
    EXPECT_TRUE(filesIn(logDir()).empty());
  }
}

TEST_F(FaultInjectionTest, ArchivingAndPurgingFailuresKeepTheFiles) {
  writeRecords("ZEP.a.metric.log", 1);
  D::runOnePass();
  ASSERT_EQ(filesIn(cacheDir()).size(), 1u);
  const std::string cached = filesIn(cacheDir())[0];

  // The window is spent; moving its file to the archive fails once.
  fakeTime() += 71 * 60;
  ZEPPORT::injectFault(Op::kRename, "archive", EIO, 1);
  {
    TRK1_Capture capture;
    D::runOnePass();
    EXPECT_TRUE(capture.contains("ZEP00103E Cannot rename file from"));
  }
  EXPECT_EQ(filesIn(cacheDir()), std::vector<std::string>{cached});
  ZEPPORT::clearFaults();
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
  ZEPPORT::injectFault(Op::kUnlink, "archive", EIO, 1);
  {
    TRK1_Capture capture;
    D::runOnePass();
    EXPECT_TRUE(capture.contains("ZEP0306E Error deleting file"));
  }
  EXPECT_EQ(filesIn(archiveDir()).size(), 1u);
  ZEPPORT::clearFaults();
  fakeTime() += 301;
  D::runOnePass();
  EXPECT_TRUE(filesIn(archiveDir()).empty());
}

// A save of the configuration file fails at each step in turn: the file is
// the old one or the new one, never partial, and no temporary file stays.
TEST_F(FaultInjectionTest, ConfigurationSaveIsOldOrNewAtEveryStep) {
  const std::string config = "install/ZEP/config/ZEP.dc.properties";
  tmp_.write(config,
             "1.server1.monitor=on\n1.server1.monitor.control.count=0\n"
             "1.server1.filter.control.count=0\n");
  D::runOnePass();  // completes the settings in the file
  const std::string command =
      "addMonitorControl;server1;Granite_Application_Server;host1;OrderPort;submitOrder;Full";
  struct Step {
    Op op;
    int after;
    int err;
  };
  const Step steps[] = {{Op::kOpen, 0, EIO},    {Op::kWrite, 0, ENOSPC}, {Op::kWrite, 3, ENOSPC},
                        {Op::kSync, 0, EIO},    {Op::kClose, 0, ENOSPC}, {Op::kRename, 0, EIO}};
  for (const Step& s : steps) {
    SCOPED_TRACE(static_cast<int>(s.op) * 100 + s.after);
    const std::string before = tmp_.read(config);
    // (The save writes a temporary file beside the configuration file.)
    ZEPPORT::injectFault(s.op, "ZEP.dc.properties.tmp", s.err, 1, s.after);
    {
      OSB1_ScopedLock lock(&D::configPropertiesLock);
      ZEPACMD_actionCommand action;
      TRK1_Capture capture;
      EXPECT_EQ(action.handleAction(command.c_str(), D::configProperties, nullptr, 0),
                ZEPACMD_actionCommand::RC_ERROR);
      EXPECT_TRUE(capture.contains("ZEP0020"));
    }
    ZEPPORT::clearFaults();
    EXPECT_EQ(tmp_.read(config), before);
    EXPECT_EQ(filesIn(tmp_.path("install/ZEP/config")),
              std::vector<std::string>{"ZEP.dc.properties"});
    D::runOnePass();  // the dispatcher goes on with the unchanged file
  }
  OSB1_ScopedLock lock(&D::configPropertiesLock);
  ZEPACMD_actionCommand action;
  EXPECT_EQ(action.handleAction(command.c_str(), D::configProperties, nullptr, 0),
            ZEPACMD_actionCommand::RC_SUCCESS);
  ZEPPROPS_properties saved(configFile().c_str());
  EXPECT_STREQ(saved.getProperty("1.server1.monitor.control.count"), "1");
}

}  // namespace
