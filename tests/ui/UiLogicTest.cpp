// The wizard's window-free logic: texts, stage items, page list, finishing.
#include <gtest/gtest.h>

#include <limits>

#include "ui/ImageFit.h"
#include "ui/PageFlow.h"
#include "ui/StageProgress.h"
#include "ui/UiText.h"

TEST(UiText, CutKeepsSurrogatePairsWhole) {
  std::wstring s = L"ab";
  s += static_cast<wchar_t>(0xD83D);
  s += static_cast<wchar_t>(0xDE00);
  s += L"c";
  // Room for three units: "ab" + the high half would split the pair.
  EXPECT_EQ(uitext::cut(s, 4), L"ab");
  EXPECT_EQ(uitext::cut(s, 5).size(), 4u);  // the whole pair fits
  EXPECT_EQ(uitext::cut(s, 3), L"ab");
  EXPECT_EQ(uitext::cut(s, 0), L"");
  EXPECT_EQ(uitext::cut(L"abc", 4), L"abc");
  EXPECT_EQ(uitext::cut(L"abcd", 4), L"abc");
}

TEST(UiText, ServerTextIsNeverAFormat) {
  EXPECT_EQ(uitext::formatWith(L"Installing Java %s", L"%s%n%x%%"), L"Installing Java %s%n%x%%");
  EXPECT_EQ(uitext::formatWith(L"Downloading %s %%s", L"Vexa"), L"Downloading Vexa %s");
  // The first stage is formatted twice: product name, then progress.
  EXPECT_EQ(uitext::formatWith(uitext::formatWith(L"Downloading %s %%s", L"Vexa"), L"42.5%"),
            L"Downloading Vexa 42.5%");
  EXPECT_EQ(uitext::formatWith(L"no argument %d", L"x"), L"no argument %d");
  EXPECT_EQ(uitext::formatWith(L"trailing %", L"x"), L"trailing %");
}

TEST(UiText, OnlyWebAddressesAreLinks) {
  for (const wchar_t* ok : {L"http://a.example/x", L"HTTPS://a.example", L"hTtP://127.0.0.1:1/terms"})
    EXPECT_TRUE(uitext::isWebAddress(ok)) << ok;
  for (const wchar_t* bad : {L"", L"http://", L"https:///etc", L"http:\\\\share\\x", L"file:///C:/x.exe",
                             L"C:\\Windows\\calc.exe", L"\\\\server\\share\\a.exe", L"javascript:alert(1)",
                             L" http://a.example", L"http://a.example/\"x\" /c", L"http://a\r\nb", L"ftp://a.example",
                             L"httpx://a.example", L"http:/a.example"})
    EXPECT_FALSE(uitext::isWebAddress(bad)) << bad;
}

TEST(UiText, PercentHasOneDecimal) {
  EXPECT_EQ(uitext::percentText(42.5f), L"42.5%");
  EXPECT_EQ(uitext::percentText(100.0f), L"100.0%");
  EXPECT_EQ(uitext::percentText(0.04f), L"0.0%");
}

TEST(UiText, PercentRoundsTenthsAsPrintfDoes) {
  // Exact halves go to the even tenth; 0.35f lies just below its half.
  EXPECT_EQ(uitext::percentText(0.25f), L"0.2%");
  EXPECT_EQ(uitext::percentText(0.75f), L"0.8%");
  EXPECT_EQ(uitext::percentText(0.35f), L"0.3%");
  EXPECT_EQ(uitext::percentText(0.05f), L"0.1%");
  EXPECT_EQ(uitext::percentText(99.94f), L"99.9%");
  EXPECT_EQ(uitext::percentText(99.96f), L"100.0%");
  EXPECT_EQ(uitext::percentText(-0.04f), L"-0.0%");
  EXPECT_EQ(uitext::percentText(16777216.0f), L"16777216.0%");
  // Beyond any integer type: every digit of the float is written.
  EXPECT_EQ(uitext::percentText(1e20f), L"100000002004087734272.0%");
  EXPECT_EQ(uitext::percentText(std::numeric_limits<float>::infinity()), L"inf%");
  EXPECT_EQ(uitext::percentText(-std::numeric_limits<float>::infinity()), L"-inf%");
  EXPECT_EQ(uitext::percentText(std::numeric_limits<float>::quiet_NaN()), L"nan%");
}

TEST(StageProgress, PercentThenDoneAndTicksIgnoredAfterwards) {
  StageProgress stage(L"Installing Java %s");
  EXPECT_EQ(stage.text(), L"Installing Java ");
  auto u = stage.onProgress(42, 42.5f);
  EXPECT_TRUE(u.textChanged);
  EXPECT_EQ(u.look, StageProgress::Look::kActive);
  EXPECT_EQ(stage.text(), L"Installing Java 42.5%");
  EXPECT_FALSE(stage.onProgress(42, 42.5f).textChanged);
  EXPECT_FALSE(stage.onTick().textChanged);
  EXPECT_EQ(stage.text(), L"Installing Java 42.5%");
  u = stage.onProgress(100, 100.0f);
  EXPECT_EQ(u.look, StageProgress::Look::kDone);
  EXPECT_EQ(stage.text(), L"Installing Java 100.0%");
  // 99 with an exact 100 is not done; 100 is decided by the whole percent.
  StageProgress other(L"%s");
  EXPECT_EQ(other.onProgress(99, 100.0f).look, StageProgress::Look::kActive);
}

TEST(StageProgress, AFailedStageKeepsItsMarkUntilReset) {
  StageProgress stage(L"Downloading Vexa %s");
  stage.onProgress(40, 40.0f);
  auto u = stage.onFailed(L"%s \u2014 error");
  EXPECT_TRUE(u.textChanged);
  EXPECT_EQ(u.look, StageProgress::Look::kActive);
  EXPECT_EQ(stage.text(), L"Downloading Vexa \u2014 error");
  // Reports that arrive late never tick a failed stage.
  u = stage.onProgress(100, 100.0f);
  EXPECT_EQ(u.look, StageProgress::Look::kUnchanged);
  EXPECT_FALSE(stage.onTick().textChanged);
  EXPECT_EQ(stage.text(), L"Downloading Vexa \u2014 error");
  // A percent sign in the stage's own text is not a format.
  StageProgress odd(L"100%% sure %s");
  odd.onFailed(L"%s!");
  EXPECT_EQ(odd.text(), L"100% sure!");
  EXPECT_TRUE(stage.reset().textChanged);
  EXPECT_FALSE(stage.failed());
  EXPECT_EQ(stage.text(), L"Downloading Vexa ");
  EXPECT_EQ(stage.onProgress(100, 100.0f).look, StageProgress::Look::kDone);
}

TEST(UiText, CauseSentencesComeFromTheTableWithTheirFigures) {
  auto lookup = [](const wchar_t* key) -> std::wstring {
    const std::wstring k = key;
    if (k == L"NOT_ENOUGH_DISK_SPACE") return L"Not enough free disk space: %s MB are required";
    if (k == L"CAUSE_NOT_WRITABLE") return L"The folder %s cannot be written";
    if (k == L"CAUSE_SERVER") return L"The server %s errs";
    return L"<" + k + L">";
  };
  EXPECT_EQ(uitext::causeSentence(failure::diskSpace(L"D:\\", 3 * 1048576ull + 1, 1048576), lookup),
            L"Not enough free disk space: 4 MB are required");
  EXPECT_EQ(uitext::causeSentence(failure::notWritable(L"C:\\100%s", L"denied"), lookup),
            L"The folder C:\\100%s cannot be written");
  EXPECT_EQ(uitext::causeSentence(failure::server(L"h:1", 503), lookup), L"The server h:1 errs");
  EXPECT_EQ(uitext::causeSentence(failure::network(L"h"), lookup), L"<NO_INTERNET_CONNECTION>");
  EXPECT_EQ(uitext::causeSentence(failure::damaged(L"p", L""), lookup), L"<CAUSE_DAMAGED>");
  EXPECT_EQ(uitext::causeSentence(failure::runtime(L""), lookup), L"<CAUSE_RUNTIME>");
  EXPECT_EQ(uitext::causeSentence(failure::cancelled(), lookup), L"");
  EXPECT_EQ(uitext::causeSentence(failure::Failure(), lookup), L"");
}

TEST(StageProgress, DotsCycleOneToFive) {
  StageProgress stage(L"Downloading Vexa %s");
  const wchar_t* expected[] = {L".", L"..", L"...", L"....", L".....", L".", L".."};
  for (const wchar_t* dots : expected) {
    stage.onTick();
    EXPECT_EQ(stage.text(), std::wstring(L"Downloading Vexa ") + dots);
  }
  // A zero report shows the bare format and keeps ticking allowed.
  stage.onProgress(0, 0.0f);
  EXPECT_EQ(stage.text(), L"Downloading Vexa ");
  stage.onTick();
  EXPECT_EQ(stage.text(), L"Downloading Vexa ...");
}

TEST(StageProgress, HostileStageTextIsCutAndNotInterpreted) {
  StageProgress stage(std::wstring(300, L'x') + L"%s");
  EXPECT_EQ(stage.text().size(), 255u);
  StageProgress formats(L"%n%p%s");
  formats.onProgress(10, 10.0f);
  EXPECT_EQ(formats.text(), L"%n%p10.0%");
}

namespace {
struct P { int id; };
}  // namespace

TEST(PageFlow, InstallModeNeverDuplicatesSettings) {
  P main{0}, settings{1}, partner{2};
  PageFlow<P> flow;
  flow.append(&main);
  flow.append(&settings);
  flow.setCurrent(&main);
  flow.applyInstallMode(true, &settings);
  EXPECT_EQ(flow.pages(), (std::vector<P*>{&main}));
  flow.append(&partner);
  flow.applyInstallMode(false, &settings);
  flow.applyInstallMode(false, &settings);
  EXPECT_EQ(flow.pages(), (std::vector<P*>{&main, &settings, &partner}));
  flow.applyInstallMode(true, &settings);
  flow.applyInstallMode(true, &settings);
  EXPECT_EQ(flow.pages(), (std::vector<P*>{&main, &partner}));
}

TEST(PageFlow, ButtonsFollowThePosition) {
  P main{0}, settings{1};
  PageFlow<P> flow;
  flow.append(&main);
  flow.setCurrent(&main);
  WizardButtons b = flow.buttons(false);
  EXPECT_TRUE(b.nextIsFinish);
  EXPECT_FALSE(b.nextEnabled);
  EXPECT_FALSE(b.backEnabled);
  EXPECT_TRUE(flow.buttons(true).nextEnabled);

  flow.applyInstallMode(false, &settings);
  b = flow.buttons(false);
  EXPECT_FALSE(b.nextIsFinish);
  EXPECT_TRUE(b.nextEnabled);
  EXPECT_EQ(flow.following(), &settings);
  EXPECT_EQ(flow.preceding(), nullptr);
  flow.setCurrent(&settings);
  b = flow.buttons(false);
  EXPECT_TRUE(b.nextIsFinish);
  EXPECT_FALSE(b.nextEnabled);
  EXPECT_TRUE(b.backEnabled);
  EXPECT_EQ(flow.preceding(), &main);
  // The current page left the list (quick mode chosen elsewhere).
  flow.applyInstallMode(true, &settings);
  EXPECT_EQ(flow.following(), nullptr);
}

TEST(ImageFit, ScalesDownEvenlyNeverUp) {
  ImageSize s = fitImage(600, 300, 300, 200);
  EXPECT_EQ(s.width, 300);
  EXPECT_EQ(s.height, 150);
  s = fitImage(100, 50, 300, 200);
  EXPECT_EQ(s.width, 100);
  EXPECT_EQ(s.height, 50);
  s = fitImage(300, 400, 300, 200);  // height decides
  EXPECT_EQ(s.width, 150);
  EXPECT_EQ(s.height, 200);
  s = fitImage(300, 200, 300, 200);  // exactly the limits
  EXPECT_EQ(s.width, 300);
  EXPECT_EQ(s.height, 200);
}

#include "ui/OptionRules.h"

namespace {
std::vector<PinstallOption> offerOptions() {
  std::vector<PinstallOption> o(4);
  o[0].name = L"browser";
  o[1].name = L"homepage";
  o[1].dependsOn = L"browser";
  o[2].name = L"search";
  o[2].dependsOn = L"browser";
  o[3].name = L"bar";
  return o;
}
}  // namespace

TEST(OptionRules, DependantsFollowTheirMainOption) {
  auto o = offerOptions();
  auto changed = optionrules::choose(o, 0, false);
  ASSERT_EQ(changed.size(), 2u);
  EXPECT_EQ(changed[0].first, 1u);
  EXPECT_FALSE(changed[0].second.checked);
  EXPECT_FALSE(changed[0].second.enabled);
  EXPECT_FALSE(o[1].chosen);
  EXPECT_FALSE(o[2].chosen);
  EXPECT_TRUE(o[3].chosen);  // independent
  changed = optionrules::choose(o, 0, true);
  ASSERT_EQ(changed.size(), 2u);
  EXPECT_TRUE(changed[1].second.enabled);
  EXPECT_TRUE(o[1].chosen && o[2].chosen);
  // A dependant unchecked alone touches nobody.
  EXPECT_TRUE(optionrules::choose(o, 1, false).empty());
  EXPECT_FALSE(o[1].chosen);
  EXPECT_TRUE(optionrules::choose(o, 9, false).empty());
}

TEST(OptionRules, DependantOfAnUntickedOptionStaysLocked) {
  auto o = offerOptions();
  optionrules::choose(o, 0, false);
  EXPECT_TRUE(optionrules::editable(o, 0));
  EXPECT_FALSE(optionrules::editable(o, 1));
  EXPECT_FALSE(optionrules::editable(o, 2));
  EXPECT_TRUE(optionrules::editable(o, 3));
  optionrules::choose(o, 0, true);
  EXPECT_TRUE(optionrules::editable(o, 1));
  o[3].dependsOn = L"nosuch";  // following nothing there is: free
  EXPECT_TRUE(optionrules::editable(o, 3));
}

TEST(OptionRules, EmptyNamesLinkNothing) {
  std::vector<PinstallOption> o(2);
  o[1].dependsOn = L"";
  EXPECT_TRUE(optionrules::choose(o, 0, false).empty());
  EXPECT_TRUE(o[1].chosen);
}

TEST(OptionRules, FullInstallChoosesEverythingAgain) {
  auto o = offerOptions();
  optionrules::choose(o, 0, false);
  o[3].chosen = false;
  optionrules::applyFullInstall(o, false);
  EXPECT_FALSE(o[3].chosen);
  optionrules::applyFullInstall(o, true);
  for (const auto& option : o) EXPECT_TRUE(option.chosen);
}
