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

// The table object of one ZEPSMT request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
class zep_zepsmt_agent : public zep_zepsmt_base {
 public:
  using zep_zepsmt_base::zep_zepsmt_base;

  void TakeSampleConstructor();
  void TakeSampleDestructor();
  // Offers the rows of the requested subnodes.
  unsigned int TakeSample() override;
};

#endif  // ZEP_TABLES_ZEPSMT_H_
