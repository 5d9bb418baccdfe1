// Data row: owner of one ZEPMATT row record.
#include "situations/zepdcrow.h"

#include "axo/base/trk1.h"
#include "foundation/zeprows.h"

TRK1_UNIT(zepdcrow_unit, "ZEPDCROW");

ZEPDCROW_DataRow::~ZEPDCROW_DataRow() { delete row_; }
