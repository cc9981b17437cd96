#pragma once
// Call-backs of a download. IDownloadListener is the caller's; the two others
// connect chunks with their downloader.
#include <string>

namespace download {

// Called from download and chunk threads, several at once: an implementation
// locks for itself. name and id are the caller's, so one listener can follow
// several downloads.
class IDownloadListener {
 public:
  virtual ~IDownloadListener() = default;
  virtual void onProgress(float percent, const std::wstring& name, int id) = 0;
  virtual void onComplete(const std::wstring& name, int id) = 0;
  virtual void onFailed(const std::wstring& name, int id, const std::wstring& message) = 0;
  // A recoverable error; the download goes on with its next attempt.
  virtual void onError(const std::wstring& name, int id, const std::wstring& message) = 0;
};

class ErrorHandler {
 public:
  virtual ~ErrorHandler() = default;
  virtual void handleError(const std::wstring& message) = 0;
};

struct ChunkDownloader;

class ChunkDownloaderListener {
 public:
  virtual ~ChunkDownloaderListener() = default;
  virtual void onChunkProgress(const ChunkDownloader& chunk, int received) = 0;
  virtual void onChunkFinished(const ChunkDownloader& chunk, int received) = 0;
};

}  // namespace download
