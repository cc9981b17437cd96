#include "scenario/AbstractInstallScenario.h"

#include <chrono>
#include <system_error>

#include "app/Log.h"

AbstractInstallScenario::AbstractInstallScenario(Log* log) : log_(log) {}

AbstractInstallScenario::~AbstractInstallScenario() { stopWorker(); }

void AbstractInstallScenario::stopWorker() {
  if (!thread_.joinable()) return;
  if (!cancelled_.exchange(true)) onCancel();
  thread_.join();
}

bool AbstractInstallScenario::start() {
  if (thread_.joinable()) return false;  // a scenario runs once
  cancelled_ = false;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    if (log_) log_->error(L"Can't start thread runAsyncInstallFunc");
    return false;
  }
  return true;
}

void AbstractInstallScenario::run() {
  if (log_) log_->info(L"+++++BEGIN thread runAsyncInstallFunc");
  started_ = true;
  doInstall();
  waitForPartnerInstalls();
  if (!cancelled_) {
    // A failed install does not fill the bar: the person sees where it stopped.
    if (!failed()) notifyTotal(100);
    if (InstallScenarioListener* l = activeListener()) l->onInstallDone();
    finished_ = true;
  }
  endOnce();
  if (log_) log_->info(L"-----END thread runAsyncInstallFunc");
  std::lock_guard<std::mutex> guard(endLock_);
  workerDone_ = true;
  workerEnded_.notify_all();
}

bool AbstractInstallScenario::restart() {
  if (!thread_.joinable() || cancelled_) return false;
  {
    // Asked right after the end was told, the worker may still be on its
    // last lines; a run still under way gets no second one.
    std::unique_lock<std::mutex> wait(endLock_);
    if (!workerEnded_.wait_for(wait, std::chrono::milliseconds(kRestartWaitMs), [&] { return workerDone_; })) {
      return false;
    }
  }
  thread_.join();
  if (!finished_ || cancelled_) return false;
  finished_ = false;
  ended_ = false;
  {
    std::lock_guard<std::mutex> guard(endLock_);
    workerDone_ = false;
  }
  onRestart();
  return start();
}

void AbstractInstallScenario::cancel() {
  cancelled_ = true;
  onCancel();
  if (thread_.joinable()) {
    std::unique_lock<std::mutex> wait(endLock_);
    if (!workerEnded_.wait_for(wait, std::chrono::milliseconds(cancelWaitMs_), [&] { return workerDone_; })) {
      if (log_) log_->warning(L"Install thread is still busy after cancel; ending the scenario without it");
    }
  }
  endOnce();
}

void AbstractInstallScenario::endOnce() {
  if (ended_.exchange(true)) return;
  if (InstallScenarioListener* l = listener_.load()) l->onScenarioEnd();
}

InstallScenarioListener* AbstractInstallScenario::activeListener() const {
  return ended_ ? nullptr : listener_.load();
}

void AbstractInstallScenario::notifyStage(int stage, int percent, float exactPercent) {
  if (InstallScenarioListener* l = activeListener()) l->onStageProgress(stage, percent, exactPercent);
}

void AbstractInstallScenario::notifyTotal(int percent) {
  if (InstallScenarioListener* l = activeListener()) l->onTotalProgress(percent);
}

void AbstractInstallScenario::notifyDownloadError(bool isPack, const std::wstring& message) {
  if (InstallScenarioListener* l = activeListener()) l->onDownloadError(isPack, message);
}

void AbstractInstallScenario::notifyDownloadNotice(bool isPack, const std::wstring& message) {
  if (InstallScenarioListener* l = activeListener()) l->onDownloadNotice(isPack, message);
}
