// The SQLite back end of the history warehouse.
#include "axo/history/sqlite/sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "axo/base/testpause.h"
#include "axo/base/trk1.h"
#include "axo/history/store/store.h"

TRK1_UNIT(axohsql_unit, "AXOHSQL");

namespace axo {
namespace {

// Fills `*out` with column `column` of each row of `sql`, as text.
bool ReadColumn(sqlite3* db, const std::string& sql, int column, std::vector<std::string>* out,
                std::string* error) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    out->emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
  }
  if (rc != SQLITE_DONE) *error = sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  return rc == SQLITE_DONE;
}

std::string JoinQuoted(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ",") + QuoteName(n);
  return out;
}

class SqliteHistoryWriter : public HistoryWriter {
 public:
  ~SqliteHistoryWriter() override { Close(); }

 protected:
  bool DoOpen(const HistoryOptions& options, std::string* error) override {
    options_ = options;
    if (!OpenFile(false, error)) return false;
    // Tables written by an earlier run get their key now, before any row of
    // this run could meet a duplicate left by it.
    for (const auto& entry : options_.keys) {
      if (!TableExists(entry.first)) continue;
      std::string why;
      bool ok =
          Exec("BEGIN IMMEDIATE", &why) && EnsureKey(entry.first, &why) && Exec("COMMIT", &why);
      if (!ok) {
        std::string ignored;
        Exec("ROLLBACK", &ignored);
        columns_.clear();
        *error = "cannot key history table " + entry.first + ": " + why;
        Close();
        return false;
      }
    }
    return true;
  }

  bool DoWrite(const std::string& table, const std::vector<HistoryRow>& rows,
               std::string* error) override {
    if (db_ == nullptr) {
      *error = "the history database is not open";
      return false;
    }
    bool ok = Exec("BEGIN IMMEDIATE", error);
    if (ok) {
      ok = InsertAll(table, rows, error);
      std::string ignored;
      if (ok) {
        AXO_TestPausePoint("history-write");  // rows inserted, not yet committed
        ok = Exec("COMMIT", error);
        if (!ok) Exec("ROLLBACK", &ignored);
      } else {
        Exec("ROLLBACK", &ignored);
      }
    }
    if (!ok) columns_.erase(table);  // a rolled-back CREATE, ALTER or index is made again
    return ok;
  }

  // Row times are stamps "CYYMMDDHHMMSSmmm", which sort as the times do.
  bool DoRetain(const std::string& table, time_t cutoff, std::string* error) override {
    if (db_ == nullptr) {
      *error = "the history database is not open";
      return false;
    }
    if (!TableExists(table)) return true;
    sqlite3_stmt* stmt = nullptr;
    std::string sql = "DELETE FROM " + QuoteName(table) + " WHERE " +
                      QuoteName(HistoryTimeColumn(options_, table)) + " < ?";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      *error = sqlite3_errmsg(db_);
      return false;
    }
    sqlite3_bind_text(stmt, 1, HistoryStamp(cutoff).c_str(), -1, SQLITE_TRANSIENT);
    bool ok = sqlite3_step(stmt) == SQLITE_DONE;
    if (!ok) *error = sqlite3_errmsg(db_);
    sqlite3_finalize(stmt);
    return ok;
  }

  bool DoExecForTesting(const std::string& sql, std::string* error) override {
    return Exec(sql, error);
  }

  bool DoReopenForTesting(bool readOnly, std::string* error) override {
    Close();
    columns_.clear();
    return OpenFile(readOnly, error);
  }

 private:
  void Close() {
    if (db_ != nullptr) sqlite3_close(db_);
    db_ = nullptr;
  }

  bool OpenFile(bool readOnly, std::string* error) {
    // Never through a link: the database is written, and a link could send
    // the writes to any file the agent may write.
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
    int rc = sqlite3_open_v2(options_.path.c_str(), &db_, flags, nullptr);
    std::string why;
    if (rc != SQLITE_OK && db_ != nullptr &&
        sqlite3_extended_errcode(db_) == SQLITE_CANTOPEN_SYMLINK) {
      why = "it is a symbolic link";
    } else if (rc == SQLITE_OK) {
      sqlite3_busy_timeout(db_, options_.busyTimeoutMillis);
      // journal_mode answers the mode in force; anything but "wal" means the
      // file is not a usable database.
      sqlite3_stmt* stmt = nullptr;
      rc = sqlite3_prepare_v2(db_, readOnly ? "PRAGMA journal_mode" : "PRAGMA journal_mode=WAL", -1,
                              &stmt, nullptr);
      if (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW &&
          std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) == "wal") {
        rc = SQLITE_OK;
      } else {
        rc = SQLITE_ERROR;
        why = sqlite3_errmsg(db_);
      }
      sqlite3_finalize(stmt);
    } else {
      why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    }
    if (rc != SQLITE_OK) {
      *error = "cannot open history database " + options_.path + ": " + why;
      Close();
      return false;
    }
    std::string ignored;
    Exec("PRAGMA synchronous=NORMAL", &ignored);
    return true;
  }

  bool Exec(const std::string& sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    *error = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
  }

  bool TableExists(const std::string& table) {
    std::vector<std::string> found;
    std::string ignored;
    std::string literal = "'";
    for (char c : table) literal += c == '\'' ? std::string("''") : std::string(1, c);
    ReadColumn(db_, "SELECT name FROM sqlite_master WHERE type='table' AND name=" + literal + "'",
               0, &found, &ignored);
    return !found.empty();
  }

  // Gives a keyed table its unique index over the key columns, removing the
  // duplicates a file written before the key holds (the first kept). A table
  // that lacks a key column stays unkeyed until the column exists.
  bool EnsureKey(const std::string& table, std::string* error) {
    auto spec = options_.keys.find(table);
    if (spec == options_.keys.end()) return true;
    std::vector<std::string> existing;
    if (!ReadColumn(db_, "PRAGMA table_info(" + QuoteName(table) + ")", 1, &existing, error)) {
      return false;
    }
    std::vector<std::string> key;
    if (spec->second.empty()) {
      for (const std::string& c : existing) {
        if (c != "WRITETIME") key.push_back(c);
      }
    } else {
      std::set<std::string> have(existing.begin(), existing.end());
      for (const std::string& c : spec->second) {
        if (have.count(c) == 0) return true;
        key.push_back(c);
      }
    }
    if (key.empty()) return true;
    std::string index = table + "_KEY";
    std::vector<std::string> indexed;
    if (!ReadColumn(db_, "PRAGMA index_info(" + QuoteName(index) + ")", 2, &indexed, error)) {
      return false;
    }
    if (indexed == key) return true;
    std::string columns = JoinQuoted(key);
    if (!Exec("DELETE FROM " + QuoteName(table) + " WHERE rowid NOT IN (SELECT min(rowid) FROM " +
                  QuoteName(table) + " GROUP BY " + columns + ")",
              error)) {
      return false;
    }
    int removed = sqlite3_changes(db_);
    if (removed > 0) {
      TRK1_Printf(&axohsql_unit, __LINE__,
                  "AXO0207W History table %s: %d duplicate rows removed before keying it by "
                  "content",
                  table.c_str(), removed);
    }
    return Exec("DROP INDEX IF EXISTS " + QuoteName(index), error) &&
           Exec("CREATE UNIQUE INDEX " + QuoteName(index) + " ON " + QuoteName(table) + " (" +
                    columns + ")",
                error);
  }

  // Creates the table, or adds the columns it lacks, then keys it.
  bool EnsureTable(const std::string& table, const Row& row, std::string* error) {
    std::set<std::string>& known = columns_[table];
    bool complete = !known.empty();
    for (const auto& column : row) complete = complete && known.count(column.first) > 0;
    if (complete) return true;
    std::string create = "CREATE TABLE IF NOT EXISTS " + QuoteName(table) + " (\"WRITETIME\" TEXT";
    for (const auto& [attribute, value] : row) {
      create += ", " + QuoteName(attribute) + (value.isText ? " TEXT" : " INTEGER");
    }
    if (!Exec(create + ")", error)) return false;
    std::vector<std::string> existing;
    if (!ReadColumn(db_, "PRAGMA table_info(" + QuoteName(table) + ")", 1, &existing, error)) {
      return false;
    }
    known = std::set<std::string>(existing.begin(), existing.end());
    for (const auto& [attribute, value] : row) {
      if (known.count(attribute)) continue;
      if (!Exec("ALTER TABLE " + QuoteName(table) + " ADD COLUMN " + QuoteName(attribute) +
                    (value.isText ? " TEXT" : " INTEGER"),
                error)) {
        known.clear();
        return false;
      }
      known.insert(attribute);
    }
    if (!EnsureKey(table, error)) {
      known.clear();
      return false;
    }
    return true;
  }

  bool InsertAll(const std::string& table, const std::vector<HistoryRow>& rows,
                 std::string* error) {
    sqlite3_stmt* stmt = nullptr;
    // The attributes the statement was made for: rows of a table share
    // them, so a row is compared, not described again.
    std::vector<std::string> preparedFor;
    auto sameAttributes = [&preparedFor](const HistoryRow& r) {
      return r.row.size() == preparedFor.size() &&
             std::equal(
                 r.row.begin(), r.row.end(), preparedFor.begin(),
                 [](const auto& column, const std::string& name) { return column.first == name; });
    };
    bool ok = true;
    for (const HistoryRow& p : rows) {
      if (stmt == nullptr || !sameAttributes(p)) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
        if (!EnsureTable(table, p.row, error)) {
          ok = false;
          break;
        }
        std::string names = "\"WRITETIME\"";
        preparedFor.clear();
        for (const auto& column : p.row) {
          names += "," + QuoteName(column.first);
          preparedFor.push_back(column.first);
        }
        // Only a uniqueness conflict is skipped; any other constraint fails.
        std::string sql = "INSERT INTO " + QuoteName(table) + " (" + names + ") VALUES (?";
        for (size_t i = 0; i < p.row.size(); ++i) sql += ",?";
        sql += ") ON CONFLICT DO NOTHING";
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
          *error = sqlite3_errmsg(db_);
          ok = false;
          break;
        }
      }
      // The row outlives the step: its texts are bound in place.
      sqlite3_bind_text(stmt, 1, p.writeTime.c_str(), -1, SQLITE_STATIC);
      for (size_t i = 0; i < p.row.size(); ++i) {
        const Value& v = p.row[i].second;
        int index = static_cast<int>(i) + 2;
        if (v.isText) {
          sqlite3_bind_text(stmt, index, v.text.data(), static_cast<int>(v.text.size()),
                            SQLITE_STATIC);
        } else {
          sqlite3_bind_int64(stmt, index, v.number);
        }
      }
      if (sqlite3_step(stmt) != SQLITE_DONE) {
        *error = sqlite3_errmsg(db_);
        ok = false;
        break;
      }
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    return ok;
  }

  HistoryOptions options_;
  sqlite3* db_ = nullptr;
  std::map<std::string, std::set<std::string>> columns_;  // columns known to exist
};

}  // namespace

std::unique_ptr<HistoryWriter> NewSqliteHistoryWriter() {
  return std::make_unique<SqliteHistoryWriter>();
}

Status SqliteHistoryQuery(const HistoryOptions& store, const HistoryQuery& query,
                          HistoryAnswer* answer) {
  // The connection and statement outlive this call: the answer reads rows
  // from them as it is written, inside one read transaction so that the
  // count and the rows agree.
  struct Reader {
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    std::vector<HistoryColumn> columns;
    ~Reader() {
      sqlite3_finalize(stmt);
      sqlite3_close(db);
    }
  };
  auto reader = std::make_shared<Reader>();
  if (sqlite3_open_v2(store.path.c_str(), &reader->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW,
                      nullptr) != SQLITE_OK) {
    return Status::Failed("cannot open history database " + store.path + ": " +
                          (reader->db != nullptr ? sqlite3_errmsg(reader->db) : "out of memory"));
  }
  sqlite3* db = reader->db;
  sqlite3_busy_timeout(db, 5000);
  // The table's columns and whether each holds integers: names are checked
  // against them, and only these names reach the statement.
  std::vector<std::string> names, types;
  std::string sql = "PRAGMA table_info(" + QuoteName(query.table) + ")";
  std::string error;
  if (!ReadColumn(db, sql, 1, &names, &error) || !ReadColumn(db, sql, 2, &types, &error)) {
    return Status::Failed(error);
  }
  std::vector<HistoryColumn> columns;
  for (size_t i = 0; i < names.size(); ++i) columns.push_back({names[i], types[i] == "INTEGER"});
  HistorySelect select;
  Status s = BuildHistorySelect(query, columns, QuoteName(HistoryTimeColumn(store, query.table)),
                                HistoryStamp(query.from), HistoryStamp(query.to), "?", &select);
  if (!s.ok()) return s;
  auto prepare = [&](const std::string& text) {
    sqlite3_finalize(reader->stmt);
    reader->stmt = nullptr;
    if (sqlite3_prepare_v2(db, text.c_str(), -1, &reader->stmt, nullptr) != SQLITE_OK) {
      error = sqlite3_errmsg(db);
      return false;
    }
    for (size_t i = 0; i < select.params.size(); ++i) {
      sqlite3_bind_text(reader->stmt, static_cast<int>(i) + 1, select.params[i].c_str(), -1,
                        SQLITE_TRANSIENT);
    }
    return true;
  };
  char* message = nullptr;
  if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, &message) != SQLITE_OK) {
    error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return Status::Failed(error);
  }
  if (!prepare(select.countSql)) return Status::Failed(error);
  if (sqlite3_step(reader->stmt) != SQLITE_ROW) {
    return Status::Failed(sqlite3_errmsg(db));
  }
  answer->count = static_cast<size_t>(sqlite3_column_int64(reader->stmt, 0));
  if (s = CheckHistoryLimit(query, answer->count); !s.ok()) return s;
  if (!prepare(select.sql)) return Status::Failed(error);
  reader->columns = std::move(select.columns);
  answer->next = [reader](Row* row) {
    if (reader->stmt == nullptr) return false;
    const int rc = sqlite3_step(reader->stmt);
    if (rc != SQLITE_ROW) {
      const std::string failure = rc == SQLITE_DONE ? "" : sqlite3_errmsg(reader->db);
      sqlite3_finalize(reader->stmt);
      reader->stmt = nullptr;
      if (!failure.empty()) throw std::runtime_error("history read failed: " + failure);
      return false;
    }
    FillHistoryRow(
        reader->columns,
        [&](int i) {
          const unsigned char* text = sqlite3_column_text(reader->stmt, i);
          return std::pair<const char*, size_t>(
              reinterpret_cast<const char*>(text),
              static_cast<size_t>(sqlite3_column_bytes(reader->stmt, i)));
        },
        row);
    return true;
  };
  return Status::OK();
}

Status HistoryReadQuery(const std::string& path, const std::string& sql,
                        std::vector<std::vector<std::string>>* rows) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    Status failed = Status::Failed(db != nullptr ? sqlite3_errmsg(db) : "cannot open " + path);
    sqlite3_close(db);
    return failed;
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
  Status result;
  if (!ok || rc != SQLITE_DONE) result = Status::Failed(sqlite3_errmsg(db));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return result;
}

}  // namespace axo
