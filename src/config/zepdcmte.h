// Monitor control element: one row of the monitor control table ZEPDCMT.
//
// A data collector's monitor controls are the keys
// "<env>.<server>.monitor.control.<i>" for i = 1..count, each
// "port;operation;client;level" with level one of none, headers, body, full.
// The client field is not published (the agent always writes "*").
//
// Thread-safety: as ZEPCTELE_GlobalCfg (zepctele.h).
#ifndef ZEP_CONFIG_ZEPDCMTE_H_
#define ZEP_CONFIG_ZEPDCMTE_H_

#include "config/zepctele.h"
#include "foundation/zeprows.h"

class ZEPDCMTE_MonitorCtl : public ZEPCTELE_controlElem<zep_zepdcmt_data_t> {
 public:
  // Only the blank fill; index 0, valid.
  ZEPDCMTE_MonitorCtl() = default;
  // Blank fill, then setValues.
  ZEPDCMTE_MonitorCtl(const char* server, const char* hostName, const char* envCode, int index,
                      ZEPPROPS_properties* props);

  // Fills the row from monitor control `index` of `envCode`.`server`:
  // identity, PORTNAME, OPNAME, MSGLGLVL, MCINDEX, TABLEVER. Marks the
  // element invalid when the key is absent or the level is unknown; a value
  // with fewer than four fields keeps blank text columns and level.
  void setValues(const char* server, const char* hostName, const char* envCode, int index,
                 ZEPPROPS_properties* props);

  // One element per usable monitor control, grouped by data collector in
  // file order, then by number. The caller owns the list.
  static ZEPLLST_LinkedList* getMonitorCtlTable();
};

#endif  // ZEP_CONFIG_ZEPDCMTE_H_
