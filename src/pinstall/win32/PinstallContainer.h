#pragma once
// The partner-offer container. It receives the server's answer to the start
// event on the statistics thread, hands the install data (init xml and tail)
// to the context, reads the campaigns into offers and groups, tells the
// wizard once offers and window both exist, and runs the first group's
// offers when the wizard stops.
//
// Threading: load() runs on the statistics thread; the wizard reads groups(),
// calls keepOnlyGroup/removeGroup/writeOfferDates and runAll on the main
// thread; runAll runs the offers on a thread of its own and waits for it
// at most runLimitMs; the scenario's worker calls waitForInstalls. lock_
// guards the groups and the notification (runAll copies the group it runs);
// offersLock_ guards the list of every offer made, which waitForInstalls
// walks without lock_ so it never waits for a whole run to be scheduled.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "context/win32/IPinstallContainer.h"
#include "pinstall/CampaignReader.h"
#include "pinstall/Pinstall.h"

class InstallContext;
class JsonValue;
class Log;

class PinstallContainerLoadListener {
 public:
  virtual ~PinstallContainerLoadListener() = default;
  // Called once, under the container's lock, on whichever thread completed
  // the pair (offers read, window given).
  virtual void onOffersReady(std::vector<PinstallGroup>* groups) = 0;
};

class PinstallContainer : public IPinstallContainer {
 public:
  // Also sets the context's support text, reported with every event. Uses
  // the Windows registry, clock, install tests and runner host.
  PinstallContainer(InstallContext& context, Log* log);
  // For tests: another campaign environment and runner host (both outlive
  // the container).
  PinstallContainer(InstallContext& context, Log* log, pinstall::CampaignEnvironment* environment,
                    PinstallHost* host);
  ~PinstallContainer() override;

  void load(InstallContext& context, const std::wstring& answer) override;
  std::vector<PinstallGroup>& groups() override { return groups_; }
  // Runs the first group's offers one after the other on a thread of their
  // own and waits for them at most runLimitMs (then logs and returns; the
  // offers go on while the process lives).
  void runAll(bool cancelled, bool finished) override;
  // Setups that download for an hour and run for half of one are waited
  // for this long in all.
  static constexpr unsigned long kRunLimitMs = 90UL * 60 * 1000;
  void setRunLimitMs(unsigned long ms) { runLimitMs_ = ms; }  // tests
  void writeOfferDates() override;
  void keepOnlyGroup(const std::wstring& name) override;
  void removeGroup(const std::wstring& name) override;
  void setDisabled(bool disabled) override { disabled_ = disabled; }
  void waitForInstalls() override;

  // Gives the ready listener (the wizard's side); notifies at once when
  // offers arrived before.
  void setReadyListener(PinstallContainerLoadListener* listener);

 private:
  void readCampaigns(const JsonValue& campaigns);
  void notifyIfReady();

  std::mutex lock_;
  std::vector<PinstallGroup> groups_;
  PinstallContainerLoadListener* readyListener_ = nullptr;
  bool notified_ = false;
  bool disabled_ = false;
  unsigned long runLimitMs_ = kRunLimitMs;
  Log* log_;
  InstallContext& context_;
  std::unique_ptr<pinstall::CampaignEnvironment> ownEnvironment_;
  std::unique_ptr<PinstallHost> ownHost_;
  pinstall::CampaignEnvironment* environment_;
  PinstallHost* host_;
  std::mutex offersLock_;
  std::vector<std::unique_ptr<Pinstall>> offers_;
};
