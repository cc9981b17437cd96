// wizard-preview: the installer's windows with a scripted install behind
// them, for screenshots and manual looks. The first argument names what to
// show:
//   download   the main page while the packs download
//   done       the main page when the install is done
//   settings   the settings page (extended install)
//   licence    the licence window over the main page
//   partner    the generic partner page
//   partnerImg the partner page with a picture (the poster) and links
//   yandex     the fixed page of the partner group "yandex"
//   fail       the installation failure dialog
//   java       the Java error dialog
// The user language is the system's, as in the installer.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/StringTable.h"
#include "app/win32/Resources.h"
#include "app/win32/SystemInfo.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"
#include "scenario/IInstallScenario.h"
#include "scenario/InstallScenarioListener.h"
#include "pinstall/Pinstall.h"
#include "app/PointerHandOff.h"
#include "ui/win32/Dialogs.h"
#include "ui/win32/PartnerPages.h"
#include "ui/win32/UiResources.h"
#include "ui/win32/VexaWizard.h"
#include "ui/win32/WizardRoad.h"

namespace {

class ScriptedScenario : public IInstallScenario {
 public:
  explicit ScriptedScenario(bool finish) : finish_(finish) {}
  bool isFinished() override { return finished_; }
  bool start() override {
    std::thread([this] {
      started_ = true;
      listener_->onStageProgress(0, 100, 100.0f);
      listener_->onStageProgress(1, 42, 42.5f);
      listener_->onTotalProgress(21);
      if (!finish_) return;
      listener_->onStageProgress(1, 100, 100.0f);
      listener_->onStageProgress(2, 100, 100.0f);
      listener_->onStageProgress(3, 100, 100.0f);
      listener_->onTotalProgress(100);
      listener_->onInstallDone();
      finished_ = true;
      listener_->onScenarioEnd();
    }).detach();
    return true;
  }
  void cancel() override {
    cancelled_ = true;
    if (listener_) listener_->onScenarioEnd();
  }
  bool isStarted() override { return started_; }
  bool isCancelled() override { return cancelled_; }
  void setCancelled(bool c) override { cancelled_ = c; }
  void setListener(InstallScenarioListener* l) override { listener_ = l; }

 private:
  bool finish_;
  InstallScenarioListener* listener_ = nullptr;
  std::atomic<bool> started_{false}, finished_{false}, cancelled_{false};
};

StringTable loadTable() {
  int language = sysinfo::userDefaultLanguage();
  std::string bytes;
  if (!resources::read(StringTable::resourceIdForLanguage(language), L"i18n", bytes)) return StringTable();
  return StringTable::build(bytes.data(), bytes.size(), language);
}

struct Look {
  std::wstring what;
};

class QuietHost : public PinstallHost {
 public:
  int installMode() override { return 0; }
  Params statisticsParams() override { return {}; }
  std::wstring createTempFolder() override { return L""; }
  std::wstring download(const std::wstring&, const std::wstring&) override { return L""; }
  int runAndWait(const std::wstring&) override { return -1; }
  void writeDate(const std::wstring&, const wchar_t*, const std::wstring&) override {}
  void deleteFolder(const std::wstring&) override {}
  void sendFinishEvent(const UrlParamAppender&) override {}
};

constexpr UINT kShowLastPage = WM_APP + 50;

// Moves to the last page once the partner page has joined the list.
class LastPageHandler : public WidgetCommandHandler {
 public:
  explicit LastPageHandler(VexaInstallerWizard* wizard) : wizard_(wizard) {}
  bool onUserMessage(UINT message, WPARAM, LPARAM) override {
    if (message != kShowLastPage) return false;
    while (wizard_->flow().following()) wizard_->next();
    return true;
  }

 private:
  VexaInstallerWizard* wizard_;
};

// A partner offer like the ones the server sends, in the user's language.
std::vector<PinstallGroup>* sampleGroups(const std::wstring& kind, bool russian) {
  static QuietHost host;
  PinstallInfo info;
  info.id = L"sample";
  info.title = russian ? L"Рекомендуемые программы" : L"Recommended software";
  PinstallOption main, home, bar;
  main.name = L"main";
  main.label = russian ? L"Установить браузер партнёра" : L"Install the partner's browser";
  home.name = L"home";
  home.dependsOn = L"main";
  home.label = russian ? L"Сделать его стартовой страницей" : L"Make it the home page";
  bar.name = L"bar";
  bar.label = russian ? L"Добавить панель партнёра в браузеры" : L"Add the partner's toolbar to the browsers";
  info.options = {main, home, bar};
  wchar_t url[512] = {};
  GetEnvironmentVariableW(L"VEXA_PREVIEW_IMAGE", url, 512);
  info.imageUrl = url[0] ? url : L"http://127.0.0.1:8731/pictures/partner.png";
  if (kind == L"partner") info.imageUrl.clear();  // the generic page is the one without a picture
  if (kind == L"partnerImg") {
    info.links = {{L"http://127.0.0.1/terms", russian ? L"Условия партнёра" : L"Partner terms"}};
  }
  auto* offer = new Pinstall(info, nullptr, &host);
  auto* groups = new std::vector<PinstallGroup>(1);
  (*groups)[0].name = kind == L"yandex" ? L"yandex" : L"sample";
  (*groups)[0].pinstalls = {offer};
  return groups;
}

void arrange(VexaInstallerWizard& wizard, void* data) {
  const std::wstring& what = static_cast<Look*>(data)->what;
  auto* main = dynamic_cast<WebMainPage*>(wizard.mainPage());
  if (what == L"partner" || what == L"partnerImg" || what == L"yandex") {
    bool russian = wizard.resources()->strings() && wizard.resources()->strings()->languageId() == 0x0419;
    HWND window = wizard.window()->handle();
    // Posted as the offer container posts it; shown once it has arrived.
    wizard.resources()->handlers().push_back(new LastPageHandler(&wizard));
    auto* groups = sampleGroups(what, russian);
    handoff::give(groups);
    PostMessageW(window, kCreatePartnerPageMessage, 0, reinterpret_cast<LPARAM>(groups));
    PostMessageW(window, kShowLastPage, 0, 0);
  }
  if (what == L"settings" && main) {
    SendMessageW(main->mode()->extendedButton(), BM_CLICK, 0, 0);
    wizard.next();
  }
}

// The licence link: the link label with the licence's text (its width
// depends on the screen's DPI).
BOOL CALLBACK pressLicenceLink(HWND child, LPARAM) {
  wchar_t cls[64] = {};
  GetClassNameW(child, cls, 64);
  wchar_t text[256] = {};
  GetWindowTextW(child, text, 256);
  UiResources* resources = UiResources::current();
  if (lstrcmpW(cls, L"myLinkLabelClass") == 0 && resources && resources->text(L"USER_LICENSE") == text) {
    PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring what = argc > 1 ? argv[1] : L"download";
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  static StringTable strings = loadTable();
  static FontSet fonts(16);
  static UiResources resources(GetModuleHandleW(nullptr), &fonts, nullptr, &strings);
  UiResources::setCurrent(&resources);
  if (what == L"fail") return dialogs::showInstallationFail();
  if (what == L"java") return dialogs::showJavaError();

  auto* context = new VexaInstallContext(L"", nullptr);
  context->setOffers(new PinstallContainerComposited(*context, nullptr));
  context->tail().setTitle(L"Sintel (2010)");
  auto* scenario = new ScriptedScenario(what == L"done");
  static Look look{what};
  if (what == L"licence") {
    // Opened once the window stands, as a click on the link would.
    std::thread([] {
      for (int i = 0; i < 100; ++i) {
        HWND w = FindWindowW(L"InstallerWindowClass", nullptr);
        if (w && IsWindowVisible(w)) {
          EnumChildWindows(w, &pressLicenceLink, 0);
          return;
        }
        Sleep(100);
      }
    }).detach();
  }
  int r = ui::runWizard(*context, strings, *scenario, &arrange, &look);
  CoUninitialize();
  return r;
}
