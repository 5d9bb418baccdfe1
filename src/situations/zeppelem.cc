// Payload element: key protocol delegated to the payload.
#include "situations/zeppelem.h"

#include "axo/base/trk1.h"
#include "situations/zeppld.h"

TRK1_UNIT(zeppelem_unit, "ZEPPELEM");

const void* ZEPPELEM_PayloadElement::getElemKey() const {
  return payload_ == nullptr ? nullptr : payload_->getKey();
}

int ZEPPELEM_PayloadElement::compareKeys(const void* key) const {
  if (payload_ == nullptr) return -1;
  return payload_->compareKeys(static_cast<const char*>(key));
}
