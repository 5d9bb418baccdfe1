// Key/value pair: one entry of a properties file.
#include "foundation/zepkvpar.h"

#include <cstring>

ZEPKVPAR_keyValuePair::ZEPKVPAR_keyValuePair(const char* key, const char* value) {
  setKey(key);
  setValue(value);
}

ZEPKVPAR_keyValuePair::ZEPKVPAR_keyValuePair(unsigned keyLen, const char* key, unsigned valueLen,
                                             const char* value) {
  setKey(key, static_cast<int>(keyLen));
  setValue(value, static_cast<int>(valueLen));
}

ZEPKVPAR_keyValuePair::ZEPKVPAR_keyValuePair(const ZEPSTRUT_stringUtil::STRING_PARSE_INFO& key,
                                             const ZEPSTRUT_stringUtil::STRING_PARSE_INFO& value) {
  setKey(key.ptr, key.ptr != nullptr ? key.len : 0);
  setValue(value.ptr, value.ptr != nullptr ? value.len : 0);
}

ZEPKVPAR_keyValuePair::~ZEPKVPAR_keyValuePair() {
  delete[] key_;
  delete[] value_;
}

ZEPKVPAR_keyValuePair::ZEPKVPAR_keyValuePair(const ZEPKVPAR_keyValuePair& other)
    : ZEPLELEM_listElem() {
  *this = other;
}

ZEPKVPAR_keyValuePair& ZEPKVPAR_keyValuePair::operator=(const ZEPKVPAR_keyValuePair& other) {
  if (this != &other) {
    setKey(other.key_);
    setValue(other.value_);
  }
  return *this;
}

void ZEPKVPAR_keyValuePair::setKey(const char* text, int len) { assign(&key_, text, len); }

void ZEPKVPAR_keyValuePair::setValue(const char* text, int len) { assign(&value_, text, len); }

void ZEPKVPAR_keyValuePair::assign(char** slot, const char* text, int len) {
  if (text == nullptr) len = 0;
  if (len < 0) len = static_cast<int>(strlen(text));
  // Copy before freeing: `text` may point into the old string.
  char* copy = new char[static_cast<size_t>(len) + 1];
  if (len > 0) memcpy(copy, text, static_cast<size_t>(len));
  copy[len] = '\0';
  delete[] * slot;
  *slot = copy;
}
