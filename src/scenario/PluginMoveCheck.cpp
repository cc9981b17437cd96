#include "scenario/PluginMoveCheck.h"

#include "app/Log.h"
#include "app/Text.h"

bool isNeedMoveXul(int productVersion, const std::wstring& dataFolder, const std::wstring& installFolder,
                   const std::function<uint64_t(const std::wstring&)>& fileSize, MoveCheckFlags& flags, Log* log) {
  auto info = [log](const std::wstring& line) {
    if (log) log->info(line);
  };
  if (productVersion <= kLastVersionWithoutMove) {
    info(L"isNeedMoveXul: Версия ниже 1031");
    return false;
  }
  if (text::isPrintableAscii(dataFolder)) {
    info(L"isNeedMoveXul: Путь содержит английские символы");
    return false;
  }
  flags.dataPathTested = true;
  if (fileSize(dataFolder + L"\\plugins\\vxulrunner\\plugin.properties") == 0 &&
      fileSize(dataFolder + L"\\plugins\\vxulrunner10\\plugin.properties") == 0) {
    info(L"isNeedMoveXul: XUL properties is empty");
    return false;
  }
  flags.propertiesFound = true;
  if (text::isPrintableAscii(installFolder)) {
    info(L"isNeedMoveXul: NEED");
    return true;
  }
  info(L"isNeedMoveXul: App path is good");
  flags.appPathGood = true;
  return false;
}
