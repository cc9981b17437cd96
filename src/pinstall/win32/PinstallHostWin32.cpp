#include "pinstall/win32/PinstallHostWin32.h"

#include <windows.h>

#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/Processes.h"
#include "app/win32/Registry.h"
#include "context/win32/InstallContext.h"
#include "context/win32/StatisticsEvents.h"
#include "download/win32/Downloads.h"

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
  std::wstring path = download::downloadToFile(nullptr, L"partnerUtilId", url, folder, 0, 1, log_, downloadTimeoutMs,
                                               0, std::wstring(), true);
  return files::isFile(path) ? path : std::wstring();
}

int PinstallHostWin32::runAndWait(const std::wstring& commandLine) {
  return processes::executeAndWait(false, log_, commandLine, nullptr, nullptr, kSetupLimitMs);
}

void PinstallHostWin32::writeDate(const std::wstring& id, const wchar_t* valueName, const std::wstring& date) {
  registry::writeText(HKEY_CURRENT_USER, offerKey(id), valueName, date);
}

void PinstallHostWin32::deleteFolder(const std::wstring& folder) {
  std::wstring path = folder;
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  files::deleteFolderTree(path);
}

void PinstallHostWin32::sendFinishEvent(const UrlParamAppender& offer) {
  stats::sendPartnerFinishEvent(context_, &offer);
}

}  // namespace pinstall
