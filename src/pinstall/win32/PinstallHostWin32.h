#pragma once
// What an offer needs from Windows to run: the install's statistics
// parameters, a temporary folder of its own, the download, the process, the
// registry dates and the "pinstallFinish" event.
//
// With a pack key built in, a downloaded setup is run only when its
// "<address>.sig" verifies for the kind "partner"; the setup is then held open
// (no writes, renames or deletes) from the check until its folder is deleted
// after the run, so the program that runs is the one that was checked.
//
// Offers call it one after the other on the thread that runs them (the
// container's lock); the held setup is its only state besides the context.
#include <cstdint>
#include <memory>
#include <string>

#include "pinstall/Pinstall.h"

class InstallContext;
class Log;
namespace pack_signature {
class PackVerifier;
}
namespace packfiles {
class PackFile;
}

namespace pinstall {

// "Software\Pinstall\<id>" under HKEY_CURRENT_USER.
std::wstring offerKey(const std::wstring& id);
// The system time in milliseconds since 1970-01-01 UTC.
int64_t currentTimeMs();

class PinstallHostWin32 : public PinstallHost {
 public:
  // verifier: null for the one built into the installer.
  PinstallHostWin32(InstallContext& context, Log* log, const pack_signature::PackVerifier* verifier = nullptr);
  ~PinstallHostWin32() override;

  int installMode() override;
  Params statisticsParams() override;
  std::wstring createTempFolder() override;
  // Empty, with an ERROR line, also for a setup whose signature is refused.
  std::wstring download(const std::wstring& url, const std::wstring& folder) override;
  int runAndWait(const std::wstring& commandLine) override;
  void writeDate(const std::wstring& id, const wchar_t* valueName, const std::wstring& date) override;
  void deleteFolder(const std::wstring& folder) override;
  void sendFinishEvent(const UrlParamAppender& offer) override;

  // The partner download's time limit; tests shorten it.
  int downloadTimeoutMs = 3600000;
  // A partner setup still running after this long is ended.
  static constexpr unsigned long kSetupLimitMs = 30UL * 60 * 1000;

 private:
  InstallContext& context_;
  Log* log_;
  const pack_signature::PackVerifier& verifier_;
  std::shared_ptr<packfiles::PackFile> heldSetup_;
};

}  // namespace pinstall
