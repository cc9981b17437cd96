#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Log.h"
#include "app/Text.h"
#include "TestFiles.h"

TEST(Log, StampIsUtcUnpadded) {
  Log::Stamp stamp{2020, 10, 1, 9, 5, 7, 42};
  EXPECT_EQ(Log::formatLine(stamp, L"INFO", L"DEF", L"---START---"),
            L"[2020_10_1 9:5:7:42] INFO : [DEF] : ---START---\r\n");
}

TEST(Log, NullMessageWritesNothing) {
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"/a.log");
  EXPECT_EQ(log.write(L"INFO", nullptr), nullptr);
  EXPECT_FALSE(testfiles::exists(dir.path() + L"/a.log"));
}

TEST(Log, AppendsUntilWholeKiBPassRestartLimit) {
  testfiles::ScratchDir dir;
  std::wstring path = dir.path() + L"/r.log";
  Log log = Log::atPath(path);
  testfiles::writeFile(path, std::string(205823, 'x'));
  log.info(L"kept");
  EXPECT_GT(testfiles::readFile(path).size(), 205823u);

  testfiles::writeFile(path, std::string(205824, 'x'));
  log.info(L"first line of a new file");
  std::string content = testfiles::readFile(path);
  EXPECT_LT(content.size(), 200u);
  EXPECT_NE(content.find("] INFO : [DEF] : first line of a new file\r\n"), std::string::npos);
}

TEST(Log, LastErrorLineCarriesCode) {
  testfiles::ScratchDir dir;
  std::wstring path = dir.path() + L"/e.log";
  Log log = Log::atPath(path);
  log.writeLastError();
  EXPECT_NE(testfiles::readFile(path).find("ERROR : [DEF] : LastErrorCode #"), std::string::npos);
}
