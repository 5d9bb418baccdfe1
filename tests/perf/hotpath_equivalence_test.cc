// The fast paths of ingestion give exactly the results of the plain
// algorithms they replaced; each plain algorithm is kept here as the oracle.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include <vector>

#include "foundation/zepport.h"
#include "foundation/zepstrut.h"
#include "foundation/zeptestdir.h"
#include "logs/zepadlst.h"
#include "logs/zepaelem.h"
#include "logs/zepdclog.h"
#include "logs/zepielem.h"
#include "logs/zeplogs_test_util.h"
#include "logs/zepmelem.h"
#include "logs/zepnvlst.h"

namespace {

using SU = ZEPSTRUT_stringUtil;

// The time stamp through the C library's gmtime_r, as first written.
std::string oracleTimestamp(time_t t, int millis) {
  struct tm tmv;
  char text[64];
  if (gmtime_r(&t, &tmv) != nullptr && tmv.tm_year >= 0 && tmv.tm_year <= 999) {
    if (millis < 0 || millis > 999) millis = 0;
    std::snprintf(text, sizeof(text), "%03d%02d%02d%02d%02d%02d%03d", tmv.tm_year,
                  tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, millis);
  } else {
    std::memset(text, '0', 16);
    text[16] = '\0';
  }
  return text;
}

std::string fastTimestamp(time_t t, int millis) {
  char buf[17];
  SU::formatTimestamp(&t, buf, millis, sizeof(buf));
  return buf;
}

TEST(HotPathEquivalence, TimestampMatchesGmtimeAcrossTheWholeRange) {
  // Boundaries: the epoch, both ends of the accepted years, leap days,
  // century years (2000 leap, 2100 and 1900 not), negative times.
  const time_t fixed[] = {0, -1, 1, 86399, 86400, -86400, -86401,
                          -2208988800LL,      // 1900-01-01 00:00:00
                          -2208988801LL,      // 1899-12-31 23:59:59
                          951782400,          // 2000-02-29
                          951868799,          // 2000-02-29 23:59:59
                          4107542400LL,       // 2100-03-01
                          4107455999LL,       // 2100-02-28 23:59:59
                          29379542399LL,      // 2900-12-31 23:59:59 (out)
                          29348006399LL,      // 2899-12-31 23:59:59
                          29348006400LL,      // 2900-01-01
                          1143553569, 1765000000, INT32_MAX, INT32_MIN,
                          static_cast<time_t>(1) << 50, -(static_cast<time_t>(1) << 50),
                          INT64_MAX, INT64_MIN};
  for (time_t t : fixed) {
    for (int ms : {0, 7, 999, 1000, -1}) {
      EXPECT_EQ(fastTimestamp(t, ms), oracleTimestamp(t, ms)) << t << " " << ms;
    }
  }
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int64_t> span(-2300000000LL, 29400000000LL);
  for (int i = 0; i < 200000; ++i) {
    const time_t t = span(rng);
    ASSERT_EQ(fastTimestamp(t, i % 1000), oracleTimestamp(t, i % 1000)) << t;
  }
  // Runs of the same second, as records arrive, broken by refused times
  // and by the next second: the kept second never leaks into another.
  for (time_t t = 1765000000; t < 1765000100; t += (t % 7 == 0) ? 2 : 1) {
    for (int ms : {0, 123, 999, 5000}) {
      ASSERT_EQ(fastTimestamp(t, ms), oracleTimestamp(t, ms)) << t;
    }
    ASSERT_EQ(fastTimestamp(INT64_MAX, 1), oracleTimestamp(INT64_MAX, 1));
    ASSERT_EQ(fastTimestamp(t, 1), oracleTimestamp(t, 1)) << t;
    ASSERT_EQ(fastTimestamp(t + 86400, 1), oracleTimestamp(t + 86400, 1)) << t;
  }
  // Seconds far apart within a day, then across midnight into the next day
  // and the next month, and back: the kept date follows the day.
  for (time_t t = 1764547200 - 7200; t < 1764547200 + 7200; t += 599) {
    ASSERT_EQ(fastTimestamp(t, 5), oracleTimestamp(t, 5)) << t;
    ASSERT_EQ(fastTimestamp(t - 86400 * 31, 5), oracleTimestamp(t - 86400 * 31, 5)) << t;
  }
}

// ZEPPORT::getline as first written: fgets, then the checks in full.
char* oracleGetline(FILE* fp, char* buffer, int size) {
  buffer[0] = '\0';
  if (fgets(buffer, size, fp) == nullptr) {
    buffer[0] = '\0';
    return nullptr;
  }
  const size_t len = strlen(buffer);
  if (len > 0 && buffer[len - 1] == '\r') {
    int c = fgetc(fp);
    if (c != '\n' && c != EOF) ungetc(c, fp);
  }
  if (strpbrk(buffer, "\r\n") == nullptr) {
    char scratch[256];  // the pieces ZEPPORT discards a cut line in
    while (!feof(fp) && !ferror(fp)) {
      if (fgets(scratch, sizeof(scratch), fp) == nullptr) break;
      if (strpbrk(scratch, "\r\n") != nullptr) break;
    }
  }
  buffer[strcspn(buffer, "\r\n")] = '\0';
  return buffer;
}

// Also covers the stream buffer zep_open gives a file read.
TEST(HotPathEquivalence, GetlineMatchesTheFullChecksOnEveryLineShape) {
  ZepTestDir tmp;
  const std::string content =
      "plain\n\ncrlf\r\nlone\rcr inside\nlong line " + std::string(300, 'x') +
      "\nexact7\nexact6\r\n\r\n\rx\n;;;;;;;;;;;;;;;\nlast without end";
  tmp.write("lines", content);
  // Several stream buffers long, lines of every length up to past the
  // agent's 2048-byte line buffer, so that lines straddle buffer refills.
  std::string big;
  std::mt19937 rng(9);
  while (big.size() < 300000) {
    big += std::string(rng() % 2600, static_cast<char>('a' + rng() % 26));
    big += rng() % 17 == 0 ? "\r\n" : "\n";
  }
  tmp.write("big", big);
  for (const char* name : {"lines", "big"}) for (int size : {2, 7, 8, 9, 64, 2048}) {
    FILE* fp = fopen(tmp.path(name).c_str(), "r");
    ASSERT_NE(fp, nullptr);
    ZEP_FILE file;
    ASSERT_EQ(ZEPPORT::zep_open(tmp.path(name).c_str(), "r", &file, 0666), 0);
    std::vector<char> a(size), b(size);
    for (int i = 0; i < 100000; ++i) {
      const char* ra = oracleGetline(fp, a.data(), size);
      const char* rb = ZEPPORT::getline(&file, b.data(), size);
      ASSERT_EQ(ra == nullptr, rb == nullptr) << size << " line " << i;
      if (ra == nullptr) break;
      ASSERT_STREQ(a.data(), b.data()) << size << " line " << i;
    }
    ZEPPORT::zep_close(&file);
    fclose(fp);
  }
}

// split as first written: one memchr per delimiter.
std::vector<std::string> oracleSplit(const std::string& text, int maxSegs, char delim) {
  std::vector<std::string> out;
  const char* cur = text.data();
  const char* const end = cur + text.size();
  while (static_cast<int>(out.size()) < maxSegs - 1) {
    const char* hit = static_cast<const char*>(std::memchr(cur, delim, end - cur));
    if (hit == nullptr) break;
    out.emplace_back(cur, hit);
    cur = hit + 1;
  }
  out.emplace_back(cur, end);
  return out;
}

// The word-at-a-time split finds the delimiters memchr finds: every length
// around the word size, delimiters at word edges, runs of them, bytes with
// the high bit set and NUL bytes inside an explicit length, any segment cap.
TEST(HotPathEquivalence, SplitMatchesASearchPerDelimiter) {
  std::mt19937 rng(21);
  const char alphabet[] = {';', ';', 'a', 'z', '\0', '\x80', '\xbb', '\xff', ':', '<'};
  for (int i = 0; i < 20000; ++i) {
    std::string text(rng() % 40, 'x');
    for (char& c : text) c = alphabet[rng() % sizeof(alphabet)];
    const char delim = i % 5 == 0 ? '\xbb' : ';';
    const int maxSegs = 1 + static_cast<int>(rng() % 20);
    SU::STRING_PARSE_INFO segs[20];
    const int n = SU::split(text.data(), segs, maxSegs, delim, static_cast<int>(text.size()));
    std::vector<std::string> got;
    for (int k = 0; k < n; ++k) got.emplace_back(segs[k].ptr, segs[k].len);
    ASSERT_EQ(got, oracleSplit(text, maxSegs, delim)) << i;
  }
}

// A record's text fields are copied into a row that starts as the header
// row, whose record columns are blank; the oracle blanks every column and
// pads each field itself. Fields empty, short, exactly and over the width.
TEST(HotPathEquivalence, RecordColumnsMatchAPaddedCopyIntoABlankRow) {
  ZEPDCLOG_DCMetricsLogFile log("/nonexistent", "ZEP.a.metric.log");
  for (const char* h : {"#ZEP.servername=s1", "#ZEP.env=1", "#ZEP.hostname=h1.example"}) {
    log.processKeyVal(h);
  }
  std::mt19937 rng(4);
  auto text = [&](size_t width) {
    const size_t sizes[] = {0, 1, width - 1, width, width + 1, width + 40};
    return std::string(sizes[rng() % 6] % (width + 41), static_cast<char>('a' + rng() % 26));
  };
  for (int i = 0; i < 300; ++i) {
    const std::string thread = text(64), port = text(64), op = text(64), curr = text(128),
                      prev = text(128), host = text(128), ip = text(64);
    const std::string line = "2;1765000000" + std::to_string(100 + i) + ";" + thread + ";5;" +
                             port + ";" + op + ";0;0;10;" + curr + ";x;" + prev + ";" + host +
                             ";" + ip + ";;";
    log.processLine("", line.c_str(), 1765000000, 30000, 30000, nullptr);
    // The same record with every text field empty gives the rest of the row.
    const std::string bare = "2;1765000000" + std::to_string(100 + i) + ";;5;;;0;0;10;;x;;;;;";
    log.processLine("", bare.c_str(), 1765000000, 30000, 30000, nullptr);
    const ZEPMELEM_MetricLine* withText = log.next(log.front());
    const ZEPMELEM_MetricLine* without = log.front();
    zep_zepsmt_data_t expected = without->metricsRow;
    auto pad = [](char* column, size_t width, const std::string& value) {
      SU::memcpyWithPad(column, value.data(), static_cast<unsigned>(value.size()),
                        static_cast<unsigned>(width), ' ');
    };
    pad(expected.threadid, sizeof(expected.threadid), thread);
    pad(expected.portname, sizeof(expected.portname), port);
    pad(expected.opname, sizeof(expected.opname), op);
    pad(expected.currcorr, sizeof(expected.currcorr), curr);
    pad(expected.prevcorr, sizeof(expected.prevcorr), prev);
    pad(expected.rmhstname, sizeof(expected.rmhstname), host);
    pad(expected.rmipaddr, sizeof(expected.rmipaddr), ip);
    ASSERT_EQ(std::memcmp(&expected, &withText->metricsRow, sizeof(expected)), 0) << i;
  }
}

// The service inventory's hash index finds exactly the entry a walk of the
// list by (port, operation, service type) finds, also for keys that differ
// only in their last column byte or in the service type.
TEST(HotPathEquivalence, InventoryIndexAgreesWithAWalkOfTheList) {
  ZEPNVLST_SvcInventoryList inventory(5);
  auto walk = [&](const ZEPMELEM_MetricLine& l) -> ZEPIELEM_SvcInv* {
    const int16_t type = ZEPIELEM_SvcInv::svcTypeFromMsgLoc(l.metricsRow.msgloc);
    for (ZEPIELEM_SvcInv* e = inventory.front(); e != nullptr; e = inventory.next(e)) {
      if (std::memcmp(e->row.portname, l.metricsRow.portname, 64) == 0 &&
          std::memcmp(e->row.opname, l.metricsRow.opname, 64) == 0 && e->row.svctype == type) {
        return e;
      }
    }
    return nullptr;
  };
  std::mt19937 rng(3);
  for (int i = 0; i < 20000; ++i) {
    ZEPMELEM_MetricLine line(1765000000);
    line.timeSeconds = 1765000000 + i;
    line.metricsRow.msgloc = static_cast<int16_t>(rng() % 4);
    std::string port = "Port" + std::to_string(rng() % 30);
    std::string op = "op" + std::to_string(rng() % 20);
    if (rng() % 5 == 0) port = std::string(63, 'P') + static_cast<char>('a' + rng() % 3);
    if (rng() % 5 == 0) op = std::string(63, 'O') + static_cast<char>('a' + rng() % 3);
    SU::memcpyWithPad(line.metricsRow.portname, port.data(), port.size(), 64, ' ');
    SU::memcpyWithPad(line.metricsRow.opname, op.data(), op.size(), 64, ' ');
    ZEPIELEM_SvcInv* expected = walk(line);
    ZEPIELEM_SvcInv* got = inventory.add(line);
    if (expected != nullptr) {
      ASSERT_EQ(got, expected) << i;
    } else {
      ASSERT_EQ(walk(line), got) << i;  // a new entry, found by the walk from now on
    }
  }
}

// The bucket limit of a server expires whole oldest windows. The fast path
// walks the inventory once per window; the oracle searches the oldest
// bucket again for each one. Both servers read the same records (many
// services, windows out of order) and must hold the same buckets after
// every record.
TEST(HotPathEquivalence, BucketLimitExpiresTheSameWindowsAsTheSearchPerBucket) {
  const char* const header[] = {"#ZEP.servername=s1", "#ZEP.env=1", "#ZEP.hostname=h1.example"};
  ZEPDCLOG_DCMetricsLogFile fast("/nonexistent", "ZEP.a.metric.log");
  ZEPDCLOG_DCMetricsLogFile plain("/nonexistent", "ZEP.a.metric.log");
  for (const char* h : header) {
    fast.processKeyVal(h);
    plain.processKeyVal(h);
  }
  const int kLimit = 37;
  auto oracleLimit = [&](ZEPNVLST_SvcInventoryList& inv) {
    while (inv.getNumAggDataBuckets() > kLimit) {
      ZEPADLST_AggDataList* list;
      ZEPAELEM_AggData* bucket;
      int32_t begin;
      inv.getOldestAggDataBucket(&list, &bucket, &begin);
      if (bucket == nullptr) break;
      const int32_t window = begin;
      do {
        list->expire(bucket);
        inv.getOldestAggDataBucket(&list, &bucket, &begin);
      } while (bucket != nullptr && begin == window);
    }
  };
  auto buckets = [](ZEPNVLST_SvcInventoryList& inv) {
    std::vector<std::pair<std::string, int32_t>> out;
    for (ZEPIELEM_SvcInv* e = inv.front(); e != nullptr; e = inv.next(e)) {
      for (ZEPAELEM_AggData* b = e->aggDataList().front(); b != nullptr;
           b = e->aggDataList().next(b)) {
        out.emplace_back(std::string(e->row.portname, 64) + std::string(e->row.opname, 64),
                         b->begin);
      }
    }
    return out;
  };
  std::mt19937 rng(11);
  for (int i = 0; i < 3000; ++i) {
    // Mostly forward in time, now and then a late record of an old window.
    const long long seconds = 1765000000LL + i * 20 - (rng() % 10 == 0 ? rng() % 3000 : 0);
    const std::string line = std::to_string(rng() % 4) + ";" + std::to_string(seconds * 1000) +
                             ";t;5;Port" + std::to_string(rng() % 6) + ";op" +
                             std::to_string(rng() % 4) + ";0;0;10;c;;;h;10.0.0.1;;";
    fast.processLine("", line.c_str(), 1765000000, 30000, kLimit, nullptr);
    plain.processLine("", line.c_str(), 1765000000, 30000, 30000, nullptr);
    oracleLimit(plain.svcInventory());
    ASSERT_EQ(buckets(fast.svcInventory()), buckets(plain.svcInventory())) << i;
    ASSERT_EQ(fast.svcInventory().getNumAggDataBuckets(),
              plain.svcInventory().getNumAggDataBuckets());
  }
}

// The history walk searches its window from the oldest bucket; the plain
// search starts at the newest. Twin lists get the same lines; the walk runs
// on one, the plain sample look-up of each visited window on the other, and
// both must hold the same buckets, every window from the first data to the
// limit once, newest first.
TEST(HotPathEquivalence, HistoryWalkFromTheOldestEndMakesTheSameBuckets) {
  const int32_t kBase = 1765000800;  // a window begin
  const zeplogs_test::ScopedStartTime start(kBase);
  ZEPADLST_AggDataList walked(5);
  ZEPADLST_AggDataList plain(5);
  auto begins = [](const ZEPADLST_AggDataList& list) {
    std::vector<std::pair<int32_t, int64_t>> out;
    for (ZEPAELEM_AggData* b = list.front(); b != nullptr; b = list.next(b)) {
      out.emplace_back(b->begin, b->msgCount);
    }
    return out;
  };
  std::mt19937 rng(17);
  ZEPMELEM_MetricLine line(kBase);
  line.metricsRow.msgloc = 0;
  line.metricsRow.msglength = 10;
  line.metricsRow.elpsdtime = 1;
  int32_t limit = kBase;
  for (int round = 0; round < 40; ++round) {
    // Lines in a few windows with gaps, some late for windows already past.
    for (int i = 0; i < 5; ++i) {
      line.timeSeconds = limit + static_cast<int32_t>(rng() % 7200) - 600;
      if (line.timeSeconds < kBase) line.timeSeconds = kBase;
      walked.add(line);
      plain.add(line);
    }
    limit += 300 * static_cast<int32_t>(1 + rng() % 12);
    std::vector<int32_t> visited;
    for (ZEPAELEM_AggData* b = walked.findFirstIntervalForHistory(limit); b != nullptr;
         b = walked.findNextIntervalForHistory(b->begin, limit)) {
      visited.push_back(b->begin);
      walked.markStoredInHistory(b);
      ZEPAELEM_AggData* twin = plain.findIntervalForSample(b->begin);
      ASSERT_NE(twin, nullptr);
      plain.markStoredInHistory(twin);
    }
    for (size_t i = 1; i < visited.size(); ++i) ASSERT_EQ(visited[i], visited[i - 1] + 300);
    ASSERT_EQ(begins(walked), begins(plain)) << round;
    const auto held = begins(walked);
    for (size_t i = 1; i < held.size(); ++i) ASSERT_GT(held[i - 1].first, held[i].first);
  }
}

}  // namespace
