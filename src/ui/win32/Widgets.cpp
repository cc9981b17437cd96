#include "ui/win32/Widgets.h"

#include <objidl.h>
#include <shellapi.h>
#include <uxtheme.h>
#include <vssym32.h>

#include "app/Log.h"
#include "download/win32/Downloads.h"
#include "app/PointerHandOff.h"
#include "ui/UiText.h"
#include "ui/win32/Dpi.h"
#include "ui/win32/Gdiplus.h"
#include "ui/win32/Messages.h"
#include "ui/win32/UiResources.h"

namespace {
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 25;
constexpr DWORD kPictureTimeoutMs = 300000;
}  // namespace

std::wstring windowClassName(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

// ---------------------------------------------------------------- Widget

void Widget::show(bool visible) const {
  if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE);
}
void Widget::enable(bool enabled) const {
  if (hwnd_) EnableWindow(hwnd_, enabled ? TRUE : FALSE);
}
void Widget::setFont(HFONT font) const {
  if (hwnd_) dpi::setFont(hwnd_, font);
}
void Widget::moveTo(int x, int y, int width, int height) {
  x_ = x; y_ = y; width_ = width; height_ = height;
  if (hwnd_) dpi::move(hwnd_, x, y, width, height);
}
void Widget::destroy() {
  if (hwnd_) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

void TextWidget::setText(const std::wstring& text, size_t capacity) const {
  if (hwnd_) SetWindowTextW(hwnd_, uitext::cut(text, capacity).c_str());
}
std::wstring TextWidget::text() const {
  if (!hwnd_) return std::wstring();
  int n = GetWindowTextLengthW(hwnd_);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  s.resize(static_cast<size_t>(GetWindowTextW(hwnd_, &s[0], n + 1)));
  return s;
}

Label::Label(HWND parent, int x, int y, int width, int height, const std::wstring& text, HFONT font, DWORD style,
             const wchar_t* className) {
  x_ = x; y_ = y; width_ = width; height_ = height;
  hwnd_ = dpi::createChild(0, className, uitext::cut(text, 512).c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width,
                           height, parent, font);
}

// ------------------------------------------------------------ Subclassed

void Subclassed::subclass(HWND hwnd) {
  if (!hwnd) return;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  original_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Subclassed::procedure)));
}

LRESULT Subclassed::original(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return original_ ? CallWindowProcW(original_, hwnd, message, wparam, lparam)
                   : DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT Subclassed::handleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return original(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK Subclassed::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<Subclassed*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wparam, lparam);
  return self->handleMessage(hwnd, message, wparam, lparam);
}

bool dispatchDrawItem(LPARAM lparam) {
  auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
  if (!item || !item->hwndItem) return false;
  auto* widget = reinterpret_cast<CustomWidget*>(GetWindowLongPtrW(item->hwndItem, GWLP_USERDATA));
  if (!widget) return false;
  widget->drawItem(*item);
  return true;
}

// ----------------------------------------------------------------- Panel

Panel::Panel(int x, int y, int width, int height, HWND parent, UiResources* resources) {
  x_ = x; y_ = y; width_ = width; height_ = height;
  fonts_ = resources ? resources->fonts() : nullptr;
  // WS_EX_CONTROLPARENT lets Tab walk into the panel's children.
  hwnd_ = dpi::createChild(WS_EX_CONTROLPARENT, L"Static", L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, x, y, width,
                           height, parent);
  subclass(hwnd_);
}

LRESULT Panel::handleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DRAWITEM:
      if (dispatchDrawItem(lparam)) return TRUE;
      break;
    case WM_COMMAND:
      if (handler_) handler_->onCommand(reinterpret_cast<HWND>(lparam));
      return 0;
    case WM_CTLCOLORSTATIC:
      if (paint_) {
        HBRUSH b = paint_->brush(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
        if (b) return reinterpret_cast<LRESULT>(b);
      }
      break;
    case WM_PAINT:
      if (paint_) {
        paint_->paint(hwnd);
        return 0;
      }
      break;
  }
  return original(hwnd, message, wparam, lparam);
}

// ---------------------------------------------------------- CustomButton

CustomButton::CustomButton(int x, int y, HWND parent, FontSet* fonts, const std::wstring& text) : parent_(parent) {
  x_ = x; y_ = y; width_ = kButtonWidth; height_ = kButtonHeight;
  fonts_ = fonts;
  hwnd_ = dpi::createChild(0, L"Button", text.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, x, y,
                           kButtonWidth, kButtonHeight, parent);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(static_cast<CustomWidget*>(this)));
  if (fonts) setFont(fonts->normal());
  theme_ = OpenThemeData(hwnd_, L"Button");
}

CustomButton::~CustomButton() {
  if (theme_) CloseThemeData(theme_);
}

bool CustomButton::themed() const { return theme_ && IsAppThemed(); }

namespace {
int themeState(const DRAWITEMSTRUCT& item) {
  int state = (item.itemState & ODS_SELECTED) ? PBS_PRESSED : 0;
  if (item.itemState & ODS_DISABLED) state |= PBS_DISABLED;
  return state;
}
std::wstring buttonText(HWND hwnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  return text;
}
}  // namespace

void CustomButton::drawItem(const DRAWITEMSTRUCT& item) {
  RECT rc = item.rcItem;
  if (themed()) {
    DrawThemeBackground(theme_, item.hDC, BP_PUSHBUTTON, themeState(item), &rc, nullptr);
  } else {
    UINT state = DFCS_BUTTONPUSH;
    if (item.itemState & ODS_SELECTED) state |= DFCS_PUSHED;
    if (item.itemState & ODS_DISABLED) state |= DFCS_INACTIVE;
    DrawFrameControl(item.hDC, &rc, DFC_BUTTON, state);
  }
  drawText(item);
  // Keyboard users see where the focus is.
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
    RECT focus = rc;
    const int inset = dpi::scaled(item.hwndItem, 4);
    InflateRect(&focus, -inset, -inset);
    DrawFocusRect(item.hDC, &focus);
  }
}

void CustomButton::drawText(const DRAWITEMSTRUCT& item) {
  std::wstring text = buttonText(item.hwndItem);
  RECT rc = item.rcItem;
  if (themed()) {
    DrawThemeText(theme_, item.hDC, BP_PUSHBUTTON, themeState(item), text.c_str(), -1,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE, 0, &rc);
    return;
  }
  SIZE extent = {};
  GetTextExtentPoint32W(item.hDC, text.c_str(), static_cast<int>(text.size()), &extent);
  int x = rc.left + (rc.right - rc.left - extent.cx) / 2;
  int y = rc.top + (rc.bottom - rc.top - extent.cy) / 2;
  UINT flags = DST_TEXT | ((item.itemState & ODS_DISABLED) ? DSS_DISABLED : 0);
  DrawStateW(item.hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(text.c_str()), static_cast<WPARAM>(text.size()), x,
             y, extent.cx, extent.cy, flags);
}

void OkButton::drawText(const DRAWITEMSTRUCT& item) {
  if (themed() && !highlight_) {
    CustomButton::drawText(item);
    return;
  }
  std::wstring text = buttonText(item.hwndItem);
  RECT rc = item.rcItem;
  COLORREF colour = (item.itemState & ODS_DISABLED) ? RGB(130, 130, 130) : highlight_ ? RGB(0, 0, 255) : RGB(8, 0, 0);
  int oldMode = SetBkMode(item.hDC, TRANSPARENT);
  COLORREF old = SetTextColor(item.hDC, colour);
  DrawTextW(item.hDC, text.c_str(), -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SetTextColor(item.hDC, old);
  SetBkMode(item.hDC, oldMode);
}

// ----------------------------------------------------------- CustomLabel

CustomLabel::CustomLabel(HWND parent, FontSet* fonts) : Label(parent, 0, 0, 600, 2, L"", fonts ? fonts->normal() : nullptr) {
  fonts_ = fonts;
  subclass(hwnd_);
}

void CustomLabel::paint(HDC dc) {
  RECT rc;
  GetClientRect(hwnd_, &rc);
  SetBkMode(dc, TRANSPARENT);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  wchar_t text[512] = {};
  GetWindowTextW(hwnd_, text, 512);
  DrawTextW(dc, text, -1, &rc, 0);
  if (old) SelectObject(dc, old);
}

LRESULT CustomLabel::handleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_PAINT) return original(hwnd, message, wparam, lparam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  paint(dc);
  EndPaint(hwnd, &ps);
  return 0;
}

void HLine::paint(HDC dc) {
  RECT rc;
  GetClientRect(hwnd_, &rc);
  Gdiplus::Graphics g(dc);
  Gdiplus::Pen dark(Gdiplus::Color(0xFF464646), 1.0f);
  Gdiplus::Pen white(Gdiplus::Color(0xFFFFFFFF), 1.0f);
  // The upper half of the rule's rows dark, the rest white: one row each
  // at 96 DPI, thicker on denser screens.
  const int rows = rc.bottom > 2 ? rc.bottom : 2;
  for (int row = 0; row < rows; ++row)
    g.DrawLine(row < (rows + 1) / 2 ? &dark : &white, 0, row, static_cast<INT>(rc.right), row);
}

// ------------------------------------------------------------- LinkLabel

namespace {
const wchar_t kLinkClass[] = L"myLinkLabelClass";
}

LinkLabel::LinkLabel(int height, HWND parent, FontSet* fonts, int x, int y, int width, const std::wstring& text,
                     Align align)
    : font_(fonts ? fonts->link() : nullptr), label_(uitext::cut(text, 256)), align_(align) {
  x_ = x; y_ = y; width_ = width; height_ = height;
  fonts_ = fonts;
  HINSTANCE module = GetModuleHandleW(nullptr);
  WNDCLASSW known;
  if (!GetClassInfoW(module, kLinkClass, &known)) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &LinkLabel::procedure;
    wc.hInstance = module;
    wc.hCursor = LoadCursorW(nullptr, IDC_HAND);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kLinkClass;
    RegisterClassW(&wc);
  }
  hwnd_ = dpi::createChild(0, kLinkClass, label_.c_str(), WS_CHILD | WS_VISIBLE, x, y, width, height, parent,
                           nullptr, module);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void LinkLabel::paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  HFONT font = dpi::fontFor(font_, dpi::of(hwnd));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  UINT alignment = static_cast<UINT>(align_);
  SetTextAlign(dc, alignment);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 230));
  RECT rc;
  GetClientRect(hwnd, &rc);
  TextOutW(dc, anchorX(align_, rc.right), 0, label_.c_str(), static_cast<int>(label_.size()));
  if (old) SelectObject(dc, old);
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK LinkLabel::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<LinkLabel*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self) {
    if (message == WM_PAINT) {
      self->paint(hwnd);
      return 0;
    }
    if (message == WM_LBUTTONDOWN) {
      self->click();
      return 0;
    }
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

UrlLinkLabel::UrlLinkLabel(int height, HWND parent, FontSet* fonts, int x, int y, int width, const std::wstring& text,
                           const std::wstring& url, Align align)
    : LinkLabel(height, parent, fonts, x, y, width, text, align), url_(uitext::cut(url, 256)) {}

void UrlLinkLabel::setUrl(const std::wstring& url) { url_ = uitext::cut(url, 256); }

void UrlLinkLabel::click() {
  if (url_.empty()) return;
  // Addresses come from the server: only web pages go to the shell, which
  // would as readily start a program or open a share.
  if (!uitext::isWebAddress(url_)) {
    UiResources* resources = UiResources::current();
    if (resources && resources->log()) resources->log()->warning(L"Link ignored, not a web address: " + url_);
    return;
  }
  // A link the shell cannot open is ignored.
  ShellExecuteW(nullptr, L"open", url_.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

ActionLinkLabel::ActionLinkLabel(int height, HWND parent, FontSet* fonts, int x, int y, int width,
                                 const std::wstring& text, ActionLinkLabelHandler* handler, Align align)
    : LinkLabel(height, parent, fonts, x, y, width, text, align), handler_(handler) {}

void ActionLinkLabel::click() {
  if (handler_) handler_->onAction(this);
}

// ----------------------------------------------------------------- Image

Image::Image(int x, int y, int width, int height, HWND parent, UiResources* resources, ImageLoadedCallback* callback)
    : module_(resources ? resources->module() : GetModuleHandleW(nullptr)),
      log_(resources ? resources->log() : nullptr),
      callback_(callback) {
  x_ = x; y_ = y; width_ = width; height_ = height;
  fonts_ = resources ? resources->fonts() : nullptr;
  hwnd_ = dpi::createChild(0, L"Static", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP, x, y, width, height, parent, nullptr,
                           module_);
  subclass(hwnd_);
}

Image::~Image() { delete image_; }

Gdiplus::Image* Image::decode(const void* bytes, size_t size) {
  if (!bytes || size == 0) return nullptr;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!memory) return nullptr;
  void* target = GlobalLock(memory);
  memcpy(target, bytes, size);
  GlobalUnlock(memory);
  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(memory, TRUE, &stream) != S_OK) {
    GlobalFree(memory);
    return nullptr;
  }
  Gdiplus::Bitmap* decoded = Gdiplus::Bitmap::FromStream(stream);
  stream->Release();
  if (decoded && decoded->GetLastStatus() != Gdiplus::Ok) {
    delete decoded;
    decoded = nullptr;
  }
  return decoded;
}

bool Image::loadResource(int id) {
  HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), L"img");
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module_, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  Gdiplus::Image* decoded = decode(bytes, SizeofResource(module_, found));
  if (!decoded) return false;
  delete image_;
  image_ = decoded;
  return true;
}

namespace {
struct PictureRequest {
  std::wstring url;
  Log* log;
  HWND target;
};
}  // namespace

void Image::requestUrl(const std::wstring& url) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (url == url_) return;
    url_ = url;
  }
  auto* request = new PictureRequest{url, log_, hwnd_};
  HANDLE thread = CreateThread(nullptr, 0, &Image::downloadThread, request, 0, nullptr);
  if (thread) CloseHandle(thread);
  else delete request;
}

// Runs on its own thread and never touches the widget: the picture reaches
// it through a posted message, dropped (and freed) when the window is gone.
DWORD WINAPI Image::downloadThread(void* parameter) {
  auto* request = static_cast<PictureRequest*>(parameter);
  if (request->log) request->log->info(L"+++++BEGIN thread imageDownload");
  std::vector<unsigned char> bytes =
      download::downloadToBytes(nullptr, L"imageDownload", request->url, request->log, kPictureTimeoutMs, 0);
  if (!bytes.empty()) {
    Gdiplus::Image* decoded = decode(bytes.data(), bytes.size());
    if (decoded) {
      handoff::give(decoded);
      if (!PostMessageW(request->target, ui::kMsgImageArrived, 0, reinterpret_cast<LPARAM>(decoded)) &&
          handoff::take(decoded))
        delete decoded;
    }
  }
  if (request->log) request->log->info(L"-----END thread imageDownload");
  delete request;
  return 0;
}

void Image::adopt(Gdiplus::Image* image) {
  delete image_;
  image_ = image;
  if (callback_) callback_->onImageLoaded(this, image);
  InvalidateRect(hwnd_, nullptr, TRUE);
  UpdateWindow(hwnd_);
}

void Image::paint(HDC dc) {
  if (!image_) return;
  // The widget's size on the screen: its 96-DPI size at the window's DPI.
  RECT rc = {};
  GetClientRect(hwnd_, &rc);
  Gdiplus::Graphics g(dc);
  if (static_cast<int>(image_->GetWidth()) != rc.right || static_cast<int>(image_->GetHeight()) != rc.bottom) {
    // A picture drawn at another size than its own is filtered, not
    // sampled: pictures stay smooth on high-DPI screens.
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  }
  g.DrawImage(image_, 0, 0, static_cast<INT>(rc.right), static_cast<INT>(rc.bottom));
}

LRESULT Image::handleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      paint(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DRAWITEM:
      if (dispatchDrawItem(lparam)) return TRUE;
      break;
    case WM_COMMAND:
      if (handler_) handler_->onCommand(reinterpret_cast<HWND>(lparam));
      return 0;
    case ui::kMsgImageArrived:
      // Only a picture our own download thread handed over.
      if (handoff::take(reinterpret_cast<const void*>(lparam))) adopt(reinterpret_cast<Gdiplus::Image*>(lparam));
      return 0;
  }
  return original(hwnd, message, wparam, lparam);
}
