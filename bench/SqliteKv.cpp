#include "bench/SqliteKv.h"

#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {
struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

[[noreturn]] void Fail(sqlite3* db, const char* what) {
  throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, sql);
}

// Synchronous writes are a per-connection setting, so every opening sets them.
Db Open(const std::string& path, const std::string& synchronous) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                 nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) Fail(raw, "open");
  Exec(raw, ("PRAGMA synchronous=" + synchronous).c_str());
  return db;
}

Statement Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) Fail(db, sql);
  return Statement(raw);
}

void BindText(sqlite3* db, sqlite3_stmt* statement, int column, const std::string& text) {
  if (sqlite3_bind_text(statement, column, text.data(), static_cast<int>(text.size()),
                        SQLITE_STATIC) != SQLITE_OK)
    Fail(db, "bind");
}

void BindBlob(sqlite3* db, sqlite3_stmt* statement, int column, const std::string& bytes) {
  if (sqlite3_bind_blob(statement, column, bytes.data(), static_cast<int>(bytes.size()),
                        SQLITE_STATIC) != SQLITE_OK)
    Fail(db, "bind");
}

void StepToDone(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) Fail(db, "step");
}

// The first column of the single row a lookup finds; empty when there is none.
std::string LookUp(const std::string& path, const char* sql, const std::string& key) {
  Db db = Open(path, "OFF");
  Statement statement = Prepare(db.get(), sql);
  BindText(db.get(), statement.get(), 1, key);
  const int rc = sqlite3_step(statement.get());
  if (rc == SQLITE_DONE) return {};
  if (rc != SQLITE_ROW) Fail(db.get(), "step");
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement.get(), 0));
  return std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(statement.get(), 0)));
}

void InsertAll(sqlite3* db, const char* sql,
               const std::vector<std::pair<std::string, std::string>>& rows) {
  Statement statement = Prepare(db, sql);
  for (const auto& [key, value] : rows) {
    BindText(db, statement.get(), 1, key);
    BindBlob(db, statement.get(), 2, value);
    StepToDone(db, statement.get());
    sqlite3_reset(statement.get());
  }
}
}  // namespace

void SqliteKv::Create(const std::vector<std::pair<std::string, std::string>>& entries,
                      const std::vector<std::pair<std::string, std::string>>& settings) const {
  std::remove(Path.c_str());
  Db db = Open(Path, Synchronous);
  Exec(db.get(), "CREATE TABLE entries (name TEXT PRIMARY KEY COLLATE NOCASE, value BLOB)");
  Exec(db.get(), "CREATE TABLE settings (name TEXT PRIMARY KEY COLLATE NOCASE, value TEXT)");
  Exec(db.get(), "BEGIN");
  InsertAll(db.get(), "INSERT INTO entries VALUES (?1, ?2)", entries);
  InsertAll(db.get(), "INSERT INTO settings VALUES (?1, ?2)", settings);
  Exec(db.get(), "COMMIT");
}

std::string SqliteKv::Read(const std::string& name) const {
  return LookUp(Path, "SELECT value FROM entries WHERE name = ?1", name);
}

void SqliteKv::Write(const std::string& name, const std::string& value) const {
  Db db = Open(Path, Synchronous);
  Statement statement = Prepare(db.get(), "INSERT OR REPLACE INTO entries VALUES (?1, ?2)");
  BindText(db.get(), statement.get(), 1, name);
  BindBlob(db.get(), statement.get(), 2, value);
  StepToDone(db.get(), statement.get());
}

std::string SqliteKv::Setting(const std::string& name, const std::string& fallback) const {
  std::string value = LookUp(Path, "SELECT value FROM settings WHERE name = ?1", name);
  return value.empty() ? fallback : value;
}
