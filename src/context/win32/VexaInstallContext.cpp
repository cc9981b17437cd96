#include "context/win32/VexaInstallContext.h"

#include "BuildConfig.h"
#include "app/Log.h"
#include "app/StringTable.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "app/win32/Processes.h"
#include "app/win32/Registry.h"
#include "app/win32/ShellFolders.h"
#include "context/win32/SystemRegistration.h"
#include "context/Command.h"
#include "context/SystemCommands.h"

VexaInstallContext::VexaInstallContext(const std::wstring& commandLine, Log* log)
    : InstallContext(commandLine, L"Vexa", log) {
  removeLeftoverProductFile();
}

void VexaInstallContext::removeLeftoverProductFile() {
  // An empty file named like the data folder keeps the folder from being
  // created; older versions could leave one behind.
  std::wstring path = shellfolders::roamingAppData() + L"\\Vexa";
  if (log_) log_->info(L"Try delete file 'Vexa' from " + path);
  if (!files::isFile(path)) return;
  if (log_) log_->info(L"File found");
  if (files::fileSize(path) != 0) {
    if (log_) log_->info(L"File is NOT empty");
    return;
  }
  if (log_) log_->info(L"File is empty");
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(path.c_str())) {
    if (log_) log_->info(L"File is deleted");
  } else if (log_) {
    log_->info(L"Can't delete, last error is " + std::to_wstring(GetLastError()));
  }
}

bool VexaInstallContext::productFilesPresent(const std::wstring& folder) {
  return files::isFile(folder + L"\\Vexa.exe") && files::isFile(folder + L"\\Vexa.jar") &&
         files::isFile(folder + L"\\vreg.dll");
}

bool VexaInstallContext::isInstalled() {
  std::wstring exec = registry::readText(HKEY_CURRENT_USER, productKey(), L"exec", 260);
  if (exec.empty()) return false;
  const registry::RegKey key = registry::RegKey::openRead(HKEY_CURRENT_USER, productKey());
  if (!key || registry::readDword(key.get(), kCompleteValue) != 1) return false;
  return productFilesPresent(text::folderPart(exec));
}

void VexaInstallContext::markInstallComplete(bool complete) {
  const bool written = complete ? registry::writeDword(HKEY_CURRENT_USER, productKey(), kCompleteValue, 1)
                                : registry::deleteValue(HKEY_CURRENT_USER, productKey(), kCompleteValue);
  if (!written && complete && log_) log_->error(L"Can't record that the install completed");
}

void VexaInstallContext::addProductStatParams(std::map<std::wstring, std::wstring>&, bool atEnd) {
  if (!atEnd || succeeded()) return;
  std::wstring listing = L"PFL:";
  for (const auto& name : files::listFolder(shortInstallFolder())) listing += name + L";";
  appendError(listing + L"PFL_end;");
}

void VexaInstallContext::onTail(const std::map<std::wstring, std::wstring>& attributes) {
  auto take = [&](const wchar_t* name, SharedText& field) {
    auto it = attributes.find(name);
    const std::wstring value = it == attributes.end() ? std::wstring() : text::fitOrEmpty(it->second, 1024);
    field = value;
    if (log_) log_->info(std::wstring(name) + L" from tail = " + value);
  };
  std::lock_guard<std::mutex> hold(tailLock_);
  take(L"packedJreEbzUrl", packedJreEbzUrl);
  take(L"vexa7zUrl", vexa7zUrl);
  take(L"appdata7zUrl", appdata7zUrl);
}

std::pair<std::wstring, std::wstring> VexaInstallContext::productAndAppdataUrls() {
  std::lock_guard<std::mutex> hold(tailLock_);
  return {vexa7zUrl.get(), appdata7zUrl.get()};
}

HANDLE VexaInstallContext::prepare() {
  HANDLE handle = InstallContext::prepare();
  setUpDownloadFolder();
  return handle;
}

void VexaInstallContext::setUpDownloadFolder() {
  std::wstring stored = registry::readText(HKEY_CURRENT_USER, productKey(), L"DownloadsDir");
  if (!stored.empty()) {
    downloadFolder_ = stored;
    return;
  }
  std::wstring root;
  uint64_t freeMiB = 0;
  std::wstring base;
  if (shellfolders::largestFixedDrive(root, freeMiB)) {
    std::wstring docs = shellfolders::documents();
    base = (!docs.empty() && towupper(docs[0]) == towupper(root[0])) ? docs : root;
  }
  if (base.empty() || (base.back() != L'\\' && base.back() != L'/')) base += L"\\";
  storeDownloadFolder(base + L"Vexa Downloads");
}

void VexaInstallContext::storeDownloadFolder(const std::wstring& folder) {
  downloadFolder_ = folder;
  registry::writeText(HKEY_CURRENT_USER, productKey(), L"DownloadsDir", folder);
}

std::wstring VexaInstallContext::windowTitle(size_t capacity, const StringTable& strings) {
  std::wstring title = text::fillEachS(strings.lookup(L"INSTALLING"), productName_);
  if (capacity && title.size() > capacity - 1) title.resize(capacity - 1);
  return title;
}

void VexaInstallContext::runProduct() {
  const std::wstring& folder = shortInstallFolder();
  // With 8.3 names switched off the folder keeps its blanks.
  processes::executeAndWait(false, log_, text::quotedIfBlank(folder + L"\\Vexa.exe") + L" /copydll");
  processes::executeNoWait(log_, folder + L"\\Vexa.exe", L"--readInitFile");
}

void VexaInstallContext::applySettings() {
  InstallContext::applySettings();
  const std::wstring& folder = shortInstallFolder();
  registration::setStartWithWindows(loadWithWindows, folder);
  registration::associateFileTypes(folder, associateTorrentFile, log_);
  registration::notifyAssociationsChanged();
  if (exceptFirewall && commandSender()) {
    // The status only reaches the log, through the sender's result line.
    FirewallAdd firewall(folder + L"\\Vexa.exe");
    wchar_t result[256] = {};
    commandSender()->send(firewall, result, 256);
  }
}

std::wstring VexaInstallContext::productPageUrl(size_t capacity) {
  std::wstring url = std::wstring(VEXA_SITE_URL) + L"?ref=installer_" + versionText();
  if (capacity && url.size() > capacity - 1) url.resize(capacity - 1);
  return url;
}

void VexaInstallContext::createShortcuts() {
  const std::wstring shortFolder = shortInstallFolder();  // also reads the folder if still unknown
  const std::wstring program = installFolder_ + L"\\Vexa.exe";
  registry::writeText(HKEY_CURRENT_USER, productKey(), L"exec", program);
  if (downloadFolder_.empty()) {
    // A silent install has nobody to click the box away: it would wait forever.
    if (hasOption(L"/silent")) {
      if (log_) log_->error(L"Unknown download dir");
    } else {
      registration::warnUnknownDownloadFolder();
    }
  }
  registration::createShortcuts(program, downloadFolder_);
  if (commandSender()) {
    AddUninstallInfoCommand uninstallInfo(shortFolder);
    wchar_t result[256] = {};
    commandSender()->send(uninstallInfo, result, 256);
  }
}

bool VexaInstallContext::closeRunningProduct() {
  if (!processes::findProcess(L"Vexa.exe")) return true;
  processes::executeNoWait(log_, shortInstallFolder() + L"\\Vexa.exe", L"--closedown");
  for (int i = 0; i < 51; ++i) {
    Sleep(500);
    if (!processes::findProcess(L"Vexa.exe")) return true;
  }
  return processes::findProcess(L"Vexa.exe") == 0;
}
