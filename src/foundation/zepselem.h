// String element: the simplest list element, a heap copy of a text and a
// number.
//
// The key of a string element is its text. The metric log reader uses string
// elements to remember which cached file fed an aggregation bucket, with the
// time at which that file was read as the value.
//
// Thread-safety: none of its own; used under the lock of the list holder.
#ifndef ZEP_FOUNDATION_ZEPSELEM_H_
#define ZEP_FOUNDATION_ZEPSELEM_H_

#include <cstdint>

#include "foundation/zeplelem.h"

class ZEPSELEM_stringElem : public ZEPLELEM_listElem {
 public:
  // Copies `text` (a null text is stored as the empty string), zeroes the two
  // spare words and stores `value` (kept in 32 bits).
  explicit ZEPSELEM_stringElem(const char* text = nullptr, long value = 0);
  ~ZEPSELEM_stringElem() override;

  // Copy construction and assignment copy the text (through setString), then
  // the two words and the value. The links are not copied.
  ZEPSELEM_stringElem(const ZEPSELEM_stringElem& other);
  ZEPSELEM_stringElem& operator=(const ZEPSELEM_stringElem& other);

  // Frees the old text and stores a heap copy of `text`, or null when `text`
  // is null. Returns the stored text (owned by the element). `text` may point
  // into the element's own current text.
  const char* setString(const char* text);
  // The stored text; null only after setString(nullptr).
  const char* getString() const { return text_; }

  int32_t getValue() const { return value_; }
  void setValue(int32_t value) { value_ = value; }

  // Two spare words, zero after construction and carried by copies.
  uint32_t getWord1() const { return word1_; }
  uint32_t getWord2() const { return word2_; }
  void setWord1(uint32_t w) { word1_ = w; }
  void setWord2(uint32_t w) { word2_ = w; }

  // The key is the text.
  const void* getElemKey() const override { return text_; }

 private:
  char* text_ = nullptr;
  uint32_t word1_ = 0;
  uint32_t word2_ = 0;
  int32_t value_ = 0;
};

#endif  // ZEP_FOUNDATION_ZEPSELEM_H_
