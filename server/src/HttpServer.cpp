#include "HttpServer.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace {

// httplib answers 414 to request lines longer than this; lines up to it
// pass untouched.
constexpr size_t kHttplibLineLimit = 8000;

int toMs(time_t sec, time_t usec) { return static_cast<int>(sec * 1000 + usec / 1000); }

// The accepted socket as httplib's Stream, with a read-ahead buffer that
// lets the connection loop look at a request line before httplib parses it.
class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(socket_t sock, int readTimeoutMs, int writeTimeoutMs)
      : sock_(sock), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs) {}

  bool is_readable() const override { return buffered() > 0 || waitFor(POLLIN, readWaitMs()); }

  bool is_writable() const override { return waitFor(POLLOUT, writeTimeoutMs_); }

  ssize_t read(char* ptr, size_t size) override {
    if (buffered() == 0) {
      if (!waitFor(POLLIN, readWaitMs())) return -1;
      // Large reads go straight to the caller; small ones (httplib reads
      // header lines a byte at a time) are served from the buffer.
      if (size >= kChunk) return receive(ptr, size);
      ssize_t n = fill();
      if (n <= 0) return n;
    }
    size_t n = std::min(size, buffered());
    std::memcpy(ptr, buffer_.data() + offset_, n);
    offset_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do {
      n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { addressOf(true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { addressOf(false, ip, port); }
  socket_t socket() const override { return sock_; }

  // Waits for the next request's first bytes; false at the keep-alive
  // time-out, at the peer's close or when the server stops listening.
  bool awaitRequest(time_t keepAliveSec, const std::atomic<socket_t>& listening) const {
    if (buffered() > 0) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(keepAliveSec);
    while (listening != INVALID_SOCKET) {
      // Short waits, so a stopping server does not sit out every idle
      // connection's time-out.
      if (waitFor(POLLIN, 50)) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    return false;
  }

  // Reads ahead until the buffer holds a whole first line or more than
  // limit bytes of it. The line without its end, or nothing.
  std::optional<std::string> peekLine(size_t limit) {
    for (;;) {
      size_t end = buffer_.find('\n', offset_);
      if (end != std::string::npos) {
        size_t len = end - offset_;
        if (len > 0 && buffer_[end - 1] == '\r') --len;
        return buffer_.substr(offset_, len);
      }
      if (buffered() > limit || !waitFor(POLLIN, readWaitMs()) || fill() <= 0) return std::nullopt;
    }
  }

  enum class Head { kComplete, kTooLarge, kLineTooLong, kIncomplete };
  // The Content-Length of the buffered head; -1 when it has none, or when
  // the value is not a plain number (httplib then refuses the request).
  long long announcedLength() const {
    size_t end = std::min(buffer_.find("\r\n\r\n", offset_), buffer_.find("\n\n", offset_));
    std::string head = buffer_.substr(offset_, end == std::string::npos ? std::string::npos : end - offset_);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t at = head.find("\ncontent-length:");
    if (at == std::string::npos) return -1;
    size_t i = head.find_first_not_of(" \t", at + 16);
    long long value = 0;
    size_t digits = 0;
    for (; i < head.size() && std::isdigit(static_cast<unsigned char>(head[i])) && digits < 18; ++i, ++digits) {
      value = value * 10 + (head[i] - '0');
    }
    return digits == 0 ? -1 : value;
  }

  // Reads ahead until the buffer holds the request's whole head (request
  // line and header fields), more than limit bytes of it, or the deadline
  // or the peer's close comes first.
  Head readHead(size_t limit, size_t lineLimit) {
    for (;;) {
      size_t end = std::min(buffer_.find("\r\n\r\n", offset_), buffer_.find("\n\n", offset_));
      size_t size = end == std::string::npos ? buffered() : end - offset_;
      if (size > limit) {
        size_t lineEnd = buffer_.find('\n', offset_);
        size_t line = (lineEnd == std::string::npos ? buffer_.size() : lineEnd) - offset_;
        return line > lineLimit ? Head::kLineTooLong : Head::kTooLarge;
      }
      if (end != std::string::npos) return Head::kComplete;
      if (!waitFor(POLLIN, readWaitMs()) || fill() <= 0) return Head::kIncomplete;
    }
  }

  // Reads wait no longer than until this time; none after clearDeadline().
  void setDeadline(std::chrono::steady_clock::time_point at) {
    deadline_ = at;
    hasDeadline_ = true;
  }
  void clearDeadline() { hasDeadline_ = false; }

  // A refusal written in full, then the rest of the request read and thrown
  // away for a short while: closing with unread bytes would reset the
  // connection, and the client could lose the answer with it.
  void refuse(const std::string& answer) {
    size_t sent = 0;
    while (sent < answer.size()) {
      ssize_t n = write(answer.data() + sent, answer.size() - sent);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
    ::shutdown(sock_, SHUT_WR);
    constexpr int kLingerMs = 1000;
    constexpr size_t kLingerBytes = 1 << 20;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
    char sink[kChunk];
    for (size_t drained = 0; drained < kLingerBytes;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !waitFor(POLLIN, static_cast<int>(left.count()))) break;
      ssize_t n = receive(sink, sizeof sink);
      if (n <= 0) break;
      drained += static_cast<size_t>(n);
    }
  }

  // Swaps the buffered first line (without its end) for another.
  void replaceLine(size_t oldLength, const std::string& line) { buffer_.replace(offset_, oldLength, line); }

 private:
  static constexpr size_t kChunk = 4096;

  size_t buffered() const { return buffer_.size() - offset_; }

  int readWaitMs() const {
    if (!hasDeadline_) return readTimeoutMs_;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<int>(std::min<long long>(left.count(), readTimeoutMs_));
  }

  ssize_t receive(char* ptr, size_t size) {
    ssize_t n;
    do {
      n = ::recv(sock_, ptr, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  // Appends what the socket has: what recv() returned.
  ssize_t fill() {
    if (offset_ > 0 && offset_ == buffer_.size()) {
      buffer_.clear();
      offset_ = 0;
    }
    char chunk[kChunk];
    ssize_t n = receive(chunk, sizeof chunk);
    if (n > 0) buffer_.append(chunk, static_cast<size_t>(n));
    return n;
  }

  bool waitFor(short events, int timeoutMs) const {
    pollfd p{sock_, events, 0};
    int r;
    do {
      r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return false;
    // A hang-up still lets the rest of the data be read, never written.
    if (events == POLLOUT) return (p.revents & (POLLERR | POLLHUP)) == 0 && (p.revents & POLLOUT) != 0;
    return true;
  }

  void addressOf(bool peer, std::string& ip, int& port) const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int r = peer ? ::getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &len)
                 : ::getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len);
    if (r != 0) return;
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host, service, sizeof service,
                      NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
      ip = host;
      port = std::atoi(service);
    }
  }

  socket_t sock_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  std::string buffer_;
  size_t offset_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  bool hasDeadline_ = false;
};

// "GET <path>?<query> HTTP/1.1" longer than httplib takes, but within our
// limit, becomes "GET <path> HTTP/1.1"; the whole target is returned so the
// query can be put back once httplib has parsed the request.
std::optional<std::string> shortenLongLine(ConnectionStream& stream, size_t limit) {
  auto line = stream.peekLine(limit);
  if (!line || line->size() <= kHttplibLineLimit || line->size() > limit) return std::nullopt;
  size_t methodEnd = line->find(' ');
  size_t versionStart = line->rfind(' ');
  if (methodEnd == std::string::npos || versionStart <= methodEnd) return std::nullopt;
  std::string target = line->substr(methodEnd + 1, versionStart - methodEnd - 1);
  size_t question = target.find('?');
  if (question == std::string::npos || question > kHttplibLineLimit / 2) return std::nullopt;
  stream.replaceLine(line->size(), line->substr(0, methodEnd + 1) + target.substr(0, question) +
                                       line->substr(versionStart));
  return target;
}

void restoreTarget(httplib::Request& req, const std::string& target) {
  req.target = target;
  req.params.clear();
  httplib::detail::parse_query_text(target.substr(target.find('?') + 1), req.params);
}

std::string statusAnswer(int status) {
  const char* reason = status == 413   ? "Payload Too Large"
                       : status == 414 ? "URI Too Long"
                                       : "Request Header Fields Too Large";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

}  // namespace

// The workers: a count of requests that may be processed at once.
class HttpServer::Workers {
 public:
  explicit Workers(size_t count) : free_(count) {}

  void take() {
    std::unique_lock<std::mutex> lock(lock_);
    freed_.wait(lock, [this] { return free_ > 0; });
    --free_;
  }
  void give() {
    std::lock_guard<std::mutex> lock(lock_);
    ++free_;
    freed_.notify_one();
  }

 private:
  std::mutex lock_;
  std::condition_variable freed_;
  size_t free_;
};

HttpServer::HttpServer(size_t workers) {
  if (workers == 0) workers = 1;
  workers_ = std::make_shared<Workers>(workers);
  // Threads for the connections waiting for a request besides those of the
  // workers; they sleep in poll() and cost little.
  size_t threads = workers + kWaitingConnections;
  new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  set_payload_max_length(kMaxBodyBytes);
}

void HttpServer::deepenListenQueue() {
  // httplib listens with a queue of a handful; a burst of connects beyond it
  // is dropped by the kernel and retried by the client only after a second.
  // Calling listen() again on a listening socket only changes the queue.
  socket_t sock = svr_sock_;
  if (sock != INVALID_SOCKET) ::listen(sock, SOMAXCONN);
}

bool HttpServer::process_and_close_socket(socket_t sock) {
  bool ok = false;
  {
    ConnectionStream stream(sock, toMs(read_timeout_sec_, read_timeout_usec_),
                            toMs(write_timeout_sec_, write_timeout_usec_));
    for (size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
      if (!stream.awaitRequest(keep_alive_timeout_sec_, svr_sock_)) break;
      stream.setDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(requestDeadlineMs_));
      ConnectionStream::Head head = stream.readHead(kMaxHeadBytes, kMaxRequestLine);
      if (head == ConnectionStream::Head::kIncomplete) break;
      if (head != ConnectionStream::Head::kComplete) {
        stream.refuse(statusAnswer(head == ConnectionStream::Head::kLineTooLong ? 414 : 431));
        break;
      }
      // Refused before a byte of it is read (httplib would read the whole
      // body to skip it).
      if (stream.announcedLength() > static_cast<long long>(kMaxBodyBytes)) {
        stream.refuse(statusAnswer(413));
        break;
      }
      std::optional<std::string> longTarget = shortenLongLine(stream, kMaxRequestLine);
      bool closed = false;
      workers_->take();
      // The deadline bounds only reads: the answer, a long transfer maybe,
      // takes the time it takes.
      ok = process_request(stream, left == 1, closed, [&longTarget](httplib::Request& req) {
        if (longTarget) restoreTarget(req, *longTarget);
      });
      workers_->give();
      stream.clearDeadline();
      if (!ok || closed) break;
    }
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}
