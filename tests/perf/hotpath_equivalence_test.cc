// The fast paths of ingestion against the plain algorithms they stand for,
// on random and edge inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/zepstrut.h"
#include "logs/zepadlst.h"
#include "logs/zepaelem.h"
#include "logs/zeplogs_test_util.h"
#include "logs/zepmelem.h"
#include "logs/zepnvlst.h"

namespace {

using SU = ZEPSTRUT_stringUtil;

// CYYMMDDHHMMSSmmm through gmtime_r: C is the century digit (years 1900 to
// 2899); anything else gives sixteen zeros.
std::string plainTimestamp(time_t t, int millis) {
  struct tm tm;
  if (gmtime_r(&t, &tm) == nullptr || tm.tm_year < 0 || tm.tm_year > 999) {
    return std::string(16, '0');
  }
  char text[64];
  snprintf(text, sizeof(text), "%03d%02d%02d%02d%02d%02d%03d", tm.tm_year, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis < 0 || millis > 999 ? 0 : millis);
  return text;
}

TEST(HotPathEquivalence, TimestampMatchesGmtime) {
  // The accepted years' ends, times past the arithmetic's limit, the epoch.
  std::vector<time_t> times = {0,
                               -1,
                               -2208988800LL,
                               -2208988801LL,
                               29348006399LL,
                               29348006400LL,
                               INT64_MAX,
                               INT64_MIN,
                               static_cast<time_t>(1) << 50};
  // Every month end and first of the month, with their neighbouring
  // seconds, in years with and without leap days (1900 and 2100 have none).
  for (int year : {1899, 1900, 1904, 1999, 2000, 2023, 2024, 2100, 2101, 2400, 2899}) {
    for (int month = 0; month < 12; ++month) {
      struct tm first = {};
      std::tie(first.tm_year, first.tm_mon, first.tm_mday) = std::tuple(year - 1900, month, 1);
      for (time_t d : {-86400, -1, 0, 1}) times.push_back(timegm(&first) + d);
    }
  }
  // Walks of small and large steps, so that a kept date is reused and left.
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int64_t> span(-2300000000LL, 29400000000LL);
  const time_t steps[] = {1, 59, 3599, 86399, 86400};
  for (int i = 0; i < 20000; ++i) {
    times.push_back(i % 50 == 0 ? span(rng) : times.back() + steps[rng() % 5]);
  }
  char buf[17];
  for (size_t i = 0; i < times.size(); ++i) {
    const int ms = static_cast<int>(i % 1003) - 2;  // -2 to 1000
    ASSERT_EQ(SU::formatTimestamp(&times[i], buf, ms, sizeof(buf)), plainTimestamp(times[i], ms))
        << times[i] << " " << ms;
  }
}

// One search per delimiter: every length around the block sizes, delimiters
// at block edges, runs of them, high and NUL bytes, any segment cap.
TEST(HotPathEquivalence, SplitMatchesASearchPerDelimiter) {
  std::mt19937 rng(21);
  const char alphabet[] = {';', ';', 'a', 'z', '\0', '\x80', '\xbb', '\xff', ':'};
  for (int i = 0; i < 20000; ++i) {
    std::string text(rng() % (i % 2 == 0 ? 40 : 200), 'x');
    for (char& c : text) c = alphabet[rng() % sizeof(alphabet)];
    const char delim = i % 5 == 0 ? '\xbb' : ';';
    const int maxSegs = 1 + static_cast<int>(rng() % 20);
    std::vector<std::string> plain;
    size_t from = 0;
    for (size_t at; static_cast<int>(plain.size()) < maxSegs - 1 &&
                    (at = text.find(delim, from)) != std::string::npos;
         from = at + 1) {
      plain.push_back(text.substr(from, at - from));
    }
    plain.push_back(text.substr(from));
    SU::STRING_PARSE_INFO segs[20];
    const int n = SU::split(text.data(), segs, maxSegs, delim, static_cast<int>(text.size()));
    std::vector<std::string> got;
    for (int k = 0; k < n; ++k) got.emplace_back(segs[k].ptr, segs[k].len);
    ASSERT_EQ(got, plain) << i;
  }
}

// The short copy and comparison against memcpy and memcmp: every length up
// to past the inline limit, a difference at every position.
TEST(HotPathEquivalence, ShortCopyAndCompareMatchTheCLibrary) {
  std::mt19937 rng(3);
  for (size_t n = 0; n <= 80; ++n) {
    std::string src(n, 'x'), dst(n + 2, '#');
    for (char& c : src) c = static_cast<char>(rng());
    SU::copyBytes(&dst[1], src.data(), n);
    ASSERT_EQ(dst, "#" + src + "#") << n;
    ASSERT_TRUE(SU::equalBytes(src.data(), &dst[1], n)) << n;
    for (size_t at = 0; at < n; ++at) {
      std::string other = src;
      other[at] ^= 0x40;
      ASSERT_FALSE(SU::equalBytes(src.data(), other.data(), n)) << n << " " << at;
    }
  }
}

// A padded text's length without its pad, against a byte-by-byte walk:
// every length around the block size, runs of pads, pads inside the text.
TEST(HotPathEquivalence, LengthWithoutPadMatchesAWalk) {
  std::mt19937 rng(7);
  for (int i = 0; i < 5000; ++i) {
    std::string text(rng() % 200, ' ');
    for (char& c : text) c = " \0a"[rng() % (i % 3 == 0 ? 1 : 3)];
    text.append(rng() % 70, ' ');
    size_t plain = text.size();
    while (plain > 0 && text[plain - 1] == ' ') --plain;
    ASSERT_EQ(SU::lengthWithoutPad(text.data(), text.size()), plain) << i;
  }
}

// The inventory's index against a walk of its key-ordered list: names that
// differ only past their 64th character or in trailing blanks are the same
// operation, as their columns are; every other name is a new one.
TEST(HotPathEquivalence, InventoryIndexFindsTheEntryTheListWalkFinds) {
  std::mt19937 rng(9);
  ZEPNVLST_SvcInventoryList inv(5);
  auto name = [&rng] {
    std::string n(rng() % 3 == 0 ? 60 + rng() % 10 : rng() % 6, 'p');
    for (char& c : n) c = "pq "[rng() % 3];
    return n;
  };
  for (int i = 0; i < 3000; ++i) {
    const std::string port = name(), op = name();
    auto line = std::make_unique<ZEPMELEM_MetricLine>(0);
    line->metricsRow.msgloc = static_cast<int16_t>(rng() % 6);
    SU::memcpyWithPad(line->metricsRow.portname, port.data(), std::min<unsigned>(port.size(), 64),
                      64, ' ');
    SU::memcpyWithPad(line->metricsRow.opname, op.data(), std::min<unsigned>(op.size(), 64), 64,
                      ' ');
    ZEPIELEM_SvcInv* walked = inv.front();
    while (walked != nullptr && walked->compareToMetric(*line) < 0) walked = inv.next(walked);
    if (walked != nullptr && walked->compareToMetric(*line) != 0) walked = nullptr;
    const int32_t before = inv.size();
    ZEPIELEM_SvcInv* found = inv.add(*line);
    if (walked != nullptr) {
      ASSERT_EQ(found, walked) << i;
      ASSERT_EQ(inv.size(), before);
    } else {
      ASSERT_EQ(inv.size(), before + 1) << i;
      ASSERT_EQ(found->compareToMetric(*line), 0);
    }
  }
  for (ZEPIELEM_SvcInv* e = inv.front(); inv.next(e) != nullptr; e = inv.next(e)) {
    ASSERT_LT(e->compareKeys(inv.next(e)->getElemKey()), 0);  // still in key order
  }
}

// The history walk, which searches from the oldest end past its last
// window, against a map of window begins: each walk visits every window
// from the first one not yet reported (or the first with data, skipping
// one begun before the agent started) to the limit, creating empty ones.
class HotPathHistory : public zeplogs_test::ZepLogsTest {};
using Windows = std::vector<std::pair<int32_t, int64_t>>;  // (begin, lines)

TEST_F(HotPathHistory, WalkVisitsTheWindowsOfAPlainMap) {
  const int32_t kBase = 1765000800;  // a window begin
  ZEPDISP_dispatcher::dcaStartTime = kBase + 1;
  ZEPADLST_AggDataList walked(5);
  std::map<int32_t, int64_t> plain;  // window begin -> lines
  int32_t lastReported = INT32_MIN;
  std::mt19937 rng(17);
  ZEPMELEM_MetricLine line(kBase);
  line.metricsRow.msglength = 10;
  int32_t limit = kBase;
  for (int round = 0; round < 60; ++round) {
    // Lines in a few windows with gaps, some late for windows already past.
    for (int i = 0; i < 5; ++i) {
      line.timeSeconds = std::max(kBase, limit + static_cast<int32_t>(rng() % 7200) - 600);
      walked.add(line);
      ++plain[line.timeSeconds - (line.timeSeconds - kBase) % 300];
    }
    limit += 300 * static_cast<int32_t>(rng() % 12);
    std::vector<int32_t> expected, visited;
    const int32_t first = plain.begin()->first + (plain.begin()->first <= kBase ? 300 : 0);
    for (int32_t w = std::max(first, lastReported + 300); w <= limit; w += 300) {
      expected.push_back(w);
      plain.try_emplace(w, 0);
      lastReported = w;
    }
    for (ZEPAELEM_AggData* b = walked.findFirstIntervalForHistory(limit); b != nullptr;
         b = walked.findNextIntervalForHistory(b->begin, limit)) {
      visited.push_back(b->begin);
      walked.markStoredInHistory(b);
    }
    ASSERT_EQ(visited, expected) << round;
    Windows held;  // newest first, as the plain map's reverse
    for (ZEPAELEM_AggData* b = walked.front(); b != nullptr; b = walked.next(b)) {
      held.emplace_back(b->begin, b->msgCount);
    }
    ASSERT_EQ(held, Windows(plain.rbegin(), plain.rend())) << round;
  }
}

}  // namespace
