// Partner offers at the server: campaigns served in the start answer, the
// "pinstallFinish" event's four parameters stored as columns, and the
// partner report over offered, skipped and run offers.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <nlohmann/json.hpp>

#include "PartnerReport.h"
#include "RunningServer.h"

namespace {

std::string get(int port, const stats::StatParams& params, int* status = nullptr) {
  httplib::Client client("127.0.0.1", port);
  auto res = client.Get(RunningServer::statPath(params));
  if (status) *status = res ? res->status : -1;
  return res ? res->body : std::string();
}

}  // namespace

TEST(PartnerEvents, StartAnswerCarriesTheCampaignsOfItsInstallKey) {
  RunningServer srv;
  ASSERT_TRUE(srv.answers.loadText(R"({"default":{"campaigns":[{"pinstall":"d"}]},
                                      "installKeys":{"k2":{"campaigns":[{"pinstall":"p2","pparams":"/S ${options}"}]}}})"))
      << srv.answers.error();
  ASSERT_NO_FATAL_FAILURE(srv.start());
  auto answer = nlohmann::json::parse(get(srv.port, {{L"mode", L"installStart"}, {L"installKey", L"k2"}}));
  EXPECT_EQ(answer["data"]["campaigns"][0]["pinstall"], "p2");
  EXPECT_EQ(answer["data"]["campaigns"][0]["pparams"], "/S ${options}");
  answer = nlohmann::json::parse(get(srv.port, {{L"mode", L"installStart"}, {L"installKey", L"other"}}));
  EXPECT_EQ(answer["data"]["campaigns"][0]["pinstall"], "d");
}

TEST(PartnerEvents, PinstallFinishIsStoredWithItsFourParameters) {
  RunningServer srv;
  ASSERT_NO_FATAL_FAILURE(srv.start());
  int status = 0;
  get(srv.port,
      {{L"mode", L"pinstallFinish"}, {L"installId", L"i-1"}, {L"pinstall", L"partner1"}, {L"campaign_id", L"camp-9"},
       {L"presult", L"2"}, {L"pexitcode", L"0"}, {L"mode_ext", L"args[] pinstall: partner1:free "}},
      &status);
  EXPECT_EQ(status, 200);
  srv.stop();
  auto rows = srv.events.query("SELECT mode, pinstall, campaign_id, presult, pexitcode, mode_ext FROM events");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["mode"], "pinstallFinish");
  EXPECT_EQ(rows[0]["pinstall"], "partner1");
  EXPECT_EQ(rows[0]["campaign_id"], "camp-9");
  EXPECT_EQ(rows[0]["presult"], "2");
  EXPECT_EQ(rows[0]["pexitcode"], "0");
  EXPECT_EQ(rows[0]["mode_ext"], "args[] pinstall: partner1:free ");
}

TEST(PartnerEvents, OlderDatabaseGainsThePartnerColumnsAndKeepsItsRows) {
  testfiles::ScratchDir scratch;
  std::string path = testfiles::narrow(scratch.path()) + "/old.sqlite";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE events(id INTEGER PRIMARY KEY, received TEXT NOT NULL, client TEXT NOT NULL, "
                         "mode TEXT NOT NULL DEFAULT '', params TEXT NOT NULL);"
                         "INSERT INTO events(received, client, mode, params) VALUES('t', 'c', 'installStart', 'p');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  EventStore store;
  ASSERT_TRUE(store.open(path)) << store.error();
  StatEvent e;
  e.received = "t2";
  e.client = "c";
  e.fields = {{"mode", "pinstallFinish"}, {"pinstall", "x"}, {"pexitcode", "3"}};
  ASSERT_TRUE(store.add(e)) << store.error();
  auto rows = store.query("SELECT mode, pinstall, pexitcode FROM events ORDER BY id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["pinstall"], "");
  EXPECT_EQ(rows[1]["pexitcode"], "3");
}

TEST(PartnerReport, ModeTextDecisions) {
  EXPECT_TRUE(offerDecisions("args[/silent]").empty());
  auto d = offerDecisions("args[] pinstall: a:free  b:busyreg c:test1 d: :x");
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(d[0], std::make_pair(std::string("a"), std::string("free")));
  EXPECT_EQ(d[1].second, "busyreg");
  EXPECT_EQ(d[2].second, "test1");
  EXPECT_EQ(d[3], std::make_pair(std::string("d"), std::string("")));
}

TEST(PartnerReport, OffersAttemptsAndExitCodesPerOffer) {
  testfiles::ScratchDir scratch;
  EventStore store;
  ASSERT_TRUE(store.open(testfiles::narrow(scratch.path()) + "/r.sqlite")) << store.error();
  auto add = [&](const std::string& install, const std::string& mode, const std::string& modeExt,
                 const std::string& pinstall = "", const std::string& exit = "", const std::string& campaign = "") {
    StatEvent e;
    e.received = "2024-05-01 10:00:00.000";
    e.client = "127.0.0.1";
    e.fields = {{"installId", install}, {"mode", mode},        {"mode_ext", modeExt},
                {"pinstall", pinstall}, {"pexitcode", exit},   {"campaign_id", campaign}};
    ASSERT_TRUE(store.add(e)) << store.error();
  };
  const std::string both = "args[] pinstall: p1:free  p2:test0";
  add("i1", "installStart", "args[]");
  add("i1", "installFinish", both);
  add("i1", "pinstallFinish", both, "p1", "0", "camp-1");  // same install: counted once
  add("i2", "installFinish", "args[] pinstall: p1:busyreg p2:free ");
  add("i2", "pinstallFinish", "args[] pinstall: p1:busyreg p2:free ", "p2", "", "camp-2");
  add("i3", "pinstallFinish", "args[] pinstall: p1:free ", "p1", "4", "camp-1");

  auto report = PartnerReport::compute(store);
  ASSERT_EQ(report.rows.size(), 2u);
  const PartnerRow& p1 = report.rows[0];
  EXPECT_EQ(p1.pinstall, "p1");
  EXPECT_EQ(p1.offered, 2);
  EXPECT_EQ(p1.busy, 1);
  EXPECT_EQ(p1.finishes, 2);
  EXPECT_EQ(p1.attempted, 2);
  EXPECT_EQ(p1.exitCodes, (std::map<std::string, long>{{"0", 1}, {"4", 1}}));
  EXPECT_EQ(p1.campaigns, std::set<std::string>{"camp-1"});
  const PartnerRow& p2 = report.rows[1];
  EXPECT_EQ(p2.offered, 1);
  EXPECT_EQ(p2.tested, 1);
  EXPECT_EQ(p2.finishes, 1);
  EXPECT_EQ(p2.attempted, 0);

  std::string text = report.text();
  EXPECT_NE(text.find("partner offers:"), std::string::npos);
  EXPECT_NE(text.find("0:1 4:1"), std::string::npos);
  std::string html = report.html();
  EXPECT_NE(html.find("<h2>Partner offers</h2>"), std::string::npos);
  EXPECT_NE(html.find("<td style=\"text-align:left\">camp-1</td>"), std::string::npos);
}

TEST(PartnerReport, ReportPageHasThePartnerTableAndEscapesIds) {
  RunningServer srv;
  ASSERT_NO_FATAL_FAILURE(srv.start());
  get(srv.port, {{L"mode", L"pinstallFinish"}, {L"installId", L"i"}, {L"pinstall", L"<b>x"}, {L"pexitcode", L"0"}});
  httplib::Client client("127.0.0.1", srv.port);
  auto res = client.Get("/report");
  ASSERT_TRUE(res);
  EXPECT_NE(res->body.find("<h2>Partner offers</h2>"), std::string::npos);
  EXPECT_NE(res->body.find("&lt;b&gt;x"), std::string::npos);
  EXPECT_EQ(res->body.find("<b>x"), std::string::npos);
  EXPECT_NE(res->body.find("</table>\n</body></html>"), std::string::npos);
}
