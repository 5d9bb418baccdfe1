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
  const bool flow = (TRK1_Sync(&zepdct_unit, __LINE__) & TRK1_FLOW) != 0;
  if (flow) TRK1_Event(&zepdct_unit, __LINE__, "TakeSample", TRK1_ENTRY);
  ZEPCTELE_publishRows<ZEPCTELE_GlobalCfg>(this, configRows);
  if (flow) TRK1_Event(&zepdct_unit, __LINE__, "TakeSample", TRK1_EXIT_RC, 0);
  return 0;
}
