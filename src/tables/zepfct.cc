// ZEPFCT: the table's description and its sampling.
#include "tables/zepfct.h"

#include "config/zepfctel.h"

TRK1_UNIT(zepfct_unit, "ZEPFCT");

ZEPTABLE_DEFINE_DESCRIPTION(zepfct, zepfct_unit, 25);
ZEPTABLE_DEFINE_INIT(zepfct);

// The rows are built once per request, from the configuration file as it is
// when the request starts; every sample of the request publishes them.
void zep_zepfct_agent::TakeSampleConstructor() {
  configRows = ZEPFCTEL_FilterCtl::getFilterCtlTable();
}

void zep_zepfct_agent::TakeSampleDestructor() {
  delete configRows;
  configRows = nullptr;
}

unsigned int zep_zepfct_agent::TakeSample() {
  TRK1_FlowScope flow(&zepfct_unit, "TakeSample");
  // No rows: the configuration stayed locked past the wait limit.
  if (configRows == nullptr) return flow.exitWith(static_cast<unsigned int>(AXO_RC_BUSY));
  ZEPCTELE_publishRows<ZEPFCTEL_FilterCtl>(this, configRows);
  return flow.exitWith(0u);
}
