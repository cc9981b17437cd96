#include <gtest/gtest.h>

#include "app/OptionTable.h"

TEST(OptionTable, PairsOptionsWithFollowingValues) {
  auto table = OptionTable::fromTokens({L"/silent", L"/installDir", L"C:\\x y", L"/pid", L"42"}, L"");
  EXPECT_TRUE(table.hasOption(L"/silent"));
  EXPECT_FALSE(table.optionValue(L"/silent").has_value());
  EXPECT_EQ(table.optionValue(L"/installDir").value(), L"C:\\x y");
  EXPECT_EQ(table.optionValue(L"/pid").value(), L"42");
  EXPECT_EQ(table.joined(), L"/silent /installDir C:\\x y /pid 42 ");
}

TEST(OptionTable, OptionNamesAreCaseSensitive) {
  auto table = OptionTable::fromTokens({L"/Silent"}, L"");
  EXPECT_FALSE(table.hasOption(L"/silent"));
}

TEST(OptionTable, ProgramPathIsSkippedOnlyInItsShortForm) {
  auto shortForm = OptionTable::fromTokens({L"C:\\PROGRA~1\\SETUP.EXE", L"/version"}, L"C:\\PROGRA~1\\SETUP.EXE");
  EXPECT_EQ(shortForm.entries().size(), 1u);
  auto longForm = OptionTable::fromTokens({L"C:\\Program Files\\setup.exe"}, L"C:\\PROGRA~1\\SETUP.EXE");
  ASSERT_EQ(longForm.entries().size(), 1u);
  EXPECT_EQ(longForm.joined(), L"C:\\Program Files\\setup.exe ");
}

TEST(OptionTable, BareTokensBecomeOptions) {
  auto table = OptionTable::fromTokens({L"alpha", L"beta", L"/x"}, L"");
  EXPECT_EQ(table.optionValue(L"alpha").value(), L"beta");
  EXPECT_TRUE(table.hasOption(L"/x"));
}

TEST(CommandLineSplitter, QuotesGroupAndBackslashesHalveBeforeQuotes) {
  auto tokens = splitCommandLinePortable(L"  a \"b c\" d\\\\\"e f\" g\\h \\\"q");
  ASSERT_EQ(tokens.size(), 5u);
  EXPECT_EQ(tokens[1], L"b c");
  EXPECT_EQ(tokens[2], L"d\\e f");
  EXPECT_EQ(tokens[3], L"g\\h");
  EXPECT_EQ(tokens[4], L"\"q");
}

TEST(CommandLineSplitter, CutsAtTheCopyBuffer) {
  std::wstring longLine = L"/a " + std::wstring(20000, L'x');
  auto tokens = splitCommandLinePortable(longLine);
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[1].size(), kCommandLineBuffer - 1 - 3);
}
