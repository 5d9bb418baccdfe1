// ZEPFCT: the table's description and its sampling.
#include "zepfct.h"

TRK1_UNIT(zepfct_unit, "ZEPFCT");

ZEPTABLE_DEFINE_DESCRIPTION(zepfct, zepfct_unit, 25);

void zep_zepfct_agent::TakeSampleConstructor() {}

void zep_zepfct_agent::TakeSampleDestructor() {}

// Until the table's data source is connected a sample yields no rows.
unsigned int zep_zepfct_agent::TakeSample() { return 0; }
