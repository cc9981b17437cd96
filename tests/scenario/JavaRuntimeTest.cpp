// The portable half of the runtime choice and the plug-in move check: version
// texts and their orders, the choice over a hand-made machine, "java.json",
// and the move-check flags.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "TestFiles.h"
#include "app/Log.h"
#include "scenario/JavaVersion.h"
#include "scenario/JvmChooser.h"
#include "scenario/PluginMoveCheck.h"
#include "scenario/RuntimeParameters.h"

namespace {

TEST(JavaVersion, ParseTakesFeatureAndUpdateOnlyFromTheFullPattern) {
  JavaVersion v = parseJavaVersion(L"1.8.0_251");
  EXPECT_EQ(v.text, L"1.8.0_251");
  EXPECT_EQ(v.feature, 8);
  EXPECT_EQ(v.update, 251);
  v = parseJavaVersion(L"1.7.0_80-b15");
  EXPECT_EQ(v.feature, 7);
  EXPECT_EQ(v.update, 80);
  for (const wchar_t* partial : {L"1.6", L"10", L"", L"1.8.0", L"1.x.0_5"}) {
    v = parseJavaVersion(partial);
    EXPECT_EQ(v.text, partial);
    EXPECT_EQ(v.feature, 0) << text::wideToUtf8(partial);
    EXPECT_EQ(v.update, 0) << text::wideToUtf8(partial);
  }
  // Digits beyond any real version must not overflow the conversion.
  EXPECT_EQ(parseJavaVersion(L"1.99999999999999999999.0_1").feature, 99999);
}

TEST(JavaVersion, ReportGivesTheQuotedLegacyVersionOnly) {
  const std::wstring report =
      L"java version \"1.8.0_251\"\nJava(TM) SE Runtime Environment (build 1.8.0_251-b08)\n";
  EXPECT_EQ(versionFromReport(report), L"1.8.0_251");
  EXPECT_EQ(versionFromReport(L"java version \"1.6.0_45\""), L"1.6.0_45");
  // The pattern's "1." takes any character after the 1, so later runtimes read too.
  EXPECT_EQ(versionFromReport(L"java version \"10.0.2\" 2018-07-17"), L"10.0.2");
  EXPECT_EQ(versionFromReport(L"java version \"9\""), L"");
  EXPECT_EQ(versionFromReport(L"openjdk version \"1.8.0_252\""), L"");
  EXPECT_EQ(versionFromReport(L""), L"");
}

TEST(JavaVersion, TheLeftmostCompleteVersionWinsAndEveryPartNeedsADigit) {
  JavaVersion v = parseJavaVersion(L"1.x 1.2. 1.3.4_ 1.8.0_25 1.9.0_1");
  EXPECT_EQ(v.feature, 8);
  EXPECT_EQ(v.update, 25);
  v = parseJavaVersion(L"jre11.8.0_5b");  // not anchored: the match starts inside "11"
  EXPECT_EQ(v.feature, 8);
  EXPECT_EQ(v.update, 5);
  for (const wchar_t* partial : {L"1..0_5", L"1.8._5", L"1.8.0_", L"1.8.0-5", L"1.8"}) {
    EXPECT_EQ(parseJavaVersion(partial).feature, 0) << text::wideToUtf8(partial);
  }
  EXPECT_EQ(versionFromReport(L"java version \"9\" java version \"1.7.0_80\""), L"1.7.0_80");
  EXPECT_EQ(versionFromReport(L"java version \"1.8.0_2"), L"1.8.0_2");  // cut off before its quote
  EXPECT_EQ(versionFromReport(L"java version \"1.\""), L"");            // nothing after "1."
  EXPECT_EQ(versionFromReport(L"java version \"1\n8\""), L"");          // a line end after the 1
  EXPECT_EQ(versionFromReport(L"java version \"1\"8\""), L"1\"8");
}

TEST(JavaVersion, OldestAcceptedComparesCharacterByCharacter) {
  EXPECT_TRUE(isOlderThanOldestAccepted(L"1.5.0"));
  EXPECT_TRUE(isOlderThanOldestAccepted(L"1.5.9_99"));
  EXPECT_TRUE(isOlderThanOldestAccepted(L""));   // a runtime that told nothing
  EXPECT_TRUE(isOlderThanOldestAccepted(L"1."));  // a prefix of "1.6" is smaller
  EXPECT_FALSE(isOlderThanOldestAccepted(L"1.6"));
  EXPECT_FALSE(isOlderThanOldestAccepted(L"1.6.0_45"));
  EXPECT_FALSE(isOlderThanOldestAccepted(L"1.7.0_80"));
  EXPECT_FALSE(isOlderThanOldestAccepted(L"10"));  // '.' sorts below '0'
}

TEST(JavaVersion, ComparableTextOrdersAsJavaVersions) {
  const std::vector<std::wstring> ascending = {L"1.6",      L"1.6.0_45", L"1.7.0_80", L"1.8.0_45",
                                               L"1.8.0_251", L"10",      L"10.0.2",   L"11.0.1"};
  for (size_t i = 0; i + 1 < ascending.size(); ++i) {
    EXPECT_LT(comparableVersion(ascending[i]), comparableVersion(ascending[i + 1]))
        << text::wideToUtf8(ascending[i]) << " < " << text::wideToUtf8(ascending[i + 1]);
  }
  EXPECT_EQ(comparableVersion(L"1.8.0_251"), comparableVersion(L"1.8.0_251-b08"));
  EXPECT_EQ(comparableVersion(L"1.8"), comparableVersion(L"8"));
  EXPECT_EQ(comparableVersion(L"none"), L"");
  EXPECT_EQ(comparableVersion(L""), L"");
}

TEST(JvmInfo, DescriptionListsEveryFieldInOrder) {
  JVMInfo jvm{L"JRE", L"C:\\j\\bin\\client", L"1.6", L"00006.00000.00000", L"C:\\j\\bin\\client\\jvm.dll",
              L"C:\\j", L"C:\\j", true};
  EXPECT_EQ(jvm.description(),
            L"m_jvmPath=C:\\j\\bin\\client\\jvm.dll,m_javaBundle=JRE,m_binJvmDir=C:\\j\\bin\\client,"
            L"m_comparableVersion=00006.00000.00000,m_javaHomePath=C:\\j,m_version=1.6,m_jrePath=C:\\j,"
            L"m_acceptable=true");
  jvm.m_acceptable = false;
  EXPECT_NE(jvm.description().find(L",m_acceptable=false"), std::wstring::npos);
}

TEST(RuntimeParameters, JavaJsonOverridesOnlyWhatItCarries) {
  RuntimeParameters full(L"http://r/jre_packed.ebz");
  EXPECT_TRUE(full.apply(L"{\"packedJreEbzUrl\":\"http://cdn/j.ebz\",\"minVersion\":\"1.8.0_251\",\"x\":1}"));
  EXPECT_EQ(full.packUrl(), L"http://cdn/j.ebz");
  EXPECT_EQ(full.minVersion().feature, 8);
  EXPECT_EQ(full.minVersion().update, 251);

  RuntimeParameters noUrl(L"http://r/jre_packed.ebz");
  EXPECT_TRUE(noUrl.apply(L"{\"minVersion\":\"1.7.0_80\"}"));
  EXPECT_EQ(noUrl.packUrl(), L"http://r/jre_packed.ebz");
  EXPECT_EQ(noUrl.minVersion().text, L"1.7.0_80");

  RuntimeParameters notObject(L"http://r/jre_packed.ebz");
  EXPECT_FALSE(notObject.apply(L"[\"packedJreEbzUrl\",\"http://evil/\"]"));
  EXPECT_FALSE(notObject.apply(L"<html>502</html>"));
  EXPECT_FALSE(notObject.apply(L""));
  EXPECT_EQ(notObject.packUrl(), L"http://r/jre_packed.ebz");
  EXPECT_TRUE(notObject.minVersion().text.empty());

  RuntimeParameters wrongType(L"http://r/jre_packed.ebz");
  EXPECT_TRUE(wrongType.apply(L"{\"packedJreEbzUrl\":5,\"minVersion\":{}}"));
  EXPECT_EQ(wrongType.packUrl(), L"http://r/jre_packed.ebz");
}

// A machine described by hand: registered runtimes, an optional private one,
// files that exist, and the architecture each Java home reports.
class FakeMachine : public JvmDiscovery {
 public:
  std::vector<JVMInfo> registryRuntimes() override {
    ++registryReads;
    return registered;
  }
  bool privateRuntime(const std::wstring& location, JVMInfo& runtime) override {
    privateAsked = location;
    if (privateVersion.empty()) return false;
    runtime = JVMInfo();
    runtime.m_javaBundle = kPrivateBundle;
    runtime.m_javaHomePath = location + L"\\jre";
    runtime.m_version = privateVersion;
    return true;
  }
  bool isFile(const std::wstring& path) override { return filesPresent.count(path) > 0; }
  bool readFile(const std::wstring& path, std::string& bytes) override {
    auto it = contents.find(path);
    if (it == contents.end()) return false;
    bytes = it->second;
    return true;
  }
  int runArchitectureProbe(const std::wstring& javaHome, const std::wstring&) override {
    probed.push_back(javaHome);
    auto it = arch.find(javaHome);
    return it == arch.end() ? 32 : it->second;
  }

  // A registered JRE at home with a client JVM.
  void addJre(const std::wstring& home, const std::wstring& version, int bits = 32,
              const wchar_t* bundle = kJreBundle) {
    registered.push_back(JVMInfo{bundle, L"", version, L"", L"", home, L"", false});
    filesPresent.insert(home + L"\\bin\\client\\jvm.dll");
    arch[home] = bits;
  }

  std::vector<JVMInfo> registered;
  std::wstring privateVersion;
  std::wstring privateAsked;
  std::set<std::wstring> filesPresent;
  std::map<std::wstring, std::string> contents;
  std::map<std::wstring, int> arch;
  std::vector<std::wstring> probed;
  int registryReads = 0;
};

class ChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.filesPresent.insert(kJar);
    machine_.contents[kJar] = std::string("PK\x03\x04junk") + JVMChooser::kArchClassEntry + "more";
  }
  std::string logText() { return testfiles::readFile(log_.path()); }
  size_t count(const std::string& needle) {
    std::string text = logText();
    size_t n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
    return n;
  }
  bool choose(const std::wstring& privateLocation = L"") {
    JVMChooser chooser(&log_, machine_, kJar);
    return chooser.choose(privateLocation, props_);
  }

  const std::wstring kJar = L"C:\\Vexa\\utils.jar";
  testfiles::ScratchDir dir_;
  Log log_ = Log::atPath(dir_.path() + L"/chooser.log");
  FakeMachine machine_;
  JVMProperties props_;
};

TEST_F(ChooserTest, RegistryNamesOlderThanOneSixAreRejectedAndTheHighestOfTheRestWins) {
  machine_.addJre(L"C:\\j150", L"1.5.0");
  machine_.addJre(L"C:\\j16", L"1.6");
  machine_.addJre(L"C:\\j1645", L"1.6.0_45");
  machine_.addJre(L"C:\\j10", L"10");
  ASSERT_TRUE(choose());
  EXPECT_EQ(props_.choice.m_version, L"10");
  EXPECT_EQ(props_.choice.m_javaHomePath, L"C:\\j10");
  EXPECT_EQ(props_.choice.m_jvmPath, L"C:\\j10\\bin\\client\\jvm.dll");
  ASSERT_EQ(props_.candidates.size(), 3u);
  std::set<std::wstring> kept;
  for (const JVMInfo& jvm : props_.candidates) kept.insert(jvm.m_version);
  EXPECT_EQ(kept, (std::set<std::wstring>{L"1.6", L"1.6.0_45", L"10"}));
  EXPECT_EQ(count("Java is old"), 1u);
  EXPECT_EQ(count("ERROR") , 2u);  // the version, then "Java is old"
  EXPECT_EQ(count("Remove:m_jvmPath=,m_javaBundle=JRE"), 1u);
  // An old runtime is not run at all.
  EXPECT_EQ(std::count(machine_.probed.begin(), machine_.probed.end(), L"C:\\j150"), 0);
}

TEST_F(ChooserTest, ArchitectureProbeDecidesOnlyWhenTheArchiveHoldsTheClass) {
  machine_.addJre(L"C:\\j64", L"1.8.0_251", 64);
  machine_.addJre(L"C:\\j32", L"1.7.0_80", 32);
  ASSERT_TRUE(choose());
  EXPECT_EQ(props_.choice.m_javaHomePath, L"C:\\j32");
  EXPECT_EQ(count("JavaArch.class found"), 2u);

  // Without the class, or without the archive, every runtime passes.
  machine_.contents[kJar] = "PK\x03\x04 nothing here";
  ASSERT_TRUE(choose());
  EXPECT_EQ(props_.choice.m_javaHomePath, L"C:\\j64");
  EXPECT_EQ(count("JavaArch.class NOT FOUND"), 2u);
  machine_.filesPresent.erase(kJar);
  machine_.probed.clear();
  ASSERT_TRUE(choose());
  EXPECT_EQ(props_.choice.m_javaHomePath, L"C:\\j64");
  EXPECT_TRUE(machine_.probed.empty());
  EXPECT_NE(logText().find("C:\\Vexa\\utils.jar not found"), std::string::npos);
}

TEST_F(ChooserTest, OnlySixtyFourBitRuntimesMeansNoneIsChosen) {
  machine_.addJre(L"C:\\j64", L"1.8.0_251", 64);
  EXPECT_FALSE(choose());
  EXPECT_FALSE(props_.chosen);
  EXPECT_TRUE(props_.candidates.empty());
  EXPECT_NE(logText().find("ERROR : [DEF] : No acceptable JVMs were found."), std::string::npos) << logText();
}

TEST_F(ChooserTest, DuplicateHomesKeepTheFirstRegistration) {
  machine_.addJre(L"C:\\jdk", L"1.8.0_45", 32, kJdkBundle);
  machine_.addJre(L"C:\\jdk", L"1.8.0_45", 32, kJreBundle);
  ASSERT_TRUE(choose());
  EXPECT_EQ(count("RemoveCopy:"), 1u);
  EXPECT_NE(logText().find("RemoveCopy:m_jvmPath=,m_javaBundle=JRE"), std::string::npos);
  ASSERT_EQ(props_.candidates.size(), 1u);
  EXPECT_EQ(props_.choice.m_javaBundle, L"JDK");
}

TEST_F(ChooserTest, ClientAndServerSplitAndAJvmlessRuntimeIsRemoved) {
  machine_.addJre(L"C:\\both", L"1.8.0_45");
  machine_.filesPresent.insert(L"C:\\both\\bin\\server\\jvm.dll");
  machine_.addJre(L"C:\\none", L"1.8.0_251");
  machine_.filesPresent.erase(L"C:\\none\\bin\\client\\jvm.dll");
  // A JDK keeps its JVMs in its own "jre".
  machine_.registered.push_back(JVMInfo{kJdkBundle, L"", L"1.7.0_80", L"", L"", L"C:\\jdk", L"", false});
  machine_.filesPresent.insert(L"C:\\jdk\\jre\\bin\\java.exe");
  machine_.filesPresent.insert(L"C:\\jdk\\jre\\bin\\server\\jvm.dll");
  ASSERT_TRUE(choose());
  ASSERT_EQ(props_.candidates.size(), 3u);
  EXPECT_EQ(props_.candidates[0].m_binJvmDir, L"C:\\both\\bin\\client");
  EXPECT_EQ(props_.candidates[1].m_binJvmDir, L"C:\\both\\bin\\server");
  EXPECT_EQ(props_.candidates[2].m_jrePath, L"C:\\jdk\\jre");
  EXPECT_EQ(props_.candidates[2].m_jvmPath, L"C:\\jdk\\jre\\bin\\server\\jvm.dll");
  // Equal versions: the earlier (client) candidate stays the choice.
  EXPECT_EQ(props_.choice.m_binJvmDir, L"C:\\both\\bin\\client");
  EXPECT_TRUE(props_.choice.m_acceptable);
  EXPECT_NE(logText().find("Remove:m_jvmPath=,m_javaBundle=JRE,m_binJvmDir=,m_comparableVersion=,m_javaHomePath="
                           "C:\\none"),
            std::string::npos);
}

TEST_F(ChooserTest, PrivateLocationLooksAtThePrivateRuntimeOnly) {
  machine_.addJre(L"C:\\j10", L"10");
  machine_.privateVersion = L"1.8.0_251";
  machine_.filesPresent.insert(L"C:\\Vexa\\jre\\bin\\client\\jvm.dll");
  ASSERT_TRUE(choose(L"C:\\Vexa"));
  EXPECT_EQ(machine_.registryReads, 0);
  EXPECT_EQ(machine_.privateAsked, L"C:\\Vexa");
  EXPECT_EQ(props_.choice.m_javaBundle, L"private");
  EXPECT_EQ(props_.choice.m_version, L"1.8.0_251");

  // A private runtime that reported no version is rejected as old.
  machine_.privateVersion = L"";
  EXPECT_FALSE(choose(L"C:\\Vexa"));
  std::string text = logText();
  for (const char* step : {"getJvmFromCustomJvmPath", "getJvmFromCustomJavaHomePath", "getAllJVMs", "addJVMToAllList",
                           "removeCopyBinJvmDirs", "breakoutBinJvmDirs", "determineVersions",
                           "removeUnacceptableJVMs"}) {
    EXPECT_NE(text.find(step), std::string::npos) << step;
  }
}

// File sizes of a hand-made data folder.
struct Sizes {
  std::map<std::wstring, uint64_t> files;
  uint64_t operator()(const std::wstring& path) const {
    auto it = files.find(path);
    return it == files.end() ? 0 : it->second;
  }
};

TEST(PluginMoveCheck, FlagsFollowTheChecksInOrder) {
  const std::wstring cyrillicData = L"C:\\Users\\\x0418\x0432\x0430\x043D\\AppData\\Roaming\\Vexa";
  const std::wstring plainData = L"C:\\Users\\ivan\\AppData\\Roaming\\Vexa";
  Sizes sizes;
  sizes.files[cyrillicData + L"\\plugins\\vxulrunner\\plugin.properties"] = 30;
  MoveCheckFlags flags;

  EXPECT_TRUE(isNeedMoveXul(1100, cyrillicData, L"C:\\PROGRA~1\\Vexa", sizes, flags, nullptr));
  EXPECT_EQ(flags.value(), 12);

  flags = MoveCheckFlags();
  EXPECT_FALSE(isNeedMoveXul(1100, cyrillicData, L"C:\\\x041F\x0440\x043E\x0433\\Vexa", sizes, flags, nullptr));
  EXPECT_EQ(flags.value(), 14);

  flags = MoveCheckFlags();
  EXPECT_FALSE(isNeedMoveXul(1100, plainData, L"C:\\PROGRA~1\\Vexa", sizes, flags, nullptr));
  EXPECT_EQ(flags.value(), 0);

  // 1031 is the last build that needs nothing; 1032 is the first that moves.
  flags = MoveCheckFlags();
  EXPECT_FALSE(isNeedMoveXul(1031, cyrillicData, L"C:\\PROGRA~1\\Vexa", sizes, flags, nullptr));
  EXPECT_EQ(flags.value(), 0);
  flags = MoveCheckFlags();
  EXPECT_TRUE(isNeedMoveXul(1032, cyrillicData, L"C:\\PROGRA~1\\Vexa", sizes, flags, nullptr));
  // A runtime that could not run gives a negative code: nothing moves.
  flags = MoveCheckFlags();
  EXPECT_FALSE(isNeedMoveXul(-5, cyrillicData, L"C:\\PROGRA~1\\Vexa", sizes, flags, nullptr));
}

TEST(PluginMoveCheck, PropertiesOfEitherPluginFolderCountAndEmptyOnesDoNot) {
  const std::wstring data = L"C:\\\x0414\x0430\x043D\x043D\x044B\x0435";
  Sizes sizes;
  sizes.files[data + L"\\plugins\\vxulrunner\\plugin.properties"] = 0;
  MoveCheckFlags flags;
  EXPECT_FALSE(isNeedMoveXul(1100, data, L"C:\\Vexa", sizes, flags, nullptr));
  EXPECT_EQ(flags.value(), 8);
  sizes.files[data + L"\\plugins\\vxulrunner10\\plugin.properties"] = 1;
  flags = MoveCheckFlags();
  EXPECT_TRUE(isNeedMoveXul(1100, data, L"C:\\Vexa", sizes, flags, nullptr));
  EXPECT_EQ(flags.value(), 12);
  // DEL and characters below the blank are outside printable ASCII too.
  flags = MoveCheckFlags();
  EXPECT_TRUE(isNeedMoveXul(1100, L"C:\\a\x7F", L"C:\\Vexa", Sizes{{{L"C:\\a\x7F\\plugins\\vxulrunner10\\plugin.properties", 9}}},
                            flags, nullptr));
}

}  // namespace
