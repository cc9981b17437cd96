// Running one offer against a recording host: the options text and result
// mask, the command line, success codes, the once-only rule and the folder
// the runner may delete.
#include "pinstall/Pinstall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestFiles.h"
#include "app/Log.h"

namespace {

class RecordingHost : public PinstallHost {
 public:
  int mode = 0;
  std::wstring folder = L"C:\\temp\\GUID\\";
  std::wstring downloaded = L"C:\\temp\\GUID\\setup.exe";
  int exitCode = 0;
  std::vector<std::wstring> commandLines, downloads, deleted, dates;
  std::vector<std::map<std::wstring, std::wstring>> events;
  int foldersMade = 0;

  int installMode() override { return mode; }
  Params statisticsParams() override { return {{L"pid", L"p42"}, {L"installId", L"I-1"}}; }
  std::wstring createTempFolder() override {
    ++foldersMade;
    return folder;
  }
  std::wstring download(const std::wstring& url, const std::wstring& into) override {
    downloads.push_back(url + L" -> " + into);
    return downloaded;
  }
  int runAndWait(const std::wstring& commandLine) override {
    commandLines.push_back(commandLine);
    return exitCode;
  }
  void writeDate(const std::wstring& id, const wchar_t* name, const std::wstring& date) override {
    dates.push_back(id + L"/" + name + L"=" + date);
  }
  void deleteFolder(const std::wstring& f) override { deleted.push_back(f); }
  void sendFinishEvent(const UrlParamAppender& offer) override {
    std::map<std::wstring, std::wstring> params;
    offer.appendUrlParams(params);
    events.push_back(params);
  }
};

PinstallOption option(const wchar_t* name, const wchar_t* on, const wchar_t* off, bool chosen,
                      const wchar_t* dependsOn = L"") {
  PinstallOption o;
  o.name = name;
  o.on = on;
  o.off = off;
  o.chosen = chosen;
  o.dependsOn = dependsOn;
  return o;
}

class PinstallRunTest : public ::testing::Test {
 protected:
  PinstallInfo info(const std::wstring& params = L"/S") {
    PinstallInfo i;
    i.id = L"partner1";
    i.campaignId = L"camp-9";
    i.url = L"http://127.0.0.1/p.exe";
    i.params = params;
    i.offerDate = L"1700000000000";
    i.options = {option(L"one", L"on1", L"off1", true), option(L"two", L"on2", L"off2", false)};
    i.successCodes = {3, 0};
    return i;
  }
  std::string logText() { return testfiles::readFile(log_.path()); }

  testfiles::ScratchDir dir_;
  Log log_ = Log::atPath(dir_.path() + L"/run.log");
  RecordingHost host_;
};

}  // namespace

TEST_F(PinstallRunTest, FirstOfTwoOptionsChosen) {
  Pinstall offer(info(L"/S /pid=${pid}"), &log_, &host_);
  offer.markShown(10);
  offer.run();
  ASSERT_EQ(host_.commandLines.size(), 1u);
  EXPECT_EQ(host_.commandLines[0], L"C:\\temp\\GUID\\setup.exe on1off2 /S /pid=p42");
  EXPECT_EQ(host_.downloads, std::vector<std::wstring>{L"http://127.0.0.1/p.exe -> C:\\temp\\GUID\\"});
  EXPECT_EQ(offer.resultText(), L"2");
  EXPECT_EQ(offer.exitCodeText(), L"0");
  EXPECT_TRUE(offer.done());
  EXPECT_EQ(host_.deleted, std::vector<std::wstring>{L"C:\\temp\\GUID\\"});
  ASSERT_EQ(host_.events.size(), 1u);
  EXPECT_EQ(host_.events[0], (std::map<std::wstring, std::wstring>{
                                 {L"presult", L"2"}, {L"pexitcode", L"0"}, {L"campaign_id", L"camp-9"}, {L"pinstall", L"partner1"}}));
  std::string log = logText();
  EXPECT_NE(log.find("Partner exe path = C:\\temp\\GUID\\setup.exe"), std::string::npos);
  EXPECT_NE(log.find("Partner cmd C:\\temp\\GUID\\setup.exe on1off2 /S /pid=p42"), std::string::npos);
  EXPECT_NE(log.find("Delete temp folder C:\\temp\\GUID\\"), std::string::npos);
}

TEST_F(PinstallRunTest, TemplateHoldingTheOptionsGetsNoSecondCopyAndMissingKeysVanish) {
  Pinstall offer(info(L"/opts=${options} /x=${nosuchkey}. $5 ${unclosed"), &log_, &host_);
  offer.markShown(10);
  offer.run();
  ASSERT_EQ(host_.commandLines.size(), 1u);
  EXPECT_EQ(host_.commandLines[0], L"C:\\temp\\GUID\\setup.exe /opts=on1off2 /x=. $5 ${unclosed");
}

TEST_F(PinstallRunTest, ExitZeroAlwaysSucceedsListedCodesToOthersWriteNothing) {
  host_.exitCode = 0;
  PinstallInfo zeroOnly = info();
  zeroOnly.successCodes = {7};  // a list without 0 still lets 0 through
  Pinstall a(zeroOnly, &log_, &host_);
  a.markShown(10);
  a.run();
  EXPECT_EQ(host_.dates, std::vector<std::wstring>{L"partner1/installDate=1700000000000"});

  host_.dates.clear();
  host_.exitCode = 3;
  Pinstall b(info(), &log_, &host_);
  b.markShown(10);
  b.run();
  EXPECT_EQ(host_.dates.size(), 1u);

  host_.dates.clear();
  host_.exitCode = 4;
  Pinstall c(info(), &log_, &host_);
  c.markShown(10);
  c.run();
  EXPECT_TRUE(host_.dates.empty());
  EXPECT_EQ(c.exitCodeText(), L"4");
  EXPECT_EQ(host_.events.back()[L"pexitcode"], L"4");
}

TEST_F(PinstallRunTest, RunTwiceRunsOnce) {
  Pinstall offer(info(), &log_, &host_);
  offer.markShown(10);
  offer.run();
  offer.run();
  EXPECT_EQ(host_.commandLines.size(), 1u);
  EXPECT_EQ(host_.events.size(), 1u);
  EXPECT_NE(logText().find("Pinstyall installed already partner1"), std::string::npos);
}

TEST_F(PinstallRunTest, NoQualifyingChoiceSkipsWithoutDownloadButReports) {
  PinstallInfo i = info();
  i.options = {option(L"one", L"on1", L"off1", false), option(L"two", L"on2", L"off2", true, L"one")};
  Pinstall offer(i, &log_, &host_);
  offer.markShown(10);
  offer.run();
  EXPECT_EQ(host_.foldersMade, 0);
  EXPECT_TRUE(host_.downloads.empty());
  ASSERT_EQ(host_.events.size(), 1u);
  EXPECT_EQ(host_.events[0][L"pexitcode"], L"");
  EXPECT_EQ(host_.events[0][L"presult"], L"");
  EXPECT_NE(logText().find("No options selected, skip partner"), std::string::npos);
}

TEST_F(PinstallRunTest, FailedDownloadReportsAnEmptyExitCodeAndRemovesOnlyItsFolder) {
  host_.downloaded.clear();
  Pinstall offer(info(), &log_, &host_);
  offer.markShown(10);
  offer.run();
  EXPECT_TRUE(host_.commandLines.empty());
  EXPECT_EQ(host_.deleted, std::vector<std::wstring>{L"C:\\temp\\GUID\\"});
  ASSERT_EQ(host_.events.size(), 1u);
  EXPECT_EQ(host_.events[0][L"pexitcode"], L"");
  EXPECT_NE(logText().find("Partner exe path is empty"), std::string::npos);
}

TEST_F(PinstallRunTest, WithoutAFolderOfItsOwnNothingIsDownloadedOrDeleted) {
  host_.folder.clear();
  Pinstall offer(info(), &log_, &host_);
  offer.markShown(10);
  offer.run();
  EXPECT_TRUE(host_.downloads.empty());
  EXPECT_TRUE(host_.deleted.empty());
  EXPECT_TRUE(offer.done());
  EXPECT_EQ(host_.events.size(), 1u);
  EXPECT_NE(logText().find("ERROR"), std::string::npos);
}

TEST_F(PinstallRunTest, AlreadyInstalledModeRunsAndReportsNothing) {
  host_.mode = 2;
  Pinstall offer(info(), &log_, &host_);
  offer.markShown(10);
  offer.run();
  EXPECT_EQ(host_.foldersMade, 0);
  EXPECT_TRUE(host_.events.empty());
  host_.mode = 1;
  offer.run();  // started already
  EXPECT_TRUE(host_.events.empty());
}

TEST_F(PinstallRunTest, RunLockIsHeldWhileTheInstallerRuns) {
  class SlowHost : public RecordingHost {
   public:
    std::atomic<bool> running{false};
    int runAndWait(const std::wstring& line) override {
      running = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      running = false;
      return RecordingHost::runAndWait(line);
    }
  } host;
  Pinstall offer(info(), &log_, &host);
  offer.markShown(10);
  std::thread runner([&] { offer.run(); });
  while (!host.running) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  { std::lock_guard<std::mutex> wait(offer.runLock()); }
  EXPECT_FALSE(host.running);
  EXPECT_EQ(host.commandLines.size(), 1u);
  runner.join();
}

TEST_F(PinstallRunTest, UnseenOffersAndHiddenOptionsAreNotConsent) {
  Pinstall unseen(info(), &log_, &host_);
  unseen.run();
  EXPECT_EQ(host_.foldersMade, 0);
  ASSERT_EQ(host_.events.size(), 1u);
  EXPECT_EQ(host_.events[0][L"pexitcode"], L"");
  EXPECT_EQ(host_.events[0][L"pinstall"], L"partner1");
  EXPECT_NE(logText().find("Partner offer was never shown, skip partner partner1"), std::string::npos);
  host_.events.clear();

  // The one chosen main option had no box: the seen one was unticked.
  PinstallInfo i = info();
  i.options = {option(L"one", L"on1", L"off1", false), option(L"two", L"on2", L"off2", true)};
  Pinstall partly(i, &log_, &host_);
  partly.markShown(1);
  partly.run();
  EXPECT_EQ(host_.foldersMade, 0);
  EXPECT_NE(logText().find("No options selected, skip partner"), std::string::npos);
  EXPECT_EQ(pinstall::optionsText(pinstall::visibleChoices(i.options)), L"off1off2");
}

TEST(PinstallText, OptionsMaskTemplateAndCommandLine) {
  std::vector<PinstallOption> three{option(L"a", L"A", L"-a", true), option(L"b", L"B", L"-b", false),
                                    option(L"c", L"C", L"", true)};
  EXPECT_EQ(pinstall::optionsText(three), L"A-bC");
  EXPECT_EQ(pinstall::resultMask(three), 5u);
  EXPECT_TRUE(pinstall::hasQualifyingChoice(three));
  EXPECT_EQ(pinstall::resultMask({}), 0u);

  std::vector<PinstallOption> many(70, option(L"x", L"", L"", true));
  EXPECT_EQ(pinstall::resultMask(many), ~uint64_t{0});  // the first six have no bit
  many[69].chosen = false;
  EXPECT_EQ(pinstall::resultMask(many), ~uint64_t{0} - 1);

  EXPECT_EQ(pinstall::expandTemplate(L"${a}${b}$${a}", {{L"a", L"1"}}), L"1$1");
  EXPECT_EQ(pinstall::expandTemplate(L"${}", {{L"", L"e"}}), L"e");
  EXPECT_EQ(pinstall::partnerCommandLine(L"C:\\t\\s.exe", L"", L"/S"), L"C:\\t\\s.exe /S");
  EXPECT_EQ(pinstall::partnerCommandLine(L"C:\\Documents and Settings\\s.exe", L"/o", L""),
            L"\"C:\\Documents and Settings\\s.exe\" /o ");
}
