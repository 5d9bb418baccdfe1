// ZEPSMT, the service metrics table: one row per metric record of a
// monitored server. Metric lines hold a ready row (zep_zepsmt_data_t); the
// sample hands the rows of the requested subnodes to the framework.
#ifndef ZEP_TABLES_ZEPSMT_H_
#define ZEP_TABLES_ZEPSMT_H_

#include "zeptable.h"

#define ZEPSMT_COLUMNS(X)                      \
  X(ORIGINNODE, originnode, TEXT, 32, 0)       \
  X(MSGLOC, msgloc, SHORT, 2, 32)              \
  X(MSGTIME, msgtime, TEXT, 16, 34)            \
  X(THREADID, threadid, TEXT, 32, 50)          \
  X(ELPSDTIME, elpsdtime, LONG, 4, 84)         \
  X(PORTNAME, portname, TEXT, 64, 88)          \
  X(OPNAME, opname, TEXT, 64, 152)             \
  X(ONEWAYMSG, onewaymsg, SHORT, 2, 216)       \
  X(FAULTRESP, faultresp, SHORT, 2, 218)       \
  X(CURRCORR, currcorr, TEXT, 128, 220)        \
  X(PREVCORR, prevcorr, TEXT, 128, 348)        \
  X(HOSTNAME, hostname, TEXT, 64, 476)         \
  X(IPADDR, ipaddr, TEXT, 64, 540)             \
  X(RMHSTNAME, rmhstname, TEXT, 64, 604)       \
  X(RMIPADDR, rmipaddr, TEXT, 64, 668)         \
  X(APPSRVENV, appsrvenv, SHORT, 2, 732)       \
  X(APPSRVNODE, appsrvnode, TEXT, 64, 734)     \
  X(APPSRVCELL, appsrvcell, TEXT, 64, 798)     \
  X(APPSRVNM, appsrvnm, TEXT, 64, 862)         \
  X(APPSRVCLUS, appsrvclus, TEXT, 64, 926)     \
  X(MSGLENGTH, msglength, LONG, 4, 992)        \
  X(TABLEVER, tablever, TEXT, 8, 996)

ZEPTABLE_DEFINE_ROW(zep_zepsmt_data_t, ZEPSMT_COLUMNS, 1004);

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

  // Creation and destruction hooks; they only trace.
  void TakeSampleConstructor();
  void TakeSampleDestructor();
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
