#pragma once
// The product's install context: its file names, checks and actions.
#include <memory>

#include "context/win32/InstallContext.h"

struct JVMProperties;

class VexaInstallContext : public InstallContext {
 public:
  VexaInstallContext(const std::wstring& commandLine, Log* log);

  void addProductStatParams(std::map<std::wstring, std::wstring>& params, bool atEnd) override;
  void onTail(const std::map<std::wstring, std::wstring>& installerAttributes) override;
  HANDLE prepare() override;
  int appId() override { return 1; }
  bool keepInitXml() override { return true; }
  // "exec" names a folder with the product's files, and the last install
  // there ran to its end (markInstallComplete): an install broken off while
  // its files moved in is installed again, not taken as done.
  bool isInstalled() override;
  // Written once the last file has moved in and the last command has run;
  // cleared before the first file moves.
  void markInstallComplete(bool complete);
  static constexpr const wchar_t* kCompleteValue = L"installComplete";
  // A failure the install met counts even where the product's files stand
  // (an earlier install's, or a runtime cut short beside them).
  bool succeeded() override { return isInstalled() && !failures().failed(); }
  std::wstring versionPrefix() override { return L"vw"; }
  std::wstring windowTitle(size_t capacity, const StringTable& strings) override;
  void runProduct() override;
  // The context's own values, the start-up entry, file types and protocol,
  // then the firewall exception; each step stands alone, none reports.
  void applySettings() override;
  std::wstring productPageUrl(size_t capacity) override;
  // "exec", the desktop and Start-menu links (COM must be initialised on the
  // calling thread) and the uninstall entry, which needs an elevated process.
  void createShortcuts() override;
  bool closeRunningProduct() override;

  // Download folder for the product ("DownloadsDir").
  const std::wstring& downloadFolder() const { return downloadFolder_; }
  void storeDownloadFolder(const std::wstring& folder);

  // Pack addresses from the tail (the statistics thread writes them);
  // empty means the server's default path.
  SharedText packedJreEbzUrl, vexa7zUrl, appdata7zUrl;
  // The product and appdata addresses as one tail set them: never one
  // from an earlier answer beside one from a later.
  std::pair<std::wstring, std::wstring> productAndAppdataUrls();

  // The runtime candidates of the last successful search, kept for the next
  // one; dropped when a search finds nothing.
  std::shared_ptr<JVMProperties> jvmProperties;

  // The three program files whose presence means "installed".
  static bool productFilesPresent(const std::wstring& folder);

 private:
  std::mutex tailLock_;
  void removeLeftoverProductFile();
  void setUpDownloadFolder();
  std::wstring downloadFolder_;
};
