#include <gtest/gtest.h>

#include "app/Text.h"

TEST(Text, Utf8RoundTripKeepsCyrillicAndAstralCharacters) {
  const std::string utf8 = "\xD0\x90\xD0\xB1 x \xF0\x9F\x98\x80";  // "Аб x 😀"
  std::wstring wide = text::utf8ToWide(utf8);
  EXPECT_EQ(wide[0], L'\x0410');
  EXPECT_EQ(text::wideToUtf8(wide), utf8);
  EXPECT_EQ(text::toUtf16(wide).size(), 7u);  // the emoji is two UTF-16 units
}

TEST(Text, MalformedUtf8BecomesReplacementCharacter) {
  EXPECT_EQ(text::utf8ToWide(std::string("a\xC3")), std::wstring(L"a\xFFFD"));
  EXPECT_EQ(text::utf8ToWide(std::string("\xFF" "b")), std::wstring(L"\xFFFD" L"b"));
  EXPECT_EQ(text::utf8ToWide(std::string("\xC0\x80")).size(), 1u);  // overlong NUL
}

TEST(Text, PathPartsSplitAtEitherSeparator) {
  EXPECT_EQ(text::folderPart(L"C:\\a\\b/c.exe"), L"C:\\a\\b");
  EXPECT_EQ(text::fileNamePart(L"C:\\a\\b/c.exe"), L"c.exe");
  EXPECT_EQ(text::fileNamePart(L"noseparator"), L"");
}

TEST(Text, SignificantCharactersIgnoreBlanksAndZeros) {
  std::wstring serial = L"  00 0 \t0 ";
  EXPECT_EQ(text::countSignificantChars(serial), 0);
  EXPECT_EQ(serial, L"0000");
  std::wstring real = L" WD-12 34";
  EXPECT_EQ(text::countSignificantChars(real), 7);
}

TEST(Text, PrintableAsciiRejectsCyrillicAndControls) {
  EXPECT_TRUE(text::isPrintableAscii(L"C:\\Users\\john~ 1"));
  EXPECT_FALSE(text::isPrintableAscii(L"C:\\\x0418\x0432\x0430\x043D"));
  EXPECT_FALSE(text::isPrintableAscii(L"a\tb"));
}

TEST(Text, EverySlotIsFilledAndDoublePercentHalves) {
  EXPECT_EQ(text::fillEachS(L"Installing %s", L"Vexa"), L"Installing Vexa");
  EXPECT_EQ(text::fillEachS(L"%s and %s", L"V"), L"V and V");
  EXPECT_EQ(text::fillEachS(L"100%% of %s%%s", L"V"), L"100% of V%s");
  EXPECT_EQ(text::fillEachS(L"%d %", L"V"), L"%d %");
  EXPECT_EQ(text::fillEachS(L"", L"V"), L"");
}

TEST(Text, OnlyPathsWithBlanksAreQuoted) {
  EXPECT_EQ(text::quotedIfBlank(L"C:\\Program Files (x86)\\Vexa\\Vexa.exe"),
            L"\"C:\\Program Files (x86)\\Vexa\\Vexa.exe\"");
  EXPECT_EQ(text::quotedIfBlank(L"C:\\PROGRA~2\\Vexa\\Vexa.exe"), L"C:\\PROGRA~2\\Vexa\\Vexa.exe");
}
