#include <gtest/gtest.h>

#include "EventStore.h"
#include "Report.h"
#include "TestFiles.h"

namespace {

void addEvent(EventStore& store, const std::string& day, const std::string& mode, const std::string& version,
              const std::string& errors = "") {
  StatEvent e;
  e.received = day + " 10:00:00.000";
  e.client = "127.0.0.1";
  e.fields = {{"mode", mode}, {"version", version}, {"errors", errors}};
  ASSERT_TRUE(store.add(e)) << store.error();
}

TEST(ErrorTokens, SplitsSemicolonTerminatedTokens) {
  EXPECT_EQ(errorTokens("a;b;;c"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(errorTokens("").empty());
}

TEST(FunnelReport, CountsEventsByVersionAndDayAndRanksErrors) {
  testfiles::ScratchDir scratch;
  EventStore store;
  ASSERT_TRUE(store.open(testfiles::narrow(scratch.path()) + "/r.sqlite")) << store.error();
  addEvent(store, "2024-05-01", "installStart", "v1");
  addEvent(store, "2024-05-01", "installFinish", "v1");
  addEvent(store, "2024-05-01", "reinstallStart", "v2");
  addEvent(store, "2024-05-02", "reinstallFail", "v2", "fne_x;vexa8z_timeout;");
  addEvent(store, "2024-05-02", "cancel", "v2", "vexa8z_timeout;");
  addEvent(store, "2024-05-02", "restart", "v2");
  addEvent(store, "2024-05-02", "pinstallFinish", "v2");

  auto report = FunnelReport::compute(store);
  EXPECT_EQ(report.events, 7);
  ASSERT_EQ(report.byVersion.size(), 2u);
  const auto& v2 = report.byVersion[1];
  EXPECT_EQ(v2.label, "v2");
  EXPECT_EQ(v2.starts, 1);
  EXPECT_EQ(v2.finishes, 0);
  EXPECT_EQ(v2.fails, 1);
  EXPECT_EQ(v2.cancels, 1);
  EXPECT_EQ(v2.restarts, 1);
  EXPECT_EQ(v2.other, 1);
  ASSERT_EQ(report.byDay.size(), 2u);
  EXPECT_EQ(report.byDay[0].label, "2024-05-01");
  EXPECT_EQ(report.byDay[0].starts, 2);
  ASSERT_EQ(report.topErrors.size(), 2u);
  EXPECT_EQ(report.topErrors[0], std::make_pair(std::string("vexa8z_timeout"), 2L));

  std::string text = report.text();
  EXPECT_NE(text.find("vexa8z_timeout"), std::string::npos);
  std::string html = report.html();
  EXPECT_NE(html.find("<svg"), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
}

TEST(FunnelReport, RanksFailureCausesFromFailedInstallsOnlyAndChartsEachStage) {
  testfiles::ScratchDir scratch;
  EventStore store;
  ASSERT_TRUE(store.open(testfiles::narrow(scratch.path()) + "/r.sqlite")) << store.error();
  addEvent(store, "2024-05-01", "installStart", "v1");
  addEvent(store, "2024-05-01", "installFail", "v1", "ebzDownloadFail;ebzDownloadFail;unpack_1;");
  addEvent(store, "2024-05-02", "reinstallFail", "v2", "ebzDownloadFail;");
  addEvent(store, "2024-05-02", "installFinish", "v2", "PFL_end;");
  auto report = FunnelReport::compute(store);
  ASSERT_EQ(report.topFailureCauses.size(), 2u);
  // Once per event, however often one text repeats a token.
  EXPECT_EQ(report.topFailureCauses[0], std::make_pair(std::string("ebzDownloadFail"), 2L));
  EXPECT_EQ(report.topFailureCauses[1], std::make_pair(std::string("unpack_1"), 1L));
  EXPECT_EQ(report.topErrors.size(), 3u);

  std::string chart = funnelChart("by day", report.byDay);
  // Two days, five stages each; the legend's five swatches besides.
  size_t bars = 0;
  for (size_t at = chart.find("<rect"); at != std::string::npos; at = chart.find("<rect", at + 1)) ++bars;
  EXPECT_EQ(bars, 2u * 5 + 5);
  EXPECT_NE(chart.find("<title>2024-05-01 fails: 1</title>"), std::string::npos) << chart;
  EXPECT_NE(chart.find("<title>2024-05-02 finishes: 1</title>"), std::string::npos) << chart;
  std::string html = report.html();
  EXPECT_NE(html.find("Most frequent failure causes"), std::string::npos);
  EXPECT_NE(html.find("<td>2</td><td>100 %</td>"), std::string::npos) << "share of the fails";
}

TEST(FunnelReport, EscapesStoredTextInTheHtmlPage) {
  testfiles::ScratchDir scratch;
  EventStore store;
  ASSERT_TRUE(store.open(testfiles::narrow(scratch.path()) + "/r.sqlite"));
  addEvent(store, "2024-05-01", "installFail", "<script>alert(1)</script>", "<img src=x>;");
  std::string html = FunnelReport::compute(store).html();
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;"), std::string::npos);
}

}  // namespace
