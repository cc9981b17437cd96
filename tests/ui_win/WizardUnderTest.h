#pragma once
// One wizard on a user-interface thread of the test process, with a
// scripted scenario behind it, and the driver's view of its window.
#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <future>
#include <string>

#include "FakeScenario.h"
#include "TestHttpServer.h"
#include "WizardDriver.h"
#include "app/Log.h"
#include "app/StringTable.h"
#include "app/win32/Files.h"
#include "app/win32/Resources.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"
#include "ui/win32/UiResources.h"
#include "ui/win32/WizardRoad.h"


inline const StringTable& englishTable() {
  static StringTable table = [] {
    std::string bytes;
    resources::read(104, L"i18n", bytes);
    return StringTable::build(bytes.data(), bytes.size(), 0x0409);
  }();
  return table;
}

inline Log& testLog() {
  static Log log = Log::atPath(files::tempFolder() + L"ui_win_tests.log");
  return log;
}

// Answers the statistics address built into the test build (127.0.0.1:8731)
// at once. With nothing listening, every wizard's finish event would sit out
// its five connect attempts three seconds apart. The tests run in a network
// namespace of their own (run-under-xvfb.sh), so the port is theirs.
inline void answerStatistics() {
  static testserver::TestHttpServer server(8731);
  static const bool added = [] {
    server.add("/installer2.html", {"{}"});
    return true;
  }();
  (void)added;
}

// One wizard on its own user-interface thread.
class WizardUnderTest {
 public:
  explicit WizardUnderTest(std::function<void(FakeScenario&)> body) {
    answerStatistics();
    scenario.body = std::move(body);
    context = new VexaInstallContext(L"", &testLog());  // lives on: the wizard keeps pointing at it
    context->setOffers(new PinstallContainerComposited(*context, &testLog()));
    ended_ = std::async(std::launch::async, [this] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      int r = ui::runWizard(*context, englishTable(), scenario);
      CoUninitialize();
      return r;
    });
    window = driver::findTop(driver::kWizardClass, 20000);
  }
  ~WizardUnderTest() {
    if (!ended()) {
      scenario.release = true;
      if (window) PostMessageW(window, WM_CLOSE, 0, 0);
      waitEnded(20000);
    }
  }
  bool waitEnded(int ms) { return ended_.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready; }
  bool ended() { return waitEnded(0); }

  HWND control(const std::wstring& text, const wchar_t* cls = nullptr) { return driver::find(window, text, cls); }
  driver::Control describe(HWND hwnd) { return driver::describe(window, hwnd); }
  bool hasControl(const wchar_t* cls, int x, int y, int w, int h) {
    for (const auto& c : driver::controls(window)) {
      if (c.className == cls && c.rect.left == x && c.rect.top == y && c.rect.right - c.rect.left == w &&
          c.rect.bottom - c.rect.top == h)
        return true;
    }
    return false;
  }
  bool waitText(const std::wstring& text, int ms = 5000) {
    return driver::waitUntil([&] { HWND c = control(text); return c && IsWindowVisible(c); }, ms);
  }

  FakeScenario scenario;
  VexaInstallContext* context = nullptr;
  HWND window = nullptr;

 private:
  std::future<int> ended_;
};

inline auto noBody = [](FakeScenario& s) { s.waitUntilReleased(); };

