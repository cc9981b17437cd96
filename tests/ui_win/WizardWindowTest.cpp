// The wizard in a real window under Xvfb: the wizard runs on a thread of
// this process as the installer runs it on its main thread, the scenario is
// scripted, and the test reads and presses the window through the same
// driver the scripts use.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "FakeScenario.h"
#include "WizardDriver.h"
#include "app/Log.h"
#include "app/StringTable.h"
#include "app/win32/Files.h"
#include "app/win32/Resources.h"
#include "context/win32/VexaInstallContext.h"
#include "ui/win32/UiResources.h"
#include "ui/win32/WizardRoad.h"

#include "WizardUnderTest.h"

TEST(WizardWindow, GeometryFollowsTheLayout) {
  WizardUnderTest w(noBody);
  ASSERT_NE(w.window, nullptr);
  RECT outer;
  GetWindowRect(w.window, &outer);
  EXPECT_EQ(outer.right - outer.left, 500);
  EXPECT_EQ(outer.bottom - outer.top, 447);
  EXPECT_EQ(outer.left, GetSystemMetrics(SM_CXFULLSCREEN) / 2 - 250);
  EXPECT_EQ(outer.top, GetSystemMetrics(SM_CYFULLSCREEN) / 2 - 223);
  SIZE c = driver::clientSize(w.window);
  const int W = c.cx, H = c.cy, PW = W - 40, PH = H - 50 - 90 - 10;
  EXPECT_EQ(driver::textOf(w.window), L"Installing Vexa");

  EXPECT_TRUE(w.hasControl(L"Static", 20, 10, W - 40, 90)) << "header panel\n" << driver::dump(w.window).c_str();
  EXPECT_TRUE(w.hasControl(L"Static", 20, 100, PW, PH)) << "page panel";
  EXPECT_TRUE(w.hasControl(L"Static", 20, 10, W - 40, 20)) << "title";
  EXPECT_TRUE(w.hasControl(L"Static", 20, 35, W - 40, 65)) << "description";
  EXPECT_EQ(w.describe(w.control(L"Finish", L"Button")).rect.left, W - 100);
  EXPECT_EQ(w.describe(w.control(L"Finish", L"Button")).rect.top, H - 40);
  EXPECT_TRUE(w.hasControl(L"Button", W - 100, H - 40, 80, 25)) << "Next/Finish";
  EXPECT_TRUE(w.hasControl(L"Button", W - 185, H - 40, 80, 25)) << "Back";
  EXPECT_TRUE(w.hasControl(L"Static", 20, 100, 173, 241)) << "picture";
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(w.hasControl(L"Static", 20 + 189, 100 + 85 + 30 * i, 400, 25)) << "stage item " << i;
  EXPECT_TRUE(w.hasControl(L"Static", 20 + 189 + 20, 100 + 85, 380, 25)) << "stage label";
  EXPECT_TRUE(w.hasControl(L"Static", 20 + 189 + 4, 100 + 85 + 4, 9, 11)) << "check mark";
  EXPECT_TRUE(w.hasControl(L"msctls_progress32", 20, 100 + PH - 10, PW, 10)) << "progress bar";
  EXPECT_TRUE(w.hasControl(L"myLinkLabelClass", 20, H - 30, 100, 20)) << "information link";

  driver::Control quick = w.describe(w.control(L"quick installation"));
  driver::Control extended = w.describe(w.control(L"extended"));
  const int half = 100 + 20 - quick.rect.top;  // h/2 of the letter "w"
  EXPECT_GT(half, 3);
  EXPECT_LT(half, 12);
  EXPECT_EQ(quick.rect.left, 20 + 209);
  EXPECT_EQ(quick.rect.right - quick.rect.left, 150);
  EXPECT_EQ(quick.rect.bottom - quick.rect.top, 25);
  EXPECT_EQ(extended.rect.top, quick.rect.top + 25);
  EXPECT_TRUE(w.hasControl(L"Button", 20 + 189, 100 - half, PW - 189, 80)) << "group frame";
  EXPECT_EQ(quick.checked, BST_CHECKED);
  EXPECT_EQ(extended.checked, BST_UNCHECKED);
  // The licence line of the main page.
  EXPECT_TRUE(w.hasControl(L"Static", 20 + PW - 270, 100 + PH - 50, 270, 15)) << "licence prefix";
  EXPECT_TRUE(w.hasControl(L"myLinkLabelClass", 20 + PW - 200, 100 + PH - 30, 200, 15)) << "licence link";
}

TEST(WizardWindow, FinishWaitsForTheInstallThenStandsOut) {
  WizardUnderTest w(noBody);
  ASSERT_NE(w.window, nullptr);
  HWND next = w.control(L"Finish", L"Button");
  HWND back = w.control(L"< Back", L"Button");
  ASSERT_NE(next, nullptr);
  EXPECT_FALSE(IsWindowEnabled(next));
  EXPECT_FALSE(IsWindowEnabled(back));
  HFONT normal = UiResources::current()->fonts()->normal();
  HFONT bold = UiResources::current()->fonts()->bold();
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(next, WM_GETFONT, 0, 0)), normal);

  w.scenario.release = true;  // the install ends: done is reported
  EXPECT_TRUE(driver::waitUntil([&] { return IsWindowEnabled(next) != FALSE; }, 5000));
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(next, WM_GETFONT, 0, 0)), bold);
  EXPECT_EQ(driver::textOf(next), L"Finish");
  EXPECT_FALSE(IsWindowEnabled(back));

  EXPECT_TRUE(driver::clickNoWait(next));
  ASSERT_TRUE(w.waitEnded(60000));
  // Finished, but the stand-in files are missing: a failed install.
  EXPECT_EQ(w.context->exitCode, 3);
  EXPECT_EQ(w.context->lastPage, L"main");
}

TEST(WizardWindow, ExtendedAddsTheSettingsPageAndItsBoxesWriteBack) {
  WizardUnderTest w(noBody);
  ASSERT_NE(w.window, nullptr);
  w.context->loadWithWindows = true;
  HWND next = w.control(L"Finish", L"Button");
  ASSERT_TRUE(driver::click(w.control(L"extended")));
  EXPECT_EQ(driver::textOf(next), L"Next >");
  EXPECT_TRUE(IsWindowEnabled(next));
  HWND startUp = w.control(L"Start Vexa when Windows starts");
  ASSERT_NE(startUp, nullptr);
  EXPECT_FALSE(IsWindowVisible(startUp));

  ASSERT_TRUE(driver::click(next));
  EXPECT_TRUE(w.waitText(L"Start Vexa when Windows starts"));
  EXPECT_EQ(w.context->lastPage, L"settings");
  EXPECT_EQ(driver::textOf(next), L"Finish");
  EXPECT_FALSE(IsWindowEnabled(next));
  EXPECT_TRUE(IsWindowEnabled(w.control(L"< Back")));
  EXPECT_FALSE(IsWindowVisible(w.control(L"quick installation")));
  SIZE c = driver::clientSize(w.window);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(w.hasControl(L"Button", 20, 100 + 25 * i, c.cx - 40, 25)) << "box " << i;
  // The boxes start from the context's options.
  EXPECT_EQ(w.describe(startUp).checked, BST_CHECKED);
  EXPECT_EQ(w.describe(w.control(L"Open .torrent files in Vexa")).checked, BST_CHECKED);
  EXPECT_EQ(w.describe(w.control(L"Add firewall exception")).checked, BST_CHECKED);
  ASSERT_TRUE(driver::click(startUp));
  EXPECT_FALSE(w.context->loadWithWindows);
  ASSERT_TRUE(driver::click(w.control(L"Add firewall exception")));
  EXPECT_FALSE(w.context->exceptFirewall);
  EXPECT_TRUE(w.context->associateTorrentFile);
  ASSERT_TRUE(driver::click(startUp));
  EXPECT_TRUE(w.context->loadWithWindows);

  ASSERT_TRUE(driver::click(w.control(L"< Back")));
  EXPECT_TRUE(w.waitText(L"quick installation"));
  EXPECT_FALSE(IsWindowEnabled(w.control(L"< Back")));
  // Quick again: the settings page leaves the list, Next becomes Finish.
  ASSERT_TRUE(driver::click(w.control(L"quick installation")));
  EXPECT_EQ(driver::textOf(next), L"Finish");
  EXPECT_FALSE(IsWindowEnabled(next));
  ASSERT_TRUE(driver::click(w.control(L"extended")));
  ASSERT_TRUE(driver::click(w.control(L"quick installation")));
  EXPECT_EQ(driver::textOf(next), L"Finish");
}

TEST(WizardWindow, StageItemsShowProgressTicksAndDone) {
  std::promise<void> reported;
  WizardUnderTest w([&](FakeScenario& s) {
    InstallScenarioListener* l = s.listener();
    l->onStageProgress(0, 42, 42.5f);
    l->onDownloadNotice(true, L"%s%n ignored");
    l->onDownloadNotice(true, L"");
    l->onDownloadError(false, L"ignored after a percentage");
    l->onStageProgress(2, 100, 100.0f);
    l->onStageProgress(7, 100, 100.0f);  // no such stage: ignored
    l->onTotalProgress(37);
    reported.set_value();
    s.waitUntilReleased();
  });
  ASSERT_NE(w.window, nullptr);
  reported.get_future().wait();
  EXPECT_TRUE(w.waitText(L"Installing Java 42.5%"));
  EXPECT_TRUE(w.waitText(L"Downloading Vexa .."));
  EXPECT_TRUE(w.waitText(L"Installation 100.0%") || w.waitText(L"Installation"));
  HWND progress = nullptr;
  for (const auto& c : driver::controls(w.window))
    if (c.className == L"msctls_progress32") progress = c.hwnd;
  ASSERT_NE(progress, nullptr);
  EXPECT_TRUE(driver::waitUntil([&] { return SendMessageW(progress, PBM_GETPOS, 0, 0) == 37; }, 5000));
  // The done stage shows its check mark; the others do not.
  SIZE c = driver::clientSize(w.window);
  (void)c;
  int shownMarks = 0;
  for (const auto& ctl : driver::controls(w.window))
    if (ctl.className == L"Static" && ctl.rect.right - ctl.rect.left == 9 && ctl.rect.bottom - ctl.rect.top == 11 &&
        ctl.visible)
      ++shownMarks;
  EXPECT_EQ(shownMarks, 1);
  HFONT bold = UiResources::current()->fonts()->bold();
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(w.control(L"Installing Java 42.5%"), WM_GETFONT, 0, 0)), bold);
}

TEST(WizardWindow, LicenceWindowRendersTheAgreementAndClosesEitherWay) {
  WizardUnderTest w(noBody);
  ASSERT_NE(w.window, nullptr);
  for (int round = 0; round < 2; ++round) {
    HWND link = w.control(L"License agreement", L"myLinkLabelClass");
    ASSERT_NE(link, nullptr);
    PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 5));
    HWND licence = driver::findTop(driver::kLicenceClass, 5000);
    ASSERT_NE(licence, nullptr);
    EXPECT_EQ(driver::textOf(licence), L"License agreement");
    RECT lr, wr;
    GetWindowRect(licence, &lr);
    GetWindowRect(w.window, &wr);
    EXPECT_EQ(lr.right - lr.left, 600);
    EXPECT_EQ(lr.left, (wr.left + wr.right) / 2 - 300);
    EXPECT_EQ(GetWindow(licence, GW_OWNER), w.window);
    HWND edit = driver::find(licence, driver::textOf(driver::controls(licence).front().hwnd), L"RichEdit20W");
    ASSERT_NE(edit, nullptr);
    int length = GetWindowTextLengthW(edit);
    EXPECT_GT(length, 200);
    std::wstring shown = driver::textOf(edit);
    EXPECT_EQ(shown.find(L"{\\rtf"), std::wstring::npos) << "the markup is rendered, not shown";
    HWND close = driver::find(licence, L"Close", L"Button");
    HWND cancel = driver::find(licence, L"Cancel", L"Button");
    ASSERT_NE(close, nullptr);
    ASSERT_NE(cancel, nullptr);
    EXPECT_FALSE(IsWindowVisible(cancel));
    if (round == 0) {
      driver::click(close);
    } else {
      PostMessageW(licence, WM_CLOSE, 0, 0);
    }
    EXPECT_TRUE(driver::waitUntil([&] { return !IsWindow(licence); }, 5000));
  }
  EXPECT_FALSE(w.ended());
}

// Closing the window while downloads report as fast as they can: the
// scripted cancel waits for the worker, which keeps calling the listener.
// A listener that sent instead of posting would hang here.
TEST(WizardWindow, ClosingDuringTheDownloadNeverDeadlocks) {
  for (int round = 0; round < 6; ++round) {
    WizardUnderTest w([](FakeScenario& s) { s.downloadUntilReleased(); });
    ASSERT_NE(w.window, nullptr) << "round " << round;
    Sleep(static_cast<DWORD>(20 + (round * 37) % 200));
    PostMessageW(w.window, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    ASSERT_TRUE(w.waitEnded(60000)) << "round " << round << ": the wizard did not end";
    EXPECT_EQ(w.scenario.cancels.load(), 1);
    EXPECT_TRUE(w.scenario.isCancelled());
    EXPECT_EQ(w.context->exitCode, -1);
  }
}

TEST(WizardWindow, KeyboardMovesPressesTogglesAndCloses) {
  WizardUnderTest w(noBody);
  ASSERT_NE(w.window, nullptr);
  HWND quick = w.control(L"quick installation");
  HWND extended = w.control(L"extended");
  ASSERT_TRUE(driver::waitUntil([&] { return driver::focusOf(w.window) == quick; }, 5000));
  // Arrow keys move within the radio group and choose.
  driver::pressKey(w.window, VK_DOWN);
  EXPECT_TRUE(driver::waitUntil([&] { return w.describe(extended).checked == BST_CHECKED; }, 5000));
  HWND next = w.control(L"Next >", L"Button");
  ASSERT_NE(next, nullptr);
  // Enter presses the default button (Next) when the focus is elsewhere.
  driver::pressKey(w.window, VK_RETURN);
  ASSERT_TRUE(w.waitText(L"Start Vexa when Windows starts"));
  HWND startUp = w.control(L"Start Vexa when Windows starts");
  // Tab walks the controls until the first check box has the focus.
  bool reached = driver::waitUntil(
      [&] {
        if (driver::focusOf(w.window) == startUp) return true;
        driver::pressKey(w.window, VK_TAB);
        Sleep(50);
        return driver::focusOf(w.window) == startUp;
      },
      5000, 10);
  ASSERT_TRUE(reached) << "focus on " << driver::textOf(driver::focusOf(w.window)).size();
  const bool before = w.context->loadWithWindows;
  driver::pressKey(w.window, VK_SPACE);
  EXPECT_TRUE(driver::waitUntil([&] { return w.context->loadWithWindows != before; }, 5000));
  // Esc asks to close, as the close box does: the install is cancelled.
  driver::pressKey(w.window, VK_ESCAPE);
  ASSERT_TRUE(w.waitEnded(60000));
  EXPECT_EQ(w.scenario.cancels.load(), 1);
  EXPECT_EQ(w.context->exitCode, -1);
}
