#include <gtest/gtest.h>

#include "app/StringTable.h"

namespace {
StringTable tableOf(const std::string& utf8) { return StringTable::build(utf8.data(), utf8.size(), 0x0409); }
}  // namespace

TEST(StringTable, MissingKeyAnswersWithTheKey) {
  StringTable table = tableOf("OK=Finish\n");
  EXPECT_EQ(table.lookup(L"OK"), L"Finish");
  EXPECT_EQ(table.lookup(L"NEXT"), L"NEXT");
  EXPECT_EQ(StringTable().lookup(L"CANCEL"), L"CANCEL");
}

TEST(StringTable, BlankAfterEqualsBelongsToTextBlankBeforeDoesNot) {
  StringTable table = tableOf("KEY = value\n");
  EXPECT_EQ(table.lookup(L"KEY"), L" value");
}

TEST(StringTable, FirstKeyWinsAndCrlfIsDropped) {
  StringTable table = tableOf("\xEF\xBB\xBF" "DOWNLOADING=Downloading %s %%s\r\nCANCEL=Cancel\r\nDOWNLOADING=Downloading\r\n");
  EXPECT_EQ(table.lookup(L"DOWNLOADING"), L"Downloading %s %%s");
  EXPECT_EQ(table.lookup(L"CANCEL"), L"Cancel");
  EXPECT_EQ(table.size(), 2u);
}

TEST(StringTable, LastLineWithoutLineFeedIsStored) {
  StringTable table = tableOf("A=1\nB=two");
  EXPECT_EQ(table.lookup(L"B"), L"two");
}

TEST(StringTable, CommentsEmptyTextsAndHashesInsideTexts) {
  StringTable table = tableOf("# comment=not an entry\n  # indented comment\nEMPTY=\nHASH=a # b\n\n");
  EXPECT_EQ(table.lookup(L"EMPTY"), L"EMPTY");
  EXPECT_EQ(table.lookup(L"HASH"), L"a # b");
  EXPECT_EQ(table.size(), 1u);
}

TEST(StringTable, LineWithoutEqualsBleedsIntoNextKey) {
  StringTable table = tableOf("stray\nKEY=v\n");
  EXPECT_EQ(table.lookup(L"KEY"), L"KEY");
  // The run keeps what the key state skipped, so the key is "stray\nKE".
  EXPECT_EQ(table.lookup(L"stray\nKE"), L"v");
}

TEST(StringTable, HashIsJavaStyleAndCollidingKeysShareAnEntry) {
  EXPECT_EQ(StringTable::hashKey(L""), 0);
  EXPECT_EQ(StringTable::hashKey(L"OK"), 'O' * 31 + 'K');
  // "Aa" and "BB" collide under h*31+c.
  StringTable table = tableOf("Aa=first\nBB=second\n");
  EXPECT_EQ(table.lookup(L"BB"), L"first");
}

TEST(StringTable, LanguageChoosesResource) {
  EXPECT_EQ(StringTable::resourceIdForLanguage(0x0419), 103);
  EXPECT_EQ(StringTable::resourceIdForLanguage(0x0422), 105);
  EXPECT_EQ(StringTable::resourceIdForLanguage(0x0409), 104);
  EXPECT_EQ(StringTable::resourceIdForLanguage(0x0407), 104);
}
