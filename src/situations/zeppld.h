// Payloads: things carried by payload elements in the data computer's lists.
//
// A payload is either a message counter (one situation's state) or a data
// row (one ZEPMATT row handed to a sample). Payloads are never owned by the
// elements that carry them: the data computer owns the counters, the
// receiver of a GetCDT list owns the data rows.
//
// Thread-safety: none of its own; used under the data computer's lock or by
// the single owner of a GetCDT list.
#ifndef ZEP_SITUATIONS_ZEPPLD_H_
#define ZEP_SITUATIONS_ZEPPLD_H_

class ZEPPLD_Payload {
 public:
  ZEPPLD_Payload() = default;
  virtual ~ZEPPLD_Payload() = default;

  ZEPPLD_Payload(const ZEPPLD_Payload&) = delete;
  ZEPPLD_Payload& operator=(const ZEPPLD_Payload&) = delete;

  // The payload's key text, or null when it has none.
  virtual const char* getKey() const = 0;

  // strcmp of the payload's key with `key`; -1 when either is null, so a
  // payload without a key never matches.
  int compareKeys(const char* key) const;
};

#endif  // ZEP_SITUATIONS_ZEPPLD_H_
