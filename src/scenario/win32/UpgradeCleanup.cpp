#include "scenario/win32/UpgradeCleanup.h"

#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/ModulePaths.h"
#include "app/win32/Processes.h"
#include "context/win32/VexaInstallContext.h"
#include "scenario/Commands.h"
#include "scenario/PluginMoveCheck.h"

namespace {

constexpr size_t kResultChars = 256;

// The product reports its build number as the exit code of its version class.
int productVersion(Log* log, const std::wstring& javaHome, const std::wstring& installFolder) {
  return processes::executeAndWait(true, log, L"\"" + javaHome + L"\\bin\\javaw.exe\" -classpath \"" +
                                                  installFolder + L"\\Vexa.jar\" org.ruze.vurudad2.core3.util.Constants",
                                   nullptr, nullptr, processes::kProbeLimitMs);
}

std::wstring send(CommandSender& sender, Command& command) {
  wchar_t result[kResultChars] = L"0";
  sender.send(command, result, kResultChars);
  return result;
}

void movePlugin(CommandSender& sender, Log* log, const std::wstring& installFolder, const std::wstring& dataFolder) {
  CopyCommand copy(dataFolder + L"\\plugins\\vxulrunner*|" + installFolder + L"\\plugins");
  std::wstring copied = send(sender, copy);
  // Deleting after a failed copy would lose the user's only copy of the
  // plug-in; left where it is, the product still finds it.
  if (copied != L"0") {
    if (log) log->error(L"isNeedMoveXul: copy failed, result=" + copied + L"; the plug-in stays in " + dataFolder);
    return;
  }
  DeleteCommand folder(dataFolder + L"\\plugins\\vxulrunner");
  DeleteCommand folder10(dataFolder + L"\\plugins\\vxulrunner10");
  DeleteCommand properties(dataFolder + L"\\plugins\\vxulrunner\\plugin.properties");
  DeleteCommand properties10(dataFolder + L"\\plugins\\vxulrunner10\\plugin.properties");
  for (Command* command : {static_cast<Command*>(&folder), static_cast<Command*>(&folder10),
                           static_cast<Command*>(&properties), static_cast<Command*>(&properties10)}) {
    send(sender, *command);
  }
}

}  // namespace

int cleanUpPlugin(CommandSender& sender, Log* log, const std::wstring& javaHome, const std::wstring& installFolder,
                  const std::wstring& dataFolder) {
  if (log) log->info(L"isNeedMoveXul: check for " + dataFolder);
  int version = productVersion(log, javaHome, installFolder);
  MoveCheckFlags flags;
  if (isNeedMoveXul(version, dataFolder, installFolder, files::fileSize, flags, log)) {
    movePlugin(sender, log, installFolder, dataFolder);
  }
  return flags.value();
}

void runUpgradeCleanup(VexaInstallContext& context, const std::wstring& javaHome) {
  std::wstring dataFolder = win::shortPathOf(context.workFolder());
  if (dataFolder.empty()) dataFolder = context.workFolder();
  CommandSender* sender = context.commandSender();
  if (!sender) return;
  context.moveCheckFlags = cleanUpPlugin(*sender, context.log(), javaHome, context.shortInstallFolder(), dataFolder);
}
