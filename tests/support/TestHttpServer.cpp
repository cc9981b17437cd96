#include "TestHttpServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "app/Text.h"

namespace testserver {
namespace {

#ifdef _WIN32
constexpr int kSendFlags = 0;
void closeSocket(std::uintptr_t s) { closesocket(static_cast<SOCKET>(s)); }
struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUser() { WSACleanup(); }
};
#else
constexpr int kSendFlags = MSG_NOSIGNAL;
void closeSocket(int s) { ::close(s); }
#endif

// Waits until the socket is readable; false on time-out.
template <typename S>
bool readable(S s, int timeoutMs) {
#ifdef _WIN32
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(s), &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &tv) > 0;
#else
  pollfd p{s, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0;
#endif
}

constexpr int kPollMs = 50;
constexpr int kRequestTimeoutMs = 5000;
constexpr size_t kMaxRequestBytes = 65536;
constexpr int kDropGraceMs = 150;
// Rate-limited answers go out in small slices to keep the pace even; others in
// large ones.
constexpr size_t kPacedSlice = 16384;
constexpr size_t kFreeSlice = 262144;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 302: return "Found";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    default: return "Status";
  }
}

// "bytes=a-b" or "bytes=a-"; false for anything else.
bool parseRange(const std::string& value, unsigned long long* first, unsigned long long* last, bool* open) {
  if (value.compare(0, 6, "bytes=") != 0) return false;
  std::string bounds = value.substr(6);
  size_t dash = bounds.find('-');
  if (dash == std::string::npos || dash == 0) return false;
  try {
    *first = std::stoull(bounds.substr(0, dash));
    *open = dash + 1 == bounds.size();
    *last = *open ? 0 : std::stoull(bounds.substr(dash + 1));
  } catch (const std::exception&) {
    return false;
  }
  return *open || *last >= *first;
}

enum class Kind { kDrop, kEnd };

std::function<Fault(const Request&)> counted(int bytes, int times, const std::string& rangePrefix, Kind kind) {
  auto left = std::make_shared<int>(times);
  return [=](const Request& request) {
    Fault fault;
    if (request.method != "GET" || *left == 0) return fault;
    if (!rangePrefix.empty() && request.range.compare(0, rangePrefix.size(), rangePrefix) != 0) return fault;
    if (*left > 0) --*left;
    if (kind == Kind::kDrop) fault.dropAfter = bytes;
    if (kind == Kind::kEnd) fault.endAfter = bytes;
    return fault;
  };
}

}  // namespace

std::function<Fault(const Request&)> dropAfter(int bytes, int times, const std::string& rangePrefix) {
  return counted(bytes, times, rangePrefix, Kind::kDrop);
}

std::function<Fault(const Request&)> endAfter(int bytes, int times, const std::string& rangePrefix) {
  return counted(bytes, times, rangePrefix, Kind::kEnd);
}

TestHttpServer::TestHttpServer(int port) {
#ifdef _WIN32
  static WinsockUser winsock;
#endif
  Socket s = static_cast<Socket>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (s == kNoSocket) return;
  int yes = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<unsigned short>(port));
  socklen_t length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 64) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closeSocket(s);
    return;
  }
  port_ = ntohs(address.sin_port);
  listener_ = s;
  acceptor_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() { stop(); }

void TestHttpServer::stop() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<Connection> connections;
  {
    std::lock_guard<std::mutex> guard(lock_);
    connections.swap(connections_);
  }
  for (Connection& c : connections) c.thread.join();
  if (listener_ != kNoSocket) closeSocket(listener_);
  listener_ = kNoSocket;
}

std::string TestHttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::wstring TestHttpServer::wideUrl(const std::string& path) const { return text::utf8ToWide(url(path)); }

void TestHttpServer::add(const std::string& path, Resource resource) {
  std::lock_guard<std::mutex> guard(lock_);
  resources_[path] = std::make_shared<const Resource>(std::move(resource));
}

std::vector<Request> TestHttpServer::requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

std::vector<Request> TestHttpServer::requestsFor(const std::string& path) const {
  std::vector<Request> matching;
  for (const Request& r : requests()) {
    if (r.path == path) matching.push_back(r);
  }
  return matching;
}

long long TestHttpServer::bodyBytesSent(const std::string& path) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = bodyBytes_.find(path);
  return it == bodyBytes_.end() ? 0 : it->second;
}

void TestHttpServer::clearRequests() {
  std::lock_guard<std::mutex> guard(lock_);
  requests_.clear();
  bodyBytes_.clear();
}

std::shared_ptr<const Resource> TestHttpServer::find(const std::string& path) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = resources_.find(path);
  if (it == resources_.end()) {
    // A resource registered without a query answers every query on its path.
    size_t query = path.find('?');
    if (query != std::string::npos) it = resources_.find(path.substr(0, query));
  }
  return it == resources_.end() ? nullptr : it->second;
}

void TestHttpServer::pauseMs(int milliseconds) const {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!stopping_ && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(milliseconds, 10)));
  }
}

void TestHttpServer::acceptLoop() {
  while (!stopping_) {
    if (!readable(listener_, kPollMs)) continue;
    Socket client = static_cast<Socket>(::accept(listener_, nullptr, nullptr));
    if (client == kNoSocket) continue;
    // Sends smaller than the loopback segment size would otherwise wait for
    // the client's delayed acknowledgements.
    int noDelay = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> guard(lock_);
    // Joins the connections that are over, so a long benchmark run keeps few threads.
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (*it->finished) {
        it->thread.join();
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    connections_.push_back({std::thread([this, client, finished] {
                              serve(client);
                              *finished = true;
                            }),
                            finished});
  }
}

bool TestHttpServer::readRequest(Socket client, Request* request) {
  std::string data;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
  while (data.find("\r\n\r\n") == std::string::npos) {
    if (stopping_ || std::chrono::steady_clock::now() > deadline || data.size() > kMaxRequestBytes) return false;
    if (!readable(client, kPollMs)) continue;
    char buffer[4096];
    int n = static_cast<int>(::recv(client, buffer, sizeof buffer, 0));
    if (n <= 0) return false;
    data.append(buffer, static_cast<size_t>(n));
  }
  size_t lineEnd = data.find("\r\n");
  std::string line = data.substr(0, lineEnd);
  size_t space1 = line.find(' ');
  size_t space2 = line.find(' ', space1 + 1);
  if (space1 == std::string::npos || space2 == std::string::npos) return false;
  request->method = line.substr(0, space1);
  request->path = line.substr(space1 + 1, space2 - space1 - 1);
  size_t pos = lineEnd + 2;
  while (pos < data.size()) {
    size_t end = data.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    std::string header = data.substr(pos, end - pos);
    size_t colon = header.find(':');
    if (colon != std::string::npos && lower(header.substr(0, colon)) == "range") {
      size_t value = header.find_first_not_of(' ', colon + 1);
      request->range = value == std::string::npos ? "" : header.substr(value);
    }
    if (colon != std::string::npos && lower(header.substr(0, colon)) == "if-range") {
      size_t value = header.find_first_not_of(' ', colon + 1);
      request->ifRange = value == std::string::npos ? "" : header.substr(value);
    }
    pos = end + 2;
  }
  return true;
}

bool TestHttpServer::sendAll(Socket client, const char* data, size_t size, long long bytesPerSecond,
                             size_t* sentOut) {
  auto start = std::chrono::steady_clock::now();
  size_t sent = 0;
  if (sentOut) *sentOut = 0;
  while (sent < size) {
    if (stopping_) return false;
    size_t part = std::min(bytesPerSecond > 0 ? kPacedSlice : kFreeSlice, size - sent);
    int n = static_cast<int>(::send(client, data + sent, static_cast<int>(part), kSendFlags));
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
    if (sentOut) *sentOut = sent;
    if (bytesPerSecond > 0) {
      auto due = start + std::chrono::microseconds(static_cast<long long>(sent) * 1000000 / bytesPerSecond);
      while (!stopping_ && std::chrono::steady_clock::now() < due) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            due - std::chrono::steady_clock::now(), std::chrono::milliseconds(10)));
      }
    }
  }
  return true;
}

void TestHttpServer::serve(Socket client) {
  Request request;
  if (!readRequest(client, &request)) {
    closeSocket(client);
    return;
  }
  std::shared_ptr<const Resource> resource = find(request.path);
  Fault fault;
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(request);
    if (resource && resource->fault) fault = resource->fault(request);
  }
  static const Resource kMissing = [] {
    Resource r;
    r.body = "not found";
    r.status = 404;
    r.ranges = false;
    return r;
  }();
  const Resource& r = resource ? *resource : kMissing;
  if (r.delayMs > 0) pauseMs(r.delayMs);

  int status = r.status;
  size_t first = 0;
  size_t count = r.body.size();
  std::string extra;
  if (!r.location.empty()) {
    status = 302;
    extra += "Location: " + r.location + "\r\n";
  } else if (r.ranges && !request.range.empty() && (request.ifRange.empty() || request.ifRange == r.etag)) {
    unsigned long long a = 0, b = 0;
    bool open = false;
    if (parseRange(request.range, &a, &b, &open)) {
      if (a >= r.body.size()) {
        status = 416;
        count = 0;
        extra += "Content-Range: bytes */" + std::to_string(r.body.size()) + "\r\n";
      } else {
        unsigned long long last = open ? r.body.size() - 1 : std::min<unsigned long long>(b, r.body.size() - 1);
        status = 206;
        first = static_cast<size_t>(a);
        count = static_cast<size_t>(last - a + 1);
        extra += "Content-Range: bytes " + std::to_string(a) + "-" + std::to_string(last) + "/" +
                 std::to_string(r.body.size()) + "\r\n";
      }
    }
  }

  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
  if (r.ranges) head += "Accept-Ranges: " + r.acceptRanges + "\r\n";
  if (r.announcedLength >= 0) {
    head += "Content-Length: " + std::to_string(r.announcedLength) + "\r\n";
  } else if (r.contentLength) {
    head += "Content-Length: " + std::to_string(count) + "\r\n";
  }
  if (!r.contentMd5.empty()) head += "Content-MD5: " + r.contentMd5 + "\r\n";
  if (!r.disposition.empty()) head += "Content-Disposition: " + r.disposition + "\r\n";
  if (!r.etag.empty()) head += "ETag: " + r.etag + "\r\n";
  head += extra + "Connection: close\r\n\r\n";

  bool ok = sendAll(client, head.data(), head.size(), 0);
  if (ok && request.method != "HEAD") {
    size_t limit = count;
    if (fault.dropAfter >= 0) limit = std::min(limit, static_cast<size_t>(fault.dropAfter));
    if (fault.endAfter >= 0) limit = std::min(limit, static_cast<size_t>(fault.endAfter));
    size_t sent = 0;
    ok = sendAll(client, r.body.data() + first, limit, r.bytesPerSecond, &sent);
    {
      std::lock_guard<std::mutex> guard(lock_);
      bodyBytes_[request.path] += static_cast<long long>(sent);
    }
    if (ok && fault.dropAfter >= 0) {
      // Lets the client take in what was sent before the reset discards it.
      pauseMs(kDropGraceMs);
      linger hard{1, 0};
      setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
      closeSocket(client);
      return;
    }
  }
#ifdef _WIN32
  shutdown(client, SD_SEND);
#else
  shutdown(client, SHUT_WR);
#endif
  // Drains what the client still sends so the close is orderly.
  char sink[512];
  for (int i = 0; i < 20 && readable(client, kPollMs); ++i) {
    if (::recv(client, sink, sizeof sink, 0) <= 0) break;
  }
  closeSocket(client);
}

}  // namespace testserver
