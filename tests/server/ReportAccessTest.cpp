// Who gets "/report".
#include <gtest/gtest.h>

#include "ReportAccess.h"
#include "RunningServer.h"

namespace {

TEST(ReportAccess, WithoutATokenOnlyThisMachine) {
  for (const char* local : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(reportAccessAllowed(local, "", "")) << local;
  }
  for (const char* remote : {"192.168.1.5", "10.0.0.1", "128.0.0.1", "::ffff:192.168.1.5", "fe80::1", "2001:db8::1",
                             "::", "", "localhost", "127.0.0.1.evil"}) {
    EXPECT_FALSE(reportAccessAllowed(remote, "", "")) << remote;
  }
}

TEST(ReportAccess, WithATokenWhoeverPresentsIt) {
  const std::string token = "0123456789abcdef";
  EXPECT_TRUE(reportAccessAllowed("192.168.1.5", token, token));
  EXPECT_TRUE(reportAccessAllowed("127.0.0.1", token, token));
  for (const std::string& wrong : {std::string(), std::string("0123456789abcdeX"), token + "0", token.substr(0, 15),
                                   std::string("0123456789abcdef\0", 17)}) {
    EXPECT_FALSE(reportAccessAllowed("192.168.1.5", wrong, token)) << wrong;
    EXPECT_FALSE(reportAccessAllowed("127.0.0.1", wrong, token)) << wrong;
  }
}

TEST(ReportAccess, ServerAsksForTheTokenWhenGivenOne) {
  RunningServer open;
  ASSERT_NO_FATAL_FAILURE(open.start());
  httplib::Client local("127.0.0.1", open.port);
  auto res = local.Get("/report");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);

  RunningServer guarded;
  ServerSettings settings;
  settings.reportToken = "s3cret-report-token";
  ASSERT_NO_FATAL_FAILURE(guarded.start(settings));
  httplib::Client client("127.0.0.1", guarded.port);
  auto bare = client.Get("/report");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->status, 403);
  EXPECT_EQ(bare->body.find("funnel"), std::string::npos);
  auto wrong = client.Get("/report?token=s3cret-report-tokeX");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 403);
  auto byQuery = client.Get("/report?token=s3cret-report-token");
  ASSERT_TRUE(byQuery);
  EXPECT_EQ(byQuery->status, 200);
  auto byHeader = client.Get("/report", {{"Authorization", "Bearer s3cret-report-token"}});
  ASSERT_TRUE(byHeader);
  EXPECT_EQ(byHeader->status, 200);
  guarded.stop();
  // The token never reaches the request log.
  EXPECT_EQ(guarded.log.str().find("s3cret"), std::string::npos) << guarded.log.str();
}

}  // namespace
