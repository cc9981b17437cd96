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

// One metric of one value, with its help and type lines.
template <typename Value>
void single(std::ostringstream& out, const char* name, const char* type, const char* help, Value value) {
  out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n" << name << " " << value << "\n";
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
  single(out, "vexa_events_stored_total", "counter", "Statistics events written to the database.", events.stored);
  single(out, "vexa_events_repeated_total", "counter", "Requests already stored, not written again.",
         events.repeated);
  single(out, "vexa_events_not_stored_total", "counter",
         "Statistics events lost: refused by the database or not held.", events.notStored);
  single(out, "vexa_events_held_total", "counter", "Statistics events held while the database was away.",
         events.held);
  single(out, "vexa_event_queue_depth", "gauge", "Statistics events waiting for the database now.",
         events.queueDepth);
  single(out, "vexa_database_up", "gauge", "Whether the database answered this scrape.", databaseUp ? 1 : 0);
  out << "# HELP vexa_db_write_seconds Time one event's write to the database took.\n"
         "# TYPE vexa_db_write_seconds histogram\n";
  for (size_t i = 0; i < events.latencyBuckets.size(); ++i) {
    std::string bound = i < EventStore::kLatencyBucketCount ? number(EventStore::kLatencyBuckets[i]) : "+Inf";
    out << "vexa_db_write_seconds_bucket{le=\"" << bound << "\"} " << events.latencyBuckets[i] << "\n";
  }
  out << "vexa_db_write_seconds_sum " << number(events.latencySumSeconds) << "\n"
      << "vexa_db_write_seconds_count " << events.latencyCount << "\n";
  return out.str();
}
