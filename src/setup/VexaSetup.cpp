// Entry point of VexaSetup.exe: opens the log, parses the command line,
// keeps to a single instance and takes exactly one road: refuse, write the
// version file, hand over to an elevated copy, start the installed product,
// or run the installation (silently or as the wizard).
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "app/Log.h"
#include "app/StringTable.h"
#include "app/win32/CommandLine.h"
#include "app/win32/Elevation.h"
#include "app/win32/ModulePaths.h"
#include "app/win32/ProcessEnd.h"
#include "app/win32/Resources.h"
#include "app/win32/SingleInstance.h"
#include "app/win32/SystemInfo.h"
#include "setup/InstallRoads.h"
#include "context/ContextText.h"
#include "context/win32/ResultFile.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"

namespace {

constexpr int kExitAnotherInstaller = 10;
constexpr DWORD kPrepareWaitMs = 5000;

StringTable loadStringTable() {
  int language = sysinfo::userDefaultLanguage();
  std::string bytes;
  if (!resources::read(StringTable::resourceIdForLanguage(language), L"i18n", bytes)) return StringTable();
  return StringTable::build(bytes.data(), bytes.size(), language);
}

// The version file: the program's short path + ".ver", written from its
// start in the ANSI code page. A file that cannot be opened is skipped.
void writeVersionFile(const std::wstring& version) {
  std::wstring path = win::moduleShortPath();
  if (path.empty()) path = win::moduleLongPath();
  path += L".ver";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char ansi[256] = {};
  int n = WideCharToMultiByte(CP_ACP, 0, version.c_str(), static_cast<int>(version.size()), ansi, sizeof(ansi),
                              nullptr, nullptr);
  DWORD written = 0;
  if (n > 0) WriteFile(file, ansi, static_cast<DWORD>(n), &written, nullptr);
  CloseHandle(file);
}

void waitPrepared(HANDLE prepared) {
  if (prepared) WaitForSingleObject(prepared, kPrepareWaitMs);
}

// Every road of the run; the returned value is the process exit code.
int runInstaller(const std::wstring& commandLine) {
  OptionTable entryOptions = commandline::parse(commandLine);

  // Made once and never destroyed: the start event's thread may still be
  // writing when the run ends, and the process ends through ExitProcess,
  // which stops that thread before anything is torn down.
  Log& log = *new Log(L"VexaInstall.log");
  log.info(L"---START---");
  std::wstring args = L"ARGS:" + entryOptions.joined();
  if (args.size() > 1024) args.resize(1024);
  log.info(args);

  SingleInstance instance(L"vexaFull", &log);
  const StringTable& strings = *new StringTable(loadStringTable());

  if (!instance.create()) {
    // A silent run has nobody to read a box and must not wait for one.
    if (entryOptions.hasOption(L"/silent")) {
      log.error(L"Another installer is running");
    } else {
      MessageBoxW(nullptr, strings.lookup(L"INSTALLER_RUNNING_ALREADY").c_str(), nullptr, MB_ICONERROR);
    }
    // A deployment tool learns why this run did nothing.
    resultfile::writeRefusalIfAsked(entryOptions, kExitAnotherInstaller, failure::anotherInstaller(), &log);
    return kExitAnotherInstaller;
  }

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::srand(static_cast<unsigned>(std::time(nullptr)));

  // Lives until the process ends: threads started below keep using it.
  auto* context = new VexaInstallContext(commandLine, &log);
  context->setOffers(new PinstallContainerComposited(*context, &log));
  log.info(context->versionText());
  const bool silent = context->hasOption(L"/silent");

  if (context->hasOption(L"/version")) {
    writeVersionFile(context->versionText());
    CoUninitialize();
    instance.release();
    return 0;
  }

  // A layout writes into a folder of the caller's choosing: it needs no
  // elevation and installs nothing.
  if (context->hasOption(L"/layout")) {
    roads::runLayout(*context);
    resultfile::writeIfAsked(*context);
    CoUninitialize();
    instance.release();
    return context->exitCode;
  }

  // A copy started by a hand-over never hands over again, whatever it finds.
  if (!context->isInstalled() && !entryOptions.hasOption(L"/secondInstance")) {
    instance.release();
    elevation::Outcome handedOver = elevation::relaunchElevated(
        &log,
        contexttext::relaunchParameters(entryOptions.tokens(), context->optionValue(L"/installKey").has_value(),
                                        context->installKey()),
        silent);
    CoUninitialize();
    if (handedOver.started) return 0;
    // Tools wait for the result file of the copy that never came.
    context->failures().note(failure::elevation(handedOver.error));
    context->exitCode = -1;
    resultfile::writeIfAsked(*context);
    return -1;
  }

  HANDLE prepared = context->prepare();

  if (context->isInstalled()) {
    waitPrepared(prepared);
    context->installMode = InstallContext::kAlreadyInstalled;
    roads::reportRestart(*context);
    context->runProduct();
    CoUninitialize();
    instance.release();
    return 0;
  }

  if (silent) {
    roads::runSilentInstall(*context, strings);
  } else {
    roads::runWizardInstall(*context, strings);
  }

  waitPrepared(prepared);
  context->runDeferredCommands();
  resultfile::writeIfAsked(*context);
  CoUninitialize();
  instance.release();
  return context->exitCode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR rawCommandLine, int) {
  processend::endProcess(runInstaller(rawCommandLine ? rawCommandLine : L""));
}
