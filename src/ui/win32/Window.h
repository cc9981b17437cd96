#pragma once
// The top-level window of the wizard and of the dialogs, and its message
// loop. The loop also gives the keyboard its usual meaning: Tab and
// Shift+Tab move between controls, Enter presses the focused push button
// or else the window's default button, Space toggles the focused check box
// or presses the focused button, Esc asks to close exactly as the close box
// does. The mouse goes through untouched.
//
// Threading: a window and its loop belong to the thread that created them.
#include <windows.h>

#include "ui/win32/Widgets.h"

class AppLifeCycleListener : public WidgetCommandHandler {
 public:
  // False: the message loop is not run.
  virtual bool onStart() = 0;
  virtual void onStop() {}
};

class WindowDirector {
 public:
  virtual ~WindowDirector() = default;
  virtual bool canClose() { return true; }
  virtual bool canDestroy() { return true; }
};

class Window : public TextWidget, public WidgetCommandHandler {
 public:
  // Registers "InstallerWindowClass" and creates a captioned window of the
  // given outer size; width() and height() then give the client area.
  Window(UiResources* resources, int x, int y, int width, int height, DWORD exStyle);
  ~Window() override = default;

  void setListener(AppLifeCycleListener* listener) { listener_ = listener; }
  AppLifeCycleListener* listener() const { return listener_; }
  void setDirector(WindowDirector* director) { director_ = director; }
  UiResources* resources() const { return resources_; }
  // The button Enter presses when the focus is not on a push button.
  void setDefaultButton(HWND button) { enableKeyboard(hwnd_, button); }
  // Gives any top-level window the loop's keyboard handling, with the
  // button that Enter presses when the focus is elsewhere.
  static void enableKeyboard(HWND root, HWND defaultButton);

  bool onCommand(HWND control) override;
  bool onUserMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

  // Runs GetMessage/dispatch until WM_QUIT; 0 at once when onStart refuses.
  int runMessageLoop();

  // The keyboard handling of the loop, for any loop that pumps this
  // thread's messages: true when the message was used up.
  static bool translateKeyboard(MSG& msg);

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT dispatch(UINT message, WPARAM wparam, LPARAM lparam);

  AppLifeCycleListener* listener_ = nullptr;
  UiResources* resources_;
  ULONG_PTR gdiplusToken_ = 0;
  WindowDirector* director_ = nullptr;
};
