#include "scenario/win32/JavaRuntime.h"

#include <process.h>

#include <memory>
#include <mutex>

#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "context/win32/VexaInstallContext.h"
#include "scenario/Commands.h"
#include "scenario/JvmChooser.h"
#include "scenario/PackFiles.h"
#include "scenario/ScenarioDownloads.h"
#include "scenario/WriteFailure.h"
#include "scenario/win32/PackTransport.h"
#include "scenario/win32/RuntimeDownloads.h"
#include "scenario/win32/WindowsJvmDiscovery.h"

namespace {

// The runtime thread and the worker both search; by the flow they do so one
// after the other, and this keeps it so if the flow ever changes.
std::mutex& searchLock() {
  static std::mutex lock;
  return lock;
}

void info(Log* log, const std::wstring& line) {
  if (log) log->info(line);
}

// Download with its two tries, up to the set number of attempts. The last
// try's file path, or empty.
std::wstring downloadWithAttempts(JreInstallHost& host, VexaInstallContext& context, bool& succeeded,
                                  std::shared_ptr<packfiles::PackFile>& held) {
  Log* log = context.log();
  std::wstring path;
  succeeded = false;
  for (int remaining = jreSettings().attempts; remaining > 0 && !succeeded; --remaining) {
    if (host.installCancelled()) {
      info(log, L"Runtime download stopped: the install is cancelled");
      break;
    }
    if (jreSettings().timing.aborted()) {
      info(log, L"Runtime download stopped: the install has failed");
      break;
    }
    info(log, L"----Start download jre attemptRemind=" + std::to_wstring(remaining));
    std::wstring fallback = context.packedJreEbzUrl.empty() ? defaultRuntimePackUrl() : context.packedJreEbzUrl;
    RuntimeParameters params(fallback);
    // A pack folder's runtime needs no address: its java.json would only
    // cost the wait of a network that may not be there.
    if (packtransport::folderFileFor(scenario_downloads::kRuntimePack).empty()) fetchRuntimeParameters(params, log);
    path = downloadRuntimePack(params.packUrl(), &host.runtimeDownloadListener(), &host, log, held);
    succeeded = !path.empty() && held != nullptr;
    if (succeeded) context.downloads().setBytes(scenario_downloads::kRuntimePack, files::fileSize(path));
    info(log, std::wstring(L"---End download jre result=") + (succeeded ? L"SUCCESS" : L"FAILED"));
  }
  return path;
}

void unpackRuntime(JreInstallHost& host, VexaInstallContext& context, const std::wstring& pack,
                   std::shared_ptr<packfiles::PackFile> held) {
  host.stageProgress(2, 1, 1.0f);
  context.stopwatch().start(L"unpackJre");
  const std::wstring runtimeFolder = context.shortInstallFolder() + L"\\jre";
  const bool hadRuntimeFolder = files::exists(runtimeFolder);
  UnEbzCommand unpack(pack + L"|" + context.shortInstallFolder(), std::move(held));
  wchar_t result[256] = L"0";
  if (context.commandSender()) context.commandSender()->send(unpack, result, 256);
  context.stopwatch().stop(L"unpackJre");
  context.appendJavaTrace(L"ebz_" + std::wstring(result) + L";");
  if (std::wstring(result) != L"0") {
    const failure::Failure why = unpack.writeFault() ? packfiles::failureOfWrite(unpack.writeFault())
                                                     : failure::damaged(scenario_downloads::kRuntimePack,
                                                                        L"it does not unpack");
    if (context.failures().note(why) && context.log()) {
      context.log()->error(L"Install failed (" + text::utf8ToWide(failure::token(why.cause)) + L"): " + why.text);
    }
    // A runtime cut short must not pass for one: what this unpack began goes.
    if (!hadRuntimeFolder && files::exists(runtimeFolder)) files::deleteFolderTree(runtimeFolder);
  }
  host.stageProgress(0, 100, 100.0f);
}

void installJre(JreInstallHost& host, VexaInstallContext& context) {
  Log* log = context.log();
  context.appendJavaTrace(L"installJreFunc_start;");
  bool succeeded = false;
  // The pack as it was checked, held until it is unpacked.
  std::shared_ptr<packfiles::PackFile> held;
  std::wstring pack = downloadWithAttempts(host, context, succeeded, held);
  if (pack.empty() || !files::isFile(pack)) {
    context.appendError(L"ebzDownloadFail;");
  } else {
    if (succeeded && !host.installCancelled()) unpackRuntime(host, context, pack, std::move(held));
    held.reset();
    DeleteFileW(pack.c_str());
  }
  if (host.installCancelled()) {
    info(log, L"Runtime search skipped: the install is cancelled");
  } else {
    std::wstring home;
    std::wstring version = findJavaRuntime(context, home, true);
    if (!version.empty()) {
      context.appendJavaTrace(L" " + version + L";");
    } else {
      context.appendJavaTrace(L"install_fail;");
      // The Java box is for a runtime that arrived and still does not run;
      // a download that failed, or a disk that was full, says so itself.
      const failure::Failure download = host.runtimeDownloadFailure();
      const failure::Failure why = download ? download : failure::runtime(L"no usable runtime after its unpack");
      if (context.failures().note(why) && log) {
        log->error(L"Install failed (" + text::utf8ToWide(failure::token(why.cause)) + L"): " + why.text);
      }
      if (context.failures().get().cause == failure::Cause::kRuntime) host.reportJavaMissing();
    }
  }
  info(log, context.javaInstall_);
}

struct JreThreadRecord {
  JreInstallHost* host;
  VexaInstallContext* context;
};

unsigned __stdcall installJreFunc(void* argument) {
  std::unique_ptr<JreThreadRecord> record(static_cast<JreThreadRecord*>(argument));
  VexaInstallContext& context = *record->context;
  info(context.log(), L"+++++BEGIN thread installJreFunc");
  try {
    installJre(*record->host, context);
  } catch (...) {
    context.appendError(L"exceptionInInstallJreFunc;");
  }
  context.appendJavaTrace(L"installJreFunc_finish;");
  info(context.log(), L"-----END thread installJreFunc");
  return 0;
}

}  // namespace

std::wstring findJavaRuntime(VexaInstallContext& context, std::wstring& javaHome, bool allowRegistry) {
  std::lock_guard<std::mutex> guard(searchLock());
  Log* log = context.log();
  const std::wstring folder = context.shortInstallFolder();
  if (!context.jvmProperties) {
    context.jvmProperties = std::make_shared<JVMProperties>();
    WindowsJvmDiscovery discovery(log);
    JVMChooser chooser(log, discovery, folder + L"\\utils.jar");
    if (!chooser.choose(folder, *context.jvmProperties) && allowRegistry) {
      chooser.choose(std::wstring(), *context.jvmProperties);
    }
  }
  if (context.jvmProperties->chosen) {
    javaHome += context.jvmProperties->choice.m_javaHomePath;
    return context.jvmProperties->choice.m_version;
  }
  context.jvmProperties.reset();
  return std::wstring();
}

HANDLE startJreInstall(JreInstallHost& host, VexaInstallContext& context) {
  std::wstring home;
  std::wstring version = findJavaRuntime(context, home, false);
  if (!version.empty()) {
    context.appendJavaTrace(L"exists_" + version + L";");
    host.stageProgress(0, 100, 100.0f);
    return nullptr;
  }
  auto* record = new JreThreadRecord{&host, &context};
  uintptr_t thread = _beginthreadex(nullptr, 0, installJreFunc, record, 0, nullptr);
  if (thread == 0) {
    context.appendError(L"installJreInThread_fail;");
    installJreFunc(record);
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(thread);
}
