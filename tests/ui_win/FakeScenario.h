#pragma once
// A scenario whose worker thread the test scripts: it reports what the
// test asks for from its own thread, the way the real one does, and its
// cancel waits for the worker - the harshest partner for a listener that
// must never make the worker wait for the window.
#include <atomic>
#include <functional>
#include <thread>

#include "scenario/IInstallScenario.h"
#include "scenario/InstallScenarioListener.h"

class FakeScenario : public IInstallScenario {
 public:
  // Runs on the worker; returns when the install "ends" (or when cancelled).
  std::function<void(FakeScenario&)> body;

  ~FakeScenario() override {
    cancelled_ = true;
    release = true;
    if (worker_.joinable()) worker_.join();
  }
  bool isFinished() override { return finished_; }
  bool start() override {
    cancelled_ = false;
    worker_ = std::thread([this] {
      started_ = true;
      if (body) body(*this);
      if (cancelled_) return;
      if (listener_) listener_->onTotalProgress(100);
      if (listener_) listener_->onInstallDone();
      finished_ = true;
      if (listener_) listener_->onScenarioEnd();
    });
    return true;
  }
  void cancel() override {
    cancelled_ = true;
    if (worker_.joinable()) worker_.join();
    ++cancels;
    if (listener_) listener_->onScenarioEnd();
  }
  bool isStarted() override { return started_; }
  bool isCancelled() override { return cancelled_; }
  void setCancelled(bool cancelled) override { cancelled_ = cancelled; }
  void setListener(InstallScenarioListener* listener) override { listener_ = listener; }
  InstallScenarioListener* listener() const { return listener_; }

  // Reports download progress without pause until released or cancelled.
  void downloadUntilReleased() {
    int p = 0;
    while (!release && !cancelled_) {
      p = (p + 1) % 100;
      listener_->onStageProgress(1, p, static_cast<float>(p));
      listener_->onDownloadNotice(false, L"still downloading");
      listener_->onTotalProgress(p / 2);
      std::this_thread::yield();
    }
  }
  // Waits (without reporting) until released or cancelled.
  void waitUntilReleased() {
    while (!release && !cancelled_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  std::atomic<bool> release{false};
  std::atomic<int> cancels{0};

 private:
  InstallScenarioListener* listener_ = nullptr;
  std::thread worker_;
  std::atomic<bool> started_{false}, finished_{false}, cancelled_{false};
};
