// Configuration model: the data collectors' configuration as table rows.
//
// The data-collector configuration file describes each data collector by
// keys that begin with its environment code ("1".."9"), ".", and its server
// name (which may itself contain dots):
//   <env>.<server>.monitor                 "on" | "off"  (the collector exists)
//   <env>.<server>.trace                   "on" | "off"
//   <env>.<server>.log                     "error" | "warning" | "info"
//   <env>.<server>.monitor.control.count   N, then .monitor.control.1..N
//   <env>.<server>.filter.control.count    M, then .filter.control.1..M
//   zep.config.version                     one per file; first 8 characters
//                                          published as TABLEVER
// A control value is "port;operation;client;level-or-action".
//
// This module holds the element of the global settings table ZEPDCT
// (ZEPCTELE_GlobalCfg) and what the three model elements share: the row
// record right after the list element, the blank-filled start, the identity
// columns, the table version and the walk over the configuration that the
// three table builders make. The monitor and filter control elements live in
// zepdcmte.h and zepfctel.h.
//
// Every builder returns a new list that the caller owns and deletes with its
// elements. The lists are snapshots of the file at the time of the call.
//
// Thread-safety: an element is used by one thread at a time. The builders
// take configPropertiesLock, then metricsLogListLock, for the whole build.
#ifndef ZEP_CONFIG_ZEPCTELE_H_
#define ZEP_CONFIG_ZEPCTELE_H_

#include <cstdint>
#include <cstring>
#include <functional>

#include "foundation/zeplelem.h"
#include "foundation/zepllst.h"
#include "foundation/zeprows.h"
#include "foundation/zepstrut.h"

class ZEPPROPS_properties;

// Enumerations of the configuration values (case-insensitive, equal length).
struct ZEPCTELE_enums {
  using Enum = ZEPSTRUT_stringUtil::ENUM_CONSTANT;
  static const Enum MONITOR_ACTIVE_VALUES[2];  // on = 1, off = 0
  static const Enum TRACE_VALUES[2];           // on = 1, off = 0
  static const Enum LOG_VALUES[3];             // info = 3, error = 1, warning = 2
  static const Enum MONITOR_VALUES[4];         // none 1, headers 2, body 3, full 4
};

// The part every model element shares: the row record of its table, right
// after the list element, filled with blanks at construction (so an unset
// text column is all blanks and an unset 16-bit column two blank bytes).
// ORIGINNODE is left for the table sample to fill.
template <typename Row>
class ZEPCTELE_cfgElem : public ZEPLELEM_listElem {
 public:
  Row row;

 protected:
  ZEPCTELE_cfgElem() { std::memset(&row, ' ', sizeof(row)); }

  // APPSRVENV from `envCode` (-1 for a code outside the environment table),
  // HOSTNAME from `hostName` unless it is null, APPSRVNM from `server`; text
  // columns are cut at their width.
  void setIdentity(const char* server, const char* hostName, const char* envCode);
  // TABLEVER = the first 8 characters of "zep.config.version", when present.
  void setTableVersion(const ZEPPROPS_properties* props);

  // Orders by APPSRVNM (all 64 bytes), then APPSRVENV.
  int compareIdentity(const Row& other) const;
};

class ZEPCTELE_GlobalCfg : public ZEPCTELE_cfgElem<zep_zepdct_data_t> {
 public:
  // Only the blank fill.
  ZEPCTELE_GlobalCfg() = default;
  // Blank fill, then setValues.
  ZEPCTELE_GlobalCfg(const char* server, const char* hostName, const char* envCode,
                     ZEPPROPS_properties* props);

  // Fills the row of data collector `envCode`.`server` from `props`:
  // identity, DCONOFF/TRCONOFF/LOGLEVEL from ".monitor"/".trace"/".log"
  // (ZEP0451E, column left as it was, for an absent or unknown value) and
  // TABLEVER. `hostName` may be null (HOSTNAME stays blank).
  void setValues(const char* server, const char* hostName, const char* envCode,
                 ZEPPROPS_properties* props);

  // The key is the row record; equal keys mean the same data collector.
  const void* getElemKey() const override { return &row; }
  int compareKeys(const void* key) const override;

  // One element per data collector (a "<env>.<server>.monitor" key), in file
  // order; a setting the collector lacks shows its default from the template.
  // Neither the configuration nor its file is changed. The caller owns the
  // list.
  static ZEPLLST_LinkedList* getGlobalConfigTable();
};

// The part the monitor and filter control elements share: the control
// number and whether the stored control was usable. The element is its own
// key; equal keys mean the same control of the same data collector.
template <typename Row>
class ZEPCTELE_controlElem : public ZEPCTELE_cfgElem<Row> {
 public:
  int32_t index = 0;  // control number in its list
  bool valid = true;  // false when the control cannot be published

  const void* getElemKey() const override { return this; }
  // Orders by APPSRVNM (64 bytes), APPSRVENV, then index. `key` is another
  // element of the same class.
  int compareKeys(const void* key) const override;

 protected:
  // Sets the identity and number of control `index` of data collector
  // `envCode`.`server` and splits its stored value (key
  // "<env>.<server>.<kind>.control.<index>") at ";" into `fields`. Returns
  // the number of fields, or -1 after marking the element invalid when the
  // control is not stored.
  int readControl(const char* server, const char* hostName, const char* envCode, int index,
                  const char* kind, ZEPPROPS_properties* props,
                  ZEPSTRUT_stringUtil::STRING_PARSE_INFO (&fields)[4]);
};

// Builds the table of the `kind` ("monitor" or "filter") controls through
// ZEPCTELE_buildConfigTable: for every "<env>.<server>.<kind>.control.count"
// key, the controls 1..count of that data collector, each constructed as
// Ctl(server, hostName, envCode, i, props) and kept when it is valid and not
// already listed. A count below 1 adds nothing; the walk never goes beyond
// the number of entries of the configuration, since no more controls can
// exist, however large the count in the file. Returns the list, owned by
// the caller, or null when the locks could not be taken.
template <typename Ctl>
ZEPLLST_LinkedList* ZEPCTELE_controlTable(const char* kind);

// Builds a table from the dispatcher's configuration: takes
// configPropertiesLock then metricsLogListLock (bounded by the calling
// thread's wait limit), reloads the configuration, and calls `add` for every
// key ending with `suffix` whose rest splits at its first "." into an
// environment code and a server name, in file order, with the host name of
// the server's metric log (null without one), the configuration and the
// key's value. `add` may add keys to the configuration. Returns the new
// list, owned by the caller, or null when the locks could not be taken
// within the wait limit (the sample then answers AXO_RC_BUSY).
using ZEPCTELE_addRows =
    std::function<void(ZEPLLST_LinkedList* list, const char* server, const char* hostName,
                       const char* envCode, ZEPPROPS_properties* props, const char* value)>;
ZEPLLST_LinkedList* ZEPCTELE_buildConfigTable(const char* suffix, const ZEPCTELE_addRows& add);

// The agent's origin node and host name as the framework knows them, for
// the columns every configuration row starts with.
struct ZEPCTELE_agentNames {
  const char* origin;  // null when the framework knows none
  unsigned originLength;
  const char* host;  // null when the framework knows none
  unsigned hostLength;

  // Reads both names from the framework.
  static ZEPCTELE_agentNames current();
  // Writes the origin node into ORIGINNODE (blank-padded, cut at 32) and,
  // when HOSTNAME begins with a blank (no metric log named the host), the
  // host name into HOSTNAME.
  void stamp(char (&originnode)[32], char (&hostname)[64]) const;
};

// Offers every configuration row of `rows` (elements of class Elem) to the
// table object `table` through its AddData, one row at a time, after
// stamping ORIGINNODE and HOSTNAME in place. Rejected rows do not stop the
// sample. A null list offers nothing.
template <typename Elem, typename Table>
void ZEPCTELE_publishRows(Table* table, ZEPLLST_LinkedList* rows) {
  if (rows == nullptr) return;
  const ZEPCTELE_agentNames names = ZEPCTELE_agentNames::current();
  for (ZEPLELEM_listElem* e = rows->front(); e != nullptr; e = rows->next(e)) {
    auto& row = static_cast<Elem*>(e)->row;
    names.stamp(row.originnode, row.hostname);
    table->AddData(&row, 1);
  }
}

// Appends `elem` unless `list` holds an element that compares equal to it;
// then deletes it. Returns whether it was appended.
bool ZEPCTELE_appendUnique(ZEPLLST_LinkedList* list, ZEPLELEM_listElem* elem);

#endif  // ZEP_CONFIG_ZEPCTELE_H_
