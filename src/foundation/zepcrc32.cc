// CRC-32 checksums: the table-driven reflected IEEE 802.3 polynomial.
#include "foundation/zepcrc32.h"

#include <array>
#include <cstdio>

#include "axo/base/trk1.h"

TRK1_UNIT(zepcrc32_unit, "ZEPCRC32");

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;  // reflected IEEE 802.3

// Entry i is i shifted right through eight steps, each step XOR-ing the
// polynomial after the shift when the bit shifted out was 1. Built at compile
// time, so no thread ever sees it half filled.
constexpr std::array<uint32_t, 256> makeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int step = 0; step < 8; ++step) {
      value = (value & 1u) != 0 ? (value >> 1) ^ kPolynomial : value >> 1;
    }
    table[i] = value;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = makeTable();

}  // namespace

uint32_t ZEPCRC32::crc32(const void* data, int length, uint32_t crc) {
  TRK1_FlowScope flow(&zepcrc32_unit, "crc32");
  if (data == nullptr) return crc;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (int i = 0; i < length; ++i) {
    crc = kTable[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
  }
  return crc;
}

uint32_t ZEPCRC32::crc32(const void* data, int length) { return ~crc32(data, length, 0xFFFFFFFFu); }

char* ZEPCRC32::crc32ToString(uint32_t value, char* buf) {
  TRK1_FlowScope flow(&zepcrc32_unit, "crc32ToString");
  if (buf != nullptr) {
    std::snprintf(buf, 9, "%8.8x", static_cast<unsigned>(value));
  }
  return buf;
}
