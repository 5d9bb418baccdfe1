// ZEPINV, the service inventory table: one row per service operation and
// aggregation interval, built from the inventory's aggregation buckets.
#ifndef ZEP_TABLES_ZEPINV_H_
#define ZEP_TABLES_ZEPINV_H_

#include "zeptable.h"

#define ZEPINV_COLUMNS(X)                      \
  X(ORIGINNODE, originnode, TEXT, 32, 0)       \
  X(SVCTYPE, svctype, SHORT, 2, 32)            \
  X(PORTNAME, portname, TEXT, 64, 34)          \
  X(OPNAME, opname, TEXT, 64, 98)              \
  X(HOSTNAME, hostname, TEXT, 64, 162)         \
  X(IPADDR, ipaddr, TEXT, 64, 226)             \
  X(APPSRVENV, appsrvenv, SHORT, 2, 290)       \
  X(APPSRVNODE, appsrvnode, TEXT, 64, 292)     \
  X(APPSRVCELL, appsrvcell, TEXT, 64, 356)     \
  X(APPSRVNM, appsrvnm, TEXT, 64, 420)         \
  X(APPSRVCLUS, appsrvclus, TEXT, 64, 484)     \
  X(TABLEVER, tablever, TEXT, 8, 548)          \
  X(INTBEGTIME, intbegtime, TEXT, 16, 556)     \
  X(INTENDTIME, intendtime, TEXT, 16, 572)     \
  X(INTLENGTH, intlength, LONG, 4, 588)        \
  X(AVGMSGLEN, avgmsglen, LONG, 4, 592)        \
  X(MSGCOUNT, msgcount, LONG, 4, 596)          \
  X(ETMSGCOUNT, etmsgcount, LONG, 4, 600)      \
  X(AVGETIME, avgetime, LONG, 4, 604)          \
  X(SVCOPERTYP, svcopertyp, TEXT, 140, 608)    \
  X(FLTCOUNT, fltcount, LONG, 4, 748)          \
  X(MAXMSGLEN, maxmsglen, LONG, 4, 752)        \
  X(MAXETIME, maxetime, LONG, 4, 756)          \
  X(MINMSGLEN, minmsglen, LONG, 4, 760)        \
  X(MINETIME, minetime, LONG, 4, 764)          \
  X(SDMSGLEN, sdmsglen, LONG, 4, 768)          \
  X(SDETIME, sdetime, LONG, 4, 772)            \
  X(INTSTATUS, intstatus, SHORT, 2, 776)

// The record ends with two gap bytes after INTSTATUS.
ZEPTABLE_DEFINE_ROW(zep_zepinv_data_t, ZEPINV_COLUMNS, 780);

ZEPTABLE_DECLARE_TABLE(zepinv, "ZEPINV");

// The table object of one ZEPINV request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
class zep_zepinv_agent : public zep_zepinv_base {
 public:
  using zep_zepinv_base::zep_zepinv_base;

  void TakeSampleConstructor();
  void TakeSampleDestructor();
  // Offers the rows of the requested subnodes.
  unsigned int TakeSample() override;
};

#endif  // ZEP_TABLES_ZEPINV_H_
