#include "app/entry/InstallRoads.h"

#include "app/Log.h"
#include "context/win32/InstallContext.h"
#include "context/win32/StatisticsEvents.h"

// The install scenario and the wizard are not part of this build yet. Until they are, these roads say so in the log and leave the
// exit code at -1 ("the installation never reached its end"), which is what a
// caller must see: nothing was installed.
namespace roads {

void reportRestart(InstallContext& context) { stats::sendFinishEvent(context, true, false, true); }

void runSilentInstall(InstallContext& context, const StringTable&) {
  if (context.log()) context.log()->error(L"Install scenario is not available in this build");
}

void runWizardInstall(InstallContext& context, const StringTable&) {
  if (context.log()) context.log()->error(L"Installer wizard is not available in this build");
}

}  // namespace roads
