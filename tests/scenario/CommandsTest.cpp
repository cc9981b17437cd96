// Commands that behave the same on every platform: packed and described
// forms, the local sender's log lines, unpacking and folder creation.
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "TestFiles.h"
#include "app/Log.h"
#include "context/CommandSenderLocal.h"
#include "scenario/Commands.h"
#include "scenario/EbzWriter.h"
#include "scenario/PackFiles.h"
#include "scenario/WriteFailure.h"

namespace {

const std::wstring kSep(1, packfiles::kSeparator);

struct Fixture : ::testing::Test {
  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + kSep + L"test.log";
  Log log = Log::atPath(logPath);
  CommandSenderLocal sender{&log};
  wchar_t result[256] = L"unset";

  std::wstring at(const std::wstring& name) const { return scratch.path() + kSep + name; }
  std::string logText() const { return testfiles::readFile(logPath); }
  bool logHas(const std::string& line) const { return logText().find(line) != std::string::npos; }
  std::wstring send(Command&& command) {
    EXPECT_TRUE(sender.send(command, result, 256));
    return result;
  }
  void writePack(const std::wstring& path, const std::vector<std::pair<std::string, std::string>>& entries) {
    testfiles::writeFile(path, ebz::packInMemory({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}, entries));
  }
};

TEST(CommandForms, NamesPackedFormsAndDescriptions) {
  const std::pair<std::wstring, std::wstring> named[] = {
      {ExecuteProcessCommand(L"a").getName(), L"ExecuteProcessCommand"},
      {UnEbzCommand(L"a").getName(), L"UNEBZ_COMMAND"},
      {CreateFolderCommand(L"a").getName(), L"CRT_FLD_CMD"},
      {DeleteCommand(L"a").getName(), L"DELETE_COMMAND"},
      {CopyCommand(L"a").getName(), L"COPY_COMMAND"},
      {ExtractUtilsJarCommand(L"a").getName(), L"ExtractUtilsJarCommand"},
      {AddUninstallInfoCommand(L"a").getName(), L"AddUninstallInfoCommand"},
      {FirewallAdd(L"a").getName(), L"FIREWALL_ADD_COMMAND"},
  };
  for (const auto& [got, want] : named) EXPECT_EQ(want, got);

  wchar_t out[64];
  size_t length = 0;
  EXPECT_EQ(11, CreateFolderCommand(L"C:\\x").pack(out, 64, length));
  EXPECT_EQ(16u, length);
  EXPECT_EQ(std::wstring(L"CRT_FLD_CMD\0C:\\x", 16), std::wstring(out, length));

  std::wstring description = L"> ";
  CopyCommand(L"a|b").describe(description);
  EXPECT_EQ(L"> COPY_COMMAND:a|b", description);
}

TEST(CommandForms, PackThatDoesNotFitWritesNothingPastTheBuffer) {
  wchar_t out[17];
  size_t length = 99;
  EXPECT_EQ(-1, CreateFolderCommand(L"C:\\x").pack(out, 16, length));  // needs 17 with the terminator
  EXPECT_EQ(0u, length);
  EXPECT_EQ(L'\0', out[0]);
  EXPECT_EQ(11, CreateFolderCommand(L"C:\\x").pack(out, 17, length));
}

TEST(CommandForms, ArgumentIsCutAt519AndACutArgumentIsNeverExecuted) {
  const std::wstring longPath = std::wstring(600, L'x');
  CreateFolderCommand command(longPath);
  EXPECT_EQ(519u, command.argument().size());
  EXPECT_FALSE(command.argumentFits());
  EXPECT_TRUE(CreateFolderCommand(std::wstring(519, L'x')).argumentFits());
  wchar_t result[8] = L"0";
  command.execute(result, 8, nullptr);
  EXPECT_EQ(std::wstring(L"206"), result);
}

TEST_F(Fixture, SenderPresetsZeroAndLogsAroundTheCommand) {
  const std::wstring folder = at(L"made");
  EXPECT_EQ(L"0", send(CreateFolderCommand(folder)));
  const std::string expectedOrder[] = {"Start execute command in CommandSenderLocal",
                                       "CRT_FLD_CMD:" + testfiles::narrow(folder),
                                       "Create directory " + testfiles::narrow(folder),
                                       "End execute command in CommandSenderLocal, result=0"};
  const std::string text = logText();
  size_t at = 0;
  for (const auto& line : expectedOrder) {
    const size_t found = text.find(line, at);
    ASSERT_NE(std::string::npos, found) << "missing or out of order: " << line << "\n" << text;
    at = found + line.size();
  }
}

TEST_F(Fixture, CreateFolderMakesParentsAndAcceptsAnExistingFolder) {
  const std::wstring deep = at(L"a") + kSep + L"b" + kSep + L"c";
  EXPECT_EQ(L"0", send(CreateFolderCommand(deep)));
  EXPECT_TRUE(packfiles::isFolder(deep));
  EXPECT_FALSE(logHas("Folder exist already"));
  EXPECT_EQ(L"0", send(CreateFolderCommand(deep)));
  EXPECT_TRUE(logHas("Folder exist already"));
}

TEST_F(Fixture, CreateFolderOverAFileGivesTheSystemCode) {
  const std::wstring file = at(L"plain");
  testfiles::writeFile(file, "x");
  const std::wstring code = send(CreateFolderCommand(file + kSep + L"sub"));
  EXPECT_NE(L"0", code);
  EXPECT_TRUE(logHas("Can't create folder '" + testfiles::narrow(file + kSep + L"sub") + "', error code=" +
                     testfiles::narrow(code)));
}

TEST_F(Fixture, UnEbzWritesEntriesIntoSubFolders) {
  const std::wstring pack = at(L"p.ebz"), destination = at(L"out") + kSep + L"deeper";
  writePack(pack, {{"root.txt", "r"}, {"sub/dir/f.bin", std::string(70000, '\x7f')}, {"sub/empty", ""}});
  EXPECT_EQ(L"0", send(UnEbzCommand(pack + L"|" + destination)));
  EXPECT_EQ("r", testfiles::readFile(destination + kSep + L"root.txt"));
  EXPECT_EQ(std::string(70000, '\x7f'),
            testfiles::readFile(destination + kSep + L"sub" + kSep + L"dir" + kSep + L"f.bin"));
  EXPECT_TRUE(packfiles::isFile(destination + kSep + L"sub" + kSep + L"empty"));
  EXPECT_TRUE(logHas("UnEbz '" + testfiles::narrow(pack) + "' to '" + testfiles::narrow(destination) + "'"));
}

TEST_F(Fixture, UnEbzOverwritesAnExistingFile) {
  const std::wstring pack = at(L"p.ebz"), destination = at(L"out");
  packfiles::createFolderTree(destination);
  testfiles::writeFile(destination + kSep + L"f", "a much longer old content");
  writePack(pack, {{"f", "new"}});
  EXPECT_EQ(L"0", send(UnEbzCommand(pack + L"|" + destination)));
  EXPECT_EQ("new", testfiles::readFile(destination + kSep + L"f"));
}

// A second name of a file elsewhere (a hard link, or on POSIX a symbolic
// one) planted where the pack writes goes as a name: what it named keeps its
// bytes.
TEST_F(Fixture, UnEbzReplacesALinkAtAnEntrysNameAndLeavesWhatItNamed) {
  const std::wstring pack = at(L"p.ebz"), destination = at(L"out"), victim = at(L"victim.dll");
  packfiles::createFolderTree(destination);
  testfiles::writeFile(victim, "keep me");
#ifdef _WIN32
  ASSERT_TRUE(CreateHardLinkW((destination + kSep + L"hard").c_str(), victim.c_str(), nullptr));
  writePack(pack, {{"hard", "new"}});
#else
  ASSERT_EQ(::link(testfiles::narrow(victim).c_str(), testfiles::narrow(destination + kSep + L"hard").c_str()), 0);
  ASSERT_EQ(::symlink(testfiles::narrow(victim).c_str(), testfiles::narrow(destination + kSep + L"soft").c_str()), 0);
  writePack(pack, {{"hard", "new"}, {"soft", "new too"}});
#endif
  EXPECT_EQ(L"0", send(UnEbzCommand(pack + L"|" + destination)));
  EXPECT_EQ("new", testfiles::readFile(destination + kSep + L"hard"));
#ifndef _WIN32
  EXPECT_EQ("new too", testfiles::readFile(destination + kSep + L"soft"));
#endif
  EXPECT_EQ("keep me", testfiles::readFile(victim));
}

TEST_F(Fixture, UnEbzOfAMissingPackGivesTwoAndStillCreatesTheDestination) {
  const std::wstring pack = at(L"none.ebz"), destination = at(L"dest");
  EXPECT_EQ(L"2", send(UnEbzCommand(pack + L"|" + destination)));
  EXPECT_TRUE(packfiles::isFolder(destination));
  EXPECT_TRUE(logHas("File not found: " + testfiles::narrow(pack)));
  EXPECT_EQ(L"2", send(UnEbzCommand(destination + L"|" + at(L"dest2"))));  // a folder is no pack
}

TEST_F(Fixture, UnEbzOfADamagedPackGivesOneAndStillCreatesTheDestination) {
  const std::wstring pack = at(L"bad.ebz"), destination = at(L"dest");
  testfiles::writeFile(pack, "0123456789short");
  EXPECT_EQ(L"1", send(UnEbzCommand(pack + L"|" + destination)));
  EXPECT_TRUE(packfiles::isFolder(destination));
  EXPECT_TRUE(logHas("Can't unEbz " + testfiles::narrow(pack) + " to " + testfiles::narrow(destination)));
}

TEST_F(Fixture, UnEbzRefusesEntriesThatLeaveTheDestination) {
  const std::wstring destination = at(L"inner") + kSep + L"dest";
  const char* hostile[] = {"../escaped.txt", "ok/../../escaped.txt", "..\\escaped.txt", "/tmp/escaped.txt",
                           "C:\\escaped.txt", "\\\\host\\share\\escaped.txt"};
  for (const char* name : hostile) {
    const std::wstring pack = at(L"evil.ebz");
    writePack(pack, {{"first.txt", "1"}, {name, "pwned"}});
    EXPECT_EQ(L"1", send(UnEbzCommand(pack + L"|" + destination))) << name;
    EXPECT_TRUE(logHas(std::string("Refused pack entry '") + name + "'")) << name;
  }
  EXPECT_FALSE(testfiles::exists(at(L"inner") + kSep + L"escaped.txt"));
  EXPECT_FALSE(testfiles::exists(at(L"escaped.txt")));
  EXPECT_EQ("1", testfiles::readFile(destination + kSep + L"first.txt"));
}

TEST_F(Fixture, TwoPathCommandsRefuseAMissingBarOrAnOverlongHalf) {
  EXPECT_EQ(L"87", send(UnEbzCommand(at(L"p.ebz"))));
  EXPECT_EQ(L"206", send(UnEbzCommand(at(L"p.ebz") + L"|" + std::wstring(300, L'd'))));
  EXPECT_FALSE(testfiles::exists(at(L"p.ebz")));
}

}  // namespace

// An entry larger than its volume's free space is refused before its file is
// made, so a full disk never leaves a file cut short; the fault says why.
TEST_F(Fixture, FolderSinkRefusesAnEntryTheVolumeCannotHold) {
  const std::wstring destination = at(L"sink");
  auto sink = packfiles::folderSink(destination, &log);
  const uint64_t huge = 1ull << 62;
  EXPECT_FALSE(sink->beginEntry(L"big.bin", huge));
  const packfiles::WriteFault& fault = sink->fault();
  EXPECT_TRUE(static_cast<bool>(fault));
  EXPECT_TRUE(fault.noSpace);
  EXPECT_EQ(fault.needed, huge);
  EXPECT_LT(fault.available, huge);
  EXPECT_FALSE(packfiles::isFile(destination + kSep + L"big.bin"));
  const failure::Failure why = packfiles::failureOfWrite(fault);
  EXPECT_EQ(why.cause, failure::Cause::kDiskSpace);
  EXPECT_EQ(why.neededMb, failure::megabytesUp(huge));
  // A small entry on the same volume goes through.
  auto fine = packfiles::folderSink(destination, &log);
  EXPECT_TRUE(fine->beginEntry(L"small.bin", 3));
  EXPECT_TRUE(fine->writeBytes(reinterpret_cast<const uint8_t*>("abc"), 3));
  EXPECT_TRUE(fine->endEntry());
  EXPECT_FALSE(static_cast<bool>(fine->fault()));
}

TEST_F(Fixture, UnEbzIntoAFolderBlockedByAFileTellsTheFolderNotTheSpace) {
  const std::wstring pack = at(L"p.ebz"), destination = at(L"out");
  writePack(pack, {{"sub/f", "x"}});
  packfiles::createFolderTree(destination);
  testfiles::writeFile(destination + kSep + L"sub", "a file where a folder must be");
  UnEbzCommand again(pack + L"|" + destination);
  wchar_t out[256] = L"0";
  sender.send(again, out, 256);
  EXPECT_EQ(std::wstring(out), L"1");
  EXPECT_TRUE(static_cast<bool>(again.writeFault()));
  EXPECT_FALSE(again.writeFault().noSpace);
  EXPECT_EQ(packfiles::failureOfWrite(again.writeFault()).cause, failure::Cause::kNotWritable);
}

TEST_F(Fixture, ProbeWriteLeavesNothingBehind) {
  const std::wstring fresh = at(L"a") + kSep + L"b" + kSep + L"c";
  EXPECT_EQ(packfiles::probeWrite(fresh), 0u);
  EXPECT_FALSE(packfiles::isFolder(at(L"a")));
  const std::wstring kept = at(L"kept");
  packfiles::createFolderTree(kept);
  EXPECT_EQ(packfiles::probeWrite(kept), 0u);
  EXPECT_TRUE(packfiles::isFolder(kept));
  testfiles::writeFile(at(L"plain"), "x");
  EXPECT_NE(packfiles::probeWrite(at(L"plain") + kSep + L"sub"), 0u);
  uint64_t free = 0;
  EXPECT_TRUE(packfiles::freeSpace(fresh, free));  // a missing folder counts by its parent
  EXPECT_GT(free, 0u);
}
