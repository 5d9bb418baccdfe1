#include "foundation/zepcrc32.h"

#include <gtest/gtest.h>

#include <cstring>

#include "axo/trk1.h"

namespace {

TEST(Crc32Test, KnownVectors) {
  char buf[9];
  EXPECT_STREQ("cbf43926",
               ZEPCRC32::crc32ToString(ZEPCRC32::crc32("123456789", 9), buf));
  EXPECT_EQ(0u, ZEPCRC32::crc32("", 0));
  EXPECT_STREQ("00000000", ZEPCRC32::crc32ToString(0, buf));
  const char* fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(0x414FA339u, ZEPCRC32::crc32(fox, static_cast<int>(strlen(fox))));
  EXPECT_STREQ("ffffffff", ZEPCRC32::crc32ToString(0xFFFFFFFFu, buf));
  const unsigned char high[] = {0xFF, 0x80, 0x00};
  EXPECT_EQ(8u, strlen(ZEPCRC32::crc32ToString(ZEPCRC32::crc32(high, 3), buf)));
}

TEST(Crc32Test, RunningFormContinuesAcrossPieces) {
  const char* data = "host1-server1";
  const uint32_t whole = ZEPCRC32::crc32(data, 13);
  uint32_t running = ZEPCRC32::crc32(data, 5, 0xFFFFFFFFu);
  running = ZEPCRC32::crc32(data + 5, 8, running);
  EXPECT_EQ(whole, ~running);
  EXPECT_EQ(0x1234u, ZEPCRC32::crc32(data, 0, 0x1234u));
}

TEST(Crc32Test, FlowLevelTracesEntryAndExit) {
  TRK1_Capture capture;
  TRK1_SetLevel("ZEPCRC32", TRK1_FLOW);
  ZEPCRC32::crc32("x", 1);
  TRK1_ResetLevels();
  EXPECT_GE(capture.count("crc32"), 2);
  capture.clear();
  ZEPCRC32::crc32("x", 1);
  EXPECT_EQ(0, capture.count("crc32"));
}

}  // namespace
