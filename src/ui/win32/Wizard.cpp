#include "ui/win32/Wizard.h"

#include <algorithm>

#include <cstring>

#include "app/StringTable.h"
#include "context/win32/InstallContext.h"
#include "ui/UiText.h"
#include "ui/win32/Messages.h"

// ---------------------------------------------------------------- header

SimpleWizardHeader::~SimpleWizardHeader() { destroy(); }

void SimpleWizardHeader::create(Panel* panel) {
  FontSet* fonts = resources_->fonts();
  initialTitle_ = context_ && resources_->strings() ? context_->windowTitle(512, *resources_->strings()) : L"";
  title_ = new Label(panel->handle(), 0, 0, panel->width(), 20, initialTitle_, fonts->bold());
  std::wstring description = context_ ? context_->tail().title() : L"";
  description_ = new Label(panel->handle(), 0, 25, panel->width(), 65, description, fonts->normal());
}

void SimpleWizardHeader::destroy() {
  if (title_) title_->destroy();
  if (description_) description_->destroy();
  delete title_;
  delete description_;
  title_ = description_ = nullptr;
}

void SimpleWizardHeader::setDescription(const std::wstring& text) {
  if (description_) description_->setText(text, 512);
}
void SimpleWizardHeader::setTitle(const std::wstring& text) {
  if (title_) title_->setText(text, 512);
}
void SimpleWizardHeader::restoreTitle() { setTitle(initialTitle_); }

// ------------------------------------------------------------------ page

HWND AbstractWizardPage::keep(HWND control) {
  if (control && widgets_.size() < kMaxWidgets) widgets_.push_back(control);
  return control;
}

bool AbstractWizardPage::holds(HWND control) const {
  return control && std::find(widgets_.begin(), widgets_.end(), control) != widgets_.end();
}

void AbstractWizardPage::showWidgets(bool visible) {
  for (HWND w : widgets_) ShowWindow(w, visible ? SW_SHOW : SW_HIDE);
}

void AbstractWizardPage::destroy() {
  for (HWND w : widgets_) DestroyWindow(w);
  widgets_.clear();
}

// ---------------------------------------------------------------- wizard

int Wizard::createButtons() {
  const int w = window_->width(), h = window_->height();
  next_ = new OkButton(w - 100, h - 40, window_->handle(), resources_->fonts(), resources_->text(L"OK"));
  next_->enable(false);
  next_->setHighlight(false);
  back_ = new CustomButton(w - 185, h - 40, window_->handle(), resources_->fonts(), resources_->text(L"BACK"));
  window_->setDefaultButton(next_->handle());
  return 50;
}

void Wizard::init(Window* window, const POINT* headerMargins) {
  window_ = window;
  window_->setListener(this);
  window_->setDirector(this);
  buttonsHeight_ = createButtons();
  const int w = window_->width(), h = window_->height();
  const int left = headerMargins ? headerMargins->x : 20;
  const int top = headerMargins ? headerMargins->y : 10;
  const int headerHeight = header_->height();
  headerPanel_ = new Panel(left, top, w - 2 * left, headerHeight, window_->handle(), resources_);
  header_->create(headerPanel_);
  pagePanel_ = new Panel(left, top + headerHeight, w - 2 * left, h - buttonsHeight_ - headerHeight - top,
                         window_->handle(), resources_);
  createDecorations();
  createPages();
  if (!flow_.current() && !flow_.pages().empty()) showPage(flow_.pages().front());
  finishAllowed_ = false;
  next_->setHighlight(false);
  refresh();
}

void Wizard::updateButtons() {
  WizardButtons b = flow_.buttons(finishAllowed_);
  std::wstring label = resources_->text(b.nextIsFinish ? L"OK" : L"NEXT");
  if (next_->text() != label) next_->setText(label);
  next_->enable(b.nextEnabled);
  back_->enable(b.backEnabled);
}

void Wizard::showPage(AbstractWizardPage* page) {
  if (!page) return;
  const bool changed = page != flow_.current();
  if (changed) {
    for (AbstractWizardPage* p : flow_.pages()) {
      p->showWidgets(false);
      p->onHide();
    }
    // A page that left the list (settings in quick mode) hides too.
    if (flow_.current() && flow_.indexOf(flow_.current()) < 0) {
      flow_.current()->showWidgets(false);
      flow_.current()->onHide();
    }
    page->showWidgets(true);
    page->onShow();
    pagePanel_->setCommandHandler(page);
  }
  flow_.setCurrent(page);
  updateButtons();
  if (changed) {
    InvalidateRect(window_->handle(), nullptr, TRUE);
    UpdateWindow(window_->handle());
  }
}

void Wizard::refresh() {
  AbstractWizardPage* current = flow_.current();
  if (current && flow_.indexOf(current) < 0) current = flow_.pages().empty() ? nullptr : flow_.pages().front();
  showPage(current);
}

void Wizard::next() {
  if (AbstractWizardPage* following = flow_.following()) {
    showPage(following);
    return;
  }
  finished_ = true;
  close();
}

void Wizard::back() {
  if (AbstractWizardPage* preceding = flow_.preceding()) showPage(preceding);
}

void Wizard::close() {
  ShowWindow(window_->handle(), SW_HIDE);
  SendMessageW(window_->handle(), WM_CLOSE, 0, 0);
}

bool Wizard::onCommand(HWND control) {
  if (!control) return false;
  if (next_ && control == next_->handle()) {
    next();
    return true;
  }
  if (back_ && control == back_->handle()) {
    back();
    return true;
  }
  for (AbstractWizardPage* page : flow_.pages()) {
    if (page->onCommand(control)) {
      refresh();
      return true;
    }
  }
  refresh();
  return false;
}

// ------------------------------------------------------ installer wizard

void InstallerWizard::post(UINT message, WPARAM wparam, LPARAM lparam) {
  HWND target = window_ ? window_->handle() : nullptr;
  if (target) PostMessageW(target, message, wparam, lparam);
}

void InstallerWizard::onStageProgress(int stage, int percent, float exactPercent) {
  if (stage < 0 || stage > 3) return;
  uint32_t bits = 0;
  std::memcpy(&bits, &exactPercent, sizeof(bits));
  stages_[stage].latest = (static_cast<uint64_t>(static_cast<uint32_t>(percent)) << 32) | bits;
  if (!stages_[stage].pending.exchange(true)) post(ui::kMsgStageProgress, static_cast<WPARAM>(stage), 0);
}

// The message itself is not shown: a tick says that something happens.
void InstallerWizard::onDownloadError(bool isPack, const std::wstring&) {
  int stage = isPack ? kPacksStage : kRuntimeStage;
  if (stages_[stage].ticks.fetch_add(1) == 0) post(ui::kMsgStageTick, static_cast<WPARAM>(stage), 0);
}
void InstallerWizard::onDownloadNotice(bool isPack, const std::wstring& message) { onDownloadError(isPack, message); }
void InstallerWizard::onTotalProgress(int percent) {
  total_ = percent;
  if (!totalPending_.exchange(true)) post(ui::kMsgTotalProgress, 0, 0);
}
void InstallerWizard::onInstallDone() { post(ui::kMsgInstallDone, 0, 0); }
void InstallerWizard::onScenarioEnd() { post(ui::kMsgScenarioEnd, 0, 0); }

bool InstallerWizard::onUserMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case ui::kMsgStageProgress: {
      if (wparam > 3) return true;
      StageSlot& slot = stages_[wparam];
      slot.pending = false;  // before reading: a later report posts again
      uint64_t latest = slot.latest;
      uint32_t bits = static_cast<uint32_t>(latest);
      float exact = 0;
      std::memcpy(&exact, &bits, sizeof(exact));
      handleStageProgress(static_cast<int>(wparam), static_cast<int>(static_cast<uint32_t>(latest >> 32)), exact);
      return true;
    }
    case ui::kMsgStageTick:
      if (wparam > 3) return true;
    {
      // The dots cycle through five, so more than five ticks add nothing.
      int ticks = stages_[wparam].ticks.exchange(0);
      for (int i = 0; i < ticks && i < 10; ++i) handleTick(static_cast<int>(wparam));
      return true;
    }
    case ui::kMsgTotalProgress:
      totalPending_ = false;
      handleTotalProgress(total_);
      return true;
    case ui::kMsgInstallDone:
      handleInstallDone();
      return true;
    case ui::kMsgScenarioEnd:
      handleScenarioEnd();
      return true;
    case ui::kMsgTailChanged:
      handleTailChanged();
      return true;
  }
  return false;
}
