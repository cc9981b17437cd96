#pragma once
// The wizard frame: header, page panel, Back and Next/Finish, the page list
// and the moves between pages. What each page shows, and what the buttons
// mean for an install, is left to the classes built on it.
//
// Threading: main thread only. InstallerWizard's listener operations are
// the exception: the scenario calls them on its own threads and they only
// post messages to the window (see Messages.h).
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "scenario/InstallScenarioListener.h"
#include "ui/PageFlow.h"
#include "ui/win32/Window.h"

class InstallContext;
class IInstallScenario;
class Wizard;

class WizardHeader {
 public:
  virtual ~WizardHeader() = default;
  virtual void create(Panel* panel) = 0;
  virtual int height() { return 90; }
  virtual void destroy() = 0;
  virtual void setDescription(const std::wstring& text) = 0;
  virtual void setTitle(const std::wstring& text) = 0;
  virtual void restoreTitle() = 0;
};

// Title in bold over a description.
class SimpleWizardHeader : public WizardHeader {
 public:
  SimpleWizardHeader(InstallContext* context, UiResources* resources) : context_(context), resources_(resources) {}
  ~SimpleWizardHeader() override;
  void create(Panel* panel) override;
  void destroy() override;
  void setDescription(const std::wstring& text) override;
  void setTitle(const std::wstring& text) override;
  void restoreTitle() override;
  HWND titleHandle() const { return title_ ? title_->handle() : nullptr; }
  HWND descriptionHandle() const { return description_ ? description_->handle() : nullptr; }

 private:
  InstallContext* context_;
  UiResources* resources_;
  Label* title_ = nullptr;
  Label* description_ = nullptr;
  std::wstring initialTitle_;
};

class AbstractWizardPage : public WidgetCommandHandler {
 public:
  static constexpr size_t kMaxWidgets = 32;
  AbstractWizardPage(std::wstring name, Wizard* wizard) : name_(std::move(name)), wizard_(wizard) {}
  virtual void onShow() {}
  virtual void onHide() {}
  virtual void destroy();

  const std::wstring& name() const { return name_; }
  // Keeps the control among those shown and hidden with the page (32 at most).
  HWND keep(HWND control);
  // True when the control is among the kept ones, so the page shows it.
  bool holds(HWND control) const;
  virtual void showWidgets(bool visible);
  const std::vector<HWND>& widgets() const { return widgets_; }

 protected:
  std::wstring name_;
  Wizard* wizard_;
  std::vector<HWND> widgets_;
};

class Wizard : public AppLifeCycleListener, public WindowDirector {
 public:
  Wizard(WizardHeader* header, UiResources* resources) : header_(header), resources_(resources) {}
  ~Wizard() override = default;

  bool onCommand(HWND control) override;
  virtual void createPages() = 0;
  virtual int createButtons();
  virtual void createDecorations() = 0;
  virtual void refresh();
  virtual void showPage(AbstractWizardPage* page);
  virtual void next();
  virtual void back();
  // Builds the content of the window; header geometry (left, top margins)
  // may be null.
  virtual void init(Window* window, const POINT* headerMargins);
  virtual void close();
  virtual void cancelInstall() = 0;

  Window* window() const { return window_; }
  Panel* pagePanel() const { return pagePanel_; }
  WizardHeader* header() const { return header_; }
  UiResources* resources() const { return resources_; }
  PageFlow<AbstractWizardPage>& flow() { return flow_; }
  OkButton* nextButton() const { return next_; }
  CustomButton* backButton() const { return back_; }
  bool finishAllowed() const { return finishAllowed_; }
  bool finished() const { return finished_; }
  // Appends a page at the end of the list (partner pages).
  void appendPage(AbstractWizardPage* page) { flow_.append(page); }

 protected:
  void updateButtons();

  Window* window_ = nullptr;
  WizardHeader* header_;
  Panel* headerPanel_ = nullptr;
  Panel* pagePanel_ = nullptr;
  PageFlow<AbstractWizardPage> flow_;
  bool finishAllowed_ = false;
  bool finished_ = false;
  OkButton* next_ = nullptr;
  CustomButton* back_ = nullptr;
  UiResources* resources_;
  int buttonsHeight_ = 50;
};

// A wizard that watches an install scenario. The listener calls arrive on
// the scenario's threads and are posted to the window; the handle* methods
// run on the main thread when they arrive.
class InstallerWizard : public Wizard, public InstallScenarioListener {
 public:
  InstallerWizard(WizardHeader* header, UiResources* resources, InstallContext* context, IInstallScenario* scenario)
      : Wizard(header, resources), context_(context), scenario_(scenario) {}

  void onStageProgress(int stage, int percent, float exactPercent) override;
  void onDownloadError(bool isPack, const std::wstring& message) override;
  void onDownloadNotice(bool isPack, const std::wstring& message) override;
  void onTotalProgress(int percent) override;
  void onInstallDone() override;
  void onScenarioEnd() override;

  bool onUserMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

  InstallContext* context() const { return context_; }
  IInstallScenario* scenario() const { return scenario_; }
  bool closing() const { return closing_; }

 protected:
  virtual void handleStageProgress(int stage, int percent, float exactPercent) = 0;
  virtual void handleTick(int stage) = 0;
  virtual void handleTotalProgress(int percent) = 0;
  virtual void handleInstallDone() = 0;
  virtual void handleScenarioEnd() = 0;
  virtual void handleTailChanged() {}
  void post(UINT message, WPARAM wparam, LPARAM lparam);

  InstallContext* context_;
  IInstallScenario* scenario_;
  bool closing_ = false;

 private:
  // Reports are coalesced: a thread stores the latest value and posts only
  // when no message for it is waiting, so a flood of progress can never
  // fill the window's queue or keep the window from answering.
  struct StageSlot {
    std::atomic<uint64_t> latest{0};  // percent in the high half, exact percent's bits in the low
    std::atomic<bool> pending{false};
    std::atomic<int> ticks{0};  // ticks not yet shown
  };
  StageSlot stages_[4];
  std::atomic<int> total_{0};
  std::atomic<bool> totalPending_{false};
};
