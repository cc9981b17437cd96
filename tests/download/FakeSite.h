#pragma once
// A scripted in-memory transport for downloader tests: one body, served the
// way HttpConnection reads a server's answers.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/Connection.h"
#include "download/HttpFacts.h"
#include "download/Timing.h"

namespace download {
namespace testing_site {

struct Opened {
  int length;
  int offset;
  std::wstring ifRange;
  std::wstring url;  // where the request went, after any redirects followed
};

// Serves one body; each opened request may break off or end early. The
// connection applies the client's Range rule the way HttpConnection does.
struct FakeSite {
  std::string body;
  bool ranges = true;          // honours Range
  bool announceRanges = true;  // says so with Accept-Ranges
  bool contentLength = true;
  bool contentRange = true;  // a partial answer names its range
  long long announce = -1;  // a Content-Length other than the bytes sent
  std::wstring fileName;    // as from Content-Disposition
  std::wstring contentMd5;  // as from Content-MD5
  std::wstring etag;        // as from ETag; a ranged request whose If-Range differs gets everything (200)
  int status = 0;           // a status other than 200/206 to answer with (an error page)
  std::function<int(const Opened&)> statusFor;  // the same per request; 0: none
  int refuseOpens = 0;                          // the first n opens fail
  std::function<int(const Opened&)> breakAt;   // bytes before a failed read; -1 none
  std::function<int(const Opened&)> endAt;     // bytes before an early end; -1 none
  long long retryAfter = -1;                   // Retry-After seconds sent with every answer; -1 none
  std::function<int(const Opened&)> shift;     // a ranged answer starts this many bytes later (and says so)
  // Address -> Location: a request there is answered 302 unless redirects are followed.
  std::map<std::wstring, std::wstring> redirects;
  std::function<int(const std::wstring& url)> statusAtUrl;  // a status per final address; 0: none

  std::mutex lock;
  std::vector<Opened> opened;
  // Bytes of bodies that were closed before they were read to their end.
  size_t unreadBytesClosed = 0;
};

class FakeConnection : public IHttpConnection {
 public:
  FakeConnection(FakeSite& site, std::wstring url) : site_(site), url_(std::move(url)) { facts_.currentUrl = url_; }

  bool openRequest(Log*, bool follow, int length, int offset) override {
    std::lock_guard<std::mutex> guard(site_.lock);
    facts_.currentUrl = url_;
    facts_.redirectRefused = false;
    if (site_.refuseOpens > 0) {
      --site_.refuseOpens;
      return false;
    }
    int hops = 0;
    while (follow && site_.redirects.count(facts_.currentUrl)) {
      std::wstring next = site_.redirects[facts_.currentUrl];
      if (++hops > 10 || !redirectAllowed(facts_.currentUrl, next)) {
        facts_.status = 302;
        facts_.redirectRefused = true;
        return false;
      }
      facts_.currentUrl = next;
    }
    Opened o{length, offset, ifRange_, facts_.currentUrl};
    site_.opened.push_back(o);
    uint32_t shift = site_.shift ? static_cast<uint32_t>(site_.shift(o)) : 0u;
    size_t size = site_.body.size();
    first_ = 0;
    count_ = size;
    facts_.rangeStart = -1;
    facts_.rangeTotal = -1;
    facts_.status = 200;
    bool rangeAsked = wantsRangeHeader(facts_.acceptsRanges, offset, length);
    int errorStatus = site_.statusFor ? site_.statusFor(o) : site_.status;
    if (!errorStatus && site_.statusAtUrl) errorStatus = site_.statusAtUrl(facts_.currentUrl);
    if (!errorStatus && site_.redirects.count(facts_.currentUrl)) errorStatus = 302;
    if (errorStatus) {
      facts_.status = errorStatus;
    } else if (site_.ranges && rangeAsked && (ifRange_.empty() || ifRange_ == site_.etag)) {
      uint32_t last = static_cast<uint32_t>(offset) + static_cast<uint32_t>(length) - 1u + shift;
      first_ = std::min<size_t>(static_cast<uint32_t>(offset) + shift, size);
      count_ = std::min<size_t>(static_cast<size_t>(last) + 1, size) - first_;
      facts_.rangeStart = static_cast<long long>(first_);
      facts_.rangeTotal = site_.announce >= 0 ? site_.announce : static_cast<long long>(size);
      facts_.status = 206;
      if (!site_.contentRange) facts_.rangeStart = facts_.rangeTotal = -1;
    }
    facts_.acceptsRanges = site_.ranges && site_.announceRanges;
    facts_.contentLength = site_.contentLength ? static_cast<long long>(count_) : -1;
    if (site_.announce >= 0) facts_.contentLength = site_.announce;
    facts_.fileName = site_.fileName;
    facts_.contentMd5 = site_.contentMd5;
    facts_.etag = site_.etag;
    facts_.retryAfterSeconds = site_.retryAfter;
    breakAt_ = site_.breakAt ? site_.breakAt(o) : -1;
    endAt_ = site_.endAt ? site_.endAt(o) : -1;
    sent_ = 0;
    open_ = true;
    return true;
  }

  ReadStatus read(char* buffer, size_t capacity, size_t* received) override {
    *received = 0;
    if (!open_) return ReadStatus::kFailed;
    size_t limit = count_;
    if (breakAt_ >= 0) limit = std::min(limit, static_cast<size_t>(breakAt_));
    if (endAt_ >= 0) limit = std::min(limit, static_cast<size_t>(endAt_));
    if (sent_ >= limit) {
      if (breakAt_ >= 0 && static_cast<size_t>(breakAt_) < count_) return ReadStatus::kFailed;
      return ReadStatus::kEnd;
    }
    size_t n = std::min(capacity, std::min<size_t>(limit - sent_, 1000));
    std::memcpy(buffer, site_.body.data() + first_ + sent_, n);
    sent_ += n;
    *received = n;
    return ReadStatus::kData;
  }

  void setIfRange(const std::wstring& validator) override { ifRange_ = validator; }
  const ResponseFacts& facts() const override { return facts_; }
  void closeHandles() override {
    if (open_ && sent_ < count_ && (breakAt_ < 0 || sent_ < static_cast<size_t>(breakAt_)) &&
        (endAt_ < 0 || sent_ < static_cast<size_t>(endAt_))) {
      std::lock_guard<std::mutex> guard(site_.lock);
      site_.unreadBytesClosed += count_ - sent_;
    }
    open_ = false;
  }
  void closeConnection() override {}

 private:
  FakeSite& site_;
  std::wstring url_;
  ResponseFacts facts_;
  size_t first_ = 0, count_ = 0, sent_ = 0;
  int breakAt_ = -1, endAt_ = -1;
  bool open_ = false;
  std::wstring ifRange_;
};

inline ConnectionFactory fakeConnections(FakeSite& site) {
  return [&site](const std::wstring& url, int, int) -> std::unique_ptr<IHttpConnection> {
    return std::make_unique<FakeConnection>(site, url);
  };
}

inline Timing noPauses() {
  Timing t;
  t.connectRetryPauseMs = 0;
  t.retryDelayMs = 0;
  return t;
}

}  // namespace testing_site
}  // namespace download
