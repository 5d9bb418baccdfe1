// Configuration model: building the control tables' rows from the configuration.
#include "config/zepctele.h"

#include <string>

#include "axo/base/osb1.h"
#include "axo/base/trk1.h"
#include "axo/process/axo.h"
#include "config/zepdcmte.h"
#include "config/zepfctel.h"
#include "foundation/zepprops.h"
#include "logs/zepdclog.h"
#include "logs/zepdclst.h"
#include "logs/zepdcset.h"
#include "logs/zepshared.h"

TRK1_UNIT(zepctele_unit, "ZEPCTELE");

using SU = ZEPSTRUT_stringUtil;

const ZEPCTELE_enums::Enum ZEPCTELE_enums::MONITOR_ACTIVE_VALUES[2] = {{"on", 1}, {"off", 0}};
const ZEPCTELE_enums::Enum ZEPCTELE_enums::TRACE_VALUES[2] = {{"on", 1}, {"off", 0}};
const ZEPCTELE_enums::Enum ZEPCTELE_enums::LOG_VALUES[3] = {
    {"info", 3}, {"error", 1}, {"warning", 2}};
const ZEPCTELE_enums::Enum ZEPCTELE_enums::MONITOR_VALUES[4] = {
    {"none", 1}, {"headers", 2}, {"body", 3}, {"full", 4}};

namespace {

const char kConfigVersionKey[] = "zep.config.version";

int length(const char* text) { return text != nullptr ? static_cast<int>(std::strlen(text)) : 0; }

}  // namespace

// --- shared element parts -----------------------------------------------------

template <typename Row>
void ZEPCTELE_cfgElem<Row>::setIdentity(const char* server, const char* hostName,
                                        const char* envCode) {
  row.appsrvenv =
      envCode != nullptr ? ZEPDCLOG_DCMetricsLogFile::envStrToEnum(envCode, length(envCode)) : -1;
  if (hostName != nullptr) {
    SU::strSegmentCopy(row.hostname, sizeof(row.hostname), hostName, length(hostName), false);
  }
  SU::strSegmentCopy(row.appsrvnm, sizeof(row.appsrvnm), server, length(server), false);
}

template <typename Row>
void ZEPCTELE_cfgElem<Row>::setTableVersion(const ZEPPROPS_properties* props) {
  const char* version = props != nullptr ? props->getProperty(kConfigVersionKey) : nullptr;
  if (version == nullptr) return;
  unsigned n = static_cast<unsigned>(length(version));
  if (n > sizeof(row.tablever)) n = sizeof(row.tablever);
  SU::memcpyWithPad(row.tablever, version, n, sizeof(row.tablever), ' ');
}

template <typename Row>
int ZEPCTELE_cfgElem<Row>::compareIdentity(const Row& other) const {
  int rc = std::memcmp(row.appsrvnm, other.appsrvnm, sizeof(row.appsrvnm));
  if (rc != 0) return rc;
  return static_cast<int>(row.appsrvenv) - static_cast<int>(other.appsrvenv);
}

template <typename Row>
int ZEPCTELE_controlElem<Row>::compareKeys(const void* key) const {
  const auto* other = static_cast<const ZEPCTELE_controlElem<Row>*>(key);
  int rc = this->compareIdentity(other->row);
  if (rc != 0) return rc;
  return index < other->index ? -1 : (index > other->index ? 1 : 0);
}

template <typename Row>
int ZEPCTELE_controlElem<Row>::readControl(const char* server, const char* hostName,
                                           const char* envCode, int index, const char* kind,
                                           ZEPPROPS_properties* props,
                                           ZEPSTRUT_stringUtil::STRING_PARSE_INFO (&fields)[4]) {
  this->setIdentity(server, hostName, envCode);
  this->index = index;
  std::string key = std::string(envCode != nullptr ? envCode : "") + "." +
                    (server != nullptr ? server : "") + "." + kind + ".control." +
                    std::to_string(index);
  const char* value = props != nullptr ? props->getProperty(key.c_str()) : nullptr;
  if (value == nullptr) {
    valid = false;
    return -1;
  }
  return ZEPSTRUT_stringUtil::split(value, fields, 4, ';');
}

template <typename Ctl>
ZEPLLST_LinkedList* ZEPCTELE_controlTable(const char* kind) {
  TRK1_FlowScope flow(&zepctele_unit, "controlTable");
  const std::string suffix = std::string(".") + kind + ".control.count";
  ZEPLLST_LinkedList* list = ZEPCTELE_buildConfigTable(
      suffix.c_str(), [](ZEPLLST_LinkedList* rows, const char* server, const char* hostName,
                         const char* envCode, ZEPPROPS_properties* props, const char* value) {
        // Each control is a key of its own, so there cannot be more controls
        // than entries: a huge count in a hand-edited file must not make
        // this spin.
        int count = SU::atoi(value);
        if (count > props->size()) count = props->size();
        for (int i = 1; i <= count; i++) {
          Ctl* control = new Ctl(server, hostName, envCode, i, props);
          if (control->valid) {
            ZEPCTELE_appendUnique(rows, control);
          } else {
            delete control;
          }
        }
      });
  flow.exitWith(list != nullptr ? list->size() : -1);
  return list;
}

template class ZEPCTELE_cfgElem<zep_zepdct_data_t>;
template class ZEPCTELE_cfgElem<zep_zepdcmt_data_t>;
template class ZEPCTELE_cfgElem<zep_zepfct_data_t>;
template class ZEPCTELE_controlElem<zep_zepdcmt_data_t>;
template class ZEPCTELE_controlElem<zep_zepfct_data_t>;
template ZEPLLST_LinkedList* ZEPCTELE_controlTable<ZEPDCMTE_MonitorCtl>(const char*);
template ZEPLLST_LinkedList* ZEPCTELE_controlTable<ZEPFCTEL_FilterCtl>(const char*);

ZEPCTELE_agentNames ZEPCTELE_agentNames::current() {
  const char* origin = AXO_GetOriginnode();
  const char* host = AXO_GetHostname();
  return {origin, static_cast<unsigned>(length(origin)), host, static_cast<unsigned>(length(host))};
}

void ZEPCTELE_agentNames::stamp(char (&originnode)[32], char (&hostname)[64]) const {
  SU::memcpyWithPad(originnode, origin != nullptr ? origin : "",
                    originLength < sizeof(originnode) ? originLength : sizeof(originnode),
                    sizeof(originnode), ' ');
  if (hostname[0] == ' ') {
    SU::memcpyWithPad(hostname, host != nullptr ? host : "",
                      hostLength < sizeof(hostname) ? hostLength : sizeof(hostname),
                      sizeof(hostname), ' ');
  }
}

bool ZEPCTELE_appendUnique(ZEPLLST_LinkedList* list, ZEPLELEM_listElem* elem) {
  if (list->find(elem->getElemKey()) != nullptr) {
    delete elem;
    return false;
  }
  list->push_back(elem);
  return true;
}

ZEPLLST_LinkedList* ZEPCTELE_buildConfigTable(const char* suffix, const ZEPCTELE_addRows& add) {
  ZEPSHARED_agentData::LockBoth locks(OSB1_BOUNDED);
  if (!locks.held()) return nullptr;
  auto* list = new ZEPLLST_LinkedList;
  ZEPPROPS_properties& props = ZEPSHARED_agentData::configProperties;
  // A file that cannot be read is reported by load(); the table then shows
  // what the properties hold.
  props.load();
  int suffixLength = length(suffix);
  // `add` may append keys (never remove any), so the walk stays valid and
  // also sees appended keys, none of which is a new data collector.
  for (ZEPKVPAR_keyValuePair* e = props.front(); e != nullptr; e = props.next(e)) {
    const char* key = e->getKey();
    int keyLength = length(key);
    if (!SU::endsWith(suffix, key, keyLength)) continue;
    std::string stem(key, keyLength - suffixLength);
    size_t dot = stem.find('.');
    if (dot == std::string::npos) continue;
    std::string envCode = stem.substr(0, dot);
    std::string server = stem.substr(dot + 1);
    const ZEPDCLOG_DCMetricsLogFile* log =
        ZEPSHARED_agentData::metricsLogList.findServerLog(server.c_str(), envCode.c_str());
    std::string host = log != nullptr ? log->getHostName() : "";
    std::string value = e->getValue() != nullptr ? e->getValue() : "";
    add(list, server.c_str(), log != nullptr ? host.c_str() : nullptr, envCode.c_str(), &props,
        value.c_str());
  }
  return list;
}

// --- global settings ------------------------------------------------------------

ZEPCTELE_GlobalCfg::ZEPCTELE_GlobalCfg(const char* server, const char* hostName,
                                       const char* envCode, ZEPPROPS_properties* props) {
  setValues(server, hostName, envCode, props);
}

void ZEPCTELE_GlobalCfg::setValues(const char* server, const char* hostName, const char* envCode,
                                   ZEPPROPS_properties* props) {
  setIdentity(server, hostName, envCode);
  struct Setting {
    const char* suffix;
    const ZEPCTELE_enums::Enum* table;
    int rows;
    int16_t* column;
  };
  using E = ZEPCTELE_enums;
  const Setting settings[] = {
      {".monitor", E::MONITOR_ACTIVE_VALUES, 2, &row.dconoff},
      {".trace", E::TRACE_VALUES, 2, &row.trconoff},
      {".log", E::LOG_VALUES, 3, &row.loglevel},
  };
  std::string prefix =
      std::string(envCode != nullptr ? envCode : "") + "." + (server != nullptr ? server : "");
  for (const Setting& s : settings) {
    std::string key = prefix + s.suffix;
    int16_t value = 0;
    if (ZEPPROPS_properties::copyMappedProperty(key.c_str(), props, s.table, s.rows, &value) ==
        nullptr) {
      TRK1_Trace(&zepctele_unit, TRK1_ERROR,
                 "ZEP0451E Unrecognized enum value in properties file, key=%s\n", key.c_str());
      continue;
    }
    std::memcpy(s.column, &value, sizeof(value));
  }
  setTableVersion(props);
}

int ZEPCTELE_GlobalCfg::compareKeys(const void* key) const {
  return compareIdentity(*static_cast<const zep_zepdct_data_t*>(key));
}

ZEPLLST_LinkedList* ZEPCTELE_GlobalCfg::getGlobalConfigTable() {
  TRK1_FlowScope flow(&zepctele_unit, "getGlobalConfigTable");
  ZEPLLST_LinkedList* list = ZEPCTELE_buildConfigTable(
      ".monitor", [](ZEPLLST_LinkedList* rows, const char* server, const char* hostName,
                     const char* envCode, ZEPPROPS_properties* props, const char*) {
        // A read never writes: missing settings show their defaults from a
        // private view, and the configuration and its file stay as they are.
        ZEPPROPS_properties view;
        ZEPDCSET_settings::viewDCProperties(*props, server, envCode, view);
        ZEPCTELE_appendUnique(rows, new ZEPCTELE_GlobalCfg(server, hostName, envCode, &view));
      });
  flow.exitWith(list != nullptr ? list->size() : -1);
  return list;
}
