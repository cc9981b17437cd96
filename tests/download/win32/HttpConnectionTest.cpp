// The WinINet client against the in-process test server.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "TestHttpServer.h"
#include "app/Log.h"
#include "download/win32/HttpConnection.h"

using download::HttpConnection;
using download::ReadStatus;
using testserver::Resource;

namespace {

std::string readBody(HttpConnection& connection) {
  std::string body;
  char buffer[8192];
  size_t n = 0;
  while (connection.read(buffer, sizeof buffer, &n) == ReadStatus::kData) body.append(buffer, n);
  return body;
}

Resource withBody(const std::string& body) {
  Resource r;
  r.body = body;
  return r;
}

class HttpConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.running()); }
  std::string logText() { return testfiles::readFile(logPath); }

  testserver::TestHttpServer server;
  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + L"\\http.log";
  Log log = Log::atPath(logPath);
};

TEST_F(HttpConnectionTest, RangeHeaderOnlyWhenALengthOrAnOffsetIntoARangedBodyIsAsked) {
  server.add("/f", withBody(std::string(1000, 'a')));
  HttpConnection whole(server.wideUrl("/f"), 5000, 5000);
  ASSERT_TRUE(whole.openRequest(&log, false, -1, 0));
  EXPECT_EQ(readBody(whole).size(), 1000u);
  whole.closeHandles();
  // Following redirects reads Accept-Ranges from the HEAD first; offset 0 still sends none.
  HttpConnection ranged(server.wideUrl("/f"), 5000, 5000);
  ASSERT_TRUE(ranged.openRequest(&log, true, -1, 0));
  EXPECT_TRUE(ranged.facts().acceptsRanges);
  ranged.closeHandles();
  HttpConnection first(server.wideUrl("/f"), 5000, 5000);
  ASSERT_TRUE(first.openRequest(&log, false, 1000, 0));
  EXPECT_EQ(first.facts().contentLength, 1000);
  EXPECT_EQ(first.facts().rangeStart, 0);
  first.closeHandles();

  auto seen = server.requestsFor("/f");
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].range, "");
  EXPECT_EQ(seen[1].method, "HEAD");
  EXPECT_EQ(seen[2].range, "");
  EXPECT_EQ(seen[3].range, "bytes=0-999");
}

TEST_F(HttpConnectionTest, FollowsAHeadRedirectChainToItsEnd) {
  server.add("/a", [&] { Resource r; r.location = server.url("/b"); return r; }());
  server.add("/b", [&] { Resource r; r.location = "/c"; return r; }());  // relative, resolved against /b
  Resource c = withBody("final body");
  c.contentMd5 = "0123456789abcdef0123456789abcdef";
  server.add("/c", c);

  HttpConnection connection(server.wideUrl("/a"), 5000, 5000);
  ASSERT_TRUE(connection.openRequest(&log, true, -1, 0));
  EXPECT_EQ(connection.facts().currentUrl, server.wideUrl("/c"));
  EXPECT_EQ(connection.facts().contentLength, 10);
  EXPECT_EQ(connection.facts().contentMd5, L"0123456789abcdef0123456789abcdef");
  EXPECT_EQ(readBody(connection), "final body");
  connection.closeHandles();

  std::string text = logText();
  EXPECT_NE(text.find("Redirect " + server.url("/a") + " -> " + server.url("/b")), std::string::npos) << text;
  EXPECT_NE(text.find("Redirect " + server.url("/b") + " -> " + server.url("/c")), std::string::npos) << text;
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[3].method, "GET");
  EXPECT_EQ(seen[3].path, "/c");
}

TEST_F(HttpConnectionTest, ARedirectLoopEndsWithAnError) {
  server.add("/loop", [&] { Resource r; r.location = "/loop"; return r; }());
  HttpConnection connection(server.wideUrl("/loop"), 5000, 5000);
  EXPECT_FALSE(connection.openRequest(&log, true, -1, 0));
  EXPECT_EQ(server.requests().size(), static_cast<size_t>(HttpConnection::kMaxRedirects + 1));
  EXPECT_NE(logText().find("ERROR : [DEF] : Too many redirects from "), std::string::npos) << logText();
}

TEST_F(HttpConnectionTest, ReadsTheFactsOfTheHeaders) {
  Resource quoted = withBody("x");
  quoted.disposition = "attachment; filename=\"setup file.exe\"";
  quoted.acceptRanges = "Bytes";
  server.add("/quoted", quoted);
  Resource single = withBody("y");
  single.disposition = "attachment; filename=\"x\"";
  single.contentLength = false;
  server.add("/single", single);

  HttpConnection connection(server.wideUrl("/quoted"), 5000, 5000);
  ASSERT_TRUE(connection.openRequest(&log, false, -1, 0));
  EXPECT_EQ(connection.facts().fileName, L"setup file.exe");
  EXPECT_FALSE(connection.facts().acceptsRanges);
  EXPECT_EQ(connection.facts().contentLength, 1);
  connection.closeHandles();

  // A one-character name matches nothing and leaves the earlier name.
  HttpConnection same(server.wideUrl("/quoted"), 5000, 5000);
  ASSERT_TRUE(same.openRequest(&log, false, -1, 0));
  same.closeHandles();
  HttpConnection other(server.wideUrl("/single"), 5000, 5000);
  ASSERT_TRUE(other.openRequest(&log, false, -1, 0));
  EXPECT_EQ(other.facts().fileName, L"");
  EXPECT_EQ(other.facts().contentLength, -1);
  EXPECT_EQ(readBody(other), "y");
}

TEST_F(HttpConnectionTest, AnErrorStatusIsReadAndLeftToTheCaller) {
  Resource missing = withBody("<html>gone</html>");
  missing.status = 404;
  server.add("/gone", missing);
  HttpConnection connection(server.wideUrl("/gone"), 5000, 5000);
  ASSERT_TRUE(connection.openRequest(&log, false, -1, 0));
  EXPECT_EQ(connection.facts().status, 404);
  EXPECT_EQ(readBody(connection), "<html>gone</html>");
}

TEST_F(HttpConnectionTest, RangesCarryTheStrongTagAsIfRange) {
  Resource pack = withBody("0123456789");
  pack.etag = "\"5f1-a\"";
  server.add("/pack", pack);
  HttpConnection same(server.wideUrl("/pack"), 5000, 5000);
  same.setIfRange(L"\"5f1-a\"");
  ASSERT_TRUE(same.openRequest(&log, false, 3, 4));
  EXPECT_EQ(same.facts().etag, L"\"5f1-a\"");
  EXPECT_EQ(same.facts().status, 206);
  EXPECT_EQ(readBody(same), "456");
  same.closeHandles();

  // The content changed: the whole of it comes back.
  HttpConnection changed(server.wideUrl("/pack"), 5000, 5000);
  changed.setIfRange(L"\"5f1-9\"");
  ASSERT_TRUE(changed.openRequest(&log, false, 3, 4));
  EXPECT_EQ(changed.facts().status, 200);
  EXPECT_EQ(readBody(changed), "0123456789");
  changed.closeHandles();

  // A tag that could carry anything into the header is never sent.
  HttpConnection hostile(server.wideUrl("/pack"), 5000, 5000);
  hostile.setIfRange(L"\"a\"\r\nX-Evil: 1");
  ASSERT_TRUE(hostile.openRequest(&log, false, 3, 4));
  EXPECT_EQ(readBody(hostile), "456");
  auto asked = server.requests();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].ifRange, "\"5f1-a\"");
  EXPECT_EQ(asked[1].ifRange, "\"5f1-9\"");
  EXPECT_EQ(asked[2].ifRange, "");
}

TEST_F(HttpConnectionTest, AnAddressThatCannotBeSplitIsLogged) {
  HttpConnection connection(L"not an address", 5000, 5000);
  EXPECT_FALSE(connection.openRequest(&log, false, -1, 0));
  std::string text = logText();
  EXPECT_NE(text.find("ERROR : [DEF] : Can't open connection to not an address"), std::string::npos) << text;
  EXPECT_NE(text.find("LastErrorCode #"), std::string::npos) << text;
}

}  // namespace
