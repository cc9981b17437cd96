#include "pinstall/win32/PinstallContainer.h"

#include <algorithm>

#include "app/Log.h"
#include "context/win32/InstallContext.h"
#include "formats/Json.h"

PinstallContainer::PinstallContainer(InstallContext& context, Log* log) : log_(log), context_(context) {
  context.supportText = L"image;yandex2;complex;osVersion;folder";
}

void PinstallContainer::load(InstallContext& context, const std::wstring& answer) {
  JsonValue root = parseJson(answer);
  if (root.isNull()) {
    if (log_) log_->error(L"Can't parse json" + answer);
  } else {
    const JsonValue* data = root.type() == JsonValue::kObject ? root.find(L"data") : nullptr;
    if (data && data->type() == JsonValue::kObject) {
      const JsonValue* installData = data->find(L"installData");
      if (installData && installData->type() == JsonValue::kString) {
        JsonValue install = parseJson(installData->asString());
        const JsonValue* initXml = install.type() == JsonValue::kObject ? install.find(L"initxml") : nullptr;
        if (initXml && initXml->type() == JsonValue::kString && !initXml->asString().empty())
          context.readInitXml(initXml->asString());
        const JsonValue* tail = install.type() == JsonValue::kObject ? install.find(L"tail") : nullptr;
        if (tail && tail->type() == JsonValue::kString && !tail->asString().empty())
          context.readTail(tail->asString());
      }
    }
    const JsonValue* campaigns = data && data->type() == JsonValue::kObject ? data->find(L"campaigns") : nullptr;
    if (disabled_) {
      if (log_) log_->info(L"Pinstall is disabled");
      context.modeExtension += L"PinstallDisabled";
    } else if (campaigns && campaigns->type() == JsonValue::kArray) {
      readCampaigns(*campaigns);
    } else if (log_) {
      log_->error(L"Array node 'data' not found in " + answer);
    }
  }
  notifyIfReady();
}

// Reading the campaigns into offers (date rules, install tests, options and
// groups) belongs to the partner offers; until they are part of the build the
// container stays without groups, so no partner page is ever shown.
void PinstallContainer::readCampaigns(const JsonValue&) {}

void PinstallContainer::notifyIfReady() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!groups_.empty() && !notified_ && readyListener_) {
    notified_ = true;
    readyListener_->onOffersReady(&groups_);
  }
}

void PinstallContainer::setReadyListener(PinstallContainerLoadListener* listener) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    readyListener_ = listener;
  }
  notifyIfReady();
}

void PinstallContainer::runAll(bool cancelled, bool) {
  if (log_) log_->info(L"runPinstallUtilSyncOrWait");
  if (cancelled) return;
}

void PinstallContainer::writeOfferDates() {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& group : groups_)
    if (log_) log_->info(L"writeOfferDate, group= " + group.name);
}

void PinstallContainer::keepOnlyGroup(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  groups_.erase(std::remove_if(groups_.begin(), groups_.end(), [&](const PinstallGroup& g) { return g.name != name; }),
                groups_.end());
}

void PinstallContainer::removeGroup(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = std::find_if(groups_.begin(), groups_.end(), [&](const PinstallGroup& g) { return g.name == name; });
  if (it == groups_.end()) return;
  groups_.erase(it);
  if (log_) log_->info(L"InstallGroup is deleted from container: " + name);
}

void PinstallContainer::waitForInstalls() {}
