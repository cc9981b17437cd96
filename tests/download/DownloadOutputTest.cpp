#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "TestFiles.h"
#include "download/DownloadOutput.h"
#include "formats/Md5.h"

using download::FileDownloadOutput;
using download::MemoryDownloadOutput;

namespace {
#ifdef _WIN32
const wchar_t kSep = L'\\';
#else
const wchar_t kSep = L'/';
#endif
}  // namespace

TEST(FileDownloadOutput, AFolderPathTakesTheDownloadsNameAndReplacesAnOldFile) {
  testfiles::ScratchDir dir;
  std::wstring folder = dir.path() + kSep;
  testfiles::writeFile(folder + L"pack.ebz", std::string(5000, 'o'));
  FileDownloadOutput output(folder);
  EXPECT_EQ(output.size(), -1);
  EXPECT_EQ(output.md5(), L"");
  ASSERT_TRUE(output.open(L"pack.ebz"));
  EXPECT_EQ(output.name(), folder + L"pack.ebz");
  EXPECT_EQ(output.size(), 0);
  output.write("world", 6, 5);
  output.write("hello ", 0, 6);
  EXPECT_EQ(output.size(), 11);
  EXPECT_EQ(output.md5(), text::toWide(md5Hex("hello world", 11)));
  output.finish(true);
  EXPECT_TRUE(output.isOk());
  EXPECT_EQ(output.size(), -1);
  EXPECT_EQ(testfiles::readFile(folder + L"pack.ebz"), "hello world");
}

TEST(FileDownloadOutput, AFilePathIsKeptAndBadWritesAreRefused) {
  testfiles::ScratchDir dir;
  std::wstring path = dir.path() + kSep + L"out.bin";
  FileDownloadOutput output(path);
  output.write("early", 0, 5);  // nothing open yet
  ASSERT_TRUE(output.open(L"ignored.bin"));
  EXPECT_EQ(output.name(), path);
  output.write("abc", -1, 3);
  output.write("abc", 0, -3);
  output.write(nullptr, 0, 3);
  EXPECT_EQ(output.size(), 0);
  output.finish(false);
  EXPECT_FALSE(output.isOk());
}

TEST(FileDownloadOutput, AMissingFolderFailsToOpen) {
  testfiles::ScratchDir dir;
  FileDownloadOutput output(dir.path() + kSep + L"no" + kSep + L"such" + kSep);
  EXPECT_FALSE(output.open(L"f.bin"));
  EXPECT_EQ(output.size(), -1);
}

// The digest is partly taken while writing; it must always be that of the
// bytes the file holds in the end, whatever order they came in.
TEST(FileDownloadOutput, Md5IsThatOfTheFileWhateverTheOrderOfWrites) {
  testfiles::ScratchDir dir;
  std::wstring path = dir.path() + kSep + L"f.bin";
  std::string body(300000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 31 + i / 7);
  auto expect = [&](FileDownloadOutput& output, const std::string& content) {
    EXPECT_EQ(testfiles::readFile(path).size(), content.size());
    EXPECT_EQ(output.md5(), text::toWide(md5Hex(content.data(), content.size())));
  };

  FileDownloadOutput inOrder(path);
  ASSERT_TRUE(inOrder.open(L"x"));
  for (size_t at = 0; at < body.size(); at += 8192) {
    int n = static_cast<int>(std::min<size_t>(8192, body.size() - at));
    ASSERT_TRUE(inOrder.write(body.data() + at, static_cast<int>(at), n));
  }
  expect(inOrder, body);
  expect(inOrder, body);  // asking twice gives the same
  inOrder.finish(true);

  // Four chunks written round-robin, as chunk threads do.
  FileDownloadOutput chunks(path);
  ASSERT_TRUE(chunks.open(L"x"));
  const size_t quarter = body.size() / 4;
  for (size_t step = 0; step < quarter; step += 5000) {
    for (size_t c = 0; c < 4; ++c) {
      size_t at = c * quarter + step;
      int n = static_cast<int>(std::min<size_t>(5000, quarter - step));
      ASSERT_TRUE(chunks.write(body.data() + at, static_cast<int>(at), n));
    }
  }
  expect(chunks, body);
  chunks.finish(true);

  // A chunk fetched again with other bytes replaces what was already digested.
  FileDownloadOutput again(path);
  ASSERT_TRUE(again.open(L"x"));
  ASSERT_TRUE(again.write("broken answer", 0, 13));
  ASSERT_TRUE(again.write(" tail", 13, 5));
  ASSERT_TRUE(again.write("right answer!", 0, 13));
  expect(again, "right answer! tail");
  again.finish(true);
}

TEST(FileDownloadOutput, AFolderRefusesNamesThatAreNotPlainFiles) {
  testfiles::ScratchDir dir;
  std::wstring folder = dir.path() + kSep;
  for (const wchar_t* name : {L"NUL", L"com1.txt", L"a:b", L"..", L"sub/x.bin", L"a?b"}) {
    FileDownloadOutput output(folder);
    EXPECT_FALSE(output.open(name)) << text::wideToUtf8(name);
    EXPECT_EQ(output.name(), folder);
  }
}

TEST(MemoryDownloadOutput, WritesAcrossBlocksInAnyOrder) {
  MemoryDownloadOutput output;
  const int block = MemoryDownloadOutput::kBlockSize;
  std::string expected(static_cast<size_t>(block) * 2 + 100, '\0');
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<char>(i * 7 + 3);
  // Second half first, cut across the block boundary.
  size_t half = block - 50;
  output.write(expected.data() + half, static_cast<int>(half), static_cast<int>(expected.size() - half));
  EXPECT_EQ(output.size(), static_cast<int>(expected.size()));
  output.write(expected.data(), 0, static_cast<int>(half));
  EXPECT_EQ(output.content(), expected);
  EXPECT_TRUE(output.open(L"anything"));
  EXPECT_EQ(output.md5(), L"");
  EXPECT_EQ(output.name(), L"memoryOutput");
}

TEST(MemoryDownloadOutput, SizeIsTheHighestEndAndBadWritesAreRefused) {
  MemoryDownloadOutput output;
  output.write("zz", 10, 2);
  output.write("a", 0, 1);
  EXPECT_EQ(output.size(), 12);
  EXPECT_EQ(output.content(), std::string("a") + std::string(9, '\0') + "zz");
  EXPECT_FALSE(output.write("x", -5, 1));
  EXPECT_FALSE(output.write("x", 2147483647, 1));
  EXPECT_EQ(output.size(), 12);
  // Up to 16 MiB and not a byte further.
  const int cap = MemoryDownloadOutput::kMaxSize;
  EXPECT_TRUE(output.write("e", cap - 1, 1));
  EXPECT_FALSE(output.write("f", cap, 1));
  EXPECT_FALSE(output.write("gh", cap - 1, 2));
  EXPECT_EQ(output.size(), cap);
  output.finish(true);
  EXPECT_TRUE(output.isOk());
}

TEST(FileDownloadOutputPrefix, FollowsTheGaplessRunFromTheFirstByteAndTellsOfRestartsAndTheEnd) {
  testfiles::ScratchDir dir;
  const std::wstring path = dir.path() + kSep + L"pack.ebz";
  FileDownloadOutput output(path, true);
  auto now = [&](long long past, unsigned generation) { return output.waitForPrefix(past, generation, 0); };
  EXPECT_EQ(now(0, 0).generation, 0u) << "nothing opened yet";

  const download::ContentIdentity content{L"http://fake/pack.ebz", 40, L"0123456789abcdef0123456789abcdef", L""};
  std::vector<download::ChunkProgress> chunks = {{0, 10, 0}, {10, 10, 0}, {20, 10, 0}, {30, 10, 0}};
  ASSERT_TRUE(output.openChunked(L"", content, &chunks));
  const unsigned first = now(0, 0).generation;
  EXPECT_NE(first, 0u);
  // Later chunks run ahead; each of their writes extends their own run.
  ASSERT_TRUE(output.write("cccc", 20, 4));
  ASSERT_TRUE(output.write("ccc", 24, 3));
  ASSERT_TRUE(output.write("bbbbbbbbbb", 10, 10));
  EXPECT_EQ(now(0, first).bytes, 0);
  ASSERT_TRUE(output.write("aaaaa", 0, 5));
  EXPECT_EQ(now(0, first).bytes, 5);
  ASSERT_TRUE(output.write("aaaaa", 5, 5));
  EXPECT_EQ(now(0, first).bytes, 27) << "the first chunk joins the runs it reaches";
  EXPECT_EQ(now(0, first).generation, first);
  // A byte already handed to a reader written again: what it read may be gone.
  ASSERT_TRUE(output.write("A", 0, 1));
  const download::FileDownloadOutput::Prefix rewritten = now(27, first);
  EXPECT_NE(rewritten.generation, first);
  EXPECT_EQ(rewritten.bytes, 27);
  EXPECT_FALSE(rewritten.ended);

  // A waiter is released by the end, without waiting out its time.
  std::thread finisher([&] { output.finish(false); });
  const download::FileDownloadOutput::Prefix ended = output.waitForPrefix(27, rewritten.generation, 60000);
  finisher.join();
  EXPECT_TRUE(ended.ended);
  EXPECT_FALSE(ended.ok);

  // The next run picks up the state: the held bytes are a prefix again at once.
  FileDownloadOutput again(path, true);
  std::vector<download::ChunkProgress> fresh = {{0, 10, 0}, {10, 10, 0}, {20, 10, 0}, {30, 10, 0}};
  ASSERT_TRUE(again.openChunked(L"", content, &fresh));
  const download::FileDownloadOutput::Prefix resumed = again.waitForPrefix(0, 0, 0);
  EXPECT_GT(resumed.bytes, 0);
  EXPECT_EQ(resumed.bytes, fresh[0].done) << "the rewrite left the first chunk's count at its one byte";
  EXPECT_FALSE(resumed.ended);
  again.finish(false);
}
