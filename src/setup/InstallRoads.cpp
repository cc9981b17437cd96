#include "setup/InstallRoads.h"

#include <optional>
#include <string>

#include "app/Log.h"
#include "context/win32/InstallContext.h"
#include "context/win32/StatisticsEvents.h"
#include "context/win32/VexaInstallContext.h"
#include "scenario/PackSignature.h"
#include "scenario/win32/PackLayout.h"
#include "scenario/win32/SilentScenarioListener.h"
#include "scenario/win32/VexaInstallScenario.h"
#include "ui/win32/Dialogs.h"
#include "ui/win32/WizardRoad.h"

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

void runWizardInstall(VexaInstallContext& context, const StringTable& strings) {
  // Lives until the process ends, as on the silent road.
  auto* scenario = new VexaInstallScenario(context, false);
  // Called on the runtime thread, which runs the dialog's own loop.
  scenario->setJavaMissingHandler([] { dialogs::showJavaError(); });
  ui::runWizard(context, strings, *scenario);
}

int runLayout(VexaInstallContext& context) {
  const std::optional<std::wstring> folder = context.optionValue(L"/layout");
  if (!folder || folder->empty()) {
    if (context.log()) context.log()->error(L"/layout needs a folder");
    context.exitCode = kLayoutFailed;
    return context.exitCode;
  }
  const bool written = packlayout::writeLayout(context, *folder, pack_signature::builtInVerifier(), download::Timing());
  context.exitCode = written ? 0 : kLayoutFailed;
  return context.exitCode;
}

}  // namespace roads
