// ZEPDCMT: the table's description (its sampling: tables/zepcfgtab.h).
#include "tables/zepdcmt.h"

TRK1_UNIT(zepdcmt_unit, "ZEPDCMT");

ZEPTABLE_DEFINE_DESCRIPTION(zepdcmt, zepdcmt_unit, 25);
ZEPTABLE_DEFINE_INIT(zepdcmt);
