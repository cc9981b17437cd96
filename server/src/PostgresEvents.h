#pragma once
// The events in a PostgreSQL database that several servers share, through
// libpq. A small pool of connections, each with the insert prepared once;
// a connection that broke is made again the next time it is taken, so a
// database that restarts is used again without a restart of the server.
#include <libpq-fe.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "EventDatabase.h"

class PostgresEvents : public EventDatabase {
 public:
  // How long a connection attempt may take before the database counts as
  // unreachable.
  static constexpr int kConnectTimeoutSeconds = 3;
  // Longer than any insert or report query should take on a healthy server.
  static constexpr int kStatementTimeoutMs = 10000;

  explicit PostgresEvents(int connections);
  ~PostgresEvents() override;
  PostgresEvents(const PostgresEvents&) = delete;
  PostgresEvents& operator=(const PostgresEvents&) = delete;

  // Connects once and creates or migrates the table (one server at a time:
  // servers starting together on a new database would race). False and why
  // when the database cannot be reached or used.
  bool open(const std::string& address, std::string& why);

  Write add(const StatEvent& event, std::string& why) override;
  bool query(const std::string& sql, EventRows& rows, std::string& why) override;
  bool ping() override;

 private:
  struct Slot {
    PGconn* conn = nullptr;
    bool ready = false;  // connected, set up and the insert prepared
  };
  // A slot out of the pool, ready or not; waits while all are in use.
  Slot* take();
  void give(Slot* slot);
  bool prepare(Slot& slot, std::string& why);
  bool migrate(PGconn* conn, std::string& why);
  // The answer broke the connection or told of a database going away.
  static bool lostTheDatabase(PGconn* conn, const PGresult* result);

  std::string address_;
  std::vector<Slot> slots_;
  std::vector<Slot*> free_;
  std::mutex lock_;
  std::condition_variable freed_;
  std::mutex migrating_;
  bool migrated_ = false;  // by the first connection made
};
