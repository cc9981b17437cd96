// Runs the real VexaSetup.exe of this build tree as a child process.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>

#include "TestFiles.h"
#include "app/win32/Files.h"
#include "app/win32/Processes.h"
#include "app/win32/Registry.h"

namespace {
std::wstring setupExe() { return text::utf8ToWide(VEXA_BUILD_DIR) + L"\\VexaSetup.exe"; }
std::wstring logPath() { return files::tempFolder() + L"VexaInstall.log"; }

int runSetup(const std::wstring& args) {
  return processes::executeAndWait(true, nullptr, L"\"" + setupExe() + L"\" " + args);
}

class EntryPoint : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteFileW(logPath().c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vexa");
  }
};
}  // namespace

TEST_F(EntryPoint, VersionWritesVersionFileAndExitsZero) {
  wchar_t shortPath[MAX_PATH] = {};
  GetShortPathNameW(setupExe().c_str(), shortPath, MAX_PATH);
  std::wstring ver = std::wstring(shortPath) + L".ver";
  DeleteFileW(ver.c_str());

  EXPECT_EQ(runSetup(L"/silent /version"), 0);
  std::string version = testfiles::readFile(ver);
  EXPECT_TRUE(std::regex_match(version, std::regex("vw[A-Z][a-z]{2}_[_0-9]{2}_[0-9]{4}_[0-9]{2}_[0-9]{2}_[0-9]{2}")))
      << version;

  std::string log = testfiles::readFile(logPath());
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[\d{4}_\d{1,2}_\d{1,2} \d{1,2}:\d{1,2}:\d{1,2}:\d{1,3}\] INFO : \[DEF\] : ---START---\r\n)")))
      << log;
  EXPECT_NE(log.find("INFO : [DEF] : ARGS:/silent /version \r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Mutex is created vexaFull"), std::string::npos);
  EXPECT_NE(log.find("release mutex vexaFull"), std::string::npos);
  EXPECT_NE(log.find(version), std::string::npos);
  DeleteFileW(ver.c_str());
}

TEST_F(EntryPoint, SecondInstallerExitsWithTen) {
  HANDLE held = CreateMutexW(nullptr, FALSE, L"vexaFull");
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(runSetup(L"/version"), 10);
  CloseHandle(held);
  std::string log = testfiles::readFile(logPath());
  EXPECT_NE(log.find("ERROR : [DEF] : can't create mutex vexaFull"), std::string::npos) << log;
}

TEST_F(EntryPoint, SecondInstanceByHandRunsTheInstallRoad) {
  // Without the product and with "/secondInstance" no elevated copy is
  // started: the install road is taken in this very process.
  int code = runSetup(L"/silent /secondInstance /pid 77");
  std::string log = testfiles::readFile(logPath());
  EXPECT_EQ(log.find("execute server args:"), std::string::npos) << log;
  EXPECT_NE(log.find("Replace PID from commandline old=, new=77"), std::string::npos) << log;
  EXPECT_NE(code, 10);
  // The install road writes the default install folder for the next run.
  EXPECT_FALSE(registry::readText(HKEY_CURRENT_USER, L"Software\\Vexa", L"exec").empty());
}
