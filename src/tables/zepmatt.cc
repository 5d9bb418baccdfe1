// ZEPMATT: the table's description and its sampling.
#include "zepmatt.h"

TRK1_UNIT(zepmatt_unit, "ZEPMATT");

ZEPTABLE_DEFINE_DESCRIPTION(zepmatt, zepmatt_unit, 10);

void zep_zepmatt_agent::TakeSampleConstructor() {}

void zep_zepmatt_agent::TakeSampleDestructor() {}

// Until the table's data source is connected a sample yields no rows.
unsigned int zep_zepmatt_agent::TakeSample() { return 0; }
