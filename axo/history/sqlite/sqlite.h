// The embedded history store: one SQLite file in WAL mode (the sqlite3
// shell can read it while the agent writes). The only part that links
// SQLite.
#ifndef AXO_HISTORY_SQLITE_SQLITE_H_
#define AXO_HISTORY_SQLITE_SQLITE_H_

#include <memory>
#include <string>
#include <vector>

#include "axo/base/status.h"
#include "axo/history/store/store.h"

namespace axo {

// The embedded back end: one SQLite file in WAL mode.
std::unique_ptr<HistoryWriter> NewSqliteHistoryWriter();
// The back end's answer to a history query (the checks of HistoryQuery's
// fields other than names are done). A name not in the store is kBadRequest.
Status SqliteHistoryQuery(const HistoryOptions& store, const HistoryQuery& query,
                          HistoryAnswer* answer);

// Runs a read-only SQL statement on the database at `path` and returns its
// rows as text (NULL as ""): the test seam that reads what the store
// holds. kFailed when the file or the statement fails.
Status HistoryReadQuery(const std::string& path, const std::string& sql,
                        std::vector<std::vector<std::string>>* rows);

}  // namespace axo

#endif  // AXO_HISTORY_SQLITE_SQLITE_H_
