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
  const bool flow = (TRK1_Sync(&zepfct_unit, __LINE__) & TRK1_FLOW) != 0;
  if (flow) TRK1_Event(&zepfct_unit, __LINE__, "TakeSample", TRK1_ENTRY);
  ZEPCTELE_publishRows<ZEPFCTEL_FilterCtl>(this, configRows);
  if (flow) TRK1_Event(&zepfct_unit, __LINE__, "TakeSample", TRK1_EXIT_RC, 0);
  return 0;
}
