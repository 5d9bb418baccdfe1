// ZEPDCMT: the table's description and its sampling.
#include "zepdcmt.h"

TRK1_UNIT(zepdcmt_unit, "ZEPDCMT");

ZEPTABLE_DEFINE_DESCRIPTION(zepdcmt, zepdcmt_unit, 25);

void zep_zepdcmt_agent::TakeSampleConstructor() {}

void zep_zepdcmt_agent::TakeSampleDestructor() {}

// Until the table's data source is connected a sample yields no rows.
unsigned int zep_zepdcmt_agent::TakeSample() { return 0; }
