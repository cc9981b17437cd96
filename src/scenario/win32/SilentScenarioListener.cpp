#include "scenario/win32/SilentScenarioListener.h"

#include <chrono>

#include "app/Log.h"
#include "app/Text.h"
#include "context/ContextText.h"
#include "context/InstallFailure.h"
#include "scenario/PackFiles.h"
#include "context/win32/VexaInstallContext.h"
#include "scenario/IInstallScenario.h"
#include "scenario/win32/InstallFinishing.h"

SilentScenarioListener::SilentScenarioListener(VexaInstallContext& context, IInstallScenario& scenario, Log* log)
    : context_(context), scenario_(scenario), log_(log) {}

void SilentScenarioListener::onStageProgress(int stage, int percent, float) {
  if (percent != 100 || !log_) return;
  wchar_t line[256];
  swprintf(line, 256, L"Stage %d, percent=%d", stage, 100);
  log_->info(line);
}

void SilentScenarioListener::onScenarioEnd() {
  if (log_) log_->info(L"On end the scenario");
  {
    std::lock_guard<std::mutex> lock(endMutex_);
    done_ = true;
  }
  ended_.notify_all();
}

bool SilentScenarioListener::optionIsFalse(const wchar_t* option) const {
  auto value = context_.optionValue(option);
  return value && text::equalsIgnoreCase(*value, L"false");
}

bool SilentScenarioListener::switchFolderUsable(const wchar_t* option, const std::wstring& folder) {
  std::wstring problem = contexttext::switchFolderProblem(folder, InstallContext::kFolderCapacity);
  if (problem.empty()) {
    if (const unsigned long code = packfiles::probeWrite(folder)) problem = Log::systemText(code);
  }
  if (problem.empty()) return true;
  const failure::Failure why = failure::installDir(option, folder, problem);
  context_.failures().note(why);
  if (log_) log_->error(L"Install failed (installDir): " + why.text);
  return false;
}

void SilentScenarioListener::run() {
  auto info = [this](const std::wstring& line) {
    if (log_) log_->info(line);
  };
  info(L"Start install product");
  if (optionIsFalse(L"/loadWithWindows")) {
    info(L"Turn of loadWithWindows");
    context_.loadWithWindows = false;
  }
  if (optionIsFalse(L"/runAfterInstall")) {
    info(L"Turn of runAfterInstall");
    context_.runAfterInstall = false;
  }

  if (context_.isInstalled()) {
    context_.installMode = InstallContext::kAlreadyInstalled;
    if (context_.runAfterInstall) context_.runProduct();
    // The installed product is the outcome a caller must be told about.
    context_.exitCode = 1;
  } else {
    if (optionIsFalse(L"/associateTorrentFile")) {
      info(L"Turn of associateTorrentFile");
      context_.associateTorrentFile = false;
    }
    if (optionIsFalse(L"/exceptFirewall")) {
      info(L"Turn of exceptFirewall");
      context_.exceptFirewall = false;
    }
    auto installDir = context_.optionValue(L"/installDir");
    auto downloadDir = context_.optionValue(L"/downloadDir");
    // A folder the caller named is the caller's choice: one that cannot be
    // used fails the install before anything is written, rather than put
    // the product somewhere nobody asked for.
    const bool usable = (!installDir || installDir->empty() || switchFolderUsable(L"/installDir", *installDir)) &&
                        (!downloadDir || downloadDir->empty() || switchFolderUsable(L"/downloadDir", *downloadDir));
    if (installDir && !installDir->empty() && usable) {
      info(L"Custom install dir: " + *installDir);
      context_.setInstallFolder(*installDir);
    }
    if (downloadDir && !downloadDir->empty() && usable) {
      info(L"Custom download dir: " + *downloadDir);
      context_.storeDownloadFolder(*downloadDir);
    }

    if (!usable) {
      context_.exitCode = 3;
    } else if (scenario_.start()) {
      // Woken by the end itself: a silent install that sleeps out a whole
      // poll after its last step only keeps its caller waiting.
      std::unique_lock<std::mutex> lock(endMutex_);
      while (!done_) ended_.wait_for(lock, std::chrono::milliseconds(pollMs_));
    } else if (log_) {
      log_->error(L"Install scenario did not start");
    }

    if (!usable) {
      // Nothing ran: the exit code stays the failure's.
    } else if (context_.installMode == InstallContext::kAlreadyInstalled) {
      context_.exitCode = 1;
    } else {
      finishing::completeInstall(context_);
    }
  }

  finishing::sendClosingEvent(context_, true, false);
  info(L"End of scenario");
}
