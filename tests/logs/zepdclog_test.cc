// Tests of one server's metric log: record parsing, header fields, subnode
// names, ordering, limits and retention, taking files into the cache.
#include "logs/zepdclog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "logs/zepaelem.h"
#include "logs/zeplogs_test_util.h"

namespace {

using namespace zeplogs_test;

std::string col(const char* column, size_t width) { return std::string(column, width); }
std::string padded(const std::string& text, size_t width) {
  return text + std::string(width - text.size(), ' ');
}

class ZepDcLogTest : public ZepLogsTest {
 protected:
  ZepDcLogTest() : log_(nullptr) {}
  void SetUp() override {
    ZepLogsTest::SetUp();
    log_ = std::make_unique<ZEPDCLOG_DCMetricsLogFile>(logDir().c_str(), "ZEP.s1.metric.log");
  }
  // Feeds header and record lines through processLine.
  void feed(const std::string& text, int maxMetrics = 30000, int maxSvcInv = 30000) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      ZEPAELEM_AggData* bucket;
      log_->processLine("", line.c_str(), static_cast<int32_t>(fakeTime()), maxMetrics,
                        maxSvcInv, &bucket);
      start = end + 1;
    }
  }
  std::unique_ptr<ZEPDCLOG_DCMetricsLogFile> log_;
};

TEST_F(ZepDcLogTest, RecordFieldsBecomeRowColumns) {
  feed(header("server1"));
  feed("2;1143553569123;t-7;250;OrderPort;submitOrder;1;0;512;c1;x;p1;rh;10.1.1.1;;\n");
  ASSERT_EQ(log_->getNumMetrics(), 1);
  const ZEPMELEM_MetricLine* l = log_->front();
  EXPECT_EQ(l->timeSeconds, 1143553569);
  EXPECT_EQ(l->timeMillis, 123);
  EXPECT_EQ(col(l->metricsRow.msgtime, 16), "1060328134609123");
  EXPECT_EQ(l->metricsRow.msgloc, 2);
  EXPECT_EQ(l->metricsRow.onewaymsg, 1);
  EXPECT_EQ(l->metricsRow.elpsdtime, 250);
  EXPECT_EQ(l->metricsRow.msglength, 512);
  EXPECT_EQ(col(l->metricsRow.portname, 64), padded("OrderPort", 64));
  EXPECT_EQ(col(l->metricsRow.prevcorr, 128), padded("p1", 128));
  EXPECT_EQ(col(l->metricsRow.appsrvnm, 64), padded("server1", 64));
  EXPECT_EQ(col(l->metricsRow.tablever, 8), "01.01.00");
  EXPECT_EQ(l->metricsRow.appsrvenv, 1);
  EXPECT_EQ(col(l->metricsRow.originnode, 32), std::string(log_->getSubnodeName()));
  EXPECT_EQ(l->faultRow, nullptr);  // empty fields 15 and 16
  EXPECT_EQ(l->readTime, kBaseTime);
}

TEST_F(ZepDcLogTest, OddRecordLines) {
  feed(header("server1"));
  feed("2;1;2;3;4;5;6;7;8;9;10;11;12;13;14\n");  // 14 separators: ignored
  EXPECT_EQ(log_->getNumMetrics(), 0);
  feed("x;1143540000000;t;1;P;O;y;z;1;c;u;p;h;i;;only;string\n");
  ASSERT_EQ(log_->getNumMetrics(), 1);
  const ZEPMELEM_MetricLine* l = log_->front();
  EXPECT_EQ(l->timeSeconds, kOldSeconds);
  EXPECT_EQ(l->timeMillis, 0);
  EXPECT_EQ(l->metricsRow.msgloc, -1);
  EXPECT_EQ(l->metricsRow.onewaymsg, -1);
  EXPECT_EQ(l->metricsRow.faultresp, -1);
  ASSERT_NE(l->faultRow, nullptr);
  EXPECT_EQ(col(l->faultRow->fltcode, 128), std::string(128, ' '));
  EXPECT_EQ(col(l->faultRow->fltstr, 256), padded("only;string", 256));
  EXPECT_EQ(col(l->faultRow->portname, 64), padded("P", 64));
  EXPECT_EQ(log_->getNumFaults(), 1);
  EXPECT_EQ(log_->frontFault(), l);
  // A time that is not a number cannot be ordered: the record is skipped.
  feed(record(2, 0).replace(2, 1, "12ab5678"));
  EXPECT_EQ(log_->getNumMetrics(), 1);
}

TEST_F(ZepDcLogTest, LinesAreKeptNewestFirstWithEqualTimesBeforeOlderArrivals) {
  feed(header("server1"));
  feed(lines({record(0, kOldMillis + 5000), record(0, kOldMillis + 9000),
              record(1, kOldMillis + 1000), record(3, kOldMillis + 5000)}));
  std::vector<std::pair<int, int>> order;
  for (auto* l = log_->front(); l != nullptr; l = log_->next(l)) {
    order.push_back({l->timeSeconds, l->metricsRow.msgloc});
  }
  // The second line of time 5 (location 3) went before the first one.
  const int t = kOldSeconds;
  EXPECT_EQ(order,
            (std::vector<std::pair<int, int>>{{t + 9, 0}, {t + 5, 3}, {t + 5, 0}, {t + 1, 1}}));
}

TEST_F(ZepDcLogTest, RecordLimitDropsOldestAndRetentionFollowsHistory) {
  feed(header("server1"));
  feed(lines({record(0, kOldMillis + 1000), record(0, kOldMillis + 2000),
              record(0, kOldMillis + 3000), record(0, kOldMillis + 4000)}),
       3);
  ASSERT_EQ(log_->getNumMetrics(), 3);
  EXPECT_EQ(log_->back()->timeSeconds, kOldSeconds + 2);

  // Lines read 12 minutes ago go; lines read 6 minutes ago only once stored.
  fakeTime() = kBaseTime + 6 * 60;
  feed(record(0, kOldMillis + 5000));
  fakeTime() = kBaseTime + 12 * 60;
  log_->setMetricAddedToHistory(log_->front());
  log_->purge(5 * 60, 10 * 60);
  EXPECT_EQ(log_->getNumMetrics(), 0);

  feed(lines({record(0, kOldMillis + 6000), record(0, kOldMillis + 7000)}));
  fakeTime() += 6 * 60;
  log_->setMetricAddedToHistory(log_->front());
  log_->purge(5 * 60, 10 * 60);
  ASSERT_EQ(log_->getNumMetrics(), 1);
  EXPECT_EQ(log_->front()->timeSeconds, kOldSeconds + 6);
  EXPECT_EQ(log_->frontUnstoredMetric(), log_->front());
}

TEST_F(ZepDcLogTest, EnvironmentCodes) {
  EXPECT_EQ(ZEPDCLOG_DCMetricsLogFile::envStrToEnum("3", 1), 3);
  EXPECT_STREQ(ZEPDCLOG_DCMetricsLogFile::envEnumToStr(9), "9");
  EXPECT_STREQ(ZEPDCLOG_DCMetricsLogFile::envEnumToName(1), "Granite_Application_Server");
  TRK1_Capture capture;
  EXPECT_EQ(ZEPDCLOG_DCMetricsLogFile::envStrToEnum("10", 2), -1);
  EXPECT_TRUE(capture.contains("ZEP00104E Unrecognized Server ENV type: 10"));
  EXPECT_EQ(ZEPDCLOG_DCMetricsLogFile::envEnumToStr(0), nullptr);
  EXPECT_TRUE(capture.contains("ZEP00105E Unrecognized Server ENV enum type: 0"));
}

TEST_F(ZepDcLogTest, SubnodeNamesKeepTheBudget) {
  struct Case {
    const char* host;
    const char* server;
    const char* suffix;
  } cases[] = {
      {"appserver01.example", "server1", ":appserver01-server1 "},
      {"verylonghostname12345", "myserver", ":verylonghostna-myser"},
      {"shorthost", "averyveryverylongservername", ":shorthost-averyveryv"},
  };
  for (const Case& c : cases) {
    ZEPDCLOG_DCMetricsLogFile log(logDir().c_str(), "ZEP.x.metric.log");
    log.processKeyVal((std::string("#ZEP.hostname=") + c.host).c_str());
    log.processKeyVal((std::string("#ZEP.servername=") + c.server).c_str());
    log.generateSubnodeName();
    const std::string name = log.getSubnodeName();
    ASSERT_EQ(name.size(), 32u) << c.server;
    EXPECT_EQ(name.substr(0, 3), "ZP:");
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 3), 11u);
    EXPECT_EQ(name.substr(11), c.suffix);
  }
  // A 300-character server name is cut to 259 characters.
  ZEPDCLOG_DCMetricsLogFile log(logDir().c_str(), "ZEP.x.metric.log");
  log.processKeyVal(("#ZEP.servername=" + std::string(300, 's')).c_str());
  EXPECT_EQ(std::strlen(log.getServerName()), 259u);
}

TEST_F(ZepDcLogTest, SubnodeChecksumIgnoresStaleBytesOfEarlierHeaders) {
  ZEPDCLOG_DCMetricsLogFile direct(logDir().c_str(), "ZEP.a.metric.log");
  direct.processKeyVal("#ZEP.servername=srv");
  direct.processKeyVal("#ZEP.cell=c");
  direct.generateSubnodeName();
  ZEPDCLOG_DCMetricsLogFile repeated(logDir().c_str(), "ZEP.b.metric.log");
  repeated.processKeyVal("#ZEP.servername=server-long");
  repeated.processKeyVal("#ZEP.servername=srv");
  repeated.processKeyVal("#ZEP.cell=c");
  repeated.generateSubnodeName();
  EXPECT_STREQ(direct.getSubnodeName(), repeated.getSubnodeName());
  // Every field takes part in the checksum.
  ZEPDCLOG_DCMetricsLogFile other(logDir().c_str(), "ZEP.c.metric.log");
  other.processKeyVal("#ZEP.servername=srv");
  other.processKeyVal("#ZEP.cell=d");
  other.generateSubnodeName();
  EXPECT_STRNE(direct.getSubnodeName(), other.getSubnodeName());
}

TEST_F(ZepDcLogTest, HeaderDecidesWhetherTheServerIsAccepted) {
  struct Case {
    std::string content;
    int rc;
  } cases[] = {
      {header("server1", "3") + record(2, kOldMillis + 1000) + "\n", 0},
      {header("server1", "10") + record(2, kOldMillis + 1000) + "\n", -1},
      {"#ZEP.env=1\n" + record(2, kOldMillis + 1000) + "\n", -1},  // no server name
      {header("server1", "1") + "#ZEP.env=0\n", -1},
  };
  for (const Case& c : cases) {
    const std::string path = tmp_.path("cached");
    tmp_.write("cached", c.content);
    ZEPDCLOG_DCMetricsLogFile log(logDir().c_str(), "ZEP.s.metric.log");
    ZEP_FILE file;
    char line[ZEPDCLOG_DCMetricsLogFile::LINE_SIZE];
    ASSERT_EQ(log.readLogForSubnodeName(path.c_str(), &file, line), c.rc) << c.content;
    if (c.rc != 0) continue;
    EXPECT_EQ(std::string(line), record(2, kOldMillis + 1000));
    EXPECT_EQ(log.readCachedLog(path.c_str(), 30000, 30000, &file, line), 0);
    EXPECT_EQ(log.getNumMetrics(), 1);
    EXPECT_EQ(log.getEnvValue(), 3);
  }
  ZEPDCLOG_DCMetricsLogFile log(logDir().c_str(), "ZEP.s.metric.log");
  ZEP_FILE file;
  char line[ZEPDCLOG_DCMetricsLogFile::LINE_SIZE];
  TRK1_Capture capture;
  EXPECT_EQ(log.readLogForSubnodeName(tmp_.path("missing").c_str(), &file, line), -1);
  EXPECT_TRUE(capture.contains("ZEP00102E Cannot open file for read"));
}

TEST_F(ZepDcLogTest, CachedFileFollowsItsNewestBucketEvenWhenThatExpired) {
  std::filesystem::create_directories(cacheDir());
  const std::string path = cacheDir() + "/ZEP.s1.metric.log.1060328134609000-CA";
  tmp_.write(
      "install/ZEP/logs/ZEP.DCA.CACHE/ZEP.s1.metric.log.1060328134609000-CA",
      header("server1") + lines({record(2, kOldMillis + 600000), record(2, kOldMillis + 60000)}));
  ZEP_FILE file;
  char line[ZEPDCLOG_DCMetricsLogFile::LINE_SIZE];
  ASSERT_EQ(log_->readLogForSubnodeName(path.c_str(), &file, line), 0);
  ASSERT_EQ(log_->readCachedLog(path.c_str(), 30000, 30000, &file, line), 0);
  ZEPAELEM_AggData* newest = log_->svcInventory().front()->aggDataList().front();
  EXPECT_EQ(newest->begin, kOldSeconds + 600);
  ASSERT_EQ(newest->cachedFiles().size(), 1);

  // With no bucket allowed, every bucket expires while the file is read:
  // the file goes to the archive instead of dangling.
  ZEPDCLOG_DCMetricsLogFile other(logDir().c_str(), "ZEP.s2.metric.log");
  ASSERT_EQ(other.readLogForSubnodeName(path.c_str(), &file, line), 0);
  ASSERT_EQ(other.readCachedLog(path.c_str(), 30000, 0, &file, line), 0);
  EXPECT_EQ(other.svcInventory().getNumAggDataBuckets(), 0);
  EXPECT_EQ(filesIn(archiveDir()),
            std::vector<std::string>{"ZEP.s1.metric.log.1060328134609000-CA"});
}

TEST_F(ZepDcLogTest, TakingAFileIntoTheCache) {
  writeLog("ZEP.s1.metric.log", header("server1"));
  char cached[ZEPDCLOG_DCMetricsLogFile::PATH_SIZE];
  ASSERT_EQ(log_->renameLogToTmpName(cached), 0);
  EXPECT_EQ(std::string(cached), cacheDir() + "/ZEP.s1.metric.log.1060328134609000-CA");
  EXPECT_FALSE(tmp_.exists("install/ZEP/logs/ZEP.s1.metric.log"));

  // The same name again within the same second: the cached file is never
  // replaced; the new file waits for a later pass.
  writeLog("ZEP.s1.metric.log", header("server2"));
  TRK1_Capture capture;
  EXPECT_EQ(log_->renameLogToTmpName(cached), -1);
  EXPECT_TRUE(capture.contains("ZEP00103E Cannot rename file"));
  EXPECT_TRUE(tmp_.exists("install/ZEP/logs/ZEP.s1.metric.log"));

  // A failing rename leaves the file in place, once, without retry loops.
  fakeTime() += 1;
  ZEPPORT::injectFault(ZEPPORT::Op::kRename, "ZEP.s1.metric.log", EIO, 1);
  EXPECT_EQ(log_->renameLogToTmpName(cached), -1);
  EXPECT_TRUE(tmp_.exists("install/ZEP/logs/ZEP.s1.metric.log"));
  EXPECT_EQ(log_->renameLogToTmpName(cached), 0);
}

TEST_F(ZepDcLogTest, UnsafeCacheDirectoryAndLongPathsAreRefused) {
  std::filesystem::create_directories(tmp_.path("elsewhere"));
  std::filesystem::create_directory_symlink(tmp_.path("elsewhere"), cacheDir());
  writeLog("ZEP.s1.metric.log", header("server1"));
  TRK1_Capture capture;
  char cached[ZEPDCLOG_DCMetricsLogFile::PATH_SIZE];
  EXPECT_EQ(log_->renameLogToTmpName(cached), -1);
  EXPECT_TRUE(capture.contains("symbolic link"));
  EXPECT_TRUE(filesIn(tmp_.path("elsewhere")).empty());

  const std::string longName = "ZEP." + std::string(250, 'n') + ".metric.log";
  ZEPDCLOG_DCMetricsLogFile longLog(logDir().c_str(), longName.c_str());
  EXPECT_EQ(longLog.renameLogToTmpName(cached), -1);
}

}  // namespace
