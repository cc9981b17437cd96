#pragma once
// The wizard road of the entry point: builds the user interface around a
// scenario, shows the window at the centre of the screen, starts the
// scenario and runs the message loop until the window has gone.
//
// Threading: the main thread, COM initialised.
class InstallContext;
class IInstallScenario;
class StringTable;
class WidgetCommandHandler;
class VexaInstallerWizard;

namespace ui {

struct WizardParts {
  VexaInstallerWizard* wizard = nullptr;
};

// Called with the built wizard before the window shows; the partner pages
// hook in here. May be null.
using WizardBuilt = void (*)(VexaInstallerWizard& wizard, void* data);

// Returns the message loop's exit value. Everything it builds lives until
// the process ends (threads started from it may still report).
int runWizard(InstallContext& context, const StringTable& strings, IInstallScenario& scenario,
              WizardBuilt built = nullptr, void* data = nullptr);

}  // namespace ui
