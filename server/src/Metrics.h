#pragma once
// What a monitoring system scrapes from "/metrics", in the Prometheus text
// format: requests by route and status, statistics events stored and not,
// the database's write latency and the queue of held events.
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "EventStore.h"

class RequestCounts {
 public:
  // Files are counted together: one series per file of the content folder
  // would grow without bound.
  static std::string routeOf(const std::string& path);
  void count(const std::string& path, int status);
  std::map<std::pair<std::string, int>, long> snapshot();

 private:
  std::mutex lock_;
  std::map<std::pair<std::string, int>, long> counts_;
};

std::string metricsText(const std::map<std::pair<std::string, int>, long>& requests, const EventStore::Counters& events,
                        bool databaseUp);
