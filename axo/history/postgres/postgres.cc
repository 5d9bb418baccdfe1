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
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>

#include "axo/base/testpause.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/history/store/store.h"
#include "axo/metrics/metrics.h"

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
using Clock = std::chrono::steady_clock;

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

// Connects to `location`, any libpq connection string (blocking). Each
// host's attempt gives up after `timeoutSeconds` (libpq's connect_timeout;
// at least 2) unless the string says otherwise: its own settings come
// after these and win. Agents show as zepagent in pg_stat_activity unless
// the string names an application.
PGconn* ConnectTo(const std::string& location, int timeoutSeconds) {
  const std::string timeout = std::to_string(std::max(timeoutSeconds, 2));
  const char* const keys[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
  const char* const values[] = {timeout.c_str(), "zepagent", location.c_str(), nullptr};
  return PQconnectdbParams(keys, values, 1);
}

std::string ConnectionError(PGconn* conn) {
  return conn != nullptr ? std::string(axo_internal::TrimSpace(PQerrorMessage(conn)))
                         : "out of memory";
}

// True when a failed connection attempt found no server that takes writes
// now (refused, unresolved, timed out, starting or stopping, in recovery,
// or only read-only sessions where target_session_attrs asks for
// read-write): the agent starts and retries. Anything else (credentials or
// a database refused, a bad parameter) is a configuration fault. libpq
// gives no SQLSTATE for a failed connection, only its text.
bool OutOfReach(const std::string& message) {
  for (const char* sign :
       {"Connection refused", "timeout expired", "could not translate host", "No route to host",
        "Network is unreachable", "starting up", "shutting down", "No such file or directory",
        "server closed the connection", "Connection timed out", "Connection reset",
        "Temporary failure in name resolution", "not yet accepting connections",
        "not accepting connections", "in recovery mode", "session is read-only", "hot standby mode",
        "session is not read-only"}) {
    if (message.find(sign) != std::string::npos) return true;
  }
  return false;
}

// True when a statement that failed with SQLSTATE `state` says that this
// server cannot take the write now, though another host of the connection
// string may: the connection is dropped so that the next attempt walks the
// host list again (with target_session_attrs). The classes: 08 connection
// exception; 25006 read-only transaction (a fenced primary, a standby);
// 53 insufficient resources (disk full, too many connections); 57
// operator intervention (shutdown, a cancel, the database dropped); 58
// system error (I/O). An empty state is a failure libpq saw itself (the
// connection broke, the deadline passed). Other failures (a constraint, a
// bad column) are the statement's own: the transaction is rolled back and
// the connection kept.
bool ServerCannotWrite(const std::string& state) {
  return state.empty() || state == "25006" || state.starts_with("08") || state.starts_with("53") ||
         state.starts_with("57") || state.starts_with("58");
}

// Connections the writer dropped, by why: a write past its deadline, a
// server that cannot take writes now, a cancelled wait for synchronous
// replication.
metrics::Counter& Dropped(const char* reason) {
  AXO_COUNTER_FAMILY(dropped, "zep_history_connections_dropped_total",
                     "Warehouse connections the history writer dropped, by reason.", {"reason"});
  return dropped.counter({reason});
}

// A connection to the warehouse whose every exchange gives up at a
// deadline: the socket is non-blocking and waited on with poll(). At the
// deadline the connection is dropped, never cancelled: a cancelled wait for
// synchronous replication reports a commit that may exist on the primary
// alone, while a dropped connection leaves the outcome honestly unknown
// and the rows waiting. Not thread-safe.
class Link {
 public:
  Link() = default;
  ~Link() { Drop(); }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Connects to `location`; false with `*error` (the connection string's
  // passwords masked) when no host took the connection.
  bool Connect(const std::string& location, int timeoutSeconds, std::string* error) {
    Drop();
    conn_ = ConnectTo(location, timeoutSeconds);
    if (PQstatus(conn_) != CONNECTION_OK || PQsetnonblocking(conn_, 1) != 0) {
      *error = MaskPasswords(ConnectionError(conn_), location);
      Drop();
      return false;
    }
    PQsetNoticeReceiver(conn_, &Link::OnNotice, this);
    return true;
  }
  bool connected() const { return conn_ != nullptr; }
  void Drop() {
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
  }
  // Starts a deadline `seconds` from now for the exchanges that follow.
  void StartDeadline(int seconds) {
    seconds_ = seconds;
    deadline_ = Clock::now() + std::chrono::seconds(seconds);
    expired_ = false;
    syncCancelled_ = false;
  }
  bool expired() const { return expired_; }
  // A notice since StartDeadline said a wait for synchronous replication
  // was cancelled: the commit may exist on the primary alone.
  bool syncCancelled() const { return syncCancelled_; }
  const std::string& state() const { return state_; }  // SQLSTATE of the last failure

  // Runs `sql` with `params`; the result, or null when the deadline passed
  // or the connection failed (then Ok says why).
  Result Exec(const std::string& sql, const std::vector<std::string>& params = {}) {
    if (conn_ == nullptr) return Result(nullptr, PQclear);
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    if (PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), nullptr, nullptr, 0) != 1 ||
        !Flush()) {
      return Result(nullptr, PQclear);
    }
    return Collect();
  }
  // True for a result that succeeded; otherwise false with `*error` and
  // the failure's SQLSTATE in state().
  bool Ok(const Result& r, std::string* error) {
    if (r != nullptr && axo::Ok(r, error)) return true;
    const char* state = r != nullptr ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
    state_ = state != nullptr ? state : "";
    if (expired_) {
      *error = "the history warehouse did not answer within " + std::to_string(seconds_) +
               " seconds; the connection was dropped";
    } else if (r == nullptr) {
      *error = conn_ != nullptr ? ConnectionError(conn_) : "the server connection failed";
      if (error->empty()) *error = "the server connection failed";
    }
    return false;
  }
  // Sends `data` from `*sent` on to the COPY in progress and advances
  // `*sent`; false when the server takes no more (EndCopy tells why).
  bool Put(const std::string& data, size_t* sent) {
    while (*sent < data.size()) {
      const int n = static_cast<int>(std::min<size_t>(data.size() - *sent, kCopyPiece));
      const int rc = PQputCopyData(conn_, data.data() + *sent, n);
      if (rc < 0) return false;
      if (rc == 1) {
        *sent += static_cast<size_t>(n);
      } else if (!Wait(POLLOUT | POLLIN)) {
        return false;
      }
    }
    return Flush();
  }
  // Ends the COPY in progress: its result (null past the deadline).
  Result EndCopy() {
    int rc;
    while ((rc = PQputCopyEnd(conn_, nullptr)) == 0) {
      if (!Wait(POLLOUT | POLLIN)) return Result(nullptr, PQclear);
    }
    // A COPY the server refused ends with its error, read below.
    if (rc == 1 && !Flush()) return Result(nullptr, PQclear);
    return Collect();
  }

 private:
  // Waits until the socket is ready for `events` (reading what arrived
  // meanwhile); false at the deadline or when the connection fails.
  bool Wait(short events) {
    pollfd p = {PQsocket(conn_), events, 0};
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
      if (left <= 0) {
        expired_ = true;
        return false;
      }
      const int rc = poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
      if (rc < 0 && errno == EINTR) continue;
      if (rc < 0) return false;
      if (rc == 0) continue;  // the next turn sees the deadline
      if ((p.revents & POLLNVAL) != 0) return false;
      if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0 && PQconsumeInput(conn_) != 1) {
        return false;
      }
      return true;
    }
  }
  bool Flush() {
    for (;;) {
      const int rc = PQflush(conn_);
      if (rc == 0) return true;
      if (rc < 0 || !Wait(POLLOUT | POLLIN)) return false;
    }
  }
  // The results of the statement sent: the first failure, else the last
  // result; a COPY's start ends them.
  Result Collect() {
    Result kept(nullptr, PQclear);
    for (;;) {
      while (PQisBusy(conn_) != 0) {
        if (!Wait(POLLIN)) return Result(nullptr, PQclear);
        if (PQstatus(conn_) == CONNECTION_BAD) break;
      }
      PGresult* r = PQgetResult(conn_);
      if (r == nullptr) return kept;
      const ExecStatusType s = PQresultStatus(r);
      if (kept != nullptr && PQresultStatus(kept.get()) == PGRES_FATAL_ERROR) {
        PQclear(r);
      } else {
        kept.reset(r);
      }
      if (s == PGRES_COPY_IN || s == PGRES_COPY_OUT || s == PGRES_COPY_BOTH) return kept;
    }
  }
  static void OnNotice(void* self, const PGresult* notice) {
    const char* text = PQresultErrorField(notice, PG_DIAG_MESSAGE_PRIMARY);
    if (text != nullptr && strstr(text, "canceling wait for synchronous replication") != nullptr) {
      static_cast<Link*>(self)->syncCancelled_ = true;
    }
  }

  PGconn* conn_ = nullptr;
  Clock::time_point deadline_ = Clock::time_point::max();
  int seconds_ = 0;
  bool expired_ = false;
  bool syncCancelled_ = false;
  std::string state_;
};

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
    seconds_ = WriteTimeoutSeconds(options);
    char* message = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(options.path.c_str(), &message);
    if (parsed == nullptr) {
      *error = MaskPasswords(
          "bad history warehouse connection string: " +
              std::string(axo_internal::TrimSpace(message != nullptr ? message : "")) +
              " (an SQLite file whose name holds '=' is given as ./NAME)",
          options.path);
      PQfreemem(message);
      return false;
    }
    PQconninfoFree(parsed);
    std::string why;
    bool transient = false;
    if (Connect(&why, &transient)) return true;
    if (!transient || fatal_) {
      *error = "cannot use the history warehouse: " + why;
      return false;
    }
    TRK1_Printf(&axohpg_unit, __LINE__,
                "AXO0210W No server of the history warehouse takes writes now (%s); the agent "
                "starts, keeps rows waiting and retries",
                why.c_str());
    return true;
  }

  bool DoWrite(const std::string& table, const std::vector<HistoryRow>& rows,
               std::string* error) override {
    if (!Connected(error)) return false;
    link_.StartDeadline(seconds_);
    bool ok = link_.Ok(link_.Exec("BEGIN"), error) && Stage(table, rows, error);
    if (ok) {
      AXO_TestPausePoint("history-write");  // rows inserted, not yet committed
      ok = link_.Ok(link_.Exec("COMMIT"), error);
    }
    if (ok && link_.syncCancelled()) {
      // Committed here, perhaps on no standby: the write counts as failed
      // and the rows are written again (once, by their keys) elsewhere.
      *error =
          "the commit's wait for synchronous replication was cancelled; the rows may be on "
          "the primary alone and are written again";
      Drop("sync_cancelled");
      return false;
    }
    if (!ok) Failed();
    return ok;
  }

  // Drops the day partitions that end at or before `cutoff`.
  bool DoRetain(const std::string& table, time_t cutoff, std::string* error) override {
    if (!Connected(error)) return false;
    link_.StartDeadline(seconds_);
    Result r = link_.Exec(
        "SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid "
        "JOIN pg_class p ON p.oid = i.inhparent WHERE p.relname = $1",
        {table});
    if (!link_.Ok(r, error)) return Failed();
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      std::string name = PQgetvalue(r.get(), i, 0);
      struct tm tm = {};
      if (name.size() != table.size() + 9 ||
          strptime(name.c_str() + table.size() + 1, "%Y%m%d", &tm) == nullptr) {
        continue;  // not one of ours
      }
      if (timegm(&tm) + 86400 > cutoff) continue;
      if (!link_.Ok(link_.Exec("DROP TABLE IF EXISTS " + QuoteName(name)), error)) return Failed();
      partitions_.erase(name);
      TRK1_Printf(&axohpg_unit, __LINE__, "AXO0211I History partition %s dropped", name.c_str());
    }
    return true;
  }

  bool DoExecForTesting(const std::string& sql, std::string* error) override {
    if (!Connected(error)) return false;
    link_.StartDeadline(seconds_);
    return link_.Ok(link_.Exec(sql), error) || Failed();
  }

  bool DoReopenForTesting(bool, std::string* error) override {
    Close();
    bool transient;
    return Connect(error, &transient);
  }

 private:
  void Close() {
    link_.Drop();
    tables_.clear();
    partitions_.clear();
  }

  // Drops the connection, counting why.
  void Drop(const char* reason) {
    Dropped(reason).Inc();
    Close();
  }

  // After a failed statement: drops the connection when its server cannot
  // take writes now (the deadline passed, the connection broke, a read-only
  // or stopping server: ServerCannotWrite), so that the next write walks
  // the host list again; otherwise rolls back. Returns false.
  bool Failed() {
    if (!link_.connected()) return false;
    if (link_.expired()) {
      Drop("deadline");
      return false;
    }
    if (ServerCannotWrite(link_.state())) {
      Drop("unwritable");
      return false;
    }
    link_.StartDeadline(seconds_);
    if (!link_.Ok(link_.Exec("ROLLBACK"), &ignored_)) {
      Drop(link_.expired() ? "deadline" : "unwritable");
      return false;
    }
    tables_.clear();  // a rolled-back CREATE or ALTER is made again
    partitions_.clear();
    return false;
  }

  // Connects unless connected. The collector decides when to try again.
  bool Connected(std::string* error) {
    if (link_.connected()) return true;
    if (fatal_) {
      *error = fatalError_;
      return false;
    }
    bool transient;
    return Connect(error, &transient);
  }

  // Connects and checks the schema. False with `*error`; `*transient`
  // tells a warehouse that takes no writes now from a configuration fault.
  bool Connect(std::string* error, bool* transient) {
    if (!link_.Connect(options_.path, seconds_, error)) {
      *transient = OutOfReach(*error);
      return false;
    }
    link_.StartDeadline(seconds_);
    if (!link_.Ok(link_.Exec("SET client_min_messages = warning"), error) || !CheckSchema(error)) {
      *transient = !fatal_ && (link_.expired() || ServerCannotWrite(link_.state()));
      Close();
      return false;
    }
    return true;
  }

  // Creates the version table on first use; a newer version is refused
  // for good (fatal_).
  bool CheckSchema(std::string* error) {
    std::string table = QuoteName(kVersionTable);
    bool ok =
        link_.Ok(link_.Exec("BEGIN"), error) && link_.Ok(link_.Exec(kSchemaLock), error) &&
        link_.Ok(link_.Exec("CREATE TABLE IF NOT EXISTS " + table + " (version integer NOT NULL)"),
                 error);
    if (!ok) return false;
    Result r = link_.Exec("SELECT max(version) FROM " + table);
    if (!link_.Ok(r, error)) return false;
    if (PQgetisnull(r.get(), 0, 0)) {
      if (!link_.Ok(
              link_.Exec("INSERT INTO " + table + " VALUES ($1)", {std::to_string(kSchemaVersion)}),
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
    return link_.Ok(link_.Exec("COMMIT"), error);
  }

  // Takes the schema lock once per transaction, before the first change.
  bool Lock(bool* locked, std::string* error) {
    if (*locked) return true;
    *locked = true;
    return link_.Ok(link_.Exec(kSchemaLock), error);
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
    if (!link_.Ok(link_.Exec(create + ") PARTITION BY RANGE (\"ROWTIME\")"), error)) return false;
    for (size_t i = 0; i < names.size(); ++i) {
      if (!link_.Ok(link_.Exec("ALTER TABLE " + QuoteName(table) + " ADD COLUMN IF NOT EXISTS " +
                               column(i)),
                    error)) {
        return false;
      }
    }
    if (options_.keys.count(table) == 0 && !EnsureSampleKey(table, error)) return false;
    auto spec = options_.keys.find(table);
    if (spec != options_.keys.end()) {
      std::string key = "\"ROWTIME\",\"AGENTNODE\"";
      for (const std::string& n : spec->second.empty() ? names : spec->second) {
        key += "," + QuoteName(n);
      }
      if (!link_.Ok(link_.Exec("CREATE UNIQUE INDEX IF NOT EXISTS " + QuoteName(table + "_KEY") +
                               " ON " + QuoteName(table) + " (" + key + ") NULLS NOT DISTINCT"),
                    error)) {
        return false;
      }
    }
    known.insert(names.begin(), names.end());
    return true;
  }

  // Gives a table without a key (a snapshot table) its rows' sample id and
  // place, unique with the row's time and agent, so that a sample written
  // again after a commit of unknown outcome is stored once. A table an
  // older agent made gains the columns in place; its old rows hold NULL
  // there, which the index never compares equal.
  bool EnsureSampleKey(const std::string& table, std::string* error) {
    const std::string name = QuoteName(table);
    return link_.Ok(link_.Exec("ALTER TABLE " + name +
                               " ADD COLUMN IF NOT EXISTS \"SAMPLEID\" bigint, "
                               "ADD COLUMN IF NOT EXISTS \"SAMPLEROW\" integer"),
                    error) &&
           link_.Ok(link_.Exec("CREATE UNIQUE INDEX IF NOT EXISTS " + QuoteName(table + "_SAMPLE") +
                               " ON " + name +
                               " (\"ROWTIME\", \"AGENTNODE\", \"SAMPLEID\", \"SAMPLEROW\")"),
                    error);
  }

  bool EnsurePartition(const std::string& table, time_t day, bool* locked, std::string* error) {
    std::string name = PartitionName(table, day);
    if (partitions_.count(name) > 0) return true;
    if (!Lock(locked, error)) return false;
    if (!link_.Ok(link_.Exec("CREATE TABLE IF NOT EXISTS " + QuoteName(name) + " PARTITION OF " +
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
    const bool sampled = options_.keys.count(table) == 0;
    std::string columns = "\"ROWTIME\",\"AGENTNODE\",\"WRITETIME\"";
    if (sampled) columns += ",\"SAMPLEID\",\"SAMPLEROW\"";
    for (const std::string& n : names) columns += "," + QuoteName(n);
    // Rows new to the table, the usual case, are copied straight in, the
    // text sent in pieces as it is made so that the server stores rows
    // while the rest are made. When one is there already (delivered again)
    // the copy fails whole; the rows are then copied into a temporary table
    // and inserted from there, skipping those stored.
    const std::string target = QuoteName(table) + " (" + columns + ")";
    if (!link_.Ok(link_.Exec("SAVEPOINT zep_copy"), error)) return false;
    if (!link_.Ok(link_.Exec("COPY " + target + " FROM STDIN"), error)) return false;
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
      if (sampled) {
        copy.append("\t" + std::to_string(r.sampleId) + "\t" + std::to_string(r.sampleRow));
      }
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
      if (sending && copy.size() - sent >= kCopyPiece) sending = link_.Put(copy, &sent);
    }
    if (sending) sending = link_.Put(copy, &sent);
    std::string why;
    bool duplicate = false;
    if (EndCopy(sending, &why, &duplicate)) {
      return link_.Ok(link_.Exec("RELEASE SAVEPOINT zep_copy"), error);
    }
    if (!duplicate) {
      *error = why;
      return false;
    }
    if (!link_.Ok(link_.Exec("ROLLBACK TO SAVEPOINT zep_copy"), error) ||
        !link_.Ok(link_.Exec("CREATE TEMP TABLE zep_stage (LIKE " + QuoteName(table) +
                             ") ON COMMIT DROP"),
                  error) ||
        !link_.Ok(link_.Exec("COPY zep_stage (" + columns + ") FROM STDIN"), error)) {
      return false;
    }
    sent = 0;
    sending = link_.Put(copy, &sent);
    if (!EndCopy(sending, error, &duplicate)) return false;
    return link_.Ok(link_.Exec("INSERT INTO " + target + " SELECT " + columns +
                               " FROM zep_stage ON CONFLICT DO NOTHING"),
                    error);
  }

  // Ends the COPY in progress, whose data was all sent when `sent`.
  // `*duplicate` tells a failure by a row already stored.
  bool EndCopy(bool sent, std::string* error, bool* duplicate) {
    Result end = link_.EndCopy();
    const char* state = end != nullptr ? PQresultErrorField(end.get(), PG_DIAG_SQLSTATE) : nullptr;
    *duplicate = state != nullptr && std::string(state) == "23505";  // unique_violation
    if (!link_.Ok(end, error)) return false;
    if (sent) return true;
    *error = "the copy to the history warehouse was cut short";
    return false;
  }

  HistoryOptions options_;
  std::string agent_;
  int seconds_ = 10;  // the deadline of each write, in seconds
  Link link_;
  bool fatal_ = false;  // the warehouse's schema is newer: never written
  std::string fatalError_;
  std::string ignored_;
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
  reader->conn = ConnectTo(store.path, WriteTimeoutSeconds(store));
  PGconn* conn = reader->conn;
  if (PQstatus(conn) != CONNECTION_OK) {
    return Status::Failed("the history warehouse is out of reach: " +
                          MaskPasswords(ConnectionError(conn), store.path));
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
    if (name == "ROWTIME" || name == "AGENTNODE" || name == "SAMPLEID" || name == "SAMPLEROW") {
      continue;  // the warehouse's own
    }
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
