// Data row: owner of one ZEPMATT row record.
#include "zepdcrow.h"

#include "axo/trk1.h"
#include "zepmatt.h"

TRK1_UNIT(zepdcrow_unit, "ZEPDCROW");

ZEPDCROW_DataRow::~ZEPDCROW_DataRow() { delete row_; }
