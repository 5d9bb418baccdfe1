// ZEPFCT, the filter control table: one row per filter control of a data
// collector, built from the configuration file when a request starts.
#ifndef ZEP_TABLES_ZEPFCT_H_
#define ZEP_TABLES_ZEPFCT_H_

#include "tables/zeptable.h"

class ZEPLLST_LinkedList;

ZEPTABLE_DECLARE_TABLE(zepfct, "ZEPFCT");

// The table object of one ZEPFCT request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
class zep_zepfct_agent : public zep_zepfct_base {
 public:
  using zep_zepfct_base::zep_zepfct_base;

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

#endif  // ZEP_TABLES_ZEPFCT_H_
