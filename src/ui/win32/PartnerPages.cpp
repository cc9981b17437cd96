#include "ui/win32/PartnerPages.h"

#include <algorithm>

#include "BuildConfig.h"
#include "app/Log.h"
#include "app/StringTable.h"
#include "context/win32/InstallContext.h"
#include "pinstall/win32/PinstallContainer.h"
#include "ui/ImageFit.h"
#include "ui/OptionRules.h"
#include "app/PointerHandOff.h"
#include "ui/UiText.h"
#include "ui/win32/Dpi.h"
#include "ui/win32/Gdiplus.h"

namespace {

HWND makeControl(const wchar_t* className, const std::wstring& text, DWORD style, int x, int y, int w, int h,
                 HWND parent, HFONT font) {
  return dpi::createChild(0, className, uitext::cut(text, 512).c_str(), WS_CHILD | style, x, y, w, h, parent, font);
}

bool checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void setChecked(HWND box, bool on) { SendMessageW(box, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }

// Height of a text wrapped to width in font.
int wrappedHeight(const std::wstring& text, int width, HWND reference, HFONT font) {
  HDC dc = GetDC(reference);
  HGDIOBJ old = SelectObject(dc, font);
  RECT rc = {0, 0, width, 0};
  DrawTextW(dc, text.c_str(), -1, &rc, DT_CALCRECT | DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(reference, dc);
  return rc.bottom - rc.top;
}

// Width of a one-line text in font.
int lineWidth(const std::wstring& text, HWND reference, HFONT font) {
  HDC dc = GetDC(reference);
  HGDIOBJ old = SelectObject(dc, font);
  RECT rc = {0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), -1, &rc, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(reference, dc);
  return rc.right - rc.left;
}

// Where the partner's pages live: configuration values of this build.
const std::wstring kYandexAbout = std::wstring(VEXA_SITE_URL) + L"partners/yandex/about.html";
const std::wstring kYandexBrowserLicence = std::wstring(VEXA_SITE_URL) + L"partners/yandex/browser-licence.html";
const std::wstring kYandexSoftwareLicence = std::wstring(VEXA_SITE_URL) + L"partners/yandex/software-licence.html";

}  // namespace

// --------------------------------------------------------- picture fitting

void ImageLoadedCallbackResizeToRect::onImageLoaded(Image* widget, Gdiplus::Image* image) {
  if (!widget || !image) return;
  ImageSize size = fitImage(static_cast<int>(image->GetWidth()), static_cast<int>(image->GetHeight()), maxWidth_,
                            maxHeight_);
  widget->moveTo(0, 0, size.width, size.height);
  InvalidateRect(widget->handle(), nullptr, TRUE);
  UpdateWindow(widget->handle());
}

// -------------------------------------------------------- options panel

int OptionsComposite::totalHeight(const std::vector<PinstallOption>& options, int width, HWND reference, HFONT font) {
  int total = 0;
  for (const auto& option : options) total += wrappedHeight(option.label, width - 28, reference, font) + 3;
  return total;
}

OptionsComposite::OptionsComposite(HWND parent, UiResources* resources, int x, int y, int width, Pinstall* offer)
    : Panel(x, y, width, totalHeight(offer->info().options, width, parent, resources->fonts()->normal()), parent,
            resources),
      offer_(offer) {
  HFONT font = resources->fonts()->normal();
  int top = 0;
  for (const auto& option : offer->info().options) {
    int h = wrappedHeight(option.label, width - 28, parent, font);
    HWND box = makeControl(L"Button", L"", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, top, 25, 25, hwnd_, font);
    setChecked(box, option.chosen);
    HWND label = makeControl(L"Static", option.label, WS_VISIBLE, 25, top + 3, 400, h, hwnd_, font);
    boxes_.push_back(box);
    labels_.push_back(label);
    top += h + 3;
  }
  setCommandHandler(this);
}

bool OptionsComposite::onCommand(HWND control) {
  auto& options = offer_->info().options;
  for (size_t i = 0; i < boxes_.size() && i < options.size(); ++i) {
    if (boxes_[i] != control) continue;
    for (const auto& change : optionrules::choose(options, i, checked(control))) {
      setChecked(boxes_[change.first], change.second.checked);
      EnableWindow(boxes_[change.first], change.second.enabled);
      EnableWindow(labels_[change.first], change.second.enabled);
    }
    return true;
  }
  return false;
}

void OptionsComposite::applyEnabled(bool editable) {
  const auto& options = offer_->info().options;
  for (size_t i = 0; i < boxes_.size() && i < options.size(); ++i) {
    const bool enabled = editable && optionrules::editable(options, i);
    EnableWindow(boxes_[i], enabled);
    EnableWindow(labels_[i], enabled);
  }
}

void OptionsComposite::checkAll() {
  optionrules::applyFullInstall(offer_->info().options, true);
  for (HWND b : boxes_) setChecked(b, true);
}

// --------------------------------------------------------- partner page

AbstractPartnerPage::AbstractPartnerPage(const std::wstring& name, CommonVexaInstallerWizard* wizard,
                                         PinstallGroup group)
    : AbstractWizardPage(name, wizard), vexaWizard_(wizard), group_(std::move(group)) {
  description_ = uitext::cut(uitext::formatWith(wizard->resources()->text(L"INSTALL_SOFT_FOR_HELP"), L"Vexa"), 512);
}

AbstractPartnerPage::~AbstractPartnerPage() {
  for (auto* l : links_) delete l;
  for (auto* p : panels_) delete p;
}

void AbstractPartnerPage::onShow() {
  // Only what the user can see is offered: an offer whose options did not
  // fit on the page is neither dated nor run.
  for (OptionsComposite* panel : panels_) {
    if (!holds(panel->handle())) continue;
    panel->offer()->markShown(panel->offer()->info().options.size());
    panel->offer()->writeOfferDate();
  }
  if (!links_.empty()) {
    vexaWizard_->showInformationLink(false);
    for (auto* l : links_) l->show(true);
  }
  wizard_->header()->setDescription(description_);
  if (!group_.pinstalls.empty() && !group_.pinstalls.front()->info().title.empty())
    wizard_->header()->setTitle(group_.pinstalls.front()->info().title);
}

void AbstractPartnerPage::onHide() {
  if (links_.empty()) return;
  vexaWizard_->showInformationLink(true);
  for (auto* l : links_) l->show(false);
}

PartnerPage::PartnerPage(CommonVexaInstallerWizard* wizard, PinstallGroup group)
    : AbstractPartnerPage(L"partner", wizard, std::move(group)) {
  UiResources* resources = wizard->resources();
  Panel* panel = wizard->pagePanel();
  full_ = keep(makeControl(L"Button", resources->text(L"FULL_INSTALL_RECOMEND"),
                           WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 0, 0, 600, 25, panel->handle(),
                           resources->fonts()->bold()));
  custom_ = keep(makeControl(L"Button", resources->text(L"CUSTOM_SETTINGS"), BS_AUTORADIOBUTTON, 0, 30, 600, 25,
                             panel->handle(), resources->fonts()->normal()));
  setChecked(full_, true);
  int y = 55;
  for (Pinstall* offer : group_.pinstalls) {
    auto* options = new OptionsComposite(panel->handle(), resources, 10, y, panel->width() - 10, offer);
    options->show(false);
    keep(options->handle());
    panels_.push_back(options);
    y += options->height();
  }
  panel->setCommandHandler(this);
  applyRadioState();
}

void PartnerPage::applyRadioState() {
  const bool full = checked(full_);
  for (auto* options : panels_) {
    if (full) options->checkAll();
    options->applyEnabled(!full);
  }
}

bool PartnerPage::onCommand(HWND control) {
  if (control != full_ && control != custom_) return false;
  applyRadioState();
  return true;
}

PartnerPageWithImage::PartnerPageWithImage(CommonVexaInstallerWizard* wizard, PinstallGroup group)
    : AbstractPartnerPage(L"partnerImg", wizard, std::move(group)) {
  UiResources* resources = wizard->resources();
  Panel* panel = wizard->pagePanel();
  const int W = panel->width(), H = panel->height();
  int d = 20;
  for (auto it = group_.pinstalls.rbegin(); it != group_.pinstalls.rend(); ++it) {
    int h = OptionsComposite::totalHeight((*it)->info().options, W - 10, panel->handle(), resources->fonts()->normal());
    auto* options = new OptionsComposite(panel->handle(), resources, 10, H - h - d, W - 10, *it);
    options->show(false);
    keep(options->handle());
    panels_.insert(panels_.begin(), options);
    d += h;
  }
  fit_ = new ImageLoadedCallbackResizeToRect(W, H - d);
  picture_ = new Image(2, 0, 10, 10, panel->handle(), resources, fit_);
  picture_->show(false);
  keep(picture_->handle());
  if (!group_.pinstalls.empty()) {
    const PinstallInfo& first = group_.pinstalls.front()->info();
    if (!first.imageUrl.empty()) picture_->requestUrl(first.imageUrl);
    int y = wizard->window()->height() - 45;
    for (const auto& link : first.links) {
      auto* label = new UrlLinkLabel(20, wizard->window()->handle(), resources->fonts(), 20, y, 200, link.label,
                                     link.href, LinkLabel::kLeft);
      label->show(false);
      links_.push_back(label);
      y += 17;
    }
  }
}

PartnerPageWithImage::~PartnerPageWithImage() {
  delete picture_;
  delete fit_;
}

// ---------------------------------------------------------- Yandex page

YandexPartnerPage::YandexPartnerPage(CommonVexaInstallerWizard* wizard, Pinstall* offer)
    : AbstractWizardPage(L"partnerImg", wizard), vexaWizard_(wizard), offer_(offer), fonts_(13) {
  UiResources* resources = wizard->resources();
  HWND panel = wizard->pagePanel()->handle();
  rule_ = new HLine(panel, &fonts_);
  rule_->moveTo(0, 0, 600, 2);
  rule_->show(false);
  keep(rule_->handle());
  picture_ = new Image(315, 2, 138, 94, panel, resources);
  picture_->show(false);
  keep(picture_->handle());
  if (offer_ && !offer_->info().imageUrl.empty()) picture_->requestUrl(offer_->info().imageUrl);
  keep(makeControl(L"Static", L"Vexa рекомендует установить программы и настройки Яндекса:", 0, 0, 20, 310, 35, panel,
                   fonts_.bold()));
  int y = 60, labelWidth = 300;
  if (offer_) {
    auto& options = offer_->info().options;
    for (size_t i = 0; i < options.size() && i < kMaxOptions; ++i) {
      HWND box = makeControl(L"Button", L"", WS_TABSTOP | BS_AUTOCHECKBOX, 10, y, 17, 25, panel, fonts_.normal());
      setChecked(box, options[i].chosen);
      boxes_.push_back(keep(box));
      int h = wrappedHeight(options[i].label, labelWidth, panel, fonts_.normal());
      keep(makeControl(L"Static", options[i].label, 0, 28, y + 4, labelWidth, h, panel, fonts_.normal()));
      y += h + 10;
      labelWidth += 20;
    }
  }
  // The link labels are created visible by the toolkit: hidden until shown.
  auto link = [&](const wchar_t* text, int x, int top, int width, int height, const std::wstring& url) {
    auto* label = new UrlLinkLabel(height, panel, &fonts_, x, top, width, text, url, LinkLabel::kLeft);
    label->show(false);
    owned_.push_back(label);
    keep(label->handle());
  };
  link(L"Узнать подробности", 0, y + 20, 200, 20, kYandexAbout);
  keep(makeControl(L"Static", L"Устанавливая рекомендуемое Vexa программное обеспечение, вы соглашаетесь", 0, 0, y + 45,
                   500, 15, panel, fonts_.normal()));
  // The sentence's pieces keep their places where the font fits them; a
  // wider font (another face standing in for Tahoma) moves the rest of the
  // line right instead of cutting a word off.
  const int line = y + 60;
  int end = 0;
  auto place = [&](const wchar_t* text, int x, int width, HFONT font) {
    const int measured = lineWidth(text, panel, font) + 1;
    x = std::max(x, end);
    end = x + measured;
    return std::make_pair(x, std::max(width, measured));
  };
  auto [textX, textW] = place(L"с лицензионными соглашениями ", 0, 165, fonts_.normal());
  keep(makeControl(L"Static", L"с лицензионными соглашениями ", 0, textX, line, textW, 15, panel, fonts_.normal()));
  auto [browserX, browserW] = place(L"Яндекс.Браузера", 166, 95, fonts_.link());
  link(L"Яндекс.Браузера", browserX, line, browserW, 15, kYandexBrowserLicence);
  auto [andX, andW] = place(L"и", std::max(258, end + 3), 6, fonts_.normal());
  keep(makeControl(L"Static", L"и", 0, andX, line, andW, 15, panel, fonts_.normal()));
  auto [softwareX, softwareW] = place(L"настольного ПО Яндекса", std::max(268, end + 3), 128, fonts_.link());
  link(L"настольного ПО Яндекса", softwareX, line, softwareW, 15, kYandexSoftwareLicence);
  auto [dotX, dotW] = place(L".", 396, 7, fonts_.normal());
  keep(makeControl(L"Static", L".", 0, dotX, line, dotW, 15, panel, fonts_.normal()));
}

YandexPartnerPage::~YandexPartnerPage() {
  for (Widget* w : owned_) delete w;
  delete rule_;
  delete picture_;
}

void YandexPartnerPage::onShow() {
  // This page shows the group's first offer only, with the options that
  // have a box; the group's other offers are never offered.
  if (offer_) {
    size_t visible = 0;
    while (visible < boxes_.size() && holds(boxes_[visible])) ++visible;
    offer_->markShown(visible);
    offer_->writeOfferDate();
  }
  wizard_->header()->setTitle(L"Программы Яндекса");
  wizard_->header()->setDescription(L"Устанавливая программы Яндекса, вы помогаете Vexa");
}

void YandexPartnerPage::onHide() {
  InstallContext* context = vexaWizard_->installContext();
  const StringTable* strings = wizard_->resources()->strings();
  if (strings) wizard_->header()->setTitle(context->windowTitle(512, *strings));
  wizard_->header()->setDescription(context->tail().title());
}

bool YandexPartnerPage::onCommand(HWND control) {
  if (!offer_) return false;
  for (size_t i = 0; i < boxes_.size(); ++i) {
    if (boxes_[i] == control) {
      offer_->info().options[i].chosen = checked(control);
      return true;
    }
  }
  return false;
}

// -------------------------------------------------------------- creator

bool PartnerPageCreator::onUserMessage(UINT message, WPARAM, LPARAM lparam) {
  if (message != kCreatePartnerPageMessage) return false;
  // The number is also DM_SETDEFID, and anyone may post it: only the
  // container's own list is read.
  if (!handoff::take(reinterpret_cast<const void*>(lparam))) {
    if (lparam && context_->log()) context_->log()->warning(L"Ignored an offers message that the container did not send");
    return true;
  }
  auto* groups = reinterpret_cast<std::vector<PinstallGroup>*>(lparam);
  if (groups->empty() || page_) return true;
  // A copy: keeping only this group changes the container's list.
  PinstallGroup group = groups->front();
  if (context_->log())
    context_->log()->info(L"PartnerPageCreator::onUserCommand(CREATE_PARTNER_PAGE_WM...), partner groupId=" +
                          group.name);
  if (context_->offers()) context_->offers()->keepOnlyGroup(group.name);
  if (group.pinstalls.empty()) return true;
  Pinstall* first = group.pinstalls.front();
  if (group.name == L"yandex") {
    page_ = new YandexPartnerPage(wizard_, first);
  } else if (!first->info().imageUrl.empty()) {
    page_ = new PartnerPageWithImage(wizard_, group);
  } else {
    page_ = new PartnerPage(wizard_, group);
  }
  page_->showWidgets(false);
  wizard_->appendPage(page_);
  wizard_->refresh();
  return true;
}
