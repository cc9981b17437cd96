#include "pinstall/Pinstall.h"

#include <algorithm>

#include "app/Log.h"

namespace pinstall {

std::vector<PinstallGroup> groupOffers(const std::vector<Pinstall*>& offers) {
  std::vector<PinstallGroup> groups;
  for (Pinstall* offer : offers) {
    const PinstallInfo& info = offer->info();
    const std::wstring& name = info.groupId.empty() ? info.id : info.groupId;
    auto it = std::find_if(groups.begin(), groups.end(), [&](const PinstallGroup& g) { return g.name == name; });
    if (it == groups.end()) it = groups.insert(groups.end(), PinstallGroup{name, {}});
    it->pinstalls.push_back(offer);
  }
  return groups;
}

std::wstring optionsText(const std::vector<PinstallOption>& options) {
  std::wstring text;
  for (const auto& option : options) text += option.chosen ? option.on : option.off;
  return text;
}

std::vector<PinstallOption> visibleChoices(const std::vector<PinstallOption>& options) {
  std::vector<PinstallOption> seen = options;
  for (auto& option : seen) option.chosen = option.chosen && option.shown;
  return seen;
}

bool hasQualifyingChoice(const std::vector<PinstallOption>& options) {
  return std::any_of(options.begin(), options.end(),
                     [](const PinstallOption& o) { return o.chosen && o.dependsOn.empty(); });
}

uint64_t resultMask(const std::vector<PinstallOption>& options) {
  uint64_t mask = 0;
  const size_t n = options.size();
  for (size_t i = 0; i < n; ++i) {
    size_t bit = n - 1 - i;
    if (options[i].chosen && bit < 64) mask |= uint64_t{1} << bit;
  }
  return mask;
}

std::wstring expandTemplate(const std::wstring& text, const std::map<std::wstring, std::wstring>& params) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == L'$' && i + 1 < text.size() && text[i + 1] == L'{') {
      size_t close = text.find(L'}', i + 2);
      if (close != std::wstring::npos) {
        auto it = params.find(text.substr(i + 2, close - i - 2));
        if (it != params.end()) out += it->second;
        i = close + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::wstring partnerCommandLine(const std::wstring& exePath, const std::wstring& options,
                                const std::wstring& expandedTemplate) {
  // Unquoted, a blank in the temporary path would let the system try a
  // shorter program name first.
  std::wstring line = exePath.find(L' ') == std::wstring::npos ? exePath : L"\"" + exePath + L"\"";
  if (expandedTemplate.find(options) == std::wstring::npos) line += L" " + options;
  return line + L" " + expandedTemplate;
}

}  // namespace pinstall

void Pinstall::run() {
  {
    std::lock_guard<std::mutex> start(startLock_);
    if (started_) {
      if (log_) log_->info(L"Pinstyall installed already " + info_.id);
      return;
    }
    started_ = true;
  }
  std::lock_guard<std::mutex> running(runLock_);
  int mode = host_->installMode();
  if (mode != 0 && mode != 1) return;
  if (!shown_) {
    // Skipped as an offer nobody chose is: reported, with no exit code.
    if (log_) log_->info(L"Partner offer was never shown, skip partner " + info_.id);
    done_ = true;
    host_->sendFinishEvent(*this);
    return;
  }
  if (done_) return;
  try {
    install(host_->statisticsParams());
  } catch (...) {
    if (log_) log_->error(L"Exception when install pinstall");
  }
  host_->sendFinishEvent(*this);
}

void Pinstall::install(const PinstallHost::Params& params) {
  if (done_) {
    if (log_) log_->info(L"Partner is installed already");
    return;
  }
  const std::vector<PinstallOption> choices = pinstall::visibleChoices(info_.options);
  const std::wstring options = pinstall::optionsText(choices);
  if (!pinstall::hasQualifyingChoice(choices)) {
    if (log_) log_->info(L"No options selected, skip partner");
    done_ = true;
    return;
  }
  // Only a folder made here may be deleted afterwards: without one the
  // offer is not run at all.
  const std::wstring folder = host_->createTempFolder();
  if (folder.empty()) {
    if (log_) log_->error(L"Can't create temp folder for partner " + info_.id);
    done_ = true;
    return;
  }
  const std::wstring path = host_->download(info_.url, folder);
  if (log_) log_->info(L"Partner exe path = " + path);
  if (path.empty()) {
    if (log_) log_->error(L"Partner exe path is empty");
    // The folder is ours and may hold a partial download.
    if (log_) log_->info(L"Delete temp folder " + folder);
    host_->deleteFolder(folder);
    done_ = true;
    return;
  }
  PinstallHost::Params withOptions = params;
  withOptions[L"options"] = options;
  const std::wstring commandLine =
      pinstall::partnerCommandLine(path, options, pinstall::expandTemplate(info_.params, withOptions));
  if (log_) log_->info(L"Partner cmd " + commandLine);
  int exitCode = host_->runAndWait(commandLine);
  exitCode_ = std::to_wstring(exitCode);
  if (exitCode == 0 ||
      std::find(info_.successCodes.begin(), info_.successCodes.end(), exitCode) != info_.successCodes.end())
    host_->writeDate(info_.id, L"installDate", info_.offerDate);
  result_ = std::to_wstring(pinstall::resultMask(choices));
  if (log_) log_->info(L"Delete temp folder " + folder);
  host_->deleteFolder(folder);
  done_ = true;
}

void Pinstall::markShown(size_t visibleOptions) {
  shown_ = true;
  for (size_t i = 0; i < info_.options.size() && i < visibleOptions; ++i) info_.options[i].shown = true;
}

void Pinstall::writeOfferDate() { host_->writeDate(info_.id, L"offerDate", info_.offerDate); }

void Pinstall::appendUrlParams(std::map<std::wstring, std::wstring>& params) const {
  params[L"presult"] = result_;
  params[L"pexitcode"] = exitCode_;
  params[L"campaign_id"] = info_.campaignId;
  params[L"pinstall"] = info_.id;
}
