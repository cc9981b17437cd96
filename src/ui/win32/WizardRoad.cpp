#include "ui/win32/WizardRoad.h"

#include <windows.h>
#include <commctrl.h>

#include "context/win32/InstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"
#include "scenario/IInstallScenario.h"
#include "ui/win32/LicenseWindow.h"
#include "ui/win32/PartnerPages.h"
#include "ui/win32/VexaWizard.h"

namespace ui {

int runWizard(InstallContext& context, const StringTable& strings, IInstallScenario& scenario, WizardBuilt built,
              void* data) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  auto* resources = UiResources::current();
  if (!resources) {
    resources = new UiResources(GetModuleHandleW(nullptr), new FontSet(16), context.log(), &strings);
    UiResources::setCurrent(resources);
  }
  auto* header = new SimpleWizardHeader(&context, resources);
  auto* licence = new LicenseResourceProviderImpl(&strings);
  auto* wizard = new VexaInstallerWizard(header, resources, &context, &scenario, licence);
  // One wizard per process: its partner page creator is the only handler.
  resources->handlers().clear();
  resources->handlers().push_back(new PartnerPageCreator(wizard, &context));

  const int x = GetSystemMetrics(SM_CXFULLSCREEN) / 2 - 250;
  const int y = GetSystemMetrics(SM_CYFULLSCREEN) / 2 - 223;
  auto* window = new Window(resources, x, y, 500, 447, 0);
  wizard->init(window, nullptr);
  if (built) built(*wizard, data);
  scenario.setListener(wizard);
  setOffersWindow(context.offers(), window->handle());
  scenario.start();
  return window->runMessageLoop();
}

}  // namespace ui
