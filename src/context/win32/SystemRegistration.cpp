#include "context/win32/SystemRegistration.h"

#include <shlobj.h>

#include <vector>

#include "app/Log.h"
#include "app/win32/Registry.h"
#include "app/win32/ShellFolders.h"

namespace registration {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Vexa";

namespace {

const wchar_t kUserClasses[] = L"Software\\Classes\\";
const wchar_t kTorrentType[] = L"application/x-bittorrent";
const wchar_t kOpenWithProgids[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.torrent\\OpenWithProgids";

struct ClassValue {
  const wchar_t* key;   // under the classes root
  const wchar_t* name;  // empty: the key's default value
  std::wstring data;
  bool userFallback;    // also acceptable in the user's own classes
};

// HKEY_CLASSES_ROOT needs write access to the machine's classes; a user
// without it still gets the association for themselves.
void writeClassValue(HKEY classesRoot, const ClassValue& row) {
  if (registry::writeText(classesRoot, row.key, row.name, row.data)) return;
  if (row.userFallback) {
    registry::writeText(HKEY_CURRENT_USER, std::wstring(kUserClasses) + row.key, row.name, row.data);
  }
}

}  // namespace

std::wstring startupCommand(const std::wstring& installFolder) {
  std::wstring program = installFolder + L"\\Vexa.exe";
  if (program.find(L' ') != std::wstring::npos) program = L"\"" + program + L"\"";
  return program + L" /MINIMIZED";
}

void setStartWithWindows(bool enabled, const std::wstring& installFolder) {
  if (enabled) {
    registry::writeText(HKEY_CURRENT_USER, kRunKey, kRunValue, startupCommand(installFolder));
  } else {
    registry::deleteValue(HKEY_CURRENT_USER, kRunKey, kRunValue);
  }
}

std::wstring openCommand(const std::wstring& programPath) { return L"\"" + programPath + L"\" \"%1\""; }

void associateFileTypes(const std::wstring& installFolder, bool associateTorrent, Log* log, HKEY classesRoot) {
  if (log) log->info(L"Start associate");
  const std::wstring open = openCommand(installFolder + L"\\Vexa.exe");
  const std::wstring icon = installFolder + L"\\torrent.ico";

  const std::vector<ClassValue> progId = {
      {L"Vexa\\shell\\open\\command", L"", open, true},
      {L"Vexa\\DefaultIcon", L"", icon, true},
      // "Open with" lists programs by file name; a per-user copy of this key
      // would not be consulted, so there is no fallback.
      {L"Applications\\Vexa.exe\\shell\\open\\command", L"", open, false},
  };
  for (const ClassValue& row : progId) writeClassValue(classesRoot, row);

  // The protocol mark makes "vexa:" links open the product, whatever happens
  // to the .torrent type.
  registry::writeText(HKEY_CURRENT_USER, std::wstring(kUserClasses) + L"Vexa", L"URL Protocol", L"");
  registry::writeText(classesRoot, L"Vexa", L"URL Protocol", L"");

  if (associateTorrent) {
    if (log) log->info(L"associate .torrent file");
    const std::vector<ClassValue> types = {
        {L".vexa", L"", L"Vexa", true},
        {L".torrent", L"", L"Vexa", true},
        {L".torrent", L"Content Type", kTorrentType, true},
        {L"MIME\\Database\\Content Type\\application/x-bittorrent", L"Extension", L".torrent", true},
        {L"Vexa", L"", L"Vexa Download", true},
        {L"Vexa\\shell", L"", L"open", true},
        {L"Vexa", L"Content Type", kTorrentType, true},
    };
    for (const ClassValue& row : types) writeClassValue(classesRoot, row);
    // Explorer's per-user choice list; without it a type once opened with
    // another program keeps offering that one.
    registry::writeText(HKEY_CURRENT_USER, kOpenWithProgids, L"Vexa", L"");
  } else if (log) {
    log->info(L"Don't associate .torrent files ");
  }
  if (log) log->info(L"End associate");
}

void notifyAssociationsChanged() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

std::wstring desktopShortcutPath() { return shellfolders::desktop() + L"\\Vexa.lnk"; }
std::wstring startMenuShortcutPath() { return shellfolders::startMenu() + L"\\Programs\\Vexa.lnk"; }

void createShortcuts(const std::wstring& programPath, const std::wstring& workingFolder) {
  // A missing shortcut is a nuisance, not a failed install: results ignored.
  shellfolders::createShortcut(desktopShortcutPath(), programPath, L"", workingFolder, L"Vexa");
  shellfolders::createShortcut(startMenuShortcutPath(), programPath, L"", workingFolder, L"Vexa");
}

void warnUnknownDownloadFolder() { MessageBoxW(nullptr, L"Unknown download dir", L"DEBUG", MB_OK); }

}  // namespace registration
