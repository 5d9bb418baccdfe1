// Tests of the metric log list on a real log directory: caching, servers
// and their registration, the record and bucket limits, retention, the
// archive, and the cache and archive directories themselves.
#include "logs/zepdclst.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <set>

#include "axo/base/trk1.h"
#include "axo/process/axo.h"
#include "foundation/zepprops.h"
#include "logs/zepaelem.h"
#include "logs/zeplogs_test_util.h"

namespace {

using namespace zeplogs_test;
using Names = std::vector<std::string>;
using S = ZEPDCSET_settings;

class ZepDcLstTest : public ZepLogsTest {
 protected:
  void SetUp() override {
    ZepLogsTest::SetUp();
    AXO_ResetForTesting();  // no subnodes of earlier tests
    props_.setPropertyFilename(configFile().c_str());
    list_.setSubnodeRegistrar(zeptest::kAgentSubnodeRegistrar);
    list_.setDirectoryName(logDir().c_str());
  }
  void TearDown() override {
    AXO_SetSubnodeResultsForTesting(0, 0);
    ZepLogsTest::TearDown();
  }
  // Writes the configuration file and loads it: registering a new server
  // reloads the configuration, so settings must be in the file.
  void configure(const std::string& text) {
    tmp_.write("install/ZEP/config/ZEP.dc.properties", text);
    ASSERT_EQ(props_.load(), ZEPPROPS_properties::OK);
  }
  // Writes a file of `size` bytes and modification time `mtime` under the log
  // directory (files are read oldest first).
  void writeAt(const std::string& name, const std::string& content, time_t mtime,
               long long size = -1) {
    tmp_.write("install/ZEP/logs/" + name, content);
    if (size >= 0) std::filesystem::resize_file(logDir() + "/" + name, size);
    tmp_.setMtime("install/ZEP/logs/" + name, mtime);
  }
  ZEPPROPS_properties props_;
  ZEPDCLST_DCMetricsLogList list_;
};

TEST_F(ZepDcLstTest, FilesOfOneServerFeedOneRegisteredLog) {
  writeAt("ZEP.a.metric.log",
          header("server1") + lines({record(2, kOldMillis + 1000), record(2, kOldMillis + 2000)}),
          1);
  writeAt("ZEP.b.metric.log", header("server1") + record(0, kOldMillis + 3000), 2);
  writeLog("other.log", header("server2") + record(0, kOldMillis + 3000));
  ASSERT_EQ(list_.readLogs(props_), 0);
  ASSERT_EQ(list_.size(), 1);
  EXPECT_EQ(list_.front()->getNumMetrics(), 3);
  EXPECT_EQ(AXO_ListSubnodes().size(), 1u);
  EXPECT_EQ(AXO_ListSubnodes()[0].name, list_.front()->getSubnodeName());
  EXPECT_EQ(filesIn(logDir()), Names{"other.log"});
  EXPECT_EQ(filesIn(cacheDir()), (Names{"ZEP.a.metric.log.1060328134609000-CA",
                                        "ZEP.b.metric.log.1060328134609000-CA"}));
}

// A server the framework refuses is not kept, and is tried again with its
// next file. (Files refused for their header or a failed read: tests of the
// log and the fault-injection tests.)
TEST_F(ZepDcLstTest, ServerTheFrameworkRefusesIsTriedAgainWithItsNextFile) {
  AXO_SetSubnodeResultsForTesting(5, 0);
  writeLog("ZEP.new.metric.log", header("server5") + record(2, kOldMillis + 1000));
  EXPECT_EQ(list_.readLogs(props_), -1);
  EXPECT_EQ(list_.findServerLog("server5", "1"), nullptr);
  AXO_SetSubnodeResultsForTesting(0, 0);
  fakeTime() += 1;
  writeLog("ZEP.new.metric.log", header("server5") + record(2, kOldMillis + 2000));
  EXPECT_EQ(list_.readLogs(props_), 0);
  ASSERT_NE(list_.findServerLog("server5", "1"), nullptr);
  EXPECT_EQ(list_.findServerLog("server5", "1")->getNumMetrics(), 1);
}

// The heap behind the record limit against the plain rule, one line at a
// time: delete the oldest line over all servers, the earlier server on
// equal seconds. Many ties, uneven servers, the limit applied after each
// file, then batches of every size, the last larger than what is left.
// (The order within a log: tests of the log.)
TEST_F(ZepDcLstTest, RecordLimitDeletesTheGloballyOldestLineEarlierServerOnTies) {
  const int kLimit = 250;
  configure(std::string(S::MAX_METRICS_RECORDS) + "=" + std::to_string(kLimit));
  using Lines = std::multiset<std::pair<int32_t, int>>;  // (seconds, server): first goes first
  Lines plain;
  auto plainDelete = [&](int n) {
    int deleted = 0;
    for (; deleted < n && !plain.empty(); ++deleted) plain.erase(plain.begin());
    return deleted;
  };
  auto held = [&] {
    Lines out;
    int s = 0;
    for (auto* log = list_.front(); log != nullptr; log = list_.next(log), ++s) {
      for (auto* l = log->front(); l; l = log->next(l)) out.emplace(l->timeSeconds, s);
    }
    return out;
  };
  std::mt19937 rng(5);
  for (int s = 0; s < 6; ++s) {
    std::string content = header("srv" + std::to_string(s));
    for (int i = 0, n = 20 + static_cast<int>(rng() % 200); i < n; ++i) {
      const int32_t seconds = kOldSeconds + static_cast<int32_t>(rng() % 60);
      plain.emplace(seconds, s);
      content += record(0, seconds * 1000LL) + "\n";
    }
    plainDelete(static_cast<int>(plain.size()) - kLimit);
    writeLog("ZEP.s.metric.log", content);
    fakeTime() += 1;
    ASSERT_EQ(list_.readLogs(props_), 0);
  }
  ASSERT_EQ(held(), plain);
  for (int batch : {1, 2, 3, 7, 50, 1, 120, 100000}) {
    ASSERT_EQ(list_.deleteOldestMetricRecords(batch), plainDelete(batch)) << batch;
    ASSERT_EQ(held(), plain) << batch;
  }
}

TEST_F(ZepDcLstTest, RetentionKeepsLinesForMaxMinutesAndStoredOnesForMinMinutes) {
  configure(std::string(S::MIN_RETAIN_MINUTES) + "=3\n" + S::MAX_RETAIN_MINUTES + "=7\n");
  writeLog("ZEP.a.metric.log",
           header("server1") + lines({record(0, kOldMillis + 1000), record(1, kOldMillis + 2000)}));
  ASSERT_EQ(list_.readLogs(props_), 0);
  ZEPDCLOG_DCMetricsLogFile* log = list_.front();
  log->setMetricAddedToHistory(log->front());
  for (const auto& [age, remaining] : {std::pair{180, 2}, {181, 1}, {420, 1}, {421, 0}}) {
    fakeTime() = kBaseTime + age;
    list_.purgeLogs(props_);
    EXPECT_EQ(log->getNumMetrics(), remaining) << age;
  }
}

// Buckets of complete windows go when stored in history or unread for
// their retention time; then whole oldest windows while too many remain.
TEST_F(ZepDcLstTest, BucketsGoWhenStoredOrAgedThenByWholeOldestWindows) {
  const long long ten = 1143540000LL * 1000, five = 300000;  // 10:00, a window begin
  writeAt("ZEP.a.metric.log",
          header("srvA") + lines({record(0, ten, 1, "X"), record(0, ten, 1, "Y"),
                                  record(0, ten, 1, "Z"), record(0, ten + five, 1, "X")}),
          1);
  writeAt("ZEP.b.metric.log",
          header("srvB") + lines({record(0, ten, 1, "Y"), record(0, ten + five, 1, "Y")}), 2);
  ASSERT_EQ(list_.readLogs(props_), 0);
  ZEPNVLST_SvcInventoryList& a = list_.front()->svcInventory();  // X, Y, Z
  ZEPADLST_AggDataList& x = a.front()->aggDataList();
  x.markStoredInHistory(x.back());
  x.markStoredInHistory(x.front());
  a.next(a.front())->aggDataList().front()->latestReadTime = kBaseTime - 71 * 60;
  // Only windows before 10:05 may go: A's X and Y of 10:00.
  EXPECT_EQ(list_.deleteHistoriedAndAgedOut(kBaseTime - 70 * 60, 1143540300), 4);
  // Then A's stored X of 10:05 goes; of the three left the window of 10:00
  // goes as a whole though one bucket would do for the limit of two.
  configure(std::string(S::MAX_SVCINV_RECORDS) + "=2");
  list_.enforceSvcInvLimits(props_);
  ZEPADLST_AggDataList* l;
  ZEPAELEM_AggData* b;
  int32_t begin;
  EXPECT_EQ(list_.getOldestAggDataBucket(&l, &b, &begin), 1);
  EXPECT_EQ(begin, 1143540300);
  // A's file went with its newest bucket, marked as stored in history.
  EXPECT_EQ(filesIn(archiveDir()), Names{"ZEP.a.metric.log.1060328134609000-HS"});
}

TEST_F(ZepDcLstTest, ArchiveIsTrimmedByAgeAndSize) {
  std::filesystem::create_directories(archiveDir());
  const std::string f = "ZEP.DCA.CACHE/archive/f";
  for (int i = 0; i < 4; ++i) writeAt(f + std::to_string(i), "", kBaseTime - 9 + i, 100 << 20);
  EXPECT_EQ(list_.purgeArchive(props_), 0);  // 200 MB stay, the newest
  EXPECT_EQ(filesIn(archiveDir()), (Names{"f2", "f3"}));
  // The next purge, an interval later: the file past its age goes; without
  // a size limit the rest stays.
  configure(std::string(S::MAX_ARCHIVE_MB) + "=-1");
  writeAt(f + "3", "", kBaseTime - 1441 * 60, 100 << 20);
  writeAt(f + "4", "x", kBaseTime);
  fakeTime() += 300;
  EXPECT_EQ(list_.purgeArchive(props_), 0);
  EXPECT_EQ(filesIn(archiveDir()), (Names{"f2", "f4"}));
}

// The usual first start: the data collectors create the log directory after
// the agent set up its list.
TEST_F(ZepDcLstTest, ListingsRecoverOnceTheLogDirectoryExists) {
  std::filesystem::remove_all(logDir());
  list_.setDirectoryName(logDir().c_str());
  std::filesystem::create_directories(archiveDir());
  writeAt("ZEP.DCA.CACHE/archive/ZEP.old.metric.log.1-CA", "x", kBaseTime - 1441 * 60);
  writeLog("ZEP.DCA.CACHE/ZEP.a.metric.log.1-CA",
           header("server1") + record(2, kBaseTime * 1000LL));

  TRK1_Capture capture;
  EXPECT_EQ(list_.readCachedLogs(props_), 0);
  EXPECT_EQ(list_.getNumMetricsRecords(), 1);
  EXPECT_EQ(list_.purgeArchive(props_), 0);
  EXPECT_TRUE(filesIn(archiveDir()).empty());
  EXPECT_FALSE(capture.contains("ZEP0352E"));
}

// The ownership check keeps the agent from moving files into a directory
// another user controls. Root may use such a directory; a symbolic link is
// refused whoever runs the agent; a refusal names its real cause.
TEST_F(ZepDcLstTest, OwnershipOfTheCacheAsRootAndAsAnotherUser) {
  // Owned by someone other than root (a non-root test process owns it).
  if (geteuid() == 0) {
    ASSERT_EQ(lchown(cacheDir().c_str(), 4243, static_cast<gid_t>(-1)), 0);
  }
  struct stat st;
  ASSERT_EQ(lstat(cacheDir().c_str(), &st), 0);
  const uid_t owner = st.st_uid;
  ASSERT_NE(owner, 0u);

  env_.SetEffectiveUid(0);
  writeLog("ZEP.a.metric.log", header("server1") + lines({record(2, kBaseTime * 1000LL)}));
  EXPECT_EQ(list_.readLogs(props_), 0);
  EXPECT_EQ(filesIn(cacheDir()).size(), 1u);

  env_.SetEffectiveUid(owner + 1);
  writeLog("ZEP.b.metric.log", header("server1") + lines({record(2, kBaseTime * 1000LL)}));
  TRK1_Capture capture;
  EXPECT_EQ(list_.readLogs(props_), -1);
  EXPECT_TRUE(capture.contains("owned by uid " + std::to_string(owner) +
                               ", not by the agent's uid " + std::to_string(owner + 1)));
  EXPECT_FALSE(capture.contains("Permission denied"));

  // A cache that is a symbolic link is refused even for root.
  env_.SetEffectiveUid(0);
  std::filesystem::rename(cacheDir(), tmp_.path("elsewhere"));
  std::filesystem::create_directory_symlink(tmp_.path("elsewhere"), cacheDir());
  EXPECT_EQ(list_.readLogs(props_), -1);
  EXPECT_EQ(capture.count("symbolic link"), 1);
  EXPECT_EQ(filesIn(logDir()), std::vector<std::string>{"ZEP.b.metric.log"});
}

// The start-up scan reads only regular files: a FIFO (which would block the
// read for good), a link to a file elsewhere and a directory, each named
// like a cached file, are left where they are and reported once per name.
TEST_F(ZepDcLstTest, StartUpScanLeavesWhatIsNotARegularFile) {
  const std::string stamp = ".1060328134609000-CA";
  tmp_.write("install/ZEP/logs/ZEP.DCA.CACHE/ZEP.a.metric.log" + stamp,
             header("server1") + lines({record(2, kBaseTime * 1000LL)}));
  tmp_.write("victim", header("victim") + lines({record(2, kBaseTime * 1000LL)}));
  ASSERT_EQ(mkfifo((cacheDir() + "/ZEP.f.metric.log" + stamp).c_str(), 0600), 0);
  ASSERT_EQ(
      symlink(tmp_.path("victim").c_str(), (cacheDir() + "/ZEP.l.metric.log" + stamp).c_str()), 0);
  ASSERT_EQ(mkdir((cacheDir() + "/ZEP.d.metric.log" + stamp).c_str(), 0700), 0);
  TRK1_Capture capture;
  EXPECT_EQ(list_.readCachedLogs(props_), 0);
  EXPECT_EQ(list_.readCachedLogs(props_), 0);
  EXPECT_EQ(list_.size(), 1);
  EXPECT_EQ(list_.front()->getServerName(), std::string("server1"));
  EXPECT_EQ(capture.count("ZEP0312W File left alone, not a regular file: " + cacheDir()), 3);
  for (const char* kind : {"(fifo)", "(symlink)", "(directory)"}) {
    EXPECT_EQ(capture.count(kind), 1) << kind;
  }
  EXPECT_TRUE(std::filesystem::is_fifo(cacheDir() + "/ZEP.f.metric.log" + stamp));
  EXPECT_TRUE(std::filesystem::is_symlink(cacheDir() + "/ZEP.l.metric.log" + stamp));
}

}  // namespace
