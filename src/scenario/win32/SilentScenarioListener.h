#pragma once
// The silent install: takes the settings from the command line, runs the
// scenario to its end on the calling thread, finishes the install and
// reports it. The listener part only logs and notes the scenario's end.
//
// Threading: run() on the main thread; the listener operations on the
// scenario's threads (done, under its lock, is the only state they share with
// run()).
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "scenario/InstallScenarioListener.h"

class IInstallScenario;
class Log;
class VexaInstallContext;

class SilentScenarioListener : public InstallScenarioListener {
 public:
  SilentScenarioListener(VexaInstallContext& context, IInstallScenario& scenario, Log* log);

  void onStageProgress(int stage, int percent, float exactPercent) override;
  void onDownloadError(bool, const std::wstring&) override {}
  void onDownloadNotice(bool, const std::wstring&) override {}
  void onTotalProgress(int) override {}
  void onInstallDone() override {}
  void onScenarioEnd() override;

  // The driver; sets the context's exit code (0 installed, 3 failed, 1
  // already installed) and sends the closing event.
  void run();

  bool done() const { return done_; }
  // How often run() looks for the scenario's end when no wake-up came; the
  // end itself wakes it at once. Tests shorten it.
  void setPollMs(int ms) { pollMs_ = ms; }
  static constexpr int kPollMs = 1000;

 private:
  // True when the option has the value "false" (any case).
  bool optionIsFalse(const wchar_t* option) const;
  // The folder an option names can be made and written; otherwise the
  // install's failure is noted (cause installDir) and false returned.
  bool switchFolderUsable(const wchar_t* option, const std::wstring& folder);

  VexaInstallContext& context_;
  IInstallScenario& scenario_;
  Log* log_;
  std::atomic<bool> done_{false};
  std::mutex endMutex_;
  std::condition_variable ended_;
  int pollMs_ = kPollMs;
};
