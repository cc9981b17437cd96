#pragma once
// The widget toolkit: thin objects over Win32 child windows. Each widget
// keeps its handle and geometry; owner-drawn and subclassed ones keep
// themselves in the window's user-data slot so that the window procedures
// find them.
//
// Threading: every widget belongs to the main thread. Only an Image's
// download runs elsewhere, and it hands its result back by a posted message.
#include <windows.h>

#include <mutex>
#include <string>

#include "ui/win32/UiResources.h"

namespace Gdiplus {
class Image;
}

// Receives a child's notification; true when it took it.
class WidgetCommandHandler {
 public:
  virtual ~WidgetCommandHandler() = default;
  virtual bool onCommand(HWND control) { (void)control; return false; }
  virtual bool onUserMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    (void)message; (void)wparam; (void)lparam;
    return false;
  }
  virtual void onTimer(WPARAM id, LPARAM lparam) { (void)id; (void)lparam; }
};

class Widget {
 public:
  virtual ~Widget() = default;
  HWND handle() const { return hwnd_; }
  FontSet* fonts() const { return fonts_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int x() const { return x_; }
  int y() const { return y_; }

  void show(bool visible) const;
  void enable(bool enabled) const;
  void setFont(HFONT font) const;
  void moveTo(int x, int y, int width, int height);
  // DestroyWindow on the handle; the owner frees the object.
  void destroy();

 protected:
  HWND hwnd_ = nullptr;
  FontSet* fonts_ = nullptr;
  int width_ = 0, height_ = 0, x_ = 0, y_ = 0;
};

class TextWidget : public Widget {
 public:
  // Sets the window text; a text from outside is cut on a whole character.
  void setText(const std::wstring& text, size_t capacity = 512) const;
  std::wstring text() const;
};

// A plain "Static" text (or any system control the caller names).
class Label : public TextWidget {
 public:
  Label() = default;
  Label(HWND parent, int x, int y, int width, int height, const std::wstring& text, HFONT font,
        DWORD style = 0, const wchar_t* className = L"Static");
};

// A "Static" window whose procedure the toolkit replaces; its user data
// holds the object.
class Subclassed {
 public:
  virtual ~Subclassed() = default;
  virtual LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 protected:
  void subclass(HWND hwnd);
  LRESULT original(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  WNDPROC original_ = nullptr;

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
};

class PaintHandler {
 public:
  virtual ~PaintHandler() = default;
  virtual HBRUSH brush(HDC dc, HWND control) = 0;
  virtual void paint(HWND panel) = 0;
};

// A container child: routes its children's notifications to its handler.
class Panel : public Widget, public Subclassed {
 public:
  Panel(int x, int y, int width, int height, HWND parent, UiResources* resources);
  void setCommandHandler(WidgetCommandHandler* handler) { handler_ = handler; }
  WidgetCommandHandler* commandHandler() const { return handler_; }
  LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) override;

 protected:
  WidgetCommandHandler* handler_ = nullptr;
  PaintHandler* paint_ = nullptr;
};

// Owner-drawn item.
class CustomWidget {
 public:
  virtual ~CustomWidget() = default;
  virtual void drawItem(const DRAWITEMSTRUCT& item) = 0;
  virtual void drawText(const DRAWITEMSTRUCT& item) = 0;
};

// Routes WM_DRAWITEM to the item's object; true when one was found.
bool dispatchDrawItem(LPARAM lparam);

class CustomButton : public CustomWidget, public TextWidget {
 public:
  CustomButton(int x, int y, HWND parent, FontSet* fonts, const std::wstring& text);
  ~CustomButton() override;
  void drawItem(const DRAWITEMSTRUCT& item) override;
  void drawText(const DRAWITEMSTRUCT& item) override;

 protected:
  bool themed() const;
  HWND parent_;
  HANDLE theme_ = nullptr;
};

// Next/Finish: its own text colours when highlighted or when unthemed.
class OkButton : public CustomButton {
 public:
  using CustomButton::CustomButton;
  void drawText(const DRAWITEMSTRUCT& item) override;
  void setHighlight(bool on) { highlight_ = on; }
  bool highlight() const { return highlight_; }

 private:
  bool highlight_ = false;
};

// A label painted by the toolkit.
class CustomLabel : public Label, public Subclassed {
 public:
  CustomLabel(HWND parent, FontSet* fonts);
  virtual void paint(HDC dc);
  LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) override;
};

// Two-tone rule: dark grey over white.
class HLine : public CustomLabel {
 public:
  using CustomLabel::CustomLabel;
  void paint(HDC dc) override;
};

class LinkLabel : public TextWidget {
 public:
  enum Align { kLeft = 0, kRight = 2, kCenter = 6 };
  LinkLabel(int height, HWND parent, FontSet* fonts, int x, int y, int width, const std::wstring& text,
            Align align = kLeft);
  virtual void click() = 0;
  const std::wstring& label() const { return label_; }
  Align align() const { return align_; }
  // Where the text is anchored in a label of the given width.
  static int anchorX(Align align, int width) { return align == kRight ? width : align == kCenter ? width / 2 : 0; }

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void paint(HWND hwnd);
  HFONT font_;
  std::wstring label_;
  Align align_;
};

class UrlLinkLabel : public LinkLabel {
 public:
  UrlLinkLabel(int height, HWND parent, FontSet* fonts, int x, int y, int width, const std::wstring& text,
               const std::wstring& url, Align align = kLeft);
  void click() override;
  void setUrl(const std::wstring& url);
  const std::wstring& url() const { return url_; }

 private:
  std::wstring url_;
};

class ActionLinkLabelHandler {
 public:
  virtual ~ActionLinkLabelHandler() = default;
  virtual void onAction(class ActionLinkLabel* label) = 0;
};

class ActionLinkLabel : public LinkLabel {
 public:
  ActionLinkLabel(int height, HWND parent, FontSet* fonts, int x, int y, int width, const std::wstring& text,
                  ActionLinkLabelHandler* handler, Align align = kLeft);
  void click() override;

 private:
  ActionLinkLabelHandler* handler_;
};

class Image;
class ImageLoadedCallback {
 public:
  virtual ~ImageLoadedCallback() = default;
  virtual void onImageLoaded(Image* widget, Gdiplus::Image* image) = 0;
};

// A PNG picture painted stretched into the widget, from a resource or from
// a URL (one download per URL; the last one to finish wins).
class Image : public Widget, public Subclassed {
 public:
  Image(int x, int y, int width, int height, HWND parent, UiResources* resources,
        ImageLoadedCallback* callback = nullptr);
  ~Image() override;
  bool loadResource(int id);
  // Starts a download on its own thread unless this URL was the last asked.
  void requestUrl(const std::wstring& url);
  bool hasImage() const { return image_ != nullptr; }
  Gdiplus::Image* image() const { return image_; }
  LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) override;
  void paint(HDC dc);
  void setCommandHandler(WidgetCommandHandler* handler) { handler_ = handler; }

  // Decodes PNG (or any GDI+ format) bytes; null when they do not decode.
  static Gdiplus::Image* decode(const void* bytes, size_t size);

 private:
  static DWORD WINAPI downloadThread(void* parameter);
  void adopt(Gdiplus::Image* image);

  std::mutex lock_;
  std::wstring url_;
  HINSTANCE module_;
  Log* log_;
  Gdiplus::Image* image_ = nullptr;
  WidgetCommandHandler* handler_ = nullptr;
  ImageLoadedCallback* callback_;
};

// Every control's window class name.
std::wstring windowClassName(HWND hwnd);
