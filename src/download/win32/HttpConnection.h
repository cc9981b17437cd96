#pragma once
// The installer's HTTP client on WinINet: one connection per transfer or
// chunk, used by one thread at a time. Follows redirects itself with HEAD
// requests, sends one GET with an optional byte range and records the header
// facts the downloader needs, the status among them: whether a body is content
// is the downloader's decision.
#include <string>

#include "download/Connection.h"
#include "download/win32/InternetHandle.h"

namespace download {

class HttpConnection : public IHttpConnection {
 public:
  static constexpr const wchar_t* kAgent = L"httpget";
  static constexpr DWORD kSecurityFlags =
      SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  static constexpr DWORD kPlainFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                                       INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP |
                                       INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
  static constexpr DWORD kSecureFlags = kPlainFlags | INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                                        INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
  // A chain longer than this is taken for a loop.
  static constexpr int kMaxRedirects = 10;

  HttpConnection(std::wstring url, int connectTimeoutMs, int receiveTimeoutMs);
  ~HttpConnection() override;
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool openRequest(Log* log, bool followRedirects, int length, int offset) override;
  void setIfRange(const std::wstring& validator) override { ifRange_ = validator; }
  ReadStatus read(char* buffer, size_t capacity, size_t* received) override;
  const ResponseFacts& facts() const override { return facts_; }
  void closeHandles() override;
  void closeConnection() override;

  const std::wstring& url() const { return url_; }

 private:
  // Root handle and connection for one address; false when any step fails.
  bool connect(const std::wstring& address);
  bool openVerb(const wchar_t* verb, bool secure, bool sendNow);
  bool followRedirects(Log* log);
  void readFacts();
  // The header's text, or false when the response has none.
  bool queryHeader(DWORD query, std::wstring* value) const;
  void connectFailed(Log* log, const std::wstring& address);

  std::wstring url_;
  int connectTimeoutMs_;
  int receiveTimeoutMs_;
  ResponseFacts facts_;
  std::wstring ifRange_;
  // Members are destroyed in reverse: the request closes before its connection and root.
  InternetHandle root_;
  InternetHandle connection_;
  InternetHandle request_;
};

// Makes HttpConnections: the product's transport for the downloader.
ConnectionFactory winInetConnections();

}  // namespace download
