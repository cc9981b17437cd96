// Start answers checked against the installer's own JSON reader when the
// config is loaded.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "StartAnswer.h"
#include "app/Text.h"
#include "formats/Json.h"

namespace {

// What the installer takes from a start answer: the verdict, the install
// data read a second time from its string, and the campaigns.
struct ReadAnswer {
  std::wstring idState, initxml, tail;
  JsonValue campaigns;
};

ReadAnswer readAsTheInstallerDoes(const std::string& body) {
  JsonValue root = parseJson(text::utf8ToWide(body));
  JsonValue& data = root.member(L"data");
  ReadAnswer r;
  r.idState = data.member(L"idState").asString();
  JsonValue install = parseJson(data.member(L"installData").asString());
  r.initxml = install.member(L"initxml").asString();
  r.tail = install.member(L"tail").asString();
  r.campaigns = data.member(L"campaigns");
  return r;
}

// Values a plain JSON writer produces but a lenient reader may not take
// back. Whatever the reader of the day manages, a config holding one is
// either refused with a message naming the member, or served so that the
// installer reads it back whole: never served half-read.
TEST(StartAnswerReadBack, ServesOnlyWhatTheInstallersReaderReadsBack) {
  struct Case {
    const char* config;
    const char* member;      // named in the refusal
    const char* tail;        // what the installer must read when served
  } cases[] = {
      {R"({"default": {"idState": "free", "tail": "<installer dir=\"C:\\Apps\\\\\"/>C:\\Apps\\"}})", "default.tail",
       "<installer dir=\"C:\\Apps\\\\\"/>C:\\Apps\\"},
      {R"({"installKeys": {"k": {"idState": "free", "tail": "C:\\Apps\\"}}})", "k.tail", "C:\\Apps\\"},
      {R"({"default": {"idState": "free", "tail": "bell\u0007"}})", "default.tail", "bell\a"},
      {R"({"default": {"idState": "free", "tail": "t", "campaigns": [{"pinstall": "a", "options": {"": "x"}}]}})",
       "default.campaigns[0].options", "t"},
      {R"({"default": {"idState": "free", "tail": "t", "campaigns": [{"pinstall": "C:\\A\\"}]}})",
       "default.campaigns[0].pinstall", "t"},
  };
  for (const auto& c : cases) {
    StartAnswer answers;
    if (!answers.loadText(c.config)) {
      EXPECT_NE(answers.error().find(c.member), std::string::npos) << c.config << "\n" << answers.error();
      continue;
    }
    std::string key = std::string(c.member).rfind("k.", 0) == 0 ? "k" : "";
    ReadAnswer read = readAsTheInstallerDoes(answers.answerFor(key));
    EXPECT_EQ(read.idState, L"free") << c.config;
    EXPECT_EQ(read.tail, text::utf8ToWide(c.tail)) << c.config;
    auto meant = nlohmann::json::parse(c.config);
    const auto& entry = key.empty() ? meant["default"] : meant["installKeys"][key];
    if (entry.contains("campaigns")) {
      EXPECT_EQ(read.campaigns.asArray().size(), entry["campaigns"].size()) << c.config;
      EXPECT_EQ(read.campaigns.asArray()[0].member(L"pinstall").asString(),
                text::utf8ToWide(entry["campaigns"][0]["pinstall"].get<std::string>()))
          << c.config;
    }
  }
}

// The shapes real configs have pass: markup with quotes, Cyrillic, inner
// backslashes, numbers, flags and brackets inside strings.
TEST(StartAnswerReadBack, TakesOrdinaryConfigs) {
  StartAnswer answers;
  ASSERT_TRUE(answers.loadText(R"({
    "default": {"idState": "busy",
                "initxml": "<item title=\"\u0412\u043e\u043a\u0441 [HD], {2020}\" path=\"C:\\Apps\\x\"/>",
                "tail": "<tail><installer pid=\"p\" statUrl=\"http://h/a?b=1&c=2\"/></tail>",
                "campaigns": [{"pinstall": "demo", "size": 1.5, "count": 3, "silent": true,
                               "options": {"main": "/S /D=C:\\x"}, "tests": ["a,b]", "{c}"]}]}
  })")) << answers.error();
  ReadAnswer read = readAsTheInstallerDoes(answers.answerFor(""));
  EXPECT_EQ(read.idState, L"busy");
  EXPECT_EQ(read.initxml, L"<item title=\"\u0412\u043e\u043a\u0441 [HD], {2020}\" path=\"C:\\Apps\\x\"/>");
  EXPECT_EQ(read.campaigns.asArray()[0].member(L"options").member(L"main").asString(), L"/S /D=C:\\x");
}

// Mirror roots travel beside the install data, in the order given, and an
// answer without them carries no such member; a reader that does not ask for
// them still finds every other member where it was.
TEST(StartAnswerMirrors, ServesTheListInItsOrder) {
  StartAnswer answers;
  ASSERT_TRUE(answers.loadText(R"({
    "default": {"idState": "free", "tail": "t"},
    "installKeys": {"m": {"idState": "free", "tail": "t",
                          "packMirrors": ["http://one.example/vexa", "https://two.example"]}}
  })")) << answers.error();
  JsonValue root = parseJson(text::utf8ToWide(answers.answerFor("m")));
  const JsonValue& mirrors = root.member(L"data").member(L"packMirrors");
  ASSERT_EQ(mirrors.asArray().size(), 2u);
  EXPECT_EQ(mirrors.asArray()[0].asString(), L"http://one.example/vexa");
  EXPECT_EQ(mirrors.asArray()[1].asString(), L"https://two.example");
  EXPECT_EQ(readAsTheInstallerDoes(answers.answerFor("m")).tail, L"t");
  JsonValue plain = parseJson(text::utf8ToWide(answers.answerFor("")));
  EXPECT_EQ(plain.member(L"data").find(L"packMirrors"), nullptr);
}

}  // namespace
