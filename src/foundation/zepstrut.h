// String toolbox for text that is not NUL-terminated.
//
// ZEPSTRUT_stringUtil works on segments of larger buffers (a field of a
// record line, a word of a command), on split fields of configuration values
// and on fixed-width, blank-padded table columns. Its rules -- how empty
// fields are counted, when a number is rejected, how a timestamp is laid out,
// how a time window is aligned -- decide which configuration values and
// commands the agent accepts and what the monitoring tables show.
//
// Conventions of every operation:
//   - a length argument of type int that is negative means "the
//     NUL-terminated length of the string" (0 for a null string);
//   - nothing allocates, keeps state or traces;
//   - a destination buffer is written within the size the caller passes;
//     where an operation takes no size, the required size is stated.
//
// Thread-safety: all operations are static and stateless; any thread may call
// them at any time.
#ifndef ZEP_FOUNDATION_ZEPSTRUT_H_
#define ZEP_FOUNDATION_ZEPSTRUT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

class ZEPSTRUT_stringUtil {
 public:
  // One segment of a larger buffer. Does not own the text; the segment is not
  // NUL-terminated. Callers keep arrays of these on the stack.
  struct STRING_PARSE_INFO {
    const char* ptr;  // first character of the segment
    int len;          // number of characters (0 for an empty field)
  };

  // Maps a word to a small integer. Tables are constant arrays passed with
  // their row count.
  struct ENUM_CONSTANT {
    const char* name;  // the word as written in a file or command
    int16_t value;
  };

  // Maps an accepted word (matched without regard to case) to the word that
  // is stored in its place.
  struct ENUM_STR_MAP {
    const char* name;
    const char* value;
  };

  // Result of atoi/atol for text that is not a number in the 32-bit range.
  static constexpr int ATOI_ERROR = INT32_MIN;

  // Default set of the strip operations: blank, tab, line feed, carriage
  // return, backspace, vertical tab, form feed.
  static constexpr const char* WHITESPACE = " \t\n\r\b\v\f";

  ZEPSTRUT_stringUtil() = delete;
  virtual ~ZEPSTRUT_stringUtil() = default;

  // --- splitting and segments ----------------------------------------------

  // Splits the first `len` characters of `str` at every `delim` into at most
  // `maxSegs` segments written to `segs`. Empty fields are kept; once
  // maxSegs - 1 delimiters have been honoured the last segment takes the
  // rest of the text, delimiters included. Returns the number of segments
  // written: 0 when maxSegs < 1, otherwise at least 1 (an empty text gives
  // one empty segment).
  static int split(const char* str, STRING_PARSE_INFO* segs, int maxSegs, char delim, int len = -1);

  // Splits the first `len` characters of `str` into tokens separated by runs
  // of any of the characters of `delims`. All `maxTokens` records are
  // cleared first. Once the last record is in use its token runs to the end
  // of the text, delimiters included. Returns the number of tokens; returns
  // 0 and writes nothing when maxTokens < 1.
  static int tokenize(const char* str, STRING_PARSE_INFO* segs, int maxTokens, const char* delims,
                      int len = -1);

  // Copies min(dstSize, srcLen) bytes of `src` to `dst`. With `terminate`
  // the result is then cut to at most dstSize - 1 characters and
  // NUL-terminated; without it the copy is a fixed-width field with no
  // terminator. Writes nothing when dstSize < 1. Returns `dst`.
  static char* strSegmentCopy(char* dst, int dstSize, const char* src, int srcLen,
                              bool terminate = true);
  static char* strSegmentCopy(char* dst, int dstSize, const STRING_PARSE_INFO& seg,
                              bool terminate = true);

  // Overwrites with NUL every character from position len - 1 backwards that
  // is in `chars` (WHITESPACE when null), stopping at the first character not
  // in the set. A NUL byte counts as a member of every set, so NUL padding
  // at the end of a fixed-width field is passed over like blanks. Returns
  // `str`.
  static char* stripTrailing(char* str, int len = -1, const char* chars = nullptr);
  // The length of the `len` bytes at `text` without the run of `pad` bytes
  // at their end: of a blank-padded column, the length of its text. Only
  // `pad` is passed over (a NUL is not). Searches 64 bytes at a time.
  static size_t lengthWithoutPad(const char* text, size_t len, char pad = ' ');
  // Shortens `seg` while its last character is in the set (NUL included).
  // The buffer is not changed. Returns `seg`.
  static STRING_PARSE_INFO* stripTrailing(STRING_PARSE_INFO* seg, const char* chars = nullptr);
  // Advances `seg` past leading characters in the set (NUL included).
  // Returns `seg`.
  static STRING_PARSE_INFO* stripLeading(STRING_PARSE_INFO* seg, const char* chars = nullptr);

  // --- comparisons -----------------------------------------------------------

  // True when the first `len` characters of `str` begin (end) with `prefix`
  // (`suffix`), compared exactly. False when the affix is longer than `len`;
  // an empty or null affix always matches. Note the argument order.
  static bool beginsWith(const char* prefix, const char* str, int len = -1);
  static bool endsWith(const char* suffix, const char* str, int len = -1);

  // Case-insensitive character comparison: two ASCII letters compare by
  // alphabet position; anything else by raw value (so a letter against a
  // non-letter compares by raw code).
  static int cmpchari(int a, int b);
  // The first non-zero cmpchari over `n` positions, or 0.
  static int memcmpi(const char* a, const char* b, int n);
  // memcmpi over the shorter length; when equal so far, the difference of
  // the lengths. A null string counts as empty.
  static int strcmpi(const char* a, const char* b);

  // --- numbers and text ------------------------------------------------------

  // Strict decimal: an optional leading '-' or '+' and digits only, at most
  // 10 characters in all. A lone sign gives 0. Returns ATOI_ERROR for an
  // empty text, any other character, and a value outside the signed 32-bit
  // range.
  static long atol(const char* str, int len = -1);
  static int atoi(const char* str, int len = -1);

  // Writes the decimal text of `value` ("-" for negatives, no leading zeros)
  // into `buf`, which must hold 12 bytes. Returns `buf`.
  static char* itoa(int value, char* buf);

  // Writes the characters of `src` in reverse order and a terminator into
  // `dst`. With dstSize >= 1 at most dstSize - 1 characters (the last ones
  // of `src`, reversed) are written; a negative dstSize means `dst` holds
  // strlen(src) + 1 bytes. Returns `dst`.
  static char* reverse(const char* src, char* dst, int dstSize = -1);

  // Copies min(srcLen, dstLen) bytes and fills the rest of the dstLen bytes
  // with `pad`. No terminator. Returns `dst`.
  static void* memcpyWithPad(void* dst, const void* src, unsigned srcLen, unsigned dstLen,
                             char pad = ' ');

  // memcpy and memcmp() == 0 of `n` bytes, for the short texts of a record
  // handled several times per record: up to 64 bytes they are done in
  // place with overlapping moves (or comparisons) that stay within the
  // ranges, sparing a call of the C library's function and its dispatch on
  // the size. The ranges of copyBytes must not overlap.
  static void copyBytes(char* dst, const char* src, size_t n) {
    if (n > 64) {
      std::memcpy(dst, src, n);
    } else if (n > 32) {
      move<Bytes16>(dst, src, 0);
      move<Bytes16>(dst, src, 16);
      move<Bytes16>(dst, src, n - 32);
      move<Bytes16>(dst, src, n - 16);
    } else if (n >= 16) {
      move<Bytes16>(dst, src, 0);
      move<Bytes16>(dst, src, n - 16);
    } else if (n >= 8) {
      move<uint64_t>(dst, src, 0);
      move<uint64_t>(dst, src, n - 8);
    } else if (n >= 4) {
      move<uint32_t>(dst, src, 0);
      move<uint32_t>(dst, src, n - 4);
    } else if (n > 0) {
      dst[0] = src[0];
      dst[n / 2] = src[n / 2];
      dst[n - 1] = src[n - 1];
    }
  }
  static bool equalBytes(const char* a, const char* b, size_t n) {
    if (n > 32) return std::memcmp(a, b, n) == 0;
    if (n >= 16) return same<Bytes16>(a, b, 0) && same<Bytes16>(a, b, n - 16);
    if (n >= 8) return same<uint64_t>(a, b, 0) && same<uint64_t>(a, b, n - 8);
    if (n >= 4) return same<uint32_t>(a, b, 0) && same<uint32_t>(a, b, n - 4);
    return n == 0 || (a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1]);
  }

  // The last position of `c` within the first `len` characters of `str`, or
  // null.
  static char* find_last(char c, const char* str, int len = -1);

  // Appends the file separator unless `path` already ends with it. `path`
  // must have room for one more character, or pass its buffer size as
  // `pathSize`. Returns false (and changes nothing) when `path` is null or
  // empty (an empty path would turn into the root directory) or the buffer
  // is full; true when `path` ends with the separator afterwards.
  static bool addFileSeparator(char* path, int pathSize = -1);

  // Copies `src` writing every backslash twice. `dst` must hold
  // 2 * strlen(src) + 1 bytes, or pass its size as `dstSize`: the result is
  // then cut before a character (or backslash pair) that would not fit.
  // Returns `dst`.
  static char* escapeString(const char* src, char* dst, int dstSize = -1);
  // Copies `src` dropping the second backslash of each pair of consecutive
  // backslashes; any other character, including a lone backslash, is copied
  // unchanged. `dst` must hold strlen(src) + 1 bytes, or pass its size as
  // `dstSize` (the result is then cut). Returns `dst`.
  static char* unescapeString(const char* src, char* dst, int dstSize = -1);

  // Writes the 16-character timestamp CYYMMDDHHMMSSmmm of `*t` in UTC
  // (C is 0 for 1900-1999, 1 for 2000-2099) with `millis` as mmm (a value
  // outside 0..999 counts as 0). With bufSize > 16 the text is
  // NUL-terminated; otherwise at most bufSize characters are copied as
  // strncpy does, so bufSize 16 gives exactly the 16 characters without a
  // terminator (a fixed-width field). A time that cannot be broken down
  // gives zeros. Never writes more than bufSize bytes. Returns `buf`.
  static char* formatTimestamp(const time_t* t, char* buf, int millis, int bufSize);

  // --- table lookups (first matching row wins) ------------------------------

  // The row whose name has exactly `len` characters and equals `str` without
  // regard to case, or null (also for a null `str`).
  static const ENUM_CONSTANT* mapValue(const char* str, const ENUM_CONSTANT* table, int count,
                                       int len = -1);
  // The first row whose value equals `value`, or null.
  static const ENUM_CONSTANT* mapEnum(int16_t value, const ENUM_CONSTANT* table, int count);
  // As mapValue, for word-to-word tables.
  static const ENUM_STR_MAP* mapString(const char* str, const ENUM_STR_MAP* table, int count,
                                       int len = -1);

  // --- time windows ----------------------------------------------------------
  //
  // Times are seconds since the epoch (UTC); window lengths are in minutes.
  // Windows are aligned to whole multiples of their length from the epoch.
  // A window length below 1 minute leaves the time unchanged.

  // Rounds `*t` down to the start of its window. Returns `t`.
  static time_t* roundTimeDown(time_t* t, long minutes);
  // *out = *t minus (plus) one window length. Return `out`.
  static time_t* previousTimeWindow(const time_t* t, time_t* out, long minutes);
  static time_t* nextTimeWindow(const time_t* t, time_t* out, long minutes);
  // Sets `*t` to the end of the most recent fully elapsed window (the start
  // of the running one), reading the clock through ZEPPORT::now(). Returns
  // `t`.
  static time_t* latestCompleteTimeWindowEnd(time_t* t, long minutes);
  // Sets `*t` to the start of that most recent complete window. Returns `t`.
  static time_t* latestCompleteTimeWindowBegin(time_t* t, long minutes);

 private:
  struct Bytes16 {
    uint64_t lo, hi;
    bool operator==(const Bytes16& o) const { return lo == o.lo && hi == o.hi; }
  };
  template <typename Word>
  static void move(char* dst, const char* src, size_t at) {
    Word w;
    std::memcpy(&w, src + at, sizeof(w));
    std::memcpy(dst + at, &w, sizeof(w));
  }
  template <typename Word>
  static bool same(const char* a, const char* b, size_t at) {
    Word x, y;
    std::memcpy(&x, a + at, sizeof(x));
    std::memcpy(&y, b + at, sizeof(y));
    return x == y;
  }
};

#endif  // ZEP_FOUNDATION_ZEPSTRUT_H_
