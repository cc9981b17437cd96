#include "Metrics.h"

#include <cstdio>
#include <sstream>

std::string RequestCounts::routeOf(const std::string& path) {
  for (const char* route : {"/installer2.html", "/report", "/healthz", "/metrics"}) {
    if (path == route) return route;
  }
  return "file";
}

void RequestCounts::count(const std::string& path, int status) {
  std::lock_guard<std::mutex> guard(lock_);
  ++counts_[{routeOf(path), status}];
}

std::map<std::pair<std::string, int>, long> RequestCounts::snapshot() {
  std::lock_guard<std::mutex> guard(lock_);
  return counts_;
}

namespace {

std::string number(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.6g", v);
  return buffer;
}

}  // namespace

std::string metricsText(const std::map<std::pair<std::string, int>, long>& requests, const EventStore::Counters& events,
                        bool databaseUp) {
  std::ostringstream out;
  out << "# HELP vexa_http_requests_total Requests answered, by route and status.\n"
         "# TYPE vexa_http_requests_total counter\n";
  for (const auto& [key, n] : requests) {
    out << "vexa_http_requests_total{path=\"" << key.first << "\",status=\"" << key.second << "\"} " << n << "\n";
  }
  out << "# HELP vexa_events_stored_total Statistics events written to the database.\n"
         "# TYPE vexa_events_stored_total counter\n"
      << "vexa_events_stored_total " << events.stored << "\n"
      << "# HELP vexa_events_repeated_total Requests already stored, not written again.\n"
         "# TYPE vexa_events_repeated_total counter\n"
      << "vexa_events_repeated_total " << events.repeated << "\n"
      << "# HELP vexa_events_not_stored_total Statistics events lost: refused by the database or not held.\n"
         "# TYPE vexa_events_not_stored_total counter\n"
      << "vexa_events_not_stored_total " << events.notStored << "\n"
      << "# HELP vexa_events_held_total Statistics events held while the database was away.\n"
         "# TYPE vexa_events_held_total counter\n"
      << "vexa_events_held_total " << events.held << "\n"
      << "# HELP vexa_event_queue_depth Statistics events waiting for the database now.\n"
         "# TYPE vexa_event_queue_depth gauge\n"
      << "vexa_event_queue_depth " << events.queueDepth << "\n"
      << "# HELP vexa_database_up Whether the database answered this scrape.\n"
         "# TYPE vexa_database_up gauge\n"
      << "vexa_database_up " << (databaseUp ? 1 : 0) << "\n"
      << "# HELP vexa_db_write_seconds Time one event's write to the database took.\n"
         "# TYPE vexa_db_write_seconds histogram\n";
  for (size_t i = 0; i < events.latencyBuckets.size(); ++i) {
    std::string bound = i < EventStore::kLatencyBucketCount ? number(EventStore::kLatencyBuckets[i]) : "+Inf";
    out << "vexa_db_write_seconds_bucket{le=\"" << bound << "\"} " << events.latencyBuckets[i] << "\n";
  }
  out << "vexa_db_write_seconds_sum " << number(events.latencySumSeconds) << "\n"
      << "vexa_db_write_seconds_count " << events.latencyCount << "\n";
  return out.str();
}
