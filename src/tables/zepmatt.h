// ZEPMATT, the message arrival table: one row per message-count situation.
// Situations on this table are registered with the data computer for the
// life of their table object; state changes are pushed as event rows.
//
// A situation request (sample type 4) names its situation through its
// conditions: RMIPADDR, PORTNAME and OPNAME under "=" (a value of length 0
// or "*" is the wildcard), TMINT (the interval in seconds) and MSGCNT with
// >=, >, <= or < and the limit. RMIPADDR, PORTNAME, TMINT and MSGCNT are
// required; without OPNAME every operation counts. A request whose
// conditions do not describe such a situation registers nothing (ZEP0409E
// names the missing conditions) and still samples.
#ifndef ZEP_TABLES_ZEPMATT_H_
#define ZEP_TABLES_ZEPMATT_H_

#include <string>

#include "tables/zeptable.h"

ZEPTABLE_DECLARE_TABLE(zepmatt, "ZEPMATT");

class ZEPDC_DataComputer;

// The data computer situations on this table register with: set by the
// runtime (not owned) when it makes one, null when it is gone. Without one a
// situation request registers nothing and the table is empty. Thread-safe.
void zep_zepmatt_setDataComputer(ZEPDC_DataComputer* dc);

// The table object of one ZEPMATT request. Created by the table's manager,
// owned by the framework; used by one thread at a time.
class zep_zepmatt_agent : public zep_zepmatt_base {
 public:
  using zep_zepmatt_base::zep_zepmatt_base;

  // Registers the situation of this request with the data computer, if the
  // request is one; the destruction hook removes it again.
  void TakeSampleConstructor();
  void TakeSampleDestructor();
  // Offers one row per registered situation, with ORIGINNODE and HOSTNAME
  // set to the agent's origin node; the request's filter selects among them.
  unsigned int TakeSample() override;

 private:
  bool registered_ = false;  // the constructor hook registered a situation
  std::string originNode_;   // the origin node it was registered under
};

#endif  // ZEP_TABLES_ZEPMATT_H_
