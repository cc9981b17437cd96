// Partner pages in the real wizard window: the offer container's message
// arrives, the right page joins the list, its boxes follow the rules and
// showing it records the offer's date.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "FakeScenario.h"
#include "TestHttpServer.h"
#include "WizardDriver.h"
#include "WizardUnderTest.h"
#include "app/win32/Resources.h"
#include "pinstall/Pinstall.h"
#include "app/PointerHandOff.h"
#include "ui/win32/Messages.h"

namespace {

class RecordingHost : public PinstallHost {
 public:
  int installMode() override { return 0; }
  Params statisticsParams() override { return {}; }
  // Reached only by an offer that passed its consent checks; no folder, so
  // nothing is fetched.
  std::wstring createTempFolder() override {
    ++runs;
    return L"";
  }
  std::wstring download(const std::wstring&, const std::wstring&) override { return L""; }
  int runAndWait(const std::wstring&) override { return -1; }
  void writeDate(const std::wstring& id, const wchar_t* valueName, const std::wstring&) override {
    std::lock_guard<std::mutex> hold(lock);
    dates.push_back(id + L":" + valueName);
  }
  void deleteFolder(const std::wstring&) override {}
  void sendFinishEvent(const UrlParamAppender&) override {}
  std::vector<std::wstring> written() {
    std::lock_guard<std::mutex> hold(lock);
    return dates;
  }
  std::mutex lock;
  std::vector<std::wstring> dates;
  std::atomic<int> runs{0};
};

PinstallInfo offerInfo(const wchar_t* id, const wchar_t* title) {
  PinstallInfo info;
  info.id = id;
  info.title = title;
  PinstallOption browser, homepage, bar;
  browser.name = L"browser";
  browser.label = L"Install the partner browser";
  homepage.name = L"homepage";
  homepage.label = L"Make it the home page";
  homepage.dependsOn = L"browser";
  bar.name = L"bar";
  bar.label = L"Add the partner bar";
  info.options = {browser, homepage, bar};
  return info;
}

// The check box beside a label: same panel, three pixels higher.
HWND boxOf(HWND window, HWND label) {
  driver::Control l = driver::describe(window, label);
  for (const auto& c : driver::controls(window))
    if (c.className == L"Button" && c.text.empty() && GetParent(c.hwnd) == GetParent(label) &&
        c.rect.top == l.rect.top - 3)
      return c.hwnd;
  return nullptr;
}

void offer(WizardUnderTest& w, std::vector<PinstallGroup>& groups) {
  handoff::give(&groups);  // as the container does
  PostMessageW(w.window, WM_USER + 1, 0, reinterpret_cast<LPARAM>(&groups));
}

}  // namespace

TEST(PartnerPages, GenericPageFullOrCustomAndDependsOn) {
  WizardUnderTest w(noBody);
  ASSERT_NE(w.window, nullptr);
  RecordingHost host;
  Pinstall first(offerInfo(L"partnerA", L"Recommended by Vexa"), nullptr, &host);
  std::vector<PinstallGroup> groups(1);
  groups[0].name = L"partnerA";
  groups[0].pinstalls = {&first};
  HWND next = w.control(L"Finish", L"Button");  // before the page comes and renames it
  ASSERT_NE(next, nullptr);
  offer(w, groups);
  ASSERT_TRUE(driver::waitUntil([&] { return driver::textOf(next) == L"Next >"; }, 5000));
  EXPECT_TRUE(host.written().empty());
  ASSERT_TRUE(driver::click(next));
  ASSERT_TRUE(w.waitText(L"Full Install (recommended)"));
  EXPECT_EQ(w.context->lastPage, L"partner");
  EXPECT_EQ(host.written(), std::vector<std::wstring>{L"partnerA:offerDate"});
  EXPECT_TRUE(w.waitText(L"Establishing the proposed software you help Vexa remain free"));
  EXPECT_TRUE(w.waitText(L"Recommended by Vexa"));
  EXPECT_EQ(driver::textOf(next), L"Finish");

  HWND full = w.control(L"Full Install (recommended)");
  HWND custom = w.control(L"Configuring");
  HWND browser = boxOf(w.window, w.control(L"Install the partner browser"));
  HWND homepage = boxOf(w.window, w.control(L"Make it the home page"));
  HWND bar = boxOf(w.window, w.control(L"Add the partner bar"));
  ASSERT_TRUE(browser && homepage && bar);
  EXPECT_EQ(w.describe(full).checked, BST_CHECKED);
  for (HWND b : {browser, homepage, bar}) {
    EXPECT_EQ(w.describe(b).checked, BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(b));
  }
  EXPECT_TRUE(w.hasControl(L"Button", 20 + 10, 100 + 55, 25, 25)) << "first box";

  ASSERT_TRUE(driver::click(custom));
  for (HWND b : {browser, homepage, bar}) EXPECT_TRUE(IsWindowEnabled(b));
  ASSERT_TRUE(driver::click(browser));  // off: its dependant follows
  EXPECT_FALSE(first.info().options[0].chosen);
  EXPECT_FALSE(first.info().options[1].chosen);
  EXPECT_EQ(w.describe(homepage).checked, BST_UNCHECKED);
  EXPECT_FALSE(IsWindowEnabled(homepage));
  ASSERT_TRUE(driver::click(custom));  // chosen again: the rule still holds
  EXPECT_FALSE(IsWindowEnabled(homepage));
  EXPECT_TRUE(IsWindowEnabled(bar));
  EXPECT_TRUE(first.info().options[2].chosen);
  ASSERT_TRUE(driver::click(bar));
  EXPECT_FALSE(first.info().options[2].chosen);
  ASSERT_TRUE(driver::click(browser));  // on again: dependant back
  EXPECT_TRUE(first.info().options[1].chosen);
  EXPECT_TRUE(IsWindowEnabled(homepage));
  ASSERT_TRUE(driver::click(bar));
  ASSERT_TRUE(driver::click(bar));
  EXPECT_FALSE(first.info().options[2].chosen);
  // Back to full: everything chosen again and locked.
  ASSERT_TRUE(driver::click(full));
  for (const auto& o : first.info().options) EXPECT_TRUE(o.chosen);
  EXPECT_EQ(w.describe(bar).checked, BST_CHECKED);
  EXPECT_FALSE(IsWindowEnabled(bar));

  // Leaving and coming back: the main page's header returns.
  ASSERT_TRUE(driver::click(w.control(L"< Back")));
  EXPECT_TRUE(w.waitText(L"Installing Vexa"));
  // A second notice never adds a second page.
  offer(w, groups);
  Sleep(300);
  ASSERT_TRUE(driver::click(next));
  ASSERT_TRUE(w.waitText(L"Full Install (recommended)"));
  EXPECT_EQ(driver::textOf(next), L"Finish");
}

TEST(PartnerPages, PageWithPictureShowsItsLinksInsteadOfTheInformationLink) {
  testserver::TestHttpServer server;
  const void* poster = nullptr;
  size_t size = 0;
  ASSERT_TRUE(resources::load(135, L"img", poster, size));
  testserver::Resource png;
  png.body.assign(static_cast<const char*>(poster), size);
  server.add("/offer.png", png);

  WizardUnderTest w(noBody);
  ASSERT_NE(w.window, nullptr);
  RecordingHost host;
  PinstallInfo info = offerInfo(L"partnerB", L"");
  info.imageUrl = server.wideUrl("/offer.png");
  info.links = {{L"http://127.0.0.1:1/terms", L"Partner terms"}, {L"http://127.0.0.1:1/privacy", L"Privacy"}};
  Pinstall first(info, nullptr, &host);
  std::vector<PinstallGroup> groups(1);
  groups[0].name = L"partnerB";
  groups[0].pinstalls = {&first};
  HWND next = w.control(L"Finish", L"Button");  // before the page comes and renames it
  ASSERT_NE(next, nullptr);
  offer(w, groups);
  ASSERT_TRUE(driver::waitUntil([&] { return driver::textOf(next) == L"Next >"; }, 5000));
  HWND information = w.control(L"Information", L"myLinkLabelClass");
  HWND terms = w.control(L"Partner terms", L"myLinkLabelClass");
  ASSERT_NE(terms, nullptr);
  EXPECT_EQ(GetParent(terms), w.window) << "links belong to the wizard window";
  EXPECT_FALSE(IsWindowVisible(terms));
  EXPECT_TRUE(IsWindowVisible(information));

  ASSERT_TRUE(driver::click(next));
  EXPECT_TRUE(driver::waitUntil([&] { return IsWindowVisible(terms) != FALSE; }, 5000));
  EXPECT_EQ(w.context->lastPage, L"partnerImg");
  EXPECT_FALSE(IsWindowVisible(information));
  SIZE c = driver::clientSize(w.window);
  EXPECT_TRUE(w.hasControl(L"myLinkLabelClass", 20, c.cy - 45, 200, 20));
  EXPECT_TRUE(w.hasControl(L"myLinkLabelClass", 20, c.cy - 45 + 17, 200, 20));
  // Options stand at the bottom; the picture arrives and keeps its size
  // (it fits), moved to the corner.
  EXPECT_TRUE(driver::waitUntil([&] { return w.hasControl(L"Static", 20, 100, 173, 241); }, 10000));
  EXPECT_EQ(host.written(), std::vector<std::wstring>{L"partnerB:offerDate"});

  ASSERT_TRUE(driver::click(w.control(L"< Back")));
  EXPECT_TRUE(driver::waitUntil([&] { return IsWindowVisible(information) != FALSE; }, 5000));
  EXPECT_FALSE(IsWindowVisible(terms));
}

TEST(PartnerPages, YandexGroupGetsItsOwnPageEvenWithAPicture) {
  WizardUnderTest w(noBody);
  ASSERT_NE(w.window, nullptr);
  RecordingHost host;
  PinstallInfo info = offerInfo(L"ya", L"ignored title");
  info.imageUrl = L"http://127.0.0.1:1/none.png";
  Pinstall first(info, nullptr, &host);
  std::vector<PinstallGroup> groups(2);
  groups[0].name = L"yandex";
  groups[0].pinstalls = {&first};
  groups[1].name = L"other";
  HWND next = w.control(L"Finish", L"Button");  // before the page comes and renames it
  ASSERT_NE(next, nullptr);
  offer(w, groups);
  ASSERT_TRUE(driver::waitUntil([&] { return driver::textOf(next) == L"Next >"; }, 5000));
  ASSERT_TRUE(driver::click(next));
  ASSERT_TRUE(w.waitText(L"Vexa рекомендует установить программы и настройки Яндекса:"));
  EXPECT_TRUE(w.waitText(L"Программы Яндекса"));
  EXPECT_TRUE(w.waitText(L"Устанавливая программы Яндекса, вы помогаете Vexa"));
  EXPECT_EQ(host.written(), std::vector<std::wstring>{L"ya:offerDate"});
  HWND browserLabel = w.control(L"Install the partner browser");
  ASSERT_NE(browserLabel, nullptr);
  EXPECT_EQ(w.describe(browserLabel).rect.left, 20 + 28);
  EXPECT_EQ(w.describe(browserLabel).rect.top, 100 + 64);
  EXPECT_TRUE(w.hasControl(L"Button", 20 + 10, 100 + 60, 17, 25));
  // No "dependsOn" here: only the box's own option changes.
  HWND box = nullptr;
  for (const auto& c : driver::controls(w.window))
    if (c.className == L"Button" && c.rect.left == 30 && c.rect.top == 160) box = c.hwnd;
  ASSERT_NE(box, nullptr);
  ASSERT_TRUE(driver::click(box));
  EXPECT_FALSE(first.info().options[0].chosen);
  EXPECT_TRUE(first.info().options[1].chosen);
  ASSERT_TRUE(driver::click(w.control(L"< Back")));
  EXPECT_TRUE(w.waitText(L"Installing Vexa"));
}

// Consent: an offer runs only from a page the user saw, with the options
// whose boxes were on it.
namespace {
PinstallGroup groupOf(const wchar_t* name, std::vector<Pinstall*> offers) { return PinstallGroup{name, offers}; }
auto finishAtOnce = [](FakeScenario&) {};
}  // namespace

TEST(PartnerConsent, ClosingAfterTheInstallWithoutVisitingThePageRunsNothing) {
  WizardUnderTest w(finishAtOnce);
  ASSERT_NE(w.window, nullptr);
  RecordingHost host;
  Pinstall first(offerInfo(L"partnerA", L"Recommended"), nullptr, &host);
  std::vector<PinstallGroup> groups{groupOf(L"partnerA", {&first})};
  HWND next = w.control(L"Finish", L"Button");
  ASSERT_NE(next, nullptr);
  offer(w, groups);
  ASSERT_TRUE(driver::waitUntil([&] { return driver::textOf(next) == L"Next >"; }, 5000));
  PostMessageW(w.window, WM_CLOSE, 0, 0);  // the close box, the page never seen
  ASSERT_TRUE(w.waitEnded(20000));
  first.run();
  EXPECT_EQ(host.runs, 0);
  EXPECT_TRUE(host.written().empty());
}

TEST(PartnerConsent, YandexPageOffersItsFirstOfferOnly) {
  WizardUnderTest w(finishAtOnce);
  ASSERT_NE(w.window, nullptr);
  RecordingHost host;
  Pinstall first(offerInfo(L"ya1", L""), nullptr, &host), second(offerInfo(L"ya2", L""), nullptr, &host);
  std::vector<PinstallGroup> groups{groupOf(L"yandex", {&first, &second})};
  HWND next = w.control(L"Finish", L"Button");
  offer(w, groups);
  ASSERT_TRUE(driver::waitUntil([&] { return driver::textOf(next) == L"Next >"; }, 5000));
  ASSERT_TRUE(driver::click(next));
  ASSERT_TRUE(w.waitText(L"Программы Яндекса"));
  EXPECT_EQ(host.written(), std::vector<std::wstring>{L"ya1:offerDate"});
  PostMessageW(w.window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(w.waitEnded(20000));
  first.run();
  EXPECT_EQ(host.runs, 1);
  second.run();
  EXPECT_EQ(host.runs, 1);
}

TEST(PartnerConsent, OptionsWithoutABoxCountAsUnticked) {
  WizardUnderTest w(finishAtOnce);
  ASSERT_NE(w.window, nullptr);
  RecordingHost host;
  PinstallInfo info = offerInfo(L"ya", L"");
  info.options.resize(11);
  for (size_t i = 0; i < info.options.size(); ++i) {
    info.options[i].name = L"o" + std::to_wstring(i);
    info.options[i].label = L"Option " + std::to_wstring(i);
    info.options[i].dependsOn.clear();
  }
  Pinstall first(info, nullptr, &host);
  std::vector<PinstallGroup> groups{groupOf(L"yandex", {&first})};
  HWND next = w.control(L"Finish", L"Button");
  offer(w, groups);
  ASSERT_TRUE(driver::waitUntil([&] { return driver::textOf(next) == L"Next >"; }, 5000));
  ASSERT_TRUE(driver::click(next));
  ASSERT_TRUE(w.waitText(L"Option 9"));
  EXPECT_EQ(w.control(L"Option 10"), nullptr);
  for (int i = 0; i < 10; ++i) {
    HWND label = w.control(L"Option " + std::to_wstring(i));
    driver::Control l = w.describe(label);
    HWND box = nullptr;
    for (const auto& c : driver::controls(w.window))
      if (c.className == L"Button" && c.rect.left == 30 && c.rect.top == l.rect.top - 4) box = c.hwnd;
    ASSERT_NE(box, nullptr) << i;
    ASSERT_TRUE(driver::click(box));
  }
  EXPECT_TRUE(first.info().options[10].chosen);
  PostMessageW(w.window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(w.waitEnded(20000));
  first.run();
  EXPECT_EQ(host.runs, 0);
}

// The generic page keeps 32 widgets: its two choices and 30 offers' panels.
// The offers past those have no panel the user could see, so they get no
// offer date and never run; the ones before them do both.
TEST(PartnerConsent, GenericPageOffersWithoutAPanelAreNeitherDatedNorRun) {
  WizardUnderTest w(finishAtOnce);
  ASSERT_NE(w.window, nullptr);
  RecordingHost host;
  std::vector<std::unique_ptr<Pinstall>> offers;
  std::vector<Pinstall*> pointers;
  for (int i = 0; i < 32; ++i) {
    PinstallInfo info = offerInfo((L"p" + std::to_wstring(i)).c_str(), L"Recommended");
    info.options.resize(1);
    info.options[0].label = L"Offer " + std::to_wstring(i);
    offers.emplace_back(new Pinstall(info, nullptr, &host));
    pointers.push_back(offers.back().get());
  }
  std::vector<PinstallGroup> groups{groupOf(L"many", pointers)};
  HWND next = w.control(L"Finish", L"Button");
  ASSERT_NE(next, nullptr);
  offer(w, groups);
  ASSERT_TRUE(driver::waitUntil([&] { return driver::textOf(next) == L"Next >"; }, 5000));
  ASSERT_TRUE(driver::click(next));
  ASSERT_TRUE(w.waitText(L"Full Install (recommended)"));
  std::vector<std::wstring> dated;
  for (int i = 0; i < 30; ++i) dated.push_back(L"p" + std::to_wstring(i) + L":offerDate");
  EXPECT_EQ(host.written(), dated);
  EXPECT_TRUE(IsWindowVisible(w.control(L"Offer 29")));
  for (const wchar_t* unseen : {L"Offer 30", L"Offer 31"}) {
    HWND label = w.control(unseen);
    EXPECT_TRUE(label == nullptr || !IsWindowVisible(label)) << "the offer has no panel on the page";
  }
  PostMessageW(w.window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(w.waitEnded(20000));
  for (auto& o : offers) o->run();
  EXPECT_EQ(host.runs, 30);
  EXPECT_EQ(host.written(), dated) << "running dates nothing more";
}

// Message numbers any process can post: a pointer the wizard did not hand
// out is never read (1025 is also the dialog manager's DM_SETDEFID).
TEST(PartnerPages, ForeignPointersInMessagesAreIgnored) {
  WizardUnderTest w(noBody);
  ASSERT_NE(w.window, nullptr);
  RecordingHost host;
  Pinstall first(offerInfo(L"forged", L""), nullptr, &host);
  std::vector<PinstallGroup> groups{PinstallGroup{L"forged", {&first}}};
  HWND next = w.control(L"Finish", L"Button");
  ASSERT_NE(next, nullptr);
  PostMessageW(w.window, WM_USER + 1, 0, reinterpret_cast<LPARAM>(&groups));
  PostMessageW(w.window, WM_USER + 1, 1, 0x1000);
  HWND picture = nullptr;
  for (const auto& c : driver::controls(w.window))
    if (c.rect.left == 20 && c.rect.top == 100 && c.rect.right == 20 + 173 && c.rect.bottom == 100 + 241)
      picture = c.hwnd;
  ASSERT_NE(picture, nullptr);
  PostMessageW(picture, ui::kMsgImageArrived, 0, 0x1000);
  InvalidateRect(picture, nullptr, TRUE);
  Sleep(500);
  EXPECT_FALSE(w.ended());
  EXPECT_EQ(driver::textOf(next), L"Finish");  // no page was added
  EXPECT_TRUE(w.waitText(L"Installing Vexa"));
}
