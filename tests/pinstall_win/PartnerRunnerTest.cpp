// The partner install runner end to end: the stand-in partner setup is
// downloaded from a server on 127.0.0.1, run from its own temporary folder
// and reported to the statistics endpoint on the same server.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

#include "TestFiles.h"
#include "StatQuery.h"
#include "TestHttpServer.h"
#include "app/Log.h"
#include "app/win32/Registry.h"
#include "context/StatRequest.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"
#include "pinstall/win32/PinstallHostWin32.h"
#include "scenario/PackSignature.h"

namespace {

using statquery::paramOf;

std::string between(const std::string& text, const std::string& begin, char end) {
  size_t pos = text.find(begin);
  if (pos == std::string::npos) return std::string();
  pos += begin.size();
  return text.substr(pos, text.find(end, pos) - pos);
}

class PartnerRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pinstall");
    calls_ = dir_.path() + L"\\calls.log";
    SetEnvironmentVariableW(L"VEXA_PARTNER_CALLS", calls_.c_str());
    testserver::Resource setup;
    setup.body = testfiles::readFile(VEXA_BUILD_DIR L"\\demo-product\\PartnerSetup.exe");
    ASSERT_GT(setup.body.size(), 1000u);
    server_.add("/partner/PartnerSetup.exe", setup);
    testserver::Resource stat;
    stat.ranges = false;
    server_.add("/installer2.html", stat);
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pinstall");
    SetEnvironmentVariableW(L"VEXA_PARTNER_CALLS", nullptr);
  }

  // One campaign "partner1" with options "one" (chosen) and "two" (not).
  void load(VexaInstallContext& context, const std::wstring& pparams, const std::wstring& success = L"",
            const std::wstring& otherUrl = L"") {
    load(context, *context.offers(), pparams, success, otherUrl);
  }
  void load(VexaInstallContext& context, IPinstallContainer& offers, const std::wstring& pparams,
            const std::wstring& success = L"", const std::wstring& otherUrl = L"") {
    context.statUrl = server_.wideUrl("/installer2.html");
    std::wstring url = otherUrl.empty() ? server_.wideUrl("/partner/PartnerSetup.exe") : otherUrl;
    offers.load(context, LR"({"data":{"campaigns":[{"pinstall":"partner1","campaignId":"camp-9",)"
                                    L"\"pinstallUrl\":\"" + url + L"\",\"pparams\":\"" + pparams +
                                    L"\",\"success\":\"" + success +
                                    LR"(","options":{"one":{"on":"on1","off":"off1"},"two":{"on":"on2","off":"off2"}}}]}})");
    ASSERT_EQ(offers.groups().size(), 1u);
    offers.groups()[0].pinstalls[0]->info().options[1].chosen = false;
    offers.groups()[0].pinstalls[0]->markShown(2);  // as its page does
  }
  std::vector<std::string> finishEvents() {
    std::vector<std::string> events;
    for (const auto& r : server_.requests())
      if (paramOf(r.path, L"mode") == L"pinstallFinish") events.push_back(r.path);
    return events;
  }
  std::string calls() { return testfiles::readFile(calls_); }
  std::string logText() { return testfiles::readFile(log_.path()); }
  std::wstring installDate() {
    return registry::readText(HKEY_CURRENT_USER, L"Software\\Pinstall\\partner1", L"installDate");
  }

  testfiles::ScratchDir dir_;
  Log log_ = Log::atPath(dir_.path() + L"\\runner.log");
  testserver::TestHttpServer server_;
  std::wstring calls_;
};

}  // namespace

TEST_F(PartnerRunnerTest, FirstOfTwoOptionsChosenRunsReportsAndCleansUp) {
  VexaInstallContext context(L"/pid p77", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  load(context, L"/S /pid=${pid} /exit=0");
  context.offers()->runAll(false, true);

  EXPECT_EQ(calls(), "PartnerSetup.exe on1off2 /S /pid=p77 /exit=0\r\n");
  std::string log = logText();
  std::string folder = between(log, "Delete temp folder ", '\r');
  ASSERT_FALSE(folder.empty()) << log;
  EXPECT_FALSE(testfiles::exists(text::utf8ToWide(folder)));
  EXPECT_NE(log.find("runPinstallUtilSyncOrWait"), std::string::npos);
  EXPECT_NE(log.find("runPinstallFunc for partner1"), std::string::npos);
  EXPECT_NE(log.find("Partner exe path = " + folder), std::string::npos);
  EXPECT_NE(log.find("Partner cmd " + folder), std::string::npos);
  EXPECT_EQ(folder.find(' '), std::string::npos);  // the plain form of the line, unquoted
  EXPECT_NE(log.find("PartnerSetup.exe on1off2 /S /pid=p77 /exit=0"), std::string::npos);

  auto events = finishEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(paramOf(events[0], L"presult"), L"2");
  EXPECT_EQ(paramOf(events[0], L"pexitcode"), L"0");
  EXPECT_EQ(paramOf(events[0], L"campaign_id"), L"camp-9");
  EXPECT_EQ(paramOf(events[0], L"pinstall"), L"partner1");
  EXPECT_EQ(paramOf(events[0], L"pid"), L"p77");
  EXPECT_EQ(installDate(), context.offers()->groups()[0].pinstalls[0]->info().offerDate);
}

TEST_F(PartnerRunnerTest, TemplateWithTheOptionsPlaceholderAndAMissingKey) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  load(context, L"/o=${options} /k=${nosuchkey}. /exit=0");
  context.offers()->runAll(false, true);
  EXPECT_EQ(calls(), "PartnerSetup.exe /o=on1off2 /k=. /exit=0\r\n");
}

TEST_F(PartnerRunnerTest, ExitZeroSucceedsWhateverTheListSays) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  load(context, L"/exit=0", L"5");
  context.offers()->runAll(false, true);
  EXPECT_FALSE(installDate().empty());
}

TEST_F(PartnerRunnerTest, ListedCodeSucceedsOtherCodesWriteNothingButAreReported) {
  {
    VexaInstallContext context(L"", &log_);
    context.setOffers(new PinstallContainerComposited(context, &log_));
    load(context, L"/exit=5", L"3,5");
    context.offers()->runAll(false, true);
    EXPECT_FALSE(installDate().empty());
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pinstall");
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  load(context, L"/exit=4", L"3,5");
  context.offers()->runAll(false, true);
  EXPECT_TRUE(installDate().empty());
  auto events = finishEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(paramOf(events[1], L"pexitcode"), L"4");
}

TEST_F(PartnerRunnerTest, RunTwiceRunsTheSetupOnce) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  load(context, L"/exit=0");
  context.offers()->runAll(false, true);
  context.offers()->runAll(false, true);
  EXPECT_EQ(calls(), "PartnerSetup.exe on1off2 /exit=0\r\n");
  EXPECT_NE(logText().find("Pinstyall installed already partner1"), std::string::npos);
  EXPECT_EQ(finishEvents().size(), 1u);
}

TEST_F(PartnerRunnerTest, FailedDownloadReportsAnEmptyExitCode) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  context.networkTiming.connectRetryPauseMs = 10;
  context.networkTiming.retryDelayMs = 10;
  // Nothing listens on port 1: every connection attempt is refused.
  load(context, L"/exit=0", L"", L"http://127.0.0.1:1/partner/PartnerSetup.exe");
  context.offers()->runAll(false, true);
  EXPECT_EQ(calls(), "");
  EXPECT_NE(logText().find("Partner exe path is empty"), std::string::npos) << logText();
  auto events = finishEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(paramOf(events[0], L"pexitcode"), L"<missing>");  // empty values are left out
  EXPECT_EQ(paramOf(events[0], L"pinstall"), L"partner1");
  std::string folder = between(logText(), "Delete temp folder ", '\r');
  ASSERT_FALSE(folder.empty());
  EXPECT_FALSE(testfiles::exists(text::utf8ToWide(folder)));
}

TEST_F(PartnerRunnerTest, WithAKeyBuiltInOnlyASetupSignedAsAPartnerRuns) {
  std::array<uint8_t, pack_signature::kPublicKeySize> publicKey{};
  std::array<uint8_t, pack_signature::kSecretKeySize> secretKey{};
  ASSERT_TRUE(pack_signature::makeKeyPair(publicKey, secretKey));
  pack_signature::PackVerifier verifier(pack_signature::toHex(publicKey.data(), publicKey.size()));
  const std::string setup = testfiles::readFile(VEXA_BUILD_DIR L"\\demo-product\\PartnerSetup.exe");
  auto signedAs = [&](const char* kind) {
    ebz::MemorySource source(setup.data(), setup.size());
    std::vector<uint8_t> file;
    EXPECT_TRUE(pack_signature::sign(source, kind, 1796000000, secretKey, file));
    return std::string(file.begin(), file.end());
  };
  auto runOnce = [&](VexaInstallContext& context) {
    pinstall::PinstallHostWin32 host(context, &log_, &verifier);
    PinstallContainerComposited offers(context, &log_, nullptr, &host);
    load(context, offers, L"/exit=0");
    offers.runAll(false, true);
  };

  // No signature, then a signature for a product pack: neither runs.
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  runOnce(context);
  server_.add("/partner/PartnerSetup.exe.sig", {signedAs(pack_signature::kKindProduct)});
  runOnce(context);
  EXPECT_EQ(calls(), "");
  const std::string log = logText();
  const std::string refused = "Pack " + server_.url("/partner/PartnerSetup.exe") + " refused: ";
  EXPECT_NE(log.find(refused), log.rfind(refused)) << "refused twice: " << log;
  EXPECT_NE(log.find("refused: the signature is for a vexa8z pack, not partner"), std::string::npos) << log;
  EXPECT_NE(log.find("ERROR : [DEF] : Partner setup " + server_.url("/partner/PartnerSetup.exe") +
                     " is not signed for this installer, skip partner"),
            std::string::npos)
      << log;
  auto events = finishEvents();
  ASSERT_EQ(events.size(), 2u);
  for (const std::string& event : events) EXPECT_EQ(paramOf(event, L"pexitcode"), L"<missing>");
  EXPECT_TRUE(installDate().empty());

  server_.add("/partner/PartnerSetup.exe.sig", {signedAs(pack_signature::kKindPartner)});
  runOnce(context);
  EXPECT_EQ(calls(), "PartnerSetup.exe on1off2 /exit=0\r\n");
  EXPECT_EQ(paramOf(finishEvents().back(), L"pexitcode"), L"0");
}

TEST_F(PartnerRunnerTest, WithoutItsOwnFolderTheOfferIsSkippedAndNothingIsDeleted) {
  wchar_t saved[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
  std::wstring sentinel = dir_.path() + L"\\keep.txt";
  testfiles::writeFile(sentinel, "keep");
  // The temporary path points into a folder that does not exist, so no
  // folder can be made under it.
  std::wstring missing = dir_.path() + L"\\missing\\";
  SetEnvironmentVariableW(L"TMP", missing.c_str());
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  load(context, L"/exit=0");
  context.offers()->runAll(false, true);
  SetEnvironmentVariableW(L"TMP", saved[0] ? saved : nullptr);
  EXPECT_EQ(calls(), "");
  EXPECT_TRUE(testfiles::exists(sentinel));
  EXPECT_NE(logText().find("Can't create temp folder for partner partner1"), std::string::npos);
  EXPECT_EQ(logText().find("Delete temp folder"), std::string::npos);
  EXPECT_EQ(finishEvents().size(), 1u);
}

TEST_F(PartnerRunnerTest, WaitForInstallsReturnsOnlyAfterTheRunningSetupEnded) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  load(context, L"/sleepms=1500 /exit=0");
  std::thread runner([&] { context.offers()->runAll(false, true); });
  for (int i = 0; i < 600 && calls().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_FALSE(calls().empty());
  auto begin = std::chrono::steady_clock::now();
  context.offers()->waitForInstalls();
  auto waited = std::chrono::steady_clock::now() - begin;
  // The run lock is released only after the setup ended and was reported.
  EXPECT_EQ(finishEvents().size(), 1u);
  EXPECT_GT(waited, std::chrono::milliseconds(500));
  runner.join();
}

TEST_F(PartnerRunnerTest, AlreadyInstalledProductRunsNoPartner) {
  VexaInstallContext context(L"", &log_);
  context.setOffers(new PinstallContainerComposited(context, &log_));
  load(context, L"/exit=0");
  context.installMode = 2;
  context.offers()->runAll(false, true);
  EXPECT_EQ(calls(), "");
  EXPECT_TRUE(finishEvents().empty());
}
