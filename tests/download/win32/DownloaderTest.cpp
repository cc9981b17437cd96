// The downloader over WinINet against the in-process test server, with short
// pauses so that retries take milliseconds.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "../RecordingListener.h"
#include "../TestBodies.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "app/Log.h"
#include "download/DownloadManager.h"
#include "download/win32/Downloads.h"
#include "download/win32/HttpConnection.h"
#include "formats/Md5.h"

using download::DownloadManager;
using download::Timing;
using testserver::Resource;

namespace {

Timing quickTiming() {
  Timing t;
  t.connectRetryPauseMs = 10;
  t.retryDelayMs = 10;
  return t;
}

// Compared without printing: the bodies are binary and long.
bool sameBytes(const std::string& a, const std::string& b) { return a == b; }

std::vector<std::string> ranges(const std::vector<testserver::Request>& requests) {
  std::vector<std::string> out;
  for (const auto& r : requests) {
    if (r.method == "GET") out.push_back(r.range);
  }
  return out;
}

class DownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.running()); }

  // downloadToFile over WinINet with test pauses; the path or empty.
  std::wstring fetch(const std::string& path, int threads, const std::wstring& md5 = L"", uint32_t minSize = 0,
                     bool follow = false, const std::wstring& target = L"") {
    return download::downloadToFile(download::winInetConnections(), &listener, L"pack", server.wideUrl(path),
                                    target.empty() ? file : target, 7, threads, &log, 60000, minSize, md5, follow,
                                    quickTiming());
  }
  std::string logText() { return testfiles::readFile(logPath); }
  bool logHas(const std::string& line) { return logText().find(line) != std::string::npos; }

  testserver::TestHttpServer server;
  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + L"\\download.log";
  std::wstring file = scratch.path() + L"\\out.bin";
  Log log = Log::atPath(logPath);
  RecordingListener listener;
};

TEST_F(DownloaderTest, WithoutRangesOneConnectionReadsTheWholeBody) {
  Resource r;
  r.body = pattern(30000, 1);
  r.ranges = false;
  server.add("/whole.bin", r);
  ASSERT_EQ(fetch("/whole.bin", 4), file) << logText();
  EXPECT_TRUE(sameBytes(testfiles::readFile(file), r.body));
  // The server ignores the first request's range and sends everything to it.
  EXPECT_EQ(ranges(server.requests()), std::vector<std::string>{"bytes=0-0"});
  EXPECT_EQ(listener.completed(), 1);
  EXPECT_EQ(listener.progress().back(), 100.0f);
  EXPECT_TRUE(logHas("INFO : [DEF] : Chunk #0 is done, downloadId:pack, url:" + server.url("/whole.bin")));
  EXPECT_TRUE(logHas("length of [" + server.url("/whole.bin") + "]=30000, length of downloaded file ["));
  EXPECT_TRUE(logHas("Download [" + server.url("/whole.bin") + "] is SUCCESS"));
}

TEST_F(DownloaderTest, RangesSplitTheContentOverTheThreads) {
  Resource even;
  even.body = pattern(1000, 2);
  server.add("/even.bin", even);
  ASSERT_EQ(fetch("/even.bin", 4), file) << logText();
  EXPECT_TRUE(sameBytes(testfiles::readFile(file), even.body));
  auto seen = ranges(server.requests());
  std::sort(seen.begin(), seen.end());
  // The first request asks for the first byte only, so that no large body is
  // left unread when it is closed.
  EXPECT_EQ(seen, (std::vector<std::string>{"bytes=0-0", "bytes=0-249", "bytes=250-499", "bytes=500-749",
                                            "bytes=750-999"}));
  EXPECT_EQ(listener.completed(), 1);
  EXPECT_TRUE(listener.failures().empty());

  server.clearRequests();
  Resource odd;
  odd.body = pattern(1003, 3);
  server.add("/odd.bin", odd);
  ASSERT_EQ(fetch("/odd.bin", 4), file);
  EXPECT_TRUE(sameBytes(testfiles::readFile(file), odd.body));
  seen = ranges(server.requests());
  EXPECT_NE(std::find(seen.begin(), seen.end(), "bytes=750-1002"), seen.end());
}

TEST_F(DownloaderTest, MissingContentLengthPassesTheMinimumAndTheLengthCheck) {
  Resource r;
  r.body = pattern(5000, 4);
  r.ranges = false;
  r.contentLength = false;
  server.add("/nolength.bin", r);
  ASSERT_EQ(fetch("/nolength.bin", 2, L"", 1000000), file) << logText();
  EXPECT_TRUE(sameBytes(testfiles::readFile(file), r.body));
  EXPECT_TRUE(logHas("length of [" + server.url("/nolength.bin") + "]=-1, length of downloaded file ["));
}

TEST_F(DownloaderTest, AShortContentFailsTheMinimumSize) {
  Resource r;
  r.body = pattern(100, 5);
  server.add("/small.bin", r);
  EXPECT_EQ(fetch("/small.bin", 2, L"", 101), L"");
  EXPECT_TRUE(logHas("INFO : [DEF] : File " + server.url("/small.bin") + " is less then minValidSize"));
  EXPECT_FALSE(logHas("] is FAILED"));
}

TEST_F(DownloaderTest, Md5IsComparedExactly) {
  Resource r;
  r.body = pattern(4000, 6);
  server.add("/sum.bin", r);
  std::string hex = md5Hex(r.body.data(), r.body.size());
  std::wstring upper;
  for (char c : hex) upper += static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(fetch("/sum.bin", 2, upper), L"");
  EXPECT_TRUE(logHas("MD5 of [" + server.url("/sum.bin") + "]=" + text::wideToUtf8(upper) +
                     ", MD5 of downloaded file [" + text::wideToUtf8(file) + "]=" + hex));
  EXPECT_EQ(listener.failures().back(), L"MD5 mismatch");
  EXPECT_EQ(fetch("/sum.bin", 2, text::toWide(hex)), file);

  // The server's own Content-MD5 counts when the caller gives none.
  Resource lying = r;
  lying.contentMd5 = std::string(32, '0');
  server.add("/lying.bin", lying);
  EXPECT_EQ(fetch("/lying.bin", 2), L"");
}

TEST_F(DownloaderTest, MemoryDownloadsSkipTheMd5) {
  Resource r;
  r.body = "{\"answer\": \"\xc3\xa9t\xc3\xa9\"}";
  r.contentMd5 = std::string(32, 'f');
  server.add("/answer.json", r);
  EXPECT_EQ(download::downloadToString(download::winInetConnections(), &listener, L"json",
                                       server.wideUrl("/answer.json"), &log, 60000, 1, false, quickTiming()),
            L"{\"answer\": \"\u00e9t\u00e9\"}");
  auto bytes = download::downloadToBytes(download::winInetConnections(), &listener, L"img",
                                         server.wideUrl("/answer.json"), &log, 60000, 2, quickTiming());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), r.body);
}

TEST_F(DownloaderTest, AFailedMemoryDownloadGivesNothing) {
  Resource r;
  r.body = pattern(3000, 7);
  r.ranges = false;
  r.fault = testserver::endAfter(1000, -1);  // always short of its Content-Length
  server.add("/short.json", r);
  EXPECT_EQ(download::downloadToString(download::winInetConnections(), &listener, L"json",
                                       server.wideUrl("/short.json"), &log, 60000, 1, false, quickTiming()),
            L"");
  EXPECT_TRUE(listener.completed() == 0);
  EXPECT_FALSE(listener.failures().empty());
}

TEST_F(DownloaderTest, AnEmptyAnswerIsASuccessfulDownload) {
  Resource empty;
  server.add("/installer2.html", empty);
  EXPECT_EQ(download::downloadToString(download::winInetConnections(), &listener, L"event",
                                       server.wideUrl("/installer2.html?param=0a"), &log, 60000, 1, false,
                                       quickTiming()),
            L"");
  EXPECT_TRUE(logHas("Download [" + server.url("/installer2.html?param=0a") + "] is SUCCESS")) << logText();
  EXPECT_EQ(listener.completed(), 1);
  EXPECT_TRUE(listener.failures().empty());

  // An empty file on a server that splits: its first byte cannot be had (416),
  // so the content is asked whole, and it is complete as it is.
  Resource emptyFile;
  server.add("/empty.bin", emptyFile);
  RecordingListener split;
  EXPECT_EQ(download::downloadToFile(download::winInetConnections(), &split, L"pack", server.wideUrl("/empty.bin"),
                                     file, 7, 4, &log, 60000, 0, L"", false, quickTiming()),
            file)
      << logText();
  EXPECT_EQ(testfiles::readFile(file), "");
  EXPECT_EQ(ranges(server.requestsFor("/empty.bin")), (std::vector<std::string>{"bytes=0-0", ""}));
  EXPECT_EQ(split.completed(), 1);
  EXPECT_TRUE(split.failures().empty());
}

TEST_F(DownloaderTest, AnAnnouncedLengthPastTwoGibibytesFails) {
  Resource huge;
  huge.body = pattern(100, 15);
  huge.ranges = false;
  huge.announcedLength = 4294967296LL + 100;
  server.add("/huge.bin", huge);
  EXPECT_EQ(fetch("/huge.bin", 4), L"");
  EXPECT_TRUE(logHas("Content length of [" + server.url("/huge.bin") + "]=4294967396 is more than the download can "
                     "hold (2147483647 bytes)"))
      << logText();
  EXPECT_TRUE(logHas("Download [" + server.url("/huge.bin") + "] is FAILED"));
}

TEST_F(DownloaderTest, AShortChunkContinuesFromTheByteReached) {
  Resource r;
  r.body = pattern(4000, 9);
  r.fault = testserver::endAfter(100, 1, "bytes=2000-");
  server.add("/again.bin", r);
  ASSERT_EQ(fetch("/again.bin", 2), file) << logText();
  EXPECT_TRUE(sameBytes(testfiles::readFile(file), r.body));
  auto seen = ranges(server.requests());
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "bytes=2000-3999"), 1);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "bytes=2100-3999"), 1);
  EXPECT_TRUE(logHas("Downloaded bytes less than the length of the content, resume from the byte reached "
                     "[chunkNum=1"));
}

// A flaky link that cuts every answer: each cut answer's bytes stay, and the
// rest is asked for, so the download ends whole however many cuts it takes.
TEST_F(DownloaderTest, EveryAnswerCutAfterTwentyKilobytesStillCompletes) {
  Resource r;
  r.body = pattern(300000, 21);
  r.fault = testserver::dropAfter(20000, -1);
  server.add("/flaky.bin", r);
  ASSERT_EQ(fetch("/flaky.bin", 4, text::toWide(md5Hex(r.body.data(), r.body.size()))), file) << logText();
  EXPECT_TRUE(sameBytes(testfiles::readFile(file), r.body));
  EXPECT_EQ(listener.completed(), 1);
}

TEST_F(DownloaderTest, A503IsAskedAgainUpToTheAttemptsAndThenAServerFailure) {
  Resource busy;
  busy.status = 503;
  busy.ranges = false;
  busy.body = "busy";
  server.add("/busy-now.bin", busy);
  download::DownloadFailure why;
  EXPECT_EQ(download::downloadToFile(download::winInetConnections(), &listener, L"pack", server.wideUrl("/busy-now.bin"),
                                     file, 7, 2, &log, 60000, 0, L"", true, quickTiming(), &why),
            L"");
  EXPECT_EQ(why.cause, download::FailureCause::kServer);
  EXPECT_EQ(why.status, 503);
  size_t gets = 0;
  for (const auto& request : server.requestsFor("/busy-now.bin")) gets += request.method == "GET";
  EXPECT_EQ(gets, 5u);
}

// WinINet under Wine reports a reset connection as the end of the body, so
// the resume after a failed read is tested over the scripted transport
// (FileDownloaderTest); here a reset shows up as a short body.
TEST_F(DownloaderTest, AWholeBodyCutShortOfItsLengthFails) {
  Resource r;
  r.body = pattern(6000, 10);
  r.ranges = false;
  r.fault = testserver::dropAfter(300, -1);
  server.add("/cut.bin", r);
  EXPECT_EQ(fetch("/cut.bin", 4), L"");
  EXPECT_TRUE(logHas("length of [" + server.url("/cut.bin") + "]=6000, length of downloaded file ["));
  EXPECT_EQ(listener.completed(), 0);
  EXPECT_FALSE(listener.failures().empty());
}

TEST_F(DownloaderTest, AnOutputFolderTakesTheNameOfTheAddressOrOfTheServer) {
  Resource plain;
  plain.body = pattern(2000, 12);
  server.add("/files/runtime.ebz", plain);
  std::wstring folder = scratch.path() + L"\\";
  EXPECT_EQ(download::downloadToFile(&listener, L"rt", server.wideUrl("/files/runtime.ebz"), folder, 1, 2, &log,
                                     60000, 0, L"", false),
            folder + L"runtime.ebz");
  EXPECT_TRUE(sameBytes(testfiles::readFile(folder + L"runtime.ebz"), plain.body));

  Resource named = plain;
  named.disposition = "attachment; filename=\"a\\..\\..\\evil setup.exe\"";
  server.add("/get", named);
  EXPECT_EQ(fetch("/get", 2, L"", 0, false, folder), folder + L"evil setup.exe");
}

TEST_F(DownloaderTest, ChunksAndResumesGoToTheFinalAddressAndTheLogNamesEachHop) {
  Resource target;
  target.body = pattern(80000, 23);
  target.fault = testserver::dropAfter(10000, 2, "bytes=20000-");
  server.add("/edge/real.bin", target);
  server.add("/hop1", [&] { Resource r; r.location = server.url("/hop2"); return r; }());
  server.add("/hop2", [&] { Resource r; r.location = "/edge/real.bin"; return r; }());
  ASSERT_EQ(fetch("/hop1", 4, L"", 0, true), file) << logText();
  EXPECT_TRUE(sameBytes(testfiles::readFile(file), target.body));
  for (const auto& request : server.requests()) {
    if (request.method == "GET") {
      EXPECT_EQ(request.path, "/edge/real.bin");
    }
  }
  EXPECT_TRUE(logHas("Redirect " + server.url("/hop1") + " -> " + server.url("/hop2")));
  EXPECT_TRUE(logHas("Redirect " + server.url("/hop2") + " -> " + server.url("/edge/real.bin")));
}

TEST_F(DownloaderTest, AnUnfollowedRedirectIsAFailedDownloadWithNoByteWritten) {
  server.add("/moved", [&] { Resource r; r.location = "/real.bin"; r.body = "moved"; return r; }());
  download::DownloadFailure why;
  EXPECT_EQ(download::downloadToFile(download::winInetConnections(), &listener, L"pack", server.wideUrl("/moved"),
                                     file, 7, 2, &log, 60000, 0, L"", false, quickTiming(), &why),
            L"");
  EXPECT_FALSE(testfiles::exists(file));
  EXPECT_EQ(why.status, 302);
}

TEST_F(DownloaderTest, ARedirectThatLeavesHttpIsRefusedOnceAndNotTriedAgain) {
  server.add("/away", [&] { Resource r; r.location = "ftp://127.0.0.1/pack.ebz"; return r; }());
  download::DownloadFailure why;
  EXPECT_EQ(download::downloadToFile(download::winInetConnections(), &listener, L"pack", server.wideUrl("/away"), file,
                                     7, 2, &log, 60000, 0, L"", true, quickTiming(), &why),
            L"");
  EXPECT_EQ(why.cause, download::FailureCause::kServer);
  EXPECT_EQ(why.status, 302);
  EXPECT_EQ(server.requestsFor("/away").size(), 1u);
  EXPECT_TRUE(logHas("ERROR : [DEF] : Redirect " + server.url("/away") + " -> ftp://127.0.0.1/pack.ebz refused"))
      << logText();
  EXPECT_FALSE(testfiles::exists(file));
}

TEST_F(DownloaderTest, RedirectsAreFollowedWhenAsked) {
  Resource target;
  target.body = pattern(3000, 13);
  server.add("/real.bin", target);
  server.add("/moved", [&] { Resource r; r.location = "/real.bin"; return r; }());
  ASSERT_EQ(fetch("/moved", 3, L"", 0, true), file) << logText();
  EXPECT_TRUE(sameBytes(testfiles::readFile(file), target.body));
  for (const auto& request : server.requests()) {
    if (request.method == "GET") EXPECT_EQ(request.path, "/real.bin");
  }
}

TEST_F(DownloaderTest, NoServerMeansFiveAttemptsAndAFailure) {
  int port = server.port();
  server.stop();
  std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + L"/x.bin";
  EXPECT_EQ(download::downloadToFile(download::winInetConnections(), &listener, L"pack", url, file, 7, 2, &log,
                                     60000, 0, L"", false, quickTiming()),
            L"");
  EXPECT_EQ(listener.failures(), std::vector<std::wstring>{L"Can't open connection"});
  EXPECT_EQ(listener.errors().size(), 5u);
  EXPECT_TRUE(logHas("Failed open connection, connectAttemptCountRemain=0 [chunkNum=0"));
  EXPECT_TRUE(logHas("INFO : [DEF] : Can't open connection to " + text::wideToUtf8(url)));
  EXPECT_TRUE(logHas("Download [" + text::wideToUtf8(url) + "] is FAILED"));
}

TEST_F(DownloaderTest, WaitAllGivesUpWhileTheDownloadGoesOn) {
  Resource slow;
  slow.body = pattern(60000, 14);
  slow.bytesPerSecond = 60000;
  server.add("/slow.bin", slow);
  auto output = std::make_shared<download::FileDownloadOutput>(file);
  {
    DownloadManager manager(&log, download::winInetConnections(), quickTiming());
    manager.startDownload(L"pack", server.wideUrl("/slow.bin"), 2, &listener, 3, 0, L"", false, output);
    EXPECT_FALSE(manager.waitAll(100));
  }
  // The thread carries on after its manager is gone and ends by itself.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!logHas("-----END thread fileDownloaderThread") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(output->isOk()) << logText();
  EXPECT_TRUE(sameBytes(testfiles::readFile(file), slow.body));
  EXPECT_EQ(listener.completed(), 1);
}

// Random drops and short bodies: a download may fail, but never succeed with
// wrong bytes, and every failure is reported as one.
TEST_F(DownloaderTest, NeverASuccessWithWrongBytes) {
  std::mt19937 random(20261208);
  int successes = 0;
  for (int run = 0; run < 30; ++run) {
    Resource r;
    r.body = pattern(20000 + random() % 40000, run);
    r.ranges = random() % 3 != 0;
    r.contentLength = random() % 4 != 0;
    auto seed = std::make_shared<std::mt19937>(random());
    // Without a length, a body closed early is indistinguishable from a whole
    // one (and WinINet reads a reset as an end), so only announced lengths
    // are cut short.
    bool canEndEarly = r.contentLength;
    r.fault = [seed, canEndEarly](const testserver::Request& request) {
      testserver::Fault fault;
      if (request.method != "GET") return fault;
      unsigned roll = (*seed)() % 10;
      if (!canEndEarly) return fault;
      if (roll < 2) fault.dropAfter = static_cast<int>((*seed)() % 9000);
      else if (roll < 4) fault.endAfter = static_cast<int>((*seed)() % 9000);
      return fault;
    };
    std::string path = "/run" + std::to_string(run);
    server.add(path, r);
    RecordingListener runListener;
    std::wstring target = scratch.path() + L"\\run" + std::to_wstring(run) + L".bin";
    std::wstring md5 = random() % 2 ? text::toWide(md5Hex(r.body.data(), r.body.size())) : L"";
    std::wstring result = download::downloadToFile(download::winInetConnections(), &runListener, L"run",
                                                   server.wideUrl(path), target, run, 1 + random() % 4, &log,
                                                   60000, 0, md5, false, quickTiming());
    std::string got = testfiles::readFile(target);
    if (!result.empty()) {
      ++successes;
      EXPECT_EQ(md5Hex(got.data(), got.size()), md5Hex(r.body.data(), r.body.size()))
          << "run " << run << " ranges=" << r.ranges << " length=" << r.contentLength;
      EXPECT_TRUE(runListener.failures().empty()) << "run " << run;
    } else {
      EXPECT_FALSE(runListener.failures().empty()) << "run " << run << " failed without telling its listener";
    }
  }
  // With five attempts per chunk most runs get through.
  EXPECT_GE(successes, 15);
}

}  // namespace
