// ZEPDCT, the data-collector global settings table: one row per data
// collector, built from the configuration file when a request starts.
#ifndef ZEP_TABLES_ZEPDCT_H_
#define ZEP_TABLES_ZEPDCT_H_

#include "config/zepctele.h"
#include "tables/zepcfgtab.h"
#include "tables/zeptable.h"

ZEPTABLE_DECLARE_TABLE(zepdct, "ZEPDCT");

// The table object of one ZEPDCT request (tables/zepcfgtab.h). Created by the
// table's manager, owned by the framework; used by one thread at a time.
class zep_zepdct_agent : public ZEPCFGTAB_agent<zep_zepdct_base, ZEPCTELE_GlobalCfg,
                                                &ZEPCTELE_GlobalCfg::getGlobalConfigTable> {
 public:
  using ZEPCFGTAB_agent::ZEPCFGTAB_agent;
};

#endif  // ZEP_TABLES_ZEPDCT_H_
