#pragma once
// httplib's server with the connection handling the companion server needs:
// a worker pool sized by the operator, a listen queue deep enough for a
// burst of connections (one installer opens a dozen at once), and request
// lines longer than httplib's fixed 8 KiB limit (the installer's longest
// statistics requests are the failed installs, the ones that matter most).
//
// Threading: as httplib::Server; each connection runs on one worker.
#include <httplib.h>

#include <cstddef>

class HttpServer : public httplib::Server {
 public:
  // The installer builds statistics addresses in a buffer of 10,240
  // characters; longer lines still get 414.
  static constexpr size_t kMaxRequestLine = 32 * 1024;

  // Every connection holds one worker for as long as it transfers; a
  // connection that finds no free worker waits unanswered.
  explicit HttpServer(size_t workers);

  // Call after binding: deepens the listen queue of the bound socket.
  void deepenListenQueue();

 private:
  // Replaces httplib's keep-alive loop so that each request line can be read
  // ahead and, when it is longer than httplib accepts, handed over shortened
  // with its query restored on the parsed request.
  bool process_and_close_socket(socket_t sock) override;
};
