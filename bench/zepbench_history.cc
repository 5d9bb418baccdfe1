// `zepbench history [ROWS]`: the history writers against the database
// shells' bulk loads of the same rows (psql's \copy into a fresh table with
// the same key index; the sqlite3 shell's .import), and a one-day history
// query of ROWS ZEPSMT rows over the operator API from each back end. A
// PostgreSQL server is started for the run (tests/axo/history/pg_server.h).
//
// Prints key=value fields: pg_writer_rows_per_second, pg_copy_rows_per_second,
// sqlite_writer_rows_per_second, sqlite_import_rows_per_second,
// {pg,sqlite}_query_bytes, {pg,sqlite}_query_mb_per_second. Wall time
// throughout: the servers' work is most of it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "axo/api/http_api.h"
#include "axo/history/history.h"
#include "axo/history/pg_server.h"
#include "axo/history/postgres/postgres.h"
#include "axo/history/sqlite/sqlite.h"
#include "axo/history/store/store.h"
#include "tables/zepsmt.h"
#include "zepbench.h"

namespace zepbench {
namespace {

// ZEPSMT's columns: name and whether it holds integers.
const std::pair<const char*, bool> kColumns[] = {
    {"ORIGINNODE", false}, {"MSGLOC", true},      {"MSGTIME", false},  {"THREADID", false},
    {"ELPSDTIME", true},   {"PORTNAME", false},   {"OPNAME", false},   {"ONEWAYMSG", true},
    {"FAULTRESP", true},   {"CURRCORR", false},   {"PREVCORR", false}, {"HOSTNAME", false},
    {"IPADDR", false},     {"RMHSTNAME", false},  {"RMIPADDR", false}, {"APPSRVENV", true},
    {"APPSRVNODE", false}, {"APPSRVCELL", false}, {"APPSRVNM", false}, {"APPSRVCLUS", false},
    {"MSGLENGTH", true},   {"TABLEVER", false}};

// `n` ZEPSMT rows whose message times spread over the day from `day`.
std::vector<axo::HistoryRow> MakeRows(long n, time_t day) {
  std::vector<axo::HistoryRow> rows;
  rows.reserve(static_cast<size_t>(n));
  const std::string written = axo::HistoryStamp(day + 86400);
  for (long i = 0; i < n; ++i) {
    std::string stamp = axo::HistoryStamp(day + i * 86400 / n);
    stamp.replace(13, 3, std::to_string(100 + i % 900));
    const std::string server = "server" + std::to_string(i % 20);
    const std::string fields[] = {"ZP:" + server + ":SMT",
                                  "",
                                  stamp,
                                  "WebContainer : " + std::to_string(i % 50),
                                  "",
                                  "OrderPort" + std::to_string(i % 8),
                                  "submitOrder" + std::to_string(i % 12),
                                  "",
                                  "",
                                  "corr-" + std::to_string(i) + "-4f1c2a9e8b7d6c5e4f3a2b1c",
                                  "corr-" + std::to_string(i - 1) + "-4f1c2a9e8b7d6c5e4f3a2b1c",
                                  server + ".example.internal",
                                  "10.0." + std::to_string(i % 20) + ".7",
                                  "client" + std::to_string(i % 3) + ".example.internal",
                                  "10.1.0." + std::to_string(i % 3),
                                  "",
                                  "node" + std::to_string(i % 20),
                                  "cell01",
                                  server,
                                  "cluster" + std::to_string(i % 4),
                                  "",
                                  "1.0"};
    const long long numbers[] = {0,
                                 i % 4,
                                 0,
                                 0,
                                 1000 + i % 7919,
                                 0,
                                 0,
                                 i % 2,
                                 i % 20 == 0 ? 1 : 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 0,
                                 1 + i % 9,
                                 0,
                                 0,
                                 0,
                                 0,
                                 200 + i % 3000,
                                 0};
    axo::HistoryRow r{written, {}};
    for (size_t c = 0; c < std::size(kColumns); ++c) {
      axo::Value v;
      v.isText = !kColumns[c].second;
      if (v.isText) {
        v.text = fields[c];
      } else {
        v.number = numbers[c];
      }
      r.row.emplace_back(kColumns[c].first, std::move(v));
    }
    rows.push_back(std::move(r));
  }
  return rows;
}

// Writes `rows` through `writer` in batches of one interval's sample at
// most (a ZEPSMT sample holds up to 30,000 rows); returns rows per second,
// or -1. The batches are cut before the clock starts: the agent hands the
// writer each sample as it is, so copying rows is no cost of the writer's.
double TimeWriter(axo::HistoryWriter* writer, const std::vector<axo::HistoryRow>& rows) {
  constexpr size_t kBatch = 30000;
  std::vector<std::vector<axo::HistoryRow>> batches;
  for (size_t at = 0; at < rows.size(); at += kBatch) {
    const size_t end = std::min(at + kBatch, rows.size());
    batches.emplace_back(rows.begin() + static_cast<long>(at),
                         rows.begin() + static_cast<long>(end));
  }
  const double start = monotonicSeconds();
  for (const std::vector<axo::HistoryRow>& batch : batches) {
    if (axo::Status s = writer->Write("ZEPSMT", batch); !s.ok()) {
      std::fprintf(stderr, "zepbench history: write failed: %s\n", s.message().c_str());
      return -1;
    }
  }
  return static_cast<double>(rows.size()) / (monotonicSeconds() - start);
}

// Runs a shell command; returns rows per second of `rows` over its wall time, or -1.
double TimeCommand(const std::string& command, size_t rows) {
  const double start = monotonicSeconds();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "zepbench history: failed: %s\n", command.c_str());
    return -1;
  }
  return static_cast<double>(rows) / (monotonicSeconds() - start);
}

// The rows as tab-separated lines; with `warehouse`, ROWTIME and AGENTNODE first.
bool WriteTsv(const std::string& path, const std::vector<axo::HistoryRow>& rows, bool warehouse) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::string line;
  for (const axo::HistoryRow& r : rows) {
    line.clear();
    if (warehouse) {
      time_t t;
      int millis;
      axo::ParseHistoryStamp(r.row[2].second.text, &t, &millis);
      char iso[48];
      struct tm tm;
      gmtime_r(&t, &tm);
      std::snprintf(iso, sizeof(iso), "%04d-%02d-%02d %02d:%02d:%02d.%03d+00", tm.tm_year + 1900,
                    tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
      line += std::string(iso) + "\tbench\t";
    }
    line += r.writeTime;
    for (const auto& [name, v] : r.row) {
      line += "\t" + (v.isText ? v.text : std::to_string(v.number));
    }
    line += "\n";
    std::fputs(line.c_str(), f);
  }
  return std::fclose(f) == 0;
}

// The DDL of a plain table of the rows, and its key index.
std::string TableDdl(const std::string& name, bool warehouse) {
  std::string ddl = "CREATE TABLE " + name + " (";
  std::string key;
  if (warehouse) {
    ddl += "\"ROWTIME\" timestamptz NOT NULL, \"AGENTNODE\" text NOT NULL, ";
    key = "\"ROWTIME\",\"AGENTNODE\",";
  }
  ddl += "\"WRITETIME\" TEXT";
  for (const auto& [column, integer] : kColumns) {
    ddl += std::string(", \"") + column + "\" " +
           (integer ? (warehouse ? "bigint" : "INTEGER") : "TEXT");
    key += std::string(key.empty() || key.back() == ',' ? "" : ",") + "\"" + column + "\"";
  }
  return ddl + "); CREATE UNIQUE INDEX " + name + "_key ON " + name + " (" + key + ")" +
         (warehouse ? " NULLS NOT DISTINCT" : "") + ";";
}

// Times GET of one day of history through an operator API on `store`;
// prints <prefix>_query_bytes and <prefix>_query_mb_per_second.
void TimeQuery(const char* prefix, const axo::HistoryOptions& store, time_t day, long n) {
  axo::SetHistoryStoreForTesting(store);
  axo::api::OperatorApi api;
  axo::api::OperatorApiOptions options;
  options.port = 0;
  if (!api.Start(options).ok()) {
    std::printf("%s_query=unavailable ", prefix);
    return;
  }
  const std::string path = "/api/v1/history/ZEPSMT?from=" + std::to_string(day) +
                           "&to=" + std::to_string(day + 86400) + "&limit=" + std::to_string(n);
  const double start = monotonicSeconds();
  const long long bytes = httpGet(api.port(), path);
  const double seconds = monotonicSeconds() - start;
  api.Stop();
  // An answer of every row is far longer than 100 bytes a row.
  const bool whole = bytes > n * 100;
  std::printf("%s_query_bytes=%lld %s_query_seconds=%.3f %s_query_mb_per_second=%.1f ", prefix,
              bytes, prefix, seconds, prefix, whole ? bytes / seconds / 1e6 : 0.0);
}

}  // namespace

int runHistory(int argc, char** argv) {
  const long n = argc >= 1 ? std::atol(argv[0]) : 100000;
  pgtest::PgServer server;
  if (!server.error().empty()) {
    std::fprintf(stderr, "zepbench history: %s\n", server.error().c_str());
    return 1;
  }
  InstallDir dir;
  const time_t day = (time(nullptr) / 86400 - 1) * 86400;
  const std::vector<axo::HistoryRow> rows = MakeRows(n, day);

  // ZEPSMT as the agent declares it: keyed by every column, by its own time.
  axo::HistoryOptions smt;
  smt.keys = {{"ZEPSMT", {}}};
  smt.timeColumns = {{"ZEPSMT", "MSGTIME"}};
  axo::HistoryOptions pg = smt;
  pg.path = server.Uri();
  pg.agentNode = "bench";
  auto pgWriter = axo::NewPostgresHistoryWriter();
  if (axo::Status s = pgWriter->Open(pg); !s.ok()) {
    std::fprintf(stderr, "zepbench history: %s\n", s.message().c_str());
    return 1;
  }
  const double pgRate = TimeWriter(pgWriter.get(), rows);
  const std::string pgTsv = dir.root() + "/warehouse.tsv";
  WriteTsv(pgTsv, rows, true);
  if (server.Psql(TableDdl("copied", true)).rfind("ERROR", 0) == 0) return 1;
  const double copyRate = TimeCommand(
      server.bin() + "/psql -X -q '" + server.Uri() + "' -c \"\\copy copied FROM '" + pgTsv + "'\"",
      rows.size());

  axo::HistoryOptions lite = smt;
  lite.path = dir.root() + "/history.db";
  auto liteWriter = axo::NewSqliteHistoryWriter();
  if (axo::Status s = liteWriter->Open(lite); !s.ok()) {
    std::fprintf(stderr, "zepbench history: %s\n", s.message().c_str());
    return 1;
  }
  const double liteRate = TimeWriter(liteWriter.get(), rows);
  const std::string liteTsv = dir.root() + "/history.tsv";
  const std::string imported = dir.root() + "/imported.db";
  WriteTsv(liteTsv, rows, false);
  std::system(("sqlite3 '" + imported + "' '" + TableDdl("ZEPSMT", false) + "'").c_str());
  const double importRate =
      TimeCommand("sqlite3 -cmd 'PRAGMA journal_mode=WAL' -cmd 'PRAGMA synchronous=NORMAL' '" +
                      imported + "' '.mode tabs' '.import " + liteTsv + " ZEPSMT' >/dev/null",
                  rows.size());

  // The history route answers the tables the agent publishes only.
  zep_zepsmt_init();
  std::printf(
      "history_rows=%ld pg_writer_rows_per_second=%.0f pg_copy_rows_per_second=%.0f "
      "sqlite_writer_rows_per_second=%.0f sqlite_import_rows_per_second=%.0f ",
      n, pgRate, copyRate, liteRate, importRate);
  TimeQuery("pg", pg, day, n);
  TimeQuery("sqlite", lite, day, n);
  std::printf("\n");
  axo::SetHistoryStoreForTesting(axo::HistoryOptions());
  return pgRate > 0 && copyRate > 0 && liteRate > 0 && importRate > 0 ? 0 : 1;
}

}  // namespace zepbench
