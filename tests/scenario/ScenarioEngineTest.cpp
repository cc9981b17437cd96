// The scenario engine without Windows: the worker's notifications and the
// co-operative cancel, and the download progress arithmetic driven by hand.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "RecordingScenarioListener.h"
#include "TestFiles.h"
#include "app/Log.h"
#include "scenario/AbstractInstallScenario.h"
#include "scenario/ScenarioDownloads.h"
#include "scenario/VexaPackDownloadListsner.h"

using namespace std::chrono_literals;
namespace sd = scenario_downloads;

namespace {

// A download listener whose results land in a recording scenario listener.
class ProgressUnderTest : public VexaPackDownloadListsner {
 public:
  ProgressUnderTest(InstallScenarioListener& listener, Log* log) : VexaPackDownloadListsner(log), l_(listener) {}
  std::wstring errors;

 protected:
  void packStageProgress(int stage, int percent, float exact) override { l_.onStageProgress(stage, percent, exact); }
  void packTotalProgress(int percent) override { l_.onTotalProgress(percent); }
  void packDownloadError(bool isPack, const std::wstring& m) override { l_.onDownloadError(isPack, m); }
  void packDownloadNotice(bool isPack, const std::wstring& m) override { l_.onDownloadNotice(isPack, m); }
  void appendDownloadError(const std::wstring& token) override { errors += token; }

 private:
  InstallScenarioListener& l_;
};

class ProgressTest : public ::testing::Test {
 protected:
  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + L"/p.log";
  Log log = Log::atPath(logPath);
  RecordingScenarioListener listener;
  ProgressUnderTest progress{listener, &log};
};

}  // namespace

TEST_F(ProgressTest, ThreeDownloadsShareHalfOfTheTotal) {
  progress.setExpectedDownloads(3);
  progress.onProgress(50.0f, sd::kRuntimePack, sd::kRuntimeId);
  progress.onProgress(100.0f, sd::kProductPack, sd::kPackId);
  progress.onProgress(30.0f, sd::kAppdataPack, sd::kPackId);
  progress.onComplete(sd::kRuntimePack, sd::kRuntimeId);
  progress.onComplete(sd::kAppdataPack, sd::kPackId);
  // 50/3/2, 150/3/2, 180/3/2, 230/3/2, 300/3/2, whole parts.
  EXPECT_EQ(listener.totals(), (std::vector<int>{8, 25, 30, 38, 50}));
  auto stages = listener.stages();
  ASSERT_EQ(stages.size(), 5u);
  EXPECT_EQ(stages[0].stage, 0);
  EXPECT_EQ(stages[0].percent, 50);
  EXPECT_EQ(stages[1].stage, 1);  // each pack is half of stage 1
  EXPECT_EQ(stages[1].percent, 50);
  EXPECT_FLOAT_EQ(stages[2].exact, 65.0f);
  EXPECT_EQ(stages[2].percent, 65);
  EXPECT_EQ(stages[3].stage, 0);
  EXPECT_EQ(stages[3].percent, 100);
  EXPECT_EQ(stages[4].stage, 1);
  EXPECT_EQ(stages[4].percent, 100);
}

TEST_F(ProgressTest, WithoutARuntimeDownloadTheTotalDividesByTwo) {
  progress.setExpectedDownloads(3);
  progress.onProgress(60.0f, sd::kProductPack, sd::kPackId);  // 60/3/2 = 10
  progress.setExpectedDownloads(2);
  progress.onProgress(60.0f, sd::kAppdataPack, sd::kPackId);  // 120/2/2 = 30
  progress.onComplete(sd::kProductPack, sd::kPackId);
  progress.onComplete(sd::kAppdataPack, sd::kPackId);
  EXPECT_EQ(listener.totals(), (std::vector<int>{10, 30, 40, 50}));
}

TEST_F(ProgressTest, FractionsAreCutNotRounded) {
  progress.setExpectedDownloads(3);
  progress.onProgress(5.9f, sd::kRuntimePack, sd::kRuntimeId);  // 0.98
  progress.onProgress(0.99f, sd::kProductPack, sd::kPackId);    // stage 1 at 0.495
  EXPECT_EQ(listener.totals(), (std::vector<int>{0, 1}));
  EXPECT_EQ(listener.stages()[0].percent, 5);
  EXPECT_EQ(listener.stages()[1].percent, 0);
  EXPECT_FLOAT_EQ(listener.stages()[1].exact, 0.495f);
}

TEST_F(ProgressTest, OtherDownloadsDoNotCountInTheTotal) {
  progress.setExpectedDownloads(3);
  progress.onComplete(sd::kRuntimeParams, sd::kRuntimeId);
  progress.onProgress(100.0f, L"sendStart", 0);
  EXPECT_TRUE(listener.calls().empty());
  progress.onComplete(sd::kProductPack, sd::kPackId);
  progress.onComplete(sd::kAppdataPack, sd::kPackId);
  progress.onComplete(sd::kRuntimePack, sd::kRuntimeId);
  EXPECT_EQ(listener.totals().back(), 50);
}

TEST_F(ProgressTest, FailuresAreReportedAndRecordedNoticesOnlyReported) {
  progress.onFailed(sd::kProductPack, sd::kPackId, L"Can't open connection");
  progress.onError(sd::kAppdataPack, sd::kPackId, L"InternetReadFile, use next attempt");
  progress.onFailed(sd::kRuntimePack, sd::kRuntimeId, L"Length mismatch");
  EXPECT_EQ(listener.calls(), (std::vector<std::wstring>{L"error:pack:Can't open connection",
                                                         L"notice:pack:InternetReadFile, use next attempt",
                                                         L"error:runtime:Length mismatch"}));
  EXPECT_EQ(progress.errors, L"vexa8z_Can't open connection;jreEbz_Length mismatch;");
  std::string text = testfiles::readFile(logPath);
  EXPECT_NE(text.find("ERROR : [DEF] : Can't open connection"), std::string::npos);
  EXPECT_EQ(text.find("InternetReadFile"), std::string::npos);
}

namespace {

// A scenario whose install is a function the test gives.
class ScriptedScenario : public AbstractInstallScenario {
 public:
  explicit ScriptedScenario(Log* log) : AbstractInstallScenario(log) {}
  ~ScriptedScenario() override { stopWorker(); }
  std::function<void(ScriptedScenario&)> install = [](ScriptedScenario&) {};
  std::atomic<int> cancelHooks{0};
  void doInstall() override { install(*this); }
  void total(int percent) { notifyTotal(percent); }
  void stage(int s, int percent) { notifyStage(s, percent, static_cast<float>(percent)); }

 protected:
  void onCancel() override { ++cancelHooks; }
  bool failed() override { return failing; }
  void onRestart() override {
    ++restarts;
    failing = false;
  }

 public:
  std::atomic<bool> failing{false};
  std::atomic<int> restarts{0};
};

class EngineTest : public ::testing::Test {
 protected:
  // Waits (bounded) until the scenario has delivered its end.
  bool waitForEnd() {
    for (int i = 0; i < 500 && listener.ends() == 0; ++i) std::this_thread::sleep_for(10ms);
    return listener.ends() > 0;
  }
  std::string logText() { return testfiles::readFile(logPath); }

  testfiles::ScratchDir scratch;
  std::wstring logPath = scratch.path() + L"/e.log";
  Log log = Log::atPath(logPath);
  RecordingScenarioListener listener;
};

}  // namespace

TEST_F(EngineTest, AFinishedInstallEndsWithHundredDoneAndEndInThatOrder) {
  ScriptedScenario scenario(&log);
  scenario.setListener(&listener);
  scenario.install = [](ScriptedScenario& s) { s.total(90); };
  EXPECT_FALSE(scenario.isStarted());
  ASSERT_TRUE(scenario.start());
  ASSERT_TRUE(waitForEnd());
  for (int i = 0; i < 100 && !scenario.isFinished(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(scenario.isStarted());
  EXPECT_TRUE(scenario.isFinished());
  EXPECT_FALSE(scenario.isCancelled());
  EXPECT_EQ(listener.calls(), (std::vector<std::wstring>{L"total:90", L"total:100", L"done", L"end"}));
  EXPECT_FALSE(scenario.start());  // a scenario runs once
  scenario.cancel();               // after the end: nothing more is delivered
  EXPECT_EQ(listener.ends(), 1);
  std::string text = logText();
  EXPECT_NE(text.find("+++++BEGIN thread runAsyncInstallFunc"), std::string::npos);
  EXPECT_NE(text.find("-----END thread runAsyncInstallFunc"), std::string::npos);
}

TEST_F(EngineTest, CancelStopsACooperativeInstallWithOneEndAndNoDone) {
  ScriptedScenario scenario(&log);
  scenario.setListener(&listener);
  std::atomic<bool> inside{false};
  scenario.install = [&](ScriptedScenario& s) {
    inside = true;
    while (!s.isCancelled()) std::this_thread::sleep_for(5ms);
  };
  ASSERT_TRUE(scenario.start());
  while (!inside) std::this_thread::sleep_for(5ms);
  auto before = std::chrono::steady_clock::now();
  scenario.cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_EQ(scenario.cancelHooks, 1);
  EXPECT_TRUE(scenario.isCancelled());
  EXPECT_FALSE(scenario.isFinished());
  // The worker itself delivered the end before cancel returned.
  EXPECT_EQ(listener.calls(), std::vector<std::wstring>{L"end"});
  EXPECT_NE(logText().find("-----END thread runAsyncInstallFunc"), std::string::npos);
}

// A failed run does not fill the bar; a second try runs the install again
// with one more done and end, and only an ended, uncancelled run can have one.
TEST_F(EngineTest, AFailedRunStopsShortOfHundredAndRunsAgainOnRestart) {
  ScriptedScenario scenario(&log);
  scenario.setListener(&listener);
  std::atomic<bool> hold{false};
  scenario.install = [&](ScriptedScenario& s) {
    s.total(40);
    while (hold) std::this_thread::sleep_for(5ms);
  };
  scenario.failing = true;
  ASSERT_TRUE(scenario.start());
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(listener.calls(), (std::vector<std::wstring>{L"total:40", L"done", L"end"}));
  ASSERT_TRUE(scenario.restart());
  for (int i = 0; i < 500 && listener.ends() < 2; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(listener.ends(), 2);
  EXPECT_EQ(scenario.restarts, 1);
  EXPECT_EQ(listener.calls(), (std::vector<std::wstring>{L"total:40", L"done", L"end", L"total:40", L"total:100",
                                                         L"done", L"end"}));
  // While a run is under way there is no second try.
  hold = true;
  ASSERT_TRUE(scenario.restart());
  EXPECT_FALSE(scenario.restart());
  hold = false;
  for (int i = 0; i < 500 && listener.ends() < 3; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(listener.ends(), 3);
  ScriptedScenario cancelled(&log);
  cancelled.install = [](ScriptedScenario& s) {
    while (!s.isCancelled()) std::this_thread::sleep_for(5ms);
  };
  ASSERT_TRUE(cancelled.start());
  cancelled.cancel();
  EXPECT_FALSE(cancelled.restart());  // cancelled: never again
}

TEST_F(EngineTest, CancelBeforeStartEndsAtOnce) {
  ScriptedScenario scenario(&log);
  scenario.setListener(&listener);
  scenario.cancel();
  EXPECT_EQ(listener.calls(), std::vector<std::wstring>{L"end"});
  scenario.cancel();
  EXPECT_EQ(listener.ends(), 1);
}

TEST_F(EngineTest, AWorkerThatIgnoresCancelIsLeftBehindAndSilenced) {
  ScriptedScenario scenario(&log);
  scenario.setListener(&listener);
  scenario.setCancelWaitMs(50);
  std::atomic<bool> inside{false}, release{false};
  scenario.install = [&](ScriptedScenario& s) {
    inside = true;
    while (!release) std::this_thread::sleep_for(5ms);
    s.stage(2, 100);  // too late: the scenario has ended for its listener
  };
  ASSERT_TRUE(scenario.start());
  while (!inside) std::this_thread::sleep_for(5ms);
  auto before = std::chrono::steady_clock::now();
  scenario.cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_EQ(listener.calls(), std::vector<std::wstring>{L"end"});
  release = true;
  scenario.stopWorker();
  EXPECT_EQ(listener.calls(), std::vector<std::wstring>{L"end"});
  EXPECT_NE(logText().find("WARNING : [DEF] : Install thread is still busy after cancel"), std::string::npos);
}

TEST_F(EngineTest, NoListenerNoCalls) {
  ScriptedScenario scenario(&log);
  scenario.install = [](ScriptedScenario& s) { s.total(50); };
  ASSERT_TRUE(scenario.start());
  scenario.stopWorker();
  EXPECT_TRUE(listener.calls().empty());
}
