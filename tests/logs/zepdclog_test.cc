// Tests of one server's metric log: record parsing, refused records, header
// fields, subnode names, ordering, limits, taking files into the cache.
#include "logs/zepdclog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <thread>

#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"
#include "logs/zepaelem.h"
#include "logs/zeplogs_test_util.h"

namespace {

using namespace zeplogs_test;
using Held = std::vector<std::pair<long long, int>>;

template <size_t N>
std::string col(const char (&column)[N]) {
  return std::string(column, N);
}

class ZepDcLogTest : public ZepLogsTest {
 protected:
  // Feeds lines through processLine, as readCachedLog does.
  void feed(const std::string& text, int maxMetrics = 30000, int maxBuckets = 30000,
            ZEPDCLOG_DCMetricsLogFile* log = nullptr) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      (log != nullptr ? log : log_.get())
          ->processLine("", line.c_str(), static_cast<int32_t>(fakeTime()), maxMetrics, maxBuckets,
                        nullptr);
    }
  }
  // Each line's (message time in milliseconds, location), newest first.
  Held held() {
    Held out;
    for (auto* l = log_->front(); l != nullptr; l = log_->next(l)) {
      out.emplace_back(l->timeSeconds * 1000LL + l->timeMillis, l->metricsRow.msgloc);
    }
    return out;
  }
  // Reads a cached file as the list does; returns readCachedLog's result,
  // or readLogForSubnodeName's when that refuses the server.
  int read(ZEPDCLOG_DCMetricsLogFile& log, const std::string& path, int maxBuckets = 30000) {
    ZEP_FILE file;
    char line[ZEPDCLOG_DCMetricsLogFile::LINE_SIZE];
    if (log.readLogForSubnodeName(path.c_str(), &file, line) != 0) return -2;
    return log.readCachedLog(path.c_str(), 30000, maxBuckets, &file, line);
  }
  std::unique_ptr<ZEPDCLOG_DCMetricsLogFile> log_ =
      std::make_unique<ZEPDCLOG_DCMetricsLogFile>("", "ZEP.s1.metric.log");
};

TEST_F(ZepDcLogTest, RecordFieldsBecomeRowColumns) {
  feed(header("server1") + "2;1143553569123;" + std::string(70, 't') +
       ";250;OrderPort;submitOrder;1;0;512;c1;x;p1;rh;10.1.1.1;;\n");
  ASSERT_EQ(log_->getNumMetrics(), 1);
  const ZEPMELEM_MetricLine* l = log_->front();
  const zep_zepsmt_data_t& r = l->metricsRow;
  EXPECT_EQ((std::vector<int>{l->timeSeconds, l->timeMillis, l->readTime, r.msgloc, r.elpsdtime,
                              r.onewaymsg, r.faultresp, r.msglength, r.appsrvenv}),
            (std::vector<int>{1143553569, 123, kBaseTime, 2, 250, 1, 0, 512, 1}));
  // Each column holds its text blank-padded or cut to the column's width.
  const std::pair<std::string, std::string> texts[] = {{col(r.msgtime), "1060328134609123"},
                                                       {col(r.threadid), std::string(70, 't')},
                                                       {col(r.portname), "OrderPort"},
                                                       {col(r.opname), "submitOrder"},
                                                       {col(r.currcorr), "c1"},
                                                       {col(r.prevcorr), "p1"},
                                                       {col(r.rmhstname), "rh"},
                                                       {col(r.rmipaddr), "10.1.1.1"},
                                                       {col(r.appsrvnm), "server1"},
                                                       {col(r.tablever), "01.01.00"},
                                                       {col(r.originnode), log_->getSubnodeName()}};
  for (const auto& [got, text] : texts) {
    EXPECT_EQ(got, (text + std::string(got.size(), ' ')).substr(0, got.size()));
  }
  EXPECT_EQ(l->faultRow, nullptr);  // empty fields 15 and 16
}

// Bad records are refused, counted and traced; every good record next to
// them is kept. A line without 16 fields is ignored; codes that are no digit
// are -1; a fault string is the rest of the line.
TEST_F(ZepDcLogTest, OddRecordsAreReadAndBadOnesRefused) {
  constexpr long long kFloorMillis = 946684800000LL;  // 2000-01-01T00:00Z
  const long long good = kBaseTime * 1000LL;
  const std::string damaged =
      record(2, good + 4, 10, "OrderPort", "submitOrder", 100, "F1", "bro") + '\0' + "ken";
  tmp_.write("cached", header("server1") +
                           lines({"2;1;2;3;4;5;6;7;8;9;10;11;12;13;14", record(2, good + 1),
                                  "x;1143540000000;t;1;P;O;y;z;1;c;u;p;h;i;;only;string",
                                  record(2, kBaseTime),  // seconds written instead of millis
                                  record(2, kFloorMillis - 1), record(2, kFloorMillis), damaged,
                                  record(2, good + 5), record(2, 0).replace(2, 1, "12ab5678")}));
  TRK1_Capture capture;
  ASSERT_EQ(read(*log_, tmp_.path("cached")), 0);
  EXPECT_EQ(held(), (Held{{good + 5, 2}, {good + 1, 2}, {kOldMillis, -1}, {kFloorMillis, 2}}));
  EXPECT_EQ(log_->getNumRefusedRecords(), 4);
  // One warning per run of refused records, each naming its cause.
  EXPECT_EQ(capture.count("ZEP0311W"), 3);
  EXPECT_TRUE(capture.contains("before 2000-01-01T00:00Z"));
  EXPECT_TRUE(capture.contains("NUL byte"));
  // The only fault is the odd line's: a refused record's is not counted.
  ASSERT_EQ(log_->getNumFaults(), 1);
  const ZEPMELEM_MetricLine* odd = log_->frontFault();
  EXPECT_EQ(odd->metricsRow.onewaymsg, -1);
  EXPECT_EQ(odd->metricsRow.faultresp, -1);
  EXPECT_EQ(col(odd->faultRow->fltcode), std::string(128, ' '));
  EXPECT_EQ(col(odd->faultRow->fltstr).substr(0, 12), "only;string ");
}

TEST_F(ZepDcLogTest, LinesAreKeptNewestFirstAndLimitsDropTheOldestLineAndWholeWindow) {
  // Equal times: the later arrival first. Past three lines the oldest goes.
  feed(header("server1") + lines({record(0, kOldMillis + 5000), record(0, kOldMillis + 9000),
                                  record(1, kOldMillis + 1000), record(3, kOldMillis + 5000)}),
       3);
  EXPECT_EQ(held(), (Held{{kOldMillis + 9000, 0}, {kOldMillis + 5000, 3}, {kOldMillis + 5000, 0}}));
  // Three operations in the window of 10:00, then one in 10:05: with room
  // for three buckets, the whole window of 10:00 goes.
  log_ = std::make_unique<ZEPDCLOG_DCMetricsLogFile>("", "ZEP.s2.metric.log");
  feed(header("server2") +
           lines({record(0, kOldMillis, 1, "P", "X"), record(0, kOldMillis, 1, "P", "Y"),
                  record(0, kOldMillis + 1000, 1, "P", "Z")}),
       30000, 3);
  EXPECT_EQ(log_->svcInventory().getNumAggDataBuckets(), 3);
  feed(record(0, kOldMillis + 300000, 1, "P", "X"), 30000, 3);
  EXPECT_EQ(log_->svcInventory().getNumAggDataBuckets(), 1);
}

TEST_F(ZepDcLogTest, LinesDeletedInAnyOrderLeaveTheRestWhole) {
  // Late arrivals go at once under the limit of 4; a thread that makes no
  // lines (a sampler) deletes two, which frees their storage; more records
  // come. The server remembers the lines it inserted lately: a deleted one
  // must never be written to again (valgrind or a sanitizer sees it).
  std::vector<std::string> records;
  for (int i = 0; i < 20; ++i) records.push_back(record(0, kOldMillis + 100000 - i * 1000));
  for (int i = 1; i <= 20; ++i) records.push_back(record(1, kOldMillis + 100000 + i * 1000));
  feed(header("server1") + lines(records), 4);
  std::thread([this] {
    log_->deleteOldestMetric();
    log_->deleteOldestMetric();
  }).join();
  EXPECT_EQ(held(), (Held{{kOldMillis + 120000, 1}, {kOldMillis + 119000, 1}}));
  records.clear();
  for (int i = 1; i <= 16; ++i) records.push_back(record(2, kOldMillis + 120000 + i * 1000));
  feed(lines(records), 4);
  EXPECT_EQ(held(), (Held{{kOldMillis + 136000, 2},
                          {kOldMillis + 135000, 2},
                          {kOldMillis + 134000, 2},
                          {kOldMillis + 133000, 2}}));
}

// The subnode name is a server's identity towards the framework: a change of
// its checksum would rename every subnode of every installation.
TEST_F(ZepDcLogTest, SubnodeNamesKeepTheBudgetAndChecksumEveryField) {
  auto subnode = [](const std::vector<std::string>& headerLines) {
    ZEPDCLOG_DCMetricsLogFile log("", "ZEP.x.metric.log");
    for (const std::string& h : headerLines) log.processKeyVal(("#ZEP." + h).c_str());
    log.generateSubnodeName();
    return std::string(log.getSubnodeName());
  };
  // Server, environment, cell, node, cluster and host feed the checksum; the
  // IP address and version do not. Pinned.
  EXPECT_EQ(subnode({"version=01.01.00", "env=1", "node=node1", "cell=cell1", "servername=server1",
                     "cluster=cluster1", "hostname=host1.example.com", "ipaddress=10.0.0.1"}),
            "ZP:05d0638a:host1-server1       ");
  // Host and server are cut to fit the 32 characters.
  for (const auto& [host, server, suffix] :
       {std::tuple{"verylonghostname12345", "myserver", ":verylonghostna-myser"},
        {"shorthost", "averyveryverylongservername", ":shorthost-averyveryv"}}) {
    const std::string name =
        subnode({std::string("hostname=") + host, std::string("servername=") + server});
    EXPECT_EQ(name.substr(11), suffix);  // 32 characters in all
  }
  // A longer earlier value leaves no stale bytes in the checksum.
  EXPECT_EQ(subnode({"servername=server-long", "servername=srv", "cell=c"}),
            subnode({"servername=srv", "cell=c"}));
  log_->processKeyVal(("#ZEP.servername=" + std::string(300, 's')).c_str());
  EXPECT_EQ(std::strlen(log_->getServerName()), 259u);
}

TEST_F(ZepDcLogTest, HeaderDecidesWhetherTheServerIsAccepted) {
  const std::string rec = record(2, kOldMillis);
  for (const auto& [content, rc] : {std::pair{header("server1", "3") + rec, 0},
                                    {header("server1", "10") + rec, -2},
                                    {"#ZEP.env=1\n" + rec, -2},  // no server name
                                    {header("server1", "1") + "#ZEP.env=0\n", -2}}) {
    tmp_.write("cached", content);
    ZEPDCLOG_DCMetricsLogFile log("", "ZEP.s.metric.log");
    ASSERT_EQ(read(log, tmp_.path("cached")), rc) << content;
    EXPECT_EQ(log.getNumMetrics(), rc == 0 ? 1 : 0);
  }
}

TEST_F(ZepDcLogTest, CachedFileFollowsItsNewestBucketEvenWhenThatExpired) {
  const std::string name = "ZEP.s1.metric.log.1060328134609000-CA";
  std::filesystem::create_directories(cacheDir());
  writeLog("ZEP.DCA.CACHE/" + name, header("server1") + lines({record(2, kOldMillis + 600000),
                                                               record(2, kOldMillis + 60000)}));
  ASSERT_EQ(read(*log_, cacheDir() + "/" + name), 0);
  ZEPADLST_AggDataList& buckets = log_->svcInventory().front()->aggDataList();
  EXPECT_EQ(buckets.front()->begin, kOldSeconds + 600);
  EXPECT_EQ(buckets.front()->cachedFiles().size(), 1);
  EXPECT_EQ(buckets.back()->cachedFiles().size(), 0);
  // With no bucket allowed, every bucket expires while the file is read:
  // the file goes to the archive instead of dangling.
  ZEPDCLOG_DCMetricsLogFile other("", "ZEP.s2.metric.log");
  ASSERT_EQ(read(other, cacheDir() + "/" + name, 0), 0);
  EXPECT_EQ(filesIn(archiveDir()), std::vector<std::string>{name});
}

// (A cache that is a symbolic link: tests of the list.)
TEST_F(ZepDcLogTest, TakingAFileIntoTheCacheNeverReplaces) {
  ZEPDCLOG_DCMetricsLogFile log(logDir().c_str(), "ZEP.s1.metric.log");
  writeLog("ZEP.s1.metric.log", header("server1"));
  char cached[ZEPDCLOG_DCMetricsLogFile::PATH_SIZE];
  ASSERT_EQ(log.renameLogToTmpName(cached), 0);  // (its name: tests of the list)
  // The same name again within the same second waits for a later pass.
  writeLog("ZEP.s1.metric.log", header("server2"));
  EXPECT_EQ(log.renameLogToTmpName(cached), -1);
  EXPECT_EQ(tmp_.read("install/ZEP/logs/ZEP.DCA.CACHE/ZEP.s1.metric.log.1060328134609000-CA"),
            header("server1"));
}

// The per-service series go with their server object, and only with one
// that counted records (the list makes one per file to find its server).
TEST_F(ZepDcLogTest, AServerThatGoesTakesItsServiceSeriesAlong) {
  auto seriesOf = [](const std::string& subnode) {
    const std::string text = axo::metrics::Expose(
        axo::metrics::Format::kPrometheus, {"zep_messages_total", "zep_message_length_bytes"});
    int n = 0;
    for (size_t at = 0; (at = text.find("subnode=\"" + subnode + "\"", at)) != text.npos; ++at) ++n;
    return n;
  };
  feed(header("server1") + lines({record(2, kOldMillis), record(1, kOldMillis, 10, "P", "op2")}));
  ZEPDCLOG_DCMetricsLogFile other("", "ZEP.s2.metric.log");
  feed(header("server2") + lines({record(2, kOldMillis)}), 30000, 30000, &other);
  auto trimmed = [](std::string name) { return name.substr(0, name.find_last_not_of(' ') + 1); };
  const std::string s1 = trimmed(log_->getSubnodeName()), s2 = trimmed(other.getSubnodeName());
  ASSERT_NE(s1, s2);
  const int before = seriesOf(s1);
  EXPECT_GT(before, 0);
  {
    std::filesystem::create_directories(cacheDir());
    writeLog("ZEP.DCA.CACHE/probe", header("server1") + lines({record(2, kOldMillis)}));
    ZEPDCLOG_DCMetricsLogFile probe("", "ZEP.s1.metric.log");
    ZEP_FILE file;
    char line[ZEPDCLOG_DCMetricsLogFile::LINE_SIZE];
    ASSERT_EQ(probe.readLogForSubnodeName((cacheDir() + "/probe").c_str(), &file, line), 0);
    ZEPPORT::zep_close(&file);
    ASSERT_EQ(trimmed(probe.getSubnodeName()), s1);
  }
  EXPECT_EQ(seriesOf(s1), before);
  log_.reset();
  EXPECT_EQ(seriesOf(s1), 0);
  EXPECT_GT(seriesOf(s2), 0);
}

}  // namespace
