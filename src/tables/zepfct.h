// ZEPFCT, the filter control table: one row per filter control of a data
// collector, built from the configuration file when a request starts.
#ifndef ZEP_TABLES_ZEPFCT_H_
#define ZEP_TABLES_ZEPFCT_H_

#include "config/zepfctel.h"
#include "tables/zepcfgtab.h"
#include "tables/zeptable.h"

ZEPTABLE_DECLARE_TABLE(zepfct, "ZEPFCT");

// The table object of one ZEPFCT request (tables/zepcfgtab.h). Created by the
// table's manager, owned by the framework; used by one thread at a time.
class zep_zepfct_agent : public ZEPCFGTAB_agent<zep_zepfct_base, ZEPFCTEL_FilterCtl,
                                                &ZEPFCTEL_FilterCtl::getFilterCtlTable> {
 public:
  using ZEPCFGTAB_agent::ZEPCFGTAB_agent;
};

#endif  // ZEP_TABLES_ZEPFCT_H_
