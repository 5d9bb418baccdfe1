// ZEPDCMT, the monitor control table: one row per monitor control of a data
// collector, built from the configuration file when a request starts.
#ifndef ZEP_TABLES_ZEPDCMT_H_
#define ZEP_TABLES_ZEPDCMT_H_

#include "config/zepdcmte.h"
#include "tables/zepcfgtab.h"
#include "tables/zeptable.h"

ZEPTABLE_DECLARE_TABLE(zepdcmt, "ZEPDCMT");

// The table object of one ZEPDCMT request (tables/zepcfgtab.h). Created by the
// table's manager, owned by the framework; used by one thread at a time.
class zep_zepdcmt_agent : public ZEPCFGTAB_agent<zep_zepdcmt_base, ZEPDCMTE_MonitorCtl,
                                                 &ZEPDCMTE_MonitorCtl::getMonitorCtlTable> {
 public:
  using ZEPCFGTAB_agent::ZEPCFGTAB_agent;
};

#endif  // ZEP_TABLES_ZEPDCMT_H_
