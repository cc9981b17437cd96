#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the download tests, in-process in
// both builds (POSIX sockets natively, Winsock under Wine). Each resource
// chooses how it is served: byte ranges, headers, redirects, delays, a rate
// limit and injected faults. It answers one request per connection and
// records every request it saw.
//
// Threading: one acceptor thread and one thread per connection; all of them
// stop and are joined by stop() or the destructor, so a test never leaves one
// behind. Fault callbacks run under the server's lock.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testserver {

struct Request {
  std::string method;
  std::string path;
  std::string range;  // the Range header's value, empty when none was sent
  std::string ifRange;  // the If-Range header's value, empty when none was sent
};

// What goes wrong with one answer's body.
struct Fault {
  int dropAfter = -1;  // bytes sent before the connection is reset
  int endAfter = -1;   // bytes sent before the connection is closed normally
};

struct Resource {
  std::string body;
  bool ranges = true;                  // honour Range and announce Accept-Ranges
  std::string acceptRanges = "bytes";  // the value announced when ranges is set
  bool contentLength = true;
  long long announcedLength = -1;  // a Content-Length other than the bytes sent
  std::string contentMd5;
  std::string disposition;
  std::string etag;  // sent as ETag; a Range whose If-Range differs gets the whole body
  std::string location;  // answer HEAD and GET with 302 and this Location
  int status = 200;
  int delayMs = 0;                 // before the answer's headers
  long long bytesPerSecond = 0;    // per connection; 0 means unlimited
  std::function<Fault(const Request&)> fault;
};

// Faults for the common cases; the counters live in the returned callback.
// times < 0 means every matching request.
std::function<Fault(const Request&)> dropAfter(int bytes, int times = 1, const std::string& rangePrefix = "");
std::function<Fault(const Request&)> endAfter(int bytes, int times = 1, const std::string& rangePrefix = "");

class TestHttpServer {
 public:
  // Binds 127.0.0.1 on port (0: an ephemeral one) and starts accepting.
  explicit TestHttpServer(int port = 0);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  bool running() const { return listener_ != kNoSocket; }
  int port() const { return port_; }
  std::string url(const std::string& path) const;
  std::wstring wideUrl(const std::string& path) const;

  void add(const std::string& path, Resource resource);
  std::vector<Request> requests() const;
  std::vector<Request> requestsFor(const std::string& path) const;
  // Body bytes handed to the sockets for path (a request's path as sent),
  // across all its answers; headers are not counted.
  long long bodyBytesSent(const std::string& path) const;
  // Forgets the requests seen and the bytes sent.
  void clearRequests();
  void stop();

 private:
#ifdef _WIN32
  using Socket = std::uintptr_t;
#else
  using Socket = int;
#endif
  static constexpr Socket kNoSocket = static_cast<Socket>(-1);

  struct Connection {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  void acceptLoop();
  void serve(Socket client);
  bool readRequest(Socket client, Request* request);
  std::shared_ptr<const Resource> find(const std::string& path) const;
  // sent, when given, receives the bytes that went out, also on failure.
  bool sendAll(Socket client, const char* data, size_t size, long long bytesPerSecond, size_t* sent = nullptr);
  void pauseMs(int milliseconds) const;

  mutable std::mutex lock_;
  std::map<std::string, std::shared_ptr<const Resource>> resources_;
  std::vector<Request> requests_;
  std::map<std::string, long long> bodyBytes_;
  std::vector<Connection> connections_;
  std::thread acceptor_;
  std::atomic<bool> stopping_{false};
  Socket listener_ = kNoSocket;
  int port_ = 0;
};

}  // namespace testserver
