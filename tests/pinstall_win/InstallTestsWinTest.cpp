// Install tests against the real registry and file system of the Wine
// prefix. On a 64-bit prefix (this program is 32-bit) they also show the two
// registry views and the file-system redirection.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "TestFiles.h"
#include "app/Log.h"
#include "pinstall/InstallTests.h"
#include "pinstall/win32/InstallTestSystemWin32.h"

namespace {

const wchar_t kKey[] = L"Software\\VexaInstallTestScratch";

bool isWow64() {
  BOOL wow = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

void setValue(HKEY root, REGSAM view, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

void setText(HKEY root, REGSAM view, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  setValue(root, view, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void deleteScratch(HKEY root, REGSAM view) {
  HKEY parent = nullptr;
  if (RegOpenKeyExW(root, L"Software", 0, KEY_ALL_ACCESS | view, &parent) != ERROR_SUCCESS) return;
  RegDeleteTreeW(parent, L"VexaInstallTestScratch");
  RegCloseKey(parent);
}

class InstallTestsWin : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    deleteScratch(HKEY_CURRENT_USER, 0);
    deleteScratch(HKEY_LOCAL_MACHINE, 0);
    deleteScratch(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
  }
  bool run(const std::wstring& json, int* fired = nullptr) {
    auto set = pinstall::parseInstallTests(json, &log_, pinstall::windowsInstallTestSystem());
    bool result = set->test();
    if (fired) *fired = set->firedIndex();
    return result;
  }

  testfiles::ScratchDir dir_;
  Log log_ = Log::atPath(dir_.path() + L"\\tests.log");
};

}  // namespace

TEST_F(InstallTestsWin, WindirProgramEveryWindowsHasFiresAtIndexZero) {
  int fired = -1;
  EXPECT_TRUE(run(LR"([{"type":"file_exist","path":"${windir}\\notepad.exe"},{"type":"not_correct_ver","ver":"x"}])",
                  &fired));
  EXPECT_EQ(fired, 0);
  EXPECT_FALSE(run(LR"([{"type":"file_exist","path":"${windir}"}])"));
  EXPECT_TRUE(run(LR"([{"type":"folder_exist","path":"${windir}"}])"));
  EXPECT_TRUE(run(LR"([{"type":"folder_exist","path":"${localappdata}"}])"));
  EXPECT_FALSE(run(LR"([{"type":"folder_exist","path":"${nosuchname}\\windows"}])"));
}

TEST_F(InstallTestsWin, FullAndLowerCaseRootNamesBothMeanTheCurrentUser) {
  setText(HKEY_CURRENT_USER, 0, L"v", L"yes");
  std::wstring body = LR"(","subKey":"Software\\VexaInstallTestScratch","valueName":"v"}])";
  EXPECT_TRUE(run(LR"([{"type":"has_reg_val","hkey":"HKEY_CURRENT_USER)" + body));
  EXPECT_TRUE(run(LR"([{"type":"has_reg_val","hkey":"hkey_local_machine)" + body));
  EXPECT_FALSE(run(LR"([{"type":"has_reg_val","hkey":"HKEY_LOCAL_MACHINE)" + body));
  EXPECT_TRUE(run(LR"([{"type":"has_reg_subKey","hkey":"","subKey":"Software\\VexaInstallTestScratch"}])"));
}

TEST_F(InstallTestsWin, RegistryTextTypes) {
  DWORD five = 5;
  setValue(HKEY_CURRENT_USER, 0, L"dw", REG_DWORD, &five, sizeof(five));
  setText(HKEY_CURRENT_USER, 0, L"empty", L"");
  setText(HKEY_CURRENT_USER, 0, L"exp", L"%WINDIR%", REG_EXPAND_SZ);
  const char bytes[] = {'h', 0, 'i', 0};
  setValue(HKEY_CURRENT_USER, 0, L"bin", REG_BINARY, bytes, sizeof(bytes));
  setText(HKEY_CURRENT_USER, 0, L"big", std::wstring(600, L'x'));        // 1202 bytes: over the buffer
  setText(HKEY_CURRENT_USER, 0, L"fits", std::wstring(511, L'x'));       // 1024 bytes with the terminator
  SetEnvironmentVariableW(L"VEXA_TEST_LONG", std::wstring(300, L'z').c_str());
  std::wstring grows;
  for (int i = 0; i < 10; ++i) grows += L"%VEXA_TEST_LONG%";
  setText(HKEY_CURRENT_USER, 0, L"grows", grows, REG_EXPAND_SZ);  // 3000 characters once expanded
  auto& system = pinstall::windowsInstallTestSystem();
  auto text = [&](const wchar_t* name) {
    return system.regText(pinstall::RegRoot::kCurrentUser, kKey, name, pinstall::RegView::kDefault);
  };
  EXPECT_EQ(text(L"dw"), L"");
  EXPECT_EQ(text(L"empty"), L"");
  EXPECT_EQ(text(L"exp").find(L'%'), std::wstring::npos) << text(L"exp");
  EXPECT_FALSE(text(L"exp").empty());
  EXPECT_EQ(text(L"bin"), L"hi");
  EXPECT_EQ(text(L"big"), L"");
  EXPECT_EQ(text(L"fits").size(), 511u);
  EXPECT_GT(text(L"grows").size(), 1023u);  // expanded past the reading buffer: still present
  EXPECT_EQ(text(L"missing"), L"");

  std::wstring prefix = LR"([{"type":"has_reg_val","subKey":"Software\\VexaInstallTestScratch","valueName":")";
  EXPECT_FALSE(run(prefix + L"dw\"}]"));  // a DWORD is not text
  EXPECT_FALSE(run(prefix + L"big\"}]"));
  EXPECT_TRUE(run(prefix + L"grows\"}]"));
}

TEST_F(InstallTestsWin, DwordNotEqWithANumberValueComparesWithZero) {
  std::wstring json = LR"([{"type":"dword_not_eq","subKey":"Software\\VexaInstallTestScratch","valueName":"d","value":7}])";
  EXPECT_FALSE(run(json));  // missing reads as 0, and 7 as a number is 0
  DWORD seven = 7;
  setValue(HKEY_CURRENT_USER, 0, L"d", REG_DWORD, &seven, sizeof(seven));
  EXPECT_TRUE(run(json));
  EXPECT_FALSE(run(LR"([{"type":"dword_not_eq","subKey":"Software\\VexaInstallTestScratch","valueName":"d","value":"7"}])"));
}

TEST_F(InstallTestsWin, VersionPredicates) {
  EXPECT_FALSE(run(LR"([{"type":"not_correct_ver","ver":"IsWindowsXPSP1OrGreater"}])"));
  EXPECT_FALSE(run(LR"([{"type":"not_correct_ver","ver":"IsWindowsVistaSP2OrGreater"}])"));
  EXPECT_TRUE(run(LR"([{"type":"not_correct_ver","ver":"IsWindows95OrGreater"}])"));
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExW(&info));
#pragma GCC diagnostic pop
  EXPECT_EQ(run(LR"([{"type":"not_correct_ver","ver":"IsWindows10OrGreater"}])"), info.dwMajorVersion < 10);
}

TEST_F(InstallTestsWin, SixtyFourBitViewFoundByValueTestButNotBySubKeyTest) {
  if (!isWow64()) GTEST_SKIP() << "not a 32-bit program on 64-bit Windows";
  setText(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"only64", L"x");
  DWORD nine = 9;
  setValue(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"d64", REG_DWORD, &nine, sizeof(nine));
  // The 32-bit view really lacks the key.
  HKEY probe = nullptr;
  ASSERT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &probe), ERROR_SUCCESS);

  EXPECT_TRUE(run(LR"([{"type":"has_reg_val","hkey":"HKEY_LOCAL_MACHINE","subKey":"Software\\VexaInstallTestScratch","valueName":"only64"}])"));
  EXPECT_FALSE(run(LR"([{"type":"has_reg_subKey","hkey":"HKEY_LOCAL_MACHINE","subKey":"Software\\VexaInstallTestScratch"}])"));
  // 9 only in the 64-bit view: the default view reads 0 (equal to 0), the
  // 64-bit view differs.
  EXPECT_TRUE(run(LR"([{"type":"dword_not_eq","hkey":"HKEY_LOCAL_MACHINE","subKey":"Software\\VexaInstallTestScratch","valueName":"d64","value":"0"}])"));
  // Expecting 9: the default view's missing value (0) already differs.
  EXPECT_TRUE(run(LR"([{"type":"dword_not_eq","hkey":"HKEY_LOCAL_MACHINE","subKey":"Software\\VexaInstallTestScratch","valueName":"d64","value":"9"}])"));
}

TEST_F(InstallTestsWin, FileTestsSeeTheRealSystemFolderWithRedirectionOff) {
  if (!isWow64()) GTEST_SKIP() << "not a 32-bit program on 64-bit Windows";
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  std::wstring file = std::wstring(windows) + L"\\system32\\vexa_only64_probe.txt";
  std::wstring folder = std::wstring(windows) + L"\\system32\\vexa_only64_dir";
  PVOID previous = nullptr;
  ASSERT_TRUE(Wow64DisableWow64FsRedirection(&previous));
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  bool made = h != INVALID_HANDLE_VALUE && CreateDirectoryW(folder.c_str(), nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  Wow64RevertWow64FsRedirection(previous);
  ASSERT_TRUE(made);

  // Redirected, this program's system32 is the 32-bit one, without them.
  EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(run(LR"([{"type":"file_exist","path":"${windir}\\system32\\vexa_only64_probe.txt"}])"));
  EXPECT_TRUE(run(LR"([{"type":"folder_exist","path":"${windir}\\system32\\vexa_only64_dir"}])"));
  // ... and redirection is back on afterwards.
  EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);

  Wow64DisableWow64FsRedirection(&previous);
  DeleteFileW(file.c_str());
  RemoveDirectoryW(folder.c_str());
  Wow64RevertWow64FsRedirection(previous);
}
