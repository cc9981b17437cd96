#pragma once
// The partner-offer container the install context owns. It receives the
// server's answer to the start event on the statistics thread, hands the
// install data (init xml and tail) to the context, keeps the offers, and
// tells the wizard once offers and window both exist.
//
// Threading: load() runs on the statistics thread, the wizard reads groups on
// the main thread; one mutex guards the groups and the notification.
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

class InstallContext;
class JsonValue;
class Log;

class PinstallGroup {
 public:
  std::wstring name;
};

class PinstallContainerLoadListener {
 public:
  virtual ~PinstallContainerLoadListener() = default;
  virtual void onOffersReady(std::vector<PinstallGroup>* groups) = 0;
};

class IPinstallContainer {
 public:
  virtual ~IPinstallContainer() = default;
  virtual void load(InstallContext& context, const std::wstring& answer) = 0;  // 0
  virtual std::vector<PinstallGroup>& groups() = 0;                           // 1
  virtual void runAll(bool cancelled, bool finished) = 0;                     // 2
  virtual void writeOfferDates() = 0;                                         // 3
  virtual void keepOnlyGroup(const std::wstring& name) = 0;                   // 4
  virtual void removeGroup(const std::wstring& name) = 0;                     // 5
  virtual void reserved() {}                                                  // 6
  virtual void setDisabled(bool disabled) = 0;                                // 7
  virtual void waitForInstalls() = 0;                                         // 8
};

class PinstallContainer : public IPinstallContainer {
 public:
  // Also sets the context's support text, reported with every event.
  PinstallContainer(InstallContext& context, Log* log);

  void load(InstallContext& context, const std::wstring& answer) override;
  std::vector<PinstallGroup>& groups() override { return groups_; }
  void runAll(bool cancelled, bool finished) override;
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
  Log* log_;
  InstallContext& context_;
};
