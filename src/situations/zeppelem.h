// Payload element: a list element that refers to one payload.
//
// The data computer's tree and MC list hold payload elements referring to
// message counters; GetCDT fills a list with payload elements referring to
// data rows. The element never owns its payload: destroying the element
// leaves the payload alone.
//
// Thread-safety: none of its own; see ZEPPLD_Payload.
#ifndef ZEP_SITUATIONS_ZEPPELEM_H_
#define ZEP_SITUATIONS_ZEPPELEM_H_

#include "foundation/zeplelem.h"

class ZEPPLD_Payload;

class ZEPPELEM_PayloadElement : public ZEPLELEM_listElem {
 public:
  ZEPPELEM_PayloadElement() = default;
  // Refers to `payload` (may be null) without owning it.
  explicit ZEPPELEM_PayloadElement(ZEPPLD_Payload* payload) : payload_(payload) {}
  ~ZEPPELEM_PayloadElement() override = default;

  ZEPPELEM_PayloadElement(const ZEPPELEM_PayloadElement&) = delete;
  ZEPPELEM_PayloadElement& operator=(const ZEPPELEM_PayloadElement&) = delete;

  ZEPPLD_Payload* getPayload() const { return payload_; }

  // The payload's key text, or null without a payload.
  const void* getElemKey() const override;
  // The payload's compareKeys of `key` (a C string), or -1 without a payload.
  int compareKeys(const void* key) const override;

 private:
  ZEPPLD_Payload* payload_ = nullptr;
};

#endif  // ZEP_SITUATIONS_ZEPPELEM_H_
