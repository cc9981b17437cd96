#pragma once
// The product's wizard: the main page with the picture, the install mode
// and a progress item per stage; the settings page of the extended
// install; the licence link; and the finishing steps when it closes.
//
// Threading: main thread; see InstallerWizard for the listener calls.
#include <string>
#include <vector>

#include "context/TailData.h"
#include "ui/StageProgress.h"
#include "ui/win32/LicenseWindow.h"
#include "ui/win32/Wizard.h"

class InstallModeListener {
 public:
  virtual ~InstallModeListener() = default;
  virtual void onInstallModeChanged() = 0;
};

// One stage's line: a label and the check mark shown when it is done.
class StageItemUI : public Widget {
 public:
  virtual void setActive() = 0;
  virtual void setDone() = 0;
};

class StageItemUIImpl : public StageItemUI {
 public:
  StageItemUIImpl(HWND parent, UiResources* resources, int x, int y, const std::wstring& format, int checkImageId);
  ~StageItemUIImpl() override;
  void setActive() override;
  void setDone() override;
  void progress(int percent, float exactPercent);
  void tick();
  // Marks the stage as the one the install failed in (failedFormat has one "%s").
  void fail(const std::wstring& failedFormat);
  // Back to the look before any report.
  void reset();
  bool done() const { return done_; }
  HWND labelHandle() const { return label_->handle(); }
  HWND checkHandle() const { return check_->handle(); }

 private:
  void apply(const StageProgress::Update& update);
  Label* label_;
  Image* check_;
  StageProgress model_;
  HFONT doneFont_ = nullptr;
  bool done_ = false;
};

class InstallModeComposite : public Panel, public WidgetCommandHandler {
 public:
  InstallModeComposite(HWND parent, UiResources* resources, int x, int y, InstallModeListener* listener);
  bool onCommand(HWND control) override;
  bool quick() const;
  HWND quickButton() const { return quick_; }
  HWND extendedButton() const { return extended_; }

 private:
  HWND quick_, extended_;
  InstallModeListener* listener_;
};

class SettingsComposite : public Panel, public WidgetCommandHandler {
 public:
  SettingsComposite(HWND parent, UiResources* resources, int width, InstallContext* options);
  bool onCommand(HWND control) override;
  HWND box(int i) const { return boxes_[i]; }

 private:
  HWND boxes_[3];
  InstallContext* options_;
};

class CommonVexaInstallerWizard;

class MainPage : public AbstractWizardPage, public ActionLinkLabelHandler, public TailDataChangeListener {
 public:
  MainPage(CommonVexaInstallerWizard* wizard, LicenseResourceProvider* licence, InstallContext* context);
  ~MainPage() override;
  virtual void createStages(const std::vector<std::wstring>& formats, int checkImageId);
  void onShow() override;
  void onAction(ActionLinkLabel* label) override;
  // Called on the thread that set the data: hands over to the window.
  void onTailDataChanged(const TailData& data) override;
  void tailChanged();

  void stageProgress(int stage, int percent, float exactPercent);
  void stageTick(int stage);
  // The first stage not done shows the failure; none past it is ticked.
  void markFailedStage(const std::wstring& failedFormat);
  void resetStages();
  Image* picture() const { return picture_; }
  StageItemUIImpl* stage(int i) const { return i >= 0 && i < static_cast<int>(stages_.size()) ? stages_[i] : nullptr; }

 protected:
  CommonVexaInstallerWizard* vexaWizard_;
  Image* picture_ = nullptr;
  std::vector<StageItemUIImpl*> stages_;
  LicenseResourceProvider* licence_;
  int nextStageY_ = 85;
  InstallContext* context_;
  Label* licencePrefix_ = nullptr;
  ActionLinkLabel* licenceLink_ = nullptr;
};

class WebMainPage : public MainPage {
 public:
  WebMainPage(CommonVexaInstallerWizard* wizard, LicenseResourceProvider* licence, InstallContext* context);
  ~WebMainPage() override;
  bool onCommand(HWND control) override;
  InstallModeComposite* mode() const { return mode_; }

 private:
  HWND frame_ = nullptr;
  InstallModeComposite* mode_ = nullptr;
};

class VexaSettingsPage : public AbstractWizardPage {
 public:
  VexaSettingsPage(CommonVexaInstallerWizard* wizard, InstallContext* context);
  ~VexaSettingsPage() override;
  void onShow() override;
  SettingsComposite* composite() const { return composite_; }

 private:
  InstallContext* context_;
  SettingsComposite* composite_;
};

class TaskbarProgress;

class CommonVexaInstallerWizard : public InstallerWizard, public InstallModeListener {
 public:
  CommonVexaInstallerWizard(WizardHeader* header, UiResources* resources, InstallContext* context,
                            IInstallScenario* scenario, LicenseResourceProvider* licence);
  ~CommonVexaInstallerWizard() override;

  bool onStart() override;
  void onStop() override;
  bool onUserMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  void onTimer(WPARAM id, LPARAM lparam) override;
  void createDecorations() override;
  void refresh() override;
  void showPage(AbstractWizardPage* page) override;
  void close() override;
  void cancelInstall() override;
  void onInstallModeChanged() override { refresh(); }
  bool canClose() override;
  bool canDestroy() override;

  InstallContext* installContext() const { return context_; }             // 15
  IInstallScenario* installScenario() const { return scenario_; }         // 16
  void showInstallationFailDialog();                                       // 17
  void showInformationLink(bool visible);                                  // 18

  MainPage* mainPage() const { return mainPage_; }
  VexaSettingsPage* settingsPage() const { return settingsPage_; }
  LicenseResourceProvider* licence() const { return licence_; }
  HWND progressBar() const { return progress_; }
  TaskbarProgress* taskbar() const { return taskbar_; }

 protected:
  void handleStageProgress(int stage, int percent, float exactPercent) override;
  void handleTick(int stage) override;
  void handleTotalProgress(int percent) override;
  void handleInstallDone() override;
  void handleScenarioEnd() override;
  void handleTailChanged() override;
  bool quickMode() const;
  // The failure ending: the failed stage marked, the dialog with the cause's
  // sentence, and for a cause a second try can mend, that try.
  void showFailureEnding();

  MainPage* mainPage_ = nullptr;
  HWND progress_ = nullptr;
  UrlLinkLabel* information_ = nullptr;
  LicenseResourceProvider* licence_;
  VexaSettingsPage* settingsPage_ = nullptr;
  TaskbarProgress* taskbar_ = nullptr;
};

class VexaInstallerWizard : public CommonVexaInstallerWizard {
 public:
  using CommonVexaInstallerWizard::CommonVexaInstallerWizard;
  void createPages() override;
};
