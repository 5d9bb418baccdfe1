// ZEPFLCT, the fault table: one row per fault carried by a metric record.
// A metric line that carries a fault owns a ready row (zep_zepflct_data_t).
#ifndef ZEP_TABLES_ZEPFLCT_H_
#define ZEP_TABLES_ZEPFLCT_H_

#include "zeptable.h"

#define ZEPFLCT_COLUMNS(X)                     \
  X(ORIGINNODE, originnode, TEXT, 32, 0)       \
  X(HOSTNAME, hostname, TEXT, 64, 32)          \
  X(MSGLOC, msgloc, SHORT, 2, 96)              \
  X(MSGTIME, msgtime, TEXT, 16, 98)            \
  X(PORTNAME, portname, TEXT, 64, 114)         \
  X(APPSRVENV, appsrvenv, SHORT, 2, 178)       \
  X(APPSRVNM, appsrvnm, TEXT, 64, 180)         \
  X(OPNAME, opname, TEXT, 64, 244)             \
  X(CURRCORR, currcorr, TEXT, 128, 308)        \
  X(FLTCODE, fltcode, TEXT, 128, 436)          \
  X(FLTSTR, fltstr, TEXT, 256, 564)            \
  X(TABLEVER, tablever, TEXT, 8, 820)

ZEPTABLE_DEFINE_ROW(zep_zepflct_data_t, ZEPFLCT_COLUMNS, 828);

ZEPTABLE_DECLARE_TABLE(zepflct, "ZEPFLCT");

// The table object of one ZEPFLCT request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
//
// Every request, real-time or history, gets every fault held in memory for
// each subnode it names; no time window applies.
class zep_zepflct_agent : public zep_zepflct_base {
 public:
  using zep_zepflct_base::zep_zepflct_base;

  // Creation and destruction hooks; they only trace.
  void TakeSampleConstructor();
  void TakeSampleDestructor();
  // Takes configPropertiesLock, then metricsLogListLock, applies the metric
  // record limit and offers every fault row of the requested subnodes; a
  // rejected row does not stop the walk. Returns 0.
  unsigned int TakeSample() override;
};

#endif  // ZEP_TABLES_ZEPFLCT_H_
