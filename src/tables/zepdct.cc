// ZEPDCT: the table's description and its sampling.
#include "tables/zepdct.h"

#include "config/zepctele.h"

TRK1_UNIT(zepdct_unit, "ZEPDCT");

ZEPTABLE_DEFINE_DESCRIPTION(zepdct, zepdct_unit, 5);
ZEPTABLE_DEFINE_INIT(zepdct);

// The rows are built once per request, from the configuration file as it is
// when the request starts; every sample of the request publishes them.
void zep_zepdct_agent::TakeSampleConstructor() {
  configRows = ZEPCTELE_GlobalCfg::getGlobalConfigTable();
}

void zep_zepdct_agent::TakeSampleDestructor() {
  delete configRows;
  configRows = nullptr;
}

unsigned int zep_zepdct_agent::TakeSample() {
  TRK1_FlowScope flow(&zepdct_unit, "TakeSample");
  // No rows: the configuration stayed locked past the wait limit.
  if (configRows == nullptr) return flow.exitWith(static_cast<unsigned int>(AXO_RC_BUSY));
  ZEPCTELE_publishRows<ZEPCTELE_GlobalCfg>(this, configRows);
  return flow.exitWith(0u);
}
