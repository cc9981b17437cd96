#pragma once
// httplib's server with the connection handling the companion server needs:
// a worker pool sized by the operator and a listen queue deep enough for a
// burst of connections (one installer opens a dozen at once).
#include <httplib.h>

#include <cstddef>

class HttpServer : public httplib::Server {
 public:
  // Every connection holds one worker for as long as it transfers; a
  // connection that finds no free worker waits unanswered.
  explicit HttpServer(size_t workers);

  // Call after binding: deepens the listen queue of the bound socket.
  void deepenListenQueue();
};
