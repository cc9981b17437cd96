#include <gtest/gtest.h>

#include <windows.h>

#include "TestFiles.h"
#include "app/Log.h"
#include "app/win32/CommandLine.h"
#include "app/win32/Files.h"
#include "app/win32/ModulePaths.h"
#include "app/win32/NamedMutex.h"
#include "app/win32/Registry.h"
#include "app/win32/ShellFolders.h"
#include "app/win32/SingleInstance.h"
#include "app/win32/SystemInfo.h"
#include "context/ContextText.h"

namespace {
const wchar_t kScratchKey[] = L"Software\\VexaTests\\Registry";
}

TEST(Registry, TextRoundTripAndLimits) {
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kScratchKey, L"missing"), L"");
  ASSERT_TRUE(registry::writeText(HKEY_CURRENT_USER, kScratchKey, L"name", L"\x0418\x0432\x0430\x043D"));
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kScratchKey, L"name"), L"\x0418\x0432\x0430\x043D");
  // 511 characters and the terminator fill the 1024-byte data buffer exactly;
  // 512 do not fit.
  registry::writeText(HKEY_CURRENT_USER, kScratchKey, L"full", std::wstring(511, L'y'));
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kScratchKey, L"full"), std::wstring(511, L'y'));
  registry::writeText(HKEY_CURRENT_USER, kScratchKey, L"long", std::wstring(512, L'x'));
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kScratchKey, L"long"), L"");
  registry::writeText(HKEY_CURRENT_USER, kScratchKey, L"fits", std::wstring(300, L'x'));
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kScratchKey, L"fits", 260), L"");
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kScratchKey, L"fits").size(), 300u);
  ASSERT_TRUE(registry::writeDword(HKEY_CURRENT_USER, kScratchKey, L"n", 30720));
  registry::RegKey key = registry::RegKey::openRead(HKEY_CURRENT_USER, kScratchKey);
  EXPECT_EQ(registry::readDword(key.get(), L"n"), 30720u);
  EXPECT_EQ(registry::readDword(key.get(), L"name"), 0u);
  key.reset();
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VexaTests");
}

TEST(Files, UniqueNamesAndFolderTrees) {
  testfiles::ScratchDir dir;
  std::wstring nested = dir.path() + L"\\a\\b\\c";
  EXPECT_TRUE(files::createFolderTree(nested));
  EXPECT_TRUE(files::isFolder(nested));
  std::wstring name = files::uniqueFileName(dir.path() + L"\\new", L".tmp", nullptr);
  EXPECT_TRUE(files::isFolder(dir.path() + L"\\new"));
  EXPECT_EQ(name.size(), dir.path().size() + 5 + 36 + 4);
  EXPECT_FALSE(files::exists(name));
  files::deleteFolderTree(dir.path() + L"\\a");
  EXPECT_FALSE(files::exists(dir.path() + L"\\a"));
  EXPECT_EQ(files::newGuidText().size(), 36u);
}

// Linux refuses folders in sysfs even to root, so Wine reports access
// denied there while the look-up afterwards finds nothing (error 2).
TEST(Files, FailedFolderCreationKeepsItsOwnError) {
  const std::wstring refused = L"Z:\\sys\\vexa_tests_refused";
  SetLastError(0);
  BOOL made = CreateDirectoryW(refused.c_str(), nullptr);
  DWORD expected = GetLastError();
  if (made) RemoveDirectoryW(refused.c_str());
  if (made || expected == ERROR_FILE_NOT_FOUND) GTEST_SKIP() << "no folder here that refuses creation";

  SetLastError(0);
  EXPECT_FALSE(files::createFolderTree(refused));
  EXPECT_EQ(GetLastError(), expected);
}

// The 8.3 name of a bracketed setup file has no brackets; only its long
// form gives the key back.
TEST(Files, LongFormOfAShortPathKeepsTheInstallKey) {
  testfiles::ScratchDir dir;
  std::wstring folder = dir.path() + L"\\Download Folder";
  ASSERT_TRUE(files::createFolderTree(folder));
  std::wstring setup = folder + L"\\VexaSetup[k-42].exe";
  testfiles::writeFile(setup, "MZ");
  std::wstring shortPath = win::shortPathOf(setup);
  ASSERT_FALSE(shortPath.empty());
  ASSERT_EQ(shortPath.find(L'['), std::wstring::npos) << shortPath;
  EXPECT_EQ(contexttext::installKeyFromFileName(shortPath), L"");
  EXPECT_EQ(win::longPathOf(shortPath), setup);
  EXPECT_EQ(contexttext::installKeyFromFileName(win::longPathOf(shortPath)), L"k-42");
  EXPECT_EQ(win::longPathOf(folder + L"\\missing.exe"), folder + L"\\missing.exe");
  EXPECT_EQ(win::longPathOf(win::moduleShortPath()), win::moduleLongPath());
}

TEST(System, VersionTextAndDrives) {
  std::wstring v = sysinfo::osVersionText();
  EXPECT_EQ(std::count(v.begin(), v.end(), L'.'), 2);
  std::wstring root;
  uint64_t freeMiB = 0;
  ASSERT_TRUE(shellfolders::largestFixedDrive(root, freeMiB));
  EXPECT_EQ(root.size(), 3u);
  EXPECT_EQ(root.substr(1), L":\\");
}

TEST(System, CommandLineSkipsProgramOnlyInShortForm) {
  std::wstring shortPath = win::moduleShortPath();
  OptionTable a = commandline::parse(L"\"" + shortPath + L"\" /x");
  EXPECT_EQ(a.joined(), L"/x ");
  // An empty line gives the program's long path, which is kept as an option.
  OptionTable b = commandline::parse(L"");
  ASSERT_EQ(b.entries().size(), 1u);
  EXPECT_EQ(b.entries()[0].first, win::moduleLongPath());
  OptionTable c = commandline::parse(L"/installDir \"C:\\Program Files\\V\" /silent");
  EXPECT_EQ(c.optionValue(L"/installDir").value(), L"C:\\Program Files\\V");
}

TEST(System, MutexIsExclusiveWithinThePrefix) {
  SingleInstance first(L"vexaTestMutex", nullptr);
  SingleInstance second(L"vexaTestMutex", nullptr);
  EXPECT_TRUE(first.create());
  EXPECT_FALSE(second.create());
  first.release();
  EXPECT_TRUE(second.create());
  second.release();
}

// A non-elevated process asking for an elevated installer's mutex gets no
// handle and ERROR_ACCESS_DENIED; Wine has no integrity levels to show it.
TEST(System, OnlyAFreshMutexIsOurs) {
  HANDLE some = GetCurrentProcess();
  EXPECT_EQ(namedmutex::outcomeOf(some, 0), namedmutex::Outcome::kCreated);
  EXPECT_EQ(namedmutex::outcomeOf(some, ERROR_ALREADY_EXISTS), namedmutex::Outcome::kExisted);
  EXPECT_EQ(namedmutex::outcomeOf(nullptr, ERROR_ACCESS_DENIED), namedmutex::Outcome::kFailed);
  EXPECT_EQ(namedmutex::outcomeOf(nullptr, ERROR_INVALID_HANDLE), namedmutex::Outcome::kFailed);
  EXPECT_EQ(namedmutex::outcomeOf(nullptr, 0), namedmutex::Outcome::kFailed);
}

// An object of another kind under the name makes the creation fail outright
// (no handle, ERROR_INVALID_HANDLE): another installer runs, as far as we can
// tell, so this one must not go on.
TEST(System, MutexThatCannotBeHadRefusesTheSecondInstaller) {
  HANDLE squatter = CreateEventW(nullptr, FALSE, FALSE, L"vexaTestTakenName");
  ASSERT_NE(squatter, nullptr);
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"\\m.log");
  SingleInstance instance(L"vexaTestTakenName", &log);
  EXPECT_FALSE(instance.create());
  std::string text = testfiles::readFile(log.path());
  EXPECT_NE(text.find("ERROR : [DEF] : can't create mutex vexaTestTakenName"), std::string::npos) << text;
  EXPECT_NE(text.find("LastErrorCode #6,"), std::string::npos) << text;

  HANDLE held = nullptr;
  EXPECT_EQ(namedmutex::create(L"vexaTestTakenName", &held), namedmutex::Outcome::kFailed);
  EXPECT_EQ(held, nullptr);
  CloseHandle(squatter);
  EXPECT_EQ(namedmutex::create(L"vexaTestTakenName", &held), namedmutex::Outcome::kCreated);
  HANDLE again = nullptr;
  EXPECT_EQ(namedmutex::create(L"vexaTestTakenName", &again), namedmutex::Outcome::kExisted);
  EXPECT_EQ(again, nullptr);
  CloseHandle(held);
}
