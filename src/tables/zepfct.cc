// ZEPFCT: the table's description (its sampling: tables/zepcfgtab.h).
#include "tables/zepfct.h"

TRK1_UNIT(zepfct_unit, "ZEPFCT");

ZEPTABLE_DEFINE_DESCRIPTION(zepfct, zepfct_unit, 25);
ZEPTABLE_DEFINE_INIT(zepfct);
