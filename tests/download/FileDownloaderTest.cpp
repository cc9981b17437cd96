// The downloader's logic over a scripted in-memory transport: runs natively
// under ASan/UBSan, where races between chunk threads show up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <random>

#include "RecordingListener.h"
#include "TestBodies.h"
#include "TestFiles.h"
#include "app/Log.h"
#include "download/DownloadManager.h"
#include "download/HttpFacts.h"
#include "formats/Md5.h"

using namespace download;

namespace {

struct Opened {
  int length;
  int offset;
};

// Serves one body; each opened request may break off or end early. The
// connection applies the client's Range rule the way HttpConnection does.
struct FakeSite {
  std::string body;
  bool ranges = true;          // honours Range
  bool announceRanges = true;  // says so with Accept-Ranges
  bool contentLength = true;
  int refuseOpens = 0;                          // the first n opens fail
  std::function<int(const Opened&)> breakAt;   // bytes before a failed read; -1 none
  std::function<int(const Opened&)> endAt;     // bytes before an early end; -1 none

  std::mutex lock;
  std::vector<Opened> opened;
};

class FakeConnection : public IHttpConnection {
 public:
  FakeConnection(FakeSite& site, std::wstring url) : site_(site) { facts_.currentUrl = std::move(url); }

  bool openRequest(Log*, bool, int length, int offset) override {
    std::lock_guard<std::mutex> guard(site_.lock);
    if (site_.refuseOpens > 0) {
      --site_.refuseOpens;
      return false;
    }
    Opened o{length, offset};
    site_.opened.push_back(o);
    size_t size = site_.body.size();
    first_ = 0;
    count_ = size;
    facts_.rangeStart = -1;
    if (site_.ranges && wantsRangeHeader(facts_.acceptsRanges, offset, length)) {
      uint32_t last = static_cast<uint32_t>(offset) + static_cast<uint32_t>(length) - 1u;
      first_ = std::min<size_t>(static_cast<uint32_t>(offset), size);
      count_ = std::min<size_t>(static_cast<size_t>(last) + 1, size) - first_;
      facts_.rangeStart = static_cast<long long>(first_);
    }
    facts_.acceptsRanges = site_.ranges && site_.announceRanges;
    facts_.contentLength = site_.contentLength ? static_cast<int>(count_) : -1;
    breakAt_ = site_.breakAt ? site_.breakAt(o) : -1;
    endAt_ = site_.endAt ? site_.endAt(o) : -1;
    sent_ = 0;
    open_ = true;
    return true;
  }

  ReadStatus read(char* buffer, size_t capacity, size_t* received) override {
    *received = 0;
    if (!open_) return ReadStatus::kFailed;
    size_t limit = count_;
    if (breakAt_ >= 0) limit = std::min(limit, static_cast<size_t>(breakAt_));
    if (endAt_ >= 0) limit = std::min(limit, static_cast<size_t>(endAt_));
    if (sent_ >= limit) {
      if (breakAt_ >= 0 && static_cast<size_t>(breakAt_) < count_) return ReadStatus::kFailed;
      return ReadStatus::kEnd;
    }
    size_t n = std::min(capacity, std::min<size_t>(limit - sent_, 1000));
    std::memcpy(buffer, site_.body.data() + first_ + sent_, n);
    sent_ += n;
    *received = n;
    return ReadStatus::kData;
  }

  const ResponseFacts& facts() const override { return facts_; }
  void closeHandles() override { open_ = false; }
  void closeConnection() override {}

 private:
  FakeSite& site_;
  ResponseFacts facts_;
  size_t first_ = 0, count_ = 0, sent_ = 0;
  int breakAt_ = -1, endAt_ = -1;
  bool open_ = false;
};

ConnectionFactory fakeConnections(FakeSite& site) {
  return [&site](const std::wstring& url, int, int) -> std::unique_ptr<IHttpConnection> {
    return std::make_unique<FakeConnection>(site, url);
  };
}

Timing noPauses() {
  Timing t;
  t.connectRetryPauseMs = 0;
  t.retryDelayMs = 0;
  return t;
}

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
  ASSERT_EQ(fetch(4), file) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  ASSERT_EQ(site.opened.size(), 2u);
  EXPECT_EQ(rangeHeader(site.opened[1].offset, site.opened[1].length), L"Range: bytes=300-4294967294");
  EXPECT_EQ(listener.completed(), 1);
}

TEST_F(FileDownloaderTest, AServerIgnoringTheResumeRangeIsReadAgainFromTheStart) {
  site.body = pattern(6000, 8);
  site.ranges = false;
  site.contentLength = false;  // nothing but the restart can keep this file right
  site.breakAt = breakOnce(-1, 0, 300);
  ASSERT_EQ(fetch(4), file) << logText();
  EXPECT_TRUE(testfiles::readFile(file) == site.body);
  EXPECT_NE(logText().find("Range ignored by server, reading again from the first byte"), std::string::npos);
}

TEST_F(FileDownloaderTest, AChunkOutOfAttemptsFailsTheDownload) {
  site.body = pattern(8000, 2);
  site.breakAt = [](const Opened& o) { return o.offset >= 4000 ? 10 : -1; };
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

TEST_F(FileDownloaderTest, AWholeBodyCutShortOfItsLengthFails) {
  site.body = pattern(5000, 5);
  site.ranges = false;
  site.endAt = [](const Opened&) { return 3000; };
  EXPECT_EQ(fetch(3), L"");
  EXPECT_EQ(listener.completed(), 0);
  EXPECT_FALSE(listener.failures().empty());
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
