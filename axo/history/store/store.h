// The history store interface: what the collector and the history query
// hand a store (options, queries, rows), the writer both back ends
// implement (an embedded SQLite file, a PostgreSQL server many agents
// share), and the helpers both use (the SELECT of a query, time stamps,
// quoting). Neither back end is known here: axo/history/history.cc picks
// one from the location.
#ifndef AXO_HISTORY_STORE_STORE_H_
#define AXO_HISTORY_STORE_STORE_H_

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "axo/base/status.h"
#include "axo/tables/catalog.h"

namespace axo {

struct HistoryOptions {
  std::string path;  // the SQLite file or a libpq connection string
  int intervalSeconds = 300;
  // The deadline of one write or commit to the warehouse, and of each
  // connection attempt to one of its hosts; 0: the interval, at least 10 and
  // at most 60 seconds (WriteTimeoutSeconds). At the deadline the
  // connection is dropped and the rows wait.
  int writeTimeoutSeconds = 0;
  std::vector<std::string> tables;  // the tables collected
  int busyTimeoutMillis = 5000;     // how long a write waits for a reader's lock
  size_t maxPendingRows = 1000000;  // rows kept for a retry, per table
  // The memory those rows may take, per table: the oldest go first when
  // either bound is passed. 256 MiB (about 150,000 rows of 1.7 KiB) keeps
  // two collected tables within the service unit's MemoryMax.
  size_t maxPendingBytes = size_t{256} << 20;
  // Tables keyed by content, with their key columns; an empty list means
  // every column but WRITETIME. A table not named here is a snapshot table.
  // Filled from what the tables' owner declared (TableHistory).
  std::map<std::string, std::vector<std::string>> keys;
  // A table's own-time column; a table not named here goes by WRITETIME.
  // History queries, retention and the warehouse's partitions go by it.
  std::map<std::string, std::string> timeColumns;
  int retainDays = 0;  // rows older than this are removed; 0 keeps all
  // The longest wait before waiting rows are tried again: each retry waits
  // a random time up to twice the last bound (0.5 s first), at most this.
  int reconnectMaxMillis = 10000;
  std::string agentNode;  // the writer's origin node; empty: the agent's
};

// A read of stored history: rows of `table` whose time (HistoryTimeColumn)
// is in [from, to), of the given subnodes (ORIGINNODE; none: all), passing
// every term, in time order. At most `limit` rows; more is kBadRequest.
struct HistoryQuery {
  std::string table;
  time_t from = 0;
  time_t to = 0;
  std::vector<std::string> subnodes;
  std::vector<FilterTerm> terms;
  size_t limit = 10000;
};

// The time column of `table` (WRITETIME when options name none).
std::string HistoryTimeColumn(const HistoryOptions& options, const std::string& table);

// The rows of a history query: `count` of them, WRITETIME and the table's
// columns in table order, read through `next` as the answer is written.
// `next` holds its own connection and snapshot; one caller at a time. It
// throws std::runtime_error when reading fails part-way, so that the answer
// is cut off rather than ended early as if complete.
struct HistoryAnswer {
  size_t count = 0;
  RowSource next;
};

// One row of a sample and the time stamp of its sample (WRITETIME). A row
// of a table without a key is told apart by its sample's random id and its
// place in the sample, so that a retry after a commit of unknown outcome
// stores it once where the store keeps those (the warehouse).
struct HistoryRow {
  std::string writeTime;
  Row row;
  long long sampleId = 0;
  int sampleRow = 0;
};

// Stores history rows. A table named in HistoryOptions::keys is keyed by
// content: a row whose key is already stored is skipped, so a row delivered
// again changes nothing. Every other table keeps every row it is given.
// Not thread-safe: the collector serialises its calls.
class HistoryWriter {
 public:
  virtual ~HistoryWriter() = default;
  // Opens (creating) the store and brings the keyed tables already there to
  // their key. kFailed when the agent must not start (a bad location,
  // rejected credentials, a newer schema). A store that is only out of
  // reach is no failure: the writer traces it and retries in Write.
  Status Open(const HistoryOptions& options) {
    std::string error;
    return Checked(DoOpen(options, &error), error);
  }
  // Stores `rows` of `table` in one transaction, creating the table or the
  // columns it lacks. kFailed when nothing was stored.
  Status Write(const std::string& table, const std::vector<HistoryRow>& rows) {
    std::string error;
    return Checked(DoWrite(table, rows, &error), error);
  }
  // Removes the rows of `table` whose time (HistoryTimeColumn) is before
  // `cutoff`; a back end that stores whole days removes only whole days.
  Status Retain(const std::string& table, time_t cutoff) {
    std::string error;
    return Checked(DoRetain(table, cutoff, &error), error);
  }
  // For tests: runs `sql` on the writer's own connection.
  Status ExecForTesting(const std::string& sql) {
    std::string error;
    return Checked(DoExecForTesting(sql, &error), error);
  }
  // For tests: closes the store and opens it again, read-only if asked.
  Status ReopenForTesting(bool readOnly) {
    std::string error;
    return Checked(DoReopenForTesting(readOnly, &error), error);
  }

 protected:
  // What each back end implements: true, or false with `*error`.
  virtual bool DoOpen(const HistoryOptions& options, std::string* error) = 0;
  virtual bool DoWrite(const std::string& table, const std::vector<HistoryRow>& rows,
                       std::string* error) = 0;
  virtual bool DoRetain(const std::string& table, time_t cutoff, std::string* error) = 0;
  virtual bool DoExecForTesting(const std::string& sql, std::string* error) = 0;
  virtual bool DoReopenForTesting(bool readOnly, std::string* error) = 0;

 private:
  static Status Checked(bool ok, const std::string& error) {
    return ok ? Status::OK() : Status::Failed(error);
  }
};

// True when `location` is a PostgreSQL connection string, a URI
// (postgresql://, postgres://) or keyword/value pairs ("host=a dbname=b":
// it opens with a keyword and '='): the warehouse, not an SQLite file. The
// warehouse checks the string itself when it opens.
bool IsPostgresLocation(const std::string& location);

// `text` (a location, or a message that may quote one) with every password
// replaced by "***": a URI's user:PASSWORD@, a query's password=, a
// keyword/value password= (quoted or not), and any other appearance of a
// password that `location` gives.
std::string MaskPasswords(const std::string& text, const std::string& location = "");

// The write deadline of `options` in seconds (HistoryOptions::writeTimeoutSeconds).
int WriteTimeoutSeconds(const HistoryOptions& options);

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

#endif  // AXO_HISTORY_STORE_STORE_H_
