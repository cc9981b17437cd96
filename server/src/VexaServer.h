#pragma once
// The HTTP face of the companion server: files of the content folder with
// byte ranges and digests, the statistics endpoint "/installer2.html" and the
// "/report" page, and "/healthz" and "/metrics" for a balancer and a
// monitoring system. One line per request goes to the log stream.
//
// Threading: bind() and run() on one thread; run() blocks and serves on a
// pool of settings.threads workers; stop() may be called from any thread.
// The stores are shared with the caller and must outlive the server.
#include <httplib.h>

#include <atomic>
#include <mutex>
#include <ostream>
#include <string>

#include "ContentStore.h"
#include "EventStore.h"
#include "HttpServer.h"
#include "Metrics.h"
#include "StartAnswer.h"

// What the operator sets on the command line.
struct ServerSettings {
  // One installer holds up to 12 transfers and a statistics request at
  // once, and gives up on a connection that stays unanswered for 5 s.
  static constexpr int kDefaultThreads = 64;
  int threads = kDefaultThreads;
  // Empty: "/report" answers clients on this machine only. Otherwise it
  // answers any client that presents this token, and no other.
  std::string reportToken;
  // Bytes per second each file transfer may send; 0 for no limit. Lets a
  // benchmark on loopback see the network a user has.
  int rateBytesPerSecond = 0;
  // Time a client has to send a whole request (HttpServer::kRequestDeadlineMs);
  // tests shorten it.
  int requestDeadlineMs = HttpServer::kRequestDeadlineMs;
};

class VexaServer {
 public:
  VexaServer(ContentStore& content, EventStore& events, const StartAnswer& answers, std::ostream& log,
             const ServerSettings& settings = ServerSettings());

  // Port 0 picks a free port. Returns the bound port, or -1.
  int bind(const std::string& host, int port);
  // Serves until stop(). False when nothing was bound.
  bool run();
  void stop();
  bool running() const { return http_.is_running(); }
  // Statistics events that arrived whole but could not be written.
  long eventsNotStored() const { return eventsNotStored_; }

 private:
  void serveFile(const httplib::Request& req, httplib::Response& res);
  void serveStatistics(const httplib::Request& req, httplib::Response& res);
  void noteEventNotStored(httplib::Response& res, const std::string& mode, const std::string& why);
  void serveReport(const httplib::Request& req, httplib::Response& res);
  void serveHealth(httplib::Response& res);
  void serveMetrics(httplib::Response& res);
  void logRequest(const httplib::Request& req, const httplib::Response& res);

  ContentStore& content_;
  EventStore& events_;
  const StartAnswer& answers_;
  std::ostream& log_;
  const std::string reportToken_;
  std::mutex logLock_;
  std::atomic<long> eventsNotStored_{0};
  RequestCounts requests_;
  HttpServer http_;
  int rate_ = 0;  // bytes per second per file transfer; 0 for none
};
