#include "foundation/zepstrut.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/zepport.h"

namespace {

using SU = ZEPSTRUT_stringUtil;
using SPI = ZEPSTRUT_stringUtil::STRING_PARSE_INFO;

std::string text(const SPI& s) { return std::string(s.ptr, s.len); }

// Splits and returns the segments as strings.
std::vector<std::string> splitOf(const char* str, int maxSegs, char delim,
                                 int len = -1) {
  SPI segs[8];
  const int n = SU::split(str, segs, maxSegs, delim, len);
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(text(segs[i]));
  return out;
}

std::vector<std::string> tokensOf(const char* str, int maxTokens,
                                  const char* delims) {
  SPI segs[8];
  const int n = SU::tokenize(str, segs, maxTokens, delims, -1);
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(text(segs[i]));
  for (int i = n; i < maxTokens; ++i) EXPECT_EQ(nullptr, segs[i].ptr);
  return out;
}

using V = std::vector<std::string>;

TEST(StringUtilSplit, KeepsEmptyFieldsAndGivesTheRestToTheLastSegment) {
  EXPECT_EQ((V{"a", "", "b"}), splitOf("a;;b", 5, ';'));
  EXPECT_EQ((V{"a", "b;c"}), splitOf("a;b;c", 2, ';'));
  EXPECT_EQ((V{"a;b;c"}), splitOf("a;b;c", 1, ';'));
  EXPECT_EQ((V{"", "a", ""}), splitOf(";a;", 5, ';'));
  EXPECT_EQ((V{""}), splitOf("", 3, ';'));
  EXPECT_EQ((V{}), splitOf("a;b", 0, ';'));
  EXPECT_EQ((V{"a", "b"}), splitOf("a;b;c", 5, ';', 3));  // length bounds
  EXPECT_EQ((V{""}), splitOf(nullptr, 3, ';', 5));
}

TEST(StringUtilTokenize, SkipsRunsOfDelimitersAndLastTokenTakesTheRest) {
  EXPECT_EQ((V{"ab", "cd"}), tokensOf("  ab  cd ", 4, " "));
  EXPECT_EQ((V{"ab  cd "}), tokensOf("  ab  cd ", 1, " "));
  EXPECT_EQ((V{"a", "b,c d"}), tokensOf("a, b,c d", 2, ", "));
  EXPECT_EQ((V{}), tokensOf("   ", 3, " "));
  SPI seg{"x", 1};
  EXPECT_EQ(0, SU::tokenize("abc", &seg, 0, " ", -1));
  EXPECT_STREQ("x", seg.ptr);  // nothing written
}

TEST(StringUtilSegments, CopyIsBoundedAndTerminatedOnRequest) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  SU::strSegmentCopy(buf, 3, "hello", 5, true);
  EXPECT_STREQ("he", buf);
  std::memset(buf, 'x', sizeof buf);
  SU::strSegmentCopy(buf, 3, "hello", 5, false);
  EXPECT_EQ("helx", std::string(buf, 4));
  SPI seg{"field;rest", 5};
  SU::strSegmentCopy(buf, sizeof buf, seg, true);
  EXPECT_STREQ("field", buf);
  SU::strSegmentCopy(buf, 0, "abc", 3, true);  // no room: nothing written
  EXPECT_STREQ("field", buf);
}

TEST(StringUtilSegments, StripsTreatNulAsMemberOfTheSet) {
  char field[8] = {'a', 'b', ' ', ' ', 0, 0, 0, 0};
  SU::stripTrailing(field, 8, nullptr);
  EXPECT_EQ(0, std::memcmp(field, "ab\0\0\0\0\0\0", 8));
  char line[] = "value \t\b";  // backspace belongs to the default set
  EXPECT_STREQ("value", SU::stripTrailing(line));
  char dots[] = "a..";
  EXPECT_STREQ("a", SU::stripTrailing(dots, -1, "."));

  SPI seg{"  key = v  ", 11};
  SU::stripLeading(SU::stripTrailing(&seg));
  EXPECT_EQ("key = v", text(seg));
  SPI blanks{"   ", 3};
  SU::stripLeading(&blanks);
  EXPECT_EQ(0, blanks.len);
}

TEST(StringUtilCompare, AffixesAreExactAndBoundedByLength) {
  EXPECT_TRUE(SU::beginsWith("ZEP.", "ZEP.x.metric.log"));
  EXPECT_FALSE(SU::beginsWith("zep.", "ZEP.x"));
  EXPECT_FALSE(SU::beginsWith("ZEP.", "ZEP.x", 3));
  EXPECT_TRUE(SU::beginsWith("", "abc"));
  EXPECT_TRUE(SU::beginsWith(nullptr, nullptr));
  EXPECT_TRUE(SU::endsWith(".metric.log", "ZEP.a.metric.log"));
  EXPECT_TRUE(SU::endsWith("-CA", "file-CA.more", 7));
  EXPECT_FALSE(SU::endsWith("abcd", "bcd"));
  EXPECT_FALSE(SU::endsWith("x", nullptr));
}

TEST(StringUtilCompare, CaseInsensitiveOnlyBetweenLetters) {
  EXPECT_EQ(0, SU::cmpchari('q', 'Q'));
  EXPECT_LT(SU::cmpchari('a', 'Z'), 0);
  EXPECT_EQ(6, SU::cmpchari('a', '['));  // '[' is no letter: raw codes
  EXPECT_EQ(-1, SU::strcmpi("abc", "ABCD"));
  EXPECT_EQ(0, SU::strcmpi("Zeta", "zeta"));
  EXPECT_EQ(6, SU::strcmpi("a", "["));
  EXPECT_EQ(0, SU::strcmpi(nullptr, ""));
  EXPECT_EQ(0, SU::memcmpi("ABx", "abY", 2));
  EXPECT_LT(SU::memcmpi("ABx", "abY", 3), 0);
}

TEST(StringUtilNumbers, AtolIsStrictAndStaysIn32Bits) {
  EXPECT_EQ(-12, SU::atol("-12"));
  EXPECT_EQ(7, SU::atol("+7"));
  EXPECT_EQ(0, SU::atol("-"));
  EXPECT_EQ(123, SU::atol("123456", 3));
  EXPECT_EQ(2147483647, SU::atol("2147483647"));
  EXPECT_EQ(-999999999, SU::atoi("-999999999"));
  // At most ten characters, the sign included; nothing beyond 32 bits.
  for (const char* bad : {" 1", "1 ", "1-2", "", "12345678901", "-1000000000",
                          "2147483648", "9999999999", "0x10", "--1"}) {
    EXPECT_EQ(SU::ATOI_ERROR, SU::atol(bad)) << bad;
    EXPECT_EQ(SU::ATOI_ERROR, SU::atoi(bad)) << bad;
  }
  EXPECT_EQ(SU::ATOI_ERROR, SU::atol(nullptr, 4));
}

TEST(StringUtilNumbers, ItoaRoundTripsThroughAtol) {
  char buf[12];
  EXPECT_STREQ("0", SU::itoa(0, buf));
  EXPECT_STREQ("-45", SU::itoa(-45, buf));
  EXPECT_STREQ("-2147483648", SU::itoa(INT32_MIN, buf));
  EXPECT_STREQ("2147483647", SU::itoa(INT32_MAX, buf));
  for (int v : {1, -1, 99, 1000000, -777777}) {
    EXPECT_EQ(v, SU::atoi(SU::itoa(v, buf)));
  }
}

TEST(StringUtilText, ReversePadAndFindLast) {
  char buf[8];
  EXPECT_STREQ("cba", SU::reverse("abc", buf));
  EXPECT_STREQ("fe", SU::reverse("abcdef", buf, 3));
  char inplace[] = "abcd";
  EXPECT_STREQ("dcba", SU::reverse(inplace, inplace));

  std::memset(buf, 'x', sizeof buf);
  SU::memcpyWithPad(buf, "ab", 2, 5, ' ');
  EXPECT_EQ("ab   x", std::string(buf, 6));
  SU::memcpyWithPad(buf, "ab", 2, 1, ' ');
  EXPECT_EQ("ab   x", std::string(buf, 6).replace(0, 1, "a"));

  const char* s = "a.b.c";
  EXPECT_EQ(s + 3, SU::find_last('.', s));
  EXPECT_EQ(s + 1, SU::find_last('.', s, 2));
  EXPECT_EQ(nullptr, SU::find_last('.', s, 0));
  EXPECT_EQ(nullptr, SU::find_last('/', s));
}

TEST(StringUtilText, AddFileSeparatorOnlyWhenMissingAndRoomy) {
  char path[8] = "/opt";
  EXPECT_TRUE(SU::addFileSeparator(path, sizeof path));
  EXPECT_STREQ("/opt/", path);
  EXPECT_TRUE(SU::addFileSeparator(path, sizeof path));
  EXPECT_STREQ("/opt/", path);
  char full[5] = "/opt";
  EXPECT_FALSE(SU::addFileSeparator(full, sizeof full));
  EXPECT_STREQ("/opt", full);
  char empty[4] = "";
  EXPECT_FALSE(SU::addFileSeparator(empty));
  EXPECT_STREQ("", empty);
  EXPECT_FALSE(SU::addFileSeparator(nullptr));
}

TEST(StringUtilText, EscapingDoublesBackslashesAndRoundTrips) {
  char esc[32], back[32];
  EXPECT_STREQ("a\\\\b", SU::escapeString("a\\b", esc));
  EXPECT_STREQ("\\\\", SU::unescapeString("\\\\\\", back));
  EXPECT_STREQ("\\\\", SU::unescapeString("\\\\\\\\", back));
  EXPECT_STREQ("a\\nb", SU::unescapeString("a\\nb", back));
  for (const char* s : {"", "plain", "c:\\dir\\", "\\\\\\", "x\\ny"}) {
    SU::escapeString(s, esc);
    EXPECT_STREQ(s, SU::unescapeString(esc, back)) << s;
  }
  // Bounded: a pair never gets split, the result is always terminated.
  EXPECT_STREQ("ab", SU::escapeString("ab\\c", esc, 4));
  EXPECT_STREQ("ab\\\\", SU::escapeString("ab\\c", esc, 5));
  EXPECT_STREQ("ab", SU::unescapeString("abcd", back, 3));
  char inplace[] = "x\\\\y";
  EXPECT_STREQ("x\\y", SU::unescapeString(inplace, inplace));
}

TEST(StringUtilTimestamp, UtcSixteenCharactersWithCenturyDigit) {
  char buf[32];
  time_t t = 1796502697;  // 2026-12-05 20:31:37 UTC
  EXPECT_STREQ("1261205203137005", SU::formatTimestamp(&t, buf, 5, sizeof buf));
  t = 946684799;  // 1999-12-31 23:59:59 UTC
  EXPECT_STREQ("0991231235959000", SU::formatTimestamp(&t, buf, 0, sizeof buf));
  EXPECT_STREQ("0991231235959000", SU::formatTimestamp(&t, buf, 1000, 17));
  EXPECT_STREQ("0991231235959000", SU::formatTimestamp(&t, buf, -3, 17));
}

TEST(StringUtilTimestamp, FixedWidthFieldsGetNoTerminatorAndNoOverflow) {
  time_t t = 1796502697;
  char field[20];
  std::memset(field, '#', sizeof field);
  SU::formatTimestamp(&t, field, 999, 16);
  EXPECT_EQ("1261205203137999#", std::string(field, 17));
  std::memset(field, '#', sizeof field);
  SU::formatTimestamp(&t, field, 1, 4);
  EXPECT_EQ("1261#", std::string(field, 5));
  // A year that would need a fourth CYY digit gives zeros, not 17 chars.
  time_t far = 32503680000;  // year 3000
  std::memset(field, '#', sizeof field);
  SU::formatTimestamp(&far, field, 0, 17);
  EXPECT_STREQ("0000000000000000", field);
  EXPECT_EQ('#', field[17]);
}

TEST(StringUtilLookup, NamesMatchWholeWordsWithoutRegardToCase) {
  static const SU::ENUM_CONSTANT levels[] = {
      {"Error", 1}, {"Warning", 2}, {"ERROR", 9}};
  static const SU::ENUM_STR_MAP words[] = {{"Error", "ERROR"},
                                           {"Info", "INFO"}};
  ASSERT_NE(nullptr, SU::mapString("ERROR", words, 2));
  EXPECT_STREQ("ERROR", SU::mapString("error", words, 2)->value);
  EXPECT_EQ(nullptr, SU::mapValue("Err", levels, 3));
  EXPECT_EQ(1, SU::mapValue("error", levels, 3)->value);  // first row wins
  EXPECT_EQ(2, SU::mapValue("warning;x", levels, 3, 7)->value);
  EXPECT_EQ(nullptr, SU::mapValue(nullptr, levels, 3));
  EXPECT_STREQ("Warning", SU::mapEnum(2, levels, 3)->name);
  EXPECT_EQ(nullptr, SU::mapEnum(5, levels, 3));
}

time_t fixedNow() { return 1796502697; }  // 20:31:37 UTC

TEST(StringUtilTimeWindows, AlignToMultiplesOfTheWindowFromTheEpoch) {
  time_t t = 1000;
  EXPECT_EQ(900, *SU::roundTimeDown(&t, 5));
  EXPECT_EQ(900, *SU::roundTimeDown(&t, 5));
  t = -1;  // before the epoch still rounds down
  EXPECT_EQ(-300, *SU::roundTimeDown(&t, 5));
  t = 1234;
  EXPECT_EQ(1234, *SU::roundTimeDown(&t, 0));  // no window: unchanged
  time_t out;
  EXPECT_EQ(1234 - 600, *SU::previousTimeWindow(&t, &out, 10));
  EXPECT_EQ(1234 + 600, *SU::nextTimeWindow(&t, &out, 10));

  ZEPPORT::setClockForTesting(fixedNow);
  SU::latestCompleteTimeWindowEnd(&t, 15);
  EXPECT_EQ(1796502697 - (31 % 15) * 60 - 37, t);  // 20:30:00
  SU::latestCompleteTimeWindowBegin(&out, 15);
  EXPECT_EQ(t - 15 * 60, out);  // 20:15:00
  SU::latestCompleteTimeWindowEnd(&t, 60);
  EXPECT_EQ(1796502697 - 31 * 60 - 37, t);  // on the hour
  ZEPPORT::setClockForTesting(nullptr);
}

}  // namespace
