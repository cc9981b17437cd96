// The offer container the context owns, on the real registry: campaigns from
// a start answer, the date rule against a stored "installDate", the disabled
// flag, the ready message to a window, groups and offer dates.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "TestFiles.h"
#include "app/Log.h"
#include "app/win32/Registry.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"
#include "pinstall/win32/PinstallHostWin32.h"

namespace {

std::wstring answerWith(const std::wstring& campaigns) {
  return LR"({"data":{"campaigns":[)" + campaigns + L"]}}";
}

std::wstring campaign(const std::wstring& id, const std::wstring& extra = L"") {
  return L"{\"pinstall\":\"" + id + L"\",\"options\":{\"main\":\"/m\"}" + (extra.empty() ? L"" : L"," + extra) + L"}";
}

// Counts the ready messages waiting for a message-only window.
int takeReadyMessages(HWND window, LPARAM* lastLparam) {
  int count = 0;
  MSG msg;
  while (PeekMessageW(&msg, window, kOffersReadyMessage, kOffersReadyMessage, PM_REMOVE)) {
    ++count;
    *lastLparam = msg.lParam;
  }
  return count;
}

class PinstallContainerTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pinstall"); }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pinstall");
    if (window_) DestroyWindow(window_);
  }
  HWND messageWindow() {
    window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return window_;
  }
  std::string logText() { return testfiles::readFile(log_.path()); }

  testfiles::ScratchDir dir_;
  Log log_ = Log::atPath(dir_.path() + L"\\container.log");
  HWND window_ = nullptr;
};

}  // namespace

TEST_F(PinstallContainerTest, InstalledTwoDaysAgoIsBusyForSevenDaysAndFreeWithZero) {
  registry::writeText(HKEY_CURRENT_USER, L"Software\\Pinstall\\p1", L"installDate",
                      std::to_wstring(pinstall::currentTimeMs() - 2 * pinstall::kDayMs));
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  context.modeExtension.clear();
  context.offers()->load(context, answerWith(campaign(L"p1", L"\"checkPeriod\":7") + L"," +
                                             campaign(L"p2", L"\"checkPeriod\":\"7\"")));
  EXPECT_EQ(context.modeExtension, L"pinstall: p1:busyreg p2:free ");
  ASSERT_EQ(context.offers()->groups().size(), 1u);
  EXPECT_EQ(context.offers()->groups()[0].name, L"p2");

  VexaInstallContext again(L"", &log_);

  again.setOffers(new PinstallContainerComposited(again, &log_));
  again.modeExtension.clear();
  again.offers()->load(again, answerWith(campaign(L"p1", L"\"checkPeriod\":0")));
  EXPECT_EQ(again.modeExtension, L"pinstall: p1:free ");
  // A hostile period neither overflows nor offers again.
  VexaInstallContext hostile(L"", &log_);
  hostile.setOffers(new PinstallContainerComposited(hostile, &log_));
  hostile.offers()->load(hostile, answerWith(campaign(L"p1", L"\"checkPeriod\":\"9223372036854775807\"")));
  EXPECT_TRUE(hostile.offers()->groups().empty());
}

TEST_F(PinstallContainerTest, UnsafeIdentifierWritesNoKeyOutsideItsBranch) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  context.offers()->load(context, answerWith(campaign(L"..\\\\..\\\\Microsoft") + L"," + campaign(L"ok")));
  ASSERT_EQ(context.offers()->groups().size(), 1u);
  context.offers()->writeOfferDates();
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Pinstall\\..\\..\\Microsoft", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_FALSE(registry::readText(HKEY_CURRENT_USER, L"Software\\Pinstall\\ok", L"offerDate").empty());
  EXPECT_NE(logText().find("Skip pinstall with an unusable identifier"), std::string::npos);
}

TEST_F(PinstallContainerTest, DisabledReadsNoCampaignAndSaysSo) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  context.offers()->setDisabled(true);
  context.offers()->load(context, answerWith(campaign(L"p1")));
  EXPECT_TRUE(context.offers()->groups().empty());
  EXPECT_NE(context.modeExtension.find(L"PinstallDisabled"), std::wstring::npos);
  EXPECT_EQ(context.modeExtension.find(L"pinstall:"), std::wstring::npos);
  EXPECT_NE(logText().find("Pinstall is disabled"), std::string::npos);
}

TEST_F(PinstallContainerTest, ReadyMessageWaitsForTheWindowAndComesOnce) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  context.offers()->load(context, answerWith(campaign(L"p1")));
  HWND window = messageWindow();
  ASSERT_NE(window, nullptr);
  LPARAM lparam = 0;
  EXPECT_EQ(takeReadyMessages(window, &lparam), 0);
  ASSERT_TRUE(setOffersWindow(context.offers(), window));
  EXPECT_EQ(takeReadyMessages(window, &lparam), 1);
  EXPECT_EQ(lparam, reinterpret_cast<LPARAM>(&context.offers()->groups()));
  setOffersWindow(context.offers(), window);
  context.offers()->load(context, answerWith(campaign(L"p9")));
  EXPECT_EQ(takeReadyMessages(window, &lparam), 0);
}

TEST_F(PinstallContainerTest, ReadyMessageComesAtOnceWhenTheWindowWasFirst) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  HWND window = messageWindow();
  ASSERT_TRUE(setOffersWindow(context.offers(), window));
  LPARAM lparam = 0;
  context.offers()->load(context, answerWith(L""));  // no offers: no message
  EXPECT_EQ(takeReadyMessages(window, &lparam), 0);
  context.offers()->load(context, answerWith(campaign(L"p1")));
  EXPECT_EQ(takeReadyMessages(window, &lparam), 1);
}

TEST_F(PinstallContainerTest, GroupsKeepRemoveAndOfferDates) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  context.offers()->load(context, answerWith(campaign(L"a", LR"("info":"{\"groupId\":\"g\"}")") + L"," +
                                             campaign(L"b") + L"," +
                                             campaign(L"c", LR"("info":"{\"groupId\":\"g\"}")")));
  auto& groups = context.offers()->groups();
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].name, L"g");
  EXPECT_EQ(groups[0].pinstalls.size(), 2u);
  EXPECT_EQ(groups[1].name, L"b");

  context.offers()->writeOfferDates();
  std::wstring date = groups[0].pinstalls[0]->info().offerDate;
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, L"Software\\Pinstall\\a", L"offerDate"), date);
  EXPECT_FALSE(registry::readText(HKEY_CURRENT_USER, L"Software\\Pinstall\\b", L"offerDate").empty());
  EXPECT_NE(logText().find("writeOfferDate, group= g"), std::string::npos);

  context.offers()->removeGroup(L"b");
  EXPECT_EQ(groups.size(), 1u);
  EXPECT_NE(logText().find("InstallGroup is deleted from container: b"), std::string::npos);
  context.offers()->keepOnlyGroup(L"nothing");
  EXPECT_TRUE(groups.empty());
}

TEST_F(PinstallContainerTest, CancelledRunOnlyLogs) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  context.offers()->load(context, answerWith(campaign(L"p1")));
  context.offers()->runAll(true, false);
  EXPECT_NE(logText().find("runPinstallUtilSyncOrWait"), std::string::npos);
  EXPECT_EQ(logText().find("runPinstallFunc for"), std::string::npos);
}

// A setup that never ends must not keep the wizard's closing (and its
// closing event) waiting: the run is waited for a bounded time only.
TEST_F(PinstallContainerTest, ASetupThatNeverEndsDoesNotHoldTheCaller) {
  class HangingHost : public PinstallHost {
   public:
    int installMode() override { return 0; }
    Params statisticsParams() override { return {}; }
    std::wstring createTempFolder() override { return L"C:\\nowhere\\"; }
    std::wstring download(const std::wstring&, const std::wstring&) override { return L"C:\\nowhere\\setup.exe"; }
    int runAndWait(const std::wstring&) override {
      started = GetCurrentThreadId();
      while (!release) Sleep(10);
      return 0;
    }
    void writeDate(const std::wstring&, const wchar_t*, const std::wstring&) override {}
    void deleteFolder(const std::wstring&) override {}
    void sendFinishEvent(const UrlParamAppender&) override {}
    std::atomic<bool> release{false};
    std::atomic<DWORD> started{0};
  } host;
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  PinstallContainer container(context, &log_, nullptr, &host);
  container.load(context, answerWith(campaign(L"p1")));
  ASSERT_EQ(container.groups().size(), 1u);
  container.groups()[0].pinstalls[0]->markShown(1);
  container.setRunLimitMs(500);
  DWORD begin = GetTickCount();
  container.runAll(false, true);
  EXPECT_LT(GetTickCount() - begin, 5000u);
  for (int i = 0; i < 500 && !host.started; ++i) Sleep(10);
  EXPECT_NE(host.started.load(), 0u);
  EXPECT_NE(host.started.load(), GetCurrentThreadId()) << "the setup ran on the caller's thread";
  EXPECT_NE(logText().find("ERROR : [DEF] : Partner offers did not end within 500 ms"), std::string::npos) << logText();
  host.release = true;
  container.waitForInstalls();
}
