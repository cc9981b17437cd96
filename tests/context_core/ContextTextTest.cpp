#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>
// GCC 12 warns of an uninitialised std::function inside libstdc++'s regex
// compiler, a false alarm of its own headers.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#include "app/OptionTable.h"
#include "app/Text.h"
#ifdef _WIN32
#include "app/win32/CommandLine.h"
#endif
#include "context/ContextText.h"
#include "context/SharedText.h"
#include "context/Stopwatch.h"
#include "context/TailData.h"

TEST(ContextText, VersionTextReplacesBlanksAndColons) {
  EXPECT_EQ(contexttext::versionText(L"vw", "Oct  1 2020", "11:45:38"), L"vwOct__1_2020_11_45_38");
  EXPECT_EQ(contexttext::versionText(L"vw", "Dec  8 2026", "16:45:38"), L"vwDec__8_2026_16_45_38");
}

TEST(ContextText, InstallKeyComesFromLastBracketPair) {
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\dl\\VexaSetup[abc].exe"), L"abc");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\dl\\Vexa[one]Setup[two].exe"), L"two");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\dl\\VexaSetup.exe"), L"");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\[dir]\\VexaSetup.exe"), L"dir");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\dl\\Vexa[k].zip"), L"");
}

// The elevated copy is started through the 8.3 path Windows gives a
// bracketed name, which carries no key; the first process hands it over.
TEST(ContextText, RelaunchHandsTheFileNameKeyToTheElevatedCopy) {
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\Users\\Anna\\DOWNLO~1\\VEXASE~1.EXE"), L"");
  EXPECT_EQ(contexttext::relaunchParameters({L"/silent"}, false, L"k-42"), L"/secondInstance /silent /installKey k-42");
  EXPECT_EQ(contexttext::relaunchParameters({}, false, L"a b"), L"/secondInstance /installKey \"a b\"");
  // A key given on the command line travels with it already; no key, no option.
  EXPECT_EQ(contexttext::relaunchParameters({L"/installKey", L"x"}, true, L"x"), L"/secondInstance /installKey x");
  EXPECT_EQ(contexttext::relaunchParameters({L"/silent"}, false, L""), L"/secondInstance /silent");
}

// The copy must get back exactly the tokens this process parsed, and the
// marker that stops a second hand-over, whatever the folders look like.
TEST(ContextText, RelaunchLineRoundTripsThroughTheSplitter) {
  const std::vector<std::wstring> tokens = {
      L"/silent", L"/installDir", L"D:\\Apps\\Vexa\\", L"/downloadDir", L"C:\\Users\\Анна Петрова\\Загрузки\\",
      L"/pid", L"a\"b", L"/installKey", L"tail\\\\", L"/resultFile", L"C:\\with blank\\\\\"q\\r.json", L"/x", L""};
  const std::wstring line = contexttext::relaunchParameters(tokens, true, L"");
  std::vector<std::wstring> expected{L"/secondInstance"};
  expected.insert(expected.end(), tokens.begin(), tokens.end());
  EXPECT_EQ(splitCommandLinePortable(line), expected) << text::wideToUtf8(line);
#ifdef _WIN32
  EXPECT_EQ(commandline::split(line), expected) << text::wideToUtf8(line);
#endif
  OptionTable copy = OptionTable::fromTokens(splitCommandLinePortable(line), L"");
  EXPECT_TRUE(copy.hasOption(L"/secondInstance"));
  EXPECT_EQ(copy.optionValue(L"/installDir"), std::optional<std::wstring>(L"D:\\Apps\\Vexa\\"));
}

TEST(Stopwatch, SpansSurviveTickWrapAndStartIsKept) {
  uint32_t now = 0xFFFFFF00u;
  Stopwatch watch([&] { return now; });
  watch.start(L"doInstall");
  now += 0x200;  // wraps past zero
  watch.start(L"doInstall");  // an existing timer keeps its start
  watch.stop(L"doInstall");
  auto trace = watch.trace();
  EXPECT_EQ(trace[L"doInstall"], L"512");
  EXPECT_EQ(trace[L"main"], L"512");
}

namespace {
struct CountingListener : TailDataChangeListener {
  std::atomic<int> calls{0};
  void onTailDataChanged(const TailData&) override { ++calls; }
};
}  // namespace

TEST(TailData, OnlyTitleImageAndTextNotify) {
  TailData tail(L"http://stat");
  CountingListener listener;
  tail.addListener(&listener);
  tail.setTorrentHash(L"h");
  tail.setType(L"t");
  tail.setTitle(L"Title");
  tail.setImage(L"img");
  tail.setText(L"text");
  EXPECT_EQ(listener.calls, 3);
  EXPECT_EQ(tail.url(), L"http://stat");
}

// The start answer fills the install data on the statistics thread while
// the wizard builds its pages and reads it: thousands of rounds of both at
// once, which the sanitizers watch.
TEST(InstallData, AnswerThreadAndWindowThreadShareItSafely) {
  TailData tail(L"http://stat");
  SharedText modeExtension, packAddress;
  std::atomic<bool> stop{false};
  const std::wstring longTitle(300, L'T');
  std::thread answer([&] {
    for (int round = 0; round < 20000; ++round) {
      tail.setTitle(round % 2 ? longTitle : L"t");
      tail.setImage(L"http://img/" + std::to_wstring(round));
      tail.setType(round % 3 ? L"3" : std::wstring(200, L'x'));
      packAddress = round % 2 ? std::wstring(500, L'p') : L"http://h/Vexa.ebz";
      modeExtension += L" p1:free";
      if (round % 100 == 0) modeExtension = L"args[]";
    }
    stop = true;
  });
  std::vector<std::unique_ptr<CountingListener>> pages;
  size_t seen = 0, torn = 0;
  int rounds = 0;
  while (!stop || rounds < 20000) {
    const std::wstring title = tail.title(), address = packAddress.get();
    // Before the first answer both are empty; after it, whole values only.
    torn += (!title.empty() && title != L"t" && title != longTitle) +
            (!address.empty() && address.size() != 500 && address != L"http://h/Vexa.ebz");
    seen += title.size() + tail.image().size() + tail.type().size() + address.size() + modeExtension.get().size();
    if (rounds % 10 == 0 && pages.size() < 50) {
      pages.push_back(std::make_unique<CountingListener>());
      tail.addListener(pages.back().get());
    }
    ++rounds;
  }
  answer.join();
  EXPECT_GT(seen, 0u);
  EXPECT_EQ(torn, 0u);
  EXPECT_EQ(tail.title(), longTitle);
  EXPECT_EQ(packAddress.get(), std::wstring(500, L'p'));
}

TEST(ContextText, InstallKeyFollowsTheFullMatchRules) {
  // The group cannot hold "]" but may hold "[", and something must stand
  // between "]" and "exe".
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\a[b[c]d.exe"), L"c");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\setup[]x.exe"), L"");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\setup[k]exe"), L"");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\setup[k].EXE"), L"");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\setup[k]1exe"), L"k");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\x[a]b[c]"), L"");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\x[a] b.exe[c]"), L"");
  EXPECT_EQ(contexttext::installKeyFromFileName(L"C:\\x[a]bb[c.exe"), L"a");
}

TEST(ContextText, InstallKeyAgreesWithTheRegularExpression) {
  const std::wregex pattern(L".*\\[([^\\]]*)\\].*.exe");
  const wchar_t alphabet[] = L"[]ex.ab\\";
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) {
    std::wstring path;
    size_t length = random() % 14;
    for (size_t j = 0; j < length; ++j) path += alphabet[random() % 8];
    if (random() % 2) path += L"exe";
    std::wsmatch match;
    std::wstring expected = std::regex_match(path, match, pattern) ? match[1].str() : std::wstring();
    ASSERT_EQ(contexttext::installKeyFromFileName(path), expected) << text::wideToUtf8(path);
  }
}
