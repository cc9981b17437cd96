// Install tests without Windows: how the JSON becomes testers, which
// registry view is asked when, placeholders, the version table and the
// value conversion.
#include "pinstall/InstallTests.h"

#include <gtest/gtest.h>

#include "FakeInstallTestSystem.h"
#include "TestFiles.h"
#include "app/Log.h"

using pinstall::PathKind;
using pinstall::RegRoot;
using pinstall::RegView;
using pinstalltest::FakeInstallTestSystem;

namespace {

class InstallTestsTest : public ::testing::Test {
 protected:
  std::unique_ptr<pinstall::TestSet> parse(const std::wstring& text) {
    return pinstall::parseInstallTests(text, &log_, system_);
  }
  std::string logText() { return testfiles::readFile(log_.path()); }

  testfiles::ScratchDir dir_;
  Log log_ = Log::atPath(dir_.path() + L"/tests.log");
  FakeInstallTestSystem system_;
};

}  // namespace

TEST_F(InstallTestsTest, NoTextEmptyArrayAndNonJsonAllGiveAnEmptyFalseSet) {
  auto none = parse(L"");
  EXPECT_FALSE(none->test());
  EXPECT_EQ(none->firedIndex(), -1);
  EXPECT_EQ(logText(), "");  // no text: not even the start line

  auto empty = parse(L"[]");
  EXPECT_EQ(empty->size(), 0u);
  EXPECT_FALSE(empty->test());
  EXPECT_EQ(empty->firedIndex(), -1);
  EXPECT_NE(logText().find("Start parse install test json: []"), std::string::npos);

  auto broken = parse(L"this is not json");
  EXPECT_EQ(broken->size(), 0u);
  EXPECT_FALSE(broken->test());
  EXPECT_NE(logText().find("ERROR"), std::string::npos);
  EXPECT_NE(logText().find("Can't parse install test json"), std::string::npos);
}

TEST_F(InstallTestsTest, UnknownTypesAndNonObjectsAddNothingAndAnObjectHasNoElements) {
  EXPECT_EQ(parse(LR"([{"type":"File_exist","path":"x"},"file_exist",7,[],{"path":"x"}])")->size(), 0u);
  EXPECT_EQ(parse(LR"({"type":"file_exist","path":"x"})")->size(), 0u);
  EXPECT_EQ(logText().find("ERROR"), std::string::npos);
}

TEST_F(InstallTestsTest, FiredIndexCountsEveryTesterAndTheFirstTrueWins) {
  system_.paths[L"C:\\windows\\notepad.exe"] = PathKind::kFile;
  system_.paths[L"C:\\a"] = PathKind::kFolder;
  auto set = parse(LR"([{"type":"file_exist","path":"C:\\missing"},
                        {"type":"folder_exist","path":"C:\\windows\\notepad.exe"},
                        {"type":"file_exist","path":"${windir}\\notepad.exe"},
                        {"type":"folder_exist","path":"C:\\a"}])");
  ASSERT_EQ(set->size(), 4u);
  EXPECT_TRUE(set->test());
  EXPECT_EQ(set->firedIndex(), 2);
  // The fourth is never asked once the third held.
  EXPECT_EQ(system_.asked.back(), L"path:C:\\windows\\notepad.exe");
}

TEST_F(InstallTestsTest, WindirProgramFiresAtIndexZero) {
  system_.paths[L"C:\\windows\\regedit.exe"] = PathKind::kFile;
  auto set = parse(LR"([{"type":"file_exist","path":"${windir}\\regedit.exe"}])");
  EXPECT_TRUE(set->test());
  EXPECT_EQ(set->firedIndex(), 0);
}

TEST_F(InstallTestsTest, FileAndFolderTestsTellTheKindsApart) {
  system_.paths[L"C:\\f"] = PathKind::kFile;
  system_.paths[L"C:\\d"] = PathKind::kFolder;
  EXPECT_TRUE(parse(LR"([{"type":"file_exist","path":"C:\\f"}])")->test());
  EXPECT_FALSE(parse(LR"([{"type":"file_exist","path":"C:\\d"}])")->test());
  EXPECT_TRUE(parse(LR"([{"type":"folder_exist","path":"C:\\d"}])")->test());
  EXPECT_FALSE(parse(LR"([{"type":"folder_exist","path":"C:\\f"}])")->test());
  EXPECT_FALSE(parse(LR"([{"type":"folder_exist","path":"C:\\none"}])")->test());
}

TEST_F(InstallTestsTest, RootNamesAreExactAndAnythingElseIsTheCurrentUser) {
  EXPECT_EQ(pinstall::rootKeyFromName(L"HKEY_CLASSES_ROOT"), RegRoot::kClassesRoot);
  EXPECT_EQ(pinstall::rootKeyFromName(L"HKEY_LOCAL_MACHINE"), RegRoot::kLocalMachine);
  EXPECT_EQ(pinstall::rootKeyFromName(L"HKEY_USERS"), RegRoot::kUsers);
  EXPECT_EQ(pinstall::rootKeyFromName(L"HKEY_CURRENT_USER"), RegRoot::kCurrentUser);
  EXPECT_EQ(pinstall::rootKeyFromName(L"hkey_local_machine"), RegRoot::kCurrentUser);
  EXPECT_EQ(pinstall::rootKeyFromName(L"HKLM"), RegRoot::kCurrentUser);
  EXPECT_EQ(pinstall::rootKeyFromName(L""), RegRoot::kCurrentUser);

  system_.keys[{RegRoot::kCurrentUser, L"Software\\P"}] = true;
  EXPECT_TRUE(parse(LR"([{"type":"has_reg_subKey","hkey":"hkey_local_machine","subKey":"Software\\P"}])")->test());
  EXPECT_FALSE(parse(LR"([{"type":"has_reg_subKey","hkey":"HKEY_LOCAL_MACHINE","subKey":"Software\\P"}])")->test());
}

TEST_F(InstallTestsTest, RegValueAsksTheDefaultViewThenThe64BitView) {
  system_.texts[{RegRoot::kLocalMachine, L"Software\\P", L"v", RegView::k64}] = L"here";
  auto set = parse(LR"([{"type":"has_reg_val","hkey":"HKEY_LOCAL_MACHINE","subKey":"Software\\P","valueName":"v"}])");
  EXPECT_TRUE(set->test());
  EXPECT_EQ(system_.asked, (std::vector<std::wstring>{L"text:0", L"text:64"}));

  system_.asked.clear();
  system_.texts[{RegRoot::kLocalMachine, L"Software\\P", L"v", RegView::kDefault}] = L"first";
  EXPECT_TRUE(set->test());
  EXPECT_EQ(system_.asked, (std::vector<std::wstring>{L"text:0"}));

  // A DWORD value does not read as text: the test is false.
  system_.dwords[{RegRoot::kCurrentUser, L"Software\\P", L"d", RegView::kDefault}] = 5;
  EXPECT_FALSE(parse(LR"([{"type":"has_reg_val","subKey":"Software\\P","valueName":"d"}])")->test());
}

TEST_F(InstallTestsTest, SubKeyTestNeverAsksThe64BitView) {
  auto set = parse(LR"([{"type":"has_reg_subKey","hkey":"HKEY_USERS","subKey":"S"}])");
  EXPECT_FALSE(set->test());
  EXPECT_EQ(system_.asked, (std::vector<std::wstring>{L"key"}));
}

TEST_F(InstallTestsTest, DwordNotEqCountsMissingAsZeroAndReadsTheValueAsText) {
  // "value" as a JSON number is not a string: the expected value is 0, and a
  // missing value (0) is then equal in both views.
  auto number = parse(LR"([{"type":"dword_not_eq","subKey":"S","valueName":"d","value":5}])");
  EXPECT_FALSE(number->test());
  EXPECT_EQ(system_.asked, (std::vector<std::wstring>{L"dword:0", L"dword:64"}));
  system_.dwords[{RegRoot::kCurrentUser, L"S", L"d", RegView::kDefault}] = 5;
  EXPECT_TRUE(number->test());  // 5 differs from 0

  // Equal in the default view, missing (0) in the 64-bit one: different.
  EXPECT_TRUE(parse(LR"([{"type":"dword_not_eq","subKey":"S","valueName":"d","value":" +5xyz"}])")->test());
  system_.dwords[{RegRoot::kCurrentUser, L"S", L"d", RegView::k64}] = 5;
  EXPECT_FALSE(parse(LR"([{"type":"dword_not_eq","subKey":"S","valueName":"d","value":" +5xyz"}])")->test());
  system_.dwords[{RegRoot::kCurrentUser, L"S", L"d", RegView::k64}] = 6;
  EXPECT_TRUE(parse(LR"([{"type":"dword_not_eq","subKey":"S","valueName":"d","value":"5"}])")->test());
  // -1 is the all-ones DWORD.
  system_.dwords[{RegRoot::kCurrentUser, L"S", L"m", RegView::kDefault}] = 0xFFFFFFFFu;
  system_.dwords[{RegRoot::kCurrentUser, L"S", L"m", RegView::k64}] = 0xFFFFFFFFu;
  EXPECT_FALSE(parse(LR"([{"type":"dword_not_eq","subKey":"S","valueName":"m","value":"-1"}])")->test());
}

TEST_F(InstallTestsTest, VersionTableHoldsOnlyItsNamesAndUnknownNamesAreTrue) {
  auto seven = parse(LR"([{"type":"not_correct_ver","ver":"IsWindows7SP1OrGreater"}])");
  system_.major = 10, system_.minor = 0, system_.servicePack = 0;
  EXPECT_FALSE(seven->test());
  system_.major = 6, system_.minor = 1, system_.servicePack = 0;
  EXPECT_TRUE(seven->test());
  system_.servicePack = 1;
  EXPECT_FALSE(seven->test());

  EXPECT_TRUE(parse(LR"([{"type":"not_correct_ver","ver":"IsWindows10OrGreater"}])")->test());
  EXPECT_TRUE(parse(LR"([{"type":"not_correct_ver","ver":"iswindows7sp1orgreater"}])")->test());
  EXPECT_TRUE(parse(LR"([{"type":"not_correct_ver","ver":"IsWindows11OrGreater"}])")->test());
  EXPECT_TRUE(parse(LR"([{"type":"not_correct_ver"}])")->test());
  system_.major = 6, system_.minor = 3;
  EXPECT_FALSE(parse(LR"([{"type":"not_correct_ver","ver":"IsWindows8Point1OrGreater"}])")->test());
  EXPECT_FALSE(parse(LR"([{"type":"not_correct_ver","ver":"IsWindowsXPSP3OrGreater"}])")->test());
  EXPECT_FALSE(parse(LR"([{"type":"not_correct_ver","ver":"IsWindowsVistaSP2OrGreater"}])")->test());
}

TEST(InstallTestPlaceholders, KnownNamesExpandOthersVanishLoneDollarsStay) {
  FakeInstallTestSystem system;
  EXPECT_EQ(pinstall::expandPathPlaceholders(L"${windir}\\a", system), L"C:\\windows\\a");
  EXPECT_EQ(pinstall::expandPathPlaceholders(L"${localappdata}\\P\\${windir}", system),
            L"C:\\users\\u\\AppData\\Local\\P\\C:\\windows");
  EXPECT_EQ(pinstall::expandPathPlaceholders(L"C:\\${WINDIR}\\x", system), L"C:\\\\x");
  EXPECT_EQ(pinstall::expandPathPlaceholders(L"C:\\${}x", system), L"C:\\x");
  EXPECT_EQ(pinstall::expandPathPlaceholders(L"C:\\$windir\\$", system), L"C:\\$windir\\$");
  EXPECT_EQ(pinstall::expandPathPlaceholders(L"C:\\${windir", system), L"C:\\${windir");
  EXPECT_EQ(pinstall::expandPathPlaceholders(L"$${windir}", system), L"$C:\\windows");
}

TEST(InstallTestValues, TextToLongLikeTheRuntimeLibrary) {
  EXPECT_EQ(pinstall::textToLong(L""), 0);
  EXPECT_EQ(pinstall::textToLong(L"abc"), 0);
  EXPECT_EQ(pinstall::textToLong(L"  \t-42z"), -42);
  EXPECT_EQ(pinstall::textToLong(L"+7"), 7);
  EXPECT_EQ(pinstall::textToLong(L"- 7"), 0);
  EXPECT_EQ(pinstall::textToLong(L"2147483647"), 2147483647);
  EXPECT_EQ(pinstall::textToLong(L"2147483648"), 2147483647);
  EXPECT_EQ(pinstall::textToLong(L"-2147483648"), INT32_MIN);
  EXPECT_EQ(pinstall::textToLong(L"-99999999999999999999999"), INT32_MIN);
}
