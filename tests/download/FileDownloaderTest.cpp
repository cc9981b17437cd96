// The downloader's logic over a scripted in-memory transport: runs natively
// under ASan/UBSan, where races between chunk threads show up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <random>

#include "FakeSite.h"
#include "RecordingListener.h"
#include "TestBodies.h"
#include "TestFiles.h"
#include "app/Log.h"
#include "download/ChunkPlan.h"
#include "download/DownloadManager.h"
#include "download/FileDownloader.h"
#include "download/HttpFacts.h"
#include "app/Text.h"
#include "formats/Md5.h"

using namespace download;
using namespace download::testing_site;

namespace {

class FileDownloaderTest : public ::testing::Test {
 protected:
  std::wstring fetch(int threads, const std::wstring& md5 = L"") {
    return downloadToFile(fakeConnections(site), &listener, L"pack", L"http://fake/pack.ebz", file, 1, threads, &log,
                          60000, 0, md5, false, noPauses());
  }
  std::string logText() { return testfiles::readFile(logPath); }

  FakeSite site;
  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + L"/dl.log";
  std::wstring file = scratch.path() + L"/out.bin";
  Log log = Log::atPath(logPath);
  RecordingListener listener;
};

TEST_F(FileDownloaderTest, ChunksCompleteOnceAndReportEveryStep) {
  site.body = pattern(100000, 1);
  ASSERT_EQ(fetch(4), file);
  EXPECT_EQ(testfiles::readFile(file), site.body);
  EXPECT_EQ(listener.completed(), 1);
  EXPECT_EQ(listener.progress().back(), 100.0f);
  std::string text = logText();
  for (int i = 0; i < 4; ++i) {
    EXPECT_NE(text.find("Chunk #" + std::to_string(i) + " is done, downloadId:pack, url:http://fake/pack.ebz"),
              std::string::npos);
  }
  EXPECT_EQ(site.opened.size(), 5u);
}

// Breaks the first answer that matches, after the given bytes.
std::function<int(const Opened&)> breakOnce(int length, int offset, int after) {
  auto used = std::make_shared<bool>(false);
  return [=](const Opened& o) {
    if (*used || o.length != length || o.offset != offset) return -1;
    *used = true;
    return after;
  };
}

bool contains(const std::vector<Opened>& opened, int length, int offset) {
  for (const Opened& o : opened) {
    if (o.length == length && o.offset == offset) return true;
  }
  return false;
}

TEST_F(FileDownloaderTest, LargeContentIsFetchedInStripesThatTheConnectionsTakeInOrder) {
  // More than four connections' worth of stripes: five of about 2 MiB.
  site.body = pattern(9 * 1024 * 1024, 2);
  ASSERT_EQ(fetch(4), file);
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_EQ(listener.completed(), 1);
  const std::vector<ChunkRange> stripes = planChunks(uint32_t(site.body.size()), 5);
  ASSERT_EQ(site.opened.size(), 1 + stripes.size());
  for (const ChunkRange& stripe : stripes) {
    EXPECT_TRUE(contains(site.opened, stripe.limit, stripe.offset)) << stripe.offset;
  }
}

TEST_F(FileDownloaderTest, ABrokenReadResumesFromTheByteReached) {
  site.body = pattern(5000, 6);
  site.breakAt = breakOnce(1000, 4000, 300);
  ASSERT_EQ(fetch(5), file) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_TRUE(contains(site.opened, 700, 4300));
  EXPECT_EQ(rangeHeader(4300, 700), L"Range: bytes=4300-4999");
  std::string text = logText();
  EXPECT_NE(text.find("ERROR : [DEF] : InternetReadFile [chunkNum=4, downloadAttemptCountRemain=5, limit=1000, "
                      "offset=4000], lastError:"),
            std::string::npos);
  EXPECT_NE(text.find("InternetReadFile, use next attempt [chunkNum=4, downloadAttemptCountRemain=4, limit=700, "
                      "offset=4300], lastError:"),
            std::string::npos);
  EXPECT_EQ(listener.completed(), 1);
  EXPECT_TRUE(listener.failures().empty());
}

TEST_F(FileDownloaderTest, AWholeBodyResumesToTheEndOfTheRange) {
  site.body = pattern(6000, 7);
  site.announceRanges = false;
  site.breakAt = breakOnce(-1, 0, 300);
  // One connection, and no Accept-Ranges: the content is asked whole.
  ASSERT_EQ(fetch(1), file) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  ASSERT_EQ(site.opened.size(), 2u);
  EXPECT_EQ(site.opened[0].length, -1);
  EXPECT_EQ(rangeHeader(site.opened[1].offset, site.opened[1].length), L"Range: bytes=300-4294967294");
  EXPECT_EQ(listener.completed(), 1);
}

TEST_F(FileDownloaderTest, AServerIgnoringTheResumeRangeIsReadAgainFromTheStart) {
  site.body = pattern(6000, 8);
  site.ranges = false;
  site.contentLength = false;  // nothing but the restart can keep this file right
  site.breakAt = breakOnce(FileDownloader::kProbeLength, 0, 300);
  ASSERT_EQ(fetch(4), file) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_NE(logText().find("Range ignored by server, reading again from the first byte"), std::string::npos);
}

TEST_F(FileDownloaderTest, AChunkOutOfAttemptsFailsTheDownload) {
  site.body = pattern(8000, 2);
  // Attempts that bring nothing count; see the trickle test for those that do.
  site.breakAt = [](const Opened& o) { return o.offset >= 4000 ? 0 : -1; };
  EXPECT_EQ(fetch(2), L"");
  // The first answer, the first chunk, then the second chunk's first try and its five retries.
  EXPECT_EQ(site.opened.size(), 1u + 1u + 6u);
  ASSERT_EQ(listener.failures().size(), 1u);
  EXPECT_EQ(listener.failures()[0].rfind(L"InternetReadFile, lastError:", 0), 0u) << listener.failures()[0];
  EXPECT_NE(logText().find("Download [http://fake/pack.ebz] is FAILED"), std::string::npos);
}

TEST_F(FileDownloaderTest, RefusedConnectionsAreRetriedThenGivenUp) {
  site.body = pattern(500, 3);
  site.refuseOpens = 4;
  EXPECT_EQ(fetch(1), file);
  EXPECT_EQ(listener.errors().size(), 4u);
  EXPECT_NE(listener.errors().back().find(L"Failed open connection, connectAttemptCountRemain=1 [chunkNum=0"),
            std::wstring::npos);

  FakeSite lonely;
  lonely.body = pattern(500, 4);
  lonely.refuseOpens = 5;
  RecordingListener quiet;
  EXPECT_EQ(downloadToFile(fakeConnections(lonely), &quiet, L"pack", L"http://fake/x", file, 1, 2, &log, 60000, 0,
                           L"", false, noPauses()),
            L"");
  EXPECT_EQ(quiet.failures(), std::vector<std::wstring>{L"Can't open connection"});
}

TEST_F(FileDownloaderTest, AWholeBodyCutShortOfItsLengthFailsOnce) {
  site.body = pattern(5000, 5);
  site.ranges = false;
  site.endAt = [](const Opened&) { return 3000; };
  EXPECT_EQ(fetch(3), L"");
  EXPECT_EQ(listener.completed(), 0);
  EXPECT_EQ(listener.failures().size(), 1u);
  EXPECT_NE(logText().find("length of [http://fake/pack.ebz]=5000, length of downloaded file ["), std::string::npos);
}

TEST_F(FileDownloaderTest, RandomFaultsNeverYieldWrongBytes) {
  std::mt19937 random(7);
  for (int run = 0; run < 40; ++run) {
    FakeSite s;
    s.body = pattern(5000 + random() % 50000, run);
    s.ranges = random() % 3 != 0;
    s.contentLength = random() % 4 != 0;
    auto dice = std::make_shared<std::mt19937>(random());
    auto mutex = std::make_shared<std::mutex>();
    s.breakAt = [dice, mutex](const Opened&) {
      std::lock_guard<std::mutex> g(*mutex);
      return (*dice)() % 5 == 0 ? static_cast<int>((*dice)() % 6000) : -1;
    };
    // Without a length, a body that ends early is indistinguishable from a
    // whole one, so only announced lengths are cut short.
    if (s.contentLength) {
      s.endAt = [dice, mutex](const Opened&) {
        std::lock_guard<std::mutex> g(*mutex);
        return (*dice)() % 5 == 0 ? static_cast<int>((*dice)() % 6000) : -1;
      };
    }
    RecordingListener l;
    std::wstring target = scratch.path() + L"/run" + std::to_wstring(run);
    std::wstring result = downloadToFile(fakeConnections(s), &l, L"run", L"http://fake/r", target, run,
                                         1 + random() % 4, &log, 60000, 0, L"", false, noPauses());
    if (!result.empty()) {
      std::string got = testfiles::readFile(target);
      EXPECT_EQ(md5Hex(got.data(), got.size()), md5Hex(s.body.data(), s.body.size()))
          << "run " << run << " ranges=" << s.ranges << " length=" << s.contentLength;
    } else {
      EXPECT_FALSE(l.failures().empty()) << "run " << run;
    }
  }
}

TEST_F(FileDownloaderTest, AnAnnouncedEmptyBodyIsACompleteEmptyDownload) {
  site.body.clear();
  site.ranges = false;
  EXPECT_EQ(downloadToString(fakeConnections(site), &listener, L"event", L"http://fake/installer2.html?param=00",
                             &log, 60000, 4, false, noPauses()),
            L"");
  EXPECT_EQ(listener.completed(), 1);
  EXPECT_TRUE(listener.failures().empty());
  EXPECT_NE(logText().find("Download [http://fake/installer2.html?param=00] is SUCCESS"), std::string::npos);

  // A server that announces ranges for an empty file: nothing to split.
  site.ranges = true;
  RecordingListener again;
  EXPECT_EQ(downloadToFile(fakeConnections(site), &again, L"pack", L"http://fake/empty.bin", file, 1, 4, &log, 60000,
                           0, L"", false, noPauses()),
            file);
  EXPECT_TRUE(testfiles::exists(file));
  EXPECT_EQ(testfiles::readFile(file), "");
  EXPECT_EQ(again.completed(), 1);
  EXPECT_TRUE(again.failures().empty());
}

TEST_F(FileDownloaderTest, AnErrorPageIsAFailedDownloadButAStatisticsAnswerIsRead) {
  site.body = "Not Found";
  site.status = 404;
  for (int threads : {1, 4}) {
    RecordingListener refused;
    EXPECT_EQ(downloadToFile(fakeConnections(site), &refused, L"pack", L"http://fake/pack.ebz", file, 1, threads, &log,
                             60000, 0, L"", false, noPauses()),
              L"")
        << threads;
    EXPECT_EQ(refused.failures(), std::vector<std::wstring>{L"HTTP status 404"});
    EXPECT_EQ(refused.completed(), 0);
  }
  EXPECT_NE(logText().find("ERROR : [DEF] : Download [http://fake/pack.ebz] answered with HTTP status 404"),
            std::string::npos);
  EXPECT_EQ(downloadAnswerToString(fakeConnections(site), &listener, L"event", L"http://fake/installer2.html", &log,
                                   60000, 2, false, noPauses()),
            L"Not Found");

  // A chunk's answer that is an error page is retried, never written.
  site.status = 0;
  site.body = pattern(8000, 18);
  auto failing = std::make_shared<int>(2);
  site.statusFor = [failing](const Opened& o) { return o.offset == 4000 && (*failing)-- > 0 ? 503 : 0; };
  RecordingListener retried;
  ASSERT_EQ(downloadToFile(fakeConnections(site), &retried, L"pack", L"http://fake/pack.ebz", file, 1, 2, &log, 60000,
                           0, L"", false, noPauses()),
            file)
      << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_NE(logText().find("HTTP status 503, connectAttemptCountRemain=4 [chunkNum=1"), std::string::npos);
}

TEST_F(FileDownloaderTest, AnEmptyBodyWithoutALengthFailsWithoutCompleting) {
  site.body.clear();
  site.ranges = false;
  site.contentLength = false;
  EXPECT_EQ(fetch(1), L"");
  EXPECT_EQ(listener.completed(), 0);
  EXPECT_EQ(listener.failures().size(), 1u);
  EXPECT_NE(logText().find("Download [http://fake/pack.ebz] is FAILED"), std::string::npos);
}

TEST_F(FileDownloaderTest, ALengthPastTwoGibibytesFailsInsteadOfWrapping) {
  site.body = pattern(100, 11);
  site.ranges = false;
  site.announce = 4294967296LL + 100;  // wraps to 100 in 32 bits
  EXPECT_EQ(fetch(4), L"");
  EXPECT_NE(logText().find("ERROR : [DEF] : Content length of [http://fake/pack.ebz]=4294967396 is more than the "
                           "download can hold (2147483647 bytes)"),
            std::string::npos)
      << logText();
  EXPECT_NE(logText().find("Download [http://fake/pack.ebz] is FAILED"), std::string::npos);
  EXPECT_EQ(listener.failures(), std::vector<std::wstring>{L"Content length too large: 4294967396"});
  EXPECT_EQ(listener.completed(), 0);

  // 2 GiB itself would read as a negative int.
  site.ranges = true;
  site.announce = 2147483648LL;
  site.opened.clear();
  EXPECT_EQ(fetch(4), L"");
  EXPECT_EQ(site.opened.size(), 1u);  // no chunk was planned over it
}

// Gives the bytes to a file but cannot read them back.
class UnreadableOutput : public FileDownloadOutput {
 public:
  using FileDownloadOutput::FileDownloadOutput;
  std::wstring md5() override { return L""; }
};

// Counts the writes that reach the file.
class CountingOutput : public FileDownloadOutput {
 public:
  using FileDownloadOutput::FileDownloadOutput;
  bool write(const char* bytes, int offset, int count) override {
    ++writes;
    return FileDownloadOutput::write(bytes, offset, count);
  }
  std::atomic<int> writes{0};
};

TEST_F(FileDownloaderTest, ChunksWriteInLargePiecesNotOncePerRead) {
  site.body = pattern(2 * 1024 * 1024 + 123, 17);  // the fake sends 1000 bytes per read
  auto output = std::make_shared<CountingOutput>(file);
  DownloadManager manager(&log, fakeConnections(site), noPauses());
  manager.startDownload(L"pack", L"http://fake/pack.ebz", 4, &listener, 1, 0,
                        text::toWide(md5Hex(site.body.data(), site.body.size())), false, output);
  ASSERT_TRUE(manager.waitAll(60000)) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_LE(output->writes.load(), 4 * 3);
}

TEST_F(FileDownloaderTest, AnMd5ThatCannotBeComputedFailsTheDownload) {
  site.body = pattern(3000, 12);
  auto output = std::make_shared<UnreadableOutput>(file);
  DownloadManager manager(&log, fakeConnections(site), noPauses());
  manager.startDownload(L"pack", L"http://fake/pack.ebz", 2, &listener, 1, 0,
                        text::toWide(md5Hex(site.body.data(), site.body.size())), false, output);
  EXPECT_FALSE(manager.waitAll(60000));
  EXPECT_FALSE(output->isOk());
  EXPECT_NE(logText().find("ERROR : [DEF] : Can't compute MD5 of downloaded file [" + text::wideToUtf8(file) + "]"),
            std::string::npos)
      << logText();
  EXPECT_EQ(listener.failures(), std::vector<std::wstring>{L"Can't compute MD5"});
}

TEST_F(FileDownloaderTest, MemoryDownloadsStopAtSixteenMebibytes) {
  const size_t cap = MemoryDownloadOutput::kMaxSize;
  site.ranges = false;
  site.body = pattern(cap, 13);
  std::wstring whole = downloadToString(fakeConnections(site), &listener, L"big", L"http://fake/a.json", &log, 60000,
                                        1, false, noPauses());
  EXPECT_EQ(listener.completed(), 1);
  EXPECT_TRUE(listener.failures().empty());

  // Announced: refused before a byte is read.
  site.body.push_back('x');
  RecordingListener announced;
  auto bytes = downloadToBytes(fakeConnections(site), &announced, L"big", L"http://fake/a.png", &log, 60000, 2,
                               noPauses());
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(announced.failures(), std::vector<std::wstring>{L"Content length too large: 16777217"});
  EXPECT_NE(logText().find("Content length of [http://fake/a.png]=16777217 is more than the download can hold "
                           "(16777216 bytes)"),
            std::string::npos);

  // Unannounced: the write past the cap ends the download, without retries.
  site.contentLength = false;
  site.opened.clear();
  RecordingListener streamed;
  bytes = downloadToBytes(fakeConnections(site), &streamed, L"big", L"http://fake/b.png", &log, 60000, 3, noPauses());
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(site.opened.size(), 1u);
  ASSERT_EQ(streamed.failures().size(), 1u);
  EXPECT_EQ(streamed.failures()[0].rfind(L"Download is larger than its output can hold (16777216 bytes)", 0), 0u)
      << streamed.failures()[0];
  EXPECT_EQ(streamed.completed(), 0);
}

TEST_F(FileDownloaderTest, ServerFileNamesThatNameDevicesOrReservedCharactersAreRefused) {
  site.body = pattern(2000, 14);
  std::wstring folder = scratch.path() + L"/";
  for (const wchar_t* name : {L"CON", L"nul.txt", L"COM1.exe", L"lpt9", L"Aux .dll", L"a<b.exe", L"x:stream",
                              L"what?.exe", L"pipe|d", L"star*.bin", L"quote\"d"}) {
    site.fileName = name;
    RecordingListener refused;
    EXPECT_EQ(downloadToFile(fakeConnections(site), &refused, L"partner", L"http://fake/get", folder, 1, 2, &log,
                             60000, 0, L"", false, noPauses()),
              L"")
        << text::wideToUtf8(name);
    EXPECT_EQ(refused.failures(), std::vector<std::wstring>{L"CantCreateFile_" + folder}) << text::wideToUtf8(name);
    EXPECT_NE(logText().find("Refused file name from server: " + text::wideToUtf8(name)), std::string::npos);
  }
  // Folders in the name are dropped, and a full output path never uses the name.
  site.fileName = L"..\\..\\console.exe";
  EXPECT_EQ(downloadToFile(fakeConnections(site), &listener, L"partner", L"http://fake/get", folder, 1, 2, &log, 60000,
                           0, L"", false, noPauses()),
            folder + L"console.exe");
  site.fileName = L"CON";
  EXPECT_EQ(fetch(2), file);
}

// Some WinINet versions read the rest of a body before they close its
// request, which for a large pack costs as long as the download itself.
TEST_F(FileDownloaderTest, NoBodyIsLeftUnreadAndSplitsAskForTheFirstByteFirst) {
  site.body = pattern(100000, 15);
  ASSERT_EQ(fetch(4), file);
  EXPECT_EQ(site.unreadBytesClosed, 0u);
  ASSERT_EQ(site.opened.size(), 5u);
  EXPECT_EQ(rangeHeader(site.opened[0].offset, site.opened[0].length), L"Range: bytes=0-0");
  EXPECT_TRUE(contains(site.opened, 25000, 0));
  EXPECT_TRUE(contains(site.opened, 25000, 75000));

  // One connection: the first answer's body is the download.
  site.opened.clear();
  RecordingListener single;
  ASSERT_EQ(downloadToFile(fakeConnections(site), &single, L"pack", L"http://fake/pack.ebz", file, 1, 1, &log, 60000, 0,
                           L"", false, noPauses()),
            file);
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_EQ(site.unreadBytesClosed, 0u);
  ASSERT_EQ(site.opened.size(), 1u);
  EXPECT_EQ(site.opened[0].length, -1);
  EXPECT_EQ(single.completed(), 1);
  EXPECT_TRUE(single.failures().empty());

  // A server that ignores ranges sends the whole content to the first request.
  site.ranges = false;
  site.opened.clear();
  ASSERT_EQ(fetch(4), file);
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_EQ(site.opened.size(), 1u);
  EXPECT_EQ(site.unreadBytesClosed, 0u);

  // nginx announces ranges on whole answers only: the first byte's partial
  // answer shows them all the same.
  site.ranges = true;
  site.announceRanges = false;
  site.opened.clear();
  ASSERT_EQ(fetch(4), file);
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_EQ(site.opened.size(), 5u);

  // A partial answer without its Content-Range is not taken for the whole.
  site.announceRanges = true;
  site.contentRange = false;
  site.opened.clear();
  ASSERT_EQ(fetch(4), file);
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  ASSERT_EQ(site.opened.size(), 2u);
  EXPECT_EQ(site.opened[1].length, -1);
}

TEST_F(FileDownloaderTest, ASingleConnectionOverARangedAnswerContinuesFromTheByteReachedWhenShort) {
  site.body = pattern(9000, 16);
  auto ended = std::make_shared<bool>(false);
  site.endAt = [ended](const Opened&) {
    if (*ended) return -1;
    *ended = true;
    return 4000;
  };
  ASSERT_EQ(fetch(1), file) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  ASSERT_EQ(site.opened.size(), 2u);
  EXPECT_EQ(rangeHeader(site.opened[1].offset, site.opened[1].length), L"Range: bytes=4000-8999");
  EXPECT_NE(logText().find("Downloaded bytes less than the length of the content, resume from the byte reached "
                           "[chunkNum=0, downloadAttemptCountRemain=4, limit=5000, offset=4000]"),
            std::string::npos)
      << logText();
  EXPECT_EQ(listener.completed(), 1);
}

}  // namespace

TEST_F(FileDownloaderTest, AnAbortEndsRetryPausesAndTheWaitAtOnce) {
  // Every chunk read fails, so without the abort the chunks would sit out
  // five ten-second pauses each.
  site.body = pattern(8000, 9);
  site.breakAt = [](const Opened& o) { return o.offset >= 0 && o.length > 0 ? 10 : -1; };
  Timing timing;
  timing.retryDelayMs = 10000;
  timing.connectRetryPauseMs = 10000;
  timing.abort = std::make_shared<std::atomic<bool>>(false);
  DownloadManager manager(&log, fakeConnections(site), timing);
  auto output = std::make_shared<FileDownloadOutput>(file);
  manager.startDownload(L"pack", L"http://fake/pack.ebz", 4, &listener, 1, 0, L"", false, output);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  timing.abort->store(true);
  auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(manager.waitAll(60000));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  // The download thread itself ends soon too: nothing it waits for is long.
  for (int i = 0; i < 200 && logText().find("-----END thread fileDownloaderThread") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(logText().find("-----END thread fileDownloaderThread"), std::string::npos);
  ASSERT_FALSE(listener.failures().empty());
  EXPECT_EQ(listener.completed(), 0);
}
