#pragma once
// The installer's own modal message windows: a row of buttons under a
// content panel, run in a nested message loop on the calling thread.
//
// Threading: run on any thread that may own windows; the loop pumps that
// thread's messages (on the main thread, the wizard's too).
#include <string>
#include <utility>
#include <vector>

#include "ui/win32/Window.h"

class ButtonPanel : public WidgetCommandHandler {
 public:
  virtual void layout(Panel* panel) = 0;
  virtual int result() = 0;
};

class ButtonPanelImpl : public ButtonPanel {
 public:
  // (result code, text key) pairs; the first stands at the right edge.
  ButtonPanelImpl(UiResources* resources, std::vector<std::pair<int, std::wstring>> definitions)
      : resources_(resources), definitions_(std::move(definitions)) {}
  bool onCommand(HWND control) override;
  void layout(Panel* panel) override;
  int result() override { return result_; }
  const std::vector<HWND>& buttons() const { return buttons_; }

 private:
  UiResources* resources_;
  std::vector<std::pair<int, std::wstring>> definitions_;
  std::vector<HWND> buttons_;
  int result_ = 0;
};

class Dialog : public WindowDirector, public AppLifeCycleListener {
 public:
  explicit Dialog(std::vector<std::pair<int, std::wstring>> buttons);
  ~Dialog() override;
  virtual void createContent(UiResources* resources, Panel* content) = 0;

  bool onCommand(HWND control) override;
  bool onStart() override;

  // Builds the window, runs it until it closes; returns the button's code
  // (0 when closed by its close box).
  int run(const std::wstring& title);
  HWND handle() const { return window_ ? window_->handle() : nullptr; }

 protected:
  Window* window_ = nullptr;
  Panel* content_ = nullptr;
  Panel* buttonPanelWidget_ = nullptr;
  ButtonPanelImpl* buttons_;
  std::vector<Widget*> owned_;
};

// "There was a problem when installing..." with the help page's address,
// and beneath them the cause's sentence; with retry, a "Try again" button
// (result kTryAgain) left of the closing one.
class InstallationFailDialog : public Dialog {
 public:
  static constexpr int kTryAgain = 2;
  explicit InstallationFailDialog(std::wstring cause = std::wstring(), bool retry = false)
      : Dialog(retry ? std::vector<std::pair<int, std::wstring>>{{1, L"OK"}, {kTryAgain, L"TRY_AGAIN"}}
                     : std::vector<std::pair<int, std::wstring>>{{1, L"OK"}}),
        cause_(std::move(cause)) {}
  void createContent(UiResources* resources, Panel* content) override;

 private:
  std::wstring cause_;
};

// "Unable to install Java..." with the runtime vendor's download page.
class JavaErrorDialog : public Dialog {
 public:
  explicit JavaErrorDialog(std::wstring messageKey = L"CANNOT_INSTALL_JAVA")
      : Dialog({{1, L"OK"}}), messageKey_(std::move(messageKey)) {}
  void createContent(UiResources* resources, Panel* content) override;

 private:
  std::wstring messageKey_;
};

namespace dialogs {
// The runtime vendor's public download page.
extern const wchar_t kJavaDownloadUrl[];
// Shows the dialog and returns its result; the title is "Vexa".
int showInstallationFail(const std::wstring& cause = std::wstring(), bool retry = false);
int showJavaError();
}  // namespace dialogs
