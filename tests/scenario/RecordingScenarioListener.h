#pragma once
// A scenario listener that keeps every call, in order, for assertions.
#include <mutex>
#include <string>
#include <vector>

#include "scenario/InstallScenarioListener.h"

class RecordingScenarioListener : public InstallScenarioListener {
 public:
  struct Stage {
    int stage, percent;
    float exact;
  };

  void onStageProgress(int stage, int percent, float exact) override {
    std::lock_guard<std::mutex> guard(lock_);
    stages_.push_back({stage, percent, exact});
    calls_.push_back(L"stage");
  }
  void onDownloadError(bool isPack, const std::wstring& message) override {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(std::wstring(L"error:") + (isPack ? L"pack:" : L"runtime:") + message);
  }
  void onDownloadNotice(bool isPack, const std::wstring& message) override {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(std::wstring(L"notice:") + (isPack ? L"pack:" : L"runtime:") + message);
  }
  void onTotalProgress(int percent) override {
    std::lock_guard<std::mutex> guard(lock_);
    totals_.push_back(percent);
    calls_.push_back(L"total:" + std::to_wstring(percent));
  }
  void onInstallDone() override {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(L"done");
  }
  void onScenarioEnd() override {
    std::lock_guard<std::mutex> guard(lock_);
    ++ends_;
    calls_.push_back(L"end");
  }

  std::vector<Stage> stages() {
    std::lock_guard<std::mutex> guard(lock_);
    return stages_;
  }
  std::vector<int> totals() {
    std::lock_guard<std::mutex> guard(lock_);
    return totals_;
  }
  std::vector<std::wstring> calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }
  int ends() {
    std::lock_guard<std::mutex> guard(lock_);
    return ends_;
  }

 private:
  std::mutex lock_;
  std::vector<Stage> stages_;
  std::vector<int> totals_;
  std::vector<std::wstring> calls_;
  int ends_ = 0;
};
