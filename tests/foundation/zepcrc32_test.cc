// CRC-32: the table-driven checksum against a bit-at-a-time one.
#include "foundation/zepcrc32.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// The plain bit-at-a-time CRC-32 (reflected polynomial 0xEDB88320).
uint32_t bitwiseCrc(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

TEST(Crc32Test, MatchesKnownValuesTheBitwiseAlgorithmAndRunsAcrossPieces) {
  char buf[9];
  EXPECT_STREQ("cbf43926", ZEPCRC32::crc32ToString(ZEPCRC32::crc32("123456789", 9), buf));
  EXPECT_STREQ("00000000", ZEPCRC32::crc32ToString(ZEPCRC32::crc32("", 0), buf));
  // Every byte value, in every position of the table walk.
  std::mt19937 rng(1);
  for (int i = 0; i < 2000; ++i) {
    std::string data(rng() % 40, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    ASSERT_EQ(bitwiseCrc(data), ZEPCRC32::crc32(data.data(), static_cast<int>(data.size())));
  }
  // The running form continues across pieces.
  const char* data = "host1-server1";
  uint32_t running = ZEPCRC32::crc32(data, 5, 0xFFFFFFFFu);
  running = ZEPCRC32::crc32(data + 5, 8, running);
  EXPECT_EQ(ZEPCRC32::crc32(data, 13), ~running);
  EXPECT_EQ(0x1234u, ZEPCRC32::crc32(data, 0, 0x1234u));
}

}  // namespace
