#pragma once
// Partner pages: when the offer container says offers are ready (message
// 1025, its list handed out through handoff::give), one page for the first offer group joins the end of the wizard's
// page list. Its check boxes write the user's choices into the offers'
// options, which the runner reads when the wizard stops.
//
// Threading: main thread; the container's message is posted to the window.
#include <memory>
#include <string>
#include <vector>

#include "pinstall/Pinstall.h"
#include "ui/win32/VexaWizard.h"

constexpr UINT kCreatePartnerPageMessage = WM_USER + 1;

// Scales a picture down to fit its limits once it has arrived.
class ImageLoadedCallbackResizeToRect : public ImageLoadedCallback {
 public:
  ImageLoadedCallbackResizeToRect(int maxWidth, int maxHeight) : maxWidth_(maxWidth), maxHeight_(maxHeight) {}
  void onImageLoaded(Image* widget, Gdiplus::Image* image) override;

 private:
  int maxWidth_, maxHeight_;
};

// One check box and label per option of one offer.
class OptionsComposite : public Panel, public WidgetCommandHandler {
 public:
  OptionsComposite(HWND parent, UiResources* resources, int x, int y, int width, Pinstall* offer);
  bool onCommand(HWND control) override;
  // The height the options take in a panel of this width.
  static int totalHeight(const std::vector<PinstallOption>& options, int width, HWND reference, HFONT font);
  // Editable: each box enabled unless the option it follows is not chosen.
  // Not editable: every box disabled.
  void applyEnabled(bool editable);
  void checkAll();
  Pinstall* offer() const { return offer_; }
  HWND box(size_t i) const { return i < boxes_.size() ? boxes_[i] : nullptr; }

 private:
  Pinstall* offer_;
  std::vector<HWND> boxes_;
  std::vector<HWND> labels_;
};

class AbstractPartnerPage : public AbstractWizardPage {
 public:
  AbstractPartnerPage(const std::wstring& name, CommonVexaInstallerWizard* wizard, PinstallGroup group);
  ~AbstractPartnerPage() override;
  void onShow() override;
  void onHide() override;

 protected:
  CommonVexaInstallerWizard* vexaWizard_;
  std::wstring description_;
  std::vector<UrlLinkLabel*> links_;
  PinstallGroup group_;
  std::vector<OptionsComposite*> panels_;
};

// "Full install (recommended)" or "Configuring" over the options.
class PartnerPage : public AbstractPartnerPage {
 public:
  PartnerPage(CommonVexaInstallerWizard* wizard, PinstallGroup group);
  bool onCommand(HWND control) override;

 private:
  void applyRadioState();
  HWND full_, custom_;
};

// The first offer's picture over the options, and its links at the bottom
// of the wizard in place of the information link.
class PartnerPageWithImage : public AbstractPartnerPage {
 public:
  PartnerPageWithImage(CommonVexaInstallerWizard* wizard, PinstallGroup group);
  ~PartnerPageWithImage() override;

 private:
  Image* picture_ = nullptr;
  ImageLoadedCallbackResizeToRect* fit_ = nullptr;
};

// The fixed page of the partner group "yandex".
class YandexPartnerPage : public AbstractWizardPage {
 public:
  static constexpr size_t kMaxOptions = 10;
  YandexPartnerPage(CommonVexaInstallerWizard* wizard, Pinstall* offer);
  ~YandexPartnerPage() override;
  void onShow() override;
  void onHide() override;
  bool onCommand(HWND control) override;

 private:
  CommonVexaInstallerWizard* vexaWizard_;
  Pinstall* offer_;
  FontSet fonts_;
  HLine* rule_ = nullptr;
  Image* picture_ = nullptr;
  std::vector<HWND> boxes_;
  std::vector<Widget*> owned_;
};

class PartnerPageCreator : public WidgetCommandHandler {
 public:
  PartnerPageCreator(CommonVexaInstallerWizard* wizard, InstallContext* context) : wizard_(wizard), context_(context) {}
  bool onUserMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  AbstractWizardPage* page() const { return page_; }

 private:
  CommonVexaInstallerWizard* wizard_;
  InstallContext* context_;
  AbstractWizardPage* page_ = nullptr;
};
