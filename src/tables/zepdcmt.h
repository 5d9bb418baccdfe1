// ZEPDCMT, the monitor control table: one row per monitor control of a data
// collector, built from the configuration file when a request starts.
#ifndef ZEP_TABLES_ZEPDCMT_H_
#define ZEP_TABLES_ZEPDCMT_H_

#include "zeptable.h"

class ZEPLLST_LinkedList;

#define ZEPDCMT_COLUMNS(X)                     \
  X(ORIGINNODE, originnode, TEXT, 32, 0)       \
  X(HOSTNAME, hostname, TEXT, 64, 32)          \
  X(APPSRVENV, appsrvenv, SHORT, 2, 96)        \
  X(APPSRVNM, appsrvnm, TEXT, 64, 98)          \
  X(PORTNAME, portname, TEXT, 64, 162)         \
  X(OPNAME, opname, TEXT, 64, 226)             \
  X(MSGLGLVL, msglglvl, SHORT, 2, 290)         \
  X(MCINDEX, mcindex, SHORT, 2, 292)           \
  X(TABLEVER, tablever, TEXT, 8, 294)

ZEPTABLE_DEFINE_ROW(zep_zepdcmt_data_t, ZEPDCMT_COLUMNS, 302);

ZEPTABLE_DECLARE_TABLE(zepdcmt, "ZEPDCMT");

// The table object of one ZEPDCMT request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
class zep_zepdcmt_agent : public zep_zepdcmt_base {
 public:
  using zep_zepdcmt_base::zep_zepdcmt_base;

  // Builds the configuration rows of this request; the destruction hook
  // releases them.
  void TakeSampleConstructor();
  void TakeSampleDestructor();
  // Offers every configuration row of this request.
  unsigned int TakeSample() override;

 private:
  // The configuration rows built when the object is created; every sample
  // of this request publishes them. Owned by the object.
  ZEPLLST_LinkedList* configRows = nullptr;
};

#endif  // ZEP_TABLES_ZEPDCMT_H_
