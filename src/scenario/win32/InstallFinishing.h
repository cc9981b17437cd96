#pragma once
// The steps that end an install once its scenario has ended, shared by the
// silent driver and the wizard's stop step.
//
// Threading: the main thread (the shortcut calls need COM there).
class InstallContext;
class VexaInstallContext;

namespace finishing {

// When the product's program files are present: exit code 0, the settings
// (start-up entry, file types and protocol, firewall exception), the
// shortcuts and the uninstall entry, then the product's run when
// run-after-install is on. Otherwise exit code 3 and nothing else. Returns
// whether the product is installed.
bool completeInstall(VexaInstallContext& context);

// The finish statistics event of an ended scenario. A failed install also
// reports the listing of its install folder.
void sendClosingEvent(InstallContext& context, bool started, bool cancelled);

}  // namespace finishing
