// The Java runtime and the plug-in clean-up on a real (Wine) system: stand-in
// runtimes laid out in folders and the registry, the runtime pack and
// "java.json" served from 127.0.0.1.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "TestFiles.h"
#include "TestHttpServer.h"
#include "app/Log.h"
#include "app/win32/Files.h"
#include "app/win32/Registry.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"
#include "download/DownloadListener.h"
#include "context/CommandSenderLocal.h"
#include "scenario/EbzWriter.h"
#include "scenario/JvmChooser.h"
#include "scenario/PackSignature.h"
#include "scenario/win32/JavaRuntime.h"
#include "scenario/win32/UpgradeCleanup.h"

namespace {

const std::wstring kStandIns = std::wstring(L"" VEXA_BUILD_DIR) + L"\\demo-product\\";
const wchar_t kJreKey[] = L"SOFTWARE\\JavaSoft\\Java Runtime Environment";

std::string standIn(const wchar_t* name) { return testfiles::readFile(kStandIns + name); }

std::string runtimeConfig(const std::string& version, int arch, int product) {
  return "version=" + version + "\narch=" + std::to_string(arch) + "\nproduct=" + std::to_string(product) + "\n";
}

// A runtime of the stand-in programs at home, answering as told.
void makeRuntime(const std::wstring& home, const std::string& version, int arch = 32, int product = 1100) {
  files::createFolderTree(home + L"\\bin\\client");
  testfiles::writeFile(home + L"\\bin\\java.exe", standIn(L"java.exe"));
  testfiles::writeFile(home + L"\\bin\\javaw.exe", standIn(L"javaw.exe"));
  testfiles::writeFile(home + L"\\bin\\client\\jvm.dll", "dll");
  testfiles::writeFile(home + L"\\bin\\standin-runtime.txt", runtimeConfig(version, arch, product));
}

class RecordingHost : public JreInstallHost, public download::IDownloadListener {
 public:
  struct Stage { int stage, percent; };

  void stageProgress(int stage, int percent, float) override {
    std::lock_guard<std::mutex> guard(lock);
    stages.push_back({stage, percent});
  }
  download::IDownloadListener& runtimeDownloadListener() override { return *this; }
  bool installCancelled() override { return cancelled; }
  void reportJavaMissing() override { ++javaMissing; }
  // These tests read the runtime's outcome from its download reports.
  failure::Failure runtimeDownloadFailure() override { return {}; }

  void onProgress(float, const std::wstring&, int) override {}
  void onComplete(const std::wstring& name, int) override {
    std::lock_guard<std::mutex> guard(lock);
    completed.push_back(name);
  }
  void onFailed(const std::wstring& name, int, const std::wstring& message) override {
    std::lock_guard<std::mutex> guard(lock);
    failed.push_back(name + L"_" + message);
  }
  void onError(const std::wstring&, int, const std::wstring&) override {}

  bool sawStage(int stage, int percent) {
    std::lock_guard<std::mutex> guard(lock);
    for (const Stage& s : stages)
      if (s.stage == stage && s.percent == percent) return true;
    return false;
  }

  std::mutex lock;
  std::vector<Stage> stages;
  std::vector<std::wstring> completed;
  std::vector<std::wstring> failed;
  std::atomic<bool> cancelled{false};
  std::atomic<int> javaMissing{0};
};

class JavaRuntimeWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.setOffers(new PinstallContainerComposited(context_, &log_));
    ASSERT_FALSE(standIn(L"java.exe").empty()) << "stand-ins not built in " << testfiles::narrow(kStandIns);
    clearRegistry();
    saved_ = jreSettings();
    JreSettings& settings = jreSettings();
    settings.runtimeRoot = server_.wideUrl("");
    if (!settings.runtimeRoot.empty() && settings.runtimeRoot.back() == L'/') settings.runtimeRoot.pop_back();
    settings.packMinValidSize = 100;
    settings.timing.connectRetryPauseMs = 20;
    settings.timing.retryDelayMs = 20;
    settings.timing.progressIntervalMs = 20;
    install_ = dir_.path() + L"\\Vexa";
    files::createFolderTree(install_);
    context_.setInstallFolder(install_);
    // The archive only has to hold the class's entry name.
    testfiles::writeFile(install_ + L"\\utils.jar", std::string("PK\x03\x04") + JVMChooser::kArchClassEntry);
  }
  void TearDown() override {
    jreSettings() = saved_;
    clearRegistry();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vexa");
  }
  static void clearRegistry() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft"); }
  static void registerRuntime(const std::wstring& name, const std::wstring& home) {
    ASSERT_TRUE(registry::writeText(HKEY_LOCAL_MACHINE, std::wstring(kJreKey) + L"\\" + name, L"JavaHome", home));
  }

  std::string logText() { return testfiles::readFile(log_.path()); }
  size_t count(const std::string& needle) {
    std::string text = logText();
    size_t n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
    return n;
  }
  void serveJavaJson(const std::string& body) {
    testserver::Resource json;
    json.body = body;
    server_.add("/java.json", json);
  }
  // A runtime pack whose entries form a private runtime under "jre".
  std::string runtimePack() {
    return ebz::packInMemory(ebz::randomKey(), {{"jre/bin/java.exe", standIn(L"java.exe")},
                                                {"jre/bin/javaw.exe", standIn(L"javaw.exe")},
                                                {"jre/bin/client/jvm.dll", std::string(5000, 'd')},
                                                {"jre/bin/standin-runtime.txt", runtimeConfig("1.8.0_251", 32, 1100)}});
  }
  void runThread(RecordingHost& host) {
    HANDLE thread = startJreInstall(host, context_);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }

  testfiles::ScratchDir dir_;
  Log log_ = Log::atPath(dir_.path() + L"\\jre.log");
  VexaInstallContext context_{L"", &log_};
  testserver::TestHttpServer server_;
  JreSettings saved_;
  std::wstring install_;
};

TEST_F(JavaRuntimeWinTest, PrivateRuntimeAlreadyPresentNeedsNoThread) {
  makeRuntime(install_ + L"\\jre", "1.8.0_251");
  serveJavaJson("{\"minVersion\":\"1.8.0_251\"}");
  RecordingHost host;
  EXPECT_EQ(startJreInstall(host, context_), nullptr);
  ASSERT_EQ(host.stages.size(), 1u);
  EXPECT_EQ(host.stages[0].stage, 0);
  EXPECT_EQ(host.stages[0].percent, 100);
  // The stand-in, like a real runtime, reports on standard error only.
  EXPECT_EQ(context_.javaInstall_, L"exists_1.8.0_251;");
  EXPECT_NE(logText().find("Local Java is found, check version..."), std::string::npos);
  EXPECT_NE(logText().find("Local Java is good, use it"), std::string::npos);
  EXPECT_NE(logText().find("JavaArch.class found"), std::string::npos);
  EXPECT_FALSE(server_.requestsFor("/java.json").empty());
  EXPECT_TRUE(server_.requestsFor("/jre_packed.ebz").empty());

  // The kept candidate set answers the next search, registry or not.
  std::wstring home = L"prefix:";
  EXPECT_EQ(findJavaRuntime(context_, home, true), L"1.8.0_251");
  EXPECT_EQ(home.rfind(L"prefix:", 0), 0u);
  EXPECT_EQ(home.substr(home.size() - 4), L"\\jre");
}

TEST_F(JavaRuntimeWinTest, RegisteredRuntimesOlderThanOneSixAreRejected) {
  for (const char* name : {"1.5.0", "1.6", "1.6.0_45", "10"}) {
    std::wstring home = dir_.path() + L"\\java" + text::utf8ToWide(name);
    makeRuntime(home, name);
    registerRuntime(text::utf8ToWide(name), home);
  }
  std::wstring home;
  EXPECT_EQ(findJavaRuntime(context_, home, false), L"");
  EXPECT_EQ(context_.jvmProperties, nullptr);
  EXPECT_EQ(findJavaRuntime(context_, home, true), L"10");
  EXPECT_EQ(home, dir_.path() + L"\\java10");
  ASSERT_NE(context_.jvmProperties, nullptr);
  EXPECT_EQ(context_.jvmProperties->candidates.size(), 3u);
  EXPECT_NE(logText().find("fullKeyPath=SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.5.0"), std::string::npos);
  EXPECT_EQ(count("Java is old"), 1u);
  EXPECT_EQ(count("Remove:"), 1u);
  EXPECT_NE(logText().find("m_version=1.5.0"), std::string::npos);
}

TEST_F(JavaRuntimeWinTest, SixtyFourBitRuntimeIsRejected) {
  makeRuntime(dir_.path() + L"\\j64", "1.8.0_251", 64);
  registerRuntime(L"1.8.0_251", dir_.path() + L"\\j64");
  std::wstring home;
  EXPECT_EQ(findJavaRuntime(context_, home, true), L"");
  EXPECT_TRUE(home.empty());
  EXPECT_EQ(context_.jvmProperties, nullptr);
  EXPECT_NE(logText().find("No acceptable JVMs were found."), std::string::npos);

  makeRuntime(dir_.path() + L"\\j32", "1.7.0_80", 32);
  registerRuntime(L"1.7.0_80", dir_.path() + L"\\j32");
  EXPECT_EQ(findJavaRuntime(context_, home, true), L"1.7.0_80");
  EXPECT_EQ(home, dir_.path() + L"\\j32");
}

TEST_F(JavaRuntimeWinTest, FourConnectionDownloadFailsAndOneConnectionRetrySucceeds) {
  serveJavaJson("{\"packedJreEbzUrl\":\"" + server_.url("/runtime/jre.ebz") + "\",\"minVersion\":\"1.8.0_251\"}");
  testserver::Resource pack;
  pack.body = runtimePack();
  // Every range but the first chunk's breaks: four connections cannot finish,
  // one connection can.
  pack.fault = [](const testserver::Request& request) {
    testserver::Fault fault;
    if (!request.range.empty() && request.range.rfind("bytes=0-", 0) != 0) fault.dropAfter = 0;
    return fault;
  };
  server_.add("/runtime/jre.ebz", pack);
  RecordingHost host;
  runThread(host);

  EXPECT_EQ(count("----Start download jre attemptRemind=3"), 1u);
  EXPECT_EQ(count("attemptRemind=2"), 0u);
  EXPECT_EQ(count("End download four threads"), 1u);
  EXPECT_EQ(count("Retry download one thread"), 1u);
  EXPECT_EQ(count("End download one thread"), 1u);
  EXPECT_EQ(count("---End download jre result=SUCCESS"), 1u);
  EXPECT_EQ(context_.javaInstall_, L"installJreFunc_start;ebz_0; 1.8.0_251;installJreFunc_finish;");
  EXPECT_EQ(context_.errors_, L"");
  EXPECT_TRUE(files::isFile(install_ + L"\\jre\\bin\\client\\jvm.dll"));
  EXPECT_TRUE(host.sawStage(2, 1));
  EXPECT_TRUE(host.sawStage(0, 100));
  EXPECT_EQ(host.javaMissing, 0);
  EXPECT_TRUE(server_.requestsFor("/jre_packed.ebz").empty());
  EXPECT_NE(context_.stopwatch().trace().count(L"unpackJre"), 0u);
}

TEST_F(JavaRuntimeWinTest, SignedRuntimePacksInstallOnlyWithAMatchingSignature) {
  std::array<uint8_t, pack_signature::kPublicKeySize> publicKey{};
  std::array<uint8_t, pack_signature::kSecretKeySize> secretKey{};
  ASSERT_TRUE(pack_signature::makeKeyPair(publicKey, secretKey));
  pack_signature::PackVerifier verifier(pack_signature::toHex(publicKey.data(), publicKey.size()));
  jreSettings().verifier = &verifier;
  jreSettings().attempts = 1;
  serveJavaJson("{\"packedJreEbzUrl\":\"" + server_.url("/runtime/jre.ebz") + "\",\"minVersion\":\"1.8.0_251\"}");
  const std::string pack = runtimePack();
  ebz::MemorySource source(pack.data(), pack.size());
  std::vector<uint8_t> signature;
  ASSERT_TRUE(pack_signature::sign(source, pack_signature::kKindRuntime, 1796000000, secretKey, signature));
  std::string signatureBytes(signature.begin(), signature.end());
  server_.add("/runtime/jre.ebz", {pack});

  // A flipped signature byte: nothing is unpacked, the attempt counts as failed.
  signatureBytes[signatureBytes.size() - 3] ^= 0x01;
  server_.add("/runtime/jre.ebz.sig", {signatureBytes});
  RecordingHost refused;
  runThread(refused);
  EXPECT_FALSE(files::exists(install_ + L"\\jre\\bin\\java.exe"));
  EXPECT_EQ(count("---End download jre result=FAILED"), 1u);
  EXPECT_EQ(count("/runtime/jre.ebz refused: "), 1u) << logText();
  EXPECT_NE(context_.errors_.find(L"ebzDownloadFail;"), std::wstring::npos) << context_.errors_.get();
  EXPECT_EQ(refused.failed, std::vector<std::wstring>{L"jreEbz_signature"});

  signatureBytes[signatureBytes.size() - 3] ^= 0x01;
  server_.add("/runtime/jre.ebz.sig", {signatureBytes});
  RecordingHost accepted;
  runThread(accepted);
  EXPECT_TRUE(files::isFile(install_ + L"\\jre\\bin\\client\\jvm.dll"));
  EXPECT_EQ(count("---End download jre result=SUCCESS"), 1u);
  EXPECT_TRUE(accepted.failed.empty());
}

TEST_F(JavaRuntimeWinTest, JavaJsonWithoutAddressLeavesTheDefaultPack) {
  serveJavaJson("{\"minVersion\":\"1.8.0_251\"}");
  testserver::Resource pack;
  pack.body = runtimePack();
  server_.add("/jre_packed.ebz", pack);
  RecordingHost host;
  runThread(host);
  EXPECT_FALSE(server_.requestsFor("/jre_packed.ebz").empty());
  EXPECT_EQ(count("---End download jre result=SUCCESS"), 1u);
  EXPECT_EQ(count("Retry download one thread"), 0u);
  EXPECT_EQ(context_.javaInstall_, L"installJreFunc_start;ebz_0; 1.8.0_251;installJreFunc_finish;");
}

TEST_F(JavaRuntimeWinTest, ThreeFailedAttemptsRecordTheFailureAndReportTheMissingRuntime) {
  serveJavaJson("[\"not an object\"]");
  testserver::Resource tiny;  // under the minimum valid size
  tiny.body = "short";
  server_.add("/jre_packed.ebz", tiny);
  RecordingHost host;
  runThread(host);
  for (const char* attempt : {"attemptRemind=3", "attemptRemind=2", "attemptRemind=1"})
    EXPECT_EQ(count(attempt), 1u) << attempt;
  EXPECT_EQ(count("---End download jre result=FAILED"), 3u);
  EXPECT_EQ(count("Retry download one thread"), 3u);
  size_t gets = 0;
  for (const testserver::Request& request : server_.requestsFor("/java.json")) gets += request.method == "GET";
  EXPECT_GE(gets, 3u);  // each attempt asks anew
  EXPECT_EQ(context_.errors_, L"ebzDownloadFail;");
  EXPECT_EQ(context_.javaInstall_, L"installJreFunc_start;install_fail;installJreFunc_finish;");
  EXPECT_EQ(host.javaMissing, 1);
  EXPECT_FALSE(host.sawStage(2, 1));
}

TEST_F(JavaRuntimeWinTest, CancelledInstallStartsNoDownloadAndReportsNothing) {
  serveJavaJson("{}");
  RecordingHost host;
  host.cancelled = true;
  runThread(host);
  EXPECT_EQ(count("attemptRemind"), 0u);
  EXPECT_TRUE(server_.requestsFor("/jre_packed.ebz").empty());
  EXPECT_EQ(host.javaMissing, 0);
  EXPECT_EQ(count("-----END thread installJreFunc"), 1u);
}

TEST_F(JavaRuntimeWinTest, CancelDuringTheDownloadEndsTheThreadPromptly) {
  serveJavaJson("{}");
  testserver::Resource slow;
  slow.body = std::string(400000, 'x');
  slow.bytesPerSecond = 20000;  // twenty seconds at full length
  server_.add("/jre_packed.ebz", slow);
  // The scenario hands its abort flag to the runtime's downloads.
  auto abort = std::make_shared<std::atomic<bool>>(false);
  jreSettings().timing.abort = abort;
  // The aborted download's own thread ends a little after the wait gives up
  // on it and still reports then: the host outlives the test, as the
  // scenario outlives its downloads in the product.
  RecordingHost& host = *new RecordingHost;
  HANDLE thread = startJreInstall(host, context_);
  ASSERT_NE(thread, nullptr);
  Sleep(1000);
  DWORD cancelledAt = GetTickCount();
  host.cancelled = true;
  abort->store(true);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_LT(GetTickCount() - cancelledAt, 5000u);
  CloseHandle(thread);
  EXPECT_EQ(count("Retry download one thread"), 0u);
  EXPECT_EQ(count("attemptRemind=2"), 0u);
  EXPECT_EQ(context_.javaInstall_.find(L"ebz_"), std::wstring::npos);
  EXPECT_EQ(host.javaMissing, 0);
  EXPECT_EQ(count("-----END thread installJreFunc"), 1u);
  server_.stop();
  Sleep(2000);  // the download thread writes to this test's log until it ends
}

// Sends through the local sender but answers every copy with a failure.
class FailingCopySender : public CommandSender {
 public:
  explicit FailingCopySender(Log* log) : local_(log) {}
  bool send(Command& command, wchar_t* result, size_t resultSize) override {
    names.push_back(command.getName());
    if (command.getName() == L"COPY_COMMAND") {
      wcsncpy(result, L"5", resultSize);
      return true;
    }
    return local_.send(command, result, resultSize);
  }
  void close() override {}
  std::vector<std::wstring> names;

 private:
  CommandSenderLocal local_;
};

class UpgradeCleanupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(standIn(L"javaw.exe").empty());
    setProduct(1100);
    files::createFolderTree(install_);
    testfiles::writeFile(install_ + L"\\Vexa.jar", "jar");
    makePlugin(cyrillicData_);
  }
  void setProduct(int version) { makeRuntime(javaHome_, "1.8.0_251", 32, version); }
  static void makePlugin(const std::wstring& data) {
    files::createFolderTree(data + L"\\plugins\\vxulrunner");
    testfiles::writeFile(data + L"\\plugins\\vxulrunner\\plugin.properties", "name=vxulrunner\n");
    testfiles::writeFile(data + L"\\plugins\\vxulrunner\\xul.dll", "xul");
  }
  bool pluginIn(const std::wstring& folder) {
    return files::isFile(folder + L"\\plugins\\vxulrunner\\xul.dll");
  }
  int run(const std::wstring& install, const std::wstring& data) {
    return cleanUpPlugin(sender_, &log_, javaHome_, install, data);
  }

  testfiles::ScratchDir dir_;
  Log log_ = Log::atPath(dir_.path() + L"\\cleanup.log");
  CommandSenderLocal sender_{&log_};
  std::wstring javaHome_ = dir_.path() + L"\\rt";
  std::wstring install_ = dir_.path() + L"\\Vexa";
  std::wstring cyrillicData_ = dir_.path() + L"\\\x0414\x0430\x043D\x043D\x044B\x0435";
};

TEST_F(UpgradeCleanupTest, CyrillicDataFolderMovesThePluginToAPlainInstallFolder) {
  EXPECT_EQ(run(install_, cyrillicData_), 12);
  EXPECT_TRUE(pluginIn(install_));
  EXPECT_TRUE(files::isFile(install_ + L"\\plugins\\vxulrunner\\plugin.properties"));
  EXPECT_FALSE(files::exists(cyrillicData_ + L"\\plugins\\vxulrunner"));
  EXPECT_NE(testfiles::readFile(log_.path()).find("isNeedMoveXul: NEED"), std::string::npos);
}

TEST_F(UpgradeCleanupTest, InstallFolderThatIsNotPlainEitherKeepsThePlugin) {
  std::wstring cyrillicInstall = dir_.path() + L"\\\x041F\x0440\x043E\x0433";
  files::createFolderTree(cyrillicInstall);
  testfiles::writeFile(cyrillicInstall + L"\\Vexa.jar", "jar");
  EXPECT_EQ(run(cyrillicInstall, cyrillicData_), 14);
  EXPECT_TRUE(pluginIn(cyrillicData_));
  EXPECT_FALSE(pluginIn(cyrillicInstall));
  EXPECT_NE(testfiles::readFile(log_.path()).find("isNeedMoveXul: App path is good"), std::string::npos);
}

TEST_F(UpgradeCleanupTest, PlainDataFolderAndVersion1031MoveNothing) {
  std::wstring plainData = dir_.path() + L"\\data";
  makePlugin(plainData);
  EXPECT_EQ(run(install_, plainData), 0);
  EXPECT_TRUE(pluginIn(plainData));

  setProduct(1031);
  EXPECT_EQ(run(install_, cyrillicData_), 0);
  EXPECT_TRUE(pluginIn(cyrillicData_));
  EXPECT_FALSE(pluginIn(install_));

  // Without a runtime the version cannot be read: nothing moves either.
  EXPECT_EQ(cleanUpPlugin(sender_, &log_, L"", install_, cyrillicData_), 0);
  EXPECT_TRUE(pluginIn(cyrillicData_));
}

TEST_F(UpgradeCleanupTest, FailedCopyKeepsTheOriginals) {
  FailingCopySender failing(&log_);
  EXPECT_EQ(cleanUpPlugin(failing, &log_, javaHome_, install_, cyrillicData_), 12);
  EXPECT_EQ(failing.names, std::vector<std::wstring>{L"COPY_COMMAND"});
  EXPECT_TRUE(pluginIn(cyrillicData_));
  EXPECT_TRUE(files::isFile(cyrillicData_ + L"\\plugins\\vxulrunner\\plugin.properties"));
  EXPECT_NE(testfiles::readFile(log_.path()).find("isNeedMoveXul: copy failed, result=5"), std::string::npos);
}

TEST_F(UpgradeCleanupTest, ContextReceivesTheFlags) {
  Log log = Log::atPath(dir_.path() + L"\\ctx.log");
  VexaInstallContext context(L"", &log);
  context.setOffers(new PinstallContainerComposited(context, &log));
  context.moveCheckFlags = 99;
  runUpgradeCleanup(context, javaHome_);
  EXPECT_EQ(context.moveCheckFlags, 0);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vexa");
}

}  // namespace
