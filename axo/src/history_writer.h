// The storage side of the history warehouse: one writer interface, so that a
// back end other than the embedded SQLite file can sit next to it.
#ifndef AXO_SRC_HISTORY_WRITER_H_
#define AXO_SRC_HISTORY_WRITER_H_

#include <memory>
#include <string>
#include <vector>

#include "axo/history.h"
#include "axo/request.h"

namespace axo {

// One row of a sample and the time stamp of its sample (WRITETIME).
struct HistoryRow {
  std::string writeTime;
  Row row;
};

// Stores history rows. A table named in HistoryOptions::keys is keyed by
// content: a row whose key is already stored is skipped, so a row delivered
// again changes nothing. Every other table keeps every row it is given.
// Not thread-safe: the collector serialises its calls.
class HistoryWriter {
 public:
  virtual ~HistoryWriter() = default;
  // Opens (creating) the store and brings the keyed tables already there to
  // their key (duplicates removed, first kept). False with `*error`.
  virtual bool Open(const HistoryOptions& options, std::string* error) = 0;
  // Stores `rows` of `table` in one transaction, creating the table or the
  // columns it lacks. False with `*error` when nothing was stored.
  virtual bool Write(const std::string& table, const std::vector<HistoryRow>& rows,
                     std::string* error) = 0;
  // For tests: runs `sql` on the writer's own connection.
  virtual bool ExecForTesting(const std::string& sql, std::string* error) = 0;
  // For tests: closes the store and opens it again, read-only if asked.
  virtual bool ReopenForTesting(bool readOnly, std::string* error) = 0;
};

// The embedded back end: one SQLite file in WAL mode.
std::unique_ptr<HistoryWriter> NewSqliteHistoryWriter();

}  // namespace axo

#endif  // AXO_SRC_HISTORY_WRITER_H_
