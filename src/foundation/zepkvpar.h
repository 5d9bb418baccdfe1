// Key/value pair: one entry of a properties file (ZEPPROPS_properties).
//
// The pair owns heap copies of its key and value, each allocated with its
// exact length plus a terminator. Its list key is the key text, compared
// case-sensitively (the list element's default), so keys differing only in
// case are different properties.
//
// Thread-safety: none of its own; used under the lock of the properties
// object that holds it.
#ifndef ZEP_FOUNDATION_ZEPKVPAR_H_
#define ZEP_FOUNDATION_ZEPKVPAR_H_

#include "foundation/zeplelem.h"
#include "foundation/zepstrut.h"

class ZEPKVPAR_keyValuePair : public ZEPLELEM_listElem {
 public:
  // Both strings null.
  ZEPKVPAR_keyValuePair() = default;
  // Copy the NUL-terminated texts (a null text is stored as "").
  ZEPKVPAR_keyValuePair(const char* key, const char* value);
  // Copy `keyLen` and `valueLen` bytes of the texts.
  ZEPKVPAR_keyValuePair(unsigned keyLen, const char* key, unsigned valueLen, const char* value);
  // Copy the two segments.
  ZEPKVPAR_keyValuePair(const ZEPSTRUT_stringUtil::STRING_PARSE_INFO& key,
                        const ZEPSTRUT_stringUtil::STRING_PARSE_INFO& value);
  ~ZEPKVPAR_keyValuePair() override;

  // Copies key and value; the list links are not copied.
  ZEPKVPAR_keyValuePair(const ZEPKVPAR_keyValuePair& other);
  ZEPKVPAR_keyValuePair& operator=(const ZEPKVPAR_keyValuePair& other);

  // The stored texts (owned by the pair); null only before the first set.
  const char* getKey() const { return key_; }
  const char* getValue() const { return value_; }
  const void* getElemKey() const override { return key_; }

  // Replace the text with `len` bytes of `text`, terminated. A negative
  // `len` means the NUL-terminated length (0 for a null text, which stores
  // ""). `text` may point into the pair's own current text.
  // The key of a pair held by a ZEPPROPS_properties must not be changed
  // (the properties object indexes its entries by key); the value may.
  void setKey(const char* text, int len = -1);
  void setValue(const char* text, int len = -1);

 private:
  static void assign(char** slot, const char* text, int len);

  char* key_ = nullptr;
  char* value_ = nullptr;
};

#endif  // ZEP_FOUNDATION_ZEPKVPAR_H_
