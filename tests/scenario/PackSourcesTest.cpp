// A pack's hosts: the addresses tried, and the download that moves from a
// host that is down, stalls or serves another file to the next one, over the
// scripted transport.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestFiles.h"
#include "app/Log.h"
#include "download/DownloadOutput.h"
#include "download/DownloadState.h"
#include "download/FakeSite.h"
#include "download/RecordingListener.h"
#include "download/TestBodies.h"
#include "formats/Md5.h"
#include "scenario/PackSources.h"

using namespace download;
using namespace download::testing_site;
using namespace packsources;

namespace {

TEST(PackSourceAddresses, TheSamePathOnEachRootAfterTheOwnAddress) {
  EXPECT_EQ(onRoot(L"http://a.example/p/Vexa.ebz?v=2", L"https://m.example/vexa/"),
            L"https://m.example/vexa/p/Vexa.ebz?v=2");
  EXPECT_EQ(onRoot(L"http://a.example:8080/Vexa.ebz", L"http://m:81"), L"http://m:81/Vexa.ebz");
  EXPECT_EQ(onRoot(L"http://a.example", L"http://m"), L"") << "no path, nothing to mirror";
  EXPECT_EQ(onRoot(L"Vexa.ebz", L"http://m"), L"");

  const std::vector<std::wstring> sources =
      sourcesFor(L"http://a/Vexa.ebz", {L"http://m1", L"http://a", L"http://m1/", L"http://m2/x"});
  ASSERT_EQ(sources.size(), 3u) << "the own host and a repeated root are tried once";
  EXPECT_EQ(sources[0], L"http://a/Vexa.ebz");
  EXPECT_EQ(sources[1], L"http://m1/Vexa.ebz");
  EXPECT_EQ(sources[2], L"http://m2/x/Vexa.ebz");
  EXPECT_EQ(sourcesFor(L"http://a/Vexa.ebz", {}).size(), 1u);
}

TEST(PackSourceAddresses, MirrorListsTakeOnlyWebRoots) {
  const std::vector<std::wstring> roots =
      parseMirrorList(L" http://m1/ ;https://m2/vexa,,ftp://m3 \n HTTP://M4 file:///c http:// m5");
  ASSERT_EQ(roots.size(), 3u);
  EXPECT_EQ(roots[0], L"http://m1");
  EXPECT_EQ(roots[1], L"https://m2/vexa");
  EXPECT_EQ(roots[2], L"HTTP://M4");
  EXPECT_TRUE(parseMirrorList(L"").empty());
  EXPECT_EQ(hostOf(L"https://m2:444/vexa/Vexa.ebz"), L"https://m2:444");
  EXPECT_EQ(hostOf(L"http://m2?x"), L"http://m2");
}

constexpr int kBody = 400000;

// Answers reads only up to `stallAt` of the content: a read past it blocks
// for the receive time-out and fails, as a host that stopped sending does.
class StallingConnection : public IHttpConnection {
 public:
  StallingConnection(std::unique_ptr<IHttpConnection> inner, long long stallAt, int stallMs)
      : inner_(std::move(inner)), stallAt_(stallAt), stallMs_(stallMs) {}
  bool openRequest(Log* log, bool follow, int length, int offset) override {
    position_ = offset;
    return inner_->openRequest(log, follow, length, offset);
  }
  void setIfRange(const std::wstring& v) override { inner_->setIfRange(v); }
  ReadStatus read(char* buffer, size_t capacity, size_t* received) override {
    if (position_ >= stallAt_) {
      *received = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(stallMs_));
      return ReadStatus::kFailed;
    }
    const size_t room = static_cast<size_t>(stallAt_ - position_);
    ReadStatus status = inner_->read(buffer, capacity < room ? capacity : room, received);
    position_ += static_cast<long long>(*received);
    return status;
  }
  const ResponseFacts& facts() const override { return inner_->facts(); }
  void closeHandles() override { inner_->closeHandles(); }
  void closeConnection() override { inner_->closeConnection(); }

 private:
  std::unique_ptr<IHttpConnection> inner_;
  long long stallAt_;
  int stallMs_;
  long long position_ = 0;
};

class PackFailoverTest : public ::testing::Test {
 public:
  void SetUp() override {
    timing.receiveTimeoutMs = 300;
    timing.stallLimitMs = 1500;  // what ends a last host that stalls for good
    for (FakeSite* site : {&first, &second, &third}) serve(*site, pattern(kBody, 7));
  }

  static void serve(FakeSite& site, const std::string& body) {
    site.body = body;
    site.contentMd5 = text::toWide(md5Hex(body.data(), body.size()));
  }

  // Host "a" is `first`, "b" `second`, "c" `third`; a stalls past stallAt.
  ConnectionFactory hosts() {
    return [this](const std::wstring& url, int, int) -> std::unique_ptr<IHttpConnection> {
      FakeSite& site = url.find(L"//a/") != std::wstring::npos   ? first
                       : url.find(L"//b/") != std::wstring::npos ? second
                                                                 : third;
      auto connection = std::make_unique<FakeConnection>(site, url);
      if (&site == &first && stallAt >= 0) {
        return std::make_unique<StallingConnection>(std::move(connection), stallAt, timing.receiveTimeoutMs);
      }
      return connection;
    };
  }

  bool run(std::vector<std::wstring> sources = {L"http://a/Vexa.ebz", L"http://b/Vexa.ebz", L"http://c/Vexa.ebz"},
           bool trustSignature = false) {
    listener = std::make_unique<RecordingListener>();
    file = std::make_shared<FileDownloadOutput>(path, true);
    auto output = std::make_shared<PackSourceOutput>(file, sources.front(), trustSignature);
    outputView = output;
    PackFailover::Settings settings;
    settings.name = L"vexa8z";
    settings.id = 1;
    settings.sources = std::move(sources);
    settings.threadCount = 4;
    settings.connections = hosts();
    settings.timing = timing;
    settings.log = &log;
    settings.listener = listener.get();
    failover = std::make_unique<PackFailover>(settings, output);
    EXPECT_TRUE(failover->start());
    return failover->wait(60000);
  }

  std::string logText() { return testfiles::readFile(logPath); }

  FakeSite first, second, third;
  long long stallAt = -1;
  Timing timing = noPauses();
  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + L"/dl.log";
  std::wstring path = scratch.path() + L"/Vexa.ebz";
  Log log = Log::atPath(logPath);
  std::unique_ptr<RecordingListener> listener;
  std::shared_ptr<FileDownloadOutput> file;
  std::shared_ptr<PackSourceOutput> outputView;
  std::unique_ptr<PackFailover> failover;
};

TEST_F(PackFailoverTest, TheOwnAddressServesWhenItCan) {
  ASSERT_TRUE(run()) << logText();
  EXPECT_EQ(failover->servedIndex(), 0);
  EXPECT_TRUE(second.opened.empty() && third.opened.empty());
  EXPECT_TRUE(testfiles::readFile(path) == first.body);
  EXPECT_TRUE(listener->failures().empty());
  EXPECT_NE(logText().find("Pack vexa8z served by http://a: 400001 bytes fetched in all, its first byte "), std::string::npos)
      << logText();
}

TEST_F(PackFailoverTest, AHostThatRefusesIsLeftAtOnceForTheNext) {
  first.refuseOpens = 1000;
  second.refuseOpens = 1000;
  timing.connectRetryPauseMs = 2000;  // a retry of the refusing host would show in the time taken
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(run()) << logText();
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, std::chrono::milliseconds(1500)) << "no pause spent on a host that refused";
  EXPECT_EQ(failover->servedBy(), L"http://c/Vexa.ebz");
  EXPECT_TRUE(testfiles::readFile(path) == third.body);
  EXPECT_TRUE(listener->failures().empty()) << "a host left while another remains is not a failure";
  EXPECT_EQ(listener->completed(), 1);
  EXPECT_NE(logText().find("Host http://a left for vexa8z: it cannot be reached; next: http://b"), std::string::npos)
      << logText();
  EXPECT_NE(logText().find("Host http://b left for vexa8z: it cannot be reached; next: http://c"), std::string::npos);
}

TEST_F(PackFailoverTest, AStalledHostsBytesCarryOverToAMirrorOfTheSameFile) {
  stallAt = kBody / 2;
  ASSERT_TRUE(run()) << logText();
  EXPECT_EQ(failover->servedIndex(), 1);
  EXPECT_TRUE(testfiles::readFile(path) == first.body);
  EXPECT_LE(failover->bytesFetched(), kBody * 12 / 10) << "the mirror brought only what was missing";
  EXPECT_GE(file->bytesResumed(), kBody / 2 - 100000) << "what the stalled host sent was kept";
  EXPECT_NE(logText().find("no byte came for 300 ms; next: http://b"), std::string::npos) << logText();
  EXPECT_TRUE(listener->failures().empty());
  // A later run knows the pack by its own address, whichever host served it.
  DownloadState state;
  ASSERT_TRUE(DownloadState::parse(testfiles::readFile(downloadStatePath(path)), &state));
  EXPECT_TRUE(state.content.url == L"http://a/Vexa.ebz");
}

TEST_F(PackFailoverTest, AnotherFileOnTheMirrorIsFetchedWhole) {
  stallAt = kBody / 2;
  serve(second, pattern(kBody, 99));  // same length, other bytes
  ASSERT_TRUE(run()) << logText();
  EXPECT_TRUE(testfiles::readFile(path) == second.body);
  EXPECT_EQ(file->bytesResumed(), 0);
  EXPECT_GE(failover->bytesFetched(), kBody + kBody / 4);
}

TEST_F(PackFailoverTest, WithSignaturesTheLengthAloneCarriesBytesOver) {
  stallAt = kBody / 2;
  second.contentMd5.clear();
  second.etag = L"\"mirror-tag\"";  // a static server: no digest, a tag of its own
  ASSERT_TRUE(run({L"http://a/Vexa.ebz", L"http://b/Vexa.ebz"}, true)) << logText();
  EXPECT_TRUE(testfiles::readFile(path) == first.body);
  EXPECT_GT(file->bytesResumed(), 0);
  EXPECT_TRUE(outputView->carriedOnLengthAlone()) << "only the signature can vouch for them now";
}

TEST_F(PackFailoverTest, WithSignaturesAHostWhoseTagChangedStillStartsOver) {
  stallAt = kBody / 2;
  first.contentMd5.clear();
  first.etag = L"\"before\"";
  EXPECT_FALSE(run({L"http://a/Vexa.ebz"}, true)) << "a host that stalls for good fails the pack";
  stallAt = -1;
  first.etag = L"\"after\"";  // the same length, replaced on the host between two runs
  ASSERT_TRUE(run({L"http://a/Vexa.ebz"}, true)) << logText();
  EXPECT_EQ(file->bytesResumed(), 0) << "another file of the same host is not trusted on its length";
  EXPECT_FALSE(outputView->carriedOnLengthAlone());
}

TEST_F(PackFailoverTest, WithoutSignaturesAnotherValidatorStartsOver) {
  stallAt = kBody / 2;
  second.contentMd5.clear();
  second.etag = L"\"mirror-tag\"";
  ASSERT_TRUE(run({L"http://a/Vexa.ebz", L"http://b/Vexa.ebz"}, false)) << logText();
  EXPECT_TRUE(testfiles::readFile(path) == first.body);
  EXPECT_EQ(file->bytesResumed(), 0);
  EXPECT_FALSE(outputView->carriedOnLengthAlone());
}

TEST_F(PackFailoverTest, AWrongDigestMovesOnAndOnlyTheLastFailureIsReported) {
  first.contentMd5 = L"00000000000000000000000000000000";
  second.statusFor = [](const Opened&) { return 404; };
  third.statusFor = [](const Opened&) { return 500; };
  EXPECT_FALSE(run()) << logText();
  EXPECT_EQ(failover->servedIndex(), -1);
  ASSERT_EQ(listener->failures().size(), 1u);
  EXPECT_EQ(listener->failures()[0], L"HTTP status 500");
  EXPECT_NE(logText().find("Host http://a left for vexa8z: MD5 mismatch; next: http://b"), std::string::npos)
      << logText();
  EXPECT_NE(logText().find("Host http://b left for vexa8z: HTTP status 404; next: http://c"), std::string::npos);
}

TEST_F(PackFailoverTest, ACancelEndsEveryHostAndReportsOnce) {
  stallAt = 0;
  timing.receiveTimeoutMs = 5000;
  timing.abort = std::make_shared<std::atomic<bool>>(false);
  std::thread cancel([abort = timing.abort] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    abort->store(true);
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(run());
  cancel.join();
  failover.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
  EXPECT_TRUE(second.opened.empty()) << "a cancel is no reason to try the next host";
  EXPECT_EQ(listener->failures().size(), 1u);
}

}  // namespace
