#include "scenario/win32/RuntimeDownloads.h"

#include "BuildConfig.h"
#include "app/Log.h"
#include "app/win32/Files.h"
#include "download/DownloadManager.h"
#include "download/win32/HttpConnection.h"
#include "scenario/PackFiles.h"
#include "scenario/PackSignature.h"
#include "scenario/ScenarioDownloads.h"
#include "scenario/win32/PackSignatureCheck.h"
#include "scenario/win32/JavaRuntime.h"
#include "scenario/win32/PackTransport.h"

JreSettings& jreSettings() {
  static JreSettings settings{VEXA_RUNTIME_ROOT};
  return settings;
}

std::wstring defaultRuntimePackUrl() { return jreSettings().runtimeRoot + L"/jre_packed.ebz"; }

void fetchRuntimeParameters(RuntimeParameters& params, Log* log) {
  const JreSettings& settings = jreSettings();
  std::wstring answer = download::downloadToString(download::winInetConnections(), nullptr,
                                                   scenario_downloads::kRuntimeParams,
                                                   settings.runtimeRoot + L"/java.json", log,
                                                   settings.paramsTimeoutMs, scenario_downloads::kRuntimeId, true,
                                                   settings.timing);
  if (!answer.empty()) params.apply(answer);
}

namespace {

std::wstring downloadOnce(const std::wstring& url, const std::wstring& path, int connections,
                          download::IDownloadListener* listener, Log* log) {
  const JreSettings& settings = jreSettings();
  std::wstring result = download::downloadToFile(
      packtransport::packConnections(), listener, scenario_downloads::kRuntimePack, url, path,
      scenario_downloads::kRuntimeId, connections, log, settings.packTimeoutMs, settings.packMinValidSize,
      std::wstring(), true, settings.timing);
  return files::isFile(result) ? result : std::wstring();
}

}  // namespace

std::wstring downloadRuntimePack(const std::wstring& url, download::IDownloadListener* listener,
                                 JreInstallHost* host, Log* log, std::shared_ptr<packfiles::PackFile>& held) {
  held.reset();
  if (url.empty()) return std::wstring();
  std::wstring path = files::tempFileName(L"jreEbz");
  if (path.empty()) {
    if (log) log->error(L"Can't create a temporary file for the runtime pack");
    return std::wstring();
  }
  std::wstring result;
  std::wstring servedUrl = url;
  const std::wstring local = packtransport::folderFileFor(scenario_downloads::kRuntimePack);
  if (!local.empty()) {
    // Quietly: a copy the folder cannot give is fetched as usual, and only
    // that download's outcome is the runtime's.
    result = downloadOnce(local, path, 4, nullptr, log);
    if (log) {
      log->info(result.empty() ? L"Runtime pack " + local + L" is not usable, fetching " + url
                               : L"Runtime pack taken from " + local);
    }
    if (!result.empty()) servedUrl = local;
  }
  if (result.empty()) {
    result = downloadOnce(url, path, 4, listener, log);
    if (log) log->info(L"End download four threads");
  }
  if (result.empty() && !(host && host->installCancelled())) {
    if (log) log->info(L"Retry download one thread");
    result = downloadOnce(url, path, 1, listener, log);
    if (log) log->info(L"End download one thread");
  }
  if (!result.empty()) {
    const JreSettings& settings = jreSettings();
    const pack_signature::PackVerifier& verifier =
        settings.verifier ? *settings.verifier : pack_signature::builtInVerifier();
    held = holdVerifiedPack(verifier, scenario_downloads::kRuntimePack, pack_signature::kKindRuntime,
                            scenario_downloads::kRuntimeId, servedUrl, result, listener, log, settings.timing);
    if (!held) result.clear();
  }
  // The temporary file exists from the start; a failed download must not
  // leave it, or a partial pack, in the user's temporary folder.
  if (result.empty()) DeleteFileW(path.c_str());
  return result;
}
