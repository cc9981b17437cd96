#include "download/win32/HttpConnection.h"

#include <cwchar>
#include <vector>

#include "app/Log.h"
#include "download/HttpFacts.h"

namespace download {
namespace {

static_assert(HttpConnection::kSecurityFlags == 0x3100, "security flags");
static_assert(HttpConnection::kPlainFlags == 0x0460C000, "plain request flags");
static_assert(HttpConnection::kSecureFlags == 0x04E0F000, "secure request flags");

constexpr DWORD kUrlPartChars = 10240;
constexpr DWORD kCredentialChars = 260;
constexpr DWORD kHeaderBufferBytes = 4096;
constexpr size_t kRangeHeaderChars = 1024;

struct UrlParts {
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring object;  // path followed by the query
};

bool splitUrl(const std::wstring& url, UrlParts* parts) {
  std::vector<wchar_t> host(kUrlPartChars), path(kUrlPartChars), extra(kUrlPartChars);
  std::vector<wchar_t> user(kCredentialChars), password(kCredentialChars);
  URL_COMPONENTSW components{};
  components.dwStructSize = sizeof components;
  components.lpszHostName = host.data();
  components.dwHostNameLength = kUrlPartChars;
  components.lpszUrlPath = path.data();
  components.dwUrlPathLength = kUrlPartChars;
  components.lpszExtraInfo = extra.data();
  components.dwExtraInfoLength = kUrlPartChars;
  components.lpszUserName = user.data();
  components.dwUserNameLength = kCredentialChars;
  components.lpszPassword = password.data();
  components.dwPasswordLength = kCredentialChars;
  if (!InternetCrackUrlW(url.c_str(), 0, 0, &components)) return false;
  parts->host.assign(host.data(), components.dwHostNameLength);
  parts->port = components.nPort;
  parts->object.assign(path.data(), components.dwUrlPathLength);
  parts->object.append(extra.data(), components.dwExtraInfoLength);
  return true;
}

void addSecurityFlags(HINTERNET handle) {
  DWORD flags = 0;
  DWORD size = sizeof flags;
  if (InternetQueryOptionW(handle, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) {
    flags |= HttpConnection::kSecurityFlags;
    InternetSetOptionW(handle, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
}

// A user who switched the system to offline mode would otherwise block every
// download of the install.
void leaveOfflineMode(HINTERNET root) {
  DWORD state = 0;
  DWORD size = sizeof state;
  if (InternetQueryOptionW(root, INTERNET_OPTION_CONNECTED_STATE, &state, &size) &&
      (state & INTERNET_STATE_DISCONNECTED_BY_USER)) {
    INTERNET_CONNECTED_INFO info{INTERNET_STATE_CONNECTED, 0};
    InternetSetOptionW(root, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof info);
  }
}

}  // namespace

HttpConnection::HttpConnection(std::wstring url, int connectTimeoutMs, int receiveTimeoutMs)
    : url_(std::move(url)), connectTimeoutMs_(connectTimeoutMs), receiveTimeoutMs_(receiveTimeoutMs) {}

HttpConnection::~HttpConnection() { closeHandles(); }

void HttpConnection::closeHandles() {
  request_.reset();
  connection_.reset();
  root_.reset();
}

void HttpConnection::closeConnection() {
  connection_.reset();
  root_.reset();
}

bool HttpConnection::connect(const std::wstring& address) {
  root_.reset(InternetOpenW(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root_) return false;
  DWORD security = kSecurityFlags;
  InternetSetOptionW(root_.get(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
  leaveOfflineMode(root_.get());

  UrlParts parts;
  if (!splitUrl(address, &parts)) return false;
  DWORD connectTimeout = static_cast<DWORD>(connectTimeoutMs_);
  DWORD receiveTimeout = static_cast<DWORD>(receiveTimeoutMs_);
  if (!InternetSetOptionW(root_.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, sizeof connectTimeout) ||
      !InternetSetOptionW(root_.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout, sizeof receiveTimeout)) {
    return false;
  }
  connection_.reset(InternetConnectW(root_.get(), parts.host.c_str(), parts.port, nullptr, nullptr,
                                     INTERNET_SERVICE_HTTP, 0, 0));
  return static_cast<bool>(connection_);
}

void HttpConnection::connectFailed(Log* log, const std::wstring& address) {
  if (!log) return;
  // Writing the log line touches files and would replace the error code.
  DWORD code = GetLastError();
  log->error(L"Can't open connection to " + address);
  SetLastError(code);
  log->writeLastError();
}

bool HttpConnection::openVerb(const wchar_t* verb, bool secure, bool sendNow) {
  UrlParts parts;
  if (!connection_ || !splitUrl(facts_.currentUrl, &parts)) return false;
  request_.reset(HttpOpenRequestW(connection_.get(), verb, parts.object.c_str(), L"HTTP/1.1", nullptr, nullptr,
                                  secure ? kSecureFlags : kPlainFlags, 0));
  if (!request_) return false;
  addSecurityFlags(request_.get());
  if (sendNow && !HttpSendRequestW(request_.get(), nullptr, 0, nullptr, 0)) {
    request_.reset();
    return false;
  }
  return true;
}

bool HttpConnection::followRedirects(Log* log) {
  std::wstring next = url_;
  int redirects = 0;
  while (!next.empty()) {
    request_.reset();
    if (next != facts_.currentUrl) {
      if (log) log->info(L"Redirect " + facts_.currentUrl + L" -> " + next);
    }
    facts_.currentUrl = next;
    closeConnection();
    if (!connect(next)) {
      connectFailed(log, next);
      request_.reset();
      return false;
    }
    if (!openVerb(L"HEAD", isSecureUrl(next), true)) return false;
    std::wstring location;
    next.clear();
    if (queryHeader(HTTP_QUERY_LOCATION, &location) && !location.empty()) {
      std::wstring target = resolveLocation(facts_.currentUrl, location);
      std::wstring refusal;
      if (++redirects > kMaxRedirects) {
        refusal = L"Too many redirects from " + url_ + L", last at " + facts_.currentUrl;
      } else if (!redirectAllowed(facts_.currentUrl, target)) {
        refusal = L"Redirect " + facts_.currentUrl + L" -> " + target + L" refused: only http and https are followed, and never from https to http";
      }
      if (!refusal.empty()) {
        if (log) log->error(refusal);
        readFacts();
        facts_.redirectRefused = true;
        closeHandles();
        return false;
      }
      next = target;
    }
  }
  readFacts();
  closeHandles();
  return true;
}

bool HttpConnection::openRequest(Log* log, bool follow, int length, int offset) {
  facts_.currentUrl = url_;
  facts_.redirectRefused = false;
  if (follow && !followRedirects(log)) return false;

  if (!connect(facts_.currentUrl)) {
    connectFailed(log, facts_.currentUrl);
    return false;
  }
  if (!openVerb(L"GET", isSecureUrl(facts_.currentUrl), false)) return false;
  if (wantsRangeHeader(facts_.acceptsRanges, offset, length)) {
    wchar_t header[kRangeHeaderChars];
    std::swprintf(header, kRangeHeaderChars, L"Range: bytes=%u-%u", static_cast<unsigned>(offset),
                  static_cast<unsigned>(static_cast<unsigned>(offset) + static_cast<unsigned>(length) - 1u));
    HttpAddRequestHeadersW(request_.get(), header, static_cast<DWORD>(std::wcslen(header)), HTTP_ADDREQ_FLAG_ADD);
    // Only a tag that passed isStrongEtag gets here: nothing of it can end
    // the header line.
    if (isStrongEtag(ifRange_)) {
      std::wstring ifRange = L"If-Range: " + ifRange_;
      HttpAddRequestHeadersW(request_.get(), ifRange.c_str(), static_cast<DWORD>(ifRange.size()), HTTP_ADDREQ_FLAG_ADD);
    }
  }
  if (!HttpSendRequestW(request_.get(), nullptr, 0, nullptr, 0)) {
    request_.reset();
    return false;
  }
  readFacts();
  return true;
}

ReadStatus HttpConnection::read(char* buffer, size_t capacity, size_t* received) {
  *received = 0;
  if (!request_) return ReadStatus::kFailed;
  DWORD count = 0;
  if (!InternetReadFile(request_.get(), buffer, static_cast<DWORD>(capacity), &count)) return ReadStatus::kFailed;
  *received = count;
  return count > 0 ? ReadStatus::kData : ReadStatus::kEnd;
}

bool HttpConnection::queryHeader(DWORD query, std::wstring* value) const {
  if (!request_) return false;
  std::vector<wchar_t> buffer(kHeaderBufferBytes / sizeof(wchar_t), 0);
  DWORD size = kHeaderBufferBytes;
  DWORD index = 0;
  if (!HttpQueryInfoW(request_.get(), query, buffer.data(), &size, &index)) return false;
  value->assign(buffer.data(), size / sizeof(wchar_t));
  return true;
}

void HttpConnection::readFacts() {
  if (!request_) return;
  std::wstring value;
  if (queryHeader(HTTP_QUERY_ACCEPT_RANGES, &value)) facts_.acceptsRanges = acceptsRangesValue(value);
  if (queryHeader(HTTP_QUERY_CONTENT_MD5, &value)) facts_.contentMd5 = value;
  facts_.contentLength = -1;
  if (queryHeader(HTTP_QUERY_CONTENT_LENGTH, &value)) facts_.contentLength = parseContentLength(value);
  facts_.etag.clear();
  if (queryHeader(HTTP_QUERY_ETAG, &value)) facts_.etag = value;
  if (queryHeader(HTTP_QUERY_CONTENT_DISPOSITION, &value)) {
    std::wstring name = fileNameFromDisposition(value);
    if (!name.empty()) facts_.fileName = name;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  DWORD index = 0;
  facts_.status = HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                                 &index)
                      ? static_cast<int>(status)
                      : 0;
  facts_.retryAfterSeconds = queryHeader(HTTP_QUERY_RETRY_AFTER, &value) ? parseRetryAfterSeconds(value) : -1;
  ContentRange range;
  if (queryHeader(HTTP_QUERY_CONTENT_RANGE, &value)) range = parseContentRange(value);
  facts_.rangeStart = range.first;
  facts_.rangeTotal = range.total;
}

ConnectionFactory winInetConnections() {
  return [](const std::wstring& url, int connectTimeoutMs, int receiveTimeoutMs) -> std::unique_ptr<IHttpConnection> {
    return std::make_unique<HttpConnection>(url, connectTimeoutMs, receiveTimeoutMs);
  };
}

}  // namespace download
