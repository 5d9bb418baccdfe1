// The PostgreSQL back end of the history warehouse, through libpq.
//
// Every history table is partitioned by range on ROWTIME (the row's own
// time, HistoryTimeColumn), one partition per day, named TABLE_YYYYMMDD.
// A keyed table's unique index holds ROWTIME and AGENTNODE before its key
// columns (a unique index of a partitioned table must hold the partition
// column), so many agents share a table and a row delivered again is skipped.
// A batch is copied into a temporary table and inserted from there with ON
// CONFLICT DO NOTHING, which COPY alone cannot do, all in one transaction.
// Schema changes run under one advisory lock, so agents starting together
// do not race to create the same table or partition.
#include "axo/history/postgres/postgres.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <stdexcept>

#include "axo/base/testpause.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/history/store/store.h"

TRK1_UNIT(axohpg_unit, "AXOHPG");

namespace axo {
namespace {

// The schema this agent writes. A warehouse of a newer one is refused.
constexpr int kSchemaVersion = 1;
constexpr const char* kVersionTable = "zep_history_schema";
// The advisory lock key of schema changes ("zephist" in ASCII).
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(31093251334367604)";
// COPY text is sent in pieces of about this many bytes as it is made.
constexpr size_t kCopyPiece = 256 << 10;

using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;

Result Exec(PGconn* conn, const std::string& sql, const std::vector<std::string>& params = {}) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  return Result(PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                             values.data(), nullptr, nullptr, 0),
                PQclear);
}

bool Ok(const Result& r, std::string* error) {
  ExecStatusType s = PQresultStatus(r.get());
  if (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_COPY_IN) return true;
  const std::string_view message = axo_internal::TrimSpace(PQresultErrorMessage(r.get()));
  *error = message.empty() ? "the server connection failed" : std::string(message);
  return false;
}

// Connects to `uri`. An attempt gives up after 10 seconds unless the URI
// says otherwise, so that a warehouse out of reach never holds the
// collector for long.
PGconn* ConnectTo(const std::string& uri) {
  const char* const keys[] = {"connect_timeout", "dbname", nullptr};
  const char* const values[] = {"10", uri.c_str(), nullptr};
  return PQconnectdbParams(keys, values, 1);  // the URI's own settings come later and win
}

std::string ConnectionError(PGconn* conn) {
  return conn != nullptr ? std::string(axo_internal::TrimSpace(PQerrorMessage(conn)))
                         : "out of memory";
}

// True when a failed connection attempt reached no server that answered
// (refused, unresolved, timed out, starting or stopping): the agent starts
// and retries. Anything else (credentials or a database refused, a bad
// parameter) is a configuration fault.
bool OutOfReach(const std::string& message) {
  for (const char* sign :
       {"Connection refused", "timeout expired", "could not translate host", "No route to host",
        "Network is unreachable", "starting up", "shutting down", "No such file or directory",
        "server closed the connection", "Connection timed out",
        "Temporary failure in name resolution"}) {
    if (message.find(sign) != std::string::npos) return true;
  }
  return false;
}

// Appends "YYYY-MM-DD HH:MM:SS.mmm+00" of time `t` and `millis`.
void AppendIso(time_t t, int millis, std::string* out) {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[48];
  snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d.%03d+00", tm.tm_year + 1900,
           tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
  out->append(buf);
}

// A timestamptz literal of `t`.
std::string IsoTime(time_t t) { return axo_internal::UtcTime(t, "%Y-%m-%d %H:%M:%S+00"); }

// The partition of `table` holding day `day` (a midnight), TABLE_YYYYMMDD.
std::string PartitionName(const std::string& table, time_t day) {
  return table + axo_internal::UtcTime(day, "_%Y%m%d");
}

// Appends `text` as a field of COPY's text format.
void AppendCopyField(const std::string& text, std::string* out) {
  for (char c : text) {
    switch (c) {
      case '\\':
        out->append("\\\\");
        break;
      case '\t':
        out->append("\\t");
        break;
      case '\n':
        out->append("\\n");
        break;
      case '\r':
        out->append("\\r");
        break;
      default:
        out->push_back(c);
    }
  }
}

class PostgresHistoryWriter : public HistoryWriter {
 public:
  ~PostgresHistoryWriter() override { Close(); }

 protected:
  bool DoOpen(const HistoryOptions& options, std::string* error) override {
    options_ = options;
    agent_ = options.agentNode;
    char* message = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(options.path.c_str(), &message);
    if (parsed == nullptr) {
      *error = "bad history warehouse URI: " +
               std::string(axo_internal::TrimSpace(message != nullptr ? message : ""));
      PQfreemem(message);
      return false;
    }
    PQconninfoFree(parsed);
    std::string why;
    if (Connect(&why)) return true;
    if (!OutOfReach(why) || fatal_) {
      *error = "cannot use the history warehouse: " + why;
      return false;
    }
    TRK1_Printf(&axohpg_unit, __LINE__,
                "AXO0210W The history warehouse is out of reach (%s); the agent starts and "
                "retries",
                why.c_str());
    return true;
  }

  bool DoWrite(const std::string& table, const std::vector<HistoryRow>& rows,
               std::string* error) override {
    if (!Connected(error)) return false;
    bool ok = Ok(Exec(conn_, "BEGIN"), error) && Stage(table, rows, error);
    if (ok) {
      AXO_TestPausePoint("history-write");  // rows inserted, not yet committed
      ok = Ok(Exec(conn_, "COMMIT"), error);
    }
    if (!ok) Failed();
    return ok;
  }

  // Drops the day partitions that end at or before `cutoff`.
  bool DoRetain(const std::string& table, time_t cutoff, std::string* error) override {
    if (!Connected(error)) return false;
    Result r = Exec(conn_,
                    "SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid "
                    "JOIN pg_class p ON p.oid = i.inhparent WHERE p.relname = $1",
                    {table});
    if (!Ok(r, error)) return Failed();
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      std::string name = PQgetvalue(r.get(), i, 0);
      struct tm tm = {};
      if (name.size() != table.size() + 9 ||
          strptime(name.c_str() + table.size() + 1, "%Y%m%d", &tm) == nullptr) {
        continue;  // not one of ours
      }
      if (timegm(&tm) + 86400 > cutoff) continue;
      if (!Ok(Exec(conn_, "DROP TABLE IF EXISTS " + QuoteName(name)), error)) return Failed();
      partitions_.erase(name);
      TRK1_Printf(&axohpg_unit, __LINE__, "AXO0211I History partition %s dropped", name.c_str());
    }
    return true;
  }

  bool DoExecForTesting(const std::string& sql, std::string* error) override {
    if (!Connected(error)) return false;
    return Ok(Exec(conn_, sql), error) || Failed();
  }

  bool DoReopenForTesting(bool, std::string* error) override {
    Close();
    nextAttempt_ = {};
    return Connect(error);
  }

 private:
  void Close() {
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
    tables_.clear();
    partitions_.clear();
  }

  // After a failed statement: rolls back, or drops a connection that broke
  // so that the next write reconnects. Returns false.
  bool Failed() {
    if (conn_ == nullptr) return false;
    if (PQstatus(conn_) != CONNECTION_OK) {
      Close();
      return false;
    }
    if (PQtransactionStatus(conn_) != PQTRANS_IDLE) Exec(conn_, "ROLLBACK");
    tables_.clear();  // a rolled-back CREATE or ALTER is made again
    partitions_.clear();
    return false;
  }

  // Connects unless connected; waits out the backoff after a failed attempt.
  bool Connected(std::string* error) {
    if (conn_ != nullptr) return true;
    if (fatal_) {
      *error = fatalError_;
      return false;
    }
    if (std::chrono::steady_clock::now() < nextAttempt_) {
      *error = "the history warehouse is out of reach (" + lastError_ + "); retrying";
      return false;
    }
    return Connect(error);
  }

  bool Connect(std::string* error) {
    conn_ = ConnectTo(options_.path);
    if (PQstatus(conn_) != CONNECTION_OK) {
      *error = ConnectionError(conn_);
      PQfinish(conn_);
      conn_ = nullptr;
      return Backoff(*error);
    }
    Exec(conn_, "SET client_min_messages = warning");
    if (!CheckSchema(error)) {
      Failed();
      Close();
      return Backoff(*error);
    }
    backoffMillis_ = 0;
    return true;
  }

  // Records a failed attempt: the next one waits twice as long, up to the
  // bound. Returns false.
  bool Backoff(const std::string& why) {
    lastError_ = why;
    backoffMillis_ = std::clamp(backoffMillis_ * 2, 500, std::max(options_.reconnectMaxMillis, 0));
    nextAttempt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(backoffMillis_);
    return false;
  }

  // Creates the version table on first use; a newer version is refused
  // for good (fatal_).
  bool CheckSchema(std::string* error) {
    std::string table = QuoteName(kVersionTable);
    bool ok = Ok(Exec(conn_, "BEGIN"), error) && Ok(Exec(conn_, kSchemaLock), error) &&
              Ok(Exec(conn_, "CREATE TABLE IF NOT EXISTS " + table + " (version integer NOT NULL)"),
                 error);
    if (!ok) return false;
    Result r = Exec(conn_, "SELECT max(version) FROM " + table);
    if (!Ok(r, error)) return false;
    if (PQgetisnull(r.get(), 0, 0)) {
      if (!Ok(Exec(conn_, "INSERT INTO " + table + " VALUES ($1)",
                   {std::to_string(kSchemaVersion)}),
              error)) {
        return false;
      }
    } else if (atoi(PQgetvalue(r.get(), 0, 0)) > kSchemaVersion) {
      *error = "the history warehouse has schema version " +
               std::string(PQgetvalue(r.get(), 0, 0)) + ", newer than version " +
               std::to_string(kSchemaVersion) + " this agent writes; upgrade the agent";
      fatal_ = true;
      fatalError_ = *error;
      return false;
    }
    return Ok(Exec(conn_, "COMMIT"), error);
  }

  // Takes the schema lock once per transaction, before the first change.
  bool Lock(bool* locked, std::string* error) {
    if (*locked) return true;
    *locked = true;
    return Ok(Exec(conn_, kSchemaLock), error);
  }

  // Creates `table` with the columns of `row`, or adds the columns it lacks.
  bool EnsureTable(const std::string& table, const std::vector<std::string>& names,
                   const std::vector<bool>& integer, bool* locked, std::string* error) {
    std::set<std::string>& known = tables_[table];
    bool complete = !known.empty();
    for (const std::string& n : names) complete = complete && known.count(n) > 0;
    if (complete) return true;
    if (!Lock(locked, error)) return false;
    auto column = [&](size_t i) {
      return QuoteName(names[i]) + (integer[i] ? " bigint" : " text");
    };
    std::string create = "CREATE TABLE IF NOT EXISTS " + QuoteName(table) +
                         " (\"ROWTIME\" timestamptz NOT NULL, \"AGENTNODE\" text NOT NULL, "
                         "\"WRITETIME\" text NOT NULL";
    for (size_t i = 0; i < names.size(); ++i) create += ", " + column(i);
    if (!Ok(Exec(conn_, create + ") PARTITION BY RANGE (\"ROWTIME\")"), error)) return false;
    for (size_t i = 0; i < names.size(); ++i) {
      if (!Ok(Exec(conn_,
                   "ALTER TABLE " + QuoteName(table) + " ADD COLUMN IF NOT EXISTS " + column(i)),
              error)) {
        return false;
      }
    }
    auto spec = options_.keys.find(table);
    if (spec != options_.keys.end()) {
      std::string key = "\"ROWTIME\",\"AGENTNODE\"";
      for (const std::string& n : spec->second.empty() ? names : spec->second) {
        key += "," + QuoteName(n);
      }
      if (!Ok(Exec(conn_, "CREATE UNIQUE INDEX IF NOT EXISTS " + QuoteName(table + "_KEY") +
                              " ON " + QuoteName(table) + " (" + key + ") NULLS NOT DISTINCT"),
              error)) {
        return false;
      }
    }
    known.insert(names.begin(), names.end());
    return true;
  }

  bool EnsurePartition(const std::string& table, time_t day, bool* locked, std::string* error) {
    std::string name = PartitionName(table, day);
    if (partitions_.count(name) > 0) return true;
    if (!Lock(locked, error)) return false;
    if (!Ok(Exec(conn_, "CREATE TABLE IF NOT EXISTS " + QuoteName(name) + " PARTITION OF " +
                            QuoteName(table) + " FOR VALUES FROM ('" + IsoTime(day) + "') TO ('" +
                            IsoTime(day + 86400) + "')"),
            error)) {
      return false;
    }
    partitions_.insert(name);
    return true;
  }

  // Copies `rows` straight into the table; when one is stored already,
  // into a temporary table and inserts them from there.
  bool Stage(const std::string& table, const std::vector<HistoryRow>& rows, std::string* error) {
    // The columns of the batch, in first-seen order, and each row's time:
    // its day's partition must exist before the copy starts.
    std::vector<std::string> names;
    std::vector<bool> integer;
    std::map<std::string, size_t> index;
    for (const HistoryRow& r : rows) {
      for (const auto& [attribute, value] : r.row) {
        if (index.emplace(attribute, names.size()).second) {
          names.push_back(attribute);
          integer.push_back(!value.isText);
        }
      }
    }
    const std::string timeColumn = HistoryTimeColumn(options_, table);
    std::vector<std::pair<time_t, int>> times(rows.size());
    std::set<time_t> days;
    std::string stamp;  // the WRITETIME of the rows before: all of a sample share one
    time_t written = 0;
    for (size_t at = 0; at < rows.size(); ++at) {
      const HistoryRow& r = rows[at];
      if (r.writeTime != stamp) {
        stamp = r.writeTime;
        int millis;
        if (!ParseHistoryStamp(stamp, &written, &millis)) written = 0;
        days.insert(written - written % 86400 + 86400);  // the next day's partition, made ahead
      }
      const std::string* text = &r.writeTime;
      for (const auto& [attribute, value] : r.row) {
        if (attribute == timeColumn) text = &value.text;
      }
      auto& [t, millis] = times[at];
      millis = 0;
      if (!ParseHistoryStamp(*text, &t, &millis)) t = written;
      days.insert(t - t % 86400);
    }
    bool locked = false;
    if (!EnsureTable(table, names, integer, &locked, error)) return false;
    for (time_t day : days) {
      if (!EnsurePartition(table, day, &locked, error)) return false;
    }
    std::string columns = "\"ROWTIME\",\"AGENTNODE\",\"WRITETIME\"";
    for (const std::string& n : names) columns += "," + QuoteName(n);
    // Rows new to the table, the usual case, are copied straight in, the
    // text sent in pieces as it is made so that the server stores rows
    // while the rest are made. When one is there already (delivered again)
    // the copy fails whole; the rows are then copied into a temporary table
    // and inserted from there, skipping those stored.
    const std::string target = QuoteName(table) + " (" + columns + ")";
    if (!Ok(Exec(conn_, "SAVEPOINT zep_copy"), error)) return false;
    if (!Ok(Exec(conn_, "COPY " + target + " FROM STDIN"), error)) return false;
    std::string copy;
    size_t sent = 0;
    bool sending = true;
    std::vector<const Value*> fields(names.size());
    for (size_t at = 0; at < rows.size(); ++at) {
      const HistoryRow& r = rows[at];
      std::fill(fields.begin(), fields.end(), nullptr);
      for (size_t i = 0; i < r.row.size(); ++i) {
        const auto& [attribute, value] = r.row[i];  // rows of a table share their order
        fields[i < names.size() && names[i] == attribute ? i : index[attribute]] = &value;
      }
      AppendIso(times[at].first, times[at].second, &copy);
      copy.push_back('\t');
      AppendCopyField(agent_, &copy);
      copy.push_back('\t');
      AppendCopyField(r.writeTime, &copy);
      for (const Value* v : fields) {
        copy.push_back('\t');
        if (v == nullptr) {
          copy.append("\\N");
        } else if (v->isText) {
          AppendCopyField(v->text, &copy);
        } else {
          copy.append(std::to_string(v->number));
        }
      }
      copy.push_back('\n');
      // A server that refused a row takes no more of the copy: the rest is
      // still made, for the temporary table, and the ending tells why.
      if (sending && copy.size() - sent >= kCopyPiece) sending = Put(copy, &sent);
    }
    if (sending) sending = Put(copy, &sent);
    std::string why;
    bool duplicate = false;
    if (EndCopy(&why, &duplicate) && sending) {
      return Ok(Exec(conn_, "RELEASE SAVEPOINT zep_copy"), error);
    }
    if (!duplicate) {
      *error = why.empty() ? ConnectionError(conn_) : why;
      return false;
    }
    if (!Ok(Exec(conn_, "ROLLBACK TO SAVEPOINT zep_copy"), error) ||
        !Ok(Exec(conn_,
                 "CREATE TEMP TABLE zep_stage (LIKE " + QuoteName(table) + ") ON COMMIT DROP"),
            error) ||
        !Ok(Exec(conn_, "COPY zep_stage (" + columns + ") FROM STDIN"), error)) {
      return false;
    }
    sent = 0;
    sending = Put(copy, &sent);
    const bool ended = EndCopy(error, &duplicate);
    if (!ended || !sending) {
      if (ended) *error = ConnectionError(conn_);
      return false;
    }
    return Ok(Exec(conn_, "INSERT INTO " + target + " SELECT " + columns +
                              " FROM zep_stage ON CONFLICT DO NOTHING"),
              error);
  }

  // Sends `data` from `*sent` on to the COPY in progress and advances
  // `*sent`; false when the server takes no more (EndCopy tells why).
  bool Put(const std::string& data, size_t* sent) {
    if (*sent == data.size()) return true;
    if (PQputCopyData(conn_, data.data() + *sent, static_cast<int>(data.size() - *sent)) != 1) {
      return false;
    }
    *sent = data.size();
    return true;
  }

  // Ends the COPY in progress. `*duplicate` tells a failure by a row
  // already stored.
  bool EndCopy(std::string* error, bool* duplicate) {
    *duplicate = false;
    if (PQputCopyEnd(conn_, nullptr) != 1 && PQstatus(conn_) == CONNECTION_BAD) {
      *error = ConnectionError(conn_);
      return false;
    }
    Result end(PQgetResult(conn_), PQclear);
    while (PGresult* extra = PQgetResult(conn_)) PQclear(extra);
    const char* state = PQresultErrorField(end.get(), PG_DIAG_SQLSTATE);
    *duplicate = state != nullptr && std::string(state) == "23505";  // unique_violation
    return Ok(end, error);
  }

  HistoryOptions options_;
  std::string agent_;
  PGconn* conn_ = nullptr;
  bool fatal_ = false;  // the warehouse's schema is newer: never written
  std::string fatalError_;
  std::string lastError_;
  int backoffMillis_ = 0;
  std::chrono::steady_clock::time_point nextAttempt_{};
  std::map<std::string, std::set<std::string>> tables_;  // columns known to exist
  std::set<std::string> partitions_;                     // partitions known to exist
};

}  // namespace

std::unique_ptr<HistoryWriter> NewPostgresHistoryWriter() {
  return std::make_unique<PostgresHistoryWriter>();
}

Status PostgresHistoryQuery(const HistoryOptions& store, const HistoryQuery& query,
                            HistoryAnswer* answer) {
  // The connection outlives this call: the answer fetches rows from a
  // cursor as it is written, a batch at a time, in one read-only snapshot
  // so that the count and the rows agree.
  struct Reader {
    PGconn* conn = nullptr;
    Result batch{nullptr, PQclear};
    int at = 0;
    bool done = false;
    std::vector<HistoryColumn> columns;
    ~Reader() { PQfinish(conn); }
  };
  auto reader = std::make_shared<Reader>();
  reader->conn = ConnectTo(store.path);
  PGconn* conn = reader->conn;
  if (PQstatus(conn) != CONNECTION_OK) {
    return Status::Failed("the history warehouse is out of reach: " + ConnectionError(conn));
  }
  Result cols = Exec(conn,
                     "SELECT column_name, data_type FROM information_schema.columns WHERE "
                     "table_schema = current_schema() AND table_name = $1 "
                     "ORDER BY ordinal_position",
                     {query.table});
  std::string error;
  if (!Ok(cols, &error)) return Status::Failed(error);
  std::vector<HistoryColumn> columns;
  for (int i = 0; i < PQntuples(cols.get()); ++i) {
    std::string name = PQgetvalue(cols.get(), i, 0);
    if (name == "ROWTIME" || name == "AGENTNODE") continue;
    columns.push_back({name, std::string(PQgetvalue(cols.get(), i, 1)) == "bigint"});
  }
  HistorySelect select;
  Status s = BuildHistorySelect(query, columns, "\"ROWTIME\"", IsoTime(query.from),
                                IsoTime(query.to), "$", &select);
  if (!s.ok()) return s;
  if (!Ok(Exec(conn, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), &error)) {
    return Status::Failed(error);
  }
  Result count = Exec(conn, select.countSql, select.params);
  if (!Ok(count, &error)) return Status::Failed(error);
  answer->count = static_cast<size_t>(strtoull(PQgetvalue(count.get(), 0, 0), nullptr, 10));
  if (s = CheckHistoryLimit(query, answer->count); !s.ok()) return s;
  if (!Ok(Exec(conn, "DECLARE zep_rows NO SCROLL CURSOR FOR " + select.sql, select.params),
          &error)) {
    return Status::Failed(error);
  }
  reader->columns = std::move(select.columns);
  answer->next = [reader](Row* row) {
    PGresult* batch = reader->batch.get();
    if (batch == nullptr || reader->at == PQntuples(batch)) {
      if (reader->done) return false;
      reader->batch = Exec(reader->conn, "FETCH 5000 FROM zep_rows");
      reader->at = 0;
      batch = reader->batch.get();
      std::string failure;
      if (!Ok(reader->batch, &failure)) {
        reader->done = true;
        throw std::runtime_error("history read failed: " + failure);
      }
      reader->done = PQntuples(batch) == 0;
      if (reader->done) return false;
    }
    const int at = reader->at++;
    FillHistoryRow(
        reader->columns,
        [&](int c) {
          return std::pair<const char*, size_t>(PQgetvalue(batch, at, c),
                                                static_cast<size_t>(PQgetlength(batch, at, c)));
        },
        row);
    return true;
  };
  return Status::OK();
}

}  // namespace axo
