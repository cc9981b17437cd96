#pragma once
// Where the statistics events are kept: an embedded SQLite file or a shared
// PostgreSQL database. One table, "events", of the same columns in both; a
// repeated request (the same deciphered text, as when a balancer hands a
// request to a second server after the first died mid-answer) is kept once.
//
// Threading: every call may come from any thread at once; implementations
// serialise or pool as they need.
#include <map>
#include <string>
#include <vector>

struct StatEvent {
  std::string received;  // UTC, "YYYY-MM-DD HH:MM:SS.mmm"
  std::string client;
  std::map<std::string, std::string> fields;  // parameter name -> UTF-8 value
  std::string params;                         // the deciphered query text
};

using EventRows = std::vector<std::map<std::string, std::string>>;

class EventDatabase {
 public:
  enum class Write {
    kStored,
    kRepeated,     // the same request was stored before
    kUnreachable,  // the database did not answer; worth trying again later
    kFailed,       // it answered with a refusal (disk full, lock time-out...)
  };

  virtual ~EventDatabase() = default;
  virtual Write add(const StatEvent& event, std::string& why) = 0;
  // sql: a read-only statement without parameters, written so that both
  // engines take it (quoted mixed-case column names, CASE rather than
  // boolean sums). False and why when it could not run.
  virtual bool query(const std::string& sql, EventRows& rows, std::string& why) = 0;
  // The database answers a trivial statement now.
  virtual bool ping() = 0;
  // How long a write waits for another writer's lock before it fails.
  virtual void setBusyTimeoutMs(int /*ms*/) {}

  // The stored parameter columns, in table order.
  static const std::vector<std::string>& parameterColumns();
  // The key a repeated request is known by: hex SHA-256 of the deciphered
  // text; empty (no key, never taken as repeated) for an empty text.
  static std::string requestDigest(const std::string& params);
};

// A "postgresql://" or "postgres://" address, or "host=... dbname=..." text,
// rather than a file path.
bool isPostgresAddress(const std::string& target);
