#pragma once
// Runs downloads on threads of their own and waits for them, and the three
// synchronous calls built on it.
//
// Threading: startDownload and waitAll are called by the owner's thread (one
// lock guards the list all the same). A download that outlives waitAll's
// time-out keeps running on its thread, which owns the downloader and frees it
// at its end; the manager may be destroyed before that.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/Connection.h"
#include "download/DownloadFailure.h"
#include "download/DownloadListener.h"
#include "download/DownloadOutput.h"
#include "download/Timing.h"

class Log;

namespace download {

// The outcome of one started download, shared by its thread and its owner so
// that either may end first. The thread fills it in once, at its end.
class DownloadResult {
 public:
  bool ended() const;
  // Ended with success.
  bool succeeded() const;
  // Why it failed; cause kNone while it runs or after a success.
  DownloadFailure failure() const;
  // Waits until the download ended, the time passed or abort is set; true when it ended.
  bool waitFor(int timeoutMs, const Timing& timing);
  // Called once by the download's thread.
  void end(int exitCode, const DownloadFailure& failure);

 private:
  mutable std::mutex lock_;
  std::condition_variable finished_;
  bool ended_ = false;
  int exitCode_ = 1;
  DownloadFailure failure_;
};

class DownloadManager {
 public:
  DownloadManager(Log* log, ConnectionFactory connections, Timing timing = Timing());
  DownloadManager(const DownloadManager&) = delete;
  DownloadManager& operator=(const DownloadManager&) = delete;

  // Starts a "fileDownloaderThread" for url into output and returns at once
  // with the download's result, which tells once it ended why it failed.
  // An empty expectedMd5 means the server's Content-MD5, if any, is checked.
  std::shared_ptr<const DownloadResult> startDownload(const std::wstring& name, const std::wstring& url, int threadCount,
                     IDownloadListener* listener, int id, uint32_t minValidSize, const std::wstring& expectedMd5,
                     bool followRedirects, std::shared_ptr<IDownloadOutput> output);

  // Waits for each started download in turn, at most timeoutMs for each. True
  // when all succeeded; one still running counts as failed. Forgets them all.
  bool waitAll(int timeoutMs);

  // Downloads started from now on take an answer of any status as content
  // (FileDownloader::setAnyStatusIsContent).
  void setAnyStatusIsContent(bool any) { anyStatusIsContent_ = any; }

 private:
  std::mutex lock_;
  Log* log_;
  ConnectionFactory connections_;
  Timing timing_;
  bool anyStatusIsContent_ = false;
  std::vector<std::shared_ptr<DownloadResult>> downloads_;
};

// The synchronous calls over a given transport; the product's WinINet versions
// are in download/win32/Downloads.h. A given failure is filled in with why
// the download failed (a download still running when the wait ended counts
// as stalled), and cleared after a success.

// The full path of the downloaded file, or empty on failure.
std::wstring downloadToFile(const ConnectionFactory& connections, IDownloadListener* listener,
                            const std::wstring& name, const std::wstring& url, const std::wstring& path, int id,
                            int threadCount, Log* log, int timeoutMs, uint32_t minValidSize,
                            const std::wstring& expectedMd5, bool followRedirects, const Timing& timing = Timing(),
                            DownloadFailure* failure = nullptr);

// The body decoded from UTF-8; empty on failure (a partial answer is never
// handed on).
std::wstring downloadToString(const ConnectionFactory& connections, IDownloadListener* listener,
                              const std::wstring& name, const std::wstring& url, Log* log, int timeoutMs, int id,
                              bool followRedirects, const Timing& timing = Timing(),
                              DownloadFailure* failure = nullptr);

// downloadToString for the statistics endpoint, whose answer is read whatever
// its HTTP status: its content is judged by its reader.
std::wstring downloadAnswerToString(const ConnectionFactory& connections, IDownloadListener* listener,
                                    const std::wstring& name, const std::wstring& url, Log* log, int timeoutMs,
                                    int id, bool followRedirects, const Timing& timing = Timing());

// The body's bytes; empty when nothing was received or the download failed.
// Redirects are followed (signatures and pictures may sit behind them).
std::vector<unsigned char> downloadToBytes(const ConnectionFactory& connections, IDownloadListener* listener,
                                           const std::wstring& name, const std::wstring& url, Log* log,
                                           int timeoutMs, int id, const Timing& timing = Timing(),
                                           DownloadFailure* failure = nullptr);

}  // namespace download
