#include "HttpServer.h"

#include <sys/socket.h>

HttpServer::HttpServer(size_t workers) {
  if (workers == 0) workers = 1;
  new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
}

void HttpServer::deepenListenQueue() {
  // httplib listens with a queue of a handful; a burst of connects beyond it
  // is dropped by the kernel and retried by the client only after a second.
  // Calling listen() again on a listening socket only changes the queue.
  socket_t sock = svr_sock_;
  if (sock != INVALID_SOCKET) ::listen(sock, SOMAXCONN);
}
