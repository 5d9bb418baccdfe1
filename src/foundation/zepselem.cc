// String element: a list element holding a heap copy of a text.
#include "foundation/zepselem.h"

#include <cstdlib>
#include <cstring>

#include "axo/base/trk1.h"

TRK1_UNIT(zepselem_unit, "ZEPSELEM");

ZEPSELEM_stringElem::ZEPSELEM_stringElem(const char* text, long value)
    : value_(static_cast<int32_t>(value)) {
  setString(text != nullptr ? text : "");
}

ZEPSELEM_stringElem::~ZEPSELEM_stringElem() { std::free(text_); }

ZEPSELEM_stringElem::ZEPSELEM_stringElem(const ZEPSELEM_stringElem& other)
    : ZEPLELEM_listElem(other) {
  *this = other;
}

ZEPSELEM_stringElem& ZEPSELEM_stringElem::operator=(const ZEPSELEM_stringElem& other) {
  if (this != &other) {
    setString(other.text_);
    word1_ = other.word1_;
    word2_ = other.word2_;
    value_ = other.value_;
  }
  return *this;
}

const char* ZEPSELEM_stringElem::setString(const char* text) {
  // Copy before freeing: `text` may point into the current text.
  char* copy = text != nullptr ? strdup(text) : nullptr;
  if (text != nullptr && copy == nullptr) {
    TRK1_Trace(&zepselem_unit, TRK1_ERROR, "out of memory copying a text");
  }
  std::free(text_);
  text_ = copy;
  return text_;
}
