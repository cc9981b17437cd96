#include "pinstall/win32/PinstallContainer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "app/Log.h"
#include "app/win32/Registry.h"
#include "context/win32/InstallContext.h"
#include "formats/Json.h"
#include "pinstall/win32/InstallTestSystemWin32.h"
#include "pinstall/win32/PinstallHostWin32.h"

namespace {

class CampaignEnvironmentWin32 : public pinstall::CampaignEnvironment {
 public:
  std::wstring installDate(const std::wstring& id) override {
    return registry::readText(HKEY_CURRENT_USER, pinstall::offerKey(id), L"installDate", 64);
  }
  int64_t nowMs() override { return pinstall::currentTimeMs(); }
  int languageId() override { return GetSystemDefaultLangID(); }
  pinstall::InstallTestSystem& testSystem() override { return pinstall::windowsInstallTestSystem(); }
};

}  // namespace

PinstallContainer::PinstallContainer(InstallContext& context, Log* log)
    : PinstallContainer(context, log, nullptr, nullptr) {}

PinstallContainer::PinstallContainer(InstallContext& context, Log* log, pinstall::CampaignEnvironment* environment,
                                     PinstallHost* host)
    : log_(log), context_(context) {
  context.supportText = L"image;yandex2;complex;osVersion;folder";
  if (!environment) ownEnvironment_ = std::make_unique<CampaignEnvironmentWin32>();
  if (!host) ownHost_ = std::make_unique<pinstall::PinstallHostWin32>(context, log);
  environment_ = environment ? environment : ownEnvironment_.get();
  host_ = host ? host : ownHost_.get();
}

PinstallContainer::~PinstallContainer() = default;

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

void PinstallContainer::readCampaigns(const JsonValue& campaigns) {
  std::lock_guard<std::mutex> guard(lock_);
  std::wstring modeExtension;
  std::vector<PinstallInfo> records = pinstall::readCampaigns(campaigns, *environment_, log_, modeExtension);
  context_.modeExtension += modeExtension;
  std::vector<Pinstall*> made;
  {
    std::lock_guard<std::mutex> offers(offersLock_);
    for (auto& info : records) {
      offers_.push_back(std::make_unique<Pinstall>(std::move(info), log_, host_));
      made.push_back(offers_.back().get());
    }
  }
  for (auto& group : pinstall::groupOffers(made)) {
    auto it = std::find_if(groups_.begin(), groups_.end(), [&](const PinstallGroup& g) { return g.name == group.name; });
    if (it == groups_.end()) {
      groups_.push_back(std::move(group));
    } else {
      it->pinstalls.insert(it->pinstalls.end(), group.pinstalls.begin(), group.pinstalls.end());
    }
  }
}

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
  if (cancelled) return;
  // A copy: the lock is not held while setups download and run.
  PinstallGroup group;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (groups_.empty()) return;
    group = groups_.front();
  }
  // The caller is the wizard's thread, closing: the offers run on a thread
  // of their own, and the caller waits a bounded time, so a setup that never
  // ends keeps neither the closing event nor the process's end waiting.
  struct Progress {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
  };
  auto progress = std::make_shared<Progress>();
  Log* log = log_;
  try {
    std::thread([progress, group, log] {
      for (Pinstall* offer : group.pinstalls) {
        if (log) log->info(L"runPinstallFunc for " + group.name);
        offer->run();
      }
      std::lock_guard<std::mutex> hold(progress->lock);
      progress->done = true;
      progress->ended.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    if (log_) log_->error(L"Cannot start the thread for partner offers; they are not run");
    return;
  }
  std::unique_lock<std::mutex> hold(progress->lock);
  if (!progress->ended.wait_for(hold, std::chrono::milliseconds(runLimitMs_), [&] { return progress->done; }) && log_)
    log_->error(L"Partner offers did not end within " + std::to_wstring(runLimitMs_) + L" ms; going on without them");
}

void PinstallContainer::writeOfferDates() {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& group : groups_) {
    if (log_) log_->info(L"writeOfferDate, group= " + group.name);
    for (Pinstall* offer : group.pinstalls) offer->writeOfferDate();
  }
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

void PinstallContainer::waitForInstalls() {
  std::vector<Pinstall*> offers;
  {
    std::lock_guard<std::mutex> guard(offersLock_);
    for (auto& offer : offers_) offers.push_back(offer.get());
  }
  for (Pinstall* offer : offers) std::lock_guard<std::mutex> running(offer->runLock());
}
