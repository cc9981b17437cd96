#include "WizardDriver.h"

namespace driver {

bool waitUntil(const std::function<bool()>& pred, DWORD timeoutMs, DWORD stepMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (pred()) return true;
    if (GetTickCount() - start >= timeoutMs) return pred();
    Sleep(stepMs);
  }
}

namespace {
struct TopSearch {
  const wchar_t* className;
  const wchar_t* title;
  bool visibleOnly;
  HWND found = nullptr;
};

BOOL CALLBACK onTop(HWND hwnd, LPARAM lparam) {
  auto* search = reinterpret_cast<TopSearch*>(lparam);
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  if (lstrcmpW(name, search->className) != 0) return TRUE;
  if (search->visibleOnly && !IsWindowVisible(hwnd)) return TRUE;
  if (search->title && textOf(hwnd) != search->title) return TRUE;
  search->found = hwnd;
  return FALSE;
}

BOOL CALLBACK onChild(HWND hwnd, LPARAM lparam) {
  reinterpret_cast<std::vector<HWND>*>(lparam)->push_back(hwnd);
  return TRUE;
}
}  // namespace

HWND findTop(const wchar_t* className, DWORD timeoutMs, bool visibleOnly, const wchar_t* title) {
  TopSearch search{className, title, visibleOnly};
  waitUntil(
      [&] {
        search.found = nullptr;
        EnumWindows(&onTop, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

std::wstring textOf(HWND hwnd) {
  wchar_t text[1024] = {};
  DWORD_PTR n = 0;
  // WM_GETTEXT, bounded: a hung window must not hang the driver.
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &n);
  return text;
}

RECT clientRect(HWND top) {
  RECT rc = {};
  GetClientRect(top, &rc);
  return rc;
}

SIZE clientSize(HWND top) {
  RECT rc = clientRect(top);
  return SIZE{rc.right, rc.bottom};
}

Control describe(HWND top, HWND hwnd) {
  Control c;
  c.hwnd = hwnd;
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  c.className = name;
  c.text = textOf(hwnd);
  RECT rc = {};
  GetWindowRect(hwnd, &rc);
  MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&rc), 2);
  c.rect = rc;
  c.visible = IsWindowVisible(hwnd) != FALSE;
  c.enabled = IsWindowEnabled(hwnd) != FALSE;
  if (c.className == L"Button") {
    LONG type = GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX || type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON) {
      DWORD_PTR state = 0;
      SendMessageTimeoutW(hwnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
      c.checked = static_cast<int>(state);
    }
  }
  return c;
}

std::vector<Control> controls(HWND top) {
  std::vector<HWND> handles;
  EnumChildWindows(top, &onChild, reinterpret_cast<LPARAM>(&handles));
  std::vector<Control> out;
  for (HWND h : handles) out.push_back(describe(top, h));
  return out;
}

HWND find(HWND top, const std::wstring& text, const wchar_t* className) {
  HWND hidden = nullptr;
  for (const Control& c : controls(top)) {
    if (c.text != text) continue;
    if (className && c.className != className) continue;
    if (c.visible) return c.hwnd;
    if (!hidden) hidden = c.hwnd;
  }
  return hidden;
}

bool click(HWND button, DWORD timeoutMs) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

bool clickNoWait(HWND button) { return PostMessageW(button, BM_CLICK, 0, 0) != 0; }

HWND focusOf(HWND top) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool pressKey(HWND top, UINT key, bool shift) {
  HWND target = focusOf(top);
  if (!target) target = top;
  // The loop reads the shift state from the thread's key state, which a
  // posted message does not carry; Shift+Tab is therefore posted to the
  // window as the loop would see it after pressing Shift.
  LPARAM down = 1, up = static_cast<LPARAM>(0xC0000001u);
  if (shift) PostMessageW(target, WM_KEYDOWN, VK_SHIFT, down);
  bool ok = PostMessageW(target, WM_KEYDOWN, key, down) != 0;
  if (key == VK_SPACE) PostMessageW(target, WM_CHAR, L' ', down);
  ok = PostMessageW(target, WM_KEYUP, key, up) != 0 && ok;
  if (shift) PostMessageW(target, WM_KEYUP, VK_SHIFT, up);
  return ok;
}

std::wstring dump(HWND top) {
  std::wstring out;
  SIZE size = clientSize(top);
  out += L"window\t" + textOf(top) + L"\t" + std::to_wstring(size.cx) + L"x" + std::to_wstring(size.cy) + L"\n";
  for (const Control& c : controls(top)) {
    out += c.className + L"\t" + c.text + L"\t" + std::to_wstring(c.rect.left) + L"," + std::to_wstring(c.rect.top) +
           L"\t" + std::to_wstring(c.rect.right - c.rect.left) + L"x" + std::to_wstring(c.rect.bottom - c.rect.top) +
           L"\t" + (c.visible ? L"visible" : L"hidden") + L"\t" + (c.enabled ? L"enabled" : L"disabled");
    if (c.checked >= 0) out += c.checked == BST_CHECKED ? L"\tchecked" : L"\tunchecked";
    out += L"\n";
  }
  return out;
}

std::wstring layout(HWND top) {
  SIZE size = clientSize(top);
  std::wstring out = L"client " + std::to_wstring(size.cx) + L" " + std::to_wstring(size.cy) + L"\n";
  std::vector<HWND> handles;
  EnumChildWindows(top, &onChild, reinterpret_cast<LPARAM>(&handles));
  for (HWND h : handles) {
    wchar_t name[128] = {};
    GetClassNameW(h, name, 128);
    RECT rc = {};
    GetWindowRect(h, &rc);
    MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&rc), 2);
    out += std::wstring(name) + L" " + std::to_wstring(rc.left) + L" " + std::to_wstring(rc.top) + L" " +
           std::to_wstring(rc.right - rc.left) + L" " + std::to_wstring(rc.bottom - rc.top) + L"\n";
  }
  return out;
}

}  // namespace driver
