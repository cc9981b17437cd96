// Reading campaigns without Windows: the date rule and its arithmetic, the
// install tests, texts by language, links, options, success codes, refused
// identifiers and over-long values, and grouping.
#include "pinstall/CampaignReader.h"

#include <gtest/gtest.h>

#include <limits>

#include "FakeInstallTestSystem.h"
#include "TestFiles.h"
#include "app/Log.h"
#include "formats/Json.h"

namespace {

constexpr int64_t kNow = 1700000000000;

class FakeEnvironment : public pinstall::CampaignEnvironment {
 public:
  std::map<std::wstring, std::wstring> dates;
  int language = 1033;
  pinstalltest::FakeInstallTestSystem system;

  std::wstring installDate(const std::wstring& id) override {
    auto it = dates.find(id);
    return it == dates.end() ? std::wstring() : it->second;
  }
  int64_t nowMs() override { return kNow; }
  int languageId() override { return language; }
  pinstall::InstallTestSystem& testSystem() override { return system; }
};

class CampaignReaderTest : public ::testing::Test {
 protected:
  std::vector<PinstallInfo> read(const std::wstring& json) {
    JsonValue campaigns = parseJson(json);
    return pinstall::readCampaigns(campaigns, env_, &log_, mode_);
  }
  std::string logText() { return testfiles::readFile(log_.path()); }

  testfiles::ScratchDir dir_;
  Log log_ = Log::atPath(dir_.path() + L"/campaigns.log");
  FakeEnvironment env_;
  std::wstring mode_;
};

std::wstring campaign(const std::wstring& id, const std::wstring& extra = L"") {
  return L"{\"pinstall\":\"" + id + L"\",\"options\":{\"main\":\"/m\"}" + (extra.empty() ? L"" : L"," + extra) + L"}";
}

std::wstring daysAgo(int64_t days) { return std::to_wstring(kNow - days * pinstall::kDayMs); }

}  // namespace

TEST_F(CampaignReaderTest, RecentlyInstalledOfferIsBusyUntilItsPeriodEnds) {
  env_.dates[L"p1"] = daysAgo(2);
  EXPECT_TRUE(read(L"[" + campaign(L"p1", L"\"checkPeriod\":7") + L"]").empty());
  EXPECT_EQ(mode_, L"pinstall: p1:busyreg");
  std::string log = logText();
  EXPECT_NE(log.find(" found pinstall: p1"), std::string::npos);
  EXPECT_NE(log.find("pinstall exist already"), std::string::npos);

  mode_.clear();
  EXPECT_EQ(read(L"[" + campaign(L"p1", L"\"checkPeriod\":0") + L"]").size(), 1u);
  EXPECT_EQ(mode_, L"pinstall: p1:free ");
  mode_.clear();
  EXPECT_EQ(read(L"[" + campaign(L"p1") + L"]").size(), 1u);  // missing period is 0
  mode_.clear();
  EXPECT_EQ(read(L"[" + campaign(L"p1", L"\"checkPeriod\":2") + L"]").size(), 1u);  // exactly now: not later
  // Never installed: offered whatever the period.
  mode_.clear();
  EXPECT_EQ(read(L"[" + campaign(L"p2", L"\"checkPeriod\":9999") + L"]").size(), 1u);
}

TEST_F(CampaignReaderTest, CheckPeriodAsStringCountsAndJunkIsZero) {
  env_.dates[L"p1"] = daysAgo(2);
  EXPECT_TRUE(read(L"[" + campaign(L"p1", L"\"checkPeriod\":\"7\"") + L"]").empty());
  EXPECT_EQ(read(L"[" + campaign(L"p1", L"\"checkPeriod\":\"x\"") + L"]").size(), 1u);
  EXPECT_TRUE(read(L"[" + campaign(L"p1", L"\"checkPeriod\":\" 7days\"") + L"]").empty());
  EXPECT_EQ(read(L"[" + campaign(L"p1", L"\"checkPeriod\":true") + L"]").size(), 1u);
  EXPECT_EQ(read(L"[" + campaign(L"p1", L"\"checkPeriod\":2.5") + L"]").size(), 1u);  // 2 days: due now
}

TEST_F(CampaignReaderTest, HugePeriodsSaturateInsteadOfOverflowing) {
  env_.dates[L"p1"] = daysAgo(2);
  EXPECT_TRUE(read(L"[" + campaign(L"p1", L"\"checkPeriod\":1e300") + L"]").empty());
  EXPECT_TRUE(read(L"[" + campaign(L"p1", L"\"checkPeriod\":\"99999999999999999999999\"") + L"]").empty());
  EXPECT_TRUE(read(L"[" + campaign(L"p1", L"\"checkPeriod\":\"106751991168\"") + L"]").empty());
  EXPECT_EQ(read(L"[" + campaign(L"p1", L"\"checkPeriod\":-1e300") + L"]").size(), 1u);
  EXPECT_EQ(read(L"[" + campaign(L"p1", L"\"checkPeriod\":\"-99999999999999999999\"") + L"]").size(), 1u);
  // A hostile stored date cannot overflow either.
  env_.dates[L"p1"] = L"9223372036854775807";
  EXPECT_TRUE(read(L"[" + campaign(L"p1", L"\"checkPeriod\":7") + L"]").empty());
  env_.dates[L"p1"] = L"-9223372036854775808";
  EXPECT_EQ(read(L"[" + campaign(L"p1", L"\"checkPeriod\":-7") + L"]").size(), 1u);

  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(pinstall::offerAgainAfterMs(kNow, kMax), kMax);
  EXPECT_EQ(pinstall::offerAgainAfterMs(kMax, 1), kMax);
  EXPECT_EQ(pinstall::offerAgainAfterMs(kMin, -1), kMin);
  EXPECT_EQ(pinstall::offerAgainAfterMs(0, 106751991168), kMax);  // just past the multiplication's range
  EXPECT_EQ(pinstall::offerAgainAfterMs(0, 106751991167), 106751991167 * pinstall::kDayMs);
  EXPECT_EQ(pinstall::textToInt64(L"9223372036854775807"), kMax);
  EXPECT_EQ(pinstall::textToInt64(L"9223372036854775808"), kMax);
  EXPECT_EQ(pinstall::textToInt64(L"-9223372036854775808"), kMin);
  EXPECT_EQ(pinstall::textToInt64(L"-9223372036854775809"), kMin);
}

TEST_F(CampaignReaderTest, SuccessCodesAlwaysHoldZero) {
  EXPECT_EQ(pinstall::parseSuccessCodes(L"3,5"), (std::vector<int>{3, 5, 0}));
  EXPECT_EQ(pinstall::parseSuccessCodes(L""), (std::vector<int>{0}));
  EXPECT_EQ(pinstall::parseSuccessCodes(L"0,3010"), (std::vector<int>{0, 3010}));
  EXPECT_EQ(pinstall::parseSuccessCodes(L",,4,"), (std::vector<int>{4, 0}));
  EXPECT_EQ(pinstall::parseSuccessCodes(L"-1, 7"), (std::vector<int>{-1, 7, 0}));
  auto offers = read(L"[" + campaign(L"p", L"\"success\":\"3,5\"") + L"]");
  ASSERT_EQ(offers.size(), 1u);
  EXPECT_EQ(offers[0].successCodes, (std::vector<int>{3, 5, 0}));
}

TEST_F(CampaignReaderTest, FieldsTextsLinksAndOptionsInTheChosenLanguage) {
  const std::wstring json = LR"([{"pinstall":"p","pparams":"/S ${main}","campaignId":"c-1","pinstallUrl":"http://h/p.exe",
    "imageUrl":"http://h/i.png",
    "messages":{"installer_title":{"ru":"Заголовок","uk":"Назва","en":"Title"},
                "a":{"en":"Option A"},"about":{"ru":"О","en":"About"},"nolang":{"ru":"только"}},
    "info":"{\"groupId\":\"g\",\"links\":[{\"href\":\"http://h/about\",\"text\":\"about\"},{\"href\":\"http://h/x\",\"text\":\"missing\"},{\"href\":\"http://h/n\",\"text\":\"nolang\"},7]}",
    "options":{"b":{"on":"/b","off":"/nob","dependsOn":"a"},"a":"/a","n":5}}])";
  auto offers = read(json);
  ASSERT_EQ(offers.size(), 1u);
  const PinstallInfo& info = offers[0];
  EXPECT_EQ(info.id, L"p");
  EXPECT_EQ(info.params, L"/S ${main}");
  EXPECT_EQ(info.campaignId, L"c-1");
  EXPECT_EQ(info.url, L"http://h/p.exe");
  EXPECT_EQ(info.imageUrl, L"http://h/i.png");
  EXPECT_EQ(info.offerDate, std::to_wstring(kNow));
  EXPECT_EQ(info.groupId, L"g");
  EXPECT_EQ(info.title, L"Title");
  ASSERT_EQ(info.links.size(), 2u);
  EXPECT_EQ(info.links[0].href, L"http://h/about");
  EXPECT_EQ(info.links[0].label, L"About");
  EXPECT_EQ(info.links[1].href, L"http://h/n");
  EXPECT_EQ(info.links[1].label, L"");
  // Options come in the reader's member order, by name; a number is no option.
  ASSERT_EQ(info.options.size(), 2u);
  EXPECT_EQ(info.options[0].name, L"a");
  EXPECT_EQ(info.options[0].label, L"Option A");
  EXPECT_EQ(info.options[0].on, L"/a");
  EXPECT_EQ(info.options[0].off, L"");
  EXPECT_TRUE(info.options[0].chosen);
  EXPECT_EQ(info.options[1].name, L"b");
  EXPECT_EQ(info.options[1].label, L"b");
  EXPECT_EQ(info.options[1].off, L"/nob");
  EXPECT_EQ(info.options[1].dependsOn, L"a");
  EXPECT_EQ(info.successCodes, std::vector<int>{0});
  std::string log = logText();
  EXPECT_NE(log.find("vv-parse options--"), std::string::npos);
  EXPECT_NE(log.find("  b=onOpt:/b offOpt:/nob"), std::string::npos);
  EXPECT_NE(log.find("^^-parse options--"), std::string::npos);
  EXPECT_NE(log.find("^^^-parse pinstall list--"), std::string::npos);

  env_.language = 1049;
  EXPECT_EQ(read(json)[0].title, L"Заголовок");
  EXPECT_EQ(read(json)[0].links[1].label, L"только");
  env_.language = 1058;
  EXPECT_EQ(read(json)[0].title, L"Назва");
  EXPECT_EQ(read(json)[0].links[0].label, L"");  // no "uk" text: the link stays, its label is empty
  env_.language = 1059;
  EXPECT_EQ(read(json)[0].title, L"Title");
}

TEST_F(CampaignReaderTest, MissingOptionsObjectKeepsTheOfferWithoutOptions) {
  auto offers = read(LR"([{"pinstall":"p","options":"x"}])");
  ASSERT_EQ(offers.size(), 1u);
  EXPECT_TRUE(offers[0].options.empty());
  EXPECT_NE(logText().find("Json node 'options' not found"), std::string::npos);
}

TEST_F(CampaignReaderTest, InstallTestDecidesAndItsIndexIsReported) {
  env_.system.paths[L"C:\\windows\\x.exe"] = pinstall::PathKind::kFile;
  std::wstring tests = LR"("installTest":"[{\"type\":\"file_exist\",\"path\":\"C:\\\\none\"},{\"type\":\"file_exist\",\"path\":\"${windir}\\\\x.exe\"}]")";
  EXPECT_TRUE(read(L"[" + campaign(L"t", tests) + L"]").empty());
  EXPECT_EQ(mode_, L"pinstall: t:test1");
  EXPECT_NE(logText().find("InstallTest is true, skip pinstall"), std::string::npos);

  mode_.clear();
  EXPECT_EQ(read(L"[" + campaign(L"t", LR"("installTest":"[]")") + L"]").size(), 1u);
  EXPECT_NE(logText().find("InstallTest is false, can be installed"), std::string::npos);
  // Not a string: no test at all.
  EXPECT_EQ(read(L"[" + campaign(L"t", LR"("installTest":[{"type":"not_correct_ver"}])") + L"]").size(), 1u);
}

TEST_F(CampaignReaderTest, UnusableIdentifiersAreRefusedWholeWithAnError) {
  const std::wstring longest(63, L'i');
  auto offers = read(L"[" + campaign(L"") + L"," + campaign(std::wstring(64, L'i')) + L"," +
                     campaign(L"..\\\\..\\\\Run") + L"," + campaign(L"a\x01" L"b") + L"," + campaign(L"a\\nb") +
                     L"," + campaign(longest) + L"]");
  ASSERT_EQ(offers.size(), 1u);
  EXPECT_EQ(offers[0].id, longest);
  EXPECT_EQ(mode_, L"pinstall: " + longest + L":free ");
  std::string log = logText();
  size_t errors = 0;
  for (size_t pos = 0; (pos = log.find("Skip pinstall with an unusable identifier", pos)) != std::string::npos; ++pos)
    ++errors;
  EXPECT_EQ(errors, 5u);
  EXPECT_FALSE(pinstall::isUsableOfferId(L"a\x7f"));
  EXPECT_TRUE(pinstall::isUsableOfferId(L"a/b c"));
}

TEST_F(CampaignReaderTest, ValuesWiderThanTheRecordSkipTheCampaign) {
  auto field = [](const wchar_t* name, size_t n) {
    return L"\"" + std::wstring(name) + L"\":\"" + std::wstring(n, L'v') + L"\"";
  };
  EXPECT_EQ(read(L"[" + campaign(L"a", field(L"pparams", 1023) + L"," + field(L"pinstallUrl", 259) + L"," +
                                            field(L"campaignId", 63)) + L"]").size(), 1u);
  EXPECT_TRUE(read(L"[" + campaign(L"a", field(L"pparams", 1024)) + L"]").empty());
  EXPECT_TRUE(read(L"[" + campaign(L"a", field(L"pinstallUrl", 260)) + L"]").empty());
  EXPECT_TRUE(read(L"[" + campaign(L"a", field(L"campaignId", 64)) + L"]").empty());
  std::string log = logText();
  EXPECT_NE(log.find("ERROR"), std::string::npos);
  EXPECT_NE(log.find("pinstallUrl longer than 259 characters"), std::string::npos);
}

TEST_F(CampaignReaderTest, EmptyArrayAndNonObjects) {
  EXPECT_TRUE(read(L"[]").empty());
  EXPECT_EQ(mode_, L"");
  EXPECT_NE(logText().find("pinstallArray is null"), std::string::npos);
  EXPECT_EQ(read(L"[1,\"x\"," + campaign(L"ok") + L"]").size(), 1u);
}

TEST(PinstallGroups, SharedGroupIdsFormOneGroupOthersAreNamedByTheirId) {
  std::vector<std::unique_ptr<Pinstall>> owned;
  auto make = [&](const wchar_t* id, const wchar_t* group) {
    PinstallInfo info;
    info.id = id;
    info.groupId = group;
    owned.push_back(std::make_unique<Pinstall>(std::move(info), nullptr, nullptr));
    return owned.back().get();
  };
  std::vector<Pinstall*> offers{make(L"a", L"g"), make(L"b", L""), make(L"c", L"g"), make(L"g", L"")};
  auto groups = pinstall::groupOffers(offers);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].name, L"g");
  ASSERT_EQ(groups[0].pinstalls.size(), 3u);  // an offer whose id equals a group id joins it
  EXPECT_EQ(groups[0].pinstalls[1]->info().id, L"c");
  EXPECT_EQ(groups[1].name, L"b");
}
