#pragma once
// httplib's server with the connection handling the companion server needs:
// a worker pool sized by the operator, a listen queue deep enough for a
// burst of connections (one installer opens a dozen at once), and request
// lines longer than httplib's fixed 8 KiB limit (the installer's longest
// statistics requests are the failed installs, the ones that matter most),
// and limits that keep hostile or slow clients from taking it over: a cap on
// a request's head (431) and body (413), a deadline for the whole request,
// and workers taken only by requests whose head has arrived, so that clients
// trickling their requests do not starve everyone else.
//
// Threading: each connection runs on a thread of the pool; a connection
// holds one of the workers only while a request of it is processed.
#include <httplib.h>

#include <cstddef>

class HttpServer : public httplib::Server {
 public:
  // The installer builds statistics addresses in a buffer of 10,240
  // characters; longer lines still get 414.
  static constexpr size_t kMaxRequestLine = 32 * 1024;
  // Request line and header fields together; more gets 431 (a request line
  // alone past kMaxRequestLine gets 414).
  static constexpr size_t kMaxHeadBytes = 64 * 1024;
  // The server takes no uploads: statistics come as GET requests.
  static constexpr size_t kMaxBodyBytes = 64 * 1024;
  // From a request's first byte to the end of its body; a client that has
  // not sent it all by then is dropped.
  static constexpr int kRequestDeadlineMs = 10000;
  // Connections that may wait for their requests' heads at once, besides
  // the workers.
  static constexpr size_t kWaitingConnections = 256;

  // A request holds one worker from its complete head until its answer is
  // sent (a transfer for its whole length); one that finds no free worker
  // waits for one.
  explicit HttpServer(size_t workers);

  void setRequestDeadlineMs(int ms) { requestDeadlineMs_ = ms > 0 ? ms : kRequestDeadlineMs; }

  // Call after binding: deepens the listen queue of the bound socket.
  void deepenListenQueue();

 private:
  // Replaces httplib's keep-alive loop so that each request line can be read
  // ahead and, when it is longer than httplib accepts, handed over shortened
  // with its query restored on the parsed request.
  bool process_and_close_socket(socket_t sock) override;

  class Workers;
  std::shared_ptr<Workers> workers_;
  int requestDeadlineMs_ = kRequestDeadlineMs;
};
