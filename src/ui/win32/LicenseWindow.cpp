#include "ui/win32/LicenseWindow.h"

#include <richedit.h>

#include "app/StringTable.h"
#include "app/win32/Resources.h"
#include "ui/win32/Dpi.h"
#include "ui/win32/UiResources.h"
#include "ui/win32/Window.h"

namespace {
const wchar_t kLicenceClass[] = L"VexaDlgClass";
constexpr int kSize = 600;
int g_outcome = 0;

struct RtfSource {
  std::string bytes;
  size_t offset = 0;
};

DWORD CALLBACK streamRtf(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
  auto* source = reinterpret_cast<RtfSource*>(cookie);
  size_t left = source->bytes.size() - source->offset;
  size_t n = left < static_cast<size_t>(wanted) ? left : static_cast<size_t>(wanted);
  memcpy(buffer, source->bytes.data() + source->offset, n);
  source->offset += n;
  *given = static_cast<LONG>(n);
  return 0;
}

struct LicenceWindowState {
  HWND close = nullptr;
  HWND cancel = nullptr;
  bool recorded = false;
};

LRESULT CALLBACK licenceProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<LicenceWindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (state && (reinterpret_cast<HWND>(lparam) == state->close || reinterpret_cast<HWND>(lparam) == state->cancel)) {
        g_outcome = reinterpret_cast<HWND>(lparam) == state->close ? 1 : 2;
        state->recorded = true;
        DestroyWindow(hwnd);
        return 0;
      }
      break;
    case WM_CLOSE:
      if (state && !state->recorded) {
        g_outcome = 3;
        state->recorded = true;
      }
      break;
    case WM_DPICHANGED:
      dpi::onDpiChanged(hwnd, wparam, lparam);
      return 0;
    case WM_NCDESTROY:
      delete state;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}
}  // namespace

int LicenseResourceProviderImpl::resourceIdForLanguage(int languageId) {
  if (languageId == 1049) return 106;
  if (languageId == 1058) return 108;
  return 107;
}

LicenseResourceProviderImpl::LicenseResourceProviderImpl(const StringTable* strings)
    : id_(resourceIdForLanguage(strings ? strings->languageId() : 0)) {}

std::string LicenseResourceProviderImpl::text() {
  std::string bytes;
  resources::read(id_, L"lic", bytes);
  return bytes;
}

bool LicenseResourceProviderImpl::hasText() { return !text().empty(); }

namespace licence {

int lastOutcome() { return g_outcome; }

HWND open(HWND owner, UiResources* resources, LicenseResourceProvider* provider, bool showCancel) {
  HINSTANCE module = resources ? resources->module() : GetModuleHandleW(nullptr);
  WNDCLASSW known;
  if (!GetClassInfoW(module, kLicenceClass, &known)) {
    WNDCLASSW wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &licenceProcedure;
    wc.hInstance = module;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kLicenceClass;
    RegisterClassW(&wc);
  }
  RECT ownerRect = {};
  GetWindowRect(owner, &ownerRect);
  int cx = (ownerRect.left + ownerRect.right) / 2, cy = (ownerRect.top + ownerRect.bottom) / 2;
  std::wstring title = resources ? resources->text(L"USER_LICENSE") : L"USER_LICENSE";
  HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, kLicenceClass, title.c_str(), WS_CAPTION | WS_SYSMENU,
                                cx - kSize / 2, cy - kSize / 2, kSize, kSize, owner, nullptr, module, nullptr);
  if (!window) return nullptr;
  auto* state = new LicenceWindowState;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  dpi::fitTopLevel(window, kSize, kSize);

  HFONT normal = resources && resources->fonts() ? resources->fonts()->normal() : nullptr;
  LoadLibraryW(L"riched20.dll");
  HWND edit = dpi::createChild(0, L"RichEdit20W", L"",
                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_BORDER | WS_VSCROLL | WS_TABSTOP |
                                   ES_MULTILINE | ES_READONLY | ES_WANTRETURN,
                               6, 6, 580, 522, window, normal, module);
  if (edit) {
    RtfSource source;
    source.bytes = provider ? provider->text() : std::string();
    EDITSTREAM stream = {};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    stream.pfnCallback = &streamRtf;
    SendMessageW(edit, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
  }
  auto button = [&](const wchar_t* key, int x, bool visible) {
    std::wstring text = resources ? resources->text(key) : key;
    return dpi::createChild(0, L"Button", text.c_str(), WS_CHILD | WS_TABSTOP | (visible ? WS_VISIBLE : 0), x, 540,
                            100, 25, window, normal, module);
  };
  state->close = button(L"CLOSE", 485, true);
  state->cancel = button(L"CANCEL", 375, showCancel);
  Window::enableKeyboard(window, state->close);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  SetFocus(state->close);
  return window;
}

}  // namespace licence
