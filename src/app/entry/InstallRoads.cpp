#include "app/entry/InstallRoads.h"

#include "app/Log.h"
#include "context/win32/InstallContext.h"
#include "context/win32/StatisticsEvents.h"
#include "context/win32/VexaInstallContext.h"
#include "scenario/win32/SilentScenarioListener.h"
#include "scenario/win32/VexaInstallScenario.h"

// The wizard is not part of this build yet. Until it is, its road says so in
// the log and leaves the exit code at -1 ("the installation never reached its
// end"), which is what a caller must see: nothing was installed.
namespace roads {

void reportRestart(InstallContext& context) { stats::sendFinishEvent(context, true, false, true); }

void runSilentInstall(VexaInstallContext& context, const StringTable&) {
  // Both live until the process ends: download threads that outlive a
  // time-out still report to the scenario.
  auto* scenario = new VexaInstallScenario(context, true);
  if (context.log()) context.log()->info(L"Init pinstall options from command args...");
  auto* listener = new SilentScenarioListener(context, *scenario, context.log());
  scenario->setListener(listener);
  listener->run();
}

void runWizardInstall(InstallContext& context, const StringTable&) {
  if (context.log()) context.log()->error(L"Installer wizard is not available in this build");
}

}  // namespace roads
