#include <gtest/gtest.h>

#include "download/HttpFacts.h"

using namespace download;

TEST(HttpFacts, OnlyTheExactLowerCaseTokenAcceptsRanges) {
  EXPECT_TRUE(acceptsRangesValue(L"bytes"));
  EXPECT_FALSE(acceptsRangesValue(L"Bytes"));
  EXPECT_FALSE(acceptsRangesValue(L"none"));
  EXPECT_FALSE(acceptsRangesValue(L"bytes "));
}

TEST(HttpFacts, ContentLengthIsAnUnsigned32BitNumber) {
  EXPECT_EQ(parseContentLength(L"1000"), 1000);
  EXPECT_EQ(parseContentLength(L"0"), 0);
  EXPECT_EQ(parseContentLength(L"4294967295"), -1);
  EXPECT_EQ(parseContentLength(L"2147483648"), static_cast<int>(2147483648u));
  EXPECT_EQ(parseContentLength(L"12abc"), 12);
  EXPECT_EQ(parseContentLength(L""), 0);
}

TEST(HttpFacts, FileNameOfContentDisposition) {
  EXPECT_EQ(fileNameFromDisposition(L"attachment; filename=\"setup file.exe\""), L"setup file.exe");
  EXPECT_EQ(fileNameFromDisposition(L"attachment; filename=pack.ebz; size=3"), L"pack.ebz");
  EXPECT_EQ(fileNameFromDisposition(L"attachment; filename= \"ab\""), L"ab");
  EXPECT_EQ(fileNameFromDisposition(L"attachment; filename=\"x\""), L"");
  EXPECT_EQ(fileNameFromDisposition(L"inline"), L"");
  // Hostile lengths must not bring the process down.
  EXPECT_EQ(fileNameFromDisposition(L"filename=a" + std::wstring(20000, L'b') + L"c").size(), 20002u);
}

TEST(HttpFacts, ContentRangeStart) {
  EXPECT_EQ(parseContentRangeStart(L"bytes 4300-4999/5000"), 4300);
  EXPECT_EQ(parseContentRangeStart(L"bytes 0-0/1"), 0);
  EXPECT_EQ(parseContentRangeStart(L"bytes */5000"), -1);
  EXPECT_EQ(parseContentRangeStart(L"items 1-2/3"), -1);
  EXPECT_EQ(parseContentRangeStart(L""), -1);
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
