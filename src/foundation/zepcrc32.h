// CRC-32 checksums (the reflected IEEE 802.3 polynomial), used to shorten
// subnode names.
//
// Thread-safety: all operations are static; the lookup table is built once,
// at static initialisation, and only read afterwards.
#ifndef ZEP_FOUNDATION_ZEPCRC32_H_
#define ZEP_FOUNDATION_ZEPCRC32_H_

#include <cstdint>

class ZEPCRC32 {
 public:
  ZEPCRC32() = delete;
  virtual ~ZEPCRC32() = default;

  // Continues a CRC-32 over `length` bytes of `data` from the running value
  // `crc`, without pre- or post-inversion. A length below 1 returns `crc`.
  static uint32_t crc32(const void* data, int length, uint32_t crc);

  // The complete CRC-32 of `length` bytes of `data`: the running form
  // started from 0xFFFFFFFF, inverted at the end. Zero bytes give 0.
  static uint32_t crc32(const void* data, int length);

  // Writes `value` as exactly eight lower-case hexadecimal digits and a
  // terminator into `buf`, which must hold at least 9 bytes. Returns `buf`.
  static char* crc32ToString(uint32_t value, char* buf);
};

#endif  // ZEP_FOUNDATION_ZEPCRC32_H_
