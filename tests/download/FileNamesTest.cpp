#include <gtest/gtest.h>

#include "download/FileNames.h"

using namespace download;

TEST(FileNames, OnlyPlainFileNamesAreSafe) {
  for (const wchar_t* good : {L"setup.exe", L"evil setup.exe", L"console.exe", L"COM10.txt", L"LPT.bin", L"nul_",
                              L"conx", L"com.exe", L".hidden", L"\u0444\u0430\u0439\u043b.exe"}) {
    EXPECT_TRUE(isSafeFileName(good)) << good;
  }
  for (const wchar_t* bad : {L"", L".", L"..", L". .", L"CON", L"con", L"Con.txt", L"NUL.tar.gz", L"PRN", L"aux",
                             L"COM1", L"com9.exe", L"LPT1", L"lpt0", L"COM\u00b9", L"lpt\u00b3.txt", L"CLOCK$", L"CONIN$", L"conout$.x", L"NUL ",
                             L"NUL .txt", L"a<b", L"a>b", L"c:x", L"a\"b", L"a/b", L"a\\b", L"a|b", L"a?b", L"a*b",
                             L"tab\there", L"bell\a"}) {
    EXPECT_FALSE(isSafeFileName(bad)) << bad;
  }
}

TEST(FileNames, LastPathComponentDropsEveryFolder) {
  EXPECT_EQ(lastPathComponent(L"a\\..\\..\\evil setup.exe"), L"evil setup.exe");
  EXPECT_EQ(lastPathComponent(L"../x/y.bin"), L"y.bin");
  EXPECT_EQ(lastPathComponent(L"plain"), L"plain");
  EXPECT_EQ(lastPathComponent(L"folder/"), L"");
}
