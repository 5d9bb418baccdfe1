// Filter control element: one ZEPFCT row and its text form.
#include "config/zepfctel.h"

#include <string>

#include "foundation/zepprops.h"

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

ZEPLLST_LinkedList* ZEPFCTEL_FilterCtl::getFilterCtlTable() {
  return ZEPCTELE_controlTable<ZEPFCTEL_FilterCtl>("filter");
}
