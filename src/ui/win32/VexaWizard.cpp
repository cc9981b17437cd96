#include "ui/win32/VexaWizard.h"

#include <commctrl.h>

#include "app/Log.h"
#include "app/StringTable.h"
#include "app/Text.h"
#include "context/win32/InstallContext.h"
#include "pinstall/win32/PinstallContainer.h"
#include "context/win32/VexaInstallContext.h"
#include "scenario/IInstallScenario.h"
#include "scenario/win32/InstallFinishing.h"
#include "ui/UiText.h"
#include "ui/win32/Dialogs.h"
#include "ui/win32/Dpi.h"
#include "ui/win32/Messages.h"
#include "ui/win32/TaskbarProgress.h"

namespace {
constexpr int kPictureId = 135;
constexpr int kCheckId = 130;
constexpr int kStageSpacing = 30;
// A cancelled scenario reports its end; should it ever not, the window
// still closes after this long.
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kCloseTimeoutMs = 15000;

HWND makeControl(const wchar_t* className, const std::wstring& text, DWORD style, int x, int y, int w, int h,
                 HWND parent, HFONT font) {
  return dpi::createChild(0, className, text.c_str(), WS_CHILD | style, x, y, w, h, parent, font);
}

bool checked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void setChecked(HWND button, bool on) { SendMessageW(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }

// Height of the letter "w" in the normal font: the group frame's caption
// line sits half of it above the panel.
int letterHeight(HWND window, HFONT font) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size = {};
  GetTextExtentPoint32W(dc, L"w", 1, &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return size.cy;
}
}  // namespace

// ------------------------------------------------------------ stage item

StageItemUIImpl::StageItemUIImpl(HWND parent, UiResources* resources, int x, int y, const std::wstring& format,
                                 int checkImageId)
    : model_(format) {
  x_ = x; y_ = y; width_ = 400; height_ = 25;
  fonts_ = resources->fonts();
  hwnd_ = makeControl(L"Static", L"", WS_VISIBLE, x, y, 400, 25, parent, nullptr);
  label_ = new Label(hwnd_, 20, 0, 380, 25, model_.text(), fonts_->normal());
  check_ = new Image(4, 4, 9, 11, hwnd_, resources);
  check_->loadResource(checkImageId);
  check_->show(false);
}

StageItemUIImpl::~StageItemUIImpl() {
  delete label_;
  delete check_;
}

void StageItemUIImpl::setActive() { label_->setFont(fonts_->bold()); }

void StageItemUIImpl::setDone() {
  done_ = true;
  check_->show(true);
  label_->setFont(doneFont_ ? doneFont_ : fonts_->normal());
}

void StageItemUIImpl::apply(const StageProgress::Update& update) {
  if (update.textChanged) {
    label_->setText(model_.text(), 256);
    InvalidateRect(hwnd_, nullptr, TRUE);
    UpdateWindow(hwnd_);
  }
  if (update.look == StageProgress::Look::kDone) setDone();
  else if (update.look == StageProgress::Look::kActive) setActive();
}

void StageItemUIImpl::progress(int percent, float exactPercent) { apply(model_.onProgress(percent, exactPercent)); }
void StageItemUIImpl::tick() { apply(model_.onTick()); }
void StageItemUIImpl::fail(const std::wstring& failedFormat) { apply(model_.onFailed(failedFormat)); }
void StageItemUIImpl::reset() {
  done_ = false;
  check_->show(false);
  label_->setFont(fonts_->normal());
  apply(model_.reset());
}

// ---------------------------------------------------------- install mode

InstallModeComposite::InstallModeComposite(HWND parent, UiResources* resources, int x, int y,
                                           InstallModeListener* listener)
    : Panel(x, y, 150, 50, parent, resources), listener_(listener) {
  HFONT font = resources->fonts()->normal();
  quick_ = makeControl(L"Button", resources->text(L"QUICK_INSTALLATION"),
                       WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 0, 0, 150, 25, hwnd_, font);
  extended_ = makeControl(L"Button", resources->text(L"EXTENDED_INSTALLATION"), WS_VISIBLE | BS_AUTORADIOBUTTON, 0,
                          25, 150, 25, hwnd_, font);
  setChecked(quick_, true);
  setCommandHandler(this);
}

bool InstallModeComposite::onCommand(HWND control) {
  if (control != quick_ && control != extended_) return false;
  if (listener_) listener_->onInstallModeChanged();
  return true;
}

bool InstallModeComposite::quick() const { return checked(quick_); }

// -------------------------------------------------------------- settings

SettingsComposite::SettingsComposite(HWND parent, UiResources* resources, int width, InstallContext* options)
    : Panel(0, 0, width, 75, parent, resources), options_(options) {
  HFONT font = resources->fonts()->normal();
  std::wstring texts[3] = {uitext::formatWith(resources->text(L"LAUNCH_ON_WINDOWS_STARTUP"), L"Vexa"),
                           resources->text(L"OPEN_TORRENT_VIA_VEXA"), resources->text(L"ADD_FIREWALL_EXCEPTION")};
  bool states[3] = {options->loadWithWindows, options->associateTorrentFile, options->exceptFirewall};
  for (int i = 0; i < 3; ++i) {
    boxes_[i] = makeControl(L"Button", texts[i], WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 25 * i, width, 25,
                            hwnd_, font);
    setChecked(boxes_[i], states[i]);
  }
  setCommandHandler(this);
}

bool SettingsComposite::onCommand(HWND control) {
  bool* targets[3] = {&options_->loadWithWindows, &options_->associateTorrentFile, &options_->exceptFirewall};
  for (int i = 0; i < 3; ++i) {
    if (control == boxes_[i]) {
      *targets[i] = checked(control);
      return true;
    }
  }
  return false;
}

// ------------------------------------------------------------- main page

MainPage::MainPage(CommonVexaInstallerWizard* wizard, LicenseResourceProvider* licence, InstallContext* context)
    : AbstractWizardPage(L"main", wizard), vexaWizard_(wizard), licence_(licence), context_(context) {
  UiResources* resources = wizard->resources();
  Panel* panel = wizard->pagePanel();
  picture_ = new Image(0, 0, 173, 241, panel->handle(), resources);
  picture_->loadResource(kPictureId);
  keep(picture_->handle());
  std::wstring url = context->tailImage();
  if (!url.empty()) picture_->requestUrl(url);

  if (licence_ && licence_->hasText()) {
    const int w = panel->width(), h = panel->height();
    licencePrefix_ = new Label(panel->handle(), w - 270, h - 50, 270, 15, resources->text(L"USER_LICENSE_PREFIX"),
                               resources->fonts()->small(), SS_RIGHT);
    keep(licencePrefix_->handle());
    licenceLink_ = new ActionLinkLabel(15, panel->handle(), resources->fonts(), w - 200, h - 30, 200,
                                       resources->text(L"USER_LICENSE"), this, LinkLabel::kRight);
    keep(licenceLink_->handle());
  }
  context->tail().addListener(this);
}

MainPage::~MainPage() {
  for (auto* s : stages_) delete s;
  delete picture_;
  delete licencePrefix_;
  delete licenceLink_;
}

void MainPage::createStages(const std::vector<std::wstring>& formats, int checkImageId) {
  for (const auto& format : formats) {
    if (stages_.size() >= 4) break;
    auto* item = new StageItemUIImpl(wizard_->pagePanel()->handle(), wizard_->resources(), 189, nextStageY_, format,
                                     checkImageId);
    keep(item->handle());
    stages_.push_back(item);
    nextStageY_ += kStageSpacing;
  }
}

void MainPage::onShow() {
  wizard_->header()->restoreTitle();
  wizard_->header()->setDescription(context_->tail().title());
}

void MainPage::onAction(ActionLinkLabel*) {
  licence::open(wizard_->window()->handle(), wizard_->resources(), licence_, false);
}

void MainPage::onTailDataChanged(const TailData&) {
  HWND window = wizard_->window() ? wizard_->window()->handle() : nullptr;
  if (window) PostMessageW(window, ui::kMsgTailChanged, 0, 0);
}

void MainPage::tailChanged() {
  if (vexaWizard_->flow().current() == this) wizard_->header()->setDescription(context_->tail().title());
  std::wstring url = context_->tailImage();
  if (!url.empty()) picture_->requestUrl(url);
}

void MainPage::stageProgress(int stage, int percent, float exactPercent) {
  if (StageItemUIImpl* item = this->stage(stage)) item->progress(percent, exactPercent);
}

void MainPage::stageTick(int stage) {
  if (StageItemUIImpl* item = this->stage(stage)) item->tick();
}

void MainPage::markFailedStage(const std::wstring& failedFormat) {
  for (StageItemUIImpl* item : stages_) {
    if (item->done()) continue;
    item->fail(failedFormat);
    return;
  }
}

void MainPage::resetStages() {
  for (StageItemUIImpl* item : stages_) item->reset();
}

WebMainPage::WebMainPage(CommonVexaInstallerWizard* wizard, LicenseResourceProvider* licence, InstallContext* context)
    : MainPage(wizard, licence, context) {
  UiResources* resources = wizard->resources();
  Panel* panel = wizard->pagePanel();
  int h = letterHeight(wizard->window()->handle(), resources->fonts()->normal());
  frame_ = keep(makeControl(L"Button", L"", WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX, 189, -h / 2, panel->width() - 189, 80,
                            panel->handle(), resources->fonts()->normal()));
  mode_ = new InstallModeComposite(panel->handle(), resources, 209, 20 - h / 2, wizard);
  keep(mode_->handle());
  // The frame paints its inside; the choice must stay above it.
  SetWindowPos(mode_->handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

WebMainPage::~WebMainPage() { delete mode_; }

bool WebMainPage::onCommand(HWND control) { return mode_->onCommand(control); }

// --------------------------------------------------------- settings page

VexaSettingsPage::VexaSettingsPage(CommonVexaInstallerWizard* wizard, InstallContext* context)
    : AbstractWizardPage(L"settings", wizard), context_(context) {
  composite_ = new SettingsComposite(wizard->pagePanel()->handle(), wizard->resources(), wizard->pagePanel()->width(),
                                     context);
  keep(composite_->handle());
  composite_->show(false);
}

VexaSettingsPage::~VexaSettingsPage() { delete composite_; }

void VexaSettingsPage::onShow() {
  wizard_->header()->restoreTitle();
  wizard_->header()->setDescription(context_->tail().title());
}

// ---------------------------------------------------------------- wizard

CommonVexaInstallerWizard::CommonVexaInstallerWizard(WizardHeader* header, UiResources* resources,
                                                     InstallContext* context, IInstallScenario* scenario,
                                                     LicenseResourceProvider* licence)
    : InstallerWizard(header, resources, context, scenario), licence_(licence) {}

CommonVexaInstallerWizard::~CommonVexaInstallerWizard() {
  delete mainPage_;
  delete settingsPage_;
  delete information_;
  delete taskbar_;
}

bool CommonVexaInstallerWizard::onStart() {
  ShowWindow(window_->handle(), SW_SHOWDEFAULT);
  UpdateWindow(window_->handle());
  if (auto* web = dynamic_cast<WebMainPage*>(mainPage_)) SetFocus(web->mode()->quickButton());
  return true;
}

void CommonVexaInstallerWizard::createDecorations() {
  if (resources_->strings()) window_->setText(context_->windowTitle(512, *resources_->strings()), 512);
  const int pw = pagePanel_->width(), ph = pagePanel_->height();
  progress_ = dpi::createChild(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, ph - 10, pw, 10,
                               pagePanel_->handle());
  SendMessageW(progress_, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  information_ = new UrlLinkLabel(20, window_->handle(), resources_->fonts(), 20, window_->height() - 30, 100,
                                  resources_->text(L"INFORMATION"), context_->productPageUrl(256));
  taskbar_ = new TaskbarProgress(window_->handle());
}

void VexaInstallerWizard::createPages() {
  auto* main = new WebMainPage(this, licence_, context_);
  mainPage_ = main;
  std::wstring action = context_->tail().type();
  std::vector<std::wstring> formats = {
      resources_->text(L"CHECK_JAVA"),
      uitext::formatWith(resources_->text(L"DOWNLOADING"), context_->productName()),
      resources_->text(L"INSTALLATION"),
      resources_->text(!action.empty() && action[0] == L'3' ? L"START_DOWNLOADING" : L"STARTING_PLAYBACK")};
  main->createStages(formats, kCheckId);
  main->showWidgets(false);
  settingsPage_ = new VexaSettingsPage(this, context_);
  settingsPage_->showWidgets(false);
  flow_.append(main);
  flow_.append(settingsPage_);
}

bool CommonVexaInstallerWizard::quickMode() const {
  auto* web = dynamic_cast<WebMainPage*>(mainPage_);
  return web ? web->mode()->quick() : true;
}

void CommonVexaInstallerWizard::refresh() {
  if (settingsPage_) flow_.applyInstallMode(quickMode(), settingsPage_);
  Wizard::refresh();
}

void CommonVexaInstallerWizard::showPage(AbstractWizardPage* page) {
  Wizard::showPage(page);
  if (page) context_->lastPage = page->name();
}

void CommonVexaInstallerWizard::close() {
  closing_ = true;
  if (scenario_->isFinished()) {
    SendMessageW(window_->handle(), WM_CLOSE, 0, 0);
  } else {
    ShowWindow(window_->handle(), SW_HIDE);
  }
}

void CommonVexaInstallerWizard::cancelInstall() {
  closing_ = true;
  if (scenario_->isStarted() && !scenario_->isFinished()) {
    // The scenario reports its end (posted); the window closes then.
    SetTimer(window_->handle(), kCloseTimer, kCloseTimeoutMs, nullptr);
    scenario_->cancel();
  } else {
    PostMessageW(window_->handle(), WM_CLOSE, 0, 0);
  }
}

// The close box (or Esc) while the install runs: the window hides and stays
// until the cancelled scenario has reported its end, so that end always
// finds a window to close and the message loop always ends.
bool CommonVexaInstallerWizard::canClose() {
  if (closing_) return true;
  ShowWindow(window_->handle(), SW_HIDE);
  cancelInstall();
  return false;
}

bool CommonVexaInstallerWizard::canDestroy() {
  if (!closing_) {
    // Destroyed by other means than our close: cancel, then finish.
    ShowWindow(window_->handle(), SW_HIDE);
    closing_ = true;
    if (scenario_->isStarted() && !scenario_->isFinished()) scenario_->cancel();
  }
  return true;
}

void CommonVexaInstallerWizard::onTimer(WPARAM id, LPARAM) {
  if (id != kCloseTimer) return;
  KillTimer(window_->handle(), kCloseTimer);
  if (context_->log()) context_->log()->warning(L"The cancelled install did not report its end; closing");
  SendMessageW(window_->handle(), WM_CLOSE, 0, 0);
}

void CommonVexaInstallerWizard::onStop() {
  if (taskbar_) taskbar_->ended();
  const bool cancelled = scenario_->isCancelled();
  const int mode = context_->installMode;
  if (scenario_->isFinished() && !cancelled && mode != InstallContext::kAlreadyInstalled) {
    ShowWindow(window_->handle(), SW_HIDE);
    if (auto* vexa = dynamic_cast<VexaInstallContext*>(context_)) finishing::completeInstall(*vexa);
  }
  if (mode != InstallContext::kAlreadyInstalled && context_->offers()) context_->offers()->runAll(cancelled, finished_);
  if (mode == InstallContext::kAlreadyInstalled) context_->exitCode = 1;
  finishing::sendClosingEvent(*context_, scenario_->isStarted(), cancelled);
}

bool CommonVexaInstallerWizard::onUserMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (InstallerWizard::onUserMessage(message, wparam, lparam)) return true;
  if (taskbar_ && message == TaskbarProgress::buttonCreatedMessage()) {
    taskbar_->buttonCreated();
    return true;
  }
  for (WidgetCommandHandler* handler : resources_->handlers()) {
    if (handler->onUserMessage(message, wparam, lparam)) return true;
  }
  return false;
}

void CommonVexaInstallerWizard::handleStageProgress(int stage, int percent, float exactPercent) {
  if (mainPage_) mainPage_->stageProgress(stage, percent, exactPercent);
}

void CommonVexaInstallerWizard::handleTick(int stage) {
  if (mainPage_) mainPage_->stageTick(stage);
}

void CommonVexaInstallerWizard::handleTotalProgress(int percent) {
  SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  if (taskbar_) taskbar_->progress(percent);
}

void CommonVexaInstallerWizard::handleInstallDone() {
  // A failed install keeps its red button until the window goes; a
  // finished one needs the button no more.
  if (taskbar_) {
    if (context_->succeeded()) taskbar_->ended();
    else taskbar_->failed();
  }
  finishAllowed_ = true;
  next_->setHighlight(true);
  next_->setFont(resources_->fonts()->bold());
  InvalidateRect(next_->handle(), nullptr, TRUE);
  UpdateWindow(next_->handle());
  refresh();
  const failure::Failure why = context_->failures().get();
  if (why && why.cause != failure::Cause::kCancelled && !closing_) showFailureEnding();
}

void CommonVexaInstallerWizard::showFailureEnding() {
  const failure::Failure why = context_->failures().get();
  if (mainPage_) mainPage_->markFailedStage(resources_->text(L"STAGE_FAILED"));
  const std::wstring sentence =
      uitext::causeSentence(why, [this](const wchar_t* key) { return resources_->text(key); });
  const bool retry = failure::retryable(why.cause);
  if (context_->log()) {
    context_->log()->info(L"Failure dialog: " + text::utf8ToWide(failure::token(why.cause)) +
                          (retry ? L", with a second try" : L""));
  }
  const int pressed = dialogs::showInstallationFail(sentence, retry);
  if (pressed != InstallationFailDialog::kTryAgain || closing_) return;
  // The bytes the last run fetched stay in its packs' download states; this
  // run carries on from them.
  finishAllowed_ = false;
  next_->setHighlight(false);
  next_->setFont(resources_->fonts()->normal());
  if (mainPage_) mainPage_->resetStages();
  handleTotalProgress(0);
  refresh();
  if (!scenario_->restart()) {
    if (context_->log()) context_->log()->error(L"The install could not be started again");
    finishAllowed_ = true;
    refresh();
  }
}

void CommonVexaInstallerWizard::handleScenarioEnd() {
  if (closing_) SendMessageW(window_->handle(), WM_CLOSE, 0, 0);
}

void CommonVexaInstallerWizard::handleTailChanged() {
  if (mainPage_) mainPage_->tailChanged();
}

void CommonVexaInstallerWizard::showInstallationFailDialog() { dialogs::showInstallationFail(); }

void CommonVexaInstallerWizard::showInformationLink(bool visible) {
  if (information_) information_->show(visible);
}
