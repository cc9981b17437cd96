#include "pinstall/win32/PinstallContainerComposited.h"

#include "app/Log.h"
#include "app/PointerHandOff.h"

void PinstallContainerComposited::runAll(bool cancelled, bool finished) {
  if (log_) log_->info(L"runPinstallUtilSyncOrWait");
  if (cancelled) return;
  inner_.runAll(false, finished);
}

void PinstallContainerComposited::onOffersReady(std::vector<PinstallGroup>* groups) {
  groups_ = groups;
  handoff::give(groups_);
  if (!PostMessageW(window_, kOffersReadyMessage, 0, reinterpret_cast<LPARAM>(groups_))) handoff::take(groups_);
}

void PinstallContainerComposited::setWindow(HWND window) {
  window_ = window;
  inner_.setReadyListener(this);
}

bool setOffersWindow(IPinstallContainer* offers, HWND window) {
  auto* composited = dynamic_cast<PinstallContainerComposited*>(offers);
  if (!composited) return false;
  composited->setWindow(window);
  return true;
}
