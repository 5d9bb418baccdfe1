// ZEPDCT: the table's description (its sampling: tables/zepcfgtab.h).
#include "tables/zepdct.h"

TRK1_UNIT(zepdct_unit, "ZEPDCT");

ZEPTABLE_DEFINE_DESCRIPTION(zepdct, zepdct_unit, 5);
ZEPTABLE_DEFINE_INIT(zepdct);
