// ZEPFLCT, the fault table: one row per fault carried by a metric record.
// A metric line that carries a fault owns a ready row (zep_zepflct_data_t).
#ifndef ZEP_TABLES_ZEPFLCT_H_
#define ZEP_TABLES_ZEPFLCT_H_

#include "tables/zeptable.h"

ZEPTABLE_DECLARE_TABLE(zepflct, "ZEPFLCT");

// The table object of one ZEPFLCT request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
//
// Every request, real-time or history, gets every fault held in memory for
// each subnode it names; no time window applies.
class zep_zepflct_agent : public zep_zepflct_base {
 public:
  using zep_zepflct_base::zep_zepflct_base;

  // Takes configPropertiesLock, then metricsLogListLock, applies the metric
  // record limit and offers every fault row of the requested subnodes; a
  // rejected row does not stop the walk. Returns 0.
  unsigned int TakeSample() override;
};

#endif  // ZEP_TABLES_ZEPFLCT_H_
