// The framework's history warehouse: every interval the collector makes one
// history request per listed table (history flag set, every registered
// subnode) and appends the rows to a table of the same name, one column per
// attribute plus WRITETIME (the 16-character UTC time stamp of the write),
// in one transaction per sample. The store is a SQLite file in WAL mode (so
// the sqlite3 shell can read it while the agent writes), or, when the
// location is a libpq connection string (a postgresql:// or postgres://
// URI, or keyword/value pairs), a PostgreSQL warehouse
// many agents share: there each row also holds the writing agent's origin
// node (AGENTNODE) and its own time (ROWTIME, see HistoryTimeColumn), and
// tables are partitioned by day of ROWTIME.
//
// Tables derived from records are keyed by content (HistoryOptions::keys):
// a row delivered again, after a restart for instance, is stored once, and
// two identical records make one row. Snapshot tables keep one row per
// sample. Rows of a sample whose write failed (disk full, read-only file)
// are kept in memory up to a bound and written with the next sample; the
// failure is traced once per streak, and so is the recovery. Waiting rows
// are tried again between intervals too, after a random wait of at most
// HistoryOptions::reconnectMaxMillis.
#ifndef AXO_HISTORY_HISTORY_H_
#define AXO_HISTORY_HISTORY_H_

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "axo/base/status.h"
#include "axo/history/store/store.h"
#include "axo/requests/request.h"

namespace axo {

// Runs `query` on the store of the running collector (StartHistory).
// kNotFound when no history is collected or the table is not one the
// framework publishes (describeTable); kBadRequest for a table without
// history, an unknown attribute, a value that does not fit its column, or
// more rows than the limit. Thread-safe: each call reads on a connection of its own.
Status RunHistoryQuery(const HistoryQuery& query, HistoryAnswer* answer);
// For tests: makes RunHistoryQuery read `store` (an empty path: none).
void SetHistoryStoreForTesting(const HistoryOptions& store);

// Splits "A,B,C" into upper-case table names; blanks around names are dropped.
std::vector<std::string> ParseTableList(const std::string& text);

// Collects history into one database. Thread-safe: CollectOnce may be called
// by tests while no thread runs, or by the collector's own thread.
class HistoryCollector {
 public:
  HistoryCollector();
  ~HistoryCollector();  // stops the thread, closes the database
  HistoryCollector(const HistoryCollector&) = delete;
  HistoryCollector& operator=(const HistoryCollector&) = delete;

  // Opens (creating) the database and switches it to WAL. Returns kFailed
  // when it cannot be opened. Tables are created on first write.
  Status Open(const HistoryOptions& options);
  // One collection: one history request per table, one transaction per
  // table. `now` stamps WRITETIME. Returns the number of rows written (those
  // of earlier failed samples included), or -1 when any write failed.
  long CollectOnce(time_t now);
  // Writes the rows that wait after a failed write, without a new sample:
  // what the thread does between collections, after a random wait that
  // grows to HistoryOptions::reconnectMaxMillis. Returns as CollectOnce.
  long RetryPending();
  // Runs CollectOnce every interval on a thread of its own until Stop.
  Status StartThread();
  // Changes the interval (at least 1 second); the running thread's next
  // wait starts over with it. Thread-safe.
  void SetInterval(int seconds);
  void Stop();
  // For tests: runs `sql` on the writer's connection (e.g. PRAGMA
  // max_page_count to fill the disk), or reopens the file read-only or not.
  Status ExecForTesting(const std::string& sql);
  Status ReopenForTesting(bool readOnly);

 private:
  long Collect(time_t now, bool sample);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The framework's collector: opens the store `options` names and collects
// on a thread of its own until StopHistory; history queries
// (RunHistoryQuery) read that store. `tablesText` is the table list as the
// operator gave it, for the trace. A store that cannot be opened (a bad
// URI, rejected credentials, a newer schema) is kFailed; a warehouse out
// of reach is traced and retried. A second start while one runs does
// nothing.
Status StartHistory(const HistoryOptions& options, const std::string& tablesText);
void StopHistory();
// Changes the running collector's interval (a reload of the options);
// nothing when no history is collected. Thread-safe.
void SetHistoryInterval(int seconds);

}  // namespace axo

#endif  // AXO_HISTORY_HISTORY_H_
