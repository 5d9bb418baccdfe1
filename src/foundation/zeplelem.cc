// Element base of the agent's intrusive doubly linked lists.
#include "foundation/zeplelem.h"

#include <cstring>

#include "axo/base/trk1.h"

TRK1_UNIT(zeplelem_unit, "ZEPLELEM");

ZEPLELEM_listElem::~ZEPLELEM_listElem() = default;

int ZEPLELEM_listElem::compareKeys(const void* key) const {
  const char* mine = static_cast<const char*>(getElemKey());
  const char* theirs = static_cast<const char*>(key);
  return std::strcmp(mine != nullptr ? mine : "", theirs != nullptr ? theirs : "");
}
