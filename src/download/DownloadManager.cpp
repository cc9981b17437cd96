#include "download/DownloadManager.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "app/Log.h"
#include "app/Text.h"
#include "download/FileDownloader.h"

namespace download {

bool DownloadResult::ended() const {
  std::lock_guard<std::mutex> guard(lock_);
  return ended_;
}

bool DownloadResult::succeeded() const {
  std::lock_guard<std::mutex> guard(lock_);
  return ended_ && exitCode_ == 0;
}

DownloadFailure DownloadResult::failure() const {
  std::lock_guard<std::mutex> guard(lock_);
  return failure_;
}

void DownloadResult::end(int exitCode, const DownloadFailure& failure) {
  std::lock_guard<std::mutex> guard(lock_);
  exitCode_ = exitCode;
  failure_ = failure;
  if (exitCode != 0 && !failure_.failed()) failure_.cause = FailureCause::kNetwork;
  ended_ = true;
  finished_.notify_all();
}

bool DownloadResult::waitFor(int timeoutMs, const Timing& timing) {
  // An aborted wait stops early: the download ends on its own thread.
  constexpr int kAbortCheckMs = 100;
  std::unique_lock<std::mutex> wait(lock_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  while (!ended_ && !timing.aborted()) {
    auto step = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(kAbortCheckMs));
    if (finished_.wait_until(wait, step, [&] { return ended_; })) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  return ended_;
}

DownloadManager::DownloadManager(Log* log, ConnectionFactory connections, Timing timing)
    : log_(log), connections_(std::move(connections)), timing_(timing) {}

std::shared_ptr<const DownloadResult> DownloadManager::startDownload(const std::wstring& name, const std::wstring& url, int threadCount,
                                    IDownloadListener* listener, int id, uint32_t minValidSize,
                                    const std::wstring& expectedMd5, bool followRedirects,
                                    std::shared_ptr<IDownloadOutput> output) {
  auto downloader = std::make_unique<FileDownloader>(url, std::move(output), threadCount, log_, listener, name,
                                                     id, connections_, timing_);
  downloader->setMinValidSize(minValidSize);
  downloader->setFollowRedirects(followRedirects);
  downloader->setAnyStatusIsContent(anyStatusIsContent_);
  if (!expectedMd5.empty()) downloader->setExpectedMd5(expectedMd5);

  auto result = std::make_shared<DownloadResult>();
  try {
    std::thread([downloader = std::move(downloader), result]() mutable {
      int code = downloader->run();
      DownloadFailure failure = downloader->failure();
      downloader.reset();
      result->end(code, failure);
    }).detach();
  } catch (const std::system_error&) {
    if (log_) log_->error(L"Can't start fileDownloaderThread for " + url);
    DownloadFailure failure;
    failure.cause = FailureCause::kOutput;
    failure.text = L"Can't start fileDownloaderThread";
    result->end(1, failure);
  }
  std::lock_guard<std::mutex> guard(lock_);
  downloads_.push_back(result);
  return result;
}

bool DownloadManager::waitAll(int timeoutMs) {
  std::vector<std::shared_ptr<DownloadResult>> downloads;
  {
    std::lock_guard<std::mutex> guard(lock_);
    downloads = downloads_;
  }
  bool allOk = true;
  for (const auto& download : downloads) {
    download->waitFor(timeoutMs, timing_);
    if (!download->succeeded()) allOk = false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  downloads_.clear();
  return allOk;
}

namespace {
// What a synchronous call tells its caller about a download it waited for.
void tellFailure(const DownloadResult& result, DownloadFailure* failure) {
  if (!failure) return;
  if (result.ended()) {
    *failure = result.failure();
    return;
  }
  *failure = DownloadFailure();
  failure->cause = FailureCause::kStalled;
  failure->bytesKept = true;
  failure->text = L"No end within the wait";
}
}  // namespace

std::wstring downloadToFile(const ConnectionFactory& connections, IDownloadListener* listener,
                            const std::wstring& name, const std::wstring& url, const std::wstring& path, int id,
                            int threadCount, Log* log, int timeoutMs, uint32_t minValidSize,
                            const std::wstring& expectedMd5, bool followRedirects, const Timing& timing,
                            DownloadFailure* failure) {
  DownloadManager manager(log, connections, timing);
  auto output = std::make_shared<FileDownloadOutput>(path);
  auto result =
      manager.startDownload(name, url, threadCount, listener, id, minValidSize, expectedMd5, followRedirects, output);
  bool ok = manager.waitAll(timeoutMs);
  tellFailure(*result, failure);
  if (!ok) return std::wstring();
  return output->name();
}

namespace {
// Empty unless the download succeeded.
std::string downloadToMemory(const ConnectionFactory& connections, IDownloadListener* listener,
                             const std::wstring& name, const std::wstring& url, Log* log, int timeoutMs, int id,
                             bool followRedirects, const Timing& timing, bool anyStatus = false,
                             DownloadFailure* failure = nullptr) {
  DownloadManager manager(log, connections, timing);
  manager.setAnyStatusIsContent(anyStatus);
  auto output = std::make_shared<MemoryDownloadOutput>();
  auto result = manager.startDownload(name, url, 1, listener, id, 0, std::wstring(), followRedirects, output);
  bool ok = manager.waitAll(timeoutMs);
  tellFailure(*result, failure);
  if (!ok) return std::string();
  return output->content();
}
}  // namespace

std::wstring downloadToString(const ConnectionFactory& connections, IDownloadListener* listener,
                              const std::wstring& name, const std::wstring& url, Log* log, int timeoutMs, int id,
                              bool followRedirects, const Timing& timing, DownloadFailure* failure) {
  return text::utf8ToWide(
      downloadToMemory(connections, listener, name, url, log, timeoutMs, id, followRedirects, timing, false, failure));
}

std::wstring downloadAnswerToString(const ConnectionFactory& connections, IDownloadListener* listener,
                                    const std::wstring& name, const std::wstring& url, Log* log, int timeoutMs,
                                    int id, bool followRedirects, const Timing& timing) {
  return text::utf8ToWide(
      downloadToMemory(connections, listener, name, url, log, timeoutMs, id, followRedirects, timing, true));
}

std::vector<unsigned char> downloadToBytes(const ConnectionFactory& connections, IDownloadListener* listener,
                                           const std::wstring& name, const std::wstring& url, Log* log,
                                           int timeoutMs, int id, const Timing& timing, DownloadFailure* failure) {
  std::string bytes = downloadToMemory(connections, listener, name, url, log, timeoutMs, id, true, timing, false, failure);
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

}  // namespace download
