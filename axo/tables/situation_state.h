// The state of one situation as its sampler sees it during an event push.
//
// A situation's sampler (a vexor with the state attached) decides the
// situation from the pushed row that names it: CheckForException notes that
// row and whether it passed, and Dispatch hands the outcome to `record`. The
// request API owns the state (it outlives the sampler), creates it, and
// supplies `record`, which keeps the raised flag and the event log: the
// table part only reports, so it never reaches up to the requests.
#ifndef AXO_TABLES_SITUATION_STATE_H_
#define AXO_TABLES_SITUATION_STATE_H_

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "axo/tables/catalog.h"

struct AXO_SituationState {
  std::string name;
  std::string table;
  bool eventDriven = false;  // decided by pushed rows (an event table)
  int sitnameOffset = -1;    // the SITNAME column, -1 when the table has none
  int sitnameWidth = 0;
  std::vector<axo::ColumnDescription> columns;  // for decoding event rows

  // Moves the situation to `raised`, deciding by `row` (a row record of the
  // table, or null) at `when`. Set by the owner before the sampler is on a
  // manager's list; called by Dispatch under the manager lock.
  void (*record)(AXO_SituationState* state, bool raised, const char* row, time_t when) = nullptr;

  // Written by CheckForException and read by Dispatch, both under the
  // manager lock during an event push.
  bool ownSeen = false;
  bool ownPassed = false;
  std::string ownRow;

  std::mutex mu;  // guards raised and lastChange
  bool raised = false;
  time_t lastChange = 0;
};

#endif  // AXO_TABLES_SITUATION_STATE_H_
