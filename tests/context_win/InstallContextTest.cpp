#include <gtest/gtest.h>

#include <windows.h>

#include "TestFiles.h"
#include "app/Log.h"
#include "app/StringTable.h"
#include "app/win32/Files.h"
#include "app/win32/Registry.h"
#include "app/win32/ShellFolders.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"

namespace {
const wchar_t kProductKey[] = L"Software\\Vexa";

class InstallContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
    log_path_ = dir_.path() + L"\\ctx.log";
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey); }

  std::string logText() { return testfiles::readFile(log_path_); }
  void installFiles(const std::wstring& folder, bool withDll) {
    files::createFolderTree(folder);
    testfiles::writeFile(folder + L"\\Vexa.exe", "exe");
    testfiles::writeFile(folder + L"\\Vexa.jar", "jar");
    if (withDll) testfiles::writeFile(folder + L"\\vreg.dll", "dll");
  }

  testfiles::ScratchDir dir_;
  std::wstring log_path_;
};
}  // namespace

TEST_F(InstallContextTest, MissingExecDefaultsToProgramFilesAndIsNotInstalled) {
  Log log = Log::atPath(log_path_);
  VexaInstallContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  EXPECT_FALSE(context.isInstalled());
  context.readInstallFolder();
  EXPECT_EQ(context.installFolder(), shellfolders::programFiles() + L"\\Vexa");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kProductKey, L"exec"),
            shellfolders::programFiles() + L"\\Vexa\\Vexa.exe");
  EXPECT_FALSE(context.isInstalled());
}

// A folder the system cannot take would install into "" - the drive's root.
TEST_F(InstallContextTest, AnOverlongInstallFolderIsRefusedAndTheDefaultKept) {
  Log log = Log::atPath(log_path_);
  VexaInstallContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  context.prepare();
  const std::wstring fallback = shellfolders::programFiles() + L"\\Vexa";
  std::wstring longest = L"D:\\" + std::wstring(InstallContext::kFolderCapacity - 4, L'a');  // 259 characters
  EXPECT_TRUE(context.setInstallFolder(longest + L"\\"));
  EXPECT_EQ(context.installFolder(), longest);
  context.setInstallFolder(fallback);
  EXPECT_FALSE(context.setInstallFolder(longest + L"a"));
  EXPECT_FALSE(context.setInstallFolder(L"\\"));
  EXPECT_EQ(context.installFolder(), fallback);
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kProductKey, L"exec"), fallback + L"\\Vexa.exe");
  EXPECT_NE(logText().find("ERROR : [DEF] : Install folder refused (260 characters, at most 259)"), std::string::npos)
      << logText();
}

// Only an empty file in the data folder's place is a leftover; a user's file
// stays for the install's blocking-file check.
TEST_F(InstallContextTest, PrepareKeepsAUsersFileInPlaceOfTheDataFolder) {
  Log log = Log::atPath(log_path_);
  std::wstring data = shellfolders::roamingAppData() + L"\\Vexa";
  files::deleteFolderTree(data);
  VexaInstallContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  testfiles::writeFile(data, "the user's notes");
  context.prepare();
  EXPECT_EQ(testfiles::readFile(data), "the user's notes");
  EXPECT_NE(logText().find("it is kept: "), std::string::npos) << logText();
  DeleteFileW(data.c_str());
  testfiles::writeFile(data, "");
  context.prepare();
  EXPECT_TRUE(files::isFolder(data));
  EXPECT_NE(logText().find("Empty file in place of the data folder removed"), std::string::npos) << logText();
}

TEST_F(InstallContextTest, InstalledOnlyWithAllThreeFilesAndTheCompletionMark) {
  Log log = Log::atPath(log_path_);
  std::wstring folder = dir_.path() + L"\\Vexa";
  installFiles(folder, false);
  registry::writeText(HKEY_CURRENT_USER, kProductKey, L"exec", folder + L"\\Vexa.exe");
  registry::writeDword(HKEY_CURRENT_USER, kProductKey, VexaInstallContext::kCompleteValue, 1);
  VexaInstallContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  EXPECT_FALSE(context.isInstalled());
  context.prepare();
  EXPECT_EQ(context.installMode, InstallContext::kFreshInstall);
  EXPECT_EQ(context.installFolder(), folder);

  testfiles::writeFile(folder + L"\\vreg.dll", "dll");
  EXPECT_TRUE(context.isInstalled());
  context.prepare();
  EXPECT_EQ(context.installMode, InstallContext::kReinstall);

  // Files in place without the mark are an install that broke off.
  context.markInstallComplete(false);
  EXPECT_FALSE(context.isInstalled());
  registry::writeDword(HKEY_CURRENT_USER, kProductKey, VexaInstallContext::kCompleteValue, 2);
  EXPECT_FALSE(context.isInstalled());
  context.markInstallComplete(true);
  EXPECT_TRUE(context.isInstalled());
  EXPECT_TRUE(files::isFolder(context.workFolder()));
  EXPECT_FALSE(context.downloadFolder().empty());
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kProductKey, L"DownloadsDir"), context.downloadFolder());
}

TEST_F(InstallContextTest, PidOptionInstallKeyAndIds) {
  Log log = Log::atPath(log_path_);
  VexaInstallContext a(L"/pid 1234 /installKey key7", &log);
  a.setOffers(new PinstallContainerComposited(a, &log));
  EXPECT_EQ(a.pid, L"1234");
  EXPECT_EQ(a.installKey(), L"key7");
  EXPECT_NE(logText().find("Replace PID from commandline old=, new=1234"), std::string::npos);
  EXPECT_NE(logText().find("installKey from commangLine=key7"), std::string::npos);
  EXPECT_EQ(a.modeExtension, L"args[/pid 1234 /installKey key7 ]");
  VexaInstallContext b(L"/pid " + std::wstring(64, L'9'), &log);
  b.setOffers(new PinstallContainerComposited(b, &log));
  EXPECT_EQ(b.pid, L"");  // too long for its field
  EXPECT_NE(a.installId, b.installId);
  EXPECT_EQ(a.installId.size(), 36u);
  // One i_user_id per user, kept across runs.
  EXPECT_EQ(a.identity().iUserId(), b.identity().iUserId());
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, L"Software\\Pinstall", L"i_user_id"), a.identity().iUserId());
}

TEST_F(InstallContextTest, MissingNotesAndLeftoverFile) {
  Log log = Log::atPath(log_path_);
  std::wstring leftover = shellfolders::roamingAppData() + L"\\Vexa";
  files::deleteFolderTree(leftover);
  testfiles::writeFile(leftover, "");
  VexaInstallContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  EXPECT_FALSE(files::exists(leftover));
  EXPECT_NE(logText().find("File is deleted"), std::string::npos);

  EXPECT_FALSE(context.noteMissingFile(dir_.path() + L"\\nofile"));
  EXPECT_FALSE(context.noteMissingFolder(dir_.path() + L"\\nofolder"));
  EXPECT_TRUE(context.noteMissingFolder(dir_.path()));
  EXPECT_EQ(context.errors_, L"fne_" + dir_.path() + L"\\nofile;dne_" + dir_.path() + L"\\nofolder;");
}

TEST_F(InstallContextTest, NonEmptyLeftoverFileIsKept) {
  Log log = Log::atPath(log_path_);
  std::wstring leftover = shellfolders::roamingAppData() + L"\\Vexa";
  files::deleteFolderTree(leftover);
  testfiles::writeFile(leftover, "data");
  VexaInstallContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  EXPECT_TRUE(files::isFile(leftover));
  EXPECT_NE(logText().find("File is NOT empty"), std::string::npos);
  DeleteFileW(leftover.c_str());
}

TEST_F(InstallContextTest, ApplySettingsWritesIdentifiers) {
  Log log = Log::atPath(log_path_);
  VexaInstallContext context(L"/pid 5", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  context.cid = L"c";
  context.applySettings();
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kProductKey, L"PID"), L"5");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kProductKey, L"CID"), L"c");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kProductKey, L"GUID"), context.identity().iUserId());
  registry::RegKey key = registry::RegKey::openRead(HKEY_CURRENT_USER, kProductKey);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(key.get(), L"SID", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
}

namespace {
// Stands for a system with 8.3 names switched off: the folder keeps its blanks.
class LongNamesContext : public VexaInstallContext {
 public:
  using VexaInstallContext::VexaInstallContext;
  void dropShortNames() { shortInstallFolder_ = installFolder(); }
};

std::wstring demoProduct() { return text::utf8ToWide(VEXA_BUILD_DIR) + L"\\demo-product\\Vexa.exe"; }

std::string waitForFile(const std::wstring& path, const char* text) {
  std::string content;
  for (int i = 0; i < 200 && content.find(text) == std::string::npos; ++i) {
    Sleep(50);
    content = testfiles::readFile(path);
  }
  return content;
}
}  // namespace

// Unquoted, "...\Program Files x\Vexa\Vexa.exe /copydll" starts "...\Program.exe".
TEST_F(InstallContextTest, RunProductQuotesAProgramPathWithBlanks) {
  if (!files::isFile(demoProduct())) GTEST_SKIP() << "stand-in product not built";
  std::wstring folder = dir_.path() + L"\\Program Files x\\Vexa";
  ASSERT_TRUE(files::createFolderTree(folder));
  ASSERT_TRUE(files::copyFile(folder + L"\\Vexa.exe", demoProduct()));
  ASSERT_TRUE(files::copyFile(dir_.path() + L"\\Program.exe", demoProduct()));
  registry::writeText(HKEY_CURRENT_USER, kProductKey, L"exec", folder + L"\\Vexa.exe");

  Log log = Log::atPath(log_path_);
  LongNamesContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  context.readInstallFolder();
  context.dropShortNames();
  ASSERT_NE(context.shortInstallFolder().find(L' '), std::wstring::npos);
  context.runProduct();

  std::string calls = waitForFile(folder + L"\\vexa-calls.log", "--readInitFile");
  EXPECT_NE(calls.find("Vexa.exe /copydll"), std::string::npos) << calls;
  EXPECT_NE(calls.find("Vexa.exe --readInitFile"), std::string::npos) << calls;
  EXPECT_FALSE(files::exists(dir_.path() + L"\\vexa-calls.log")) << testfiles::readFile(dir_.path() + L"\\vexa-calls.log");
  EXPECT_NE(logText().find("\"" + testfiles::narrow(folder) + "\\Vexa.exe\" /copydll"), std::string::npos) << logText();
}

TEST_F(InstallContextTest, WindowTitleFillsEverySlotAndHalvesPercents) {
  Log log = Log::atPath(log_path_);
  VexaInstallContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  std::string table = "INSTALLING=%s: installing %s (100%%)\n";
  StringTable strings = StringTable::build(table.data(), table.size(), 0x0409);
  EXPECT_EQ(context.windowTitle(512, strings), L"Vexa: installing Vexa (100%)");
  EXPECT_EQ(context.windowTitle(6, strings), L"Vexa:");
  std::string plain = "INSTALLING=Installing %s\n";
  EXPECT_EQ(context.windowTitle(512, StringTable::build(plain.data(), plain.size(), 0x0409)), L"Installing Vexa");
}
