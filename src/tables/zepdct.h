// ZEPDCT, the data-collector global settings table: one row per data
// collector, built from the configuration file when a request starts.
#ifndef ZEP_TABLES_ZEPDCT_H_
#define ZEP_TABLES_ZEPDCT_H_

#include "tables/zeptable.h"

class ZEPLLST_LinkedList;

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
