#pragma once
// What an offer needs from Windows to run: the install's statistics
// parameters, a temporary folder of its own, the download, the process, the
// registry dates and the "pinstallFinish" event.
//
// Stateless apart from the context it reads; offers call it on the thread
// that runs them.
#include <cstdint>
#include <string>

#include "pinstall/Pinstall.h"

class InstallContext;
class Log;

namespace pinstall {

// "Software\Pinstall\<id>" under HKEY_CURRENT_USER.
std::wstring offerKey(const std::wstring& id);
// The system time in milliseconds since 1970-01-01 UTC.
int64_t currentTimeMs();

class PinstallHostWin32 : public PinstallHost {
 public:
  PinstallHostWin32(InstallContext& context, Log* log) : context_(context), log_(log) {}

  int installMode() override;
  Params statisticsParams() override;
  std::wstring createTempFolder() override;
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
};

}  // namespace pinstall
