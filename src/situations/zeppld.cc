// Payload base: key comparison shared by every payload.
#include "situations/zeppld.h"

#include <cstring>

#include "axo/base/trk1.h"

TRK1_UNIT(zeppld_unit, "ZEPPLD");

int ZEPPLD_Payload::compareKeys(const char* key) const {
  const char* own = getKey();
  if (key == nullptr || own == nullptr) return -1;
  return std::strcmp(own, key);
}
