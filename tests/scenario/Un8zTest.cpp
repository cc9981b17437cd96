// The entry grammar and the entry-name guard, fed byte by byte and in bulk.
#include <gtest/gtest.h>

#include <string>

#include "PackTestSupport.h"
#include "app/Text.h"
#include "scenario/Un8z.h"

namespace {

using packtest::RecordingSink;

bool parseAll(const std::string& bytes, RecordingSink& sink, size_t piece = SIZE_MAX, std::wstring* error = nullptr) {
  un8z::EntryParser parser(sink, L'/');
  bool ok = true;
  for (size_t i = 0; ok && i < bytes.size(); i += piece) {
    const size_t n = std::min(piece, bytes.size() - i);
    ok = parser.feed(reinterpret_cast<const uint8_t*>(bytes.data() + i), n);
  }
  ok = ok && parser.finish();
  if (error) *error = parser.error();
  return ok;
}

TEST(EntryParser, EntriesSurviveAnySplitOfTheInput) {
  const std::string bytes = std::string("5:a.txt3:abc") + "9:dir/b.bin0:" + "3:z/c10:0123456789";
  for (size_t piece : {size_t(1), size_t(2), size_t(7), SIZE_MAX}) {
    RecordingSink sink;
    ASSERT_TRUE(parseAll(bytes, sink, piece)) << "piece " << piece;
    EXPECT_EQ(L"a.txt;dir/b.bin;z/c;", sink.order);
    EXPECT_EQ("abc", sink.entries[L"a.txt"]);
    EXPECT_EQ("", sink.entries[L"dir/b.bin"]);
    EXPECT_EQ("0123456789", sink.entries[L"z/c"]);
  }
}

TEST(EntryParser, BinaryDataMayHoldDigitsColonsAndNuls) {
  const std::string data("1:2:\0\xff", 6);
  RecordingSink sink;
  ASSERT_TRUE(parseAll("1:x6:" + data, sink));
  EXPECT_EQ(data, sink.entries[L"x"]);
}

TEST(EntryParser, EmptyStreamIsAValidEmptyPack) {
  RecordingSink sink;
  EXPECT_TRUE(parseAll("", sink));
  EXPECT_TRUE(sink.entries.empty());
}

TEST(EntryParser, MalformedOrTruncatedInputFails) {
  const std::pair<const char*, std::string> cases[] = {
      {"length without colon", "5a.txt3:abc"},
      {"non-digit name length", "x:a"},
      {"empty name length", ":1:a0:"},
      {"non-digit data length", "1:a3x:abc"},
      {"empty data length", "1:a:abc"},
      {"negative data length", "1:a-1:"},
      {"stops inside the name length", "12"},
      {"stops inside the name", "5:ab"},
      {"stops before the data length", "1:a"},
      {"stops inside the data length", "1:a12"},
      {"data length beyond the stream", "1:a100:abc"},
      {"data length overflows 64 bits", "1:a99999999999999999999:x"},
      {"absurd name length", "4097:" + std::string(4097, 'n') + "0:"},
      {"huge name length", "18446744073709551615:x"},
      {"endless leading zeros", std::string(100, '0') + "1:a0:"},
  };
  for (const auto& [what, bytes] : cases) {
    RecordingSink sink;
    EXPECT_FALSE(parseAll(bytes, sink)) << what;
    EXPECT_FALSE(parseAll(bytes, sink, 1)) << what << " (byte by byte)";
  }
}

TEST(EntryParser, NameOfTheLimitLengthIsAccepted) {
  std::string name(4000, 'n');
  for (size_t i = 100; i < name.size(); i += 100) name[i] = '/';
  RecordingSink sink;
  EXPECT_TRUE(parseAll(std::to_string(name.size()) + ":" + name + "0:", sink));
}

TEST(EntryParser, RefusedEntryIsNamedInTheErrorAndNothingIsWritten) {
  RecordingSink sink;
  std::wstring error;
  EXPECT_FALSE(parseAll("1:a1:x13:../../evil.sh2:hi", sink, SIZE_MAX, &error));
  EXPECT_NE(std::wstring::npos, error.find(L"../../evil.sh")) << text::wideToUtf8(error);
  EXPECT_EQ(L"a;", sink.order);
}

TEST(EntryParser, SinkRefusalStopsTheParse) {
  RecordingSink sink;
  sink.acceptEntries = false;
  EXPECT_FALSE(parseAll("1:a1:x", sink));
}

TEST(SafeRelativeName, AcceptsOrdinaryNamesAndUsesTheSeparator) {
  std::wstring out;
  ASSERT_TRUE(un8z::safeRelativeName("lib/x/y.jar", L'\\', out));
  EXPECT_EQ(L"lib\\x\\y.jar", out);
  ASSERT_TRUE(un8z::safeRelativeName("lib\\x/./y.jar", L'/', out));
  EXPECT_EQ(L"lib/x/y.jar", out);
  ASSERT_TRUE(un8z::safeRelativeName("a//b", L'/', out));
  EXPECT_EQ(L"a/b", out);
  ASSERT_TRUE(un8z::safeRelativeName("..foo/bar..", L'/', out));
  EXPECT_EQ(L"..foo/bar..", out);
  ASSERT_TRUE(un8z::safeRelativeName("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82/console.txt", L'/', out));
  EXPECT_EQ(std::wstring(L"\x41f\x440\x438\x432\x435\x442/console.txt"), out);
}

TEST(SafeRelativeName, RefusesEverythingThatLeavesTheDestination) {
  const std::string refused[] = {
      "", "/etc/passwd", "\\Windows\\x.dll", "C:\\x.dll", "c:x.dll", "\\\\server\\share\\x", "//server/share/x",
      "..", "../x", "a/../../x", "a\\..\\..\\x", "a/..", "...", "a/. ./b", "a/.. /b", "./", "././.", "/",
      "file.txt:stream", std::string("a\0b", 3), "CON", "dir/nul.txt", "lpt1", "Com9.log", "aux/x",
      // Windows takes superscript digits as port numbers too.
      "COM\xc2\xb9", "dir/lpt\xc2\xb3.txt", "CLOCK$", "x/clock$.dll",
  };
  for (const auto& name : refused) {
    std::wstring out = L"unchanged";
    EXPECT_FALSE(un8z::safeRelativeName(name, L'/', out)) << '"' << name << '"';
  }
}

}  // namespace
