// The product's scenario and the silent driver against a server on
// 127.0.0.1: packs, blocking files, failed downloads and the wizard's second
// try after one, cancel, and the driver's roads. A private runtime is placed in the install folder first (the demo's
// stand-ins), so no runtime is fetched.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "RecordingScenarioListener.h"
#include "TestFiles.h"
#include "StatQuery.h"
#include "TestHttpServer.h"
#include "BuildConfig.h"
#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "app/win32/Registry.h"
#include "context/StatRequest.h"
#include "context/win32/ResultFile.h"
#include "context/win32/StatisticsEvents.h"
#include "context/win32/VexaInstallContext.h"
#include "download/ChunkPlan.h"
#include "download/DownloadState.h"
#include "download/Timing.h"
#include "formats/Json.h"
#include "formats/Md5.h"
#include "pinstall/win32/PinstallContainerComposited.h"
#include "scenario/Commands.h"
#include "scenario/EbzWriter.h"
#include "scenario/PackFiles.h"
#include "scenario/PackSignature.h"
#include "scenario/win32/InstallFinishing.h"
#include "scenario/win32/JavaRuntime.h"
#include "scenario/win32/PackSignatureCheck.h"
#include "scenario/win32/SilentScenarioListener.h"
#include "scenario/win32/StagedFiles.h"
#include "scenario/win32/VexaInstallScenario.h"

using namespace std::chrono_literals;

namespace {

const wchar_t kProductKey[] = L"Software\\Vexa";

std::wstring demoProduct(const wchar_t* name) {
  return text::utf8ToWide(VEXA_BUILD_DIR) + L"\\demo-product\\" + name;
}

std::string pack(const std::vector<std::pair<std::string, std::string>>& entries) {
  return ebz::packInMemory({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}, entries);
}

// Incompressible filler, so that pack sizes are what the test says.
std::string noise(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit = 30s) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

using statquery::paramOf;

// Each chunk's first answer breaks off early and its resumes bring nothing
// (an attempt that brings bytes would not count), so each chunk runs out of
// attempts with part of its bytes. The length probe is answered.
std::function<testserver::Fault(const testserver::Request&)> chunksCutOff(size_t packSize) {
  std::vector<long> chunkStarts;
  for (const download::ChunkRange& chunk : download::planChunks(uint32_t(packSize), 4)) {
    chunkStarts.push_back(long(chunk.offset));
  }
  return [chunkStarts](const testserver::Request& request) {
    testserver::Fault fault;
    const size_t from = request.range.find('=');
    if (from == std::string::npos || request.range == "bytes=0-0") return fault;
    const long start = std::stol(request.range.substr(from + 1));
    const bool first = std::find(chunkStarts.begin(), chunkStarts.end(), start) != chunkStarts.end();
    fault.dropAfter = first ? 10000 : 0;
    return fault;
  };
}

// The last chunk's first answer breaks off after 1000 bytes; every other
// answer is whole. answers counts the last chunk's answers, so a test can
// wait for the break and see that the retry has not come yet.
std::function<testserver::Fault(const testserver::Request&)> lastChunkBreaksOnce(
    size_t packSize, std::shared_ptr<std::atomic<int>> answers) {
  const long lastChunk = long(download::planChunks(uint32_t(packSize), 4).back().offset);
  return [lastChunk, answers](const testserver::Request& request) {
    testserver::Fault fault;
    const size_t from = request.range.find('=');
    if (from != std::string::npos && std::stol(request.range.substr(from + 1)) >= lastChunk &&
        answers->fetch_add(1) == 0) {
      fault.dropAfter = 1000;
    }
    return fault;
  };
}

// The Range values a run that carries on from state must ask for: the length
// probe, then the rest of each chunk not yet whole. missing receives the
// bytes those ranges hold.
std::vector<std::string> rangesLeft(const download::DownloadState& state, long long* missing) {
  std::vector<std::string> ranges = {"bytes=0-0"};
  *missing = 0;
  for (const download::ChunkProgress& chunk : state.chunks) {
    if (chunk.done == chunk.limit) continue;
    ranges.push_back("bytes=" + std::to_string(chunk.offset + chunk.done) + "-" +
                     std::to_string(chunk.offset + chunk.limit - 1));
    *missing += chunk.limit - chunk.done;
  }
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}

class InstallScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
    server.add("/installer2.html", {"{}"});
    install = scratch.path() + L"\\Program\\Vexa";
    // The objects the product makes once and never frees: download threads
    // that outlive a cancel still report to the scenario.
    log = new Log(Log::atPath(scratch.path() + L"\\install.log"));
    // A runtime that is not in place is looked for on this test's server,
    // once, without the product's pauses.
    JreSettings& runtime = jreSettings();
    runtime.runtimeRoot = server.wideUrl("");
    runtime.attempts = 1;
    runtime.timing.connectRetryPauseMs = 10;
    runtime.timing.retryDelayMs = 10;
  }
  void TearDown() override {
    // A scenario still at work must not report to the next test's listener.
    if (scenario) {
      scenario->setListener(nullptr);
      scenario->cancel();
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
    if (context && !context->workFolder().empty()) files::deleteFolderTree(context->workFolder());
  }

  // A context whose statistics and packs come from the test server.
  VexaInstallContext& makeContext(const std::wstring& commandLine = L"/silent") {
    context = new VexaInstallContext(commandLine, log);
    context->setOffers(new PinstallContainerComposited(*context, log));
    context->prepare();
    context->setInstallFolder(install);
    context->statUrl = server.wideUrl("/installer2.html");
    context->vexa7zUrl = server.wideUrl("/Vexa.ebz");
    context->appdata7zUrl = server.wideUrl("/appdata.ebz");
    return *context;
  }

  void placePrivateRuntime() {
    files::createFolderTree(install + L"\\jre\\bin\\client");
    files::copyFile(install + L"\\jre\\bin\\java.exe", demoProduct(L"java.exe"));
    files::copyFile(install + L"\\jre\\bin\\javaw.exe", demoProduct(L"javaw.exe"));
    files::copyFile(install + L"\\jre\\bin\\client\\jvm.dll", demoProduct(L"jvm.dll"));
  }

  void servePacks(size_t filler = 0, long long bytesPerSecond = 0) {
    testserver::Resource product{pack({{"Vexa.exe", "exe"}, {"Vexa.jar", noise(filler, 1)}, {"vreg.dll", "dll"}})};
    product.bytesPerSecond = bytesPerSecond;
    testserver::Resource appdata{pack({{"plugins/search/plugin.properties", noise(filler, 2)}})};
    appdata.bytesPerSecond = bytesPerSecond;
    server.add("/Vexa.ebz", product);
    server.add("/appdata.ebz", appdata);
  }

  VexaInstallScenario& makeScenario(bool silent = true) {
    scenario = new VexaInstallScenario(*context, silent);
    download::Timing quick;
    quick.connectRetryPauseMs = 10;
    quick.retryDelayMs = 10;
    scenario->setDownloadTiming(quick);
    scenario->setListener(&listener);
    return *scenario;
  }

  // Runs the scenario to its end (bounded).
  bool runToEnd() { return scenario->start() && waitForEnd(); }
  // The end told to the listener and the worker's last line written (bounded).
  bool waitForEnd() {
    return waitFor([&] { return listener.ends() > 0; }, 60s) &&
           waitFor([&] { return logText().find("-----END thread runAsyncInstallFunc") != std::string::npos; });
  }
  // Starts the scenario with retries that first wait retryDelayMs, so that a
  // broken answer holds its download open that long.
  bool startWithRetryPause(int retryDelayMs) {
    download::Timing slowRetry;
    slowRetry.connectRetryPauseMs = 10;
    slowRetry.retryDelayMs = retryDelayMs;
    scenario->setDownloadTiming(slowRetry);
    return scenario->start();
  }

  std::string logText() { return testfiles::readFile(log->path()); }
  // Runs of the worker that ended, as the log tells them.
  size_t workerEnds() {
    const std::string text = logText();
    size_t count = 0;
    for (size_t at = 0; (at = text.find("-----END thread runAsyncInstallFunc", at)) != std::string::npos; ++at) ++count;
    return count;
  }
  // The Range values of the GETs for path, sorted.
  std::vector<std::string> rangesAsked(const std::string& path) {
    std::vector<std::string> asked;
    for (const auto& request : gets(path)) asked.push_back(request.range);
    std::sort(asked.begin(), asked.end());
    return asked;
  }
  std::wstring packFolder() { return context->workFolder() + L"\\tmp"; }
  // GETs only: a download follows redirects with HEAD requests first.
  size_t requestsFor(const std::string& path) { return gets(path).size(); }
  std::vector<testserver::Request> gets(const std::string& path) {
    std::vector<testserver::Request> out;
    for (const auto& r : server.requestsFor(path)) {
      if (r.method == "GET") out.push_back(r);
    }
    return out;
  }
  std::vector<testserver::Request> statRequests() {
    std::vector<testserver::Request> out;
    for (const auto& r : server.requests()) {
      if (r.path.rfind("/installer2.html", 0) == 0) out.push_back(r);
    }
    return out;
  }

  testfiles::ScratchDir scratch;
  testserver::TestHttpServer server;
  std::wstring install;
  Log* log = nullptr;
  VexaInstallContext* context = nullptr;
  VexaInstallScenario* scenario = nullptr;
  RecordingScenarioListener listener;
};

bool contains(const std::vector<int>& v, int value) { return std::find(v.begin(), v.end(), value) != v.end(); }

// The Unix side of a Windows path, through the loader's own export; empty
// where there is none (not under Wine).
std::string unixPath(const std::wstring& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return std::string();
  char* unix = convert(path.c_str());
  if (!unix) return std::string();
  std::string out = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

// Runs a program of the Unix side (Wine starts it for a Windows caller) and
// gives it a moment to be done: its handle does not wait for it.
bool runUnix(std::wstring command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Unix symbolic links to folders, made by the system's own ln: Wine shows
// each as a reparse point, as Windows shows a junction. Wine cannot remove
// them through the Windows calls, so they are removed by rm when the test ends.
class FolderLinks {
 public:
  ~FolderLinks() { removeAll(); }
  void removeAll() {
    for (const std::wstring& link : links_) {
      runUnix(L"Z:\\bin\\rm -f \"" + text::utf8ToWide(unixPath(link)) + L"\"");
      waitFor([&] { return !files::exists(link); }, 5s);
    }
    links_.clear();
  }
  bool make(const std::wstring& target, const std::wstring& link) {
    const std::string from = unixPath(target), at = unixPath(link);
    if (from.empty() || at.empty()) return false;
    if (!runUnix(L"Z:\\bin\\ln -s \"" + text::utf8ToWide(from) + L"\" \"" + text::utf8ToWide(at) + L"\"")) {
      return false;
    }
    links_.push_back(link);
    return waitFor([&] { return files::isLink(link); }, 5s);
  }

 private:
  std::vector<std::wstring> links_;
};

}  // namespace

// ---- Packs and progress -----------------------------------------------------

TEST_F(InstallScenarioTest, AFullInstallUnpacksBothPacksAndLeavesNoneInTmp) {
  makeContext();
  placePrivateRuntime();
  // Large enough, and slow enough, for the two downloads to report at the same time.
  servePacks(600000, 2000000);
  makeScenario();
  ASSERT_TRUE(runToEnd()) << logText();

  EXPECT_TRUE(VexaInstallContext::productFilesPresent(install));
  EXPECT_TRUE(files::isFile(context->workFolder() + L"\\plugins\\search\\plugin.properties"));
  EXPECT_FALSE(files::exists(packFolder() + L"\\Vexa.ebz"));
  EXPECT_FALSE(files::exists(packFolder() + L"\\appdata.ebz"));
  EXPECT_EQ(scenario->expectedDownloads(), 2);  // the runtime was there already
  EXPECT_EQ(context->errors_.find(L"unpack_"), std::wstring::npos) << context->errors_.get();
  EXPECT_TRUE(scenario->isFinished());

  auto totals = listener.totals();
  ASSERT_FALSE(totals.empty());
  for (size_t i = 0; i < totals.size(); ++i) {
    EXPECT_GE(totals[i], 0);
    EXPECT_LE(totals[i], 100);
    if (i) EXPECT_GE(totals[i], totals[i - 1]) << "at " << i;
  }
  for (int milestone : {50, 82, 85, 87, 90, 100}) EXPECT_TRUE(contains(totals, milestone)) << milestone;
  EXPECT_EQ(totals.back(), 100);
  // Stage 0 is complete at once, before any pack progress.
  auto stages = listener.stages();
  ASSERT_FALSE(stages.empty());
  EXPECT_EQ(stages.front().stage, 0);
  EXPECT_EQ(stages.front().percent, 100);
  EXPECT_EQ(stages.back().stage, 3);
  auto calls = listener.calls();
  EXPECT_EQ(calls[calls.size() - 2], L"done");
  EXPECT_EQ(calls.back(), L"end");
  std::string text = logText();
  EXPECT_NE(text.find("Vexa packs are downloaded"), std::string::npos);
  EXPECT_NE(text.find("UnEbz "), std::string::npos);
  // Both downloads used four connections: the first answer and four ranges each.
  EXPECT_EQ(requestsFor("/Vexa.ebz"), 5u);
  EXPECT_EQ(requestsFor("/appdata.ebz"), 5u);
  // Without a configured key nobody asks for signatures.
  EXPECT_EQ(requestsFor("/Vexa.ebz.sig"), 0u);
  EXPECT_EQ(requestsFor("/appdata.ebz.sig"), 0u);
}

TEST_F(InstallScenarioTest, APackCutOffInOneRunIsResumedByTheNextAndLeavesNothingInTmp) {
  makeContext();
  placePrivateRuntime();
  const std::string productPack = pack({{"Vexa.exe", "exe"}, {"Vexa.jar", noise(400000, 3)}, {"vreg.dll", "dll"}});
  testserver::Resource product{productPack};
  product.contentMd5 = md5Hex(productPack.data(), productPack.size());
  product.fault = chunksCutOff(productPack.size());
  server.add("/Vexa.ebz", product);
  testserver::Resource appdata{pack({{"plugins/search/plugin.properties", "name=search"}})};
  appdata.contentMd5 = md5Hex(appdata.body.data(), appdata.body.size());
  server.add("/appdata.ebz", appdata);
  makeScenario();
  ASSERT_TRUE(runToEnd()) << logText();
  ASSERT_FALSE(VexaInstallContext::productFilesPresent(install));
  const std::wstring statePath = download::downloadStatePath(packFolder() + L"\\Vexa.ebz");
  download::DownloadState cut;
  ASSERT_TRUE(download::DownloadState::parse(testfiles::readFile(statePath), &cut)) << testfiles::readFile(statePath);
  ASSERT_GT(cut.bytesHeld(), 0);
  ASSERT_FALSE(cut.complete());

  // The next run, with the network back.
  product.fault = nullptr;
  server.add("/Vexa.ebz", product);
  server.clearRequests();
  scenario->setListener(nullptr);
  RecordingScenarioListener again;
  makeContext();
  makeScenario().setListener(&again);
  ASSERT_TRUE(scenario->start());
  ASSERT_TRUE(waitFor([&] { return again.ends() > 0 && workerEnds() == 2; }, 60s)) << logText();
  EXPECT_TRUE(VexaInstallContext::productFilesPresent(install)) << logText();
  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.jar"), noise(400000, 3));

  long long missing = 0;
  EXPECT_EQ(rangesAsked("/Vexa.ebz"), rangesLeft(cut, &missing)) << "only the bytes the first run did not get";
  // The appdata pack was whole after the first run: only its probe.
  EXPECT_EQ(requestsFor("/appdata.ebz"), 1u);
  EXPECT_NE(logText().find("Resume download of ["), std::string::npos);
  // The result file's rate counts only what this run fetched.
  for (const DownloadTally::Record& record : context->downloads().records()) {
    if (record.name == L"vexa8z") EXPECT_EQ(record.resumedBytes, cut.bytesHeld());
  }
  for (const wchar_t* name : {L"\\Vexa.ebz", L"\\Vexa.ebz.state", L"\\appdata.ebz", L"\\appdata.ebz.state"}) {
    EXPECT_FALSE(files::exists(packFolder() + name)) << text::wideToUtf8(name);
  }
}

// What the wizard's "Try again" does after a pack broke off: the same
// scenario, on the same context, runs once more.
TEST_F(InstallScenarioTest, TryAgainAfterACutOffPackFetchesOnlyTheMissingBytesAndEndsAsACleanSuccess) {
  const std::wstring resultPath = scratch.path() + L"\\result.json";
  makeContext(L"/resultFile \"" + resultPath + L"\"");
  placePrivateRuntime();
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"Vexa.exe", "exe"}, {"Vexa.jar", noise(400000, 9)}, {"vreg.dll", "dll"}};
  const std::string productPack = pack(entries);
  const long long packSize = static_cast<long long>(productPack.size());
  testserver::Resource product{productPack};
  product.contentMd5 = md5Hex(productPack.data(), productPack.size());
  product.fault = chunksCutOff(productPack.size());
  server.add("/Vexa.ebz", product);
  server.add("/appdata.ebz", {pack({{"plugins/search/plugin.properties", "name=search"}})});
  makeScenario(false);
  ASSERT_TRUE(runToEnd()) << logText();

  // The failed run, as the wizard finds it when it offers the second try.
  const failure::Failure first = context->failures().get();
  ASSERT_TRUE(first.cause == failure::Cause::kNetwork || first.cause == failure::Cause::kServer)
      << failure::token(first.cause) << "\n" << logText();
  ASSERT_FALSE(VexaInstallContext::productFilesPresent(install));
  bool listed = false;
  for (const DownloadTally::Record& record : context->downloads().records()) {
    if (record.name != L"vexa8z") continue;
    listed = true;
    EXPECT_FALSE(record.completed);
  }
  EXPECT_TRUE(listed);
  const std::wstring firstErrors = context->errors_.get();
  EXPECT_NE(firstErrors.find(L"vexa8z_"), std::wstring::npos) << text::wideToUtf8(firstErrors);
  const std::wstring statePath = download::downloadStatePath(packFolder() + L"\\Vexa.ebz");
  download::DownloadState cut;
  ASSERT_TRUE(download::DownloadState::parse(testfiles::readFile(statePath), &cut)) << testfiles::readFile(statePath);
  ASSERT_GT(cut.bytesHeld(), 0);
  ASSERT_FALSE(cut.complete());
  const long long firstRunBytes = server.bodyBytesSent("/Vexa.ebz");

  // The network is back; the person reads the dialog a moment, then tries again.
  product.fault = nullptr;
  server.add("/Vexa.ebz", product);
  server.clearRequests();
  std::this_thread::sleep_for(300ms);
  const size_t firstRunCalls = listener.calls().size();
  const auto retried = std::chrono::steady_clock::now();
  ASSERT_TRUE(scenario->restart()) << logText();
  ASSERT_TRUE(waitFor([&] { return listener.ends() == 2 && workerEnds() == 2; }, 60s)) << logText();
  const long long secondRunMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - retried).count();

  // The wizard hears a run that went well: no download error, the bar
  // filled, then the end.
  const std::vector<std::wstring> calls = listener.calls();
  const std::vector<std::wstring> secondRun(calls.begin() + firstRunCalls, calls.end());
  for (const std::wstring& call : secondRun) EXPECT_NE(call.rfind(L"error:", 0), 0u) << text::wideToUtf8(call);
  ASSERT_GE(secondRun.size(), 3u);
  EXPECT_EQ(std::vector<std::wstring>(secondRun.end() - 3, secondRun.end()),
            (std::vector<std::wstring>{L"total:100", L"done", L"end"}));

  // Only the bytes the first run lacked were asked for and sent. A pack
  // fetched whole again would bring both runs past twice its size; what the
  // cut-off answers sent and the reset lost is all that may come twice.
  long long missing = 0;
  EXPECT_EQ(rangesAsked("/Vexa.ebz"), rangesLeft(cut, &missing));
  const long long secondRunBytes = server.bodyBytesSent("/Vexa.ebz");
  EXPECT_EQ(secondRunBytes, missing + 1) << "the rest and the length probe's byte";
  EXPECT_LT(firstRunBytes + secondRunBytes, packSize * 5 / 4) << firstRunBytes << " + " << secondRunBytes;

  // Installed: exactly the packed files beside what the installer brings
  // itself, nothing left to stage or resume, and the completion mark set.
  for (const auto& [name, bytes] : entries) {
    EXPECT_TRUE(testfiles::readFile(install + L"\\" + text::utf8ToWide(name)) == bytes) << name;
  }
  for (const std::wstring& name : files::listFolder(install)) {
    const bool packed = std::any_of(entries.begin(), entries.end(),
                                    [&](const auto& entry) { return text::utf8ToWide(entry.first) == name; });
    const bool installers = name == L"." || name == L".." || name == L"jre" || name == L"utils.jar" ||
                            name.rfind(L"License_", 0) == 0;
    EXPECT_TRUE(packed || installers) << text::wideToUtf8(name);
  }
  EXPECT_TRUE(context->isInstalled());
  EXPECT_FALSE(files::exists(install + L".staging"));
  for (const wchar_t* name : {L"\\Vexa.ebz", L"\\Vexa.ebz.state", L"\\appdata.ebz", L"\\appdata.ebz.state"}) {
    EXPECT_FALSE(files::exists(packFolder() + name)) << text::wideToUtf8(name);
  }

  // Nothing of the failed run is taken for this one's: no cause, the pack's
  // record is the second run's (done, what it resumed, its own duration).
  EXPECT_FALSE(context->failures().failed()) << failure::token(context->failures().get().cause);
  for (const DownloadTally::Record& record : context->downloads().records()) {
    EXPECT_TRUE(record.completed) << text::wideToUtf8(record.name);
    if (record.name != L"vexa8z") continue;
    EXPECT_EQ(record.bytes, packSize);
    EXPECT_EQ(record.resumedBytes, cut.bytesHeld());
    EXPECT_LE(static_cast<long long>(record.ms), secondRunMs) << "timed from the first run's start";
  }
  // The wizard's Finish, with the person's choices that reach outside the test.
  context->runAfterInstall = false;
  context->loadWithWindows = false;
  context->associateTorrentFile = false;
  context->exceptFirewall = false;
  EXPECT_TRUE(finishing::completeInstall(*context)) << logText();
  EXPECT_EQ(context->exitCode, 0);
  resultfile::writeIfAsked(*context);
  const JsonValue result = parseJson(text::utf8ToWide(testfiles::readFile(resultPath)));
  ASSERT_EQ(result.type(), JsonValue::kObject) << testfiles::readFile(resultPath);
  EXPECT_EQ(result.find(L"exitCode")->intValue(), 0);
  EXPECT_EQ(result.find(L"cause")->asString(), L"");
  for (const JsonValue& download : result.find(L"downloads")->asArray()) {
    EXPECT_TRUE(download.find(L"completed")->boolValue()) << text::wideToUtf8(download.find(L"name")->asString());
  }
  // The statistics tell each run once: the failed run's tokens with its
  // cause as the mark of the second try, then nothing from the second run,
  // which went well; the install itself has no cause.
  stats::Params finish = stats::finishParams(*context, true, false);
  EXPECT_EQ(finish[L"mode"], L"installFinish");
  EXPECT_EQ(finish[L"errors"], firstErrors + L"retry_" + text::utf8ToWide(failure::token(first.cause)) + L";");
}

TEST_F(InstallScenarioTest, AProductPackCutOffMidDownloadLeavesThePreviousVersionAndNoStagingFolder) {
  makeContext();
  placePrivateRuntime();
  testfiles::writeFile(install + L"\\Vexa.exe", "old exe");
  testfiles::writeFile(install + L"\\Vexa.jar", "old jar");
  files::createFolderTree(context->workFolder() + L"\\plugins\\search");
  testfiles::writeFile(context->workFolder() + L"\\plugins\\search\\plugin.properties", "old plugin");
  // Only the last chunk breaks off, and its resumes bring nothing: the first
  // three arrive, and the files in them are unpacked (into the staging
  // folder) before the end.
  const std::string productPack = pack({{"Vexa.exe", "new exe"}, {"vreg.dll", "dll"}, {"Vexa.jar", noise(600000, 4)}});
  testserver::Resource product{productPack};
  product.contentMd5 = md5Hex(productPack.data(), productPack.size());
  const int lastChunk = download::planChunks(uint32_t(productPack.size()), 4).back().offset;
  product.fault = [lastChunk](const testserver::Request& request) {
    testserver::Fault fault;
    const size_t from = request.range.find('=');
    if (from == std::string::npos) return fault;
    const long start = std::stol(request.range.substr(from + 1));
    if (start >= lastChunk) fault.dropAfter = start == lastChunk ? 1000 : 0;
    return fault;
  };
  server.add("/Vexa.ebz", product);
  server.add("/appdata.ebz", {pack({{"plugins/search/plugin.properties", "new plugin"}})});
  makeScenario();
  ASSERT_TRUE(runToEnd()) << logText();

  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.exe"), "old exe");
  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.jar"), "old jar");
  EXPECT_FALSE(files::exists(install + L"\\vreg.dll"));
  EXPECT_EQ(testfiles::readFile(context->workFolder() + L"\\plugins\\search\\plugin.properties"), "old plugin");
  EXPECT_FALSE(files::exists(install + L".staging"));
  EXPECT_FALSE(files::exists(context->workFolder() + L".staging"));
  for (const std::wstring& name : files::listFolder(scratch.path() + L"\\Program")) {
    EXPECT_TRUE(name == L"." || name == L".." || name == L"Vexa") << text::wideToUtf8(name);
  }
  // The cut-off pack keeps what it got for the next run.
  EXPECT_TRUE(files::isFile(download::downloadStatePath(packFolder() + L"\\Vexa.ebz")));
  EXPECT_EQ(logText().find("UnEbz "), std::string::npos);
  EXPECT_NE(context->errors_.find(L"vexa8z_"), std::wstring::npos) << context->errors_.get();
}

TEST_F(InstallScenarioTest, APackIsUnpackedWhileItDownloadsAndItsFilesMoveInOnlyAtTheEnd) {
  makeContext();
  placePrivateRuntime();
  testfiles::writeFile(install + L"\\Vexa.exe", "old exe");
  const std::string productPack = pack({{"Vexa.exe", "new exe"}, {"vreg.dll", "dll"}, {"Vexa.jar", noise(900000, 5)}});
  testserver::Resource product{productPack};
  product.contentMd5 = md5Hex(productPack.data(), productPack.size());
  // The last chunk's first answer breaks off, and its retry waits: the first
  // three chunks are on disk meanwhile, and the download still runs.
  auto lastChunkAnswers = std::make_shared<std::atomic<int>>(0);
  product.fault = lastChunkBreaksOnce(productPack.size(), lastChunkAnswers);
  server.add("/Vexa.ebz", product);
  server.add("/appdata.ebz", {pack({{"plugins/search/plugin.properties", "name=search"}})});
  makeScenario();
  ASSERT_TRUE(startWithRetryPause(3000));
  const std::wstring staged = install + L".staging\\";
  // The last chunk's thread may ask later than the first chunk lands and is
  // unpacked: wait for both, then the retry's pause leaves the download open.
  ASSERT_TRUE(waitFor([&] { return lastChunkAnswers->load() >= 1 && files::isFile(staged + L"vreg.dll"); }, 30s))
      << logText();
  // Staged files are held until they move: a reader must share all access.
  files::UniqueHandle held(CreateFileW((staged + L"Vexa.exe").c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       0, nullptr));
  char stagedExe[16] = {};
  DWORD got = 0;
  EXPECT_TRUE(held && ReadFile(held.get(), stagedExe, sizeof stagedExe, &got, nullptr));
  EXPECT_EQ(std::string(stagedExe, got), "new exe");
  held.reset();
  // ... and nobody else may change it meanwhile.
  EXPECT_EQ(CreateFileW((staged + L"Vexa.exe").c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(lastChunkAnswers->load(), 1) << "the download is still waiting to retry its last chunk";
  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.exe"), "old exe");
  EXPECT_FALSE(files::exists(install + L"\\vreg.dll"));
  ASSERT_TRUE(waitForEnd()) << logText();
  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.exe"), "new exe");
  EXPECT_TRUE(testfiles::readFile(install + L"\\Vexa.jar") == noise(900000, 5));
  EXPECT_FALSE(files::exists(install + L".staging"));
  EXPECT_FALSE(files::exists(context->workFolder() + L".staging"));
  EXPECT_EQ(context->errors_.find(L"unpack_"), std::wstring::npos) << context->errors_.get();
}

TEST_F(InstallScenarioTest, APackChangedOnTheServerWhileItStreamsEndsWithTheNewContentsFiles) {
  makeContext();
  placePrivateRuntime();
  const std::string oldPack = pack({{"Vexa.exe", "old exe"}, {"vreg.dll", "old dll"}, {"Vexa.jar", noise(900000, 7)}});
  const std::string newPack = pack({{"Vexa.exe", "new exe"}, {"vreg.dll", "new dll"}, {"Vexa.jar", noise(900000, 8)}});
  testserver::Resource before{oldPack};
  before.etag = "\"old\"";
  // The last chunk's first answer breaks off and its retry waits, so the
  // first three chunks are unpacked while the pack changes on the server.
  auto lastChunkAnswers = std::make_shared<std::atomic<int>>(0);
  before.fault = lastChunkBreaksOnce(oldPack.size(), lastChunkAnswers);
  server.add("/Vexa.ebz", before);
  server.add("/appdata.ebz", {pack({{"plugins/search/plugin.properties", "name=search"}})});
  makeScenario();
  ASSERT_TRUE(startWithRetryPause(1500));
  ASSERT_TRUE(waitFor([&] { return lastChunkAnswers->load() >= 1 && files::isFile(install + L".staging\\vreg.dll"); },
                      30s))
      << logText();
  testserver::Resource after{newPack};
  after.etag = "\"new\"";
  server.add("/Vexa.ebz", after);
  ASSERT_TRUE(waitForEnd()) << logText();
  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.exe"), "new exe") << logText();
  EXPECT_EQ(testfiles::readFile(install + L"\\vreg.dll"), "new dll");
  EXPECT_TRUE(testfiles::readFile(install + L"\\Vexa.jar") == noise(900000, 8));
  EXPECT_NE(logText().find("changed on the server"), std::string::npos);
  EXPECT_EQ(context->errors_.find(L"unpack_"), std::wstring::npos) << context->errors_.get();
}

TEST_F(InstallScenarioTest, AFileInUseKeepsTheWholePackOutAndNamesTheFile) {
  makeContext();
  placePrivateRuntime();
  testfiles::writeFile(install + L"\\Vexa.exe", "old exe");
  testfiles::writeFile(install + L"\\vreg.dll", "old dll");
  servePacks();
  makeScenario();
  std::vector<std::wstring> alerts;
  scenario->setAlertHandler([&](const std::wstring&, const std::wstring& text) { alerts.push_back(text); });
  // What a running copy of the product does to its library.
  HANDLE inUse = CreateFileW((install + L"\\vreg.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(inUse, INVALID_HANDLE_VALUE);
  const bool ended = runToEnd();
  CloseHandle(inUse);
  ASSERT_TRUE(ended) << logText();
  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.exe"), "old exe") << "nothing of the pack moves in";
  EXPECT_EQ(testfiles::readFile(install + L"\\vreg.dll"), "old dll");
  EXPECT_FALSE(files::exists(install + L".staging"));
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_NE(alerts[0].find(L"\\vreg.dll'"), std::wstring::npos) << text::wideToUtf8(alerts[0]);
  EXPECT_NE(context->errors_.find(L"unpack_inUse;"), std::wstring::npos) << context->errors_.get();
}

// ---- The staging folders: links, planted files, a half-moved install ---------

TEST_F(InstallScenarioTest, LinksAtAndInsideTheStagingFoldersAreNeverFollowed) {
  makeContext();
  placePrivateRuntime();
  servePacks();
  // One folder linked in place of the install folder's staging folder, one
  // linked inside a staging folder of the data folder that a run left.
  const std::wstring victim = scratch.path() + L"\\victim", inner = scratch.path() + L"\\victim2";
  files::createFolderTree(victim);
  files::createFolderTree(inner + L"\\sub");
  testfiles::writeFile(victim + L"\\keep.txt", "keep");
  testfiles::writeFile(inner + L"\\sub\\keep2.txt", "keep2");
  files::createFolderTree(install);
  const std::wstring dataStaging = context->workFolder() + L".staging";
  files::createFolderTree(dataStaging);
  FolderLinks links;
  ASSERT_TRUE(links.make(victim, install + L".staging"));
  ASSERT_TRUE(links.make(inner, dataStaging + L"\\plugins"));
  makeScenario();
  ASSERT_TRUE(runToEnd()) << logText();

  EXPECT_EQ(testfiles::readFile(victim + L"\\keep.txt"), "keep");
  EXPECT_EQ(testfiles::readFile(inner + L"\\sub\\keep2.txt"), "keep2");
  EXPECT_FALSE(files::exists(victim + L"\\Vexa.exe")) << "nothing was written through the link";
  EXPECT_FALSE(files::exists(inner + L"\\search"));
  EXPECT_TRUE(VexaInstallContext::productFilesPresent(install)) << logText();
  EXPECT_EQ(testfiles::readFile(context->workFolder() + L"\\plugins\\search\\plugin.properties"), noise(0, 2));
  EXPECT_EQ(context->errors_.find(L"unpack_"), std::wstring::npos) << context->errors_.get();

  // A link inside a folder the installer deletes goes as a link.
  const std::wstring updates = context->workFolder() + L"\\updates";
  files::createFolderTree(updates);
  ASSERT_TRUE(links.make(victim, updates + L"\\linked"));
  DeleteCommand remove(updates);
  wchar_t result[256] = L"0";
  remove.execute(result, 256, log);
  EXPECT_EQ(testfiles::readFile(victim + L"\\keep.txt"), "keep");
  files::deleteFolderTree(updates);
  EXPECT_EQ(testfiles::readFile(victim + L"\\keep.txt"), "keep");
  // The links go with the test; so does what holds them.
  links.removeAll();
  files::deleteFolderTree(updates);
  files::deleteFolderTree(dataStaging);
}

TEST_F(InstallScenarioTest, FilesDroppedIntoTheStagingFoldersMidDownloadNeverMoveIn) {
  makeContext();
  placePrivateRuntime();
  // Slow enough that both staging folders stand while the packs still arrive.
  servePacks(300000, 400000);
  makeScenario();
  ASSERT_TRUE(scenario->start());
  const std::wstring installStaging = install + L".staging", dataStaging = context->workFolder() + L".staging";
  ASSERT_TRUE(waitFor([&] { return files::isFolder(installStaging) && files::isFolder(dataStaging); }, 30s))
      << logText();
  // What another process of the user would plant: a DLL the product loads, a plug-in.
  const bool plantedDll = files::writeWholeFile(installStaging + L"\\version.dll", "planted", 7);
  files::createFolderTree(dataStaging + L"\\plugins\\evil");
  const bool plantedPlugin = files::writeWholeFile(dataStaging + L"\\plugins\\evil\\plugin.properties", "planted", 7);
  ASSERT_TRUE(waitForEnd()) << logText();

  EXPECT_TRUE(VexaInstallContext::productFilesPresent(install)) << logText();
  EXPECT_FALSE(files::exists(install + L"\\version.dll"));
  EXPECT_FALSE(files::exists(context->workFolder() + L"\\plugins\\evil"));
  EXPECT_FALSE(files::exists(installStaging));
  EXPECT_FALSE(files::exists(dataStaging));
  // Where the folder's access list kept the files out, there is nothing to report.
  const std::string text = logText();
  EXPECT_TRUE(plantedDll && plantedPlugin) << "nothing kept the planting out under Wine";
  if (plantedDll) EXPECT_NE(text.find("version.dll: the pack did not write it"), std::string::npos);
  if (plantedPlugin) EXPECT_NE(text.find("evil\\plugin.properties: the pack did not write it"), std::string::npos);
}

TEST_F(InstallScenarioTest, AnInstallKilledBetweenTwoMovesIsInstalledAgainByTheNextRun) {
  makeContext();
  placePrivateRuntime();
  testserver::Resource product{
      pack({{"Vexa.exe", "exe"}, {"Vexa.jar", "jar"}, {"vreg.dll", "dll"}, {"lib/last.dll", "last"}})};
  server.add("/Vexa.ebz", product);
  server.add("/appdata.ebz", {pack({{"plugins/search/plugin.properties", "name=search"}})});
  // The run stops after the product's third file, as a kill would: the three
  // files "already installed" looks at are in place, the fourth is not.
  StagedFiles::afterEachMove = [](size_t moved) { return moved < 3; };
  makeScenario();
  const bool ended = runToEnd();
  StagedFiles::afterEachMove = nullptr;
  ASSERT_TRUE(ended) << logText();
  ASSERT_TRUE(VexaInstallContext::productFilesPresent(install));
  ASSERT_FALSE(files::exists(install + L"\\lib\\last.dll"));
  EXPECT_FALSE(context->isInstalled()) << "a half-moved install is not taken as installed";

  // The next run, by the silent road that stops at an installed product,
  // installs again over what is there and ends with exact files.
  scenario->setListener(nullptr);
  makeContext(L"/silent /runAfterInstall FALSE");
  makeScenario();
  SilentScenarioListener driver(*context, *scenario, log);
  driver.setPollMs(20);
  scenario->setListener(&driver);
  driver.run();
  EXPECT_NE(context->installMode, InstallContext::kAlreadyInstalled);
  EXPECT_EQ(context->exitCode, 0) << logText();
  for (const auto& [name, bytes] : std::vector<std::pair<const wchar_t*, const char*>>{
           {L"\\Vexa.exe", "exe"}, {L"\\Vexa.jar", "jar"}, {L"\\vreg.dll", "dll"}, {L"\\lib\\last.dll", "last"}}) {
    EXPECT_EQ(testfiles::readFile(install + name), bytes) << text::wideToUtf8(name);
  }
  EXPECT_TRUE(context->isInstalled());
}

// ---- Signed packs -----------------------------------------------------------

namespace {

struct Signer {
  std::array<uint8_t, pack_signature::kPublicKeySize> publicKey{};
  std::array<uint8_t, pack_signature::kSecretKeySize> secretKey{};
  Signer() { EXPECT_TRUE(pack_signature::makeKeyPair(publicKey, secretKey)); }
  std::string publicHex() const { return pack_signature::toHex(publicKey.data(), publicKey.size()); }
  std::string sign(const std::string& bytes, const char* kind, uint64_t signedAt = 1796000000) const {
    ebz::MemorySource source(bytes.data(), bytes.size());
    std::vector<uint8_t> signature;
    EXPECT_TRUE(pack_signature::sign(source, kind, signedAt, secretKey, signature));
    return std::string(signature.begin(), signature.end());
  }
};

enum class Damage { None, PackByte, SignatureByte, NoSignature, OtherKey };

}  // namespace

class SignedPackScenarioTest : public InstallScenarioTest {
 protected:
  // Serves both packs; the product pack and its signature suffer the damage.
  void serveSignedPacks(Damage damage) {
    std::string product = pack({{"Vexa.exe", "exe"}, {"Vexa.jar", noise(20000, 1)}, {"vreg.dll", "dll"}});
    std::string appdata = pack({{"plugins/search/plugin.properties", "name=search"}});
    std::string productSignature =
        (damage == Damage::OtherKey ? Signer() : signer).sign(product, pack_signature::kKindProduct);
    if (damage == Damage::PackByte) product[product.size() / 2] ^= 0x01;
    if (damage == Damage::SignatureByte) productSignature[productSignature.size() - 17] ^= 0x01;
    server.add("/Vexa.ebz", {product});
    server.add("/appdata.ebz", {appdata});
    if (damage != Damage::NoSignature) server.add("/Vexa.ebz.sig", {productSignature});
    server.add("/appdata.ebz.sig", {signer.sign(appdata, pack_signature::kKindAppdata)});
  }
  void runSigned(Damage damage) {
    makeContext();
    placePrivateRuntime();
    serveSignedPacks(damage);
    makeScenario().setPackVerifier(verifier);
    ASSERT_TRUE(runToEnd()) << logText();
  }
  void expectRefusedProduct() {
    EXPECT_FALSE(files::exists(install + L"\\Vexa.exe"));
    EXPECT_FALSE(files::exists(install + L"\\Vexa.jar"));
    EXPECT_FALSE(files::exists(context->workFolder() + L"\\plugins\\search\\plugin.properties"));
    EXPECT_FALSE(files::exists(packFolder() + L"\\Vexa.ebz"));
    EXPECT_NE(context->errors_.find(L"vexa8z_signature;"), std::wstring::npos) << context->errors_.get();
    std::string text = logText();
    EXPECT_NE(text.find("/Vexa.ebz refused: "), std::string::npos) << text;
    EXPECT_EQ(text.find("UnEbz "), std::string::npos);
    bool reported = false;
    for (const auto& call : listener.calls()) reported |= call.rfind(L"error:pack:", 0) == 0;
    EXPECT_TRUE(reported);
    EXPECT_FALSE(finishing::completeInstall(*context));
  }

  Signer signer;
  pack_signature::PackVerifier verifier{signer.publicHex()};
};

TEST_F(SignedPackScenarioTest, AGoodSignatureInstalls) {
  runSigned(Damage::None);
  EXPECT_TRUE(VexaInstallContext::productFilesPresent(install));
  EXPECT_TRUE(files::isFile(context->workFolder() + L"\\plugins\\search\\plugin.properties"));
  EXPECT_EQ(context->errors_.find(L"signature"), std::wstring::npos) << context->errors_.get();
  EXPECT_EQ(requestsFor("/Vexa.ebz.sig"), 1u);
  EXPECT_EQ(requestsFor("/appdata.ebz.sig"), 1u);
}

// ---- The start answer and the pack addresses ----------------------------------

namespace {
// A start answer whose tail names the two packs' addresses.
std::string answerMoving(const std::string& product, const std::string& appdata) {
  return R"({"data":{"installData":"{\"tail\":\"<tail><installer vexa7zUrl=\\\")" + product +
         R"(\\\" appdata7zUrl=\\\")" + appdata + R"(\\\"/></tail>\"}","campaigns":[]}})";
}
}  // namespace

// The answer comes late but within the wait: the packs come from where it
// says, and the old address is never asked.
TEST_F(SignedPackScenarioTest, AStartAnswerThatMovesThePackIsWaitedFor) {
  makeContext();
  context->answerMutexName = L"vexa-test-answer-moves";
  placePrivateRuntime();
  serveSignedPacks(Damage::None);
  std::string product = pack({{"Vexa.exe", "exe"}, {"Vexa.jar", noise(20000, 3)}, {"vreg.dll", "dll"}});
  server.add("/moved/Vexa.ebz", {product});
  server.add("/moved/Vexa.ebz.sig", {signer.sign(product, pack_signature::kKindProduct)});
  testserver::Resource answer{answerMoving(server.url("/moved/Vexa.ebz"), server.url("/appdata.ebz"))};
  answer.delayMs = 3000;
  answer.ranges = false;
  server.add("/installer2.html", answer);
  makeScenario().setPackVerifier(verifier);
  ASSERT_TRUE(runToEnd()) << logText();
  EXPECT_TRUE(VexaInstallContext::productFilesPresent(install));
  EXPECT_EQ(requestsFor("/Vexa.ebz") + requestsFor("/Vexa.ebz.sig"), 0u);
  EXPECT_GT(requestsFor("/moved/Vexa.ebz"), 0u);
  EXPECT_EQ(requestsFor("/moved/Vexa.ebz.sig"), 1u);
  EXPECT_NE(logText().find("INFO : [DEF] : Pack addresses taken after the start answer"), std::string::npos);
}

// An answer later than the wait changes nothing for this run: the pack and
// its signature both come from the address taken when the wait ended.
TEST_F(SignedPackScenarioTest, AStartAnswerPastTheWaitMovesNothing) {
  makeContext();
  context->answerMutexName = L"vexa-test-answer-late";
  placePrivateRuntime();
  std::string product = pack({{"Vexa.exe", "exe"}, {"Vexa.jar", noise(200000, 1)}, {"vreg.dll", "dll"}});
  testserver::Resource slow{product};
  slow.bytesPerSecond = 15000;  // still downloading when the answer comes
  server.add("/Vexa.ebz", slow);
  server.add("/Vexa.ebz.sig", {signer.sign(product, pack_signature::kKindProduct)});
  std::string appdata = pack({{"plugins/search/plugin.properties", "name=search"}});
  server.add("/appdata.ebz", {appdata});
  server.add("/appdata.ebz.sig", {signer.sign(appdata, pack_signature::kKindAppdata)});
  testserver::Resource answer{answerMoving(server.url("/moved/Vexa.ebz"), server.url("/moved/appdata.ebz"))};
  answer.delayMs = 2000;
  answer.ranges = false;
  server.add("/installer2.html", answer);
  makeScenario().setPackVerifier(verifier);
  scenario->setStartAnswerWaitMs(500);
  ASSERT_TRUE(runToEnd()) << logText();
  EXPECT_TRUE(VexaInstallContext::productFilesPresent(install)) << context->errors_.get();
  EXPECT_EQ(context->errors_.find(L"signature"), std::wstring::npos) << context->errors_.get();
  EXPECT_EQ(requestsFor("/Vexa.ebz.sig"), 1u);
  EXPECT_EQ(requestsFor("/moved/Vexa.ebz") + requestsFor("/moved/Vexa.ebz.sig"), 0u);
  EXPECT_NE(logText().find("INFO : [DEF] : No start answer within 500 ms; pack addresses taken as they stand"),
            std::string::npos);
  EXPECT_NE(logText().find("vexa7zUrl from tail = "), std::string::npos) << "the answer did come";
}

TEST_F(SignedPackScenarioTest, AFlippedPackByteIsRefused) {
  runSigned(Damage::PackByte);
  expectRefusedProduct();
}

TEST_F(SignedPackScenarioTest, AFlippedSignatureByteIsRefused) {
  runSigned(Damage::SignatureByte);
  expectRefusedProduct();
}

TEST_F(SignedPackScenarioTest, AMissingSignatureIsRefused) {
  runSigned(Damage::NoSignature);
  expectRefusedProduct();
  EXPECT_NE(logText().find("/Vexa.ebz refused: "), std::string::npos);
}

TEST_F(SignedPackScenarioTest, ARefusedPackLeavesThePreviousVersionAndNoStagingFolder) {
  makeContext();
  placePrivateRuntime();
  testfiles::writeFile(install + L"\\Vexa.exe", "old exe");
  testfiles::writeFile(install + L"\\Vexa.jar", "old jar");
  // The pack decodes whole (its stream is intact) but is not the one signed.
  std::string product = pack({{"Vexa.exe", "exe"}, {"Vexa.jar", "jar"}, {"vreg.dll", "dll"}});
  const std::string signature = signer.sign(product, pack_signature::kKindProduct);
  product += "tail";
  server.add("/Vexa.ebz", {product});
  server.add("/Vexa.ebz.sig", {signature});
  const std::string appdata = pack({{"plugins/search/plugin.properties", "name=search"}});
  server.add("/appdata.ebz", {appdata});
  server.add("/appdata.ebz.sig", {signer.sign(appdata, pack_signature::kKindAppdata)});
  makeScenario().setPackVerifier(verifier);
  ASSERT_TRUE(runToEnd()) << logText();
  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.exe"), "old exe");
  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.jar"), "old jar");
  EXPECT_FALSE(files::exists(install + L"\\vreg.dll"));
  EXPECT_FALSE(files::exists(install + L".staging"));
  EXPECT_FALSE(files::exists(context->workFolder() + L".staging"));
  EXPECT_FALSE(files::exists(context->workFolder() + L"\\plugins\\search\\plugin.properties"));
  EXPECT_NE(context->errors_.find(L"vexa8z_signature;"), std::wstring::npos) << context->errors_.get();
}

TEST_F(SignedPackScenarioTest, ASignatureOfAnotherKeyIsRefused) {
  runSigned(Damage::OtherKey);
  expectRefusedProduct();
}

TEST_F(SignedPackScenarioTest, ARefusedAppdataPackFailsTheInstallAndMovesNothingIn) {
  makeContext();
  placePrivateRuntime();
  serveSignedPacks(Damage::None);
  server.add("/appdata.ebz.sig", {std::string(64, '\0')});
  makeScenario().setPackVerifier(verifier);
  ASSERT_TRUE(runToEnd()) << logText();
  // The product pack was fine, but half an install is no install.
  EXPECT_EQ(context->failures().get().cause, failure::Cause::kSignature) << context->errors_.get();
  EXPECT_FALSE(VexaInstallContext::productFilesPresent(install));
  EXPECT_FALSE(files::exists(context->workFolder() + L"\\plugins\\search\\plugin.properties"));
  EXPECT_FALSE(files::exists(packFolder() + L"\\appdata.ebz"));
  EXPECT_NE(context->errors_.find(L"appdata8z_signature;"), std::wstring::npos) << context->errors_.get();
  for (const DownloadTally::Record& record : context->downloads().records()) {
    if (record.name == L"appdata8z") EXPECT_FALSE(record.completed) << "a refused pack is no completed download";
  }
}

TEST_F(SignedPackScenarioTest, AFailedDownloadIsNeitherCheckedNorUnpackedAndStaysForTheNextRun) {
  makeContext();
  placePrivateRuntime();
  serveSignedPacks(Damage::None);
  // The server's own appdata pack, with a digest that does not match it.
  testserver::Resource hostile{pack({{"plugins/evil/plugin.properties", "name=evil"}})};
  hostile.contentMd5 = std::string(32, '0');
  server.add("/appdata.ebz", hostile);
  makeScenario().setPackVerifier(verifier);
  ASSERT_TRUE(runToEnd()) << logText();
  EXPECT_TRUE(context->failures().failed());
  EXPECT_FALSE(VexaInstallContext::productFilesPresent(install));
  EXPECT_FALSE(files::exists(context->workFolder() + L"\\plugins\\evil\\plugin.properties"));
  // Its signature is fetched as its bytes start to stream, but no verdict is
  // given on a pack that did not arrive whole.
  EXPECT_EQ(context->errors_.find(L"appdata8z_signature"), std::wstring::npos) << context->errors_.get();
  EXPECT_NE(context->errors_.find(L"appdata8z_"), std::wstring::npos) << context->errors_.get();
  // Kept for the next run to carry on from, and the product pack that arrived
  // whole stays for it to use, since nothing was moved in.
  EXPECT_TRUE(files::isFile(packFolder() + L"\\appdata.ebz"));
  EXPECT_TRUE(files::isFile(packFolder() + L"\\Vexa.ebz"));
  for (const DownloadTally::Record& record : context->downloads().records()) {
    EXPECT_EQ(record.completed, record.name == L"vexa8z") << text::wideToUtf8(record.name);
  }
}

TEST_F(SignedPackScenarioTest, AFailedProductDownloadKeepsARefusableAppdataPackAndBothStatesForTheNextRun) {
  makeContext();
  placePrivateRuntime();
  serveSignedPacks(Damage::None);
  // The product's ranged answers all break off; the appdata pack arrives
  // whole, with a signature that would be refused were it judged.
  // Both with a digest, so that what they hold can be carried on from.
  testserver::Resource product{pack({{"Vexa.exe", "exe"}, {"Vexa.jar", noise(200000, 6)}, {"vreg.dll", "dll"}})};
  product.contentMd5 = md5Hex(product.body.data(), product.body.size());
  product.fault = testserver::dropAfter(5000, -1, "bytes=");
  server.add("/Vexa.ebz", product);
  testserver::Resource appdata{pack({{"plugins/search/plugin.properties", "name=search"}})};
  appdata.contentMd5 = md5Hex(appdata.body.data(), appdata.body.size());
  server.add("/appdata.ebz", appdata);
  server.add("/appdata.ebz.sig", {std::string(200, '\0')});
  makeScenario().setPackVerifier(verifier);
  ASSERT_TRUE(runToEnd()) << logText();
  EXPECT_FALSE(VexaInstallContext::productFilesPresent(install));
  for (const wchar_t* name : {L"\\Vexa.ebz", L"\\appdata.ebz"}) {
    EXPECT_TRUE(files::isFile(packFolder() + name)) << text::wideToUtf8(name);
    EXPECT_TRUE(files::isFile(download::downloadStatePath(packFolder() + name))) << text::wideToUtf8(name);
  }
  EXPECT_EQ(context->errors_.find(L"appdata8z_signature"), std::wstring::npos) << context->errors_.get();
  EXPECT_EQ(logText().find("/appdata.ebz refused"), std::string::npos);
}

TEST_F(SignedPackScenarioTest, APackSignedAsAnotherKindIsRefused) {
  makeContext();
  placePrivateRuntime();
  serveSignedPacks(Damage::None);
  // A genuinely signed runtime pack, served with its own ".sig" as the appdata pack.
  const std::string runtime = pack({{"plugins/jre/bin/java.exe", "exe"}});
  server.add("/appdata.ebz", {runtime});
  server.add("/appdata.ebz.sig", {signer.sign(runtime, pack_signature::kKindRuntime)});
  makeScenario().setPackVerifier(verifier);
  ASSERT_TRUE(runToEnd()) << logText();
  EXPECT_EQ(context->failures().get().cause, failure::Cause::kSignature) << context->errors_.get();
  EXPECT_FALSE(VexaInstallContext::productFilesPresent(install));
  EXPECT_FALSE(files::exists(context->workFolder() + L"\\plugins\\jre"));
  EXPECT_NE(context->errors_.find(L"appdata8z_signature;"), std::wstring::npos) << context->errors_.get();
  EXPECT_NE(logText().find("the signature is for a jreEbz pack, not appdata8z"), std::string::npos);
}

// The check refuses a block of the copy the server had first; the server
// then puts the genuine pack in its place and the download begins its file
// again. The refusal was of bytes the file no longer holds: the file is
// judged as it stands, and the genuine pack installs.
TEST_F(SignedPackScenarioTest, ARefusalOfBytesTheDownloadFetchedAgainDoesNotStand) {
  makeContext();
  placePrivateRuntime();
  const std::string genuine = pack({{"Vexa.exe", "exe"}, {"vreg.dll", "dll"}, {"Vexa.jar", noise(2400000, 9)}});
  std::string tampered = genuine;
  tampered[1000] ^= 0x01;  // in the first block, which the first chunks bring
  testserver::Resource before{tampered};
  before.etag = "\"tampered\"";
  // The last chunk's first answer breaks off and its retry waits, so the
  // check refuses the first block while the download still runs.
  auto lastChunkAnswers = std::make_shared<std::atomic<int>>(0);
  before.fault = lastChunkBreaksOnce(tampered.size(), lastChunkAnswers);
  server.add("/Vexa.ebz", before);
  server.add("/Vexa.ebz.sig", {signer.sign(genuine, pack_signature::kKindProduct)});
  const std::string appdata = pack({{"plugins/search/plugin.properties", "name=search"}});
  server.add("/appdata.ebz", {appdata});
  server.add("/appdata.ebz.sig", {signer.sign(appdata, pack_signature::kKindAppdata)});
  makeScenario().setPackVerifier(verifier);
  ASSERT_TRUE(startWithRetryPause(3000));
  ASSERT_TRUE(waitFor([&] { return logText().find("Unpack of vexa8z stopped, its signature check refused it") !=
                                   std::string::npos; },
                      30s))
      << logText();
  EXPECT_EQ(lastChunkAnswers->load(), 1) << "the download still waits to retry its last chunk";
  testserver::Resource after{genuine};
  after.etag = "\"genuine\"";
  server.add("/Vexa.ebz", after);
  ASSERT_TRUE(waitForEnd()) << logText();
  const std::string text = logText();
  EXPECT_NE(text.find("changed on the server"), std::string::npos) << text;
  EXPECT_NE(text.find("the download began its file again after the signature refused"), std::string::npos) << text;
  EXPECT_NE(text.find("Signature of " + server.url("/Vexa.ebz") + " verified"), std::string::npos) << text;
  EXPECT_FALSE(context->failures().failed()) << context->errors_.get();
  EXPECT_EQ(context->errors_.find(L"signature"), std::wstring::npos) << context->errors_.get();
  EXPECT_EQ(testfiles::readFile(install + L"\\Vexa.exe"), "exe");
  EXPECT_TRUE(testfiles::readFile(install + L"\\Vexa.jar") == noise(2400000, 9));
  EXPECT_TRUE(files::isFile(context->workFolder() + L"\\plugins\\search\\plugin.properties"));
}

TEST_F(SignedPackScenarioTest, AVerifiedPackIsHeldAgainstASwapUntilItIsUnpacked) {
  makeContext();
  const std::string good = pack({{"a.txt", "checked"}});
  const std::string swapped = pack({{"a.txt", "swapped"}});
  server.add("/Vexa.ebz.sig", {signer.sign(good, pack_signature::kKindProduct)});
  const std::wstring path = scratch.path() + L"\\Vexa.ebz";
  const std::wstring other = scratch.path() + L"\\other.ebz";
  testfiles::writeFile(path, good);
  testfiles::writeFile(other, swapped);
  auto held = holdVerifiedPack(verifier, L"vexa8z", pack_signature::kKindProduct, 1, server.wideUrl("/Vexa.ebz"),
                               path, nullptr, log);
  ASSERT_TRUE(held) << logText();
  // What a same-user process would try between the check and the unpack.
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  UnEbzCommand unpack(path + L"|" + scratch.path() + L"\\out", std::move(held));
  wchar_t result[256] = L"0";
  unpack.execute(result, 256, log);
  EXPECT_STREQ(result, L"0");
  EXPECT_EQ(testfiles::readFile(scratch.path() + L"\\out\\a.txt"), "checked");
}

TEST_F(InstallScenarioTest, BothPackDownloadsFailingFailTheInstallBeforeItsLastStages) {
  makeContext();
  placePrivateRuntime();
  // Nothing listens where the packs are.
  testserver::TestHttpServer gone;
  std::wstring nowhere = gone.wideUrl("");
  gone.stop();
  context->vexa7zUrl = nowhere + L"/Vexa.ebz";
  context->appdata7zUrl = nowhere + L"/appdata.ebz";
  makeScenario();
  ASSERT_TRUE(runToEnd()) << logText();
  std::string text = logText();
  EXPECT_NE(text.find("INFO : [DEF] : Vexa packs are FAILED"), std::string::npos);
  EXPECT_EQ(text.find("UnEbz "), std::string::npos);  // nothing to unpack
  // The stage that failed is the one left showing: the later stages are
  // never begun and the total never reaches its end.
  EXPECT_EQ(context->failures().get().cause, failure::Cause::kNetwork) << context->errors_.get();
  for (const auto& stage : listener.stages()) EXPECT_LT(stage.stage, 2) << stage.percent;
  for (int total : listener.totals()) EXPECT_LT(total, 100);
  // Each failure is reported and recorded with its download's name.
  int packErrors = 0;
  for (const auto& call : listener.calls()) packErrors += call.rfind(L"error:pack:", 0) == 0;
  EXPECT_EQ(packErrors, 2);
  EXPECT_NE(context->errors_.find(L"vexa8z_Can't open connection;"), std::wstring::npos) << context->errors_.get();
  EXPECT_NE(context->errors_.find(L"appdata8z_Can't open connection;"), std::wstring::npos) << context->errors_.get();

  EXPECT_FALSE(finishing::completeInstall(*context));
  EXPECT_EQ(context->exitCode, 3);
  stats::Params finish = stats::finishParams(*context, true, false);
  EXPECT_EQ(finish[L"mode"], L"installFail");
  const std::wstring& errors = finish[L"errors"];
  size_t listing = errors.find(L"PFL:");
  ASSERT_NE(listing, std::wstring::npos) << errors;
  EXPECT_NE(errors.find(L"utils.jar;", listing), std::wstring::npos) << errors;
  EXPECT_NE(errors.find(L"PFL_end;", listing), std::wstring::npos) << errors;
}

TEST_F(InstallScenarioTest, AFailedUnpackIsRecordedForTheOperator) {
  makeContext();
  placePrivateRuntime();
  server.add("/Vexa.ebz", {"this is not a pack"});
  server.add("/appdata.ebz", {pack({{"a.txt", "a"}})});
  makeScenario();
  ASSERT_TRUE(runToEnd()) << logText();
  EXPECT_NE(context->errors_.find(L"unpack_1;"), std::wstring::npos) << context->errors_.get();
  EXPECT_EQ(context->failures().get().cause, failure::Cause::kDamaged);
  EXPECT_FALSE(VexaInstallContext::productFilesPresent(install));
}

TEST_F(InstallScenarioTest, FailuresReportedFromManyThreadsAreAllRecorded) {
  makeContext();
  makeScenario();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 100; ++i) scenario->onFailed(L"vexa8z", 1, L"t" + std::to_wstring(t));
    });
  }
  for (auto& thread : threads) thread.join();
  size_t tokens = 0;
  const std::wstring errors = context->errors_.get();
  for (size_t pos = 0; (pos = errors.find(L"vexa8z_t", pos)) != std::wstring::npos; ++pos) ++tokens;
  EXPECT_EQ(tokens, 800u);
  EXPECT_EQ(errors.size(), 800u * std::wstring(L"vexa8z_t0;").size());
}

TEST_F(InstallScenarioTest, PackAddressesFallBackToThePackServer) {
  EXPECT_EQ(VexaInstallScenario::packAddress(L"", L"/Vexa.ebz"), std::wstring(VEXA_PACK_ROOT) + L"/Vexa.ebz");
  EXPECT_EQ(VexaInstallScenario::packAddress(L"http://h/x.ebz", L"/Vexa.ebz"), L"http://h/x.ebz");
}

// On a volume without 8.3 names the folder keeps its blanks: unquoted, the
// product's first run would start "...\\Program.exe".
TEST_F(InstallScenarioTest, TheProductsFirstRunIsQuoted) {
  class LongNames : public VexaInstallContext {
   public:
    using VexaInstallContext::VexaInstallContext;
    void dropShortNames() { shortInstallFolder_ = installFolder(); }
  };
  install = scratch.path() + L"\\Program Files x\\Vexa";
  auto* longNames = new LongNames(L"/silent", log);
  longNames->setOffers(new PinstallContainerComposited(*longNames, log));
  context = longNames;
  context->prepare();
  context->setInstallFolder(install);
  longNames->dropShortNames();
  context->statUrl = server.wideUrl("/installer2.html");
  context->vexa7zUrl = server.wideUrl("/Vexa.ebz");
  context->appdata7zUrl = server.wideUrl("/appdata.ebz");
  placePrivateRuntime();
  servePacks();
  makeScenario();
  ASSERT_TRUE(runToEnd()) << logText();
  EXPECT_NE(logText().find("\"" + text::wideToUtf8(install) + "\\Vexa.exe\" /copydll"), std::string::npos) << logText();
}

// ---- Blocking files ---------------------------------------------------------

TEST_F(InstallScenarioTest, ANonEmptyFileInPlaceOfTheInstallFolderStopsASilentInstall) {
  makeContext();
  files::createFolderTree(scratch.path() + L"\\Program");
  testfiles::writeFile(install, "somebody's file");
  servePacks();
  makeScenario();
  SilentScenarioListener driver(*context, *scenario, log);
  driver.setPollMs(20);
  scenario->setListener(&driver);
  driver.run();

  EXPECT_EQ(context->exitCode, 3);
  EXPECT_EQ(requestsFor("/Vexa.ebz") + requestsFor("/appdata.ebz"), 0u);  // nothing downloaded
  EXPECT_EQ(testfiles::readFile(install), "somebody's file");
  std::string text = logText();
  // The message goes to the log: no box waits for a click in a silent run.
  size_t line = text.find("ERROR : [DEF] : ");
  ASSERT_NE(line, std::string::npos) << text;
  EXPECT_NE(text.find(text::wideToUtf8(scratch.path()).substr(3), line), std::string::npos);
  EXPECT_NE(text.find("End of scenario"), std::string::npos);
  // The closing event still goes out.
  bool finishSent = false;
  for (const auto& r : statRequests()) finishSent |= paramOf(r.path, L"mode") == L"installFail";
  EXPECT_TRUE(finishSent);
}

TEST_F(InstallScenarioTest, ASilentInstallWithoutADownloadFolderLogsInsteadOfAsking) {
  // A context that was never prepared has no download folder yet.
  context = new VexaInstallContext(L"/silent", log);
  context->setOffers(new PinstallContainerComposited(*context, log));
  context->setInstallFolder(install);
  files::createFolderTree(install);
  context->createShortcuts();
  EXPECT_NE(logText().find("ERROR : [DEF] : Unknown download dir"), std::string::npos) << logText();
}

TEST_F(InstallScenarioTest, TheWizardsAlertShowsTheBlockingFilesPath) {
  makeContext(L"");
  files::createFolderTree(scratch.path() + L"\\Program");
  testfiles::writeFile(install, "x");
  makeScenario(false);
  std::wstring caption, message;
  scenario->setAlertHandler([&](const std::wstring& c, const std::wstring& t) {
    caption = c;
    message = t;
  });
  ASSERT_TRUE(runToEnd());
  EXPECT_EQ(caption, L"Ошибка");
  EXPECT_EQ(message, L"Удалите пожалуйста файл '" + install + L"' и повторите попытку");
}

TEST_F(InstallScenarioTest, AnEmptyFileInPlaceOfTheInstallFolderIsRemoved) {
  makeContext();
  files::createFolderTree(scratch.path() + L"\\Program");
  testfiles::writeFile(install, "");
  servePacks();
  makeScenario();
  ASSERT_TRUE(runToEnd()) << logText();
  std::string text = logText();
  EXPECT_NE(text.find("Try delete file " + text::wideToUtf8(install)), std::string::npos);
  EXPECT_NE(text.find("icacls \"" + text::wideToUtf8(install) + "\" /reset"), std::string::npos);
  EXPECT_TRUE(files::isFolder(install));
  // No runtime can be placed beforehand where the file stood, and none is
  // served, so the install fails for want of one; the folder was not to blame.
  const failure::Cause cause = context->failures().get().cause;
  EXPECT_NE(cause, failure::Cause::kNotWritable) << context->errors_.get();
  EXPECT_NE(cause, failure::Cause::kInstallDir) << context->errors_.get();
  EXPECT_FALSE(VexaInstallContext::productFilesPresent(install));
}

// ---- Cancel -----------------------------------------------------------------

TEST_F(InstallScenarioTest, CancelDuringTheDownloadsEndsTheScenarioOnce) {
  makeContext(L"");
  placePrivateRuntime();
  servePacks(4000000, 100000);  // about ten seconds per connection
  makeScenario(false);
  ASSERT_TRUE(scenario->start());
  ASSERT_TRUE(waitFor([&] { return !listener.totals().empty(); })) << logText();
  auto before = std::chrono::steady_clock::now();
  scenario->cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 6s);
  EXPECT_EQ(listener.ends(), 1);
  EXPECT_TRUE(waitFor([&] { return logText().find("-----END thread runAsyncInstallFunc") != std::string::npos; }, 10s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(listener.ends(), 1);
  for (const auto& call : listener.calls()) EXPECT_NE(call, L"done");
  EXPECT_EQ(logText().find("UnEbz "), std::string::npos);
  EXPECT_TRUE(scenario->isCancelled());
  EXPECT_FALSE(scenario->isFinished());
  stats::Params finish = stats::finishParams(*context, true, true);
  EXPECT_EQ(finish[L"mode"], L"installCancel");
}

// ---- The silent driver ------------------------------------------------------

TEST_F(InstallScenarioTest, AnInstalledProductIsRestartedWithoutAWorker) {
  files::createFolderTree(install);
  for (const wchar_t* f : {L"\\Vexa.exe", L"\\Vexa.jar", L"\\vreg.dll"}) testfiles::writeFile(install + f, "x");
  registry::writeText(HKEY_CURRENT_USER, kProductKey, L"exec", install + L"\\Vexa.exe");
  registry::writeDword(HKEY_CURRENT_USER, kProductKey, VexaInstallContext::kCompleteValue, 1);
  makeContext(L"/silent /runAfterInstall FALSE");
  makeScenario();
  EXPECT_EQ(statRequests().size(), 0u);  // no "installStart" for an installed product
  SilentScenarioListener driver(*context, *scenario, log);
  driver.setPollMs(20);
  scenario->setListener(&driver);
  driver.run();
  EXPECT_FALSE(scenario->isStarted());
  EXPECT_EQ(context->installMode, InstallContext::kAlreadyInstalled);
  EXPECT_EQ(context->exitCode, 1);
  auto requests = statRequests();
  ASSERT_FALSE(requests.empty());
  for (const auto& r : requests) EXPECT_EQ(paramOf(r.path, L"mode"), L"restart");
  std::string text = logText();
  EXPECT_NE(text.find("Turn of runAfterInstall"), std::string::npos);
  EXPECT_EQ(text.find("Execute process"), std::string::npos);  // not run
  EXPECT_EQ(text.find("+++++BEGIN thread runAsyncInstallFunc"), std::string::npos);
  EXPECT_NE(text.find("End of scenario"), std::string::npos);
}

TEST_F(InstallScenarioTest, TheDriverTakesItsSettingsFromTheCommandLine) {
  std::wstring custom = scratch.path() + L"\\Свой путь\\Vexa";
  std::wstring downloads = scratch.path() + L"\\Загрузки";
  makeContext(L"/silent /loadWithWindows False /associateTorrentFile false /exceptFirewall fAlSe /runAfterInstall no "
              L"/installDir \"" + custom + L"\" /downloadDir \"" + downloads + L"\"");
  install = custom;
  placePrivateRuntime();
  servePacks();
  makeScenario();
  SilentScenarioListener driver(*context, *scenario, log);
  driver.setPollMs(20);
  scenario->setListener(&driver);
  driver.run();

  EXPECT_FALSE(context->loadWithWindows);
  EXPECT_FALSE(context->associateTorrentFile);
  EXPECT_FALSE(context->exceptFirewall);
  EXPECT_TRUE(context->runAfterInstall);  // only "false" turns it off
  EXPECT_EQ(context->installFolder(), custom);
  EXPECT_EQ(context->downloadFolder(), downloads);
  EXPECT_EQ(registry::readText(HKEY_CURRENT_USER, kProductKey, L"DownloadsDir"), downloads);
  EXPECT_EQ(context->exitCode, 0) << logText();
  EXPECT_TRUE(VexaInstallContext::productFilesPresent(custom));
  std::string text = logText();
  for (const char* line : {"Start install product", "Turn of loadWithWindows", "Turn of associateTorrentFile",
                           "Turn of exceptFirewall", "Custom install dir: ", "Custom download dir: ",
                           "Stage 3, percent=100", "On end the scenario", "Apply settings",
                           "Run installed application", "End of scenario"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.find("Turn of runAfterInstall"), std::string::npos);
}

// A scenario that ends on its own thread shortly after it starts, having
// found the product in place, so the driver only waits and reports.
class EndingSoonScenario : public IInstallScenario {
 public:
  explicit EndingSoonScenario(VexaInstallContext& context) : context_(context) {}
  ~EndingSoonScenario() override {
    if (worker_.joinable()) worker_.join();
  }
  bool start() override {
    worker_ = std::thread([this] {
      std::this_thread::sleep_for(50ms);
      context_.installMode = InstallContext::kAlreadyInstalled;
      if (listener_) listener_->onScenarioEnd();
    });
    return true;
  }
  void setListener(InstallScenarioListener* listener) override { listener_ = listener; }
  bool isFinished() override { return false; }
  void cancel() override {}
  bool isStarted() override { return worker_.joinable(); }
  bool isCancelled() override { return false; }
  void setCancelled(bool) override {}

 private:
  VexaInstallContext& context_;
  InstallScenarioListener* listener_ = nullptr;
  std::thread worker_;
};

TEST_F(InstallScenarioTest, TheSilentDriverFinishesAsSoonAsTheScenarioEnds) {
  makeContext(L"/silent /runAfterInstall false");
  EndingSoonScenario ending(*context);
  SilentScenarioListener driver(*context, ending, log);  // the product's one-second poll
  ending.setListener(&driver);
  const auto start = std::chrono::steady_clock::now();
  driver.run();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(driver.done());
  EXPECT_EQ(context->exitCode, 1);
  // Sleeping out the poll would take at least a second.
  EXPECT_LT(took, 900ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}
