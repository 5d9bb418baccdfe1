// Tests of the metric log list on a real log directory: caching, servers
// and their registration, the record and bucket limits, the archive.
#include "logs/zepdclst.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "axo/axo.h"
#include "foundation/zepprops.h"
#include "logs/zepaelem.h"
#include "logs/zeplogs_test_util.h"
#include "runtime/zepcmd.h"

namespace {

using namespace zeplogs_test;

class ZepDcLstTest : public ZepLogsTest {
 protected:
  void SetUp() override {
    ZepLogsTest::SetUp();
    props_.setPropertyFilename(configFile().c_str());
    list_.setSubnodeRegistrar(&zepRegisterSubnode);
    list_.setDirectoryName(logDir().c_str());
  }
  void TearDown() override {
    AXO_SetSubnodeResultsForTesting(0, 0);
    ZepLogsTest::TearDown();
  }
  static int registrations(const char* subnode) {
    int n = 0;
    for (const AXO_SubnodeInfo& s : AXO_ListSubnodes()) n += s.name == subnode;
    return n;
  }
  ZEPPROPS_properties props_;
  ZEPDCLST_DCMetricsLogList list_;
};

TEST_F(ZepDcLstTest, FilesOfOneServerFeedOneRegisteredLog) {
  writeLog("ZEP.a.metric.log",
           header("server1") + lines({record(2, kOldMillis + 1000), record(2, kOldMillis + 2000)}));
  writeLog("ZEP.b.metric.log", header("server1") + lines({record(0, kOldMillis + 3000)}));
  writeLog("other.log", header("server2") + lines({record(0, kOldMillis + 3000)}));
  tmp_.setMtime("install/ZEP/logs/ZEP.a.metric.log", kBaseTime - 20);
  tmp_.setMtime("install/ZEP/logs/ZEP.b.metric.log", kBaseTime - 10);
  ASSERT_EQ(list_.readLogs(props_), 0);
  ASSERT_EQ(list_.size(), 1);
  ZEPDCLOG_DCMetricsLogFile* log = list_.front();
  EXPECT_EQ(log->getNumMetrics(), 3);
  EXPECT_EQ(registrations(log->getSubnodeName()), 1);
  EXPECT_EQ(list_.findSubNode(log->getSubnodeName()), log);
  EXPECT_EQ(list_.findServerLog("server1", "1"), log);
  EXPECT_EQ(list_.findServerLog("server1", "2"), nullptr);
  EXPECT_EQ(filesIn(logDir()), std::vector<std::string>{"other.log"});
  EXPECT_EQ(filesIn(cacheDir()),
            (std::vector<std::string>{"ZEP.a.metric.log.1060328134609000-CA",
                                      "ZEP.b.metric.log.1060328134609000-CA"}));
  // The new server's default configuration was written.
  ZEPPROPS_properties saved(configFile().c_str());
  EXPECT_STREQ(saved.getProperty("1.server1.monitor"), "on");
  EXPECT_STREQ(saved.getProperty("1.server1.monitor.control.1"), "*;*;*;none");
  EXPECT_STREQ(saved.getProperty("zep.config.version"), "1");

  char original[260];
  EXPECT_STREQ(ZEPDCLST_DCMetricsLogList::getOriginalFilename(
                   original, "ZEP.a.metric.log.1060328134609000-CA"),
               "ZEP.a.metric.log");
  EXPECT_EQ(ZEPDCLST_DCMetricsLogList::getOriginalFilename(original, "junk.1060-CA"), nullptr);
}

TEST_F(ZepDcLstTest, BadFilesAreReportedAndDoNotStopTheScan) {
  writeLog("ZEP.noname.metric.log", "#ZEP.env=1\n" + record(2, kOldMillis + 1000) + "\n");
  writeLog("ZEP.badenv.metric.log", header("server3", "10") + record(2, kOldMillis + 1000) + "\n");
  writeLog("ZEP.good.metric.log", header("server4") + record(2, kOldMillis + 1000) + "\n");
  TRK1_Capture capture;
  EXPECT_EQ(list_.readLogs(props_), -1);
  EXPECT_EQ(capture.count("ZEP0301E Error processing metric log file"), 2);
  ASSERT_EQ(list_.size(), 1);
  EXPECT_STREQ(list_.front()->getServerName(), "server4");
  // Failed files stay in the cache; the log directory is empty.
  EXPECT_EQ(filesIn(cacheDir()).size(), 3u);
  EXPECT_TRUE(filesIn(logDir()).empty());

  // A server the framework refuses is not kept, and is tried again when
  // its next file comes.
  AXO_SetSubnodeResultsForTesting(5, 0);
  writeLog("ZEP.new.metric.log", header("server5") + record(2, kOldMillis + 1000) + "\n");
  EXPECT_EQ(list_.readLogs(props_), -1);
  EXPECT_EQ(list_.findServerLog("server5", "1"), nullptr);
  AXO_SetSubnodeResultsForTesting(0, 0);
  writeLog("ZEP.new.metric.log", header("server5") + record(2, kOldMillis + 2000) + "\n");
  fakeTime() += 1;
  EXPECT_EQ(list_.readLogs(props_), 0);
  ASSERT_NE(list_.findServerLog("server5", "1"), nullptr);
  EXPECT_EQ(list_.findServerLog("server5", "1")->getNumMetrics(), 1);
}

TEST_F(ZepDcLstTest, RecordLimitTakesTheOldestLinesAcrossServers) {
  // Three servers whose message times interleave: a 0, 3, 6 ...; b 1, 4 ...
  const int counts[] = {10002, 10002, 10001};
  for (int s = 0; s < 3; ++s) {
    std::string content = header("srv" + std::to_string(s));
    for (int i = 0; i < counts[s]; ++i) {
      content += record(0, kOldMillis + (3LL * i + s) * 1000) + "\n";
    }
    writeLog("ZEP." + std::to_string(s) + ".metric.log", content);
    tmp_.setMtime("install/ZEP/logs/ZEP." + std::to_string(s) + ".metric.log", kBaseTime - 9 + s);
  }
  ASSERT_EQ(list_.readLogs(props_), 0);
  EXPECT_EQ(list_.getNumMetricsRecords(), 30000);
  // Deleted: a 0, b 1, c 2, a 3, b 4.
  ZEPDCLOG_DCMetricsLogFile* a = list_.front();
  ZEPDCLOG_DCMetricsLogFile* b = list_.next(a);
  ZEPDCLOG_DCMetricsLogFile* c = list_.next(b);
  EXPECT_EQ(a->back()->timeSeconds, kOldSeconds + 6);
  EXPECT_EQ(b->back()->timeSeconds, kOldSeconds + 7);
  EXPECT_EQ(c->back()->timeSeconds, kOldSeconds + 5);
  EXPECT_EQ(list_.getLogWithOldestMetric(), c);
  EXPECT_EQ(list_.deleteOldestMetricRecords(100000), 30000);
  EXPECT_EQ(list_.getLogWithOldestMetric(), nullptr);
}

// The heap behind the record limit deletes lines in the order of the plain
// rule, applied one line at a time: the oldest line over all servers, the
// earlier server on equal seconds. Many ties, uneven servers, and batches
// of every size, one of them larger than what is left.
TEST_F(ZepDcLstTest, RecordLimitDeletesInTheOrderOfTheScanPerLine) {
  std::mt19937 rng(5);
  const int kServers = 6;
  for (int s = 0; s < kServers; ++s) {
    std::string content = header("srv" + std::to_string(s));
    const int n = 20 + static_cast<int>(rng() % 200);
    for (int i = 0; i < n; ++i) content += record(0, kOldMillis + (rng() % 60) * 1000LL) + "\n";
    const std::string name = "ZEP." + std::to_string(s) + ".metric.log";
    writeLog(name, content);
    tmp_.setMtime("install/ZEP/logs/" + name, kBaseTime - 9 + s);
  }
  ASSERT_EQ(list_.readLogs(props_), 0);
  ASSERT_EQ(list_.size(), kServers);
  // Each server's message seconds, oldest last, as the lines are held.
  auto held = [&] {
    std::vector<std::vector<int32_t>> out;
    for (ZEPDCLOG_DCMetricsLogFile* log = list_.front(); log != nullptr; log = list_.next(log)) {
      out.emplace_back();
      for (ZEPMELEM_MetricLine* l = log->front(); l != nullptr; l = log->next(l)) {
        out.back().push_back(l->timeSeconds);
      }
    }
    return out;
  };
  std::vector<std::vector<int32_t>> expected = held();
  auto plainDelete = [&](int n) {
    int deleted = 0;
    for (; deleted < n; ++deleted) {
      int best = -1;
      for (int s = 0; s < kServers; ++s) {
        if (!expected[s].empty() &&
            (best < 0 || expected[s].back() < expected[best].back())) {
          best = s;
        }
      }
      if (best < 0) break;
      expected[best].pop_back();
    }
    return deleted;
  };
  for (int batch : {1, 2, 3, 7, 50, 1, 120, 333, 100000}) {
    const int want = plainDelete(batch);
    ASSERT_EQ(list_.deleteOldestMetricRecords(batch), want) << batch;
    ASSERT_EQ(held(), expected) << batch;
  }
  EXPECT_EQ(list_.getNumMetricsRecords(), 0);
}

TEST_F(ZepDcLstTest, BucketLimitTakesTheOldestWindowAsAWhole) {
  // Windows of 5 minutes: server A has X at 10:00 and 10:05, B has Y at 10:00.
  const long long ten = 1143540000LL * 1000;
  writeLog("ZEP.a.metric.log", header("srvA") + lines({record(0, ten, 1, "X"),
                                                       record(0, ten + 300000, 1, "X")}));
  writeLog("ZEP.b.metric.log", header("srvB") + lines({record(0, ten, 1, "Y")}));
  ASSERT_EQ(list_.readLogs(props_), 0);
  ZEPADLST_AggDataList* l;
  ZEPAELEM_AggData* b;
  int32_t begin;
  EXPECT_EQ(list_.getOldestAggDataBucket(&l, &b, &begin), 3);
  EXPECT_EQ(begin, 1143540000);

  props_.setProperty("zep.axo.maxSvcInvRecords", 2);
  TRK1_SetLevel("ZEPDCLST", 255);
  TRK1_Capture capture;
  list_.enforceSvcInvLimits(props_);
  EXPECT_EQ(list_.getOldestAggDataBucket(&l, &b, &begin), 1);
  EXPECT_EQ(begin, 1143540300);
  EXPECT_TRUE(capture.contains("Deleted 2 records. Remaining records: 1"));
  // The files of the expired windows went to the archive with them.
  EXPECT_EQ(filesIn(archiveDir()),
            std::vector<std::string>{"ZEP.b.metric.log.1060328134609000-CA"});
}

TEST_F(ZepDcLstTest, HistoriedAndAgedOutBucketsGo) {
  const long long ten = 1143540000LL * 1000;
  writeLog("ZEP.a.metric.log",
           header("srvA") + lines({record(0, ten, 1, "X"), record(0, ten, 1, "Y"),
                                   record(0, ten, 1, "Z")}));
  ASSERT_EQ(list_.readLogs(props_), 0);
  ZEPNVLST_SvcInventoryList& inv = list_.front()->svcInventory();
  ZEPIELEM_SvcInv* x = inv.front();
  x->aggDataList().markStoredInHistory(x->aggDataList().front());
  ZEPIELEM_SvcInv* y = inv.next(x);
  y->aggDataList().front()->latestReadTime = kBaseTime - 71 * 60;
  // Only windows before 10:05 may go; X went to history, Y aged out.
  EXPECT_EQ(list_.deleteHistoriedAndAgedOut(kBaseTime - 70 * 60, 1143540300), 1);
  EXPECT_EQ(inv.getNumAggDataBuckets(), 1);
  EXPECT_EQ(list_.deleteHistoriedAndAgedOut(kBaseTime, 1143540000), 1);
}

TEST_F(ZepDcLstTest, ArchiveIsTrimmedByAgeAndSizeAtMostOncePerInterval) {
  std::filesystem::create_directories(archiveDir());
  for (int i = 0; i < 4; ++i) {  // sparse files of 100 MB, newest last
    const std::string name = "ZEP.f" + std::to_string(i) + ".metric.log.1-CA";
    tmp_.write("install/ZEP/logs/ZEP.DCA.CACHE/archive/" + name, "");
    std::filesystem::resize_file(archiveDir() + "/" + name, 100LL * 1024 * 1024);
    tmp_.setMtime("install/ZEP/logs/ZEP.DCA.CACHE/archive/" + name, kBaseTime - 100 + i);
  }
  EXPECT_EQ(list_.purgeArchive(props_), 0);
  EXPECT_EQ(filesIn(archiveDir()),
            (std::vector<std::string>{"ZEP.f2.metric.log.1-CA", "ZEP.f3.metric.log.1-CA"}));

  // Within 300 seconds nothing happens, even to a file past its age.
  tmp_.setMtime("install/ZEP/logs/ZEP.DCA.CACHE/archive/ZEP.f3.metric.log.1-CA",
                kBaseTime - 1441 * 60);
  fakeTime() += 299;
  EXPECT_EQ(list_.purgeArchive(props_), 0);
  EXPECT_EQ(filesIn(archiveDir()).size(), 2u);
  // Then the file past its age goes (it is now the oldest); without a size
  // limit the rest stays.
  props_.setProperty("zep.axo.logFileMaxArchiveMB", -1);
  tmp_.write("install/ZEP/logs/ZEP.DCA.CACHE/archive/ZEP.f4.metric.log.1-CA", "x");
  tmp_.setMtime("install/ZEP/logs/ZEP.DCA.CACHE/archive/ZEP.f4.metric.log.1-CA", kBaseTime);
  fakeTime() += 1;
  EXPECT_EQ(list_.purgeArchive(props_), 0);
  EXPECT_EQ(filesIn(archiveDir()),
            (std::vector<std::string>{"ZEP.f2.metric.log.1-CA", "ZEP.f4.metric.log.1-CA"}));
}

TEST_F(ZepDcLstTest, OverlongLogDirectoryIsRefused) {
  ZEPDCLST_DCMetricsLogList list;
  TRK1_Capture capture;
  list.setDirectoryName(("/" + std::string(300, 'd')).c_str());
  EXPECT_TRUE(capture.contains("ZEP0308E Log directory name too long"));
  EXPECT_STREQ(list.getDirectoryName(), "");
  EXPECT_EQ(list.readLogs(props_), 0);
}

}  // namespace
