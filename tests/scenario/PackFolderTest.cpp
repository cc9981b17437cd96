// A layout's folder as the first host of a pack: its manifest, and what the
// downloader makes of a copy that is sound, missing or damaged there.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "app/Log.h"
#include "download/DownloadOutput.h"
#include "download/FakeSite.h"
#include "download/RecordingListener.h"
#include "download/TestBodies.h"
#include "formats/Md5.h"
#include "scenario/PackFolder.h"
#include "scenario/PackSources.h"

using namespace download;
using namespace download::testing_site;

namespace {

TEST(PackFolderManifest, ReadsBackWhatItWritesAndDropsWhatItCannotVouchFor) {
  packfolder::Manifest written;
  written.entries.push_back({L"vexa8z", L"Vexa.ebz", 3000000000LL, std::wstring(32, L'a'), L"http://h/Vexa.ebz"});
  written.entries.push_back({L"vexa8z_sig", L"Vexa.ebz.sig", 87, std::wstring(32, L'0'), L"http://h/\"q\".sig"});
  packfolder::Manifest read;
  ASSERT_TRUE(packfolder::parseManifest(packfolder::manifestText(written), &read));
  ASSERT_EQ(read.entries.size(), 2u);
  EXPECT_EQ(read.entries[0].length, 3000000000LL) << "lengths past 32 bits survive";
  EXPECT_TRUE(read.entries[1].source == L"http://h/\"q\".sig");
  ASSERT_NE(read.find(L"vexa.EBZ"), nullptr) << "file names compare as the file system does";
  EXPECT_EQ(read.find(L"appdata.ebz"), nullptr);

  const wchar_t* hostile = LR"({"files": [
      {"name": "a", "file": "..\\x.ebz", "length": 1, "md5": "00000000000000000000000000000000"},
      {"name": "b", "file": "b.ebz", "length": 1, "md5": "0000000000000000000000000000000G"},
      {"name": "c", "file": "c.ebz", "length": -1, "md5": "00000000000000000000000000000000"},
      {"name": "d", "file": "d.ebz", "length": "1", "md5": "00000000000000000000000000000000"},
      {"name": "e", "file": "e.ebz", "length": 5, "md5": "0123456789abcdef0123456789abcdef"}]})";
  ASSERT_TRUE(packfolder::parseManifest(hostile, &read));
  ASSERT_EQ(read.entries.size(), 1u);
  EXPECT_TRUE(read.entries[0].file == L"e.ebz");
  EXPECT_FALSE(packfolder::parseManifest(L"[]", &read));
  EXPECT_FALSE(packfolder::parseManifest(L"{\"layout\": 1}", &read));
}

TEST(PackFolderManifest, FolderAddressesAndTheirFiles) {
  EXPECT_TRUE(packfolder::isFolderAddress(L"\\\\server\\share\\vexa\\Vexa.ebz"));
  EXPECT_TRUE(packfolder::isFolderAddress(L"D:\\packs\\Vexa.ebz"));
  EXPECT_FALSE(packfolder::isFolderAddress(L"http://h/Vexa.ebz"));
  EXPECT_FALSE(packfolder::isFolderAddress(L""));
#ifdef _WIN32
  EXPECT_EQ(packfolder::inFolder(L"\\\\server\\share\\vexa\\", L"http://h/p/Vexa.ebz?v=1"),
            L"\\\\server\\share\\vexa\\Vexa.ebz");
#else
  EXPECT_EQ(packfolder::inFolder(L"/srv/vexa/", L"http://h/p/Vexa.ebz?v=1"), L"/srv/vexa/Vexa.ebz");
#endif
  EXPECT_EQ(packfolder::inFolder(L"/srv/vexa", L"http://h/"), L"");
}

class PackFolderInstall : public ::testing::Test {
 public:
  void SetUp() override {
    body = pattern(300000, 5);
    network.body = body;
    network.contentMd5 = text::toWide(md5Hex(body.data(), body.size()));
    testfiles::writeFile(copy, body);
    manifest = std::make_shared<packfolder::Manifest>();
    manifest->entries.push_back({L"vexa8z", L"Vexa.ebz", static_cast<long long>(body.size()), network.contentMd5,
                                 L"http://net/Vexa.ebz"});
  }

  bool run() {
    listener = std::make_unique<RecordingListener>();
    auto file = std::make_shared<FileDownloadOutput>(target, true);
    packsources::PackFailover::Settings settings;
    settings.name = L"vexa8z";
    settings.sources = {copy, L"http://net/Vexa.ebz"};
    settings.connections = packfolder::withFolders(fakeConnections(network), manifest);
    settings.timing = noPauses();
    settings.log = &log;
    settings.listener = listener.get();
    failover = std::make_unique<packsources::PackFailover>(
        settings, std::make_shared<packsources::PackSourceOutput>(file, L"http://net/Vexa.ebz", false));
    failover->start();
    return failover->wait(60000);
  }

  std::string body;
  FakeSite network;
  testfiles::ScratchDir scratch;
  std::wstring folder = scratch.path() + L"/layout";
  std::wstring copy = scratch.path() + L"/Vexa.ebz";
  std::wstring target = scratch.path() + L"/target.ebz";
  std::shared_ptr<packfolder::Manifest> manifest;
  Log log = Log::atPath(scratch.path() + L"/dl.log");
  std::unique_ptr<RecordingListener> listener;
  std::unique_ptr<packsources::PackFailover> failover;
};

TEST_F(PackFolderInstall, ASoundCopyIsTakenAndNothingIsFetched) {
  ASSERT_TRUE(run());
  EXPECT_EQ(failover->servedIndex(), 0);
  EXPECT_TRUE(network.opened.empty()) << "no request reached the network";
  EXPECT_TRUE(testfiles::readFile(target) == body);
}

TEST_F(PackFolderInstall, ACopyTheManifestDoesNotNameIsNotTrusted) {
  manifest->entries.clear();
  ASSERT_TRUE(run());
  EXPECT_EQ(failover->servedIndex(), 1);
  EXPECT_TRUE(testfiles::readFile(target) == body);
}

TEST_F(PackFolderInstall, ADamagedCopyIsFetchedFromTheNetwork) {
  std::string damaged = body;
  damaged[150000] ^= 0x40;
  testfiles::writeFile(copy, damaged);
  ASSERT_TRUE(run());
  EXPECT_EQ(failover->servedIndex(), 1);
  EXPECT_TRUE(testfiles::readFile(target) == body);
  EXPECT_TRUE(listener->failures().empty());
}

TEST_F(PackFolderInstall, ADamagedCopyWithoutNetworkFailsAsDamaged) {
  std::string damaged = body;
  damaged[10] ^= 0x01;
  testfiles::writeFile(copy, damaged);
  network.refuseOpens = 1000;
  EXPECT_FALSE(run());
  ASSERT_EQ(listener->failures().size(), 1u);
  EXPECT_EQ(listener->failures()[0], L"MD5 mismatch") << "the folder's fault, not the absent network's";
}

TEST_F(PackFolderInstall, AMissingCopyWithoutNetworkFailsAsTheNetwork) {
  std::remove(testfiles::narrow(copy).c_str());
  network.refuseOpens = 1000;
  EXPECT_FALSE(run());
  ASSERT_EQ(listener->failures().size(), 1u);
  EXPECT_EQ(listener->failures()[0], L"Can't open connection");
}

}  // namespace
