// The hand-over to the elevated copy when the system refuses it or fails.
#include <gtest/gtest.h>

#include <windows.h>

#include "TestFiles.h"
#include "app/Log.h"
#include "app/win32/Elevation.h"

namespace {

// Counts (and stops) every window the calling thread tries to create, so a
// message box neither appears nor waits for a click.
class WindowWatch {
 public:
  WindowWatch() { hook_ = SetWindowsHookExW(WH_CBT, &WindowWatch::onEvent, nullptr, GetCurrentThreadId()); }
  ~WindowWatch() {
    if (hook_) UnhookWindowsHookEx(hook_);
  }
  static int created;

 private:
  static LRESULT CALLBACK onEvent(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
      ++created;
      return 1;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
  }
  HHOOK hook_ = nullptr;
};
int WindowWatch::created = 0;

}  // namespace

TEST(Elevation, ARefusedOrFailedHandOverIsAnErrorAndSilentShowsNoBox) {
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"\\e.log");
  std::wstring seen;
  auto refuse = [&](const std::wstring&, const std::wstring&, const std::wstring& params) {
    seen = params;
    return static_cast<unsigned long>(ERROR_CANCELLED);
  };
  auto fail = [](const std::wstring&, const std::wstring&, const std::wstring&) {
    return static_cast<unsigned long>(ERROR_FILE_NOT_FOUND);
  };
  WindowWatch watch;
  WindowWatch::created = 0;
  elevation::Outcome refused = elevation::relaunchElevated(&log, L"/secondInstance /silent", true, refuse);
  EXPECT_FALSE(refused.started);
  EXPECT_EQ(refused.error, static_cast<unsigned long>(ERROR_CANCELLED));
  EXPECT_EQ(seen, L"/secondInstance /silent /logPath \"" + log.path() + L"\"");
  elevation::Outcome failed = elevation::relaunchElevated(&log, L"/secondInstance /silent", true, fail);
  EXPECT_FALSE(failed.started);
  EXPECT_EQ(failed.error, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(WindowWatch::created, 0);
  std::string text = testfiles::readFile(log.path());
  EXPECT_NE(text.find("WARNING : [DEF] : User did not allow elevation, error code=1223\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("WARNING : [DEF] : Error: 2\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("ERROR :"), std::string::npos) << text;
  // With a window the reason is shown.
  elevation::relaunchElevated(&log, L"/secondInstance", false, fail);
  EXPECT_GT(WindowWatch::created, 0);
}
