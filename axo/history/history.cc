// The history warehouse: history requests appended to the tables of a
// writer (history_sqlite.cc, history_pg.cc), and history read back.
#include "axo/history/history.h"

#include <chrono>
#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "axo/base/osb1.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/base/wait.h"
#include "axo/history/postgres/postgres.h"
#include "axo/history/sqlite/sqlite.h"
#include "axo/history/store/store.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/process/liveness.h"
#include "axo/requests/request.h"
#include "axo/tables/catalog.h"

TRK1_UNIT(axohist_unit, "AXOHIST");

namespace axo {

namespace {

// The history series of one table, updated after each sample: rows written
// and failed, rows waiting to be written, and rows dropped from the wait.
struct HistorySeries {
  metrics::Counter& written;
  metrics::Counter& failed;
  metrics::Gauge& pending;
  metrics::Counter& dropped;
};

HistorySeries HistoryTable(const std::string& table) {
  AXO_COUNTER_FAMILY(written, "zep_history_rows_written_total", "History rows written, by table.",
                     {"table"});
  AXO_COUNTER_FAMILY(failed, "zep_history_rows_failed_total",
                     "History rows whose write failed, by table.", {"table"});
  AXO_GAUGE_FAMILY(pending, "zep_history_rows_pending", "History rows waiting to be written.",
                   {"table"});
  AXO_COUNTER_FAMILY(dropped, "zep_history_rows_dropped_total",
                     "History rows dropped unwritten because too many waited, by table.",
                     {"table"});
  return {written.counter({table}), failed.counter({table}), pending.gauge({table}),
          dropped.counter({table})};
}

// What a waiting row holds in memory, roughly: its strings and their slots.
size_t RowBytes(const HistoryRow& r) {
  size_t bytes = sizeof(HistoryRow) + r.writeTime.capacity();
  for (const auto& [attribute, value] : r.row) {
    bytes += sizeof(r.row[0]) + attribute.capacity() + value.text.capacity();
  }
  return bytes;
}

}  // namespace

// The name under which the collector reports its rounds to the liveness
// registry (GET /healthz).
constexpr char kLivenessName[] = "history writer";

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

void ApplyDeclaredHistory(const std::string& tablesText, HistoryOptions* h) {
  h->tables = ParseTableList(tablesText);
  const bool byDefault = h->tables.empty();
  for (const TableDescription& t : listTables()) {
    if (t.history.keyed) h->keys[t.table] = t.history.keyColumns;
    if (!t.history.timeColumn.empty()) h->timeColumns[t.table] = t.history.timeColumn;
    if (byDefault && t.history.collectByDefault) h->tables.push_back(t.table);
  }
}

struct HistoryCollector::Impl {
  HistoryOptions options;
  std::unique_ptr<HistoryWriter> writer;  // null until Open succeeds
  mutable std::mutex mu;                  // serialises collections and guards the fields below
  std::map<std::string, std::vector<HistoryRow>> pending;
  bool failing = false;                            // the last collection had a failed write
  time_t lastRetain = 0;                           // when old rows were last removed
  int retryBoundMillis = 0;                        // the bound of the next retry's random wait
  std::mt19937_64 random{std::random_device{}()};  // sample ids and retry waits
  std::mutex threadMu;  // guards the fields below; taken after `mu`, never before
  std::condition_variable wake;
  bool stop = false;
  int intervalSeconds = 300;
  bool intervalChanged = false;
  // When waiting rows are next tried again (max: none), and whether that
  // changed since the thread last looked.
  std::chrono::steady_clock::time_point retryAt = std::chrono::steady_clock::time_point::max();
  bool retryChanged = false;
  std::thread thread;

  // Removes rows older than retainDays, at most once an hour of `now`.
  void Retain(time_t now) {
    if (options.retainDays <= 0 || (lastRetain != 0 && now - lastRetain < 3600)) return;
    lastRetain = now;
    time_t cutoff = now - static_cast<time_t>(options.retainDays) * 86400;
    for (const std::string& table : options.tables) {
      if (Status s = writer->Retain(table, cutoff); !s.ok()) {
        TRK1_Printf(&axohist_unit, __LINE__, "AXO0209E History retention of table %s failed: %s",
                    table.c_str(), s.message().c_str());
      }
    }
  }

  // Traces the first failed collection of a streak, and the first one that
  // writes everything again. `failure` is empty when every write succeeded.
  // Schedules the next retry of waiting rows.
  void Report(const std::string& failure, long written) {
    ScheduleRetry(!failure.empty());
    if (!failure.empty() && !failing) {
      TRK1_Printf(&axohist_unit, __LINE__, "AXO0202E %s; retrying", failure.c_str());
    } else if (failure.empty() && failing) {
      TRK1_Printf(&axohist_unit, __LINE__, "AXO0208I History writing recovered: %ld rows written",
                  written);
    }
    failing = !failure.empty();
  }

  // After a failed write the waiting rows are tried again after a random
  // wait ("full jitter") up to a bound that doubles from 0.5 s to
  // reconnectMaxMillis: agents that lost the warehouse together come back
  // spread over the bound, and each within the bound of its return.
  // Requires `mu`; takes `threadMu` and wakes the thread.
  void ScheduleRetry(bool failed) {
    using std::chrono::steady_clock;
    auto at = steady_clock::time_point::max();
    if (failed) {
      const int cap = std::max(options.reconnectMaxMillis, 0);
      retryBoundMillis = std::min(std::max(retryBoundMillis * 2, 500), cap);
      std::uniform_int_distribution<int> wait(0, retryBoundMillis);
      at = steady_clock::now() + std::chrono::milliseconds(wait(random));
    } else {
      retryBoundMillis = 0;
    }
    {
      std::lock_guard<std::mutex> lock(threadMu);
      retryAt = at;
      retryChanged = true;
    }
    wake.notify_all();
  }

  // Keeps at most maxPendingRows, taking at most maxPendingBytes, for a
  // retry: the newest rows stay, the oldest are dropped and counted.
  void Bound(const std::string& table, std::vector<HistoryRow>* rows, metrics::Counter& dropped) {
    size_t keep = 0, bytes = 0;
    for (auto it = rows->rbegin(); it != rows->rend() && keep < options.maxPendingRows; ++it) {
      bytes += RowBytes(*it);
      if (bytes > options.maxPendingBytes) break;
      ++keep;
    }
    const size_t drop = rows->size() - keep;
    if (drop == 0) return;
    rows->erase(rows->begin(), rows->begin() + static_cast<long>(drop));
    rows->shrink_to_fit();  // the memory goes back, not only the rows
    dropped.Inc(drop);
    TRK1_Printf(&axohist_unit, __LINE__, "AXO0204E History of table %s: %zu unwritten rows dropped",
                table.c_str(), drop);
  }
};

HistoryCollector::HistoryCollector() : impl_(new Impl) {}

HistoryCollector::~HistoryCollector() { Stop(); }

Status HistoryCollector::Open(const HistoryOptions& options) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->writer != nullptr) return Status::Failed("the history database is already open");
  impl_->options = options;
  if (impl_->options.intervalSeconds < 1) impl_->options.intervalSeconds = 1;
  if (impl_->options.agentNode.empty()) {
    const char* node = AXO_GetOriginnode();
    if (node != nullptr) impl_->options.agentNode = axo_internal::TrimBlanks(node);
  }
  {
    std::lock_guard<std::mutex> tlock(impl_->threadMu);
    impl_->intervalSeconds = impl_->options.intervalSeconds;
  }
  std::unique_ptr<HistoryWriter> writer =
      IsPostgresLocation(options.path) ? NewPostgresHistoryWriter() : NewSqliteHistoryWriter();
  if (Status s = writer->Open(impl_->options); !s.ok()) return s;
  impl_->writer = std::move(writer);
  return Status::OK();
}

long HistoryCollector::CollectOnce(time_t now) { return Collect(now, true); }

long HistoryCollector::RetryPending() { return Collect(AXO_Now(), false); }

long HistoryCollector::Collect(time_t now, bool sample) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->writer == nullptr) return -1;
  Query q;
  q.history = true;
  if (sample) {
    for (const AXO_SubnodeInfo& s : AXO_ListSubnodes()) q.subnodes.push_back(s.name);
  }
  std::string stamp = HistoryStamp(now);
  long written = 0;
  bool failed = false;  // a request or a write failed
  std::string failure;  // the first failed write of this collection
  for (const std::string& table : impl_->options.tables) {
    std::vector<HistoryRow>& pending = impl_->pending[table];
    if (!q.subnodes.empty()) {
      q.table = table;
      std::vector<Row> rows;
      if (Status s = runQuery(q, &rows); s.ok()) {
        // A sample's random id and each row's place tell its rows apart
        // in a table without a key (HistoryRow).
        const long long id = static_cast<long long>(impl_->random() >> 1);
        int place = 0;
        for (Row& r : rows) pending.push_back(HistoryRow{stamp, std::move(r), id, place++});
      } else {
        TRK1_Printf(&axohist_unit, __LINE__, "AXO0203E History request on table %s failed: %s",
                    table.c_str(), s.message().c_str());
        failed = true;
      }
    }
    if (pending.empty()) continue;
    HistorySeries series = HistoryTable(table);
    if (Status s = impl_->writer->Write(table, pending); s.ok()) {
      written += static_cast<long>(pending.size());
      series.written.Inc(pending.size());
      pending.clear();
    } else {
      if (failure.empty()) {
        failure = "History write of " + std::to_string(pending.size()) + " rows to table " + table +
                  " failed: " + MaskPasswords(s.message(), impl_->options.path);
      }
      series.failed.Inc(pending.size());
      impl_->Bound(table, &pending, series.dropped);
    }
    series.pending.Set(static_cast<double>(pending.size()));
  }
  impl_->Report(failure, written);
  if (failure.empty() && sample) impl_->Retain(now);
  failed = failed || !failure.empty();
  TRK1_Trace(&axohist_unit, TRK1_DETAIL, "AXO0205I History collection wrote %ld rows", written);
  return failed ? -1 : written;
}

Status HistoryCollector::StartThread() {
  if (impl_->thread.joinable()) return Status::Failed("the history collector is already running");
  {
    std::lock_guard<std::mutex> lock(impl_->threadMu);
    impl_->stop = false;
  }
  try {
    impl_->thread = std::thread([this] {
      // A busy sample fails its table's collection, which the next
      // interval tries again.
      OSB1_WaitLimit limit(axo_internal::kDataWaitMillis);
      std::unique_lock<std::mutex> lock(impl_->threadMu);
      liveness::Watch(kLivenessName, impl_->intervalSeconds);
      using std::chrono::steady_clock;
      auto collectAt = steady_clock::now() + std::chrono::seconds(impl_->intervalSeconds);
      for (;;) {
        impl_->intervalChanged = false;
        impl_->retryChanged = false;
        if (impl_->wake.wait_until(lock, std::min(collectAt, impl_->retryAt), [this] {
              return impl_->stop || impl_->intervalChanged || impl_->retryChanged;
            })) {
          if (impl_->stop) break;
          if (impl_->intervalChanged) {
            liveness::Watch(kLivenessName, impl_->intervalSeconds);
            collectAt = steady_clock::now() + std::chrono::seconds(impl_->intervalSeconds);
          }
          continue;  // wait again with the new interval or retry time
        }
        const bool collect = steady_clock::now() >= collectAt;
        if (!collect) impl_->retryAt = steady_clock::time_point::max();  // this one is due
        lock.unlock();
        collect ? CollectOnce(AXO_Now()) : RetryPending();
        lock.lock();
        if (collect) {
          collectAt = steady_clock::now() + std::chrono::seconds(impl_->intervalSeconds);
          liveness::Completed(kLivenessName, impl_->intervalSeconds);
        }
      }
    });
  } catch (const std::system_error& e) {
    return Status::Failed(std::string("cannot start the history thread: ") + e.what());
  }
  return Status::OK();
}

void HistoryCollector::SetInterval(int seconds) {
  {
    std::lock_guard<std::mutex> lock(impl_->threadMu);
    impl_->intervalSeconds = seconds < 1 ? 1 : seconds;
    impl_->intervalChanged = true;
  }
  impl_->wake.notify_all();
}

void HistoryCollector::Stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->threadMu);
    impl_->stop = true;
  }
  impl_->wake.notify_all();
  if (impl_->thread.joinable()) {
    impl_->thread.join();
    liveness::Forget(kLivenessName);
  }
}

Status HistoryCollector::ExecForTesting(const std::string& sql) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->writer == nullptr) return Status::Failed("the history database is not open");
  return impl_->writer->ExecForTesting(sql);
}

Status HistoryCollector::ReopenForTesting(bool readOnly) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->writer == nullptr) return Status::Failed("the history database is not open");
  return impl_->writer->ReopenForTesting(readOnly);
}

}  // namespace axo

namespace {
std::mutex g_history_mutex;
axo::HistoryCollector* g_history = nullptr;
axo::HistoryOptions g_history_store;  // the store of g_history (path empty: none)
}  // namespace

namespace axo {

namespace {

// RunHistoryQuery on the store `store` names (path and time columns).
Status QueryStore(const HistoryOptions& store, const HistoryQuery& query, HistoryAnswer* rows) {
  // Only a table the framework publishes: a name never reaches the store's
  // own tables (sqlite_master, a warehouse's bookkeeping).
  TableDescription published;
  if (Status s = describeTable(query.table, &published); !s.ok()) return s;
  if (query.to <= query.from) {
    return Status::BadRequest("the time range is empty: 'from' must be before 'to'");
  }
  return IsPostgresLocation(store.path) ? PostgresHistoryQuery(store, query, rows)
                                        : SqliteHistoryQuery(store, query, rows);
}

}  // namespace

Status RunHistoryQuery(const HistoryQuery& query, HistoryAnswer* rows) {
  HistoryOptions store;
  {
    std::lock_guard<std::mutex> lock(g_history_mutex);
    store = g_history_store;
  }
  if (store.path.empty()) {
    return Status::NotFound("no history is collected (the agent runs without --history-db)");
  }
  return QueryStore(store, query, rows);
}

void SetHistoryStoreForTesting(const HistoryOptions& store) {
  std::lock_guard<std::mutex> lock(g_history_mutex);
  g_history_store = store;
}

}  // namespace axo

namespace axo {

Status StartHistory(const HistoryOptions& h, const std::string& tablesText) {
  std::lock_guard<std::mutex> lock(g_history_mutex);
  if (g_history != nullptr) return Status::OK();
  auto* collector = new HistoryCollector;
  Status s = collector->Open(h);
  if (s.ok()) s = collector->StartThread();
  if (!s.ok()) {
    delete collector;
    return Status::Failed(MaskPasswords(s.message(), h.path));
  }
  const std::string deadline =
      IsPostgresLocation(h.path)
          ? " (writes time out after " + std::to_string(WriteTimeoutSeconds(h)) + " seconds)"
          : "";
  TRK1_Printf(
      &axohist_unit, __LINE__, "AXO0206I History collection into %s every %d seconds for %s%s",
      MaskPasswords(h.path).c_str(), h.intervalSeconds, tablesText.c_str(), deadline.c_str());
  g_history = collector;
  g_history_store = h;
  return Status::OK();
}

void SetHistoryInterval(int seconds) {
  std::lock_guard<std::mutex> lock(g_history_mutex);
  if (g_history != nullptr) g_history->SetInterval(seconds);
  g_history_store.intervalSeconds = seconds;
}

void StopHistory() {
  std::lock_guard<std::mutex> lock(g_history_mutex);
  delete g_history;
  g_history = nullptr;
  g_history_store = HistoryOptions();
}

}  // namespace axo
