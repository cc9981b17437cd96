#pragma once
// The events in one SQLite file (WAL), the embedded default for the demo and
// tests. One connection shared by all threads behind a lock, so rows are
// written whole and in arrival order.
#include <sqlite3.h>

#include <mutex>
#include <string>

#include "EventDatabase.h"

class SqliteEvents : public EventDatabase {
 public:
  SqliteEvents() = default;
  ~SqliteEvents() override;
  SqliteEvents(const SqliteEvents&) = delete;
  SqliteEvents& operator=(const SqliteEvents&) = delete;

  // Opens or creates the file, its table and columns. False and why when
  // the file cannot be used.
  bool open(const std::string& path, std::string& why);

  Write add(const StatEvent& event, std::string& why) override;
  bool query(const std::string& sql, EventRows& rows, std::string& why) override;
  bool ping() override;
  void setBusyTimeoutMs(int ms) override;

 private:
  bool exec(const char* sql, std::string& why);
  bool addMissingColumns(std::string& why);

  std::mutex lock_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};
