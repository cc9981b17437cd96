#pragma once
// Moves the browser-engine plug-in of earlier product versions from the data
// folder to the install folder when the data folder's path would break it,
// and stores the move-check flags (8/4/2) in the context.
#include <string>

class VexaInstallContext;
class CommandSender;
class Log;

// javaHome: the runtime found by the final search; may be empty.
void runUpgradeCleanup(VexaInstallContext& context, const std::wstring& javaHome);

// The same on given folders and sender; returns the flag number. The
// product's version comes from running its version class with javaHome.
int cleanUpPlugin(CommandSender& sender, Log* log, const std::wstring& javaHome, const std::wstring& installFolder,
                  const std::wstring& dataFolder);
