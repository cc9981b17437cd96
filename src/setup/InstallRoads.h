#pragma once
// The roads of the entry point that belong to other parts of the installer:
// the restart report of an installed product, the silent install and the
// wizard. Each is the one place where the entry point meets that part.
class InstallContext;
class StringTable;
class VexaInstallContext;

namespace roads {
// Sends the "restart" finish event before the installed product starts.
void reportRestart(InstallContext& context);
// Builds the scenario (which sends the start event) and runs it silently to
// its end; sets the context's exit code.
void runSilentInstall(VexaInstallContext& context, const StringTable& strings);
// Builds the scenario and the wizard and runs the message loop.
void runWizardInstall(VexaInstallContext& context, const StringTable& strings);
// "/layout <folder>": fetches and checks the packs into the folder, no
// install, no statistics; sets the context's exit code (0 when the folder is
// complete and sound, kLayoutFailed otherwise) and returns it.
constexpr int kLayoutFailed = 3;
int runLayout(VexaInstallContext& context);
}  // namespace roads
