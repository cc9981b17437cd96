#include "pinstall/win32/PinstallHostWin32.h"

#include <windows.h>

#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/Processes.h"
#include "app/win32/Registry.h"
#include "context/win32/InstallContext.h"
#include "context/win32/StatisticsEvents.h"
#include "download/win32/Downloads.h"
#include "scenario/PackFiles.h"
#include "scenario/PackSignature.h"
#include "scenario/win32/PackSignatureCheck.h"

namespace pinstall {

std::wstring offerKey(const std::wstring& id) { return L"Software\\Pinstall\\" + id; }

int64_t currentTimeMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  return static_cast<int64_t>((t.QuadPart - 116444736000000000ULL) / 10000);
}

PinstallHostWin32::PinstallHostWin32(InstallContext& context, Log* log, const pack_signature::PackVerifier* verifier)
    : context_(context), log_(log), verifier_(verifier ? *verifier : pack_signature::builtInVerifier()) {}

PinstallHostWin32::~PinstallHostWin32() = default;

int PinstallHostWin32::installMode() { return context_.installMode; }

PinstallHost::Params PinstallHostWin32::statisticsParams() { return stats::partnerFinishParams(context_); }

std::wstring PinstallHostWin32::createTempFolder() {
  std::wstring temp = files::tempFolder();
  std::wstring guid = files::newGuidText();
  if (temp.empty() || guid.empty()) return std::wstring();
  if (temp.back() != L'\\') temp += L'\\';
  std::wstring folder = temp + guid;
  // A folder that already exists is not ours to delete later.
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    if (log_) log_->writeLastError();
    return std::wstring();
  }
  return folder + L"\\";
}

std::wstring PinstallHostWin32::download(const std::wstring& url, const std::wstring& folder) {
  heldSetup_.reset();
  std::wstring path = download::downloadToFile(nullptr, L"partnerUtilId", url, folder, 0, 1, log_, downloadTimeoutMs,
                                               0, std::wstring(), true, context_.networkTiming);
  if (!files::isFile(path)) return std::wstring();
  if (!verifier_.enabled()) return path;
  // A setup is a program the elevated installer is about to run: it is held
  // from its check to the end of its run.
  heldSetup_ = holdVerifiedPack(verifier_, L"partnerUtilId", pack_signature::kKindPartner, 0, url, path, nullptr,
                                log_);
  if (heldSetup_) return path;
  if (log_) log_->error(L"Partner setup " + url + L" is not signed for this installer, skip partner");
  return std::wstring();
}

int PinstallHostWin32::runAndWait(const std::wstring& commandLine) {
  return processes::executeAndWait(false, log_, commandLine, nullptr, nullptr, kSetupLimitMs);
}

void PinstallHostWin32::writeDate(const std::wstring& id, const wchar_t* valueName, const std::wstring& date) {
  registry::writeText(HKEY_CURRENT_USER, offerKey(id), valueName, date);
}

void PinstallHostWin32::deleteFolder(const std::wstring& folder) {
  heldSetup_.reset();
  std::wstring path = folder;
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  files::deleteFolderTree(path);
}

void PinstallHostWin32::sendFinishEvent(const UrlParamAppender& offer) {
  stats::sendPartnerFinishEvent(context_, &offer);
}

}  // namespace pinstall
