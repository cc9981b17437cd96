#include "scenario/PackSources.h"

#include <chrono>
#include <condition_variable>
#include <cwctype>
#include <system_error>
#include <thread>

#include "app/Log.h"
#include "download/DownloadState.h"
#include "download/platform/OutputFile.h"
#include "download/FileDownloader.h"

namespace packsources {
namespace {

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool startsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (i >= text.size() || static_cast<wchar_t>(towlower(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool isWebAddress(const std::wstring& text) {
  return startsWithNoCase(text, L"http://") || startsWithNoCase(text, L"https://");
}

// Index of the first '/' after "scheme://host"; npos when there is none.
size_t pathStart(const std::wstring& url) {
  const size_t scheme = url.find(L"://");
  if (scheme == std::wstring::npos) return std::wstring::npos;
  return url.find(L'/', scheme + 3);
}

}  // namespace

std::vector<std::wstring> parseMirrorList(const std::wstring& text) {
  std::vector<std::wstring> roots;
  std::wstring item;
  auto flush = [&] {
    while (!item.empty() && item.back() == L'/') item.pop_back();
    if (isWebAddress(item) && item.find(L"://") + 3 < item.size()) roots.push_back(item);
    item.clear();
  };
  for (wchar_t c : text) {
    if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L';' || c == L',') {
      flush();
    } else {
      item += c;
    }
  }
  flush();
  return roots;
}

std::wstring hostOf(const std::wstring& url) {
  const size_t path = pathStart(url);
  if (path != std::wstring::npos) return url.substr(0, path);
  const size_t query = url.find(L'?');
  return query == std::wstring::npos ? url : url.substr(0, query);
}

std::wstring onRoot(const std::wstring& url, const std::wstring& root) {
  const size_t path = pathStart(url);
  if (path == std::wstring::npos) return std::wstring();
  std::wstring base = root;
  while (!base.empty() && base.back() == L'/') base.pop_back();
  return base + url.substr(path);
}

std::vector<std::wstring> sourcesFor(const std::wstring& url, const std::vector<std::wstring>& roots) {
  std::vector<std::wstring> sources{url};
  for (const std::wstring& root : roots) {
    const std::wstring address = onRoot(url, root);
    if (address.empty()) continue;
    bool seen = false;
    for (const std::wstring& earlier : sources) seen = seen || earlier == address;
    if (!seen) sources.push_back(address);
  }
  return sources;
}

PackSourceOutput::PackSourceOutput(std::shared_ptr<download::FileDownloadOutput> file, std::wstring packUrl,
                                   bool trustSignature)
    : file_(std::move(file)), packUrl_(std::move(packUrl)), trustSignature_(trustSignature) {}

bool PackSourceOutput::openChunked(const std::wstring& fileName, const download::ContentIdentity& content,
                                   std::vector<download::ChunkProgress>* chunks) {
  download::ContentIdentity asPack = content;
  asPack.url = packUrl_;
  bool onLengthAlone = false;
  // Hosts may tag one file differently, but one host whose tag changed has
  // another file: the length alone only vouches across hosts of this run.
  bool hostMoved;
  {
    std::lock_guard<std::mutex> guard(lock_);
    hostMoved = !stateHost_.empty() && stateHost_ != hostOf(content.url);
  }
  // What the file on disk was taken for; the output itself checks that the
  // file still holds the bytes its state counts.
  std::string text;
  download::DownloadState stored;
  const std::wstring statePath = download::downloadStatePath(file_->name());
  if (std::FILE* state = download::outputfile::openForReading(statePath)) {
    constexpr size_t kLongestState = 16384;
    char buffer[4096];
    size_t n;
    while (text.size() <= kLongestState && (n = std::fread(buffer, 1, sizeof buffer, state)) > 0) text.append(buffer, n);
    std::fclose(state);
  }
  if (!text.empty() && download::DownloadState::parse(text, &stored) && stored.content.url == packUrl_ &&
      stored.content.length == content.length && !(stored.content == asPack)) {
    const bool sameDigest = !content.md5.empty() && content.md5 == stored.content.md5;
    const bool sameTag = !content.etag.empty() && content.etag == stored.content.etag;
    if (sameDigest || sameTag) {
      asPack = stored.content;
    } else if (trustSignature_ && content.identifiable() && hostMoved) {
      asPack = stored.content;
      onLengthAlone = true;
    }
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    onLengthAlone_ = onLengthAlone;
    stateHost_ = hostOf(content.url);
  }
  return file_->openChunked(fileName, asPack, chunks);
}

bool PackSourceOutput::carriedOnLengthAlone() {
  std::lock_guard<std::mutex> guard(lock_);
  return onLengthAlone_ && file_->bytesResumed() > 0;
}

// What one host's connections did, as far as a failover needs to know.
struct PackFailover::Watch {
  std::atomic<long long> bytes{0};
  std::atomic<long long> lastByteMs{0};
  std::atomic<bool> refusedBeforeData{false};
  std::atomic<bool> gotData{false};
  std::atomic<long long> firstByteMs{0};
};

namespace {

// Counts what a connection reads and notes a refused connection, passing
// every call on unchanged.
class WatchedConnection : public download::IHttpConnection {
 public:
  WatchedConnection(std::unique_ptr<download::IHttpConnection> inner, std::shared_ptr<PackFailover::Watch> watch,
                    std::atomic<long long>& total)
      : inner_(std::move(inner)), watch_(std::move(watch)), total_(total) {}

  bool openRequest(Log* log, bool followRedirects, int length, int offset) override {
    const bool opened = inner_->openRequest(log, followRedirects, length, offset);
    // Headers alone are no sign of life: a host that stalls answers them.
    if (!opened && !watch_->gotData.load()) watch_->refusedBeforeData = true;
    return opened;
  }
  void setIfRange(const std::wstring& validator) override { inner_->setIfRange(validator); }
  download::ReadStatus read(char* buffer, size_t capacity, size_t* received) override {
    const download::ReadStatus status = inner_->read(buffer, capacity, received);
    if (status == download::ReadStatus::kData && *received > 0) {
      watch_->bytes += static_cast<long long>(*received);
      total_ += static_cast<long long>(*received);
      const long long now = nowMs();
      if (!watch_->gotData.exchange(true)) watch_->firstByteMs = now;
      watch_->lastByteMs = now;
    }
    return status;
  }
  const download::ResponseFacts& facts() const override { return inner_->facts(); }
  void closeHandles() override { inner_->closeHandles(); }
  void closeConnection() override { inner_->closeConnection(); }

 private:
  std::unique_ptr<download::IHttpConnection> inner_;
  std::shared_ptr<PackFailover::Watch> watch_;
  std::atomic<long long>& total_;
};

}  // namespace

struct PackFailover::Run {
  std::thread thread;
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  bool ok = false;
  std::shared_ptr<std::atomic<bool>> hostAbort;
};

PackFailover::PackFailover(Settings settings, std::shared_ptr<download::IDownloadOutput> output)
    : settings_(std::move(settings)), output_(std::move(output)) {
  packfolderFirst_ = !settings_.sources.empty() && settings_.sources.front().find(L"://") == std::wstring::npos;
}

PackFailover::~PackFailover() {
  if (!run_) return;
  {
    std::lock_guard<std::mutex> guard(run_->lock);
    if (run_->hostAbort) run_->hostAbort->store(true);
  }
  // The download ends at its next read or pause: the thread uses this object.
  if (run_->thread.joinable()) run_->thread.join();
}

bool PackFailover::startAt(size_t first) {
  if (run_ && run_->thread.joinable()) run_->thread.join();
  run_ = std::make_shared<Run>();
  {
    std::lock_guard<std::mutex> guard(lock_);
    servedBy_.clear();
    servedIndex_ = -1;
    lastFailure_.clear();
    firstHostFailure_.clear();
  }
  try {
    run_->thread = std::thread(&PackFailover::run, this, first);
  } catch (const std::system_error&) {
    if (settings_.log) settings_.log->error(L"Can't start the download of " + settings_.name);
    std::lock_guard<std::mutex> guard(run_->lock);
    run_->done = true;
    return false;
  }
  return true;
}

bool PackFailover::wait(int timeoutMs) {
  if (!run_) return false;
  std::unique_lock<std::mutex> guard(run_->lock);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  constexpr int kAbortCheckMs = 100;
  while (!run_->done && !settings_.timing.aborted() && std::chrono::steady_clock::now() < deadline) {
    run_->ended.wait_for(guard, std::chrono::milliseconds(kAbortCheckMs));
  }
  return run_->done && run_->ok;
}

std::wstring PackFailover::servedBy() {
  std::lock_guard<std::mutex> guard(lock_);
  return servedBy_;
}

int PackFailover::servedIndex() {
  std::lock_guard<std::mutex> guard(lock_);
  return servedIndex_;
}

long long PackFailover::bytesFetched() { return fetched_.load(); }

void PackFailover::run(size_t first) {
  startedMs_ = nowMs();
  bool ok = false;
  const size_t count = settings_.sources.size();
  bool stopped = false;
  for (size_t i = first; i < count && !ok && !stopped && !settings_.timing.aborted(); ++i) {
    const HostOutcome outcome = tryHost(i, i + 1 == count);
    ok = outcome == HostOutcome::kServed;
    stopped = outcome == HostOutcome::kStop;
  }
  if (!ok && (stopped || settings_.timing.aborted()) && settings_.listener) {
    std::wstring failure;
    {
      std::lock_guard<std::mutex> guard(lock_);
      failure = lastFailure_;
    }
    // A cancelled download, or one whose bytes cannot be stored anywhere,
    // still ends as a failure for the caller.
    if (!failure.empty() && !lastHost_.load()) settings_.listener->onFailed(settings_.name, settings_.id, failure);
  }
  std::lock_guard<std::mutex> guard(run_->lock);
  run_->done = true;
  run_->ok = ok;
  run_->ended.notify_all();
}

PackFailover::HostOutcome PackFailover::tryHost(size_t index, bool last) {
  const std::wstring& url = settings_.sources[index];
  Log* log = settings_.log;
  lastHost_ = last;
  completeSeen_ = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    lastFailure_.clear();
  }
  auto watch = std::make_shared<Watch>();
  auto hostAbort = std::make_shared<std::atomic<bool>>(false);
  {
    std::lock_guard<std::mutex> guard(run_->lock);
    run_->hostAbort = hostAbort;
  }
  download::Timing timing = settings_.timing;
  timing.abort = hostAbort;
  download::ConnectionFactory inner = settings_.connections;
  download::ConnectionFactory watched = [inner, watch, this](const std::wstring& address, int connectMs,
                                                              int receiveMs) -> std::unique_ptr<download::IHttpConnection> {
    std::unique_ptr<download::IHttpConnection> connection = inner(address, connectMs, receiveMs);
    if (!connection) return connection;
    return std::make_unique<WatchedConnection>(std::move(connection), watch, fetched_);
  };
  if (log && index > 0) log->info(L"Download " + settings_.name + L" from " + url);
  download::FileDownloader downloader(url, output_, settings_.threadCount, log, this, settings_.name, settings_.id,
                                      watched, timing);
  // Pack links on content networks often redirect to an edge host.
  downloader.setFollowRedirects(true);
  watch->lastByteMs = nowMs();
  std::atomic<bool> finished{false};
  bool served = false;
  std::thread body;
  try {
    body = std::thread([&] {
      served = downloader.run() == 0;
      finished = true;
    });
  } catch (const std::system_error&) {
    if (log) log->error(L"Can't start fileDownloaderThread for " + url);
    return HostOutcome::kNext;
  }
  std::wstring leftBecause;
  constexpr int kStepMs = 50;
  while (!finished.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    if (settings_.timing.aborted()) {
      hostAbort->store(true);
      continue;
    }
    // A download whose last byte is in is being checked, not stalled.
    if (last || hostAbort->load() || completeSeen_.load()) continue;
    if (watch->refusedBeforeData.load()) {
      leftBecause = L"it cannot be reached";
    } else if (nowMs() - watch->lastByteMs.load() > settings_.timing.receiveTimeoutMs) {
      leftBecause = L"no byte came for " + std::to_wstring(settings_.timing.receiveTimeoutMs) + L" ms";
    } else {
      continue;
    }
    hostAbort->store(true);
  }
  body.join();
  {
    std::lock_guard<std::mutex> guard(run_->lock);
    run_->hostAbort.reset();
  }
  if (served) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      servedBy_ = url;
      servedIndex_ = static_cast<int>(index);
    }
    if (log) {
      const long long firstByte = watch->gotData.load() ? watch->firstByteMs.load() - startedMs_ : -1;
      log->info(L"Pack " + settings_.name + L" served by " + hostOf(url) + L": " + std::to_wstring(fetched_.load()) +
                L" bytes fetched in all, its first byte " + std::to_wstring(firstByte) +
                L" ms after the download began");
    }
    return HostOutcome::kServed;
  }
  std::wstring failure;
  {
    std::lock_guard<std::mutex> guard(lock_);
    failure = lastFailure_;
  }
  if (index == 0 && watch->gotData.load()) {
    std::lock_guard<std::mutex> guard(lock_);
    firstHostFailure_ = failure;
  }
  if (last || settings_.timing.aborted()) return HostOutcome::kNext;
  // Bytes that cannot be stored here cannot be stored from any host.
  if (downloader.failure().cause == download::FailureCause::kOutput && leftBecause.empty()) return HostOutcome::kStop;
  if (leftBecause.empty()) leftBecause = failure.empty() ? std::wstring(L"its download failed") : failure;
  const std::wstring notice = L"Host " + hostOf(url) + L" left for " + settings_.name + L": " + leftBecause +
                              L"; next: " + hostOf(settings_.sources[index + 1]);
  if (log) log->info(notice);
  if (settings_.listener) settings_.listener->onError(settings_.name, settings_.id, notice);
  return HostOutcome::kNext;
}

void PackFailover::onProgress(float percent, const std::wstring& name, int id) {
  if (settings_.listener) settings_.listener->onProgress(percent, name, id);
}

void PackFailover::onComplete(const std::wstring& name, int id) {
  completeSeen_ = true;
  if (settings_.listener) settings_.listener->onComplete(name, id);
}

void PackFailover::onFailed(const std::wstring& name, int id, const std::wstring& message) {
  std::wstring reported = message;
  {
    std::lock_guard<std::mutex> guard(lock_);
    lastFailure_ = message;
    // A folder's copy that was there but failed its checks is what someone
    // must mend, whatever the hosts after it answered.
    if (!firstHostFailure_.empty() && packfolderFirst_) reported = firstHostFailure_;
  }
  // While another host is left, a failure is only a reason to move on.
  if (lastHost_.load() && settings_.listener) settings_.listener->onFailed(name, id, reported);
}

void PackFailover::onError(const std::wstring& name, int id, const std::wstring& message) {
  if (settings_.listener) settings_.listener->onError(name, id, message);
}

}  // namespace packsources
