#pragma once
// Turns the reports of the runtime and pack downloads into the scenario's
// stage and total progress, and their failures into listener calls and
// error tokens.
//
// Threading: called on the download and runtime threads, several at once.
// One mutex guards the progress map; the total and stage computed from it are
// handed on while it is held, so the listener sees them in the order they
// were computed.
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "download/DownloadListener.h"

class Log;

class VexaPackDownloadListsner : public download::IDownloadListener {
 public:
  explicit VexaPackDownloadListsner(Log* log) : packLog_(log) {}

  void onProgress(float percent, const std::wstring& name, int id) override;
  // A completed download counts as progress 100.
  void onComplete(const std::wstring& name, int id) override;
  // onDownloadError, an ERROR line and name + "_" + message + ";" in the error list.
  void onFailed(const std::wstring& name, int id, const std::wstring& message) override;
  // onDownloadNotice only.
  void onError(const std::wstring& name, int id, const std::wstring& message) override;

  // The divisor of the total: 1 at first, 3 while the runtime and both packs
  // download, 2 when no runtime download runs.
  void setExpectedDownloads(int count) { expectedDownloads_ = count; }
  int expectedDownloads() const { return expectedDownloads_; }

 protected:
  // Where the results go (the scenario's listener and the context).
  virtual void packStageProgress(int stage, int percent, float exactPercent) = 0;
  virtual void packTotalProgress(int percent) = 0;
  virtual void packDownloadError(bool isPack, const std::wstring& message) = 0;
  virtual void packDownloadNotice(bool isPack, const std::wstring& message) = 0;
  virtual void appendDownloadError(const std::wstring& token) = 0;

 private:
  std::mutex progressLock_;
  std::map<std::wstring, float> progressByDownload_;
  std::atomic<int> expectedDownloads_{1};
  Log* packLog_;
};
