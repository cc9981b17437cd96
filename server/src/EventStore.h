#pragma once
// The statistics events the server received, kept in an EventDatabase
// (SQLite file or PostgreSQL, by the --db text), with what happens when the
// database is away: events that arrive while it does not answer are held in
// a bounded queue, in arrival order, and written by a background thread as
// soon as it answers again; an event that finds the queue full is not
// stored, and counted.
//
// Threading: every call may come from any thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EventDatabase.h"

class EventStore {
 public:
  struct Settings {
    // Events held while the database is away: an outage of a minute at a
    // few hundred installs a second, a few hundred MiB at most.
    size_t queueLimit = 100000;
    // How often the held events are tried again.
    int retryMs = 500;
    // PostgreSQL connections per server.
    int connections = 8;
  };

  // Database write latency buckets, in seconds (upper bounds).
  static constexpr double kLatencyBuckets[] = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5};
  static constexpr size_t kLatencyBucketCount = sizeof(kLatencyBuckets) / sizeof(kLatencyBuckets[0]);

  struct Counters {
    long stored = 0;     // rows written (at once or from the queue)
    long repeated = 0;   // requests already stored, not written again
    long notStored = 0;  // refused by the database, or not held (queue full, stop)
    long held = 0;       // events that went through the queue
    size_t queueDepth = 0;
    std::vector<long> latencyBuckets;  // cumulative, as the bounds above, then +Inf
    double latencySumSeconds = 0;
    long latencyCount = 0;
  };

  EventStore() = default;
  ~EventStore();
  EventStore(const EventStore&) = delete;
  EventStore& operator=(const EventStore&) = delete;

  // Opens (creating or migrating the table) a SQLite file, or a PostgreSQL
  // database by its address. False (and error()) when it cannot be used.
  bool open(const std::string& target) { return open(target, Settings()); }
  bool open(const std::string& target, const Settings& settings);
  // With a database made elsewhere (tests).
  void open(std::unique_ptr<EventDatabase> database, const Settings& settings);
  const std::string& error() const { return error_; }

  // False when the event is lost (refused by the database, or the database
  // away and the queue full); the reason goes to *whyNot when given, else
  // to error(). *held tells that it waits in the queue.
  bool add(const StatEvent& event, std::string* whyNot = nullptr, bool* held = nullptr);

  void setBusyTimeoutMs(int ms);

  // Rows as name -> column value, for reports and tests; see
  // EventDatabase::query for what sql may be.
  EventRows query(const std::string& sql);

  // The database answers now and holds no backlog worth alarming about.
  bool healthy();

  // At a stop: waits up to `wait` for the held events to be written, then
  // counts the rest as not stored. Returns how many were lost.
  size_t drain(std::chrono::milliseconds wait);

  Counters counters();

  // Lines about outages and their end, for the server's log.
  void setNotes(std::function<void(const std::string&)> notes);

  static const std::vector<std::string>& parameterColumns() { return EventDatabase::parameterColumns(); }

 private:
  EventDatabase::Write write(const StatEvent& event, std::string& why);
  void flushHeld();
  void note(const std::string& text);
  void stopFlusher();

  std::unique_ptr<EventDatabase> db_;
  Settings settings_;
  std::string error_;

  std::mutex queueLock_;
  std::condition_variable queueChanged_;
  std::deque<StatEvent> queue_;
  bool stopping_ = false;
  std::thread flusher_;

  std::mutex notesLock_;
  std::function<void(const std::string&)> notes_;

  std::atomic<long> stored_{0}, repeated_{0}, notStored_{0}, held_{0};
  std::atomic<long> latencyCount_{0}, latencySumMicros_{0};
  std::atomic<long> latencyBuckets_[kLatencyBucketCount + 1] = {};
};

// Now, as stored in "received".
std::string utcTimestamp();
