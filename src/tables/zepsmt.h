// ZEPSMT, the service metrics table: one row per metric record of a
// monitored server. Metric lines hold a ready row (zep_zepsmt_data_t); the
// sample hands the rows of the requested subnodes to the framework.
#ifndef ZEP_TABLES_ZEPSMT_H_
#define ZEP_TABLES_ZEPSMT_H_

#include "tables/zeptable.h"

ZEPTABLE_DECLARE_TABLE(zepsmt, "ZEPSMT");

class ZEPPROPS_properties;
class ZEPDCLST_DCMetricsLogList;

// The table object of one ZEPSMT request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
//
// A real-time request (query or situation) gets, for each subnode it names,
// every metric line of the last "zep.axo.maxRealTimeSampleMinutes" minutes.
// A history request gets, from every server, each line not yet handed to
// history, and marks the lines it handed over, so that each line reaches
// history at most once.
class zep_zepsmt_agent : public zep_zepsmt_base {
 public:
  using zep_zepsmt_base::zep_zepsmt_base;

  // Takes configPropertiesLock, then metricsLogListLock, applies the metric
  // record limit and takes the real-time or the history sample. Returns 0.
  unsigned int TakeSample() override;

  // The real-time look-back in seconds: "zep.axo.maxRealTimeSampleMinutes"
  // times 60, read after reloading `props` when its file changed and
  // enforcing the agent settings. Requires configPropertiesLock.
  static double getTimePeriod(ZEPPROPS_properties& props);

  // The two branches of TakeSample. Both require configPropertiesLock and
  // metricsLogListLock held. The real-time branch writes no history marks;
  // the history branch marks every line it handed over.
  void TakeSampleRealTime(ZEPPROPS_properties& props, ZEPDCLST_DCMetricsLogList& logs);
  void TakeSampleHistorical(ZEPPROPS_properties& props, ZEPDCLST_DCMetricsLogList& logs);
};

#endif  // ZEP_TABLES_ZEPSMT_H_
