// ZEPDCT, the data-collector global settings table: one row per data
// collector, built from the configuration file when a request starts.
#ifndef ZEP_TABLES_ZEPDCT_H_
#define ZEP_TABLES_ZEPDCT_H_

#include "zeptable.h"

class ZEPLLST_LinkedList;

#define ZEPDCT_COLUMNS(X)                      \
  X(ORIGINNODE, originnode, TEXT, 32, 0)       \
  X(HOSTNAME, hostname, TEXT, 64, 32)          \
  X(APPSRVENV, appsrvenv, SHORT, 2, 96)        \
  X(APPSRVNM, appsrvnm, TEXT, 64, 98)          \
  X(DCONOFF, dconoff, SHORT, 2, 162)           \
  X(TRCONOFF, trconoff, SHORT, 2, 164)         \
  X(LOGLEVEL, loglevel, SHORT, 2, 166)         \
  X(TABLEVER, tablever, TEXT, 8, 168)

ZEPTABLE_DEFINE_ROW(zep_zepdct_data_t, ZEPDCT_COLUMNS, 176);

ZEPTABLE_DECLARE_TABLE(zepdct, "ZEPDCT");

// The table object of one ZEPDCT request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
class zep_zepdct_agent : public zep_zepdct_base {
 public:
  using zep_zepdct_base::zep_zepdct_base;

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

#endif  // ZEP_TABLES_ZEPDCT_H_
