#include "ui/win32/Dpi.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "ui/DpiScale.h"

namespace dpi {

namespace {
const wchar_t kPlaceProperty[] = L"VexaDpiPlace";
const wchar_t kSizeProperty[] = L"VexaDpiSize";
const wchar_t kFontProperty[] = L"VexaDpiFont";

// Both calls came with Windows 10 (1607); older systems lack them.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Fn>
Fn user32(const char* name) {
  HMODULE module = GetModuleHandleW(L"user32.dll");
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
GetDpiForWindowFn getDpiForWindow() {
  static GetDpiForWindowFn fn = user32<GetDpiForWindowFn>("GetDpiForWindow");
  return fn;
}
AdjustForDpiFn adjustForDpi() {
  static AdjustForDpiFn fn = user32<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  return fn;
}

UINT systemDpi() {
  HDC screen = GetDC(nullptr);
  int d = screen ? GetDeviceCaps(screen, LOGPIXELSY) : dpiscale::kBaseDpi;
  if (screen) ReleaseDC(nullptr, screen);
  return d > 0 ? static_cast<UINT>(d) : dpiscale::kBaseDpi;
}

// Two 16-bit signed values in one property; the offset keeps (0, 0) from
// reading as "no property".
HANDLE pack(int a, int b) {
  uintptr_t lo = static_cast<uint16_t>(a + 0x8000), hi = static_cast<uint16_t>(b + 0x8000);
  return reinterpret_cast<HANDLE>(lo | (hi << 16));
}
void unpack(HANDLE h, int& a, int& b) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  a = static_cast<int>(v & 0xFFFF) - 0x8000;
  b = static_cast<int>((v >> 16) & 0xFFFF) - 0x8000;
}

void remember(HWND hwnd, int x, int y, int width, int height) {
  SetPropW(hwnd, kPlaceProperty, pack(x, y));
  SetPropW(hwnd, kSizeProperty, pack(width, height));
}

dpiscale::Box scaledBox(int x, int y, int width, int height, UINT d) {
  return dpiscale::scaleBox(dpiscale::Box{x, y, width, height}, static_cast<int>(d));
}

struct CachedFont {
  LOGFONTW logical;
  UINT dpi;
  HFONT font;
};
std::vector<CachedFont>& fontCache() {
  static std::vector<CachedFont> cache;
  return cache;
}

BOOL CALLBACK relayoutChild(HWND child, LPARAM lparam) {
  const UINT d = static_cast<UINT>(lparam);
  HANDLE place = GetPropW(child, kPlaceProperty), size = GetPropW(child, kSizeProperty);
  if (place && size) {
    int x, y, w, h;
    unpack(place, x, y);
    unpack(size, w, h);
    dpiscale::Box b = scaledBox(x, y, w, h, d);
    SetWindowPos(child, nullptr, b.x, b.y, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
  }
  if (HANDLE font = GetPropW(child, kFontProperty))
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(static_cast<HFONT>(font), d)), FALSE);
  return TRUE;
}
}  // namespace

UINT of(HWND hwnd) {
  if (hwnd) {
    if (GetDpiForWindowFn fn = getDpiForWindow()) {
      UINT d = fn(hwnd);
      if (d) return d;
    }
  }
  return systemDpi();
}

int scaled(HWND hwnd, int value) { return dpiscale::scale(value, static_cast<int>(of(hwnd))); }

HWND createChild(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
                 int height, HWND parent, HFONT font, HINSTANCE module) {
  dpiscale::Box b = scaledBox(x, y, width, height, parent ? of(parent) : dpiscale::kBaseDpi);
  HWND hwnd = CreateWindowExW(exStyle, className, text, style, b.x, b.y, b.width, b.height, parent, nullptr,
                              module ? module : GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return nullptr;
  remember(hwnd, x, y, width, height);
  if (font) setFont(hwnd, font);
  return hwnd;
}

void move(HWND child, int x, int y, int width, int height) {
  if (!child) return;
  remember(child, x, y, width, height);
  dpiscale::Box b = scaledBox(x, y, width, height, of(child));
  MoveWindow(child, b.x, b.y, b.width, b.height, TRUE);
}

void setFont(HWND control, HFONT font) {
  if (!control) return;
  SetPropW(control, kFontProperty, font);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(font, of(control))), TRUE);
}

HFONT fontFor(HFONT font, UINT d) {
  if (!font || d == dpiscale::kBaseDpi || d == 0) return font;
  LOGFONTW logical = {};
  if (GetObjectW(font, sizeof(logical), &logical) != sizeof(logical)) return font;
  // Keyed by what the font is, not by its handle: a handle freed with its
  // font set may come back for another font.
  for (const CachedFont& c : fontCache())
    if (c.dpi == d && std::memcmp(&c.logical, &logical, sizeof(logical)) == 0) return c.font;
  LOGFONTW wanted = logical;
  wanted.lfHeight = dpiscale::scale(logical.lfHeight, static_cast<int>(d));
  wanted.lfWidth = dpiscale::scale(logical.lfWidth, static_cast<int>(d));
  HFONT made = CreateFontIndirectW(&wanted);
  if (!made) return font;
  fontCache().push_back(CachedFont{logical, d, made});
  return made;
}

SIZE fitTopLevel(HWND window, int outerWidth, int outerHeight) {
  RECT client = {};
  GetClientRect(window, &client);
  const UINT d = of(window);
  if (d == dpiscale::kBaseDpi) return SIZE{client.right, client.bottom};

  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  // The frame the window would have at 96 DPI tells its 96-DPI client area.
  RECT frame96 = {};
  RECT outer = {};
  GetWindowRect(window, &outer);
  if (AdjustForDpiFn adjust = adjustForDpi()) {
    adjust(&frame96, style, FALSE, exStyle, dpiscale::kBaseDpi);
  } else {
    frame96.right = dpiscale::unscale((outer.right - outer.left) - client.right, static_cast<int>(d));
    frame96.bottom = dpiscale::unscale((outer.bottom - outer.top) - client.bottom, static_cast<int>(d));
  }
  SIZE logical = {outerWidth - (frame96.right - frame96.left), outerHeight - (frame96.bottom - frame96.top)};

  RECT wanted = {0, 0, dpiscale::scale(logical.cx, static_cast<int>(d)), dpiscale::scale(logical.cy, static_cast<int>(d))};
  if (AdjustForDpiFn adjust = adjustForDpi()) adjust(&wanted, style, FALSE, exStyle, d);
  else AdjustWindowRectEx(&wanted, style, FALSE, exStyle);
  const int w = wanted.right - wanted.left, h = wanted.bottom - wanted.top;
  const int cx = outer.left + outerWidth / 2, cy = outer.top + outerHeight / 2;
  SetWindowPos(window, nullptr, cx - w / 2, cy - h / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  return logical;
}

void relayout(HWND window, UINT d) {
  if (!window) return;
  EnumChildWindows(window, &relayoutChild, static_cast<LPARAM>(d));
  RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME);
}

void onDpiChanged(HWND window, WPARAM wparam, LPARAM lparam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
  if (suggested)
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  relayout(window, HIWORD(wparam));
}

}  // namespace dpi
