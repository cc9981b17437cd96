#include "SqliteEvents.h"

#include <set>

SqliteEvents::~SqliteEvents() {
  if (insert_) sqlite3_finalize(insert_);
  if (db_) sqlite3_close(db_);
}

bool SqliteEvents::exec(const char* sql, std::string& why) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    why = message ? message : "sqlite error";
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool SqliteEvents::open(const std::string& path, std::string& why) {
  std::lock_guard<std::mutex> guard(lock_);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    why = db_ ? sqlite3_errmsg(db_) : "cannot open database";
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  // NORMAL is safe with WAL: a power cut may lose the last events, never
  // corrupt the file, and it keeps inserts off the disk's flush path.
  std::string create = "CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY, received TEXT NOT NULL, "
                       "client TEXT NOT NULL";
  for (const auto& c : parameterColumns()) create += ", \"" + c + "\" TEXT NOT NULL DEFAULT ''";
  create += ", params TEXT NOT NULL, digest TEXT)";
  if (!exec("PRAGMA journal_mode=WAL", why) || !exec("PRAGMA synchronous=NORMAL", why) ||
      !exec(create.c_str(), why) || !addMissingColumns(why) ||
      !exec("CREATE UNIQUE INDEX IF NOT EXISTS events_digest ON events(digest)", why)) {
    return false;
  }
  std::string insert = "INSERT INTO events(received, client";
  std::string values = "?, ?";
  for (const auto& c : parameterColumns()) {
    insert += ", \"" + c + "\"";
    values += ", ?";
  }
  insert += ", params, digest) VALUES(" + values + ", ?, ?) ON CONFLICT(digest) DO NOTHING";
  if (sqlite3_prepare_v2(db_, insert.c_str(), -1, &insert_, nullptr) != SQLITE_OK) {
    why = sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

// A database made before a column was added keeps its rows; the new column
// reads as empty for them (and their digest as none).
bool SqliteEvents::addMissingColumns(std::string& why) {
  std::set<std::string> present;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA table_info(events)", -1, &stmt, nullptr) != SQLITE_OK) {
    why = sqlite3_errmsg(db_);
    return false;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) present.insert(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
  sqlite3_finalize(stmt);
  for (const auto& c : parameterColumns()) {
    if (present.count(c)) continue;
    std::string alter = "ALTER TABLE events ADD COLUMN \"" + c + "\" TEXT NOT NULL DEFAULT ''";
    if (!exec(alter.c_str(), why)) return false;
  }
  if (!present.count("digest") && !exec("ALTER TABLE events ADD COLUMN digest TEXT", why)) return false;
  return true;
}

void SqliteEvents::setBusyTimeoutMs(int ms) {
  std::lock_guard<std::mutex> guard(lock_);
  if (db_) sqlite3_busy_timeout(db_, ms);
}

EventDatabase::Write SqliteEvents::add(const StatEvent& event, std::string& why) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!insert_) {
    why = "database not open";
    return Write::kFailed;
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
  std::string digest = requestDigest(event.params);
  if (digest.empty()) sqlite3_bind_null(insert_, i++);
  else bind(digest);
  Write result = Write::kFailed;
  if (sqlite3_step(insert_) == SQLITE_DONE) result = sqlite3_changes(db_) > 0 ? Write::kStored : Write::kRepeated;
  else why = sqlite3_errmsg(db_);
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  return result;
}

bool SqliteEvents::query(const std::string& sql, EventRows& rows, std::string& why) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!db_) {
    why = "database not open";
    return false;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    why = sqlite3_errmsg(db_);
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::map<std::string, std::string> row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      const unsigned char* v = sqlite3_column_text(stmt, c);
      row[sqlite3_column_name(stmt, c)] = v ? reinterpret_cast<const char*>(v) : "";
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) why = sqlite3_errmsg(db_);
  sqlite3_finalize(stmt);
  return rc == SQLITE_DONE;
}

bool SqliteEvents::ping() {
  EventRows rows;
  std::string why;
  return query("SELECT 1 AS one", rows, why) && rows.size() == 1;
}
