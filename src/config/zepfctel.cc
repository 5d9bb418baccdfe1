// Filter control element: one ZEPFCT row and its text form.
#include "config/zepfctel.h"

#include <string>

#include "axo/base/trk1.h"
#include "foundation/zepprops.h"

TRK1_UNIT(zepfctel_unit, "ZEPFCTEL");

using SU = ZEPSTRUT_stringUtil;

ZEPFCTEL_FilterCtl::ZEPFCTEL_FilterCtl(const char* server, const char* hostName,
                                       const char* envCode, int index, ZEPPROPS_properties* props) {
  setValues(server, hostName, envCode, index, props);
}

void ZEPFCTEL_FilterCtl::setValues(const char* server, const char* hostName, const char* envCode,
                                   int index, ZEPPROPS_properties* props) {
  // A value without four fields is still listed, with blank names, like a
  // malformed monitor control: its number and version are known.
  SU::STRING_PARSE_INFO fields[4];
  const int n = readControl(server, hostName, envCode, index, "filter", props, fields);
  if (n < 0) return;
  if (n == 4) {
    SU::strSegmentCopy(row.portname, sizeof(row.portname), fields[0], false);
    SU::strSegmentCopy(row.opname, sizeof(row.opname), fields[1], false);
    SU::strSegmentCopy(row.rmipaddr, sizeof(row.rmipaddr), fields[2], false);
  }
  row.fcindex = static_cast<int16_t>(index);
  setTableVersion(props);
}

void ZEPFCTEL_FilterCtl::addFilterControls(const char* server, const char* hostName,
                                           const char* envCode, ZEPPROPS_properties* props,
                                           ZEPLLST_LinkedList* list, int count) {
  ZEPCTELE_addControls<ZEPFCTEL_FilterCtl>(server, hostName, envCode, props, list, count);
}

ZEPLLST_LinkedList* ZEPFCTEL_FilterCtl::getFilterCtlTable() {
  TRK1_FlowScope flow(&zepfctel_unit, "getFilterCtlTable");
  ZEPLLST_LinkedList* list = ZEPCTELE_buildConfigTable(
      ".filter.control.count",
      [](ZEPLLST_LinkedList* rows, const char* server, const char* hostName, const char* envCode,
         ZEPPROPS_properties* props, const char* count) {
        addFilterControls(server, hostName, envCode, props, rows, SU::atoi(count));
      });
  flow.exitWith(list != nullptr ? list->size() : -1);
  return list;
}
