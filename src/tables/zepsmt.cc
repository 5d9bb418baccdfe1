// ZEPSMT: the table's description and its sampling.
#include "zepsmt.h"

TRK1_UNIT(zepsmt_unit, "ZEPSMT");

ZEPTABLE_DEFINE_DESCRIPTION(zepsmt, zepsmt_unit, 500);

void zep_zepsmt_agent::TakeSampleConstructor() {}

void zep_zepsmt_agent::TakeSampleDestructor() {}

// Until the table's data source is connected a sample yields no rows.
unsigned int zep_zepsmt_agent::TakeSample() { return 0; }
