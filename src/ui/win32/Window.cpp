#include "ui/win32/Window.h"

#include "ui/win32/Dpi.h"
#include "ui/win32/Gdiplus.h"

namespace {
const wchar_t kWindowClass[] = L"InstallerWindowClass";
const wchar_t kWindowProperty[] = L"VexaWindow";
const wchar_t kKeyboardProperty[] = L"VexaKeyboard";
const wchar_t kDefaultButtonProperty[] = L"VexaDefaultButton";

bool isPushButton(HWND hwnd) {
  if (!hwnd || windowClassName(hwnd) != L"Button") return false;
  LONG type = GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_OWNERDRAW;
}
}  // namespace

Window::Window(UiResources* resources, int x, int y, int width, int height, DWORD exStyle) : resources_(resources) {
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&gdiplusToken_, &input, nullptr);
  fonts_ = resources ? resources->fonts() : nullptr;
  HINSTANCE module = resources ? resources->module() : GetModuleHandleW(nullptr);

  // Registered on every window; a repeated registration fails harmlessly.
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &Window::procedure;
  wc.hInstance = module;
  wc.hIcon = LoadIconW(module, MAKEINTRESOURCEW(101));
  wc.hIconSm = LoadIconW(module, MAKEINTRESOURCEW(102));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);

  x_ = x; y_ = y;
  hwnd_ = CreateWindowExW(exStyle | WS_EX_CONTROLPARENT, kWindowClass, L"", WS_CAPTION | WS_SYSMENU, x, y, width,
                          height, nullptr, nullptr, module, this);
  enableKeyboard(hwnd_, nullptr);
  // The client area in 96-DPI units, which every layout of this window
  // works in; on a denser screen the window grows to match.
  SIZE client = dpi::fitTopLevel(hwnd_, width, height);
  width_ = client.cx;
  height_ = client.cy;
}

bool Window::onCommand(HWND control) { return listener_ ? listener_->onCommand(control) : false; }

bool Window::onUserMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  return listener_ ? listener_->onUserMessage(message, wparam, lparam) : false;
}

LRESULT CALLBACK Window::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetPropW(hwnd, kWindowProperty, create->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCDESTROY) {
    RemovePropW(hwnd, kWindowProperty);
    RemovePropW(hwnd, kKeyboardProperty);
    RemovePropW(hwnd, kDefaultButtonProperty);
  }
  if (!self || !self->hwnd_) return DefWindowProcW(hwnd, message, wparam, lparam);
  return self->dispatch(message, wparam, lparam);
}

LRESULT Window::dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TIMER:
      if (listener_) listener_->onTimer(wparam, lparam);
      return 0;
    case WM_COMMAND:
      onCommand(reinterpret_cast<HWND>(lparam));
      return 0;
    case WM_DRAWITEM:
      if (dispatchDrawItem(lparam)) return TRUE;
      break;
    case WM_CLOSE:
      if (director_ && !director_->canClose()) return 0;
      break;
    case WM_DPICHANGED:
      dpi::onDpiChanged(hwnd_, wparam, lparam);
      return 0;
    case WM_DESTROY:
      if (director_ && !director_->canDestroy()) return 0;
      if (listener_) listener_->onStop();
      PostQuitMessage(0);
      return 0;
    default:
      if (message > WM_USER) {
        onUserMessage(message, wparam, lparam);
        return 0;
      }
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

void Window::enableKeyboard(HWND root, HWND defaultButton) {
  if (!root) return;
  SetPropW(root, kKeyboardProperty, reinterpret_cast<HANDLE>(1));
  SetPropW(root, kDefaultButtonProperty, defaultButton);
}

bool Window::translateKeyboard(MSG& msg) {
  if (msg.message != WM_KEYDOWN && msg.message != WM_KEYUP && msg.message != WM_CHAR &&
      msg.message != WM_SYSKEYDOWN && msg.message != WM_SYSCHAR)
    return false;
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (!root || !GetPropW(root, kKeyboardProperty)) return false;
  HWND defaultButton = static_cast<HWND>(GetPropW(root, kDefaultButtonProperty));
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
    // The same road as the close box.
    PostMessageW(root, WM_SYSCOMMAND, SC_CLOSE, 0);
    return true;
  }
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
    HWND focus = GetFocus();
    HWND target = isPushButton(focus) && GetAncestor(focus, GA_ROOT) == root ? focus : defaultButton;
    if (target && IsWindowEnabled(target) && IsWindowVisible(target)) SendMessageW(target, BM_CLICK, 0, 0);
    return true;
  }
  if (msg.message == WM_CHAR && (msg.wParam == L'\r' || msg.wParam == 27)) return true;
  // Tab, arrows between radio buttons, Space on buttons and check boxes.
  return IsDialogMessageW(root, &msg) != FALSE;
}

int Window::runMessageLoop() {
  if (listener_ && !listener_->onStart()) return 0;
  HACCEL accelerators = CreateAcceleratorTableW(nullptr, 0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (accelerators && TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) continue;
    if (translateKeyboard(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (accelerators) DestroyAcceleratorTable(accelerators);
  return static_cast<int>(msg.wParam);
}
