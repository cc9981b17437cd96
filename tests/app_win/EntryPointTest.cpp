// Runs the real VexaSetup.exe of this build tree as a child process.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <regex>

#include "TestFiles.h"
#include "TestHttpServer.h"
#include "context/StatRequest.h"
#include "app/win32/Files.h"
#include "app/win32/Processes.h"
#include "app/win32/Registry.h"

namespace {
std::wstring setupExe() { return text::utf8ToWide(VEXA_BUILD_DIR) + L"\\VexaSetup.exe"; }
std::wstring logPath() { return files::tempFolder() + L"VexaInstall.log"; }

int runSetup(const std::wstring& args) {
  return processes::executeAndWait(true, nullptr, L"\"" + setupExe() + L"\" " + args);
}

// The hand-over tests start an elevated copy that goes on to run a whole
// silent install; it is ended so that it does not hold "vexaFull" for the
// tests after it.
void endCopies(const std::wstring& exeName) {
  for (int i = 0; i < 50; ++i) {
    DWORD pid = processes::findProcess(exeName);
    if (!pid) return;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }
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

// Nobody reads a box in a silent run, and a box would keep the run waiting;
// the deployment tool that asked for a result file learns why nothing ran.
TEST_F(EntryPoint, SilentSecondInstallerLogsInsteadOfShowingABox) {
  const std::wstring result = files::tempFolder() + L"second-result.json";
  DeleteFileW(result.c_str());
  HANDLE held = CreateMutexW(nullptr, FALSE, L"vexaFull");
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(runSetup(L"/silent /version /resultFile \"" + result + L"\""), 10);
  CloseHandle(held);
  std::string log = testfiles::readFile(logPath());
  EXPECT_NE(log.find("ERROR : [DEF] : Another installer is running"), std::string::npos) << log;
  const std::string json = testfiles::readFile(result);
  EXPECT_NE(json.find("\"exitCode\": 10,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"cause\": \"anotherInstaller\""), std::string::npos) << json;
  EXPECT_NE(json.find("Another installer is running. Wait for it to end, then try again."), std::string::npos) << json;
  DeleteFileW(result.c_str());
}

// A mutex name that cannot be had at all counts as another installer too.
TEST_F(EntryPoint, MutexThatCannotBeCreatedAlsoExitsWithTen) {
  HANDLE squatter = CreateEventW(nullptr, FALSE, FALSE, L"vexaFull");
  ASSERT_NE(squatter, nullptr);
  EXPECT_EQ(runSetup(L"/version"), 10);
  CloseHandle(squatter);
  std::string log = testfiles::readFile(logPath());
  EXPECT_NE(log.find("ERROR : [DEF] : can't create mutex vexaFull"), std::string::npos) << log;
  EXPECT_EQ(log.find("Mutex is created vexaFull"), std::string::npos) << log;
}

TEST_F(EntryPoint, SecondInstanceByHandRunsTheInstallRoad) {
  // Without the product and with "/secondInstance" no elevated copy is
  // started: the install road is taken in this very process. The build's
  // servers answer 404 at once, so the install fails quickly instead of
  // retrying connections for minutes.
  testserver::TestHttpServer servers(8731);
  int code = runSetup(L"/silent /secondInstance /pid 77");
  std::string log = testfiles::readFile(logPath());
  EXPECT_EQ(log.find("execute server args:"), std::string::npos) << log;
  EXPECT_NE(log.find("Replace PID from commandline old=, new=77"), std::string::npos) << log;
  EXPECT_NE(code, 10);
  // The install road writes the default install folder for the next run.
  EXPECT_FALSE(registry::readText(HKEY_CURRENT_USER, L"Software\\Vexa", L"exec").empty());
}

namespace {
std::wstring demoProduct(const wchar_t* name) {
  return text::utf8ToWide(VEXA_BUILD_DIR) + L"\\demo-product\\" + name;
}
}  // namespace

// With the product installed the installer reports "restart" to the
// statistics endpoint of this build (127.0.0.1:8731), runs the product with
// /copydll, starts it with --readInitFile, and exits 0 - also with /silent.
TEST_F(EntryPoint, InstalledProductIsRestartedAndReported) {
  if (!files::isFile(demoProduct(L"Vexa.exe"))) GTEST_SKIP() << "stand-in product not built";
  testfiles::ScratchDir dir;
  std::wstring folder = dir.path() + L"\\Vexa";
  files::createFolderTree(folder);
  ASSERT_TRUE(files::copyFile(folder + L"\\Vexa.exe", demoProduct(L"Vexa.exe")));
  testfiles::writeFile(folder + L"\\Vexa.jar", "jar");
  testfiles::writeFile(folder + L"\\vreg.dll", "dll");
  registry::writeText(HKEY_CURRENT_USER, L"Software\\Vexa", L"exec", folder + L"\\Vexa.exe");
  registry::writeDword(HKEY_CURRENT_USER, L"Software\\Vexa", L"installComplete", 1);

  testserver::TestHttpServer server(8731);
  testserver::Resource answer;
  answer.ranges = false;
  server.add("/installer2.html", answer);

  for (const wchar_t* args : {L"", L"/silent"}) {
    server.clearRequests();
    DeleteFileW((folder + L"\\vexa-calls.log").c_str());
    EXPECT_EQ(runSetup(args), 0) << args;
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    size_t pos = requests[0].path.find("?param=");
    ASSERT_NE(pos, std::string::npos);
    auto params = stats::decodeParam(requests[0].path.substr(pos + 7));
    ASSERT_TRUE(params.has_value());
    EXPECT_EQ((*params)[L"mode"], L"restart");

    std::string calls;
    for (int i = 0; i < 200 && calls.find("--readInitFile") == std::string::npos; ++i) {
      Sleep(50);
      calls = testfiles::readFile(folder + L"\\vexa-calls.log");
    }
    size_t copy = calls.find("Vexa.exe /copydll");
    size_t read = calls.find("Vexa.exe --readInitFile");
    EXPECT_NE(copy, std::string::npos) << calls;
    EXPECT_NE(read, std::string::npos) << calls;
    EXPECT_LT(copy, read);
  }
  std::string log = testfiles::readFile(logPath());
  EXPECT_NE(log.find("Execute process NO WAIT, cmd: ["), std::string::npos);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vexa");
}

// Without the product and without "/secondInstance" the installer hands over
// to a copy of itself through the shell's "runas" verb (Wine starts it
// without a prompt), releasing the mutex first so the copy can take it, and
// exits 0 whatever the copy does.
TEST_F(EntryPoint, FirstRunHandsOverToAnElevatedCopy) {
  testserver::TestHttpServer servers(8731);  // the copy's install fails fast
  EXPECT_EQ(runSetup(L"/silent /installKey relay"), 0);
  std::string log;
  for (int i = 0; i < 300; ++i) {
    log = testfiles::readFile(logPath());
    if (log.find("ARGS:/secondInstance /silent /installKey relay /logPath ") != std::string::npos &&
        log.rfind("release mutex vexaFull") > log.find("ARGS:/secondInstance")) break;
    Sleep(50);
  }
  EXPECT_NE(log.find("execute server args:"), std::string::npos) << log;
  EXPECT_NE(log.find("/secondInstance /silent /installKey relay /logPath \""), std::string::npos) << log;
  // The copy got the mutex: the first process had released it.
  size_t copyStart = log.find("ARGS:/secondInstance /silent /installKey relay");
  ASSERT_NE(copyStart, std::string::npos) << log;
  EXPECT_NE(log.find("Mutex is created vexaFull", copyStart), std::string::npos) << log;
  EXPECT_EQ(log.find("can't create mutex"), std::string::npos) << log;
  endCopies(L"VexaSetup.exe");
}

// A quoted folder ending in a backslash ("%~dp0" in a script) once swallowed
// the copy's marker, and every copy handed over again.
TEST_F(EntryPoint, AFolderEndingInABackslashIsHandedOverOnce) {
  testserver::TestHttpServer servers(8731);
  EXPECT_EQ(runSetup(L"/silent /installDir \"C:\\Vexa test\\\" /pid 5"), 0);
  std::string log;
  for (int i = 0; i < 300; ++i) {
    log = testfiles::readFile(logPath());
    size_t copy = log.find("ARGS:/secondInstance ");
    if (copy != std::string::npos && log.find("release mutex vexaFull", copy) != std::string::npos) break;
    Sleep(50);
  }
  size_t first = log.find("execute server args:");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find("execute server args:", first + 1), std::string::npos) << log;
  EXPECT_NE(log.find("ARGS:/secondInstance /silent /installDir C:\\Vexa test\" /pid 5 /logPath "), std::string::npos)
      << log;
  endCopies(L"VexaSetup.exe");
}

// The first process takes the key from its long file name; the elevated copy,
// started through the 8.3 path Windows gives it, receives it as an option.
TEST_F(EntryPoint, ElevatedCopyReceivesTheKeyOfTheFileName) {
  testfiles::ScratchDir dir;
  std::wstring setup = dir.path() + L"\\VexaSetup[k-42].exe";
  ASSERT_TRUE(files::copyFile(setup, setupExe()));
  EXPECT_EQ(processes::executeAndWait(true, nullptr, L"\"" + setup + L"\" /silent"), 0);
  std::string log;
  for (int i = 0; i < 300; ++i) {
    log = testfiles::readFile(logPath());
    size_t copy = log.find("ARGS:/secondInstance /silent /installKey k-42 /logPath ");
    if (copy != std::string::npos && log.find("Mutex is created vexaFull", copy) != std::string::npos) break;
    Sleep(50);
  }
  EXPECT_NE(log.find("installKey from fileName=k-42"), std::string::npos) << log;
  EXPECT_NE(log.find("ARGS:/secondInstance /silent /installKey k-42 /logPath "), std::string::npos) << log;
  endCopies(L"VexaSetup[k-42].exe");
}

// The start event's thread may still wait for an answer when the run ends.
// The process must end at once, with its exit code, and without tearing down
// objects of static storage under that thread.
TEST(EarlyExit, PendingStartEventNeitherDelaysNorOutlivesTheEnd) {
  testserver::TestHttpServer server;
  testserver::Resource silent;
  silent.ranges = false;
  silent.delayMs = 120000;  // never answers within the test
  server.add("/installer2.html", silent);
  testfiles::ScratchDir dir;
  std::wstring log = dir.path() + L"\\probe.log";
  std::wstring marker = dir.path() + L"\\torn-down";
  std::wstring probe = text::utf8ToWide(VEXA_BUILD_DIR) + L"\\tests\\app_win\\early_exit_probe.exe";

  auto start = std::chrono::steady_clock::now();
  int code = processes::executeAndWait(true, nullptr, L"\"" + probe + L"\" " + server.wideUrl("/installer2.html") +
                                                          L" \"" + log + L"\" \"" + marker + L"\"");
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(code, 7);
  EXPECT_LT(seconds, 20.0);
  EXPECT_FALSE(files::exists(marker)) << "static objects were destroyed while the start event was pending";
  std::string text = testfiles::readFile(log);
  EXPECT_NE(text.find("+++++BEGIN thread sendStart"), std::string::npos) << text;
  EXPECT_NE(text.find("probe ends"), std::string::npos) << text;
  EXPECT_EQ(text.find("-----END thread sendStart"), std::string::npos) << text;
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path.rfind("/installer2.html?param=", 0), 0u) << requests[0].path;
}
