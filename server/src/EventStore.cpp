#include "EventStore.h"

#include <openssl/evp.h>

#include <ctime>

#include "PostgresEvents.h"
#include "SqliteEvents.h"

const std::vector<std::string>& EventDatabase::parameterColumns() {
  static const std::vector<std::string> columns{"mode", "installId", "i_user_id", "s_user_id", "pid",
                                                "cid",  "sid",       "version",   "os",        "installKey",
                                                "errors", "trace", "mode_ext", "pinstall", "campaign_id",
                                                "presult", "pexitcode"};
  return columns;
}

std::string EventDatabase::requestDigest(const std::string& params) {
  if (params.empty()) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(params.data(), params.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

EventStore::~EventStore() { stopFlusher(); }

void EventStore::stopFlusher() {
  {
    std::lock_guard<std::mutex> guard(queueLock_);
    stopping_ = true;
  }
  queueChanged_.notify_all();
  if (flusher_.joinable()) flusher_.join();
}

bool EventStore::open(const std::string& target, const Settings& settings) {
  if (isPostgresAddress(target)) {
    auto pg = std::make_unique<PostgresEvents>(settings.connections);
    if (!pg->open(target, error_)) return false;
    open(std::move(pg), settings);
    return true;
  }
  auto lite = std::make_unique<SqliteEvents>();
  if (!lite->open(target, error_)) return false;
  open(std::move(lite), settings);
  return true;
}

void EventStore::open(std::unique_ptr<EventDatabase> database, const Settings& settings) {
  stopFlusher();
  db_ = std::move(database);
  settings_ = settings;
  stopping_ = false;
  flusher_ = std::thread([this] { flushHeld(); });
}

void EventStore::setNotes(std::function<void(const std::string&)> notes) {
  std::lock_guard<std::mutex> guard(notesLock_);
  notes_ = std::move(notes);
}

void EventStore::note(const std::string& text) {
  std::lock_guard<std::mutex> guard(notesLock_);
  if (notes_) notes_(text);
}

EventDatabase::Write EventStore::write(const StatEvent& event, std::string& why) {
  auto start = std::chrono::steady_clock::now();
  auto outcome = db_->add(event, why);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ++latencyCount_;
  latencySumMicros_ += static_cast<long>(seconds * 1e6);
  size_t bucket = 0;
  while (bucket < kLatencyBucketCount && seconds > kLatencyBuckets[bucket]) ++bucket;
  ++latencyBuckets_[bucket];
  if (outcome == EventDatabase::Write::kStored) ++stored_;
  if (outcome == EventDatabase::Write::kRepeated) ++repeated_;
  return outcome;
}

bool EventStore::add(const StatEvent& event, std::string* whyNot, bool* held) {
  if (held) *held = false;
  std::string why;
  if (!db_) {
    (whyNot ? *whyNot : error_) = "database not open";
    ++notStored_;
    return false;
  }
  EventDatabase::Write outcome = EventDatabase::Write::kUnreachable;
  bool behindOthers;
  {
    std::lock_guard<std::mutex> guard(queueLock_);
    behindOthers = !queue_.empty();
  }
  // While events are held the database is known to be away: the new one
  // waits behind them rather than costing its request another attempt.
  if (!behindOthers) outcome = write(event, why);
  if (outcome == EventDatabase::Write::kStored || outcome == EventDatabase::Write::kRepeated) return true;
  if (outcome == EventDatabase::Write::kFailed) {
    ++notStored_;
    (whyNot ? *whyNot : error_) = why;
    return false;
  }
  std::unique_lock<std::mutex> guard(queueLock_);
  if (queue_.size() >= settings_.queueLimit) {
    guard.unlock();
    ++notStored_;
    (whyNot ? *whyNot : error_) = "database away and " + std::to_string(settings_.queueLimit) +
                                  " events already held" + (why.empty() ? "" : ": " + why);
    return false;
  }
  bool first = queue_.empty();
  queue_.push_back(event);
  ++held_;
  guard.unlock();
  if (first) queueChanged_.notify_all();
  if (first && !behindOthers) note("database away (" + why + "): holding events until it answers");
  if (held) *held = true;
  return true;
}

void EventStore::flushHeld() {
  std::unique_lock<std::mutex> guard(queueLock_);
  long written = 0;
  while (!stopping_) {
    if (queue_.empty()) {
      if (written > 0) {
        guard.unlock();
        note("database back: " + std::to_string(written) + " held events written");
        guard.lock();
        written = 0;
      }
      queueChanged_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
      continue;
    }
    StatEvent event = queue_.front();
    guard.unlock();
    std::string why;
    auto outcome = write(event, why);
    guard.lock();
    if (outcome == EventDatabase::Write::kUnreachable) {
      queueChanged_.wait_for(guard, std::chrono::milliseconds(settings_.retryMs), [this] { return stopping_; });
      continue;
    }
    queue_.pop_front();
    if (outcome == EventDatabase::Write::kFailed) {
      ++notStored_;
      guard.unlock();
      note("held event " + event.fields["mode"] + " NOT STORED: " + why);
      guard.lock();
    } else {
      ++written;
    }
    if (queue_.empty()) queueChanged_.notify_all();
  }
}

size_t EventStore::drain(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> guard(queueLock_);
  queueChanged_.wait_for(guard, wait, [this] { return queue_.empty(); });
  size_t lost = queue_.size();
  queue_.clear();
  notStored_ += static_cast<long>(lost);
  return lost;
}

void EventStore::setBusyTimeoutMs(int ms) {
  if (db_) db_->setBusyTimeoutMs(ms);
}

EventRows EventStore::query(const std::string& sql) {
  EventRows rows;
  if (db_ && !db_->query(sql, rows, error_)) rows.clear();
  return rows;
}

bool EventStore::healthy() { return db_ && db_->ping(); }

EventStore::Counters EventStore::counters() {
  Counters c;
  c.stored = stored_;
  c.repeated = repeated_;
  c.notStored = notStored_;
  c.held = held_;
  {
    std::lock_guard<std::mutex> guard(queueLock_);
    c.queueDepth = queue_.size();
  }
  long running = 0;
  for (size_t i = 0; i <= kLatencyBucketCount; ++i) {
    running += latencyBuckets_[i];
    c.latencyBuckets.push_back(running);
  }
  c.latencySumSeconds = static_cast<double>(latencySumMicros_) / 1e6;
  c.latencyCount = latencyCount_;
  return c;
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
