#pragma once
// The downloader's view of one HTTP transfer. The product's implementation is
// the WinINet HttpConnection (download/win32/HttpConnection.h); tests may give
// their own through a ConnectionFactory.
//
// Threading: one connection is used by one thread at a time and never shared.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class Log;

namespace download {

// What the downloader needs to know of the last response's headers.
struct ResponseFacts {
  std::wstring currentUrl;
  bool acceptsRanges = false;
  std::wstring contentMd5;
  // 64-bit, so that a length beyond what a download can hold is seen whole.
  long long contentLength = -1;
  std::wstring fileName;
  // First byte of the Content-Range of the last response; -1 when it had none,
  // which means its body starts at the first byte of the content.
  long long rangeStart = -1;
  // Length of the whole content after the "/" of that Content-Range; -1 when
  // there was none or it was "*".
  long long rangeTotal = -1;
  // HTTP status of the last response; 0 when unknown.
  int status = 0;
  // The ETag header of the last response as sent; empty when it had none.
  std::wstring etag;
  // Retry-After of the last response in seconds; -1 when it had none.
  long long retryAfterSeconds = -1;
  // openRequest failed because a redirect was not followed (too many hops,
  // or from https to http); status then holds the redirecting answer's status.
  // Trying the same address again would end the same way.
  bool redirectRefused = false;
};

enum class ReadStatus { kData, kEnd, kFailed };

class IHttpConnection {
 public:
  virtual ~IHttpConnection() = default;
  // Sends a GET for length bytes from offset (-1: to the end), after following
  // HEAD redirects when asked. True when a request is open; its body is then
  // read with read() and facts() describe its headers.
  virtual bool openRequest(Log* log, bool followRedirects, int length, int offset) = 0;
  // A validator that every later request with a Range header carries as
  // If-Range, so that a server whose content changed answers with all of it
  // (200) instead of a range of other bytes. Empty: none.
  virtual void setIfRange(const std::wstring& validator) = 0;
  // Reads up to capacity bytes of the open request's body into buffer.
  virtual ReadStatus read(char* buffer, size_t capacity, size_t* received) = 0;
  virtual const ResponseFacts& facts() const = 0;
  // Request, connection and root handles.
  virtual void closeHandles() = 0;
  // Root and connection handles only; the request handle stays as it is.
  virtual void closeConnection() = 0;
};

using ConnectionFactory =
    std::function<std::unique_ptr<IHttpConnection>(const std::wstring& url, int connectTimeoutMs,
                                                    int receiveTimeoutMs)>;

}  // namespace download
