// Filter control element: one row of the filter control table ZEPFCT.
//
// A data collector's filter controls are the keys
// "<env>.<server>.filter.control.<i>" for i = 1..count, each
// "port;operation;client;action" (the agent writes the action "reject",
// which is not published).
//
// Thread-safety: as ZEPCTELE_GlobalCfg (zepctele.h).
#ifndef ZEP_CONFIG_ZEPFCTEL_H_
#define ZEP_CONFIG_ZEPFCTEL_H_

#include "config/zepctele.h"
#include "foundation/zeprows.h"

class ZEPFCTEL_FilterCtl : public ZEPCTELE_controlElem<zep_zepfct_data_t> {
 public:
  // Only the blank fill; index 0, valid.
  ZEPFCTEL_FilterCtl() = default;
  // Blank fill, then setValues.
  ZEPFCTEL_FilterCtl(const char* server, const char* hostName, const char* envCode, int index,
                     ZEPPROPS_properties* props);

  // Fills the row from filter control `index` of `envCode`.`server`:
  // identity, FCINDEX, TABLEVER and, for a value of four fields, PORTNAME,
  // OPNAME and RMIPADDR. Marks the element invalid when the key is absent.
  void setValues(const char* server, const char* hostName, const char* envCode, int index,
                 ZEPPROPS_properties* props);

  // One element per filter control, grouped by data collector in file
  // order, then by number. The caller owns the list.
  static ZEPLLST_LinkedList* getFilterCtlTable();
};

#endif  // ZEP_CONFIG_ZEPFCTEL_H_
