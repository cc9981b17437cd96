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

// Shared by a download thread and the manager, so that either may end first.
struct DownloadManager::Completion {
  std::mutex lock;
  std::condition_variable finished;
  bool ended = false;
  int exitCode = 1;

  void end(int code) {
    std::lock_guard<std::mutex> guard(lock);
    exitCode = code;
    ended = true;
    finished.notify_all();
  }
};

DownloadManager::DownloadManager(Log* log, ConnectionFactory connections, Timing timing)
    : log_(log), connections_(std::move(connections)), timing_(timing) {}

void DownloadManager::startDownload(const std::wstring& name, const std::wstring& url, int threadCount,
                                    IDownloadListener* listener, int id, uint32_t minValidSize,
                                    const std::wstring& expectedMd5, bool followRedirects,
                                    std::shared_ptr<IDownloadOutput> output) {
  auto downloader = std::make_unique<FileDownloader>(url, std::move(output), threadCount, log_, listener, name,
                                                     id, connections_, timing_);
  downloader->setMinValidSize(minValidSize);
  downloader->setFollowRedirects(followRedirects);
  downloader->setAnyStatusIsContent(anyStatusIsContent_);
  if (!expectedMd5.empty()) downloader->setExpectedMd5(expectedMd5);

  auto completion = std::make_shared<Completion>();
  try {
    std::thread([downloader = std::move(downloader), completion]() mutable {
      int code = downloader->run();
      downloader.reset();
      completion->end(code);
    }).detach();
  } catch (const std::system_error&) {
    if (log_) log_->error(L"Can't start fileDownloaderThread for " + url);
    completion->end(1);
  }
  std::lock_guard<std::mutex> guard(lock_);
  downloads_.push_back(std::move(completion));
}

bool DownloadManager::waitAll(int timeoutMs) {
  std::vector<std::shared_ptr<Completion>> downloads;
  {
    std::lock_guard<std::mutex> guard(lock_);
    downloads = downloads_;
  }
  bool allOk = true;
  // An aborted wait stops early: the downloads end on their own threads.
  constexpr int kAbortCheckMs = 100;
  for (const auto& download : downloads) {
    std::unique_lock<std::mutex> wait(download->lock);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    while (!download->ended && !timing_.aborted()) {
      auto step = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(kAbortCheckMs));
      if (download->finished.wait_until(wait, step, [&] { return download->ended; })) break;
      if (std::chrono::steady_clock::now() >= deadline) break;
    }
    if (!download->ended || download->exitCode != 0) allOk = false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  downloads_.clear();
  return allOk;
}

std::wstring downloadToFile(const ConnectionFactory& connections, IDownloadListener* listener,
                            const std::wstring& name, const std::wstring& url, const std::wstring& path, int id,
                            int threadCount, Log* log, int timeoutMs, uint32_t minValidSize,
                            const std::wstring& expectedMd5, bool followRedirects, const Timing& timing) {
  DownloadManager manager(log, connections, timing);
  auto output = std::make_shared<FileDownloadOutput>(path);
  manager.startDownload(name, url, threadCount, listener, id, minValidSize, expectedMd5, followRedirects, output);
  if (!manager.waitAll(timeoutMs)) return std::wstring();
  return output->name();
}

namespace {
// Empty unless the download succeeded.
std::string downloadToMemory(const ConnectionFactory& connections, IDownloadListener* listener,
                             const std::wstring& name, const std::wstring& url, Log* log, int timeoutMs, int id,
                             bool followRedirects, const Timing& timing, bool anyStatus = false) {
  DownloadManager manager(log, connections, timing);
  manager.setAnyStatusIsContent(anyStatus);
  auto output = std::make_shared<MemoryDownloadOutput>();
  manager.startDownload(name, url, 1, listener, id, 0, std::wstring(), followRedirects, output);
  if (!manager.waitAll(timeoutMs)) return std::string();
  return output->content();
}
}  // namespace

std::wstring downloadToString(const ConnectionFactory& connections, IDownloadListener* listener,
                              const std::wstring& name, const std::wstring& url, Log* log, int timeoutMs, int id,
                              bool followRedirects, const Timing& timing) {
  return text::utf8ToWide(
      downloadToMemory(connections, listener, name, url, log, timeoutMs, id, followRedirects, timing));
}

std::wstring downloadAnswerToString(const ConnectionFactory& connections, IDownloadListener* listener,
                                    const std::wstring& name, const std::wstring& url, Log* log, int timeoutMs,
                                    int id, bool followRedirects, const Timing& timing) {
  return text::utf8ToWide(
      downloadToMemory(connections, listener, name, url, log, timeoutMs, id, followRedirects, timing, true));
}

std::vector<unsigned char> downloadToBytes(const ConnectionFactory& connections, IDownloadListener* listener,
                                           const std::wstring& name, const std::wstring& url, Log* log,
                                           int timeoutMs, int id, const Timing& timing) {
  std::string bytes = downloadToMemory(connections, listener, name, url, log, timeoutMs, id, false, timing);
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

}  // namespace download
