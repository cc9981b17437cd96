#include "PostgresEvents.h"

#include <memory>

namespace {

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// libpq's messages run over several lines; a log line takes one.
std::string trimmed(const char* message) {
  std::string s;
  for (const char* c = message ? message : ""; *c; ++c) {
    bool blank = *c == '\n' || *c == '\t' || *c == ' ';
    if (blank && (s.empty() || s.back() == ' ')) continue;
    s += blank ? ' ' : *c;
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s.empty() ? std::string("postgresql error") : s;
}

// Any fixed number: servers of one database take the same lock to migrate.
constexpr const char* kMigrationLock = "SELECT pg_advisory_lock(87310731)";
constexpr const char* kMigrationUnlock = "SELECT pg_advisory_unlock(87310731)";

}  // namespace

bool isPostgresAddress(const std::string& target) {
  return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0 ||
         target.find("dbname=") != std::string::npos;
}

PostgresEvents::PostgresEvents(int connections) : slots_(static_cast<size_t>(connections > 0 ? connections : 1)) {
  for (auto& s : slots_) free_.push_back(&s);
}

PostgresEvents::~PostgresEvents() {
  for (auto& s : slots_) {
    if (s.conn) PQfinish(s.conn);
  }
}

bool PostgresEvents::open(const std::string& address, std::string& why) {
  address_ = address;
  Slot* slot = take();
  bool ok = prepare(*slot, why);
  give(slot);
  return ok;
}

PostgresEvents::Slot* PostgresEvents::take() {
  std::unique_lock<std::mutex> guard(lock_);
  freed_.wait(guard, [this] { return !free_.empty(); });
  Slot* slot = free_.back();
  free_.pop_back();
  return slot;
}

void PostgresEvents::give(Slot* slot) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    free_.push_back(slot);
  }
  freed_.notify_one();
}

bool PostgresEvents::lostTheDatabase(PGconn* conn, const PGresult* result) {
  if (PQstatus(conn) == CONNECTION_BAD) return true;
  // The database's own refusals carry a state; an error without one was
  // made on this side, by a connection that broke.
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (!state) return true;
  std::string s = state;
  // Connection exceptions, and the server shutting down or starting up.
  return s.compare(0, 2, "08") == 0 || s.compare(0, 3, "57P") == 0;
}

bool PostgresEvents::migrate(PGconn* conn, std::string& why) {
  std::string create = "CREATE TABLE IF NOT EXISTS events(id BIGSERIAL PRIMARY KEY, received TEXT NOT NULL, "
                       "client TEXT NOT NULL";
  for (const auto& c : parameterColumns()) create += ", \"" + c + "\" TEXT NOT NULL DEFAULT ''";
  create += ", params TEXT NOT NULL, digest TEXT)";
  std::vector<std::string> steps{kMigrationLock, create};
  for (const auto& c : parameterColumns()) {
    steps.push_back("ALTER TABLE events ADD COLUMN IF NOT EXISTS \"" + c + "\" TEXT NOT NULL DEFAULT ''");
  }
  steps.push_back("ALTER TABLE events ADD COLUMN IF NOT EXISTS digest TEXT");
  steps.push_back("CREATE UNIQUE INDEX IF NOT EXISTS events_digest ON events(digest)");
  bool ok = true;
  for (const auto& step : steps) {
    Result r(PQexecParams(conn, step.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
    auto status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      why = trimmed(PQerrorMessage(conn));
      ok = false;
      break;
    }
  }
  Result(PQexecParams(conn, kMigrationUnlock, 0, nullptr, nullptr, nullptr, nullptr, 0));
  return ok;
}

bool PostgresEvents::prepare(Slot& slot, std::string& why) {
  if (slot.ready && PQstatus(slot.conn) == CONNECTION_OK) return true;
  slot.ready = false;
  if (slot.conn) PQfinish(slot.conn);
  const std::string timeout = std::to_string(kConnectTimeoutSeconds);
  const std::string options =
      "-c statement_timeout=" + std::to_string(kStatementTimeoutMs) + " -c client_min_messages=warning";
  const char* keys[] = {"dbname", "connect_timeout", "options", "application_name", nullptr};
  const char* values[] = {address_.c_str(), timeout.c_str(), options.c_str(), "vexa-server", nullptr};
  slot.conn = PQconnectdbParams(keys, values, 1);
  if (PQstatus(slot.conn) != CONNECTION_OK) {
    why = trimmed(PQerrorMessage(slot.conn));
    return false;
  }
  // The database's notices (a shutdown's warning among them) would go to
  // standard error beside the request log; the failures they announce are
  // logged where the writes fail.
  PQsetNoticeProcessor(slot.conn, [](void*, const char*) {}, nullptr);
  {
    std::lock_guard<std::mutex> guard(migrating_);
    if (!migrated_) {
      if (!migrate(slot.conn, why)) return false;
      migrated_ = true;
    }
  }
  std::string insert = "INSERT INTO events(received, client";
  std::string values2 = "$1, $2";
  int n = 2;
  for (const auto& c : parameterColumns()) {
    insert += ", \"" + c + "\"";
    values2 += ", $" + std::to_string(++n);
  }
  insert += ", params, digest) VALUES(" + values2 + ", $" + std::to_string(n + 1) + ", $" + std::to_string(n + 2) +
            ") ON CONFLICT (digest) DO NOTHING";
  Result r(PQprepare(slot.conn, "insert_event", insert.c_str(), n + 2, nullptr));
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
    why = trimmed(PQerrorMessage(slot.conn));
    return false;
  }
  Result p(PQprepare(slot.conn, "ping", "SELECT 1", 0, nullptr));
  if (PQresultStatus(p.get()) != PGRES_COMMAND_OK) {
    why = trimmed(PQerrorMessage(slot.conn));
    return false;
  }
  slot.ready = true;
  return true;
}

EventDatabase::Write PostgresEvents::add(const StatEvent& event, std::string& why) {
  std::vector<std::string> texts{event.received, event.client};
  for (const auto& c : parameterColumns()) {
    auto it = event.fields.find(c);
    texts.push_back(it == event.fields.end() ? std::string() : it->second);
  }
  texts.push_back(event.params);
  std::string digest = requestDigest(event.params);
  std::vector<const char*> values;
  for (const auto& t : texts) values.push_back(t.c_str());
  values.push_back(digest.empty() ? nullptr : digest.c_str());

  Slot* slot = take();
  Write outcome = Write::kUnreachable;
  // A connection that served before may have been cut by a restart of the
  // database since: one more try, on a fresh connection, before the event
  // counts as unable to reach it.
  for (int attempt = 0; attempt < 2 && outcome == Write::kUnreachable; ++attempt) {
    bool wasReady = slot->ready;
    if (!prepare(*slot, why)) break;
    Result r(PQexecPrepared(slot->conn, "insert_event", static_cast<int>(values.size()), values.data(), nullptr,
                            nullptr, 0));
    if (PQresultStatus(r.get()) == PGRES_COMMAND_OK) {
      outcome = std::string(PQcmdTuples(r.get())) == "0" ? Write::kRepeated : Write::kStored;
    } else {
      why = trimmed(PQerrorMessage(slot->conn));
      outcome = lostTheDatabase(slot->conn, r.get()) ? Write::kUnreachable : Write::kFailed;
      if (outcome == Write::kUnreachable) slot->ready = false;
    }
    if (!wasReady) break;
  }
  give(slot);
  return outcome;
}

bool PostgresEvents::query(const std::string& sql, EventRows& rows, std::string& why) {
  Slot* slot = take();
  bool ok = prepare(*slot, why);
  if (ok) {
    // The unnamed statement of the extended protocol: parsed and bound
    // apart from any value, as the prepared ones are.
    Result r(PQexecParams(slot->conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) == PGRES_TUPLES_OK) {
      for (int i = 0; i < PQntuples(r.get()); ++i) {
        std::map<std::string, std::string> row;
        for (int c = 0; c < PQnfields(r.get()); ++c) row[PQfname(r.get(), c)] = PQgetvalue(r.get(), i, c);
        rows.push_back(std::move(row));
      }
    } else {
      why = trimmed(PQerrorMessage(slot->conn));
      if (lostTheDatabase(slot->conn, r.get())) slot->ready = false;
      ok = false;
    }
  }
  give(slot);
  return ok;
}

bool PostgresEvents::ping() {
  Slot* slot = take();
  std::string why;
  bool ok = false;
  for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
    bool wasReady = slot->ready;
    if (!prepare(*slot, why)) break;
    Result r(PQexecPrepared(slot->conn, "ping", 0, nullptr, nullptr, nullptr, 0));
    ok = PQresultStatus(r.get()) == PGRES_TUPLES_OK;
    if (!ok && lostTheDatabase(slot->conn, r.get())) slot->ready = false;
    if (!wasReady) break;
  }
  give(slot);
  return ok;
}
