// wizard-driver: drives a running installer from a script. Commands run in
// order; the first that fails ends the program with exit code 1.
//
//   wait [ms]                 the wizard window is visible
//   dump                      every control: class, text, place, states
//   layout                    every control's place in its parent (no texts)
//   click TEXT                BM_CLICK on the visible control with this text
//   wait-enabled TEXT [ms]    a control with this text is enabled
//   wait-text TEXT [ms]       a visible control with this text exists
//   check TEXT 0|1            sets a check box by clicking it if needed
//   pos TEXT                  prints the control's centre in screen pixels
//   licence [ms]              the licence window is visible (then it is the target)
//   wizard                    the wizard is the target again
//   dialog [ms]               the installer's own dialog ("Vexa") is visible (then it is the target)
//   key NAME                  tab, shift-tab, enter, space, esc to the focus
//   wait-gone [ms]            no wizard window is left (hidden or not)
//   close                     the close box's road: WM_SYSCOMMAND SC_CLOSE to the target
#include <cstdio>
#include <string>

#include "WizardDriver.h"

namespace {
DWORD msArg(int& i, int argc, wchar_t** argv, DWORD fallback) {
  if (i + 1 < argc && iswdigit(argv[i + 1][0])) return static_cast<DWORD>(_wtoi(argv[++i]));
  return fallback;
}
void say(const std::wstring& s) {
  std::string out;
  int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  out.resize(static_cast<size_t>(n));
  WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
  fwrite(out.data(), 1, out.size(), stdout);
  fflush(stdout);
}
int fail(const std::wstring& what) {
  say(L"wizard-driver: " + what + L"\n");
  return 1;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  HWND target = nullptr;
  auto need = [&](DWORD ms) {
    if (!target || !IsWindow(target)) target = driver::findTop(driver::kWizardClass, ms);
    return target != nullptr;
  };
  for (int i = 1; i < argc; ++i) {
    std::wstring cmd = argv[i];
    auto text = [&]() -> std::wstring { return i + 1 < argc ? argv[++i] : L""; };
    if (cmd == L"wait") {
      if (!need(msArg(i, argc, argv, 30000))) return fail(L"no wizard window");
    } else if (cmd == L"dump") {
      if (!need(10000)) return fail(L"no window");
      say(driver::dump(target));
    } else if (cmd == L"layout") {
      if (!need(10000)) return fail(L"no window");
      say(driver::layout(target));
    } else if (cmd == L"click") {
      std::wstring t = text();
      if (!need(10000)) return fail(L"no window");
      HWND c = nullptr;
      driver::waitUntil([&] { return (c = driver::find(target, t)) != nullptr; }, 10000);
      if (!c || !driver::clickNoWait(c)) return fail(L"cannot click " + t);
    } else if (cmd == L"wait-enabled" || cmd == L"wait-text") {
      std::wstring t = text();
      DWORD ms = msArg(i, argc, argv, 60000);
      if (!need(ms)) return fail(L"no window");
      bool enabled = cmd == L"wait-enabled";
      if (!driver::waitUntil(
              [&] {
                HWND c = driver::find(target, t);
                return c && IsWindowVisible(c) && (!enabled || IsWindowEnabled(c));
              },
              ms, 100))
        return fail(L"timed out waiting for " + t);
    } else if (cmd == L"check") {
      std::wstring t = text();
      int want = _wtoi(text().c_str());
      if (!need(10000)) return fail(L"no window");
      HWND c = driver::find(target, t, L"Button");
      if (!c) return fail(L"no check box " + t);
      if (driver::describe(target, c).checked != (want ? BST_CHECKED : BST_UNCHECKED)) driver::click(c);
    } else if (cmd == L"pos") {
      std::wstring t = text();
      if (!need(10000)) return fail(L"no window");
      HWND c = driver::find(target, t);
      if (!c) return fail(L"no control " + t);
      RECT rc;
      GetWindowRect(c, &rc);
      say(std::to_wstring((rc.left + rc.right) / 2) + L" " + std::to_wstring((rc.top + rc.bottom) / 2) + L"\n");
    } else if (cmd == L"licence") {
      target = driver::findTop(driver::kLicenceClass, msArg(i, argc, argv, 10000));
      if (!target) return fail(L"no licence window");
    } else if (cmd == L"dialog") {
      target = driver::findTop(driver::kWizardClass, msArg(i, argc, argv, 10000), true, L"Vexa");
      if (!target) return fail(L"no dialog");
    } else if (cmd == L"wizard") {
      target = nullptr;
      if (!need(10000)) return fail(L"no wizard window");
    } else if (cmd == L"key") {
      std::wstring k = text();
      if (!need(10000)) return fail(L"no window");
      UINT vk = k == L"enter" ? VK_RETURN : k == L"space" ? VK_SPACE : k == L"esc" ? VK_ESCAPE : VK_TAB;
      driver::pressKey(target, vk, k == L"shift-tab");
    } else if (cmd == L"wait-gone") {
      DWORD ms = msArg(i, argc, argv, 60000);
      if (!driver::waitUntil([] { return driver::findTop(driver::kWizardClass, 0, false) == nullptr; }, ms, 100))
        return fail(L"the wizard is still there");
    } else if (cmd == L"close") {
      if (!need(10000)) return fail(L"no window");
      PostMessageW(target, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
      return fail(L"unknown command " + cmd);
    }
  }
  return 0;
}
