#include <gtest/gtest.h>

#include <windows.h>

#include "TestFiles.h"
#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Processes.h"

namespace {
std::wstring cmd(const std::wstring& args) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\cmd.exe /c " + args;
}
}  // namespace

TEST(Processes, MissingProgramGivesMinusFiveAndItsExitLine) {
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"\\p.log");
  EXPECT_EQ(processes::executeAndWait(true, &log, L"Z:\\no\\such\\program.exe"), processes::kNotStarted);
  std::string text = testfiles::readFile(log.path());
  EXPECT_NE(text.find("Execute process, WAIT cmd:"), std::string::npos);
  EXPECT_NE(text.find("Exit code is -5"), std::string::npos);
  EXPECT_EQ(text.find("End waiting process :"), std::string::npos);
}

TEST(Processes, ExitCodesArePassedOnAndZeroWritesNoExitLine) {
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"\\p.log");
  EXPECT_EQ(processes::executeAndWait(true, &log, cmd(L"exit 0")), 0);
  EXPECT_EQ(testfiles::readFile(log.path()).find("Exit code is"), std::string::npos);
  EXPECT_EQ(processes::executeAndWait(true, &log, cmd(L"exit 32")), 32);
  EXPECT_NE(testfiles::readFile(log.path()).find("Exit code is 32"), std::string::npos);
}

TEST(Processes, CaptureReadsOutputOnlyOnSuccess) {
  std::string out;
  EXPECT_EQ(processes::executeAndCapture(nullptr, cmd(L"echo java version \"1.8.0_251\""), out), 0);
  EXPECT_NE(out.find("java version \"1.8.0_251\""), std::string::npos);
  EXPECT_EQ(processes::executeAndCapture(nullptr, cmd(L"echo hidden&& exit 3"), out), 3);
  EXPECT_TRUE(out.empty());
}

TEST(Processes, CaptureTakesStandardErrorLikeARuntimeVersionReport) {
  // A runtime writes its "-version" report to standard error only.
  std::string out;
  EXPECT_EQ(processes::executeAndCapture(nullptr, cmd(L"echo java version \"1.8.0_251\" 1>&2"), out), 0);
  EXPECT_NE(out.find("java version \"1.8.0_251\""), std::string::npos) << out;
}

namespace {
std::wstring standIn(const std::wstring& args) {
  return L"\"" + text::utf8ToWide(VEXA_BUILD_DIR) + L"\\tests\\app_win\\child_standin.exe\" " + args;
}
}  // namespace

// Every wait ends: a child that never does is ended when its time is up.
TEST(Processes, AHangingChildIsEndedWhenItsTimeIsUp) {
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"\\p.log");
  auto start = GetTickCount();
  EXPECT_EQ(processes::executeAndWait(true, &log, standIn(L"hang"), nullptr, nullptr, 1500), processes::kStillRunning);
  std::string out;
  EXPECT_EQ(processes::executeAndCapture(&log, standIn(L"hang"), out, 1500), processes::kStillRunning);
  EXPECT_LT(GetTickCount() - start, 15000u);
  EXPECT_TRUE(out.empty());
  std::string text = testfiles::readFile(log.path());
  EXPECT_NE(text.find("ERROR : [DEF] : Process did not end within 1500 ms, ending it: "), std::string::npos) << text;
  EXPECT_EQ(processes::findProcess(L"child_standin.exe"), 0u);
}

// A child writing more than the pipe holds would wait for a reader forever.
TEST(Processes, ATalkativeChildIsReadWhileItRuns) {
  std::string out;
  EXPECT_EQ(processes::executeAndCapture(nullptr, standIn(L"print 65536"), out, 20000), 0);
  EXPECT_EQ(out.size(), 256u);
  EXPECT_EQ(out.rfind("java version \"1.8.0_251\"", 0), 0u) << out;
}

TEST(Processes, FindProcessMatchesExactName) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring name = wcsrchr(self, L'\\') + 1;
  EXPECT_EQ(processes::findProcess(name), GetCurrentProcessId());
  EXPECT_EQ(processes::findProcess(L"surely-not-running.exe"), 0u);
}
