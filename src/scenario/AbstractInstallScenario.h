#pragma once
// The product-neutral part of an install scenario: the worker thread
// "runAsyncInstallFunc", its flags, the listener and the co-operative cancel.
// The product's scenario supplies doInstall.
//
// Threading: start, cancel, setListener and the flag accessors are called on
// the main thread. doInstall runs on the worker thread and checks
// isCancelled() between its steps. Listener calls go through the notify*
// helpers, which any thread may use (worker, runtime and download threads);
// once onScenarioEnd has been delivered they deliver nothing more.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "scenario/IInstallScenario.h"
#include "scenario/InstallScenarioListener.h"

class Log;

class AbstractInstallScenario : public IInstallScenario {
 public:
  explicit AbstractInstallScenario(Log* log);
  // Waits for the worker when one was started: a cancelled scenario ends soon.
  ~AbstractInstallScenario() override;
  AbstractInstallScenario(const AbstractInstallScenario&) = delete;
  AbstractInstallScenario& operator=(const AbstractInstallScenario&) = delete;

  bool isFinished() override { return finished_; }
  bool start() override;
  // Raises the cancelled flag (the worker leaves doInstall at its next check,
  // running downloads are aborted through onCancel) and waits at most
  // cancelWaitMs for the worker to end. onScenarioEnd comes exactly once:
  // from the worker when it ended in time, else from here; a scenario that
  // never started hears it from here at once.
  void cancel() override;
  bool isStarted() override { return started_; }
  bool isCancelled() override { return cancelled_; }
  void setCancelled(bool cancelled) override { cancelled_ = cancelled; }
  void setListener(InstallScenarioListener* listener) override { listener_ = listener; }

  // The product's install steps, on the worker thread.
  virtual void doInstall() = 0;

  // How long cancel waits for the worker before it ends the scenario itself.
  void setCancelWaitMs(int ms) { cancelWaitMs_ = ms; }
  static constexpr int kCancelWaitMs = 5000;

  // Runs the install once more after a run that ended without a cancel (a
  // second try after a failure); joins the ended worker first. False while a
  // run is under way, after a cancel, or when the thread cannot start.
  bool restart() override;
  static constexpr int kRestartWaitMs = 2000;

  // Cancels and joins the worker (without a bound). The product's scenario
  // calls it from its destructor, while its doInstall can still run.
  void stopWorker();

 protected:
  // Called by the worker after doInstall, before the closing notifications:
  // the product waits for its running partner installs here.
  virtual void waitForPartnerInstalls() {}
  // Called by cancel on the main thread: abort what doInstall waits for.
  virtual void onCancel() {}
  // True when the run met a failure: the total is then not reported as 100.
  virtual bool failed() { return false; }
  // Called by restart on the main thread before the new run: forget the
  // last run's failure and abort.
  virtual void onRestart() {}

  void notifyStage(int stage, int percent, float exactPercent);
  void notifyTotal(int percent);
  void notifyDownloadError(bool isPack, const std::wstring& message);
  void notifyDownloadNotice(bool isPack, const std::wstring& message);

  Log* log_;

 private:
  void run();
  // Delivers onScenarioEnd unless it was delivered before.
  void endOnce();
  InstallScenarioListener* activeListener() const;

  std::atomic<InstallScenarioListener*> listener_{nullptr};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> ended_{false};
  std::thread thread_;
  // The worker's end, for cancel's bounded wait.
  std::mutex endLock_;
  std::condition_variable workerEnded_;
  bool workerDone_ = false;
  int cancelWaitMs_ = kCancelWaitMs;
};
