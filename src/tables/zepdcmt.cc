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
  const bool flow = (TRK1_Sync(&zepdcmt_unit, __LINE__) & TRK1_FLOW) != 0;
  if (flow) TRK1_Event(&zepdcmt_unit, __LINE__, "TakeSample", TRK1_ENTRY);
  ZEPCTELE_publishRows<ZEPDCMTE_MonitorCtl>(this, configRows);
  if (flow) TRK1_Event(&zepdcmt_unit, __LINE__, "TakeSample", TRK1_EXIT_RC, 0);
  return 0;
}
