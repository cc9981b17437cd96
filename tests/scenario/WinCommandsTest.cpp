// Commands that act through Windows facilities, run under Wine in a
// throwaway prefix: shell file operations, child processes, resources,
// the machine registry and the firewall objects.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "TestFiles.h"
#include "app/Log.h"
#include "app/win32/Registry.h"
#include "context/CommandSenderLocal.h"
#include "scenario/Commands.h"
#include "scenario/PackFiles.h"

namespace {

struct WinCommands : ::testing::Test {
  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + L"\\test.log";
  Log log = Log::atPath(logPath);
  CommandSenderLocal sender{&log};
  wchar_t result[256] = L"unset";

  std::wstring at(const std::wstring& name) const { return scratch.path() + L"\\" + name; }
  bool logHas(const std::string& line) const {
    return testfiles::readFile(logPath).find(line) != std::string::npos;
  }
  std::wstring send(Command&& command) {
    EXPECT_TRUE(sender.send(command, result, 256));
    return result;
  }
};

TEST_F(WinCommands, DeleteRemovesAFolderTreeAndReportsTheShellCodeForAMissingPath) {
  packfiles::createFolderTree(at(L"tree\\a\\b"));
  testfiles::writeFile(at(L"tree\\a\\b\\f.txt"), "x");
  EXPECT_EQ(L"0", send(DeleteCommand(at(L"tree"))));
  EXPECT_FALSE(testfiles::exists(at(L"tree")));
  EXPECT_TRUE(logHas("Delete " + testfiles::narrow(at(L"tree"))));

  const std::wstring code = send(DeleteCommand(at(L"missing")));
  EXPECT_NE(L"0", code);
  EXPECT_NE(L"", code);
  EXPECT_TRUE(logHas("Error delete file, err: " + testfiles::narrow(code)));
}

TEST_F(WinCommands, CopyTakesWildcardsAndCreatesTheDestination) {
  testfiles::writeFile(at(L"a.txt"), "A");
  testfiles::writeFile(at(L"b.txt"), "B");
  testfiles::writeFile(at(L"c.log"), "C");
  const std::wstring destination = at(L"copy\\into");
  EXPECT_EQ(L"0", send(CopyCommand(at(L"*.txt") + L"|" + destination)));
  EXPECT_EQ("A", testfiles::readFile(destination + L"\\a.txt"));
  EXPECT_EQ("B", testfiles::readFile(destination + L"\\b.txt"));
  EXPECT_FALSE(testfiles::exists(destination + L"\\c.log"));
  EXPECT_TRUE(logHas("Copy '" + testfiles::narrow(at(L"*.txt")) + "' to '" + testfiles::narrow(destination) + "'"));
}

TEST_F(WinCommands, ExecuteProcessGivesTheExitCodeOrMinusFive) {
  EXPECT_EQ(L"7", send(ExecuteProcessCommand(L"cmd.exe /c exit 7")));
  EXPECT_EQ(L"0", send(ExecuteProcessCommand(L"cmd.exe /c exit 0")));
  EXPECT_EQ(L"-5", send(ExecuteProcessCommand(at(L"no-such-program.exe"))));
}

TEST_F(WinCommands, ExtractUtilsJarReplacesAnOldArchiveAndNeverFails) {
  const std::wstring folder = at(L"utils");
  CreateDirectoryW(folder.c_str(), nullptr);
  testfiles::writeFile(folder + L"\\utils.jar", "old");
  EXPECT_EQ(L"0", send(ExtractUtilsJarCommand(folder)));
  EXPECT_TRUE(logHas("Old utils.jar is found, delete it"));
  EXPECT_TRUE(logHas("extract resource file"));
  EXPECT_TRUE(logHas(testfiles::narrow(folder + L"\\License_uk.rtf")));
#ifdef VEXA_HAS_RESOURCES
  const std::string jar = testfiles::readFile(folder + L"\\utils.jar");
  EXPECT_EQ("PK", jar.substr(0, 2));
  for (const wchar_t* name : {L"\\License_ru.rtf", L"\\License_uk.rtf", L"\\License_en.rtf"}) {
    EXPECT_EQ("{\\rtf", testfiles::readFile(folder + name).substr(0, 5)) << testfiles::narrow(name);
  }
#else
  EXPECT_TRUE(logHas("Resource file not found"));
  EXPECT_FALSE(testfiles::exists(folder + L"\\utils.jar"));
#endif
}

TEST_F(WinCommands, AddUninstallInfoWritesTheMachineEntry) {
  EXPECT_EQ(L"0", send(AddUninstallInfoCommand(L"C:\\PROGRA~1\\Vexa")));
  const HKEY hklm = HKEY_LOCAL_MACHINE;
  const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexa";
  EXPECT_EQ(L"C:\\PROGRA~1\\Vexa", registry::readText(hklm, L"SOFTWARE\\Vexa", L"Path"));
  EXPECT_EQ(L"Vexa", registry::readText(hklm, key, L"DisplayName"));
  EXPECT_EQ(L"Vexa Team", registry::readText(hklm, key, L"Publisher"));
  EXPECT_EQ(L"C:\\PROGRA~1\\Vexa\\Vexa.exe", registry::readText(hklm, key, L"DisplayIcon"));
  EXPECT_EQ(L"C:\\PROGRA~1\\Vexa\\uninstall.exe", registry::readText(hklm, key, L"UninstallString"));
  registry::RegKey opened = registry::RegKey::openRead(hklm, key);
  ASSERT_TRUE(opened);
  EXPECT_EQ(30720u, registry::readDword(opened.get(), L"EstimatedSize"));
  EXPECT_EQ(1u, registry::readDword(opened.get(), L"NoModify"));
  EXPECT_EQ(1u, registry::readDword(opened.get(), L"NoRepair"));
  RegDeleteTreeW(hklm, key.c_str());
  RegDeleteTreeW(hklm, L"SOFTWARE\\Vexa");
}

TEST_F(WinCommands, UninstallStringWithABlankIsQuoted) {
  EXPECT_EQ(L"0", send(AddUninstallInfoCommand(L"D:\\My Apps\\Vexa")));
  const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexa";
  EXPECT_EQ(L"\"D:\\My Apps\\Vexa\\uninstall.exe\"", registry::readText(HKEY_LOCAL_MACHINE, key, L"UninstallString"));
  EXPECT_EQ(L"D:\\My Apps\\Vexa\\Vexa.exe", registry::readText(HKEY_LOCAL_MACHINE, key, L"DisplayIcon"));
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexa");
}

TEST_F(WinCommands, FirewallObjectsThatCannotBeCreatedGiveClassNotRegisteredAsSignedText) {
  FirewallAdd::Objects missing;
  missing.manager = L"Vexa.NoSuchFirewallManager";
  EXPECT_EQ(L"-2147221164", send(FirewallAdd(L"C:\\Program Files\\Vexa\\Vexa.exe", missing)));
  EXPECT_TRUE(logHas("Firewall add, fileName: Vexa.exe path:C:\\Program Files\\Vexa\\Vexa.exe"));
  EXPECT_TRUE(logHas("End execute command in CommandSenderLocal, result=-2147221164"));

  FirewallAdd::Objects noApplication;
  noApplication.application = L"Vexa.NoSuchApplication";
  EXPECT_EQ(L"-2147221164", send(FirewallAdd(L"C:\\Vexa\\Vexa.exe", noApplication)));
}

TEST_F(WinCommands, FirewallWithTheSystemObjectsSucceedsOrReportsThemMissing) {
  // Some Wine releases register the firewall objects, others do not.
  const std::wstring code = send(FirewallAdd(L"C:\\Program Files\\Vexa\\Vexa.exe"));
  EXPECT_TRUE(code == L"0" || code == L"-2147221164") << testfiles::narrow(code);
}

}  // namespace
