#include <gtest/gtest.h>

#include "app/Text.h"
#include "context/DownloadTally.h"
#include "context/InstallResult.h"
#include "formats/Json.h"

namespace {

JsonValue parsed(const InstallResult& r) { return parseJson(text::utf8ToWide(installResultJson(r))); }

InstallResult sample() {
  InstallResult r;
  r.exitCode = 0;
  r.installMode = 1;
  r.installFolder = L"C:\\Program Files (x86)\\Vexa";
  r.version = L"vwDec__8_2026_16_45_38";
  r.timings = {{L"doInstall", L"5120"}, {L"main", L"6000"}};
  r.errors = L"createDir_5;vexa8z_timeout;";
  r.downloads = {{L"vexa8z", 2000000, 1000, 2000000, true, 0}, {L"appdata8z", -1, 0, -1, false, 0},
                 {L"jreEbz", 3000000, 1000, 1000000, true, 2000000, L"https://mirror.example:8443"}};
  return r;
}

}  // namespace

TEST(InstallResult, DocumentParsesBackWithEveryField) {
  JsonValue doc = parsed(sample());
  ASSERT_EQ(doc.type(), JsonValue::kObject);
  EXPECT_EQ(doc.member(L"exitCode").intValue(), 0);
  EXPECT_EQ(doc.member(L"meaning").asString(), L"installed");
  EXPECT_EQ(doc.member(L"installMode").asString(), L"reinstall");
  EXPECT_EQ(doc.member(L"installFolder").asString(), L"C:\\Program Files (x86)\\Vexa");
  EXPECT_EQ(doc.member(L"version").asString(), L"vwDec__8_2026_16_45_38");
  EXPECT_EQ(doc.member(L"stagesMs").member(L"doInstall").intValue(), 5120);
  EXPECT_EQ(doc.member(L"stagesMs").member(L"main").intValue(), 6000);
  auto errors = doc.member(L"errors").asArray();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].asString(), L"createDir_5");
  EXPECT_EQ(errors[1].asString(), L"vexa8z_timeout");
  auto downloads = doc.member(L"downloads").asArray();
  ASSERT_EQ(downloads.size(), 3u);
  EXPECT_EQ(downloads[0].member(L"name").asString(), L"vexa8z");
  EXPECT_TRUE(downloads[0].member(L"completed").boolValue());
  EXPECT_EQ(downloads[0].member(L"bytes").intValue(), 2000000);
  EXPECT_EQ(downloads[0].member(L"bytesPerSecond").intValue(), 2000000);
  EXPECT_FALSE(downloads[1].member(L"completed").boolValue());
  EXPECT_EQ(downloads[1].member(L"bytes").intValue(), -1);
  EXPECT_EQ(downloads[0].member(L"resumedBytes").intValue(), 0);
  EXPECT_EQ(downloads[2].member(L"resumedBytes").intValue(), 2000000);
  EXPECT_EQ(downloads[2].member(L"host").asString(), L"https://mirror.example:8443");
  EXPECT_EQ(downloads[0].member(L"host").asString(), L"") << "a host not known is an empty text";
}

TEST(InstallResult, ALayoutSaysWhatItWrote) {
  InstallResult r = sample();
  r.layout = true;
  EXPECT_EQ(parsed(r).member(L"meaning").asString(), L"layout written");
  r.exitCode = 3;
  EXPECT_EQ(parsed(r).member(L"meaning").asString(), L"layout incomplete");
}

TEST(DownloadTally, KeepsTheHostThatServedEachDownload) {
  uint32_t now = 100;
  DownloadTally tally([&] { return now; });
  tally.started(L"vexa8z");
  tally.setHost(L"vexa8z", L"http://one");
  tally.setHost(L"vexa8z", L"http://two");
  tally.setHost(L"appdata8z", L"D:\\packs");
  auto records = tally.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].host, L"D:\\packs") << "a host noted before the start still makes a record";
  EXPECT_EQ(records[1].host, L"http://two") << "the last host noted is the one that served";
}

TEST(InstallResult, EmptyCollectionsStillParse) {
  InstallResult r;  // an install that never reached its end
  JsonValue doc = parsed(r);
  ASSERT_EQ(doc.type(), JsonValue::kObject);
  EXPECT_EQ(doc.member(L"exitCode").intValue(), -1);
  EXPECT_EQ(doc.member(L"meaning").asString(), L"the installation did not reach its end");
  EXPECT_EQ(doc.member(L"stagesMs").type(), JsonValue::kObject);
  EXPECT_TRUE(doc.member(L"errors").asArray().empty());
  EXPECT_TRUE(doc.member(L"downloads").asArray().empty());
}

TEST(InstallResult, HostileTextIsEscapedAndRoundTrips) {
  InstallResult r = sample();
  r.installFolder = L"C:\\Мои программы\\\"Vexa\" Плеер\\";
  r.version = L"a\tb\nc\\u0041";
  r.errors = L"unpack_\"x\\y\";";
  r.timings = {{L"wei\"rd\\name", L"12"}, {L"notANumber", L"12ab"}};
  std::string bytes = installResultJson(r);
  // Non-ASCII text is UTF-8, not escaped and not in a code page.
  EXPECT_NE(bytes.find("\xD0\x9C\xD0\xBE\xD0\xB8"), std::string::npos);  // "Мои"
  EXPECT_NE(bytes.find("\"wei\\\"rd\\\\name\": 12"), std::string::npos);

  JsonValue doc = parseJson(text::utf8ToWide(bytes));
  ASSERT_EQ(doc.type(), JsonValue::kObject);
  EXPECT_EQ(doc.member(L"installFolder").asString(), r.installFolder);
  EXPECT_EQ(doc.member(L"version").asString(), r.version);
  EXPECT_EQ(doc.member(L"errors").asArray().at(0).asString(), L"unpack_\"x\\y\"");
  // A value that is not a count stays text rather than breaking the document.
  EXPECT_EQ(doc.member(L"stagesMs").member(L"notANumber").asString(), L"12ab");
}

TEST(InstallResult, ControlCharactersNeverAppearRaw) {
  InstallResult r = sample();
  r.version = std::wstring(L"v") + wchar_t(1) + wchar_t(0x1f) + wchar_t(0x7f) + L"\r";
  r.errors = std::wstring(L"e") + wchar_t(2) + L";";
  std::string bytes = installResultJson(r);
  for (char c : bytes) {
    if (c != '\n') {
      EXPECT_GE(static_cast<unsigned char>(c), 0x20u);
    }
  }
  EXPECT_NE(bytes.find("\"v\\u0001\\u001f\x7f\\r\""), std::string::npos);
  EXPECT_NE(bytes.find("\"e\\u0002\""), std::string::npos);
  EXPECT_EQ(parseJson(text::utf8ToWide(bytes)).type(), JsonValue::kObject);
}

TEST(InstallResult, ErrorsHoldTokensOnlyAndTheFolderListingHasItsOwnField) {
  InstallResult r = sample();
  r.errors = L"vexa8z_signature;PFL:.;..;utils.jar;jre;PFL_end;late_token;";
  JsonValue doc = parsed(r);
  auto errors = doc.member(L"errors").asArray();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].asString(), L"vexa8z_signature");
  EXPECT_EQ(errors[1].asString(), L"late_token");
  auto files = doc.member(L"filesPresent").asArray();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].asString(), L"utils.jar");
  EXPECT_EQ(files[1].asString(), L"jre");
  // An empty folder's listing, and none at all.
  EXPECT_TRUE(readErrorList(L"a;PFL:PFL_end;").filesPresent.empty());
  EXPECT_EQ(readErrorList(L"a;PFL:PFL_end;").tokens, std::vector<std::wstring>{L"a"});
  EXPECT_EQ(doc.member(L"filesPresent").type(), JsonValue::kArray);
  EXPECT_TRUE(parsed(sample()).member(L"filesPresent").asArray().empty());
}

// Strict UTF-8: no encoded surrogate, no overlong form, every sequence whole.
bool validUtf8(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
    if (n == 9 || i + n >= bytes.size() + (n == 0 ? 1 : 0)) return false;
    uint32_t cp = n == 0 ? c : c & (0x3F >> n);
    for (size_t k = 1; k <= n; ++k) {
      const unsigned char d = static_cast<unsigned char>(bytes[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

TEST(InstallResult, LoneSurrogatesBecomeTheReplacementCharacter) {
  InstallResult r = sample();
  const wchar_t high = wchar_t(0xD83D), low = wchar_t(0xDE00);
  r.installFolder = std::wstring(L"C:\\a") + high + L"b" + low + L"\\" + high;
  r.errors = std::wstring(L"fne_") + low + high + L";PFL:" + high + L";PFL_end;";
  r.version = std::wstring(L"ok") + high + low;  // a whole pair stays one character
  const std::string bytes = installResultJson(r);
  EXPECT_TRUE(validUtf8(bytes)) << bytes;
  JsonValue doc = parseJson(text::utf8ToWide(bytes));
  const std::wstring fffd(1, wchar_t(0xFFFD));
  EXPECT_EQ(doc.member(L"installFolder").asString(), L"C:\\a" + fffd + L"b" + fffd + L"\\" + fffd);
  EXPECT_EQ(doc.member(L"errors").asArray().at(0).asString(), L"fne_" + fffd + fffd);
  EXPECT_EQ(doc.member(L"filesPresent").asArray().at(0).asString(), fffd);
  EXPECT_NE(bytes.find("ok\xF0\x9F\x98\x80"), std::string::npos);
}

TEST(InstallResult, ErrorTokensAndMeanings) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(splitErrorTokens(L""), V{});
  EXPECT_EQ(splitErrorTokens(L";;a;;b"), (V{L"a", L"b"}));
  EXPECT_EQ(splitErrorTokens(L"fne_C:\\x;dne_y;"), (V{L"fne_C:\\x", L"dne_y"}));
  EXPECT_STREQ(exitCodeMeaning(3), "the installation failed: \"cause\" says why");
  EXPECT_STREQ(exitCodeMeaning(1), "the product was already installed");
  EXPECT_STREQ(exitCodeMeaning(42), "unknown");
  EXPECT_STREQ(installModeName(2), "alreadyInstalled");
  EXPECT_STREQ(installModeName(7), "unknown");
}

TEST(DownloadTally, SpansRatesAndUnknowns) {
  uint32_t now = 0xFFFFFC00u;
  DownloadTally tally([&] { return now; });
  tally.started(L"vexa8z");
  tally.started(L"appdata8z");
  now += 0x400;  // 1024 ms, across the tick-count wrap
  tally.started(L"vexa8z");  // a retry keeps the first start
  tally.completed(L"vexa8z");
  tally.setBytes(L"vexa8z", 4096);
  tally.setBytes(L"jreEbz", 10);  // size without a completion: no rate
  tally.completed(L"flash");      // completed at once: counted as one millisecond
  tally.setBytes(L"flash", 3);
  // A pack resumed from an earlier run: its rate counts only this run's bytes.
  tally.started(L"resumed");
  now += 500;
  tally.completed(L"resumed");
  tally.setBytes(L"resumed", 10000, 8000);

  auto records = tally.records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].name, L"appdata8z");
  EXPECT_FALSE(records[0].completed);
  EXPECT_EQ(records[0].rate, -1);
  EXPECT_EQ(records[1].name, L"flash");
  EXPECT_EQ(records[1].ms, 0u);
  EXPECT_EQ(records[1].rate, 3000);
  EXPECT_EQ(records[2].name, L"jreEbz");
  EXPECT_EQ(records[2].bytes, 10);
  EXPECT_EQ(records[2].rate, -1);
  EXPECT_EQ(records[3].name, L"resumed");
  EXPECT_EQ(records[3].bytes, 10000);
  EXPECT_EQ(records[3].resumedBytes, 8000);
  EXPECT_EQ(records[3].rate, 4000);
  EXPECT_EQ(records[4].name, L"vexa8z");
  EXPECT_EQ(records[4].ms, 1024u);
  EXPECT_EQ(records[4].bytes, 4096);
  EXPECT_EQ(records[4].rate, 4000);
  EXPECT_EQ(records[4].resumedBytes, 0);
}

TEST(DownloadTally, APackWhollyHeldFromAnEarlierRunFetchedNothing) {
  uint32_t now = 1000;
  DownloadTally tally([&] { return now; });
  tally.started(L"vexa8z");
  now += 40;
  tally.completed(L"vexa8z");
  tally.setBytes(L"vexa8z", 8388608, 8388608);
  auto records = tally.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].resumedBytes, 8388608);
  EXPECT_EQ(records[0].rate, 0);
}

// The wizard's "Try again" runs the install once more in the same process.
TEST(DownloadTally, ASecondRunRecordsWhatItTouchesAfreshAndKeepsTheRest) {
  uint32_t now = 1000;
  DownloadTally tally([&] { return now; });
  tally.started(L"jreEbz");
  tally.started(L"vexa8z");
  tally.setHost(L"vexa8z", L"http://one");
  now += 100;
  tally.completed(L"jreEbz");
  tally.setBytes(L"jreEbz", 5000);
  tally.failed(L"vexa8z");
  tally.setBytes(L"vexa8z", 3000);

  now += 60000;  // the failure dialog
  tally.newRun();
  tally.started(L"vexa8z");
  tally.setHost(L"vexa8z", L"http://two");
  now += 200;
  tally.started(L"vexa8z");  // its progress, later in the same run
  tally.completed(L"vexa8z");
  tally.setBytes(L"vexa8z", 10000, 3000);

  auto records = tally.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].name, L"jreEbz");
  EXPECT_TRUE(records[0].completed);
  EXPECT_EQ(records[0].ms, 100u);
  EXPECT_EQ(records[0].rate, 50000);
  EXPECT_EQ(records[1].name, L"vexa8z");
  EXPECT_TRUE(records[1].completed);
  EXPECT_EQ(records[1].ms, 200u) << "timed from this run's start";
  EXPECT_EQ(records[1].resumedBytes, 3000);
  EXPECT_EQ(records[1].rate, 35000);
  EXPECT_EQ(records[1].host, L"http://two");
}
