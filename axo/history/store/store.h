// The storage side of the history warehouse: one writer interface with two
// back ends (an embedded SQLite file, a PostgreSQL server many agents share),
// and the helpers both use. Framework-internal.
#ifndef AXO_SRC_HISTORY_WRITER_H_
#define AXO_SRC_HISTORY_WRITER_H_

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "axo/history/history.h"
#include "axo/requests/request.h"

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
  // their key. False with `*error` when the agent must not start (a bad
  // location, rejected credentials, a newer schema). A store that is only
  // out of reach is no failure: the writer traces it and retries in Write.
  virtual bool Open(const HistoryOptions& options, std::string* error) = 0;
  // Stores `rows` of `table` in one transaction, creating the table or the
  // columns it lacks. False with `*error` when nothing was stored.
  virtual bool Write(const std::string& table, const std::vector<HistoryRow>& rows,
                     std::string* error) = 0;
  // Removes the rows of `table` whose time (HistoryTimeColumn) is before
  // `cutoff`; a back end that stores whole days removes only whole days.
  virtual bool Retain(const std::string& table, time_t cutoff, std::string* error) = 0;
  // For tests: runs `sql` on the writer's own connection.
  virtual bool ExecForTesting(const std::string& sql, std::string* error) = 0;
  // For tests: closes the store and opens it again, read-only if asked.
  virtual bool ReopenForTesting(bool readOnly, std::string* error) = 0;
};

// The embedded back end: one SQLite file in WAL mode.
std::unique_ptr<HistoryWriter> NewSqliteHistoryWriter();
// The warehouse back end: a PostgreSQL server, HistoryOptions::path being a
// connection URI. Tables are partitioned by day on the row's own time.
std::unique_ptr<HistoryWriter> NewPostgresHistoryWriter();

// True when `location` is a PostgreSQL connection URI.
bool IsPostgresLocation(const std::string& location);

// The back ends' answers to a history query (the checks of HistoryQuery's
// fields other than names are done). A name not in the store is kBadRequest.
Status SqliteHistoryQuery(const HistoryOptions& store, const HistoryQuery& query,
                          HistoryAnswer* answer);
Status PostgresHistoryQuery(const HistoryOptions& store, const HistoryQuery& query,
                            HistoryAnswer* answer);

// A stored column of a history table, as queries see it.
struct HistoryColumn {
  std::string name;
  bool integer = false;
};
// The SELECT of a history query and its parameters, all text.
struct HistorySelect {
  std::string sql;
  std::string countSql;  // the number of rows `sql` answers, up to the limit + 1
  std::vector<std::string> params;
  std::vector<HistoryColumn> columns;  // of each answered row, in order
};
// Builds the SELECT of `query` over `stored` (the columns a query may name
// and answers; empty: no such table). `timeColumn` is the quoted column
// the range applies to, `from` and `to` its bounds as the store writes
// times; `placeholder` is "?" or "$" (numbered: $1, $2, ...). Names not in
// `stored` and values that do not fit their column are kBadRequest. It asks
// for one row beyond the limit, for CheckHistoryLimit.
Status BuildHistorySelect(const HistoryQuery& query, const std::vector<HistoryColumn>& stored,
                          const std::string& timeColumn, const std::string& from,
                          const std::string& to, const std::string& placeholder,
                          HistorySelect* out);
// kBadRequest when `count` rows are more than the limit.
Status CheckHistoryLimit(const HistoryQuery& query, size_t count);
// Fills `*row` with `columns`, each value from `text(i)` (text, length).
void FillHistoryRow(const std::vector<HistoryColumn>& columns,
                    const std::function<std::pair<const char*, size_t>(int)>& text, Row* row);

// The 16-character UTC time stamp "CYYMMDDHHMMSSmmm" of the tables, and
// back; ParseHistoryStamp is false for a text that is not one.
std::string HistoryStamp(time_t t);
bool ParseHistoryStamp(const std::string& stamp, time_t* t, int* millis);

// An SQL identifier in double quotes.
std::string QuoteName(const std::string& name);

}  // namespace axo

#endif  // AXO_SRC_HISTORY_WRITER_H_
