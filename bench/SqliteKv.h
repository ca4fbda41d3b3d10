// The SQLite side of the comparison: one key-value table and one settings table in a
// database file. Every operation opens the file, sets its synchronous mode (OFF unless
// asked otherwise; FULL waits for the disk as the store's journaled writes do), runs one
// statement and closes the file again, the way each store operation opens and closes the
// database. The journal is SQLite's default: a rollback journal, deleted after each write.
#pragma once

#include <string>
#include <utility>
#include <vector>

class SqliteKv {
 public:
  explicit SqliteKv(std::string path, std::string synchronous = "OFF")
      : Path(std::move(path)), Synchronous(std::move(synchronous)) {}

  // Creates the file afresh with these entries and settings in one transaction.
  void Create(const std::vector<std::pair<std::string, std::string>>& entries,
              const std::vector<std::pair<std::string, std::string>>& settings) const;
  // The value stored under `name`; empty when there is none.
  std::string Read(const std::string& name) const;
  // Stores `value` under `name`, replacing any previous value.
  void Write(const std::string& name, const std::string& value) const;
  // The setting `name`, or `fallback` when it is missing or empty.
  std::string Setting(const std::string& name, const std::string& fallback) const;

 private:
  std::string Path;
  std::string Synchronous;
};
