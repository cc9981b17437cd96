#include <gtest/gtest.h>

#include <windows.h>

#include "TestFiles.h"
#include "app/Log.h"
#include "app/Text.h"
#include "context/win32/ResultFile.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"
#include "formats/Json.h"

namespace {

int filesIn(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return count;
}

class ResultFileTest : public ::testing::Test {
 protected:
  std::string logText() { return testfiles::readFile(dir_.path() + L"\\result.log"); }
  testfiles::ScratchDir dir_;
};

}  // namespace

TEST_F(ResultFileTest, ReplacesAWholeDocumentAndLeavesNoTemporaryFile) {
  const std::wstring path = dir_.path() + L"\\результат.json";
  testfiles::writeFile(path, std::string(5000, 'x'));  // longer than what replaces it
  unsigned long error = 0;
  ASSERT_TRUE(resultfile::replaceAtomically(path, "{\"a\": 1}\n", error));
  EXPECT_EQ(testfiles::readFile(path), "{\"a\": 1}\n");
  EXPECT_EQ(filesIn(dir_.path()), 1);
}

TEST_F(ResultFileTest, MissingFoldersAreMadeAsADeploymentScriptExpects) {
  unsigned long error = 0;
  const std::wstring path = dir_.path() + L"\\deploy\\run 1\\r.json";
  ASSERT_TRUE(resultfile::replaceAtomically(path, "{}\n", error)) << error;
  EXPECT_EQ(testfiles::readFile(path), "{}\n");
  EXPECT_EQ(filesIn(dir_.path() + L"\\deploy\\run 1"), 1);
}

TEST_F(ResultFileTest, UnwritablePlaceFailsAndLeavesNothing) {
  unsigned long error = 0;
  // A file where a folder of the path must go.
  testfiles::writeFile(dir_.path() + L"\\plain", "x");
  EXPECT_FALSE(resultfile::replaceAtomically(dir_.path() + L"\\plain\\missing\\r.json", "{}", error));
  EXPECT_NE(error, 0u);
  DeleteFileW((dir_.path() + L"\\plain").c_str());
  error = 0;
  EXPECT_FALSE(resultfile::replaceAtomically(L"", "{}", error));
  EXPECT_NE(error, 0u);
  // A folder standing at the path cannot be replaced by a file.
  CreateDirectoryW((dir_.path() + L"\\taken").c_str(), nullptr);
  EXPECT_FALSE(resultfile::replaceAtomically(dir_.path() + L"\\taken", "{}", error));
  EXPECT_EQ(filesIn(dir_.path()), 0);
}

TEST_F(ResultFileTest, ContextWritesTheDocumentItWasAskedFor) {
  const std::wstring path = dir_.path() + L"\\out.json";
  Log log = Log::atPath(dir_.path() + L"\\result.log");
  VexaInstallContext context(L"/silent /resultFile \"" + path + L"\"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  context.exitCode = 3;
  context.setInstallFolder(dir_.path() + L"\\Vexa Плеер");
  context.appendError(L"unpack_7;");
  context.downloads().started(L"vexa8z");
  context.downloads().completed(L"vexa8z");
  context.downloads().setBytes(L"vexa8z", 1234);

  resultfile::writeIfAsked(context);

  EXPECT_EQ(context.exitCode, 3);
  JsonValue doc = parseJson(text::utf8ToWide(testfiles::readFile(path)));
  ASSERT_EQ(doc.type(), JsonValue::kObject);
  EXPECT_EQ(doc.member(L"exitCode").intValue(), 3);
  EXPECT_EQ(doc.member(L"installFolder").asString(), dir_.path() + L"\\Vexa Плеер");
  EXPECT_EQ(doc.member(L"version").asString(), context.versionText());
  EXPECT_EQ(doc.member(L"errors").asArray().at(0).asString(), L"unpack_7");
  EXPECT_NE(doc.member(L"stagesMs").find(L"main"), nullptr);
  EXPECT_EQ(doc.member(L"downloads").asArray().at(0).member(L"bytes").intValue(), 1234);
  EXPECT_NE(logText().find("Result file written: "), std::string::npos);
}

TEST_F(ResultFileTest, UnwritablePathIsLoggedAndKeepsTheExitCode) {
  Log log = Log::atPath(dir_.path() + L"\\result.log");
  // A file stands where the path needs a folder.
  testfiles::writeFile(dir_.path() + L"\\no", "x");
  VexaInstallContext context(L"/silent /resultFile \"" + dir_.path() + L"\\no\\such\\folder\\r.json\"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  context.exitCode = 0;
  resultfile::writeIfAsked(context);
  EXPECT_EQ(context.exitCode, 0);
  EXPECT_NE(logText().find("Cannot write the result file "), std::string::npos);

  VexaInstallContext noPath(L"/silent /resultFile", &log);

  noPath.setOffers(new PinstallContainerComposited(noPath, &log));
  noPath.exitCode = 1;
  resultfile::writeIfAsked(noPath);
  EXPECT_EQ(noPath.exitCode, 1);
  EXPECT_NE(logText().find("/resultFile needs a path"), std::string::npos);
}

TEST_F(ResultFileTest, WithoutTheOptionNothingIsWritten) {
  Log log = Log::atPath(dir_.path() + L"\\result.log");
  VexaInstallContext context(L"/silent", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  resultfile::writeIfAsked(context);
  EXPECT_EQ(logText().find("Result file"), std::string::npos);
  EXPECT_EQ(filesIn(dir_.path()), testfiles::exists(dir_.path() + L"\\result.log") ? 1 : 0);
}
