// Framework-internal links between the process, table and request modules.
// Not part of the API the agent codes against.
#ifndef AXO_SRC_AXO_INTERNAL_H_
#define AXO_SRC_AXO_INTERNAL_H_

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "axo/axo.h"
#include "axo/request.h"

class TableManager;

// State of one situation, shared by its sampler (Dispatch) and the request
// API. Owned by the request API; outlives the sampler.
struct AXO_SituationState {
  std::string name;
  std::string table;
  bool eventDriven = false;    // decided by pushed rows (ZEPMATT)
  int sitnameOffset = -1;      // the SITNAME column, -1 when the table has none
  int sitnameWidth = 0;
  std::vector<axo::ColumnDescription> columns;   // for decoding event rows

  // Written by CheckForException and read by Dispatch, both under the
  // manager lock during an event push.
  bool ownSeen = false;
  bool ownPassed = false;
  std::string ownRow;

  std::mutex mu;               // guards raised and lastChange
  bool raised = false;
  time_t lastChange = 0;
};

namespace axo_internal {

// Moves `state` to `raised`; when that is a change, records an event with
// `row` (a row record of the situation's table, or null) at `when`.
void SetSituationState(AXO_SituationState* state, bool raised, const char* row, time_t when);

// Decodes one row record through `columns`.
axo::Row DecodeRow(const std::vector<axo::ColumnDescription>& columns, const char* row);

// Drops what the catalogue remembers about `manager` (it is being destroyed).
void ForgetTable(TableManager* manager);

// The registered action-command callback, or null.
AXO_CommandCallback CommandCallback();

// The situation timer of omxmain: a thread that calls pollSituations every
// second. Start returns 0 or an error number; stop waits for the thread.
int StartSituationTimer();
void StopSituationTimer();

}  // namespace axo_internal

#endif  // AXO_SRC_AXO_INTERNAL_H_
