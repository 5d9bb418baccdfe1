// ZEPINV: the table's description and its sampling.
#include "zepinv.h"

TRK1_UNIT(zepinv_unit, "ZEPINV");

ZEPTABLE_DEFINE_DESCRIPTION(zepinv, zepinv_unit, 50);

void zep_zepinv_agent::TakeSampleConstructor() {}

void zep_zepinv_agent::TakeSampleDestructor() {}

// Until the table's data source is connected a sample yields no rows.
unsigned int zep_zepinv_agent::TakeSample() { return 0; }
