// The framework's in-process request API: queries, situations, the event
// log and action commands. The operator API and the tests use exactly this.
//
// A query makes one request on a table: the manager creates a sampler, the
// sampler takes one sample, and its rows come back decoded through the
// table's column descriptions (text without trailing blanks, integers as
// numbers), in the order the sample produced them.
//
// A situation is a named long-lived request (sample type 4) with filter
// terms. On an event table the agent evaluates it and pushes event rows; the
// sampler's Dispatch raises the situation when the pushed row whose SITNAME
// names it passed the terms, and clears it when that row did not. On every
// other table the framework samples at the situation's interval
// (pollSituations), for every registered subnode, and raises it while any
// row passes. Each change of state is appended to the event log. A table is
// an event table when it has a SITNAME text column.
//
// A query's sampler is not on the manager's vexor list, so pushed event rows
// never mix with a sample; a situation's sampler is, from its creation to
// its deletion.
//
// All functions are thread-safe. None holds a framework lock while it calls
// CreateVexor, TakeSample or a sampler's destructor.
#ifndef AXO_REQUESTS_REQUEST_H_
#define AXO_REQUESTS_REQUEST_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "axo/base/status.h"
#include "axo/tables/catalog.h"

namespace axo {

// Every call that can fail returns a Status (axo/base/status.h): ok, or a code
// (kBadRequest, kNotFound, kConflict, kFailed, kUnavailable, kTooMany) with
// the reason as its message.

struct Query {
  std::string table;
  std::vector<std::string> subnodes;  // with or without trailing blanks
  bool history = false;
  std::vector<FilterTerm> terms;
};

// Runs one query. When ok `rows` holds the sample's rows; otherwise `rows`
// is empty: kUnavailable when the sampler answered AXO_RC_BUSY. A requested subnode that is
// registered is handed to the table in its registered form (blank-padded); a query that names no
// subnode is for every registered subnode, in registration order.
Status runQuery(const Query& query, std::vector<Row>* rows);

// The same query, its rows decoded one at a time as they are read: when ok,
// `*count` rows come out of `*rows`, which owns the sampler and its buffer
// of binary rows until it is destroyed, so that no row exists decoded
// longer than it is used. One caller at a time may read `*rows`, on any
// thread.
Status runQueryRows(const Query& query, size_t* count, RowSource* rows);

struct SituationSpec {
  // 1 to 32 letters, digits, '_', '.' and '-', not "." or "..": a name fits
  // the 32-character SITNAME column of event rows and a URL path segment.
  std::string name;
  std::string table;
  // Seconds, at least 1; at least kMinSampledInterval on a table the
  // framework samples (one without a SITNAME column).
  int interval = 0;
  std::vector<FilterTerm> terms;
};

inline constexpr int kMinSampledInterval = 10;

struct SituationInfo {
  std::string name;
  std::string table;
  int interval = 0;
  bool raised = false;
  time_t lastChange = 0;  // 0 while it never changed
  std::vector<FilterTerm> terms;
};

// Creates a situation. kBadRequest for a name or interval outside the rules
// of SituationSpec (or bad terms), kConflict when the name exists, kTooMany
// when --max-situations situations exist (counting ones being created).
Status createSituation(const SituationSpec& spec);
// Deletes a situation (its sampler is destroyed). kNotFound when unknown.
Status deleteSituation(const std::string& name);
// Every situation, in creation order.
std::vector<SituationInfo> listSituations();

// Parses a situation as the operator API receives it and the situations
// file keeps it: {"name", "table", "interval" (default 60), "conditions":
// [{"attribute", "op", "value" (a text or an integer), "or" (optional)}]},
// at most 64 conditions. The table is upper-cased; names, operators and
// values are checked by createSituation.
Status ParseSituationSpec(const std::string& json, SituationSpec* spec);

// The situations file (--situations-file): the situations a restart must
// not lose. LoadSituations creates every situation `path` holds (nothing
// when there is no file yet) and from then on every creation and deletion
// rewrites the file before it answers (a change that cannot be kept is
// undone and fails). It fails, naming the file and the situation, when the
// file cannot be read or parsed or one of its situations is refused: the
// caller does not start without the situations it was asked to keep.
// Called once, at start, before the situations are used.
Status LoadSituations(const std::string& path);

// Samples every situation on a non-event table whose interval has elapsed
// at `now` (a new situation is due at once). The situation timer calls it
// every second; tests call it directly.
void pollSituations(time_t now);

struct Event {
  int64_t id = 0;  // 1, 2, 3, ... in order of recording
  time_t time = 0;
  std::string situation;
  std::string table;    // the situation's table
  bool raised = false;  // "raised" or "cleared"
  Row row;              // the row that decided it (empty for a clear
                        // on a sampled table)
};

// The events with an id greater than `since`, oldest first. The log keeps
// the latest 10000 events.
std::vector<Event> eventsSince(int64_t since);

// Sends `command` (without prefix) to the registered command callback on the
// calling thread, in a capsule without sampler. Returns ok with the
// command's result in `*rc` and its message in `*message`, kFailed when
// no callback is registered, or kUnavailable when the callback returned
// AXO_RC_BUSY without a result (it could not take the agent's locks in time
// and did nothing).
Status runActionCommand(const std::string& command, long* rc, std::string* message);

// Deletes every situation and clears the event log (tests only).
void resetSituationsForTesting();

}  // namespace axo

#endif  // AXO_REQUESTS_REQUEST_H_
