// ZEPDCMT: the table's description and its sampling.
#include "tables/zepdcmt.h"

#include "config/zepdcmte.h"

TRK1_UNIT(zepdcmt_unit, "ZEPDCMT");

ZEPTABLE_DEFINE_DESCRIPTION(zepdcmt, zepdcmt_unit, 25);
ZEPTABLE_DEFINE_INIT(zepdcmt);

// The rows are built once per request, from the configuration file as it is
// when the request starts; every sample of the request publishes them.
void zep_zepdcmt_agent::TakeSampleConstructor() {
  configRows = ZEPDCMTE_MonitorCtl::getMonitorCtlTable();
}

void zep_zepdcmt_agent::TakeSampleDestructor() {
  delete configRows;
  configRows = nullptr;
}

unsigned int zep_zepdcmt_agent::TakeSample() {
  TRK1_FlowScope flow(&zepdcmt_unit, "TakeSample");
  // No rows: the configuration stayed locked past the wait limit.
  if (configRows == nullptr) return flow.exitWith(static_cast<unsigned int>(AXO_RC_BUSY));
  ZEPCTELE_publishRows<ZEPDCMTE_MonitorCtl>(this, configRows);
  return flow.exitWith(0u);
}
