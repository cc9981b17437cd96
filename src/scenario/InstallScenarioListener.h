#pragma once
// Receives the progress of an install scenario and its end.
//
// Threading: called on the scenario's worker thread, the runtime thread and
// the download threads, several at once. An implementation that touches a
// window hands the call on to its own thread and never waits there for the
// worker.
#include <string>

class InstallScenarioListener {
 public:
  // Stage indices.
  enum Stage { kRuntimeStage = 0, kPacksStage = 1, kInstallationStage = 2, kFirstStartStage = 3 };

  virtual ~InstallScenarioListener() = default;
  virtual void onStageProgress(int stage, int percent, float exactPercent) = 0;  // 0
  virtual void onDownloadError(bool isPack, const std::wstring& message) = 0;   // 1
  virtual void onDownloadNotice(bool isPack, const std::wstring& message) = 0;  // 2
  virtual void onTotalProgress(int percent) = 0;                                // 3
  virtual void onInstallDone() = 0;                                             // 4
  virtual void onScenarioEnd() = 0;                                             // 5
};
