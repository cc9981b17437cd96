#pragma once
// The offer container the install context owns: it forwards to a
// PinstallContainer, refuses to run offers of a cancelled install, and once
// offers and the wizard's window both exist posts message 1025
// (kOffersReadyMessage) to the window with wparam 0 and lparam pointing to
// the container's list of groups (std::vector<PinstallGroup>*, alive until
// the process ends), handed out through handoff::give.
//
// Threading: as PinstallContainer; setWindow is called on the main thread,
// the message is posted from whichever thread completed the pair.
#include <windows.h>

#include "pinstall/win32/PinstallContainer.h"

constexpr UINT kOffersReadyMessage = WM_USER + 1;

class PinstallContainerComposited : public IPinstallContainer, public PinstallContainerLoadListener {
 public:
  PinstallContainerComposited(InstallContext& context, Log* log) : inner_(context, log), log_(log) {}
  // For tests: the inner container's environment and host.
  PinstallContainerComposited(InstallContext& context, Log* log, pinstall::CampaignEnvironment* environment,
                              PinstallHost* host)
      : inner_(context, log, environment, host), log_(log) {}

  void load(InstallContext& context, const std::wstring& answer) override { inner_.load(context, answer); }
  std::vector<PinstallGroup>& groups() override { return inner_.groups(); }
  void runAll(bool cancelled, bool finished) override;
  void writeOfferDates() override { inner_.writeOfferDates(); }
  void keepOnlyGroup(const std::wstring& name) override { inner_.keepOnlyGroup(name); }
  void removeGroup(const std::wstring& name) override { inner_.removeGroup(name); }
  void setDisabled(bool disabled) override { inner_.setDisabled(disabled); }
  void waitForInstalls() override { inner_.waitForInstalls(); }

  void onOffersReady(std::vector<PinstallGroup>* groups) override;

  // The wizard's main window; the container then notifies it (at once when
  // offers are already there).
  void setWindow(HWND window);

 private:
  PinstallContainer inner_;
  Log* log_;
  HWND window_ = nullptr;
  std::vector<PinstallGroup>* groups_ = nullptr;
};

// Hands the wizard's window to the context's offer container; false when
// the container is not the composited one.
bool setOffersWindow(IPinstallContainer* offers, HWND window);
