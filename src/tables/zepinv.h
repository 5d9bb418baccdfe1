// ZEPINV, the service inventory table: one row per service operation and
// aggregation interval, built from the inventory's aggregation buckets.
#ifndef ZEP_TABLES_ZEPINV_H_
#define ZEP_TABLES_ZEPINV_H_

#include <cstdint>
#include <ctime>

#include "tables/zeptable.h"

ZEPTABLE_DECLARE_TABLE(zepinv, "ZEPINV");

class ZEPDCLST_DCMetricsLogList;
class ZEPIELEM_SvcInv;
class ZEPAELEM_AggData;
class ZEPSAMP_sampleRun;

// Values of the INTSTATUS column.
enum : int16_t {
  ZEPINV_INTERVAL_RUNNING = 1,   // the window is still running
  ZEPINV_INTERVAL_COMPLETE = 2,  // the window is complete
};

// The table object of one ZEPINV request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
//
// A real-time request gets, for each subnode it names, the latest complete
// window and the running window of every service operation. A history
// request gets, from every server, every complete window not yet handed to
// history; the bucket lists remember what went (the bucket's flag and the
// list's last history begin), so each window goes to history once. With
// "zep.debug.history" set to 1 every request is answered as history.
class zep_zepinv_agent : public zep_zepinv_base {
 public:
  using zep_zepinv_base::zep_zepinv_base;

  // Takes configPropertiesLock, then metricsLogListLock, and takes the
  // real-time or the history sample. Returns 0.
  unsigned int TakeSample() override;

  // The real-time branch. For each service operation of each requested
  // subnode: the window beginning at `completeBegin` (INTSTATUS 2; skipped
  // when 0), then the one beginning at `runningBegin` (INTSTATUS 1; skipped
  // when 0). Stops after `limit` rows. Requires metricsLogListLock. Returns 0.
  int TakeSampleRealTime(ZEPDCLST_DCMetricsLogList& logs, time_t completeBegin, time_t runningBegin,
                         int limit);
  // The history branch: every complete window not yet reported that ended at
  // least a minute ago, of every service operation of every server, marking
  // each window whose row was added. Nothing when `retentionMinutes` is 0 or
  // less; stops after `limit` rows. Requires metricsLogListLock. Returns 0.
  int TakeSampleHistorical(ZEPDCLST_DCMetricsLogList& logs, int retentionMinutes, int limit);

 private:
  // Offers the row of `bucket` (null: nothing) of service `entry` with
  // interval status `status`. Returns true when the row was added.
  static bool offerBucket(ZEPSAMP_sampleRun& run, const ZEPIELEM_SvcInv& entry,
                          const ZEPAELEM_AggData* bucket, int16_t status);
};

#endif  // ZEP_TABLES_ZEPINV_H_
