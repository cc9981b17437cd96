// The statistics events end to end: the installer's requests reach a server
// on 127.0.0.1, decipher to the expected parameters, and the start event's
// answer reaches the install context.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

#include "TestFiles.h"
#include "StatQuery.h"
#include "TestHttpServer.h"
#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/Registry.h"
#include "context/StatRequest.h"
#include "context/win32/StatisticsEvents.h"
#include "context/win32/SystemProbes.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"

namespace {

using statquery::paramOf;

template <typename Pred>
bool waitFor(Pred pred, int ms = 15000) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return pred();
}

const char kAnswerTemplate[] =
    R"({"data":{"idState":"free","installData":"{\"initxml\":\"<item title=\\\"Big Buck\\\" image=\\\"http://img/1.png\\\" hash=\\\"abc123\\\" text=\\\"Watch\\\"/>\",)"
    R"(\"tail\":\"<tail><installer pid=\\\"p42\\\" cid=\\\"c7\\\" sid=\\\"s9\\\" userId=\\\"srv-user\\\" statUrl=\\\"STAT\\\" )"
    R"(vexa7zUrl=\\\"STAT/Vexa.ebz\\\" appdata7zUrl=\\\"STAT/appdata.ebz\\\" packedJreEbzUrl=\\\"STAT/jre_packed.ebz\\\" userAgent=\\\"ua1\\\" downloadDate=\\\"2026-12-01\\\"/></tail>\"}","campaigns":[]}})";

class StatisticsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vexa");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pinstall");
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vexa");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pinstall");
  }
  testfiles::ScratchDir dir_;
};

}  // namespace

TEST(StatisticsNames, EventNamesByModeAndOutcome) {
  EXPECT_EQ(stats::startEventName(0), L"installStart");
  EXPECT_EQ(stats::startEventName(1), L"reinstallStart");
  EXPECT_EQ(stats::startEventName(2), L"");
  EXPECT_EQ(stats::finishEventName(0, false, false, true), L"cancel");
  EXPECT_EQ(stats::finishEventName(2, false, true, true), L"cancel");
  EXPECT_EQ(stats::finishEventName(0, true, false, true), L"installFinish");
  EXPECT_EQ(stats::finishEventName(0, true, false, false), L"installFail");
  EXPECT_EQ(stats::finishEventName(0, true, true, true), L"installCancel");
  EXPECT_EQ(stats::finishEventName(1, true, false, true), L"reinstallFinish");
  EXPECT_EQ(stats::finishEventName(1, true, false, false), L"reinstallFail");
  EXPECT_EQ(stats::finishEventName(1, true, true, false), L"reinstallCancel");
  EXPECT_EQ(stats::finishEventName(2, true, false, false), L"restart");
  EXPECT_EQ(stats::finishEventName(2, true, true, true), L"");
}

TEST_F(StatisticsTest, StartAndFinishEventsReachTheServerAndTheAnswerReachesTheContext) {
  testserver::TestHttpServer server;
  std::string stat = server.url("");
  std::string answer = kAnswerTemplate;
  for (size_t pos; (pos = answer.find("STAT")) != std::string::npos;) answer.replace(pos, 4, stat);
  testserver::Resource resource;
  resource.body = answer;
  resource.ranges = false;  // as the statistics endpoint answers
  server.add("/installer2.html", resource);

  Log log = Log::atPath(dir_.path() + L"\\stat.log");
  VexaInstallContext context(L"/pid cmdline /installKey k1", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  context.statUrl = server.wideUrl("/installer2.html");
  context.prepare();
  context.errors_ = L"fne_x;";

  stats::sendStartEvent(context);
  // The answer is applied on the start event's own thread; its end line says
  // every field has been written.
  ASSERT_TRUE(waitFor([&] {
    return testfiles::readFile(log.path()).find("-----END thread sendStart") != std::string::npos;
  })) << testfiles::readFile(log.path());

  EXPECT_EQ(context.pid, L"p42");  // the tail wins over "/pid"
  EXPECT_EQ(context.sid, L"s9");
  EXPECT_EQ(context.userAgent, L"ua1");
  EXPECT_EQ(context.downloadDate, L"2026-12-01");
  EXPECT_EQ(context.statUrl, text::utf8ToWide(stat) + L"/installer2.html");
  EXPECT_EQ(context.vexa7zUrl, text::utf8ToWide(stat) + L"/Vexa.ebz");
  EXPECT_EQ(context.packedJreEbzUrl, text::utf8ToWide(stat) + L"/jre_packed.ebz");
  EXPECT_EQ(context.tail().title(), L"Big Buck");
  EXPECT_EQ(context.tail().torrentHash(), L"abc123");
  EXPECT_EQ(context.identity().sUserId(), L"srv-user");
  EXPECT_EQ(context.identity().state(), UserIdentity::kSettled);
  std::string initXml = testfiles::readFile(context.workFolder() + L"\\init.xml");
  EXPECT_EQ(initXml, "<item title=\"Big Buck\" image=\"http://img/1.png\" hash=\"abc123\" text=\"Watch\"/>");

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& start = requests[0].path;
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(paramOf(start, L"mode"), L"installStart");
  EXPECT_EQ(paramOf(start, L"pid"), L"cmdline");
  EXPECT_EQ(paramOf(start, L"installKey"), L"k1");
  EXPECT_EQ(paramOf(start, L"appId"), L"1");
  EXPECT_EQ(paramOf(start, L"errors"), L"fne_x;");
  EXPECT_EQ(paramOf(start, L"i_user_id"), context.identity().iUserId());
  EXPECT_EQ(paramOf(start, L"installId"), context.installId);
  EXPECT_EQ(paramOf(start, L"support"), L"image;yandex2;complex;osVersion;folder");
  EXPECT_EQ(paramOf(start, L"s_user_id"), L"<missing>");  // empty values are left out
  EXPECT_NE(paramOf(start, L"trace").find(L"\"main\":\""), std::wstring::npos);
  EXPECT_EQ(paramOf(start, L"serial").empty(), false);

  server.clearRequests();
  stats::sendFinishEvent(context, true, false, false);
  requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& finish = requests[0].path;
  EXPECT_EQ(paramOf(finish, L"mode"), L"installFail");
  EXPECT_EQ(paramOf(finish, L"pid"), L"p42");
  EXPECT_EQ(paramOf(finish, L"cid"), L"c7");
  EXPECT_EQ(paramOf(finish, L"torrentHash"), L"abc123");
  EXPECT_EQ(paramOf(finish, L"xul"), L"0");
  EXPECT_NE(paramOf(finish, L"errors").find(L"PFL:"), std::wstring::npos);
  EXPECT_NE(paramOf(finish, L"antivirus"), L"<missing>");
  std::string logText = testfiles::readFile(log.path());
  EXPECT_NE(logText.find("Builded request params: "), std::string::npos);
  EXPECT_NE(logText.find("Reading tail..."), std::string::npos);
  EXPECT_NE(logText.find("write init xml to "), std::string::npos);
}

// The answer goes to the offers, tail and init xml only in the process that
// created the mutex; one that could not have it at all must not apply it.
TEST_F(StatisticsTest, AnswerIsAppliedOnlyByTheMutexCreator) {
  std::string answer = kAnswerTemplate;
  for (size_t pos; (pos = answer.find("STAT")) != std::string::npos;) answer.replace(pos, 4, "http://127.0.0.1:1");
  const std::wstring wide = text::utf8ToWide(answer);
  Log log = Log::atPath(dir_.path() + L"\\m.log");

  HANDLE squatter = CreateEventW(nullptr, FALSE, FALSE, L"vexaTestAnswerMutex");
  ASSERT_NE(squatter, nullptr);
  VexaInstallContext refused(L"/pid cmdline", &log);
  refused.setOffers(new PinstallContainerComposited(refused, &log));
  EXPECT_FALSE(stats::applyAnswer(refused, wide, L"vexaTestAnswerMutex"));
  EXPECT_EQ(refused.pid, L"cmdline");
  EXPECT_EQ(refused.tail().title(), L"");
  EXPECT_NE(testfiles::readFile(log.path()).find("can't create mutex vexaTestAnswerMutex"), std::string::npos);
  CloseHandle(squatter);

  VexaInstallContext first(L"/pid cmdline", &log);

  first.setOffers(new PinstallContainerComposited(first, &log));
  EXPECT_TRUE(stats::applyAnswer(first, wide, L"vexaTestAnswerMutex"));
  EXPECT_EQ(first.pid, L"p42");
  VexaInstallContext second(L"/pid cmdline", &log);
  second.setOffers(new PinstallContainerComposited(second, &log));
  EXPECT_FALSE(stats::applyAnswer(second, wide, L"vexaTestAnswerMutex"));
  EXPECT_EQ(second.pid, L"cmdline");
}

TEST_F(StatisticsTest, TailWithoutStatUrlLeavesTheBarePath) {
  Log log = Log::atPath(dir_.path() + L"\\t.log");
  VexaInstallContext context(L"/pid 12", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  context.readTail(L"<tail><installer cid=\"x\"/></tail>");
  EXPECT_EQ(context.statUrl, L"/installer2.html");
  EXPECT_EQ(context.pid, L"");  // a tail without pid empties it
  context.readTail(L"<tail><other/></tail>");
  EXPECT_EQ(context.cid, L"x");  // no installer element: nothing changes
}

TEST_F(StatisticsTest, IdentityVerdicts) {
  Log log = Log::atPath(dir_.path() + L"\\i.log");
  registry::writeText(HKEY_CURRENT_USER, L"Software\\Lumora", L"GUID", L"g-lumora");
  {
    UserIdentity identity(&log);
    identity.readTail(L"<t><installer userId=\"u-1\"/></t>");
    EXPECT_EQ(identity.guidList(), L"g-lumora");
    identity.handleAnswer(LR"({"data":{"idState":"free"}})");
    EXPECT_EQ(identity.state(), UserIdentity::kSettled);
    EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, L"Software\\Pinstall", L"s_user_id"), L"u-1");
  }
  {
    // A stored s_user_id wins over the tail and the guid list is not read.
    UserIdentity identity(&log);
    identity.readTail(L"<t><installer userId=\"other\"/></t>");
    EXPECT_EQ(identity.sUserId(), L"u-1");
    EXPECT_EQ(identity.guidList(), L"");
    EXPECT_EQ(identity.state(), UserIdentity::kSettled);
  }
  {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Pinstall");
    UserIdentity identity(&log);
    identity.handleAnswer(LR"({"data":{"idState":"busy"}})");
    identity.handleAnswer(LR"({"data":{"idState":"free"}})");
    EXPECT_EQ(identity.state(), UserIdentity::kBusy);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Lumora");
}

TEST_F(StatisticsTest, UnreachableEndpointFailsQuietly) {
  Log log = Log::atPath(dir_.path() + L"\\u.log");
  VexaInstallContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  context.statUrl = L"/installer2.html";
  // Every try fails at once; only the pauses between them would take time.
  context.networkTiming.connectRetryPauseMs = 10;
  context.networkTiming.retryDelayMs = 10;
  auto begin = std::chrono::steady_clock::now();
  stats::sendFinishEvent(context, false, false, false);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
}

TEST(SystemProbes, SerialIsCachedAndHasAForm) {
  testfiles::ScratchDir dir;
  Log log = Log::atPath(dir.path() + L"\\p.log");
  probes::clearSerialCache();
  std::wstring first = probes::diskSerial(&log);
  std::wstring second = probes::diskSerial(&log);
  EXPECT_EQ(first, second);
  EXPECT_FALSE(first.empty());
  std::string text = testfiles::readFile(log.path());
  EXPECT_NE(text.find("getHDDSerial end, result:"), std::string::npos);
  EXPECT_NE(text.find("getHDDSerial, used cached value"), std::string::npos);
}
