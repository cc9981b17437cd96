#include "scenario/VexaPackDownloadListsner.h"

#include "app/Log.h"
#include "scenario/ScenarioDownloads.h"

namespace {
// Only the three install downloads share the total; a side download such as
// the runtime parameters would otherwise push it past its half.
bool countsInTotal(const std::wstring& name) {
  return name == scenario_downloads::kRuntimePack || name == scenario_downloads::kProductPack ||
         name == scenario_downloads::kAppdataPack;
}
}  // namespace

void VexaPackDownloadListsner::onProgress(float percent, const std::wstring& name, int id) {
  if (!countsInTotal(name)) return;
  std::lock_guard<std::mutex> guard(progressLock_);
  progressByDownload_[name] = percent;
  float total = 0;
  float packSum = 0;
  for (const auto& entry : progressByDownload_) {
    total += entry.second;
    if (entry.first.find(L"8z") != std::wstring::npos) packSum += entry.second;
  }
  packTotalProgress(static_cast<int>(total / expectedDownloads_ * 0.5f));
  if (id == scenario_downloads::kPackId) {
    packStageProgress(1, static_cast<int>(packSum * 0.5f), packSum * 0.5f);
  } else if (name == scenario_downloads::kRuntimePack) {
    packStageProgress(0, static_cast<int>(percent), percent);
  }
}

void VexaPackDownloadListsner::onComplete(const std::wstring& name, int id) { onProgress(100.0f, name, id); }

void VexaPackDownloadListsner::onFailed(const std::wstring& name, int id, const std::wstring& message) {
  packDownloadError(id == scenario_downloads::kPackId, message);
  if (packLog_) packLog_->error(message);
  appendDownloadError(name + L"_" + message + L";");
}

void VexaPackDownloadListsner::onError(const std::wstring&, int id, const std::wstring& message) {
  packDownloadNotice(id == scenario_downloads::kPackId, message);
}
