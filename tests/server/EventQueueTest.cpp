// The event store when its database goes away and comes back, and what a
// balancer and a monitoring system read from a server meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "EventStore.h"
#include "Metrics.h"
#include "RunningServer.h"

namespace {

// A database that can be switched away, and records what it was given.
class SwitchableDatabase : public EventDatabase {
 public:
  std::atomic<bool> away{false};
  std::atomic<bool> refuses{false};
  std::mutex lock;
  std::vector<std::string> written;  // installIds, in the order written

  Write add(const StatEvent& event, std::string& why) override {
    if (away) {
      why = "connection refused";
      return Write::kUnreachable;
    }
    if (refuses) {
      why = "disk full";
      return Write::kFailed;
    }
    std::lock_guard<std::mutex> guard(lock);
    auto id = event.fields.at("installId");
    for (const auto& w : written) {
      if (w == id) return Write::kRepeated;
    }
    written.push_back(id);
    return Write::kStored;
  }
  bool query(const std::string&, EventRows& rows, std::string&) override {
    std::lock_guard<std::mutex> guard(lock);
    rows.push_back({{"n", std::to_string(written.size())}});
    return true;
  }
  bool ping() override { return !away; }
  size_t count() {
    std::lock_guard<std::mutex> guard(lock);
    return written.size();
  }
};

StatEvent eventOf(const std::string& id, const std::string& mode = "installFinish") {
  StatEvent e;
  e.received = utcTimestamp();
  e.client = "127.0.0.1";
  e.fields = {{"installId", id}, {"mode", mode}};
  e.params = "installId=" + id + "&mode=" + mode;
  return e;
}

bool waitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 300 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

struct QueueFixture : ::testing::Test {
  void SetUp() override {
    auto owned = std::make_unique<SwitchableDatabase>();
    db = owned.get();
    EventStore::Settings settings;
    settings.queueLimit = 3;
    settings.retryMs = 20;
    store.open(std::move(owned), settings);
    store.setNotes([this](const std::string& note) {
      std::lock_guard<std::mutex> guard(notesLock);
      notes += note + "\n";
    });
  }
  // Before the store: its thread writes notes until the store is gone.
  std::mutex notesLock;
  std::string notes;
  EventStore store;
  SwitchableDatabase* db = nullptr;
};

TEST_F(QueueFixture, HoldsEventsWhileTheDatabaseIsAwayAndWritesThemInOrderWhenItReturns) {
  ASSERT_TRUE(store.add(eventOf("a")));
  db->away = true;
  bool held = false;
  for (const char* id : {"b", "c"}) {
    ASSERT_TRUE(store.add(eventOf(id), nullptr, &held));
    EXPECT_TRUE(held);
  }
  EXPECT_FALSE(store.healthy());
  EXPECT_EQ(store.counters().queueDepth, 2u);
  db->away = false;
  // Arrives while the held ones are still waiting: it goes behind them.
  ASSERT_TRUE(store.add(eventOf("d")));
  ASSERT_TRUE(waitFor([&] { return db->count() == 4; }));
  EXPECT_EQ(db->written, (std::vector<std::string>{"a", "b", "c", "d"}));
  auto c = store.counters();
  EXPECT_EQ(c.queueDepth, 0u);
  EXPECT_EQ(c.stored, 4);
  EXPECT_GE(c.held, 2);  // "d" too, when it came before the flush
  EXPECT_EQ(c.notStored, 0);
  EXPECT_TRUE(store.healthy());
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard<std::mutex> guard(notesLock);
    return notes.find("database back: ") != std::string::npos;
  }));
  EXPECT_NE(notes.find("database away (connection refused)"), std::string::npos) << notes;
}

TEST_F(QueueFixture, CountsWhatTheQueueCannotHoldAndWhatIsLeftAtTheStop) {
  db->away = true;
  for (const char* id : {"a", "b", "c"}) ASSERT_TRUE(store.add(eventOf(id)));
  std::string why;
  bool held = true;
  EXPECT_FALSE(store.add(eventOf("d"), &why, &held));
  EXPECT_FALSE(held);
  EXPECT_NE(why.find("3 events already held"), std::string::npos) << why;
  EXPECT_EQ(store.counters().notStored, 1);
  EXPECT_EQ(store.drain(std::chrono::milliseconds(50)), 3u);
  EXPECT_EQ(store.counters().notStored, 4);
  EXPECT_EQ(store.counters().queueDepth, 0u);
  EXPECT_EQ(db->count(), 0u);
}

TEST_F(QueueFixture, ARefusalIsNotHeldAndARepeatIsNotWrittenAgain) {
  db->refuses = true;
  std::string why;
  EXPECT_FALSE(store.add(eventOf("a"), &why));
  EXPECT_EQ(why, "disk full");
  EXPECT_EQ(store.counters().queueDepth, 0u);
  db->refuses = false;
  ASSERT_TRUE(store.add(eventOf("b")));
  ASSERT_TRUE(store.add(eventOf("b")));
  auto c = store.counters();
  EXPECT_EQ(c.stored, 1);
  EXPECT_EQ(c.repeated, 1);
  EXPECT_EQ(c.notStored, 1);
  EXPECT_EQ(c.latencyCount, 3);
  EXPECT_EQ(c.latencyBuckets.back(), 3);
}

TEST_F(QueueFixture, DrainWaitsForTheHeldEventsToBeWritten) {
  db->away = true;
  ASSERT_TRUE(store.add(eventOf("a")));
  std::thread back([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    db->away = false;
  });
  EXPECT_EQ(store.drain(std::chrono::seconds(3)), 0u);
  back.join();
  EXPECT_EQ(db->count(), 1u);
}

TEST(EventDigest, KeysTheDecipheredTextAndNothingForAnEmptyOne) {
  EXPECT_EQ(EventDatabase::requestDigest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(EventDatabase::requestDigest(""), "");
}

TEST(DatabaseAddress, TellsPostgresAddressesFromFilePaths) {
  EXPECT_TRUE(isPostgresAddress("postgresql://vexa@/vexa?host=/run/pg"));
  EXPECT_TRUE(isPostgresAddress("postgres://h/db"));
  EXPECT_TRUE(isPostgresAddress("host=/tmp dbname=vexa"));
  EXPECT_FALSE(isPostgresAddress("/var/lib/vexa/events.sqlite"));
  EXPECT_FALSE(isPostgresAddress("postgresql.sqlite"));
}

TEST(Metrics, CountsFilesUnderOneRoute) {
  RequestCounts counts;
  counts.count("/Vexa.ebz", 206);
  counts.count("/appdata.ebz", 206);
  counts.count("/installer2.html", 200);
  auto snapshot = counts.snapshot();
  EXPECT_EQ((snapshot[{"file", 206}]), 2);
  EXPECT_EQ((snapshot[{"/installer2.html", 200}]), 1);
  EXPECT_EQ(snapshot.size(), 2u);
}

// Over HTTP, as a balancer and a scraper see it, on the SQLite store.
TEST(ServerHealth, AnswersHealthAndMetricsAndStoresARepeatedRequestOnce) {
  RunningServer srv;
  ASSERT_NO_FATAL_FAILURE(srv.start());
  httplib::Client client("127.0.0.1", srv.port);
  // One connection: a request is counted once its answer has gone, so the
  // next one on the same connection finds it counted.
  client.set_keep_alive(true);
  auto health = client.Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  std::string path = RunningServer::statPath({{L"mode", L"installFinish"}, {L"installId", L"twice"}});
  for (int i = 0; i < 2; ++i) {
    auto res = client.Get(path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
  }
  EXPECT_EQ(srv.rowCount(), 1);
  auto metrics = client.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->status, 200);
  EXPECT_EQ(metrics->get_header_value("Content-Type").rfind("text/plain; version=0.0.4", 0), 0u);
  const std::string& m = metrics->body;
  EXPECT_NE(m.find("vexa_http_requests_total{path=\"/installer2.html\",status=\"200\"} 2\n"), std::string::npos) << m;
  EXPECT_NE(m.find("vexa_http_requests_total{path=\"/healthz\",status=\"200\"} 1\n"), std::string::npos) << m;
  EXPECT_NE(m.find("vexa_events_stored_total 1\n"), std::string::npos) << m;
  EXPECT_NE(m.find("vexa_events_repeated_total 1\n"), std::string::npos) << m;
  EXPECT_NE(m.find("vexa_event_queue_depth 0\n"), std::string::npos) << m;
  EXPECT_NE(m.find("vexa_db_write_seconds_bucket{le=\"+Inf\"} 2\n"), std::string::npos) << m;
  EXPECT_NE(m.find("vexa_db_write_seconds_count 2\n"), std::string::npos) << m;
  EXPECT_NE(m.find("vexa_database_up 1\n"), std::string::npos) << m;
  EXPECT_NE(m.find("# HELP vexa_events_held_total Statistics events held while the database was away.\n"
                   "# TYPE vexa_events_held_total counter\nvexa_events_held_total 0\n"),
            std::string::npos)
      << m;
}

TEST(ServerHealth, ADatabaseAwayFailsTheHealthCheckButNotTheStartAnswer) {
  RunningServer srv;
  auto owned = std::make_unique<SwitchableDatabase>();
  SwitchableDatabase* db = owned.get();
  EventStore::Settings settings;
  settings.retryMs = 20;
  srv.events.open(std::move(owned), settings);
  ASSERT_TRUE(srv.answers.loadText(R"({"default": {"idState": "free"}})"));
  ASSERT_NO_FATAL_FAILURE(srv.start());
  db->away = true;
  httplib::Client client("127.0.0.1", srv.port);
  auto health = client.Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 503);
  auto start = client.Get(RunningServer::statPath({{L"mode", L"installStart"}, {L"installId", L"x"}}));
  ASSERT_TRUE(start);
  EXPECT_EQ(start->status, 200);
  EXPECT_NE(start->body.find("\"idState\":\"free\""), std::string::npos) << start->body;
  auto finish = client.Get(RunningServer::statPath({{L"mode", L"installFinish"}, {L"installId", L"y"}}));
  ASSERT_TRUE(finish);
  EXPECT_EQ(finish->status, 200);
  auto metrics = client.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("vexa_event_queue_depth 2\n"), std::string::npos) << metrics->body;
  EXPECT_NE(metrics->body.find("vexa_database_up 0\n"), std::string::npos) << metrics->body;
  db->away = false;
  EXPECT_TRUE(waitFor([&] { return db->count() == 2; }));
  srv.stop();
  EXPECT_NE(srv.log.str().find("event installStart held until the database answers"), std::string::npos)
      << srv.log.str();
}

}  // namespace
