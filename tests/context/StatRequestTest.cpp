#include "context/StatRequest.h"

#include <gtest/gtest.h>

#include "app/Text.h"

using stats::StatParams;

namespace {

// The installer's texts are wide; build astral characters the way each
// build stores them so the same test runs under both wchar_t widths.
std::wstring grinningFace() {
  if (sizeof(wchar_t) == 2) return std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)};
  return std::wstring(1, static_cast<wchar_t>(0x1F600));
}

StatParams knownAnswerParams() {
  return {
      {L"mode", L"installStart"},
      {L"version", L"vwOct__1_2020_11_45_38"},
      {L"userName", L"\u0418\u0432\u0430\u043d \u041f."},
      {L"errors", L"fne_C:\\Vexa\\Vexa.exe;dne_C:\\x;"},
      {L"trace", L"{\"main\":\"1250\"}"},
      {L"support", L"note " + grinningFace() + L" & more"},
      {L"appId", L"1"},
      {L"cid", L""},
      {L"xul", L"12"},
  };
}

// Made by tests/context/make_stat_vector.py with an independent cipher.
const char kKnownJoined[] =
    "appId=1&errors=fne_C%3A%5CVexa%5CVexa.exe%3Bdne_C%3A%5Cx%3B&mode=installStart"
    "&support=note+%ED%A0%BD%ED%B8%80+%26+more&trace=%7B%22main%22%3A%221250%22%7D"
    "&userName=%D0%98%D0%B2%D0%B0%D0%BD+%D0%9F.&version=vwOct__1_2020_11_45_38&xul=12";
const char kKnownHex[] =
    "431ef071f324178a19eb95d07c5083710566d4dbac93c7486c8ad4eaa326d27e14ef836da2fd644ddb246093089f86dc"
    "53fd499d15ae1f3bbd827d0fc8e661491c6308fe1bbcd70024c4f8859d3bb00b10258c6fd57c537750bd1c9f0f7dc0e1"
    "5f76c341d11b3d4e1d7feb3be3a4f9c8e4c21df18cac43f25427f69a2cc874f55bbcd96e2fec9cf6007be10ac86d0934"
    "f3894f394c90e689c336dcac94d7a230647006af4b5a23774c827189161dd560d0a63ff2089c4a4667b6e160d7994789"
    "8629ea99c2ca540cbbb8267fabc26045705b4c94f0a379ae6d9cc987bc984bba9528ae2bb023973a23714c97bbe0d152";

}  // namespace

TEST(StatValueEncoding, EscapesEverythingButUnreservedCharacters) {
  EXPECT_EQ(stats::encodeValue(L"\u0410"), L"%D0%90");
  EXPECT_EQ(stats::encodeValue(L"a b&c"), L"a+b%26c");
  EXPECT_EQ(stats::encodeValue(L"AZaz09-_.~"), L"AZaz09-_.~");
  EXPECT_EQ(stats::encodeValue(L"/?=%+"), L"%2F%3F%3D%25%2B");
  EXPECT_EQ(stats::encodeValue(L"\u20AC"), L"%E2%82%AC");
  EXPECT_EQ(stats::encodeValue(std::wstring(1, L'\0')), L"%00");
}

TEST(StatValueEncoding, EachSideOfTheUtf8LengthBoundaries) {
  EXPECT_EQ(stats::encodeValue(std::wstring(1, wchar_t(0x7F))), L"%7F");
  EXPECT_EQ(stats::encodeValue(std::wstring(1, wchar_t(0x80))), L"%C2%80");
  EXPECT_EQ(stats::encodeValue(std::wstring(1, wchar_t(0x7FF))), L"%DF%BF");
  EXPECT_EQ(stats::encodeValue(std::wstring(1, wchar_t(0x800))), L"%E0%A0%80");
}

TEST(StatValueEncoding, SurrogateHalvesAreEscapedOneByOne) {
  EXPECT_EQ(stats::encodeValue(grinningFace()), L"%ED%A0%BD%ED%B8%80");
}

TEST(StatJoin, OrdersByNameAndSkipsEmptyValues) {
  StatParams params;
  params[L"xul"] = L"0";
  params[L"version"] = L"v";
  params[L"cid"] = L"";
  params[L"appId"] = L"1";
  params[L"errors"] = L"";
  EXPECT_EQ(stats::joinParams(params), L"appId=1&version=v&xul=0");
  EXPECT_EQ(stats::joinParams({{L"a", L""}, {L"b", L""}}), L"");
  // Upper case sorts before lower case in code-unit order.
  EXPECT_EQ(stats::joinParams({{L"b", L"1"}, {L"Z", L"2"}}), L"Z=2&b=1");
}

TEST(StatCipher, PadsToWholeBlocksAlwaysAddingPadding) {
  EXPECT_EQ(stats::encipherToHex(std::string(16, 'x')).size(), 48u);
  EXPECT_EQ(stats::encipherToHex(std::string(15, 'x')).size(), 32u);
  EXPECT_EQ(stats::encipherToHex("").size(), 16u);
  for (size_t n = 0; n < 20; ++n) {
    std::string plain(n, 'q');
    auto back = stats::decipherHex(stats::encipherToHex(plain));
    ASSERT_TRUE(back) << n;
    EXPECT_EQ(*back, plain);
  }
}

TEST(StatCipher, MatchesIndependentKnownAnswer) {
  auto params = knownAnswerParams();
  EXPECT_EQ(text::wideToUtf8(stats::joinParams(params)), kKnownJoined);
  EXPECT_EQ(stats::buildRequestUrl(L"http://127.0.0.1:8731/installer2.html", params),
            L"http://127.0.0.1:8731/installer2.html?param=" + text::toWide(kKnownHex));

  auto decoded = stats::decodeParam(kKnownHex);
  ASSERT_TRUE(decoded);
  params.erase(L"cid");
  EXPECT_EQ(*decoded, params);
}

TEST(StatDecode, RoundTripsArbitraryText) {
  StatParams params{{L"a", L"\u0410\u0431 & = + % ;"}, {L"b", grinningFace() + L"x"}, {L"c", std::wstring(1, 0xDC00)}};
  std::string hex = text::wideToUtf8(stats::buildRequestUrl(L"", params)).substr(7);
  auto decoded = stats::decodeParam(hex);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, params);
}

TEST(StatDecode, RefusesMalformedRequests) {
  std::string good = stats::encipherToHex("a=1");
  EXPECT_TRUE(stats::decodeParam(good));
  EXPECT_FALSE(stats::decodeParam(""));
  EXPECT_FALSE(stats::decodeParam(good.substr(0, 15)));   // not a whole block
  EXPECT_FALSE(stats::decodeParam(good + "00"));          // not a whole block
  std::string notHex = good;
  notHex[3] = 'g';
  EXPECT_FALSE(stats::decodeParam(notHex));
  // Random blocks decipher to garbage whose padding does not check out.
  EXPECT_FALSE(stats::decodeParam("00112233445566778899aabbccddeeff"));
  // Valid cipher text around texts that are not parameter lists.
  for (const char* bad : {"a", "=1", "a=1&", "a=1&&b=2", "a=%4", "a=%zz", "a=%C3", "a=%C0%80", "a=%FF", "a=1&a=2",
                          "a=\x01", "a=b c"}) {
    EXPECT_FALSE(stats::decodeParam(stats::encipherToHex(bad))) << bad;
  }
}

TEST(StatDecode, EmptyTextIsAnEmptyParameterList) {
  auto decoded = stats::decodeParam(stats::encipherToHex(""));
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->empty());
}
