#include "scenario/win32/InstallFinishing.h"

#include "app/Log.h"
#include "context/win32/StatisticsEvents.h"
#include "context/win32/VexaInstallContext.h"

namespace finishing {

bool completeInstall(VexaInstallContext& context) {
  Log* log = context.log();
  if (!context.succeeded()) {
    // Whatever failed first is what the person is told; a product that is
    // simply missing at the end is told as such.
    if (context.failures().note(failure::damaged(L"the product", L"its files are missing at the end")) && log) {
      log->error(L"Install failed: the product's files are missing at the end");
    }
    context.exitCode = 3;
    return false;
  }
  context.exitCode = 0;
  if (log) log->info(L"Apply settings");
  context.applySettings();
  context.createShortcuts();
  if (context.runAfterInstall) {
    if (log) log->info(L"Run installed application");
    context.runProduct();
  }
  return true;
}

void sendClosingEvent(InstallContext& context, bool started, bool cancelled) {
  stats::sendFinishEvent(context, started, cancelled, false);
}

}  // namespace finishing
