// TEMPORARY STAND-IN, to be deleted when the runtime installer and the
// upgrade clean-up land: just enough of startJreInstall, findJavaRuntime and
// runUpgradeCleanup for the scenario to install the private runtime. It has
// no registry search, no java.json and no retries.
#include <windows.h>

#include "BuildConfig.h"
#include "app/win32/Files.h"
#include "context/win32/VexaInstallContext.h"
#include "download/win32/Downloads.h"
#include "scenario/Command.h"
#include "scenario/Commands.h"
#include "scenario/ScenarioDownloads.h"
#include "scenario/win32/JavaRuntime.h"
#include "scenario/win32/UpgradeCleanup.h"

namespace {

struct StandInJob {
  JreInstallHost* host;
  VexaInstallContext* context;
};

DWORD WINAPI standInThread(LPVOID parameter) {
  StandInJob* job = static_cast<StandInJob*>(parameter);
  VexaInstallContext& context = *job->context;
  std::wstring path = download::downloadToFile(&job->host->runtimeDownloadListener(), scenario_downloads::kRuntimePack,
                                               std::wstring(VEXA_RUNTIME_ROOT) + L"/jre_packed.ebz",
                                               files::tempFileName(L"jreEbz"), scenario_downloads::kRuntimeId, 4,
                                               context.log(), 3600000, 0, std::wstring(), false);
  if (!path.empty() && !job->host->installCancelled()) {
    UnEbzCommand unpack(path + L"|" + context.shortInstallFolder());
    wchar_t result[256] = L"0";
    context.commandSender()->send(unpack, result, 256);
    job->host->stageProgress(0, 100, 100.0f);
    DeleteFileW(path.c_str());
  }
  std::wstring home;
  if (findJavaRuntime(context, home, true).empty()) job->host->reportJavaMissing();
  delete job;
  return 0;
}

}  // namespace

HANDLE startJreInstall(JreInstallHost& host, VexaInstallContext& context) {
  std::wstring home;
  if (!findJavaRuntime(context, home, false).empty()) {
    host.stageProgress(0, 100, 100.0f);
    return nullptr;
  }
  return CreateThread(nullptr, 0, standInThread, new StandInJob{&host, &context}, 0, nullptr);
}

std::wstring findJavaRuntime(VexaInstallContext& context, std::wstring& javaHome, bool) {
  std::wstring home = context.shortInstallFolder() + L"\\jre";
  if (!files::isFile(home + L"\\bin\\client\\jvm.dll")) return std::wstring();
  javaHome += home;
  return L"1.8.0";
}

void runUpgradeCleanup(VexaInstallContext&, const std::wstring&) {}
