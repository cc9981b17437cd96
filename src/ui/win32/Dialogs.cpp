#include "ui/win32/Dialogs.h"

#include "BuildConfig.h"
#include "ui/win32/Dpi.h"

namespace dialogs {
const wchar_t kJavaDownloadUrl[] = L"https://www.java.com/download/";
}

namespace {
constexpr int kDialogWidth = 400;
constexpr int kDialogHeight = 200;
constexpr int kButtonRow = 40;
}  // namespace

bool ButtonPanelImpl::onCommand(HWND control) {
  for (size_t i = 0; i < buttons_.size(); ++i) {
    if (buttons_[i] == control) {
      result_ = definitions_[i].first;
      return true;
    }
  }
  return false;
}

void ButtonPanelImpl::layout(Panel* panel) {
  int d = 6;
  for (const auto& definition : definitions_) {
    std::wstring text = resources_ ? resources_->text(definition.second.c_str()) : definition.second;
    HFONT font = resources_ && resources_->fonts() ? resources_->fonts()->normal() : nullptr;
    HWND button = dpi::createChild(0, L"Button", text.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                   panel->width() - d - 80, panel->height() - 31, 80, 25, panel->handle(), font);
    buttons_.push_back(button);
    d += 86;
  }
}

Dialog::Dialog(std::vector<std::pair<int, std::wstring>> buttons)
    : buttons_(new ButtonPanelImpl(UiResources::current(), std::move(buttons))) {}

Dialog::~Dialog() {
  for (Widget* w : owned_) delete w;
  delete buttonPanelWidget_;
  delete content_;
  delete window_;
  delete buttons_;
}

bool Dialog::onCommand(HWND control) {
  if (!buttons_->onCommand(control)) return false;
  PostMessageW(window_->handle(), WM_CLOSE, 0, 0);
  return true;
}

bool Dialog::onStart() {
  ShowWindow(window_->handle(), SW_SHOWDEFAULT);
  UpdateWindow(window_->handle());
  if (!buttons_->buttons().empty()) SetFocus(buttons_->buttons().front());
  return true;
}

int Dialog::run(const std::wstring& title) {
  UiResources* resources = UiResources::current();
  int x = GetSystemMetrics(SM_CXFULLSCREEN) / 2 - kDialogWidth / 2;
  int y = GetSystemMetrics(SM_CYFULLSCREEN) / 2 - kDialogHeight / 2;
  window_ = new Window(resources, x, y, kDialogWidth, kDialogHeight, WS_EX_TOPMOST);
  window_->setDirector(this);
  window_->setText(title);
  const int w = window_->width(), h = window_->height();
  content_ = new Panel(0, 0, w, h - kButtonRow, window_->handle(), resources);
  content_->show(true);
  buttonPanelWidget_ = new Panel(0, h - kButtonRow, w, kButtonRow, window_->handle(), resources);
  buttonPanelWidget_->setCommandHandler(this);
  createContent(resources, content_);
  buttons_->layout(buttonPanelWidget_);
  buttonPanelWidget_->show(true);
  if (!buttons_->buttons().empty()) window_->setDefaultButton(buttons_->buttons().front());
  window_->setListener(this);
  window_->runMessageLoop();
  if (IsWindow(window_->handle())) DestroyWindow(window_->handle());
  return buttons_->result();
}

namespace {
void addMessage(std::vector<Widget*>& owned, UiResources* resources, Panel* content, const wchar_t* key,
                const std::wstring& url) {
  HFONT font = resources && resources->fonts() ? resources->fonts()->normal() : nullptr;
  std::wstring message = resources ? resources->text(key) : key;
  owned.push_back(new Label(content->handle(), 20, 20, content->width() - 40, content->height(), message, font));
  owned.push_back(new UrlLinkLabel(20, content->handle(), resources ? resources->fonts() : nullptr, 20, 80,
                                   content->width() - 40, url, url, LinkLabel::kLeft));
}
}  // namespace

void InstallationFailDialog::createContent(UiResources* resources, Panel* content) {
  addMessage(owned_, resources, content, L"ERROR_INSTALLATION", VEXA_FAQ_URL);
  if (cause_.empty()) return;
  HFONT font = resources && resources->fonts() ? resources->fonts()->bold() : nullptr;
  // Two lines fit between the link and the buttons.
  owned_.push_back(new Label(content->handle(), 20, 101, content->width() - 40, content->height() - 101, cause_, font));
}

void JavaErrorDialog::createContent(UiResources* resources, Panel* content) {
  addMessage(owned_, resources, content, messageKey_.c_str(), dialogs::kJavaDownloadUrl);
}

namespace dialogs {
int showInstallationFail(const std::wstring& cause, bool retry) {
  InstallationFailDialog dialog(cause, retry);
  return dialog.run(L"Vexa");
}
int showJavaError() {
  JavaErrorDialog dialog;
  return dialog.run(L"Vexa");
}
}  // namespace dialogs
