// Monitor control element: one ZEPDCMT row and its text form.
#include "config/zepdcmte.h"

#include <string>

#include "foundation/zepprops.h"

using SU = ZEPSTRUT_stringUtil;

ZEPDCMTE_MonitorCtl::ZEPDCMTE_MonitorCtl(const char* server, const char* hostName,
                                         const char* envCode, int index,
                                         ZEPPROPS_properties* props) {
  setValues(server, hostName, envCode, index, props);
}

void ZEPDCMTE_MonitorCtl::setValues(const char* server, const char* hostName, const char* envCode,
                                    int index, ZEPPROPS_properties* props) {
  SU::STRING_PARSE_INFO fields[4];
  const int n = readControl(server, hostName, envCode, index, "monitor", props, fields);
  if (n < 0) return;
  if (n == 4) {
    SU::strSegmentCopy(row.portname, sizeof(row.portname), fields[0], false);
    SU::strSegmentCopy(row.opname, sizeof(row.opname), fields[1], false);
    const SU::ENUM_CONSTANT* level =
        SU::mapValue(fields[3].ptr, ZEPCTELE_enums::MONITOR_VALUES, 4, fields[3].len);
    if (level != nullptr) {
      row.msglglvl = level->value;
    } else {
      valid = false;
    }
  }
  row.mcindex = static_cast<int16_t>(index);
  setTableVersion(props);
}

ZEPLLST_LinkedList* ZEPDCMTE_MonitorCtl::getMonitorCtlTable() {
  return ZEPCTELE_controlTable<ZEPDCMTE_MonitorCtl>("monitor");
}
