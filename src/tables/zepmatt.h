// ZEPMATT, the message arrival table: one row per message-count situation.
// Situations on this table are registered with the data computer for the
// life of their table object; state changes are pushed as event rows.
#ifndef ZEP_TABLES_ZEPMATT_H_
#define ZEP_TABLES_ZEPMATT_H_

#include "zeptable.h"

#define ZEPMATT_COLUMNS(X)                     \
  X(ORIGINNODE, originnode, TEXT, 32, 0)       \
  X(HOSTNAME, hostname, TEXT, 64, 32)          \
  X(PORTNAME, portname, TEXT, 64, 96)          \
  X(OPNAME, opname, TEXT, 64, 160)             \
  X(RMIPADDR, rmipaddr, TEXT, 64, 224)         \
  X(TMINT, tmint, LONG, 4, 288)                \
  X(MSGLMT, msglmt, LONG, 4, 292)              \
  X(COMPARATOR, comparator, SHORT, 2, 296)     \
  X(MSGCNT, msgcnt, LONG, 4, 300)              \
  X(TABLEVER, tablever, TEXT, 8, 304)          \
  X(SITNAME, sitname, TEXT, 32, 312)

ZEPTABLE_DEFINE_ROW(zep_zepmatt_data_t, ZEPMATT_COLUMNS, 344);

#endif  // ZEP_TABLES_ZEPMATT_H_
