// Downloads that pick up across runs where an earlier one broke off, over the
// scripted transport: what the second run asks for, and what it ends with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "FakeSite.h"
#include "RecordingListener.h"
#include "TestBodies.h"
#include "TestFiles.h"
#include "app/Log.h"
#include "download/DownloadOutput.h"
#include "download/DownloadState.h"
#include "download/FileDownloader.h"
#include "formats/Md5.h"

using namespace download;
using namespace download::testing_site;

namespace {

constexpr int kChunks = 4;
constexpr int kBody = 400000;
constexpr int kChunk = kBody / kChunks;

class ResumeTest : public ::testing::Test {
 public:
  void SetUp() override { serve(pattern(kBody, 21)); }

  void serve(const std::string& body) {
    site.body = body;
    site.contentMd5 = text::toWide(md5Hex(body.data(), body.size()));
  }

  // One installer run: a fresh downloader and listener over the same file.
  bool run() {
    site.opened.clear();
    listener = std::make_unique<RecordingListener>();
    output = std::make_shared<FileDownloadOutput>(file, true);
    FileDownloader downloader(L"http://fake/pack.ebz", output, kChunks, &log, listener.get(), L"pack", 1,
                              fakeConnections(site), noPauses());
    return downloader.download();
  }

  // A run whose every chunk answer breaks off after `after` bytes, until its
  // attempts are spent: what a network gone mid-download leaves.
  void brokenRun(int after) {
    // Six answers of `after` bytes per chunk, then nothing: an attempt that
    // brings bytes does not count against the attempts, so only the empty
    // ones end the run.
    site.breakAt = [after](const Opened& o) {
      if (o.length <= 1) return -1;
      return o.offset % kChunk < 6 * after ? after : 0;
    };
    EXPECT_FALSE(run());
    site.breakAt = nullptr;
  }

  DownloadState storedState() {
    DownloadState state;
    EXPECT_TRUE(DownloadState::parse(testfiles::readFile(statePath), &state)) << testfiles::readFile(statePath);
    return state;
  }

  // The requests of the last run after its one-byte probe, by offset.
  std::vector<Opened> chunkRequests() {
    std::vector<Opened> asked(site.opened.begin() + 1, site.opened.end());
    std::sort(asked.begin(), asked.end(), [](const Opened& a, const Opened& b) { return a.offset < b.offset; });
    return asked;
  }

  void forgetEarlierRuns() {
    std::remove(testfiles::narrow(file).c_str());
    std::remove(testfiles::narrow(statePath).c_str());
  }

  std::string logText() { return testfiles::readFile(logPath); }

  FakeSite site;
  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + L"/dl.log";
  std::wstring file = scratch.path() + L"/Vexa.ebz";
  std::wstring statePath = downloadStatePath(file);
  Log log = Log::atPath(logPath);
  std::unique_ptr<RecordingListener> listener;
  std::shared_ptr<FileDownloadOutput> output;
};

TEST_F(ResumeTest, ASecondRunAsksOnlyForWhatEachChunkLacks) {
  brokenRun(5000);
  DownloadState broken = storedState();
  ASSERT_EQ(broken.chunks.size(), static_cast<size_t>(kChunks));
  EXPECT_TRUE(broken.content.url == L"http://fake/pack.ebz");
  EXPECT_EQ(broken.content.length, kBody);
  EXPECT_TRUE(broken.content.md5 == site.contentMd5);
  for (const ChunkProgress& chunk : broken.chunks) {
    // Six answers (the first and five more attempts) of 5000 bytes each.
    EXPECT_EQ(chunk.done, 30000) << chunk.offset;
  }

  ASSERT_TRUE(run()) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  std::vector<Opened> asked = chunkRequests();
  ASSERT_EQ(asked.size(), static_cast<size_t>(kChunks));
  for (int i = 0; i < kChunks; ++i) {
    EXPECT_EQ(asked[i].offset, i * kChunk + 30000);
    EXPECT_EQ(asked[i].length, kChunk - 30000);
  }
  EXPECT_NE(logText().find("Resume download of [http://fake/pack.ebz] from an earlier run: 120000 of 400000 bytes "
                           "are held"),
            std::string::npos);
  EXPECT_EQ(listener->completed(), 1);
  EXPECT_EQ(listener->progress().back(), 100.0f);
  EXPECT_GE(listener->progress().front(), 30.0f) << "progress counts the bytes held from the start";
  EXPECT_EQ(output->bytesResumed(), 120000);
  EXPECT_TRUE(listener->failures().empty());
  // The state stays, complete, until the pack has been used.
  EXPECT_TRUE(storedState().complete());
}

TEST_F(ResumeTest, AFinishedPackIsNotFetchedAgain) {
  ASSERT_TRUE(run());
  ASSERT_TRUE(run()) << logText();
  EXPECT_EQ(site.opened.size(), 1u) << "only the probe that tells the content";
  EXPECT_EQ(output->bytesResumed(), kBody) << "every byte came from the earlier run";
  EXPECT_EQ(listener->completed(), 1);
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
}

TEST_F(ResumeTest, AnythingThatDoesNotMatchStartsFromTheFirstByte) {
  struct Case {
    const char* why;
    std::function<void(ResumeTest&)> change;
  } cases[] = {
      {"the pack changed on the server",
       [](ResumeTest& t) { t.serve(pattern(kBody, 22)); }},
      {"the file is shorter than the state claims",
       [](ResumeTest& t) { testfiles::writeFile(t.file, testfiles::readFile(t.file).substr(0, 1000)); }},
      {"the file is gone", [](ResumeTest& t) { std::remove(testfiles::narrow(t.file).c_str()); }},
      {"the state is garbage", [](ResumeTest& t) { testfiles::writeFile(t.statePath, "chunk 0 1 1\n"); }},
      {"the server sends no digest",
       [](ResumeTest& t) { t.site.contentMd5.clear(); }},
      {"the server sends no digest and only a weak tag",
       [](ResumeTest& t) {
         t.site.contentMd5.clear();
         t.site.etag = L"W/\"5f1-3e8\"";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    forgetEarlierRuns();
    serve(pattern(kBody, 21));
    site.etag.clear();
    brokenRun(5000);
    c.change(*this);
    ASSERT_TRUE(run()) << logText();
    EXPECT_TRUE(testfiles::readFile(file) == site.body);
    std::vector<Opened> asked = chunkRequests();
    ASSERT_EQ(asked.size(), static_cast<size_t>(kChunks));
    for (int i = 0; i < kChunks; ++i) {
      EXPECT_EQ(asked[i].offset, i * kChunk);
      EXPECT_EQ(asked[i].length, kChunk);
    }
    EXPECT_EQ(output->bytesResumed(), 0);
  }
  // Without a digest a resumed file could not be checked, so none is kept.
  EXPECT_FALSE(testfiles::exists(statePath));
}

TEST_F(ResumeTest, HeldBytesThatProveWrongAreFetchedAgainInTheSameRun) {
  brokenRun(5000);
  std::string held = testfiles::readFile(file);
  held[kChunk + 10] ^= 0x40;
  testfiles::writeFile(file, held);

  ASSERT_TRUE(run()) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_NE(logText().find("Resumed download of [http://fake/pack.ebz] does not match its MD5, downloading again "
                           "from the first byte"),
            std::string::npos);
  EXPECT_TRUE(listener->failures().empty());
  EXPECT_EQ(listener->completed(), 1);
}

TEST_F(ResumeTest, AFailedDigestLeavesNothingForTheNextRunToPickUp) {
  site.contentMd5 = L"00000000000000000000000000000000";
  EXPECT_FALSE(run());
  // Fresh bytes that fail are fetched once more from a fresh state, not again.
  EXPECT_EQ(site.opened.size(), 2 * (1u + kChunks));
  ASSERT_EQ(listener->failures().size(), 1u);
  EXPECT_TRUE(listener->failures()[0] == L"MD5 mismatch");
  EXPECT_FALSE(testfiles::exists(statePath));
}

// A plain static server: ranges and a strong ETag, no Content-MD5.
class EtagResumeTest : public ResumeTest {
 public:
  void SetUp() override {
    site.body = pattern(kBody, 31);
    site.etag = L"\"6571a2b0-61a80\"";
  }
};

TEST_F(EtagResumeTest, ASecondRunAsksForTheMissingRangesWithIfRange) {
  brokenRun(5000);
  DownloadState broken = storedState();
  EXPECT_TRUE(broken.content.etag == site.etag);
  EXPECT_TRUE(broken.content.md5.empty());

  ASSERT_TRUE(run()) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  std::vector<Opened> asked = chunkRequests();
  ASSERT_EQ(asked.size(), static_cast<size_t>(kChunks));
  for (int i = 0; i < kChunks; ++i) {
    EXPECT_EQ(asked[i].offset, i * kChunk + 30000);
    EXPECT_TRUE(asked[i].ifRange == site.etag);
  }
  EXPECT_TRUE(site.opened[0].ifRange.empty()) << "the first answer tells the tag";
  EXPECT_EQ(output->bytesResumed(), 120000);
  EXPECT_NE(logText().find("Resumed download of [http://fake/pack.ebz] has no MD5 to check: its length and "
                           "If-Range \"6571a2b0-61a80\" vouch for the bytes held"),
            std::string::npos);
}

TEST_F(EtagResumeTest, APackReplacedBetweenRunsIsFetchedWhole) {
  brokenRun(5000);
  site.body = pattern(kBody, 32);
  site.etag = L"\"6571a2ff-61a80\"";
  ASSERT_TRUE(run()) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  std::vector<Opened> asked = chunkRequests();
  ASSERT_EQ(asked.size(), static_cast<size_t>(kChunks));
  for (int i = 0; i < kChunks; ++i) EXPECT_EQ(asked[i].offset, i * kChunk);
  EXPECT_EQ(output->bytesResumed(), 0);
}

TEST_F(EtagResumeTest, APackReplacedDuringTheDownloadStartsOverInTheSameRun) {
  brokenRun(5000);
  const std::string replacement = pattern(kBody, 33);
  // Replaced right after the first answer: the chunks' If-Range no longer
  // matches, and the server answers them with the whole new content.
  auto swapped = std::make_shared<bool>(false);
  site.breakAt = [this, swapped, replacement](const Opened& o) {
    if (!*swapped && o.length == FileDownloader::kProbeLength) {
      *swapped = true;
      site.body = replacement;
      site.etag = L"\"6571a2ff-61a80\"";
    }
    return -1;
  };
  ASSERT_TRUE(run()) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == replacement);
  EXPECT_NE(logText().find("Content of [http://fake/pack.ebz] changed on the server, downloading again from the "
                           "first byte"),
            std::string::npos);
  EXPECT_TRUE(listener->failures().empty());
  EXPECT_EQ(listener->completed(), 1);
  EXPECT_EQ(output->bytesResumed(), 0);
}

TEST_F(ResumeTest, AServerThatDoesNotSplitVoidsAnEarlierState) {
  brokenRun(5000);
  site.ranges = false;
  ASSERT_TRUE(run()) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_FALSE(testfiles::exists(statePath));
}

TEST(FileDownloadOutputProgress, CountsOnlyBytesThatContinueEachChunkAndSavesAsItGoes) {
  testfiles::ScratchDir scratch;
  const std::wstring file = scratch.path() + L"/pack.ebz";
  const std::wstring statePath = downloadStatePath(file);
  const long long chunk = 2 * FileDownloadOutput::kStateSaveBytes;
  ContentIdentity content{L"http://fake/pack.ebz", 2 * chunk, L"0123456789abcdef0123456789abcdef", L""};
  std::vector<ChunkProgress> chunks = {{0, chunk, 0}, {chunk, chunk, 0}};
  std::string block(static_cast<size_t>(FileDownloadOutput::kStateSaveBytes), 'x');
  const int blockSize = static_cast<int>(block.size());
  auto stored = [&] {
    DownloadState state;
    EXPECT_TRUE(DownloadState::parse(testfiles::readFile(statePath), &state));
    return state.chunks;
  };
  {
    FileDownloadOutput output(file, true);
    ASSERT_TRUE(output.openChunked(L"", content, &chunks));
    EXPECT_EQ(stored()[0].done, 0) << "a state exists from the first byte on";
    ASSERT_TRUE(output.write(block.data(), 0, blockSize));
    EXPECT_EQ(stored()[0].done, blockSize) << "saved once enough bytes came";
    // A piece beyond the chunk's run, as from a request that jumped ahead,
    // is not counted: the bytes before it are missing.
    ASSERT_TRUE(output.write("y", static_cast<int>(chunk + 10), 1));
    // A chunk fetched again from its first byte counts from there once more.
    ASSERT_TRUE(output.write(block.data(), 0, 100));
    output.finish(false);
  }
  std::vector<ChunkProgress> after = stored();
  EXPECT_EQ(after[0].done, 100);
  EXPECT_EQ(after[1].done, 0);

  // The next open of the same content hands these chunks back.
  std::vector<ChunkProgress> fresh = {{0, chunk, 0}, {chunk, chunk, 0}};
  FileDownloadOutput again(file, true);
  ASSERT_TRUE(again.openChunked(L"", content, &fresh));
  EXPECT_EQ(fresh, after);
  again.discardProgress();
  EXPECT_FALSE(testfiles::exists(statePath));
  again.finish(false);
  EXPECT_FALSE(testfiles::exists(statePath)) << "a discarded state is not written back";
}

}  // namespace
