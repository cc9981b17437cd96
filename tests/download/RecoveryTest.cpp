// What a download recovers from, what it refuses, and how it tells the owner
// why it failed; over the scripted transport, natively under the sanitizers.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "FakeSite.h"
#include "RecordingListener.h"
#include "TestBodies.h"
#include "TestFiles.h"
#include "app/Log.h"
#include "app/Text.h"
#include "download/DownloadManager.h"
#include "download/FileDownloader.h"
#include "download/HttpFacts.h"
#include "formats/Md5.h"

using namespace download;
using namespace download::testing_site;

namespace {

// Remembers every write, so a test can check that each one put the content's
// own bytes at its offset.
class WatchedOutput : public FileDownloadOutput {
 public:
  WatchedOutput(std::wstring path, std::string expected)
      : FileDownloadOutput(std::move(path)), expected_(std::move(expected)) {}
  bool write(const char* bytes, int offset, int count) override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      ++writes_;
      if (offset < 0 || size_t(offset) + size_t(count) > expected_.size() ||
          expected_.compare(size_t(offset), size_t(count), bytes, size_t(count)) != 0) {
        ++misplaced_;
      }
    }
    return FileDownloadOutput::write(bytes, offset, count);
  }
  int writes() {
    std::lock_guard<std::mutex> guard(lock_);
    return writes_;
  }
  int misplaced() {
    std::lock_guard<std::mutex> guard(lock_);
    return misplaced_;
  }

 private:
  std::mutex lock_;
  std::string expected_;
  int writes_ = 0;
  int misplaced_ = 0;
};

// Spoils the first write it gets, as a transfer that damaged a few bytes.
class SpoilOnceOutput : public FileDownloadOutput {
 public:
  using FileDownloadOutput::FileDownloadOutput;
  bool write(const char* bytes, int offset, int count) override {
    if (!spoiled_.exchange(true) && count > 0) {
      std::string copy(bytes, size_t(count));
      copy[0] ^= 0x5a;
      return FileDownloadOutput::write(copy.data(), offset, count);
    }
    return FileDownloadOutput::write(bytes, offset, count);
  }

 private:
  std::atomic<bool> spoiled_{false};
};

class RecoveryTest : public ::testing::Test {
 protected:
  // One download through a manager, so the test sees its result.
  bool fetch(int threads, std::shared_ptr<IDownloadOutput> output = nullptr, const std::wstring& url = kUrl,
             bool follow = true, const Timing& timing = noPauses()) {
    if (!output) output = std::make_shared<FileDownloadOutput>(file);
    DownloadManager manager(&log, fakeConnections(site), timing);
    result = manager.startDownload(L"pack", url, threads, &listener, 1, 0, L"", follow, output);
    return manager.waitAll(60000);
  }
  std::string logText() { return testfiles::readFile(logPath); }
  bool logHas(const std::string& text) { return logText().find(text) != std::string::npos; }
  DownloadFailure failure() { return result->failure(); }

  static constexpr const wchar_t* kUrl = L"http://fake/pack.ebz";
  FakeSite site;
  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + L"/dl.log";
  std::wstring file = scratch.path() + L"/out.bin";
  Log log = Log::atPath(logPath);
  RecordingListener listener;
  std::shared_ptr<const DownloadResult> result;
};

// ---- Cut answers continue from the byte reached -------------------------

TEST_F(RecoveryTest, EveryAnswerCutShortStillEndsWithTheWholeContent) {
  site.body = pattern(200000, 1);
  site.endAt = [](const Opened& o) { return o.length > 1 ? 20000 : -1; };
  ASSERT_TRUE(fetch(4)) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_FALSE(failure().failed());
  // Each resume asks for the rest of its chunk from the byte reached, so no
  // byte is sent twice: what the answers carried adds up to the body (plus the probe).
  long long sent = 0;
  for (const Opened& o : site.opened) sent += o.length < 20000 ? o.length : 20000;
  EXPECT_EQ(sent, 200000 + 1);
  EXPECT_EQ(listener.completed(), 1);
  EXPECT_TRUE(listener.failures().empty());
}

TEST_F(RecoveryTest, BrokenReadsThatBringBytesDoNotUseUpTheAttempts) {
  site.body = pattern(60000, 2);
  // Every chunk answer breaks after 1000 bytes: far more breaks than attempts.
  site.breakAt = [](const Opened& o) { return o.length > 1 ? 1000 : -1; };
  ASSERT_TRUE(fetch(2)) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_GT(site.opened.size(), 40u);
}

TEST_F(RecoveryTest, AttemptsWithoutBytesStillRunOut) {
  site.body = pattern(8000, 3);
  site.breakAt = [](const Opened& o) { return o.offset >= 4000 ? 0 : -1; };
  EXPECT_FALSE(fetch(2));
  EXPECT_EQ(site.opened.size(), 1u + 1u + 6u);
  EXPECT_EQ(failure().cause, FailureCause::kNetwork);
  EXPECT_EQ(failure().host, L"fake");
  EXPECT_TRUE(failure().bytesKept);
}

TEST_F(RecoveryTest, NoByteForTheStallLimitEndsTheDownload) {
  site.body = pattern(8000, 4);
  site.breakAt = [](const Opened& o) { return o.offset >= 4000 ? 0 : -1; };
  Timing timing = noPauses();
  timing.retryDelayMs = 30;
  timing.stallLimitMs = 20;
  EXPECT_FALSE(fetch(2, nullptr, kUrl, true, timing));
  EXPECT_EQ(failure().cause, FailureCause::kStalled);
  // The second chunk gave up once the other's last byte was 20 ms old, not after five more tries.
  EXPECT_LE(site.opened.size(), 1u + 1u + 2u);
  EXPECT_TRUE(logHas("No byte arrived for 20 ms, give up"));
}

// ---- Server errors ------------------------------------------------------

TEST_F(RecoveryTest, A5xxIsTriedAgainAndA4xxIsNot) {
  site.body = pattern(9000, 5);
  auto left = std::make_shared<int>(1);
  site.statusFor = [left](const Opened&) { return (*left)-- > 0 ? 500 : 0; };
  ASSERT_TRUE(fetch(3)) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_TRUE(logHas("HTTP status 500, connectAttemptCountRemain=4 [chunkNum=0"));

  site.opened.clear();
  site.statusFor = [](const Opened&) { return 403; };
  RecordingListener refused;
  EXPECT_FALSE(fetch(3));
  EXPECT_EQ(site.opened.size(), 1u);
  EXPECT_EQ(failure().cause, FailureCause::kServer);
  EXPECT_EQ(failure().status, 403);
  EXPECT_TRUE(failure().bytesKept);

  // A chunk's 404 ends that chunk at once too.
  site.opened.clear();
  site.statusFor = [](const Opened& o) { return o.offset == 3000 ? 404 : 0; };
  EXPECT_FALSE(fetch(3));
  size_t asked = 0;
  for (const Opened& o : site.opened) asked += o.offset == 3000;
  EXPECT_EQ(asked, 1u);
  EXPECT_EQ(failure().status, 404);
}

TEST_F(RecoveryTest, A503ThatOutlastsTheAttemptsIsAServerFailure) {
  site.body = pattern(5000, 6);
  site.status = 503;
  EXPECT_FALSE(fetch(2));
  EXPECT_EQ(site.opened.size(), 5u);
  EXPECT_EQ(failure().cause, FailureCause::kServer);
  EXPECT_EQ(failure().status, 503);
  EXPECT_EQ(listener.failures(), std::vector<std::wstring>{L"HTTP status 503"});
  EXPECT_TRUE(logHas("ERROR : [DEF] : Download [http://fake/pack.ebz] answered with HTTP status 503"));
  EXPECT_FALSE(testfiles::exists(file));
}

TEST_F(RecoveryTest, RetryAfterIsHonouredUpToItsCap) {
  site.body = pattern(5000, 7);
  site.retryAfter = 120;
  auto left = std::make_shared<int>(1);
  site.statusFor = [left](const Opened&) { return (*left)-- > 0 ? 503 : 0; };
  Timing timing = noPauses();
  timing.retryAfterCapMs = 300;
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(fetch(2, nullptr, kUrl, true, timing)) << logText();
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(280));
  EXPECT_LT(waited, std::chrono::seconds(5));

  // Shorter than the usual pause: the usual pause.
  site.retryAfter = 0;
  *left = 1;
  timing.connectRetryPauseMs = 200;
  start = std::chrono::steady_clock::now();
  ASSERT_TRUE(fetch(2, nullptr, kUrl, true, timing));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(180));
}

TEST_F(RecoveryTest, AServerBusyForLessThanTheAttemptsTakeIsWaitedOut) {
  // 503 for 8 s against five tries 3 s apart, at a hundredth of the time.
  site.body = pattern(20000, 19);
  // Busy from the first request on, however late the download thread starts.
  auto busyUntil = std::make_shared<std::chrono::steady_clock::time_point>();
  site.statusFor = [busyUntil](const Opened&) {
    const auto now = std::chrono::steady_clock::now();
    if (*busyUntil == std::chrono::steady_clock::time_point()) *busyUntil = now + std::chrono::milliseconds(80);
    return now < *busyUntil ? 503 : 0;
  };
  Timing timing = noPauses();
  timing.connectRetryPauseMs = 30;
  ASSERT_TRUE(fetch(4, nullptr, kUrl, true, timing)) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_TRUE(logHas("HTTP status 503, connectAttemptCountRemain=4 [chunkNum=0"));
}

TEST_F(RecoveryTest, AStatisticsAnswerIsNotRetriedWhateverItsStatus) {
  site.body = "busy";
  site.status = 503;
  EXPECT_EQ(downloadAnswerToString(fakeConnections(site), &listener, L"event", L"http://fake/installer2.html", &log,
                                   60000, 2, false, noPauses()),
            L"busy");
  EXPECT_EQ(site.opened.size(), 1u);
}

// ---- Damaged content gets one fresh try ---------------------------------

TEST_F(RecoveryTest, AWrongMd5OnceIsFetchedAgainFromAFreshState) {
  site.body = pattern(12000, 8);
  site.contentMd5 = text::toWide(md5Hex(site.body.data(), site.body.size()));
  ASSERT_TRUE(fetch(3, std::make_shared<SpoilOnceOutput>(file))) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_TRUE(logHas("Download of [http://fake/pack.ebz] is damaged (MD5 mismatch), downloading again from the "
                     "first byte"));
  EXPECT_TRUE(listener.failures().empty());
  EXPECT_EQ(site.opened.size(), 2u * (1u + 3u));
}

TEST_F(RecoveryTest, AWrongMd5EveryTimeFailsAfterTheSecondTry) {
  site.body = pattern(12000, 9);
  site.contentMd5 = std::wstring(32, L'0');
  EXPECT_FALSE(fetch(3));
  EXPECT_EQ(site.opened.size(), 2u * (1u + 3u));
  EXPECT_EQ(failure().cause, FailureCause::kDamaged);
  EXPECT_EQ(failure().damage, Damage::kMd5);
  EXPECT_FALSE(failure().bytesKept);
  EXPECT_EQ(listener.failures(), std::vector<std::wstring>{L"MD5 mismatch"});

  // The single-connection road gives its one fresh try as well.
  site.opened.clear();
  site.ranges = false;
  RecordingListener whole;
  EXPECT_FALSE(fetch(1));
  EXPECT_EQ(site.opened.size(), 2u);
  EXPECT_EQ(failure().damage, Damage::kMd5);
}

// ---- Answers that are not the content -----------------------------------

TEST_F(RecoveryTest, AFirstAnswerOf204Or302Or304IsAFailureWithNoByteWritten) {
  site.body = pattern(3000, 10);
  for (int status : {204, 302, 304}) {
    for (int threads : {1, 4}) {
      site.status = status;
      site.opened.clear();
      std::remove(testfiles::narrow(file).c_str());
      auto output = std::make_shared<WatchedOutput>(file, site.body);
      EXPECT_FALSE(fetch(threads, output)) << status;
      EXPECT_EQ(output->writes(), 0) << status;
      EXPECT_FALSE(testfiles::exists(file)) << status;
      EXPECT_EQ(failure().cause, FailureCause::kServer) << status;
      EXPECT_EQ(failure().status, status);
      EXPECT_EQ(site.opened.size(), 1u) << status << " is not tried again";
    }
  }
  // A 302 whose redirects are not followed (or that names no Location) is no different.
  site.status = 0;
  site.redirects[kUrl] = L"http://edge/pack.ebz";
  auto output = std::make_shared<WatchedOutput>(file, site.body);
  EXPECT_FALSE(fetch(4, output, kUrl, false));
  EXPECT_EQ(output->writes(), 0);
  EXPECT_EQ(failure().status, 302);
}

TEST_F(RecoveryTest, AShiftedRangeNeverLandsAtTheChunksOffset) {
  site.body = pattern(40000, 11);
  site.shift = [](const Opened& o) { return o.length > 1 ? 100 : 0; };
  auto output = std::make_shared<WatchedOutput>(file, site.body);
  EXPECT_FALSE(fetch(4, output));
  EXPECT_EQ(output->misplaced(), 0);
  EXPECT_TRUE(logHas("Answer is not the range asked for (HTTP status 206)"));
  EXPECT_TRUE(logHas("Download [http://fake/pack.ebz] is FAILED"));
  EXPECT_EQ(listener.completed(), 0);
}

TEST_F(RecoveryTest, AResumeAnsweredWithAShiftedRangeIsNotAppended) {
  site.body = pattern(40000, 12);
  // The first chunk breaks after 500 bytes; its resume is answered 100 bytes off.
  auto broken = std::make_shared<bool>(false);
  site.breakAt = [broken](const Opened& o) {
    if (o.offset != 0 || o.length != 10000 || *broken) return -1;
    *broken = true;
    return 500;
  };
  site.shift = [](const Opened& o) { return o.offset == 500 ? 100 : 0; };
  auto output = std::make_shared<WatchedOutput>(file, site.body);
  // Taken for changed content: the download starts over once, and then gets through.
  ASSERT_TRUE(fetch(4, output)) << logText();
  EXPECT_EQ(output->misplaced(), 0);
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
}

// ---- Redirects ----------------------------------------------------------

TEST_F(RecoveryTest, ChunksGoToTheAddressTheRedirectsLedTo) {
  site.body = pattern(30000, 13);
  site.redirects[kUrl] = L"http://mirror/pack.ebz";
  site.redirects[L"http://mirror/pack.ebz"] = L"https://edge/pack.ebz";
  ASSERT_TRUE(fetch(4)) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  for (const Opened& o : site.opened) EXPECT_EQ(o.url, L"https://edge/pack.ebz");
  EXPECT_TRUE(logHas("Download [http://fake/pack.ebz] comes from https://edge/pack.ebz"));
}

TEST_F(RecoveryTest, ARedirectFromHttpsToHttpIsRefusedAtOnce) {
  site.body = pattern(3000, 14);
  site.redirects[L"https://fake/pack.ebz"] = L"http://edge/pack.ebz";
  EXPECT_FALSE(fetch(2, nullptr, L"https://fake/pack.ebz"));
  EXPECT_TRUE(site.opened.empty());
  EXPECT_EQ(failure().cause, FailureCause::kServer);
  EXPECT_EQ(failure().status, 302);
  EXPECT_EQ(listener.errors().size(), 1u);
}

TEST_F(RecoveryTest, AnExpiredEdgeAddressSendsTheChunkBackToTheFirstAddress) {
  site.body = pattern(30000, 15);
  site.redirects[kUrl] = L"http://edge1/pack.ebz";
  auto expired = std::make_shared<bool>(false);
  // After the first answer the first edge address expires, and the first
  // address now leads to another.
  site.statusAtUrl = [this, expired](const std::wstring& url) {
    if (url != L"http://edge1/pack.ebz") return 0;
    if (*expired) return 403;
    *expired = true;
    site.redirects[kUrl] = L"http://edge2/pack.ebz";
    return 0;
  };
  ASSERT_TRUE(fetch(3)) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_TRUE(logHas("Address http://edge1/pack.ebz refused, asking http://fake/pack.ebz again"));
  size_t fromSecondEdge = 0;
  for (const Opened& o : site.opened) fromSecondEdge += o.url == L"http://edge2/pack.ebz";
  EXPECT_EQ(fromSecondEdge, 3u);
}

// ---- The failure as the owner sees it -----------------------------------

TEST_F(RecoveryTest, AnUnreachableHostIsANetworkFailureThatKeepsItsBytes) {
  site.body = pattern(500, 16);
  site.refuseOpens = 5;
  EXPECT_FALSE(fetch(2, nullptr, L"http://packs.example:8080/pack.ebz"));
  EXPECT_EQ(failure().cause, FailureCause::kNetwork);
  EXPECT_EQ(failure().host, L"packs.example:8080");
  EXPECT_TRUE(failure().bytesKept);
  EXPECT_STREQ(causeToken(failure().cause), L"network");
}

TEST_F(RecoveryTest, ARefusedOutputIsAnOutputFailure) {
  site.body = pattern(500, 17);
  EXPECT_FALSE(fetch(2, std::make_shared<FileDownloadOutput>(scratch.path() + L"/missing/folder/out.bin")));
  EXPECT_EQ(failure().cause, FailureCause::kOutput);
  EXPECT_FALSE(failure().bytesKept);
}

TEST_F(RecoveryTest, TheSynchronousCallsTellTheirFailureToo) {
  site.body = pattern(500, 18);
  site.status = 404;
  DownloadFailure why;
  EXPECT_EQ(downloadToFile(fakeConnections(site), &listener, L"pack", kUrl, file, 1, 2, &log, 60000, 0, L"", true,
                           noPauses(), &why),
            L"");
  EXPECT_EQ(why.cause, FailureCause::kServer);
  EXPECT_EQ(why.status, 404);
  site.status = 0;
  EXPECT_EQ(downloadToFile(fakeConnections(site), &listener, L"pack", kUrl, file, 1, 2, &log, 60000, 0, L"", true,
                           noPauses(), &why),
            file);
  EXPECT_FALSE(why.failed());

  // One still running when the wait ends counts as stalled.
  site.breakAt = [](const Opened&) { return 0; };
  Timing slow = noPauses();
  slow.connectRetryPauseMs = 200;
  slow.retryDelayMs = 200;
  slow.abort = std::make_shared<std::atomic<bool>>(false);
  downloadToBytes(fakeConnections(site), nullptr, L"img", L"http://fake/img.png", &log, 10, 3, slow, &why);
  EXPECT_EQ(why.cause, FailureCause::kStalled);
  // The download goes on over this test's site and log: end it before they go.
  slow.abort->store(true);
  for (int i = 0; i < 500 && !logHas("-----END thread fileDownloaderThreadhttp://fake/img.png"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(logHas("-----END thread fileDownloaderThreadhttp://fake/img.png"));
}

}  // namespace
