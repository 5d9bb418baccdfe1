// String toolbox for text that is not NUL-terminated.
#include "foundation/zepstrut.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "axo/base/trk1.h"
#include "foundation/zepport.h"

// The toolbox never traces (it sits on the hottest path of the agent); the
// unit exists so that the module can be addressed like every other one.
TRK1_UNIT(zepstrut_unit, "ZEPSTRUT");

using SPI = ZEPSTRUT_stringUtil::STRING_PARSE_INFO;

namespace {

// A negative length stands for the NUL-terminated length. A null string has
// no characters, whatever length the caller gives.
inline int resolveLength(const char* str, int len) {
  if (str == nullptr) return 0;
  return len >= 0 ? len : static_cast<int>(std::strlen(str));
}

// Set membership as strchr sees it: the NUL character belongs to every set.
inline bool inSet(char c, const char* set) { return c == '\0' || std::strchr(set, c) != nullptr; }

inline const char* setOrDefault(const char* chars) {
  return chars != nullptr ? chars : ZEPSTRUT_stringUtil::WHITESPACE;
}

// Position of an ASCII letter in the alphabet, or -1.
inline int letterIndex(int c) {
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= 'A' && c <= 'Z') return c - 'A';
  return -1;
}

// "00" to "99", so that a two-digit field is one copy.
constexpr struct TwoDigits {
  char text[200];
  constexpr TwoDigits() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
} kTwoDigits;

// Writes `value` (0..99) as two decimal digits.
inline void put2(char* p, int value) { std::memcpy(p, &kTwoDigits.text[2 * value], 2); }

// Writes `value` (0..999) as three decimal digits.
inline void put3(char* p, int value) {
  p[0] = static_cast<char>('0' + value / 100);
  put2(p + 1, value % 100);
}

// The UTC calendar date of day `days` after the epoch, as gmtime gives it,
// computed without the C library: gmtime_r takes a lock and consults the
// time zone on every call, and the ingestion formats one time per record.
// Days to civil date after H. Hinnant's public-domain algorithm.
struct CivilDate {
  int64_t year;
  int month, day;
};

CivilDate civilFromDays(int64_t days) {
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;                                       // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                     // [0, 11]
  CivilDate c;
  c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = yoe + era * 400 + (c.month <= 2 ? 1 : 0);
  return c;
}

// First row of `table` whose name has exactly `len` characters and matches
// `str` without regard to case.
template <typename Row>
const Row* findByName(const char* str, const Row* table, int count, int len) {
  if (str == nullptr || table == nullptr) return nullptr;
  len = resolveLength(str, len);
  for (int i = 0; i < count; ++i) {
    const char* name = table[i].name;
    if (name != nullptr && std::strlen(name) == static_cast<size_t>(len) &&
        ZEPSTRUT_stringUtil::memcmpi(str, name, len) == 0) {
      return &table[i];
    }
  }
  return nullptr;
}

// A mask of the 64 bytes at `p`: bit i is set when byte i equals `delim`.
inline uint64_t delimiterMask(const char* p, char delim) {
#if defined(__SSE2__)
  const __m128i pattern = _mm_set1_epi8(delim);
  auto part = [&](int i) -> uint64_t {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    return static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, pattern)));
  };
  return part(0) | part(1) << 16 | part(2) << 32 | part(3) << 48;
#else
  // Eight bytes at a time: the high bit of each byte that is zero after the
  // XOR with the delimiter (exact, no false hits), gathered to one bit per
  // byte.
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  const uint64_t pattern = 0x0101010101010101ull * static_cast<unsigned char>(delim);
  uint64_t mask = 0;
  for (int i = 0; i < 8; ++i) {
    uint64_t bytes;
    std::memcpy(&bytes, p + 8 * i, 8);
    if constexpr (std::endian::native == std::endian::big) bytes = __builtin_bswap64(bytes);
    const uint64_t x = bytes ^ pattern;
    const uint64_t high = ~(((x & kLow7) + kLow7) | x | kLow7);
    // The high bits 7, 15, ..., 63 moved to bits 0..7.
    mask |= ((high >> 7) * 0x0102040810204080ull >> 56) << (8 * i);
  }
  return mask;
#endif
}

// Shifts `t` by `windows` window lengths; a window below 1 minute is no
// shift.
inline time_t shiftWindows(time_t t, long minutes, int windows) {
  if (minutes < 1) return t;
  return t + static_cast<time_t>(windows) * static_cast<time_t>(minutes) * 60;
}

}  // namespace

// --- splitting and segments ----------------------------------------------------

int ZEPSTRUT_stringUtil::split(const char* str, SPI* segs, int maxSegs, char delim, int len) {
  if (maxSegs < 1 || segs == nullptr) return 0;
  len = resolveLength(str, len);
  if (str == nullptr) str = "";
  // A record line is split at every call of the ingestion: the text is
  // searched 64 bytes at a time, each block giving a mask with one bit per
  // byte that equals the delimiter; the delimiters are then taken from the
  // mask lowest bit first. A short last block is searched as the last 64
  // bytes of the text, its mask shifted to drop the bytes searched before;
  // a text shorter than 64 bytes in a copy.
  const char* cur = str;
  const char* const end = str + len;
  int n = 0;
  for (const char* block = str; block < end && n < maxSegs - 1; block += 64) {
    const size_t rest = static_cast<size_t>(end - block);
    uint64_t hits;
    if (rest >= 64) {
      hits = delimiterMask(block, delim);
    } else if (len >= 64) {
      hits = delimiterMask(end - 64, delim) >> (64 - rest);
    } else {
      char tail[64] = {};
      std::memcpy(tail, block, rest);
      hits = delimiterMask(tail, delim) & ((uint64_t{1} << rest) - 1);
    }
    for (; hits != 0 && n < maxSegs - 1; hits &= hits - 1) {
      const char* hit = block + std::countr_zero(hits);
      segs[n].ptr = cur;
      segs[n].len = static_cast<int>(hit - cur);
      ++n;
      cur = hit + 1;
    }
  }
  segs[n].ptr = cur;
  segs[n].len = static_cast<int>(end - cur);
  return n + 1;
}

int ZEPSTRUT_stringUtil::tokenize(const char* str, SPI* segs, int maxTokens, const char* delims,
                                  int len) {
  if (maxTokens < 1 || segs == nullptr) return 0;
  for (int i = 0; i < maxTokens; ++i) segs[i] = SPI{nullptr, 0};
  len = resolveLength(str, len);
  delims = setOrDefault(delims);
  int n = 0;
  bool inToken = false;
  for (int i = 0; i < len; ++i) {
    const bool isDelim = inSet(str[i], delims);
    if (!inToken) {
      if (!isDelim) {
        segs[n].ptr = str + i;
        ++n;
        inToken = true;
      }
    } else if (isDelim && n < maxTokens) {
      segs[n - 1].len = static_cast<int>(str + i - segs[n - 1].ptr);
      inToken = false;
    }
  }
  if (inToken) segs[n - 1].len = static_cast<int>(str + len - segs[n - 1].ptr);
  return n;
}

char* ZEPSTRUT_stringUtil::strSegmentCopy(char* dst, int dstSize, const char* src, int srcLen,
                                          bool terminate) {
  if (dst == nullptr || dstSize < 1) return dst;
  srcLen = resolveLength(src, srcLen);
  const int n = std::min(dstSize, srcLen);
  if (n > 0) std::memmove(dst, src, static_cast<size_t>(n));
  if (terminate) dst[std::min(dstSize - 1, srcLen)] = '\0';
  return dst;
}

char* ZEPSTRUT_stringUtil::strSegmentCopy(char* dst, int dstSize, const SPI& seg, bool terminate) {
  return strSegmentCopy(dst, dstSize, seg.ptr, seg.len < 0 ? 0 : seg.len, terminate);
}

char* ZEPSTRUT_stringUtil::stripTrailing(char* str, int len, const char* chars) {
  if (str == nullptr) return str;
  chars = setOrDefault(chars);
  for (int i = resolveLength(str, len) - 1; i >= 0 && inSet(str[i], chars); --i) {
    str[i] = '\0';
  }
  return str;
}

size_t ZEPSTRUT_stringUtil::lengthWithoutPad(const char* text, size_t len, char pad) {
  // Two 64-byte columns are trimmed per record (the inventory's key): a
  // block at a time from the end, the pad bytes counted from its mask.
  for (; len >= 64; len -= 64) {
    const uint64_t pads = delimiterMask(text + len - 64, pad);
    if (pads != ~uint64_t{0}) return len - static_cast<size_t>(std::countl_one(pads));
  }
  while (len > 0 && text[len - 1] == pad) --len;
  return len;
}

SPI* ZEPSTRUT_stringUtil::stripTrailing(SPI* seg, const char* chars) {
  if (seg == nullptr || seg->ptr == nullptr) return seg;
  chars = setOrDefault(chars);
  while (seg->len >= 1 && inSet(seg->ptr[seg->len - 1], chars)) --seg->len;
  return seg;
}

SPI* ZEPSTRUT_stringUtil::stripLeading(SPI* seg, const char* chars) {
  if (seg == nullptr || seg->ptr == nullptr) return seg;
  chars = setOrDefault(chars);
  while (seg->len >= 1 && inSet(seg->ptr[0], chars)) {
    ++seg->ptr;
    --seg->len;
  }
  return seg;
}

// --- comparisons -------------------------------------------------------------

bool ZEPSTRUT_stringUtil::beginsWith(const char* prefix, const char* str, int len) {
  const int plen = resolveLength(prefix, -1);
  if (plen == 0) return true;
  if (str == nullptr || plen > resolveLength(str, len)) return false;
  return std::memcmp(str, prefix, static_cast<size_t>(plen)) == 0;
}

bool ZEPSTRUT_stringUtil::endsWith(const char* suffix, const char* str, int len) {
  const int slen = resolveLength(suffix, -1);
  if (slen == 0) return true;
  if (str == nullptr) return false;
  len = resolveLength(str, len);
  if (slen > len) return false;
  return std::memcmp(str + len - slen, suffix, static_cast<size_t>(slen)) == 0;
}

int ZEPSTRUT_stringUtil::cmpchari(int a, int b) {
  const int la = letterIndex(a);
  const int lb = letterIndex(b);
  if (la >= 0 && lb >= 0) return la - lb;
  return a - b;
}

int ZEPSTRUT_stringUtil::memcmpi(const char* a, const char* b, int n) {
  for (int i = 0; i < n; ++i) {
    const int r = cmpchari(static_cast<unsigned char>(a[i]), static_cast<unsigned char>(b[i]));
    if (r != 0) return r;
  }
  return 0;
}

int ZEPSTRUT_stringUtil::strcmpi(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  const int la = resolveLength(a, -1);
  const int lb = resolveLength(b, -1);
  const int r = memcmpi(a, b, std::min(la, lb));
  return r != 0 ? r : la - lb;
}

// --- numbers and text --------------------------------------------------------

long ZEPSTRUT_stringUtil::atol(const char* str, int len) {
  len = resolveLength(str, len);
  if (str == nullptr || len == 0 || len > 10) return ATOI_ERROR;
  int i = 0;
  const bool negative = str[0] == '-';
  if (negative || str[0] == '+') i = 1;
  int64_t value = 0;  // ten characters cannot overflow 64 bits
  for (; i < len; ++i) {
    const char c = str[i];
    if (c < '0' || c > '9') return ATOI_ERROR;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return ATOI_ERROR;
  return static_cast<long>(value);
}

int ZEPSTRUT_stringUtil::atoi(const char* str, int len) { return static_cast<int>(atol(str, len)); }

char* ZEPSTRUT_stringUtil::itoa(int value, char* buf) {
  if (buf == nullptr) return buf;
  // Work on the magnitude in unsigned arithmetic so INT32_MIN has one.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  char* p = buf;
  if (value < 0) *p++ = '-';
  while (n > 0) *p++ = digits[--n];
  *p = '\0';
  return buf;
}

char* ZEPSTRUT_stringUtil::reverse(const char* src, char* dst, int dstSize) {
  if (dst == nullptr || dstSize == 0) return dst;
  const int n = resolveLength(src, -1);
  int out = n;
  if (dstSize > 0 && out > dstSize - 1) out = dstSize - 1;
  if (src == dst) {
    std::reverse(dst, dst + n);
  } else {
    for (int i = 0; i < out; ++i) dst[i] = src[n - 1 - i];
  }
  dst[out] = '\0';
  return dst;
}

void* ZEPSTRUT_stringUtil::memcpyWithPad(void* dst, const void* src, unsigned srcLen,
                                         unsigned dstLen, char pad) {
  if (dst == nullptr) return dst;
  const unsigned n = src != nullptr ? std::min(srcLen, dstLen) : 0;
  if (n > 0) std::memmove(dst, src, n);
  if (dstLen > n) std::memset(static_cast<char*>(dst) + n, pad, dstLen - n);
  return dst;
}

char* ZEPSTRUT_stringUtil::find_last(char c, const char* str, int len) {
  if (str == nullptr) return nullptr;
  for (int i = resolveLength(str, len) - 1; i >= 0; --i) {
    if (str[i] == c) return const_cast<char*>(str + i);
  }
  return nullptr;
}

bool ZEPSTRUT_stringUtil::addFileSeparator(char* path, int pathSize) {
  if (path == nullptr || path[0] == '\0') return false;
  const char sep = ZEPPORT::FILE_SEPARATOR[0];
  const size_t n = std::strlen(path);
  if (path[n - 1] == sep) return true;
  if (pathSize >= 0 && n + 2 > static_cast<size_t>(pathSize)) return false;
  path[n] = sep;
  path[n + 1] = '\0';
  return true;
}

char* ZEPSTRUT_stringUtil::escapeString(const char* src, char* dst, int dstSize) {
  if (dst == nullptr || dstSize == 0) return dst;
  if (src == nullptr) src = "";
  // Room for characters, the terminator excluded.
  const size_t room = dstSize < 0 ? SIZE_MAX : static_cast<size_t>(dstSize) - 1;
  size_t j = 0;
  for (const char* p = src; *p != '\0'; ++p) {
    const size_t need = *p == '\\' ? 2 : 1;
    if (j + need > room) break;
    dst[j++] = *p;
    if (need == 2) dst[j++] = '\\';
  }
  dst[j] = '\0';
  return dst;
}

char* ZEPSTRUT_stringUtil::unescapeString(const char* src, char* dst, int dstSize) {
  if (dst == nullptr || dstSize == 0) return dst;
  if (src == nullptr) src = "";
  const size_t room = dstSize < 0 ? SIZE_MAX : static_cast<size_t>(dstSize) - 1;
  size_t j = 0;
  // Writing never overtakes reading, so src and dst may be the same buffer.
  for (const char* p = src; *p != '\0' && j < room; ++j) {
    dst[j] = *p;
    p += (p[0] == '\\' && p[1] == '\\') ? 2 : 1;
  }
  dst[j] = '\0';
  return dst;
}

char* ZEPSTRUT_stringUtil::formatTimestamp(const time_t* t, char* buf, int millis, int bufSize) {
  if (buf == nullptr || bufSize < 1) return buf;
  if (millis < 0 || millis > 999) millis = 0;
  // A stamp of full width is written in place: built in a copy and moved
  // in one piece, its bytes would be read back before the processor had
  // stored them.
  char copy[17];
  char* text = bufSize >= 16 ? buf : copy;
  // Years 1900..2899 fit the three digits of CYY; anything else, and a time
  // the C library cannot break down, gives an all-zero stamp rather than a
  // text of the wrong width.
  std::memset(text, '0', 16);
  // Far-off times are refused before the arithmetic could overflow.
  constexpr time_t kLimit = static_cast<time_t>(1) << 50;
  if (t != nullptr && *t > -kLimit && *t < kLimit) {
    int64_t days = static_cast<int64_t>(*t) / 86400;
    int64_t secs = static_cast<int64_t>(*t) % 86400;
    if (secs < 0) {
      secs += 86400;
      --days;
    }
    // Records arrive in time order, a day's worth at a time: the date part
    // of the last day formatted on this thread is kept.
    thread_local int64_t cachedDay = INT64_MIN;
    thread_local char cachedDate[7];
    bool dateValid = days == cachedDay;
    if (!dateValid) {
      const CivilDate c = civilFromDays(days);
      if (c.year >= 1900 && c.year <= 2899) {
        put3(cachedDate, static_cast<int>(c.year - 1900));
        put2(cachedDate + 3, c.month);
        put2(cachedDate + 5, c.day);
        cachedDay = days;
        dateValid = true;
      }
    }
    if (dateValid) {
      const int s = static_cast<int>(secs);
      std::memcpy(text, cachedDate, 7);
      put2(text + 7, s / 3600);
      put2(text + 9, s / 60 % 60);
      put2(text + 11, s % 60);
      put3(text + 13, millis);
    }
  }
  if (bufSize > 16) buf[16] = '\0';
  if (text == copy) std::memcpy(buf, copy, static_cast<size_t>(bufSize));
  return buf;
}

// --- table lookups -----------------------------------------------------------

const ZEPSTRUT_stringUtil::ENUM_CONSTANT* ZEPSTRUT_stringUtil::mapValue(const char* str,
                                                                        const ENUM_CONSTANT* table,
                                                                        int count, int len) {
  return findByName(str, table, count, len);
}

const ZEPSTRUT_stringUtil::ENUM_CONSTANT* ZEPSTRUT_stringUtil::mapEnum(int16_t value,
                                                                       const ENUM_CONSTANT* table,
                                                                       int count) {
  if (table == nullptr) return nullptr;
  for (int i = 0; i < count; ++i) {
    if (table[i].value == value) return &table[i];
  }
  return nullptr;
}

const ZEPSTRUT_stringUtil::ENUM_STR_MAP* ZEPSTRUT_stringUtil::mapString(const char* str,
                                                                        const ENUM_STR_MAP* table,
                                                                        int count, int len) {
  return findByName(str, table, count, len);
}

// --- time windows ------------------------------------------------------------

time_t* ZEPSTRUT_stringUtil::roundTimeDown(time_t* t, long minutes) {
  if (t == nullptr || minutes < 1) return t;
  const time_t window = static_cast<time_t>(minutes) * 60;
  time_t rest = *t % window;
  if (rest < 0) rest += window;  // times before the epoch round down too
  *t -= rest;
  return t;
}

time_t* ZEPSTRUT_stringUtil::previousTimeWindow(const time_t* t, time_t* out, long minutes) {
  if (t != nullptr && out != nullptr) *out = shiftWindows(*t, minutes, -1);
  return out;
}

time_t* ZEPSTRUT_stringUtil::nextTimeWindow(const time_t* t, time_t* out, long minutes) {
  if (t != nullptr && out != nullptr) *out = shiftWindows(*t, minutes, 1);
  return out;
}

time_t* ZEPSTRUT_stringUtil::latestCompleteTimeWindowEnd(time_t* t, long minutes) {
  if (t == nullptr) return t;
  *t = ZEPPORT::now();
  return roundTimeDown(t, minutes);
}

time_t* ZEPSTRUT_stringUtil::latestCompleteTimeWindowBegin(time_t* t, long minutes) {
  if (t == nullptr) return t;
  time_t end;
  latestCompleteTimeWindowEnd(&end, minutes);
  return previousTimeWindow(&end, t, minutes);
}
