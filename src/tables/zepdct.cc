// ZEPDCT: the table's description and its sampling.
#include "zepdct.h"

TRK1_UNIT(zepdct_unit, "ZEPDCT");

ZEPTABLE_DEFINE_DESCRIPTION(zepdct, zepdct_unit, 5);

void zep_zepdct_agent::TakeSampleConstructor() {}

void zep_zepdct_agent::TakeSampleDestructor() {}

// Until the table's data source is connected a sample yields no rows.
unsigned int zep_zepdct_agent::TakeSample() { return 0; }
