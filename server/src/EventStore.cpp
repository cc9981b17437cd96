#include "EventStore.h"

#include <chrono>
#include <ctime>
#include <set>

const std::vector<std::string>& EventStore::parameterColumns() {
  static const std::vector<std::string> columns{"mode", "installId", "i_user_id", "s_user_id", "pid",
                                                "cid",  "sid",       "version",   "os",        "installKey",
                                                "errors", "trace", "mode_ext", "pinstall", "campaign_id",
                                                "presult", "pexitcode"};
  return columns;
}

EventStore::~EventStore() {
  if (insert_) sqlite3_finalize(insert_);
  if (db_) sqlite3_close(db_);
}

bool EventStore::exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    error_ = message ? message : "sqlite error";
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool EventStore::open(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    error_ = db_ ? sqlite3_errmsg(db_) : "cannot open database";
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  // NORMAL is safe with WAL: a power cut may lose the last events, never
  // corrupt the file, and it keeps inserts off the disk's flush path.
  std::string create = "CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY, received TEXT NOT NULL, "
                       "client TEXT NOT NULL";
  for (const auto& c : parameterColumns()) create += ", \"" + c + "\" TEXT NOT NULL DEFAULT ''";
  create += ", params TEXT NOT NULL)";
  if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") || !exec(create.c_str()) ||
      !addMissingColumns()) {
    return false;
  }
  std::string insert = "INSERT INTO events(received, client";
  std::string values = "?, ?";
  for (const auto& c : parameterColumns()) {
    insert += ", \"" + c + "\"";
    values += ", ?";
  }
  insert += ", params) VALUES(" + values + ", ?)";
  if (sqlite3_prepare_v2(db_, insert.c_str(), -1, &insert_, nullptr) != SQLITE_OK) {
    error_ = sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

// A database made before a column was added keeps its rows; the new column
// reads as empty for them.
bool EventStore::addMissingColumns() {
  std::set<std::string> present;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA table_info(events)", -1, &stmt, nullptr) != SQLITE_OK) {
    error_ = sqlite3_errmsg(db_);
    return false;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) present.insert(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
  sqlite3_finalize(stmt);
  for (const auto& c : parameterColumns()) {
    if (present.count(c)) continue;
    std::string alter = "ALTER TABLE events ADD COLUMN \"" + c + "\" TEXT NOT NULL DEFAULT ''";
    if (!exec(alter.c_str())) return false;
  }
  return true;
}

void EventStore::setBusyTimeoutMs(int ms) {
  std::lock_guard<std::mutex> guard(lock_);
  if (db_) sqlite3_busy_timeout(db_, ms);
}

bool EventStore::add(const StatEvent& event, std::string* whyNot) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!insert_) {
    if (whyNot) *whyNot = "database not open";
    return false;
  }
  int i = 1;
  auto bind = [&](const std::string& v) {
    sqlite3_bind_text(insert_, i++, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  };
  bind(event.received);
  bind(event.client);
  for (const auto& c : parameterColumns()) {
    auto it = event.fields.find(c);
    bind(it == event.fields.end() ? std::string() : it->second);
  }
  bind(event.params);
  bool ok = sqlite3_step(insert_) == SQLITE_DONE;
  if (!ok) (whyNot ? *whyNot : error_) = sqlite3_errmsg(db_);
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  return ok;
}

std::vector<std::map<std::string, std::string>> EventStore::query(const std::string& sql) {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::map<std::string, std::string>> rows;
  if (!db_) return rows;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    error_ = sqlite3_errmsg(db_);
    return rows;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::map<std::string, std::string> row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      const unsigned char* v = sqlite3_column_text(stmt, c);
      row[sqlite3_column_name(stmt, c)] = v ? reinterpret_cast<const char*>(v) : "";
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  return rows;
}

std::string utcTimestamp() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm {};
  gmtime_r(&t, &tm);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buffer;
}
