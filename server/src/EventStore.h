#pragma once
// The statistics events the server received, one row each, in SQLite (WAL).
//
// Threading: one connection shared by all request threads; every call takes
// the store's lock, so rows are written whole and in arrival order.
#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct StatEvent {
  std::string received;  // UTC, "YYYY-MM-DD HH:MM:SS.mmm"
  std::string client;
  std::map<std::string, std::string> fields;  // parameter name -> UTF-8 value
  std::string params;                         // the deciphered query text
};

class EventStore {
 public:
  EventStore() = default;
  ~EventStore();
  EventStore(const EventStore&) = delete;
  EventStore& operator=(const EventStore&) = delete;

  // Opens or creates the database and its table. False (and error()) when
  // the file cannot be used.
  bool open(const std::string& path);
  const std::string& error() const { return error_; }

  // False when the row could not be written (disk full, lock time-out...);
  // the reason goes to *whyNot when given, else to error().
  bool add(const StatEvent& event, std::string* whyNot = nullptr);

  // How long a write waits for another connection's lock before it fails.
  void setBusyTimeoutMs(int ms);

  // Rows as name -> column value, for reports and tests. sql must be a
  // read-only statement without parameters.
  std::vector<std::map<std::string, std::string>> query(const std::string& sql);

  // The stored parameter columns, in table order.
  static const std::vector<std::string>& parameterColumns();

 private:
  bool exec(const char* sql);
  bool addMissingColumns();

  std::mutex lock_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  std::string error_;
};

// Now, as stored in "received".
std::string utcTimestamp();
