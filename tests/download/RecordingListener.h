#pragma once
// A download listener that keeps every call for assertions.
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "download/DownloadListener.h"

class RecordingListener : public download::IDownloadListener {
 public:
  void onProgress(float percent, const std::wstring&, int) override {
    std::lock_guard<std::mutex> guard(lock_);
    progress_.push_back(percent);
  }
  void onComplete(const std::wstring&, int) override {
    std::lock_guard<std::mutex> guard(lock_);
    ++completed_;
    ended_.notify_all();
  }
  void onFailed(const std::wstring&, int, const std::wstring& message) override {
    std::lock_guard<std::mutex> guard(lock_);
    failures_.push_back(message);
    ended_.notify_all();
  }
  void onError(const std::wstring&, int, const std::wstring& message) override {
    std::lock_guard<std::mutex> guard(lock_);
    errors_.push_back(message);
  }

  int completed() {
    std::lock_guard<std::mutex> guard(lock_);
    return completed_;
  }
  std::vector<std::wstring> failures() {
    std::lock_guard<std::mutex> guard(lock_);
    return failures_;
  }
  std::vector<std::wstring> errors() {
    std::lock_guard<std::mutex> guard(lock_);
    return errors_;
  }
  std::vector<float> progress() {
    std::lock_guard<std::mutex> guard(lock_);
    return progress_;
  }

 private:
  std::mutex lock_;
  std::condition_variable ended_;
  std::vector<float> progress_;
  int completed_ = 0;
  std::vector<std::wstring> failures_;
  std::vector<std::wstring> errors_;
};
