#include <gtest/gtest.h>

#include <random>
// GCC 12 warns of an uninitialised std::function inside libstdc++'s regex
// compiler, a false alarm of its own headers.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#include "app/Text.h"
#include "download/HttpFacts.h"

using namespace download;

TEST(HttpFacts, OnlyTheExactLowerCaseTokenAcceptsRanges) {
  EXPECT_TRUE(acceptsRangesValue(L"bytes"));
  EXPECT_FALSE(acceptsRangesValue(L"Bytes"));
  EXPECT_FALSE(acceptsRangesValue(L"none"));
  EXPECT_FALSE(acceptsRangesValue(L"bytes "));
}

TEST(HttpFacts, ContentLengthIsA64BitNumberThatNeverWraps) {
  EXPECT_EQ(parseContentLength(L"1000"), 1000);
  EXPECT_EQ(parseContentLength(L"0"), 0);
  EXPECT_EQ(parseContentLength(L"4294967295"), 4294967295LL);
  EXPECT_EQ(parseContentLength(L"2147483648"), 2147483648LL);
  EXPECT_EQ(parseContentLength(L"4294967396"), 4294967396LL);
  EXPECT_EQ(parseContentLength(L"99999999999999999999999999"), kHugeLength);
  EXPECT_EQ(parseContentLength(L"12abc"), 12);
  EXPECT_EQ(parseContentLength(L""), 0);
}

TEST(HttpFacts, FileNameOfContentDisposition) {
  EXPECT_EQ(fileNameFromDisposition(L"attachment; filename=\"setup file.exe\""), L"setup file.exe");
  EXPECT_EQ(fileNameFromDisposition(L"attachment; filename=pack.ebz; size=3"), L"pack.ebz");
  EXPECT_EQ(fileNameFromDisposition(L"attachment; filename= \"ab\""), L"ab");
  EXPECT_EQ(fileNameFromDisposition(L"attachment; filename=\"x\""), L"");
  EXPECT_EQ(fileNameFromDisposition(L"inline"), L"");
  EXPECT_EQ(fileNameFromDisposition(L"filename=\"-x\"; filename=ok.exe"), L"ok.exe");
  // A header from the network must not be able to exhaust the stack.
  EXPECT_EQ(fileNameFromDisposition(L"filename=a" + std::wstring(200000, L'b') + L"c").size(), 200002u);
}

TEST(HttpFacts, DispositionMatchesTheRegularExpressionOnShortHeaders) {
  const std::wregex pattern(L"filename=\\s*\"?(\\w[^\";]*\\w)\"?\\s*");
  const wchar_t alphabet[] = L"ab_ \";;=.-9";
  std::mt19937 random(3);
  for (int i = 0; i < 3000; ++i) {
    std::wstring value;
    for (int n = random() % 14; n > 0; --n) {
      if (random() % 5 == 0) value += L"filename=";
      else value += alphabet[random() % (sizeof alphabet / sizeof alphabet[0] - 1)];
    }
    std::wsmatch match;
    std::wstring expected = std::regex_search(value, match, pattern) ? match[1].str() : L"";
    EXPECT_EQ(fileNameFromDisposition(value), expected) << text::wideToUtf8(value);
  }
}

TEST(HttpFacts, ContentRangeStart) {
  EXPECT_EQ(parseContentRangeStart(L"bytes 4300-4999/5000"), 4300);
  EXPECT_EQ(parseContentRangeStart(L"bytes 0-0/1"), 0);
  EXPECT_EQ(parseContentRangeStart(L"bytes */5000"), -1);
  EXPECT_EQ(parseContentRangeStart(L"items 1-2/3"), -1);
  EXPECT_EQ(parseContentRangeStart(L""), -1);

  ContentRange probe = parseContentRange(L"bytes 0-0/50331648");
  EXPECT_EQ(probe.first, 0);
  EXPECT_EQ(probe.last, 0);
  EXPECT_EQ(probe.total, 50331648);
  EXPECT_EQ(parseContentRange(L"bytes 0-0/4294967396").total, 4294967396LL);
  EXPECT_EQ(parseContentRange(L"bytes 0-9/*").total, -1);
  ContentRange unsatisfiable = parseContentRange(L"bytes */0");
  EXPECT_EQ(unsatisfiable.first, -1);
  EXPECT_EQ(unsatisfiable.total, 0);
  EXPECT_EQ(parseContentRange(L"bytes 9-3/20").first, -1);
}

TEST(HttpFacts, RangeHeaderRule) {
  EXPECT_FALSE(wantsRangeHeader(false, 0, -1));
  EXPECT_FALSE(wantsRangeHeader(true, 0, -1));
  EXPECT_TRUE(wantsRangeHeader(true, 10, -1));
  EXPECT_FALSE(wantsRangeHeader(false, 10, -1));
  EXPECT_TRUE(wantsRangeHeader(false, 0, 1000));

  EXPECT_EQ(rangeHeader(0, 1000), L"Range: bytes=0-999");
  EXPECT_EQ(rangeHeader(4300, 700), L"Range: bytes=4300-4999");
  // A resumed whole-body read asks for -1 - received bytes.
  EXPECT_EQ(rangeHeader(300, -1 - 300), L"Range: bytes=300-4294967294");
}

TEST(HttpFacts, SecureOnlyForTheTwoSpellings) {
  EXPECT_TRUE(isSecureUrl(L"https://h/x"));
  EXPECT_TRUE(isSecureUrl(L"HTTPS://h/x"));
  EXPECT_FALSE(isSecureUrl(L"Https://h/x"));
  EXPECT_FALSE(isSecureUrl(L"http://h/x"));
}

TEST(HttpFacts, LocationResolvedAgainstTheAnsweringAddress) {
  const std::wstring base = L"http://h:81/dir/file.bin?x=1";
  EXPECT_EQ(resolveLocation(base, L"https://o/p"), L"https://o/p");
  EXPECT_EQ(resolveLocation(base, L"//o/p"), L"http://o/p");
  EXPECT_EQ(resolveLocation(base, L"/root.bin"), L"http://h:81/root.bin");
  EXPECT_EQ(resolveLocation(base, L"other.bin"), L"http://h:81/dir/other.bin");
  EXPECT_EQ(resolveLocation(base, L"?y=2"), L"http://h:81/dir/file.bin?y=2");
  EXPECT_EQ(resolveLocation(L"http://h", L"a"), L"http://h/a");
  EXPECT_EQ(resolveLocation(base, L""), L"");
}

TEST(HttpFacts, FileNameOfAnAddressKeepsItsQuery) {
  EXPECT_EQ(fileNameFromUrl(L"http://h/dir/pack.ebz"), L"pack.ebz");
  EXPECT_EQ(fileNameFromUrl(L"http://h/get?id=3"), L"get?id=3");
  EXPECT_EQ(fileNameFromUrl(L"http://h/"), L"");
  EXPECT_EQ(fileNameFromUrl(L"nothing"), L"");
}

TEST(HttpFacts, RedirectsMayStayOrGoUpToHttpsButNeverDown) {
  EXPECT_TRUE(redirectAllowed(L"http://a/x", L"http://b/x"));
  EXPECT_TRUE(redirectAllowed(L"http://a/x", L"https://b/x"));
  EXPECT_TRUE(redirectAllowed(L"https://a/x", L"https://b/x"));
  EXPECT_TRUE(redirectAllowed(L"HTTPS://a/x", L"Https://b/x"));
  EXPECT_FALSE(redirectAllowed(L"https://a/x", L"http://b/x"));
  EXPECT_FALSE(redirectAllowed(L"Https://a/x", L"HTTP://b/x"));
  EXPECT_FALSE(redirectAllowed(L"http://a/x", L"ftp://b/x"));
  EXPECT_FALSE(redirectAllowed(L"http://a/x", L"file:///C:/x"));
  EXPECT_FALSE(redirectAllowed(L"http://a/x", L"https:/b/x"));
}

TEST(HttpFacts, RetryAfterIsReadAsSecondsOnly) {
  EXPECT_EQ(parseRetryAfterSeconds(L"0"), 0);
  EXPECT_EQ(parseRetryAfterSeconds(L"8"), 8);
  EXPECT_EQ(parseRetryAfterSeconds(L" 120 "), 120);
  EXPECT_EQ(parseRetryAfterSeconds(L"99999999999999999999"), 9999999999LL);
  EXPECT_EQ(parseRetryAfterSeconds(L""), -1);
  EXPECT_EQ(parseRetryAfterSeconds(L"-5"), -1);
  EXPECT_EQ(parseRetryAfterSeconds(L"5s"), -1);
  EXPECT_EQ(parseRetryAfterSeconds(L"Wed, 09 Dec 2026 21:00:00 GMT"), -1);
}

TEST(HttpFacts, ServerErrorsAreThe5xxOnly) {
  EXPECT_FALSE(isServerErrorStatus(499));
  EXPECT_TRUE(isServerErrorStatus(500));
  EXPECT_TRUE(isServerErrorStatus(503));
  EXPECT_TRUE(isServerErrorStatus(599));
  EXPECT_FALSE(isServerErrorStatus(600));
  EXPECT_FALSE(isServerErrorStatus(404));
  for (int status : {204, 301, 302, 304}) EXPECT_FALSE(isContentStatus(status)) << status;
}

TEST(HttpFacts, HostOfAnAddress) {
  EXPECT_EQ(hostOfUrl(L"http://packs.example.net/Vexa.ebz"), L"packs.example.net");
  EXPECT_EQ(hostOfUrl(L"https://127.0.0.1:8731/a?b=/c"), L"127.0.0.1:8731");
  EXPECT_EQ(hostOfUrl(L"http://user:pw@edge:81"), L"edge:81");
  EXPECT_EQ(hostOfUrl(L"/relative/path"), L"");
}
