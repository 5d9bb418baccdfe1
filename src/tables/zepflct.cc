// ZEPFLCT: the table's description and its sampling.
#include "zepflct.h"

TRK1_UNIT(zepflct_unit, "ZEPFLCT");

ZEPTABLE_DEFINE_DESCRIPTION(zepflct, zepflct_unit, 50);

void zep_zepflct_agent::TakeSampleConstructor() {}

void zep_zepflct_agent::TakeSampleDestructor() {}

// Until the table's data source is connected a sample yields no rows.
unsigned int zep_zepflct_agent::TakeSample() { return 0; }
