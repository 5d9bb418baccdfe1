// The history warehouse: history requests appended to SQLite tables.
#include "axo/history.h"

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "axo/axo.h"
#include "axo/request.h"
#include "axo/trk1.h"
#include "axo_internal.h"
#include "history_writer.h"

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

// The 16-character UTC time stamp "CYYMMDDHHMMSSmmm" of the tables.
std::string Timestamp(time_t t) {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  snprintf(buf, sizeof(buf), "%d%02d%02d%02d%02d%02d%02d000", tm.tm_year >= 100 ? 1 : 0,
           tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

}  // namespace

std::map<std::string, std::vector<std::string>> DefaultHistoryKeys() {
  return {{"ZEPSMT", {}}, {"ZEPFLCT", {}}, {"ZEPINV", {"ORIGINNODE", "SVCOPERTYP", "INTBEGTIME"}}};
}

struct HistoryCollector::Impl {
  HistoryOptions options;
  std::unique_ptr<HistoryWriter> writer;  // null until Open succeeds
  mutable std::mutex mu;  // serialises collections and guards the fields below
  std::map<std::string, std::vector<HistoryRow>> pending;
  bool failing = false;   // the last collection had a failed write
  std::mutex threadMu;
  std::condition_variable wake;
  bool stop = false;
  std::thread thread;

  // Traces the first failed collection of a streak, and the first one that
  // writes everything again. `failure` is empty when every write succeeded.
  void Report(const std::string& failure, long written) {
    if (!failure.empty() && !failing) {
      TRK1_Printf(&axohist_unit, __LINE__, "AXO0202E %s; retrying at each interval",
                  failure.c_str());
    } else if (failure.empty() && failing) {
      TRK1_Printf(&axohist_unit, __LINE__, "AXO0208I History writing recovered: %ld rows written",
                  written);
    }
    failing = !failure.empty();
  }

  // Keeps at most maxPendingRows for a retry, dropping the oldest.
  void Bound(const std::string& table, std::vector<HistoryRow>* rows) {
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
  if (impl_->writer != nullptr) {
    *error = "the history database is already open";
    return false;
  }
  impl_->options = options;
  if (impl_->options.intervalSeconds < 1) impl_->options.intervalSeconds = 1;
  std::unique_ptr<HistoryWriter> writer = NewSqliteHistoryWriter();
  if (!writer->Open(impl_->options, error)) return false;
  impl_->writer = std::move(writer);
  return true;
}

long HistoryCollector::CollectOnce(time_t now) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->writer == nullptr) return -1;
  Query q;
  q.history = true;
  for (const AXO_SubnodeInfo& s : AXO_ListSubnodes()) q.subnodes.push_back(s.name);
  std::string stamp = Timestamp(now);
  long written = 0;
  bool failed = false;        // a request or a write failed
  std::string failure;        // the first failed write of this collection
  for (const std::string& table : impl_->options.tables) {
    std::vector<HistoryRow>& pending = impl_->pending[table];
    if (!q.subnodes.empty()) {
      q.table = table;
      std::vector<Row> rows;
      std::string error;
      if (runQuery(q, &rows, &error) == kOk) {
        for (Row& r : rows) pending.push_back(HistoryRow{stamp, std::move(r)});
      } else {
        TRK1_Printf(&axohist_unit, __LINE__, "AXO0203E History request on table %s failed: %s",
                    table.c_str(), error.c_str());
        failed = true;
      }
    }
    if (pending.empty()) continue;
    std::string error;
    if (impl_->writer->Write(table, pending, &error)) {
      written += static_cast<long>(pending.size());
      pending.clear();
    } else {
      if (failure.empty()) {
        failure = "History write of " + std::to_string(pending.size()) + " rows to table " +
                  table + " failed: " + error;
      }
      impl_->Bound(table, &pending);
    }
  }
  impl_->Report(failure, written);
  failed = failed || !failure.empty();
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

bool HistoryCollector::ExecForTesting(const std::string& sql, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->writer == nullptr) return false;
  return impl_->writer->ExecForTesting(sql, error);
}

bool HistoryCollector::ReopenForTesting(bool readOnly, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->writer == nullptr) return false;
  return impl_->writer->ReopenForTesting(readOnly, error);
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
