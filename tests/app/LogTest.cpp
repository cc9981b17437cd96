#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include "app/Log.h"
#include "app/Threads.h"
#include "app/Text.h"
#include "TestFiles.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

TEST(Log, StampIsUtcUnpadded) {
  Log::Stamp stamp{2020, 10, 1, 9, 5, 7, 42};
  EXPECT_EQ(Log::formatLine(stamp, L"INFO", L"DEF", L"---START---"),
            L"[2020_10_1 9:5:7:42] INFO : [DEF] : ---START---\r\n");
}

// A campaign's text with a line break must not add a line of its own.
TEST(Log, ServerTextCannotForgeALine) {
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"/f.log");
  log.error(L"Can't parse json{\"x\":1}\r\n[2026_1_1 0:0:0:0] INFO : [DEF] : Result file written\x1b[2J\tend\x7f\x2028");
  std::string text = testfiles::readFile(log.path());
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  EXPECT_NE(text.find("json{\"x\":1}\\r\\n[2026_1_1 0:0:0:0] INFO : [DEF] : Result file written\\x1b[2J\tend\\x7f"),
            std::string::npos)
      << text;
  EXPECT_EQ(Log::escapeControls(L"a\x01" L"b\x1f\x20"), L"a\\x01b\\x1f ");
}

TEST(Log, NullMessageWritesNothing) {
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"/a.log");
  EXPECT_EQ(log.write(L"INFO", nullptr), nullptr);
  EXPECT_FALSE(testfiles::exists(dir.path() + L"/a.log"));
}

TEST(Log, AppendsUntilWholeKiBPassRestartLimit) {
  testfiles::ScratchDir dir;
  std::wstring path = dir.path() + L"/r.log";
  Log log = Log::atPath(path);
  testfiles::writeFile(path, std::string(205823, 'x'));
  log.info(L"kept");
  EXPECT_GT(testfiles::readFile(path).size(), 205823u);

  testfiles::writeFile(path, std::string(205824, 'x'));
  log.info(L"first line of a new file");
  std::string content = testfiles::readFile(path);
  EXPECT_LT(content.size(), 200u);
  EXPECT_NE(content.find("] INFO : [DEF] : first line of a new file\r\n"), std::string::npos);
}

TEST(Log, LastErrorLineCarriesCode) {
  testfiles::ScratchDir dir;
  std::wstring path = dir.path() + L"/e.log";
  Log log = Log::atPath(path);
  log.writeLastError();
  EXPECT_NE(testfiles::readFile(path).find("ERROR : [DEF] : LastErrorCode #"), std::string::npos);
}

// The system's sentence keeps its own line break before the line's end;
// a message that carries one (a server's text) does not.
TEST(Log, SystemSentenceKeepsItsLineBreakWhileMessagesAreEscaped) {
  testfiles::ScratchDir dir;
  std::wstring path = dir.path() + L"/e.log";
  Log log = Log::atPath(path);
#ifdef _WIN32
  SetLastError(ERROR_ACCESS_DENIED);
#else
  errno = EACCES;
#endif
  log.writeLastError();
  log.info(L"from a server\r\nERROR : forged");
  std::string content = testfiles::readFile(path);
  const size_t at = content.find(", ErrorText: ");
  ASSERT_NE(at, std::string::npos) << content;
  const size_t end = content.find("\r\n", at);
  ASSERT_NE(end, std::string::npos) << content;
  // The sentence is written as the system gave it, never escaped: on
  // Windows it brings its own break ("\r\n\r\n" ends the line), here "\n"
  // ("\n\r\n"); Wine's sentences bring none.
  EXPECT_EQ(content.substr(at, end - at).find("\\n"), std::string::npos) << content;
  EXPECT_NE(content.find("from a server\\r\\nERROR : forged\r\n"), std::string::npos) << content;
  EXPECT_EQ(Log::formatLine({2020, 10, 1, 9, 5, 7, 42}, L"ERROR", L"DEF", L"a\nb", false),
            L"[2020_10_1 9:5:7:42] ERROR : [DEF] : a\nb\r\n");
}

TEST(Log, ErrorCodeTextPutsTheSystemsSentenceBesideTheNumber) {
#ifdef _WIN32
  const unsigned long full = ERROR_DISK_FULL;
#else
  const unsigned long full = ENOSPC;
#endif
  const std::wstring text = Log::errorCodeText(full);
  EXPECT_EQ(text.rfind(L"error code=" + std::to_wstring(full) + L" (", 0), 0u) << text;
  EXPECT_EQ(text.back(), L')') << text;
  EXPECT_EQ(text.find(L'\n'), std::wstring::npos) << text;
  EXPECT_EQ(text.find(L".)"), std::wstring::npos) << text;
  EXPECT_EQ(Log::errorCodeText(0), L"error code=0");
}

namespace {

// Fails to open a file in a folder that does not exist, the way a caller's
// failing step leaves the thread's last error behind.
void failOpeningIn(const std::wstring& folder) {
#ifdef _WIN32
  HANDLE h = CreateFileW((folder + L"\\missing\\x.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_EQ(h, INVALID_HANDLE_VALUE);
#else
  FILE* f = std::fopen(testfiles::narrow(folder + L"/missing/x.txt").c_str(), "wb");
  ASSERT_EQ(f, nullptr);
#endif
}

}  // namespace

// The failure line between the failing call and the last-error line opens
// the (existing) log file itself; that must not become the reported error.
TEST(Log, LastErrorLineNamesTheCallersErrorNotTheLogsOwn) {
  testfiles::ScratchDir dir;
  std::wstring path = dir.path() + L"/e.log";
  Log log = Log::atPath(path);
  log.info(L"the file exists from here on");

  failOpeningIn(dir.path());
  log.error(L"Can't create file");
  log.writeLastError();
  std::string content = testfiles::readFile(path);
  bool named = content.find("LastErrorCode #2,") != std::string::npos ||
               content.find("LastErrorCode #3,") != std::string::npos;
  EXPECT_TRUE(named) << content;
  EXPECT_EQ(content.find("LastErrorCode #183"), std::string::npos) << content;

  // Writing the last-error line leaves the error for the next reader too.
#ifdef _WIN32
  SetLastError(ERROR_ACCESS_DENIED);
  log.writeLastError();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
#else
  errno = EACCES;
  log.writeLastError();
  EXPECT_EQ(errno, EACCES);
#endif
}

// A thread the system will not give is a logged result, not std::terminate.
TEST(Threads, AThreadThatCannotStartIsLogged) {
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"/t.log");
  bool ran = false;
  auto refuse = [](std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  EXPECT_FALSE(threads::startDetached(&log, L"sendStart", [&] { ran = true; }, refuse));
  EXPECT_FALSE(ran);
  EXPECT_NE(testfiles::readFile(log.path()).find("ERROR : [DEF] : Can't start thread sendStart (error "), std::string::npos);
  std::atomic<bool> done{false};
  EXPECT_TRUE(threads::startDetached(&log, L"real", [&] { done = true; }));
  for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(done);
}
