// String utilities. split and formatTimestamp are checked against plain
// algorithms in tests/perf; here are the rules those do not show.
#include "foundation/zepstrut.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "axo/base/env.h"
#include "support/fake_env.h"

namespace {

using SU = ZEPSTRUT_stringUtil;

// (split otherwise: against a plain algorithm in tests/perf.)
TEST(StringUtilTest, SplitCompareAndLookupEdges) {
  SU::STRING_PARSE_INFO segs[2];
  EXPECT_EQ(0, SU::split("a;b", segs, 0, ';'));
  EXPECT_EQ(1, SU::split(nullptr, segs, 2, ';', 5));  // one empty segment
  EXPECT_EQ(0, segs[0].len);
  EXPECT_FALSE(SU::beginsWith("ZEP.", "ZEP.x", 3));
  EXPECT_TRUE(SU::endsWith("-CA", "file-CA.more", 7));
  EXPECT_FALSE(SU::endsWith("abcd", "bcd"));
  static const SU::ENUM_CONSTANT levels[] = {{"Error", 1}, {"Warning", 2}, {"ERROR", 9}};
  EXPECT_EQ(nullptr, SU::mapValue("Err", levels, 3));     // whole names only
  EXPECT_EQ(1, SU::mapValue("error", levels, 3)->value);  // the first row wins
  EXPECT_EQ(2, SU::mapValue("warning;x", levels, 3, 7)->value);
}

TEST(StringUtilTest, AtolIsStrictAndItoaRoundTrips) {
  // At most ten characters, the sign included; nothing beyond 32 bits.
  const int E = SU::ATOI_ERROR;
  for (const auto& [text, value] : {std::pair{"-12", -12},
                                    {"+7", 7},
                                    {"-", 0},
                                    {"2147483647", INT32_MAX},
                                    {"-999999999", -999999999},
                                    {" 1", E},
                                    {"1 ", E},
                                    {"", E},
                                    {"12345678901", E},
                                    {"-1000000000", E},
                                    {"2147483648", E},
                                    {"--1", E}}) {
    EXPECT_EQ(value, SU::atol(text)) << text;
    EXPECT_EQ(value, SU::atoi(text)) << text;
  }
  EXPECT_EQ(123, SU::atol("123456", 3));
  char buf[12];
  for (int v : {0, -45, INT32_MIN, INT32_MAX}) EXPECT_EQ(std::to_string(v), SU::itoa(v, buf));
}

TEST(StringUtilTest, EscapingDoublesBackslashesAndNeverSplitsAPair) {
  char esc[32], back[32];
  // A lone trailing backslash is kept. (Pairs inside a value and escaping's
  // round trip: the properties file's load and save tests.)
  for (const auto& [in, out] : {std::pair{"\\\\\\", "\\\\"}, {"\\\\\\\\", "\\\\"}}) {
    EXPECT_STREQ(out, SU::unescapeString(in, back)) << in;
  }
  // Bounded: a pair is never split, the result is always terminated.
  EXPECT_STREQ("ab", SU::escapeString("ab\\c", esc, 4));
  EXPECT_STREQ("ab\\\\", SU::escapeString("ab\\c", esc, 5));
  EXPECT_STREQ("ab", SU::unescapeString("abcd", back, 3));
}

TEST(StringUtilTest, TimestampFillsFixedWidthFieldsWithoutOverflow) {
  const time_t t = 1796502697;  // 2026-12-05 20:31:37 UTC
  char field[20];
  std::memset(field, '#', sizeof field);
  SU::formatTimestamp(&t, field, 999, 16);  // a row column: no terminator
  EXPECT_EQ("1261205203137999#", std::string(field, 17));
  SU::formatTimestamp(&t, field + 8, 1, 4);  // four bytes only
  EXPECT_EQ(
      "12612052"
      "1261"
      "7999#",
      std::string(field, 17));
}

TEST(StringUtilTest, TimeWindowsAlignToMultiplesOfTheWindowFromTheEpoch) {
  for (auto [t, expected] :
       {std::pair<time_t, time_t>{1200, 1200}, {1199, 900}, {1201, 1200}, {-1, -300}}) {
    EXPECT_EQ(expected, *SU::roundTimeDown(&t, 5));
  }
  time_t t = 1234, out;
  EXPECT_EQ(1234, *SU::roundTimeDown(&t, 0));  // no window: unchanged
  zeptest::FakeEnv env;
  axo::ScopedEnv useEnv(&env);
  env.SetNow(1796502697);  // 20:31:37 UTC
  SU::latestCompleteTimeWindowEnd(&t, 15);
  EXPECT_EQ(1796502697 - (31 % 15) * 60 - 37, t);  // 20:30:00
  SU::latestCompleteTimeWindowBegin(&out, 15);
  EXPECT_EQ(t - 15 * 60, out);  // 20:15:00
  SU::latestCompleteTimeWindowEnd(&t, 60);
  EXPECT_EQ(1796502697 - 31 * 60 - 37, t);  // on the hour
}

}  // namespace
