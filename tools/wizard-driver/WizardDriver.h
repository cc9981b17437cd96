#pragma once
// Drives the installer's windows from outside, the way a person would see
// them: finds the wizard by its window class, reads its controls (class,
// text, place, enabled, visible, checked), presses buttons with BM_CLICK,
// sends keys through the window's message loop and waits for states. Every
// wait is bounded.
//
// Works from another process in the same Wine prefix or from another thread
// of the installer's own process.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace driver {

struct Control {
  HWND hwnd = nullptr;
  std::wstring className;
  std::wstring text;
  RECT rect = {};  // relative to the top window's client area
  bool visible = false;
  bool enabled = false;
  int checked = -1;  // BST_* for buttons, -1 otherwise
};

constexpr wchar_t kWizardClass[] = L"InstallerWindowClass";
constexpr wchar_t kLicenceClass[] = L"VexaDlgClass";

// Polls until pred() holds or timeoutMs passed; true when it held.
bool waitUntil(const std::function<bool()>& pred, DWORD timeoutMs, DWORD stepMs = 50);

// A top-level window of the class (and title, when given); null when none
// appeared within the time. visibleOnly skips hidden ones.
HWND findTop(const wchar_t* className, DWORD timeoutMs, bool visibleOnly = true, const wchar_t* title = nullptr);

// Every descendant of top, in creation order.
std::vector<Control> controls(HWND top);
// The first descendant whose text equals text (and whose class matches when
// className is given); visible ones first.
HWND find(HWND top, const std::wstring& text, const wchar_t* className = nullptr);
Control describe(HWND top, HWND control);

std::wstring textOf(HWND hwnd);
RECT clientRect(HWND top);
// The client area's size of top.
SIZE clientSize(HWND top);

// BM_CLICK, waiting at most timeoutMs for the window to have handled it.
bool click(HWND button, DWORD timeoutMs = 5000);
// BM_CLICK posted, as a person's click: returns at once (for buttons whose
// work outlasts any sensible wait, such as Finish).
bool clickNoWait(HWND button);
// A key press (down and up) posted to the control with the focus on the
// thread that owns top, so it passes the window's message loop.
bool pressKey(HWND top, UINT virtualKey, bool shift = false);
HWND focusOf(HWND top);

// One line per control: class, text, x, y, w, h, visible, enabled, checked.
std::wstring dump(HWND top);

// The geometry alone, each control's rectangle relative to its parent's
// client area (where the layout puts it), after a first line with the
// client size: "client W H", then "<class> x y w h" per control in creation
// order. Texts are left out, so two runs at different DPIs compare line by
// line.
std::wstring layout(HWND top);

}  // namespace driver
