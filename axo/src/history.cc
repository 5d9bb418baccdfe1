// The history warehouse: history requests appended to SQLite tables.
#include "axo/history.h"

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "axo/axo.h"
#include "axo/request.h"
#include "axo/trk1.h"
#include "axo_internal.h"

TRK1_UNIT(axohist_unit, "AXOHIST");

namespace axo {

std::vector<std::string> ParseTableList(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    std::string_view name = std::string_view(text).substr(
        pos, comma == std::string::npos ? std::string::npos : comma - pos);
    std::string clean = axo_internal::Upper(std::string(axo_internal::TrimSpace(name)));
    if (!clean.empty()) out.push_back(clean);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out;
}

namespace {

// An SQL identifier in double quotes.
std::string Quote(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The 16-character UTC time stamp "CYYMMDDHHMMSSmmm" of the tables.
std::string Timestamp(time_t t) {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  snprintf(buf, sizeof(buf), "%d%02d%02d%02d%02d%02d%02d000", tm.tm_year >= 100 ? 1 : 0,
           tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

struct PendingRow {
  std::string writeTime;
  Row row;
};

}  // namespace

struct HistoryCollector::Impl {
  HistoryOptions options;
  sqlite3* db = nullptr;
  mutable std::mutex mu;  // serialises collections and guards the fields below
  std::map<std::string, std::vector<PendingRow>> pending;
  std::map<std::string, std::set<std::string>> columns;  // columns known to exist
  std::mutex threadMu;
  std::condition_variable wake;
  bool stop = false;
  std::thread thread;

  ~Impl() {
    if (db != nullptr) sqlite3_close(db);
  }

  bool Exec(const std::string& sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    *error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
  }

  // Creates the table, or adds the columns it lacks.
  bool EnsureTable(const std::string& table, const Row& row, std::string* error) {
    std::set<std::string>& known = columns[table];
    bool complete = !known.empty();
    for (const auto& column : row) complete = complete && known.count(column.first) > 0;
    if (complete) return true;
    std::string create = "CREATE TABLE IF NOT EXISTS " + Quote(table) + " (\"WRITETIME\" TEXT";
    for (const auto& [attribute, value] : row) {
      create += ", " + Quote(attribute) + (value.isText ? " TEXT" : " INTEGER");
    }
    if (!Exec(create + ")", error)) return false;
    known.clear();
    sqlite3_stmt* info = nullptr;
    if (sqlite3_prepare_v2(db, ("PRAGMA table_info(" + Quote(table) + ")").c_str(), -1, &info,
                           nullptr) != SQLITE_OK) {
      *error = sqlite3_errmsg(db);
      return false;
    }
    while (sqlite3_step(info) == SQLITE_ROW) {
      known.insert(reinterpret_cast<const char*>(sqlite3_column_text(info, 1)));
    }
    sqlite3_finalize(info);
    for (const auto& [attribute, value] : row) {
      if (known.count(attribute)) continue;
      if (!Exec("ALTER TABLE " + Quote(table) + " ADD COLUMN " + Quote(attribute) +
                    (value.isText ? " TEXT" : " INTEGER"),
                error)) {
        known.clear();
        return false;
      }
      known.insert(attribute);
    }
    return true;
  }

  bool InsertAll(const std::string& table, const std::vector<PendingRow>& rows,
                 std::string* error) {
    sqlite3_stmt* stmt = nullptr;
    std::string prepared_for;  // the attribute list the statement was made for
    bool ok = true;
    for (const PendingRow& p : rows) {
      std::string names = "\"WRITETIME\"";
      for (const auto& column : p.row) names += "," + Quote(column.first);
      if (stmt == nullptr || names != prepared_for) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
        if (!EnsureTable(table, p.row, error)) {
          ok = false;
          break;
        }
        std::string sql = "INSERT INTO " + Quote(table) + " (" + names + ") VALUES (?";
        for (size_t i = 0; i < p.row.size(); ++i) sql += ",?";
        if (sqlite3_prepare_v2(db, (sql + ")").c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
          *error = sqlite3_errmsg(db);
          ok = false;
          break;
        }
        prepared_for = names;
      }
      sqlite3_bind_text(stmt, 1, p.writeTime.c_str(), -1, SQLITE_TRANSIENT);
      for (size_t i = 0; i < p.row.size(); ++i) {
        const Value& v = p.row[i].second;
        int index = static_cast<int>(i) + 2;
        if (v.isText) {
          sqlite3_bind_text(stmt, index, v.text.data(), static_cast<int>(v.text.size()),
                            SQLITE_TRANSIENT);
        } else {
          sqlite3_bind_int64(stmt, index, v.number);
        }
      }
      if (sqlite3_step(stmt) != SQLITE_DONE) {
        *error = sqlite3_errmsg(db);
        ok = false;
        break;
      }
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    return ok;
  }

  // One transaction for the rows of one table. True when they are stored.
  bool Write(const std::string& table, const std::vector<PendingRow>& rows) {
    std::string error;
    bool ok = Exec("BEGIN IMMEDIATE", &error);
    if (ok) {
      ok = InsertAll(table, rows, &error);
      std::string ignored;
      if (ok) {
        ok = Exec("COMMIT", &error);
        if (!ok) Exec("ROLLBACK", &ignored);
      } else {
        Exec("ROLLBACK", &ignored);
      }
    }
    if (!ok) {
      columns.erase(table);  // a rolled-back CREATE or ALTER must be made again
      TRK1_Printf(&axohist_unit, __LINE__,
                  "AXO0202E History write of %zu rows to table %s failed: %s; retrying at the "
                  "next interval",
                  rows.size(), table.c_str(), error.c_str());
    }
    return ok;
  }

  // Keeps at most maxPendingRows for a retry, dropping the oldest.
  void Bound(const std::string& table, std::vector<PendingRow>* rows) {
    if (rows->size() <= options.maxPendingRows) return;
    size_t drop = rows->size() - options.maxPendingRows;
    rows->erase(rows->begin(), rows->begin() + static_cast<long>(drop));
    TRK1_Printf(&axohist_unit, __LINE__,
                "AXO0204E History of table %s: %zu unwritten rows dropped", table.c_str(), drop);
  }
};

HistoryCollector::HistoryCollector() : impl_(new Impl) {}

HistoryCollector::~HistoryCollector() { Stop(); }

bool HistoryCollector::Open(const HistoryOptions& options, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->db != nullptr) {
    *error = "the history database is already open";
    return false;
  }
  impl_->options = options;
  if (impl_->options.intervalSeconds < 1) impl_->options.intervalSeconds = 1;
  int rc = sqlite3_open_v2(options.path.c_str(), &impl_->db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  std::string why;
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(impl_->db, options.busyTimeoutMillis);
    // journal_mode answers the mode in force; anything but "wal" means the
    // file is not a usable database.
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v2(impl_->db, "PRAGMA journal_mode=WAL", -1, &stmt, nullptr);
    if (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW &&
        std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) == "wal") {
      rc = SQLITE_OK;
    } else {
      rc = SQLITE_ERROR;
      why = sqlite3_errmsg(impl_->db);
    }
    sqlite3_finalize(stmt);
  } else {
    why = impl_->db != nullptr ? sqlite3_errmsg(impl_->db) : "out of memory";
  }
  if (rc != SQLITE_OK) {
    *error = "cannot open history database " + options.path + ": " + why;
    sqlite3_close(impl_->db);
    impl_->db = nullptr;
    return false;
  }
  std::string ignored;
  impl_->Exec("PRAGMA synchronous=NORMAL", &ignored);
  return true;
}

long HistoryCollector::CollectOnce(time_t now) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->db == nullptr) return -1;
  Query q;
  q.history = true;
  for (const AXO_SubnodeInfo& s : AXO_ListSubnodes()) q.subnodes.push_back(s.name);
  std::string stamp = Timestamp(now);
  long written = 0;
  bool failed = false;
  for (const std::string& table : impl_->options.tables) {
    std::vector<PendingRow>& pending = impl_->pending[table];
    if (!q.subnodes.empty()) {
      q.table = table;
      std::vector<Row> rows;
      std::string error;
      if (runQuery(q, &rows, &error) == kOk) {
        for (Row& r : rows) pending.push_back(PendingRow{stamp, std::move(r)});
      } else {
        TRK1_Printf(&axohist_unit, __LINE__, "AXO0203E History request on table %s failed: %s",
                    table.c_str(), error.c_str());
        failed = true;
      }
    }
    if (pending.empty()) continue;
    if (impl_->Write(table, pending)) {
      written += static_cast<long>(pending.size());
      pending.clear();
    } else {
      failed = true;
      impl_->Bound(table, &pending);
    }
  }
  if (TRK1_On(&axohist_unit, TRK1_DETAIL)) {
    TRK1_Printf(&axohist_unit, __LINE__, "AXO0205I History collection wrote %ld rows", written);
  }
  return failed ? -1 : written;
}

bool HistoryCollector::StartThread(std::string* error) {
  if (impl_->thread.joinable()) {
    *error = "the history collector is already running";
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(impl_->threadMu);
    impl_->stop = false;
  }
  try {
    impl_->thread = std::thread([this] {
      std::unique_lock<std::mutex> lock(impl_->threadMu);
      for (;;) {
        auto interval = std::chrono::seconds(impl_->options.intervalSeconds);
        if (impl_->wake.wait_for(lock, interval, [this] { return impl_->stop; })) break;
        lock.unlock();
        CollectOnce(AXO_Now());
        lock.lock();
      }
    });
  } catch (const std::system_error& e) {
    *error = std::string("cannot start the history thread: ") + e.what();
    return false;
  }
  return true;
}

void HistoryCollector::Stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->threadMu);
    impl_->stop = true;
  }
  impl_->wake.notify_all();
  if (impl_->thread.joinable()) impl_->thread.join();
}

size_t HistoryCollector::PendingRows() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  size_t n = 0;
  for (const auto& entry : impl_->pending) n += entry.second.size();
  return n;
}

bool HistoryReadQuery(const std::string& path, const std::string& sql,
                      std::vector<std::vector<std::string>>* rows, std::string* error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    *error = db != nullptr ? sqlite3_errmsg(db) : "cannot open " + path;
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt* stmt = nullptr;
  bool ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK;
  int rc = SQLITE_ROW;
  while (ok && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      row.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
    }
    rows->push_back(std::move(row));
  }
  if (!ok || rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(db);
    ok = false;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return ok;
}

}  // namespace axo

namespace {
std::mutex g_history_mutex;
axo::HistoryCollector* g_history = nullptr;
}  // namespace

int AXO_StartHistory(std::string* error) {
  AXO_Options options = AXO_GetOptions();
  if (options.historyDb.empty()) return 0;
  axo::HistoryOptions h;
  h.path = options.historyDb;
  h.intervalSeconds = options.historyInterval;
  h.tables = axo::ParseTableList(options.historyTables);
  std::lock_guard<std::mutex> lock(g_history_mutex);
  if (g_history != nullptr) return 0;
  auto* collector = new axo::HistoryCollector;
  if (!collector->Open(h, error) || !collector->StartThread(error)) {
    delete collector;
    return 1;
  }
  TRK1_Printf(&axohist_unit, __LINE__,
              "AXO0206I History collection into %s every %d seconds for %s", h.path.c_str(),
              h.intervalSeconds, options.historyTables.c_str());
  g_history = collector;
  return 0;
}

void AXO_StopHistory() {
  std::lock_guard<std::mutex> lock(g_history_mutex);
  delete g_history;
  g_history = nullptr;
}
