#include "formats/Json.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>

namespace {

std::wstring repeat(const std::wstring& s, size_t n) {
  std::wstring out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

double secondsToParse(const std::wstring& text, JsonValue* out = nullptr) {
  auto start = std::chrono::steady_clock::now();
  JsonValue v = parseJson(text);
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (out != nullptr) *out = std::move(v);
  return seconds;
}

// A quadratic slip turns a 1 MB answer into minutes; this bound leaves room
// for sanitizers and Wine while still catching that.
constexpr double kGenerousSeconds = 5.0;

}  // namespace

TEST(JsonTopLevel, OnlyObjectsAndArraysAreAnswers) {
  EXPECT_EQ(parseJson(L" \r\n\t{\"a\":1}\n \t").type(), JsonValue::kObject);
  EXPECT_EQ(parseJson(L"\n[1]\n").type(), JsonValue::kArray);
  EXPECT_TRUE(parseJson(L"").isNull());
  EXPECT_TRUE(parseJson(L"   ").isNull());
  EXPECT_TRUE(parseJson(L"\"text\"").isNull());
  EXPECT_TRUE(parseJson(L"42").isNull());
  EXPECT_TRUE(parseJson(L"true").isNull());
  EXPECT_TRUE(parseJson(L"{\"a\":1").isNull());
  EXPECT_TRUE(parseJson(L"[1,2").isNull());
  EXPECT_TRUE(parseJson(L"{").isNull());
  EXPECT_TRUE(parseJson(L"]").isNull());
}

TEST(JsonLiterals, WordsIgnoreCaseAndNumbersKeepTheirViewsInStep) {
  JsonValue v = parseJson(L"{\"t\":True,\"f\":fALSE,\"n\":NULL,\"e\":1e3,\"p\":2.9,\"m\":-2.9,\"i\":17}");
  ASSERT_EQ(v.type(), JsonValue::kObject);
  EXPECT_EQ(v.member(L"t").type(), JsonValue::kBool);
  EXPECT_TRUE(v.member(L"t").boolValue());
  EXPECT_EQ(v.member(L"f").type(), JsonValue::kBool);
  EXPECT_FALSE(v.member(L"f").boolValue());
  EXPECT_TRUE(v.member(L"n").isNull());

  const JsonValue& e = v.member(L"e");
  EXPECT_EQ(e.type(), JsonValue::kDouble);
  EXPECT_EQ(e.doubleValue(), 1000.0);
  EXPECT_EQ(e.intValue(), 1000);
  EXPECT_EQ(e.floatValue(), 1000.0f);
  EXPECT_EQ(v.member(L"p").intValue(), 2);
  EXPECT_EQ(v.member(L"m").intValue(), -2);
  EXPECT_EQ(v.member(L"i").type(), JsonValue::kDouble);
  EXPECT_EQ(v.member(L"i").intValue(), 17);
}

TEST(JsonLiterals, InnerBlanksAreDroppedAndMalformedOnesReadAsNumbers) {
  JsonValue v = parseJson(L"[12 34, n u l l, tr\tue, abc, 1.5abc, -, 7x]");
  ASSERT_EQ(v.type(), JsonValue::kArray);
  auto a = v.asArray();
  ASSERT_EQ(a.size(), 6u) << "the spaced-out null is not stored";
  EXPECT_EQ(a[0].doubleValue(), 1234.0);
  EXPECT_EQ(a[1].type(), JsonValue::kBool);
  EXPECT_TRUE(a[1].boolValue());
  EXPECT_EQ(a[2].type(), JsonValue::kDouble);
  EXPECT_EQ(a[2].doubleValue(), 0.0);
  EXPECT_EQ(a[3].doubleValue(), 1.5);
  EXPECT_EQ(a[4].doubleValue(), 0.0);
  EXPECT_EQ(a[5].doubleValue(), 7.0);
}

TEST(JsonLiterals, OutOfRangeNumbersSaturateTheIntegerView) {
  JsonValue v = parseJson(L"[1e300, -1e300, 3000000000, 2147483647.9]");
  auto a = v.asArray();
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0].intValue(), INT32_MAX);
  EXPECT_TRUE(std::isinf(a[0].floatValue()));
  EXPECT_EQ(a[1].intValue(), INT32_MIN);
  EXPECT_EQ(a[2].intValue(), INT32_MAX);
  EXPECT_EQ(a[2].doubleValue(), 3000000000.0);
  EXPECT_EQ(a[3].intValue(), INT32_MAX);
  EXPECT_EQ(JsonValue::fromDouble(std::nan("")).intValue(), 0);
}

TEST(JsonLiterals, NumbersReadAsTheCRuntimeReadsThem) {
  JsonValue v = parseJson(
      L"[0.1, 2.675, -0.0, .5, 5., 1E2, 1e-3, 9007199254740993, 123456789012345678901234, 0x1A, 0x1.8p1, -Inf, "
      L"NaN, 1e400, 1e-400, 4.9e-324, 1.7976931348623157e308, 1e, 1e+, -, 0x, 12e3e4, 0.30000000000000004]");
  auto a = v.asArray();
  ASSERT_EQ(a.size(), 23u);
  EXPECT_EQ(a[0].doubleValue(), 0.1);
  EXPECT_EQ(a[1].doubleValue(), 2.675);
  EXPECT_EQ(a[2].doubleValue(), 0.0);
  EXPECT_TRUE(std::signbit(a[2].doubleValue()));
  EXPECT_EQ(a[3].doubleValue(), 0.5);
  EXPECT_EQ(a[4].doubleValue(), 5.0);
  EXPECT_EQ(a[5].doubleValue(), 100.0);
  EXPECT_EQ(a[6].doubleValue(), 0.001);
  EXPECT_EQ(a[7].doubleValue(), 9007199254740992.0) << "ties go to the even neighbour";
  EXPECT_DOUBLE_EQ(a[8].doubleValue(), 1.23456789012345678e23);
  EXPECT_EQ(a[9].doubleValue(), 26.0);
  EXPECT_EQ(a[10].doubleValue(), 3.0);
  EXPECT_TRUE(std::isinf(a[11].doubleValue()) && a[11].doubleValue() < 0);
  EXPECT_TRUE(std::isnan(a[12].doubleValue()));
  EXPECT_TRUE(std::isinf(a[13].doubleValue()));
  EXPECT_EQ(a[14].doubleValue(), 0.0);
  EXPECT_EQ(a[15].doubleValue(), 4.9e-324);
  EXPECT_EQ(a[16].doubleValue(), 1.7976931348623157e308);
  // An exponent mark without digits is not part of the number; a lone sign
  // or "0x" reads as the plain zero before it.
  EXPECT_EQ(a[17].doubleValue(), 1.0);
  EXPECT_EQ(a[18].doubleValue(), 1.0);
  EXPECT_EQ(a[19].doubleValue(), 0.0);
  EXPECT_FALSE(std::signbit(a[19].doubleValue()));
  EXPECT_EQ(a[20].doubleValue(), 0.0);
  EXPECT_EQ(a[21].doubleValue(), 12000.0);
  EXPECT_EQ(a[22].doubleValue(), 0.30000000000000004);
}

TEST(JsonValues, BuiltNumbersFillEveryView) {
  JsonValue i = JsonValue::fromInt(-7);
  EXPECT_EQ(i.type(), JsonValue::kInt);
  EXPECT_EQ(i.floatValue(), -7.0f);
  EXPECT_EQ(i.doubleValue(), -7.0);
  JsonValue f = JsonValue::fromFloat(2.75f);
  EXPECT_EQ(f.type(), JsonValue::kFloat);
  EXPECT_EQ(f.intValue(), 2);
  EXPECT_EQ(f.doubleValue(), 2.75);
  JsonValue copy = f;
  EXPECT_EQ(copy.type(), JsonValue::kFloat);
  EXPECT_EQ(copy.intValue(), 2);
  EXPECT_EQ(copy.floatValue(), 2.75f);
  EXPECT_EQ(JsonValue::fromInt(5).asString(), L"");
  EXPECT_EQ(JsonValue::fromString(L"x").asString(), L"x");
  EXPECT_EQ(JsonValue::fromString(L"x").intValue(), 0);
}

TEST(JsonStrings, EscapesAreReadButUnicodeEscapesAreNot) {
  JsonValue v = parseJson(L"[\"q\\\"s\\/b\\\\n\\nr\\rt\\tb\\bf\\f\", \"\\u0041\", \"\\q\", \"a]\"]");
  auto a = v.asArray();
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[3].asString(), L"a]");

  v = parseJson(L"[\"q\\\"s\\/b\\\\n\\nr\\rt\\tb\\bf\\f\", \"\\u0041\", \"\\q\"]");
  a = v.asArray();
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0].asString(), L"q\"s/b\\n\nr\rt\tb\bf\f");
  EXPECT_EQ(a[1].asString(), L"u0041");
  EXPECT_EQ(a[2].asString(), L"q");
}

TEST(JsonStrings, UnterminatedStringEmptiesItsContainer) {
  JsonValue obj = parseJson(L"{\"good\":1,\"bad\":\"never closed}");
  EXPECT_EQ(obj.type(), JsonValue::kObject);
  EXPECT_TRUE(obj.asObject().empty());

  JsonValue arr = parseJson(L"[1, \"open]");
  EXPECT_EQ(arr.type(), JsonValue::kArray);
  EXPECT_TRUE(arr.asArray().empty());

  // The open quote also hides the inner closing brace from the bracket count,
  // so the outer object loses everything, not just the inner one.
  JsonValue nested = parseJson(L"{\"keep\":1,\"inner\":{\"x\":\"open}}");
  EXPECT_EQ(nested.type(), JsonValue::kObject);
  EXPECT_TRUE(nested.asObject().empty());
}

// Windows paths end in a backslash; before, the quote after "\\" counted as
// escaped and one such value emptied the whole answer.
TEST(JsonStrings, StringsEndingInABackslashEndAtTheirQuote) {
  JsonValue v = parseJson(LR"({"data":{"idState":1,"path":"C:\\Apps\\","list":["C:\\", "]", "b"],"after":"x"}})");
  ASSERT_EQ(v.type(), JsonValue::kObject);
  JsonValue& data = v.member(L"data");
  EXPECT_EQ(data.member(L"idState").intValue(), 1);
  EXPECT_EQ(data.member(L"path").asString(), L"C:\\Apps\\");
  auto list = data.member(L"list").asArray();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].asString(), L"C:\\");
  EXPECT_EQ(list[1].asString(), L"]");
  EXPECT_EQ(data.member(L"after").asString(), L"x");

  // An answer nested as text carries the backslashes twice over.
  v = parseJson(LR"({"installData":"{\"dir\":\"C:\\\\Apps\\\\\",\"tail\":\"t\"}","n":2})");
  EXPECT_EQ(v.member(L"n").intValue(), 2);
  JsonValue inner = parseJson(v.member(L"installData").asString());
  EXPECT_EQ(inner.member(L"dir").asString(), L"C:\\Apps\\");
  EXPECT_EQ(inner.member(L"tail").asString(), L"t");

  // Keys stay raw, but their closing quote follows the same rule.
  v = parseJson(LR"({"k\\":1,"b":2})");
  EXPECT_EQ(v.asObject().size(), 2u);
  EXPECT_EQ(v.member(L"k\\\\").intValue(), 1);
  EXPECT_EQ(v.member(L"b").intValue(), 2);

  // An odd run still escapes: backslash, then an escaped quote.
  EXPECT_EQ(parseJson(LR"(["a\\\"b"])").asArray().at(0).asString(), L"a\\\"b");
  EXPECT_EQ(parseJson(LR"({"s":["a\\\"]"]})").member(L"s").asArray().at(0).asString(), L"a\\\"]");
}

TEST(JsonArrays, NullsAreNeverStoredAndNestingIsRead) {
  EXPECT_EQ(parseJson(L"[1,null,2]").asArray().size(), 2u);
  EXPECT_TRUE(parseJson(L"[]").asArray().empty());
  EXPECT_TRUE(parseJson(L"[null, NULL]").asArray().empty());

  JsonValue v = parseJson(L"[[1],[2,3],{\"k\":\"v\"},4,]");
  auto a = v.asArray();
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0].asArray().size(), 1u);
  EXPECT_EQ(a[1].asArray()[1].intValue(), 3);
  EXPECT_EQ(a[2].member(L"k").asString(), L"v");
  EXPECT_EQ(a[3].intValue(), 4);

  EXPECT_EQ(parseJson(L"[1,[2,3],]").asArray().size(), 2u);
  EXPECT_EQ(parseJson(L"[1,[2,3]]]").asArray().size(), 2u);
  for (const wchar_t* unbalanced : {L"[1,[2,3]", L"[1, [2, [3]]"}) {
    JsonValue broken = parseJson(unbalanced);
    EXPECT_EQ(broken.type(), JsonValue::kArray) << broken.type();
    EXPECT_TRUE(broken.asArray().empty());
  }
  // Only the object whose member is broken comes out empty.
  a = parseJson(L"[1, {\"a\":[}]").asArray();
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[1].type(), JsonValue::kObject);
  EXPECT_TRUE(a[1].asObject().empty());
}

TEST(JsonArrays, BracketsInsideStringsDoNotCount) {
  JsonValue v = parseJson(L"{\"list\":[{\"s\":\"a]b\"},{\"s\":\"c[d\"}]}");
  auto list = v.member(L"list").asArray();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].member(L"s").asString(), L"a]b");
  EXPECT_EQ(list[1].member(L"s").asString(), L"c[d");
}

TEST(JsonArrays, StringElementsKeepSeparatorsAndBrackets) {
  auto a = parseJson(L"[\"a,b\", \"x[1]y\" ,\"c]\",\"{\", 5]").asArray();
  ASSERT_EQ(a.size(), 5u);
  EXPECT_EQ(a[0].asString(), L"a,b");
  EXPECT_EQ(a[1].asString(), L"x[1]y");
  EXPECT_EQ(a[2].asString(), L"c]");
  EXPECT_EQ(a[3].asString(), L"{");
  EXPECT_EQ(a[4].intValue(), 5);
  EXPECT_TRUE(parseJson(L"[\"open, 1]").asArray().empty());
}

TEST(JsonObjects, KeysAreTakenRawAndLaterMembersWin) {
  JsonValue v = parseJson(L"{\"a\\\"b\":1, \"dup\":1, \"dup\":2, \"s\":\"x\"}");
  ASSERT_EQ(v.type(), JsonValue::kObject);
  auto members = v.asObject();
  EXPECT_EQ(members.size(), 3u);
  EXPECT_EQ(members.count(L"a\\\"b"), 1u);
  EXPECT_EQ(v.member(L"dup").intValue(), 2);

  EXPECT_TRUE(parseJson(L"{\"\":1}").asObject().empty()) << "empty key";
  EXPECT_TRUE(parseJson(L"{\"a\" 1}").asObject().empty()) << "no colon";
  EXPECT_TRUE(parseJson(L"{\"a\":1, \"b}").asObject().empty()) << "unclosed key";
  EXPECT_TRUE(parseJson(L"{\"a\":1,}").asObject().empty()) << "a trailing comma is no key";
  EXPECT_TRUE(parseJson(L"{}").asObject().empty());
  EXPECT_EQ(parseJson(L"{\"a\":}").asObject().size(), 1u) << "a missing value is stored as null";
}

TEST(JsonObjects, PrettyPrintedAnswersKeepTheirLastMember) {
  JsonValue v = parseJson(L"{\n  \"name\": \"vexa\",\n  \"list\": [1, 2],\n  \"inner\": {\"k\": \"v\"}\n}\n");
  EXPECT_EQ(v.member(L"name").asString(), L"vexa");
  EXPECT_EQ(v.member(L"list").asArray().size(), 2u);
  EXPECT_EQ(v.member(L"inner").member(L"k").asString(), L"v");
  EXPECT_EQ(v.asObject().size(), 3u);
}

TEST(JsonObjects, MemberInsertsNullAndIterationShowsIt) {
  JsonValue v = parseJson(L"{\"a\":1}");
  EXPECT_EQ(v.find(L"missing"), nullptr);
  EXPECT_TRUE(v.member(L"missing").isNull());
  EXPECT_EQ(v.member(L"missing").asString(), L"");
  EXPECT_EQ(v.member(L"missing").intValue(), 0);
  auto members = v.asObject();
  ASSERT_EQ(members.size(), 2u);
  EXPECT_TRUE(members.at(L"missing").isNull());
  EXPECT_NE(v.find(L"missing"), nullptr);

  JsonValue nothing = parseJson(L"junk");
  EXPECT_TRUE(nothing.member(L"a").member(L"b").isNull()) << "chained look-ups on a failed parse";
}

TEST(JsonObjects, KeysIterateInUtf16Order) {
  // U+1F600 is a surrogate pair (0xD83D ...) and so sorts before U+E000,
  // although its code point is larger.
  JsonValue v = parseJson(L"{\"\uE000\":1,\"\U0001F600\":2,\"b\":3,\"a\":4,\"ab\":5}");
  std::vector<std::wstring> keys;
  for (const auto& [key, value] : v.asObject()) keys.push_back(key);
  std::vector<std::wstring> expected = {L"a", L"ab", L"b", L"\U0001F600", L"\uE000"};
  EXPECT_EQ(keys, expected);
}

TEST(JsonHostile, DeepNestingStopsAtTheLimitWithoutOverflow) {
  auto nested = [](size_t levels) { return repeat(L"[", levels) + L"1" + repeat(L"]", levels); };
  auto innermostAt = [](JsonValue v, int level) {
    for (int i = 1; i < level; ++i) {
      auto a = v.asArray();
      if (a.empty()) return JsonValue();
      v = a[0];
    }
    return v;
  };

  JsonValue atLimit = parseJson(nested(kJsonMaxNesting));
  JsonValue deepest = innermostAt(atLimit, kJsonMaxNesting);
  ASSERT_EQ(deepest.type(), JsonValue::kArray);
  ASSERT_EQ(deepest.asArray().size(), 1u);
  EXPECT_EQ(deepest.asArray()[0].intValue(), 1);

  JsonValue overLimit = parseJson(nested(kJsonMaxNesting + 1));
  deepest = innermostAt(overLimit, kJsonMaxNesting);
  EXPECT_EQ(deepest.type(), JsonValue::kArray);
  EXPECT_TRUE(deepest.asArray().empty());

  JsonValue v;
  EXPECT_LT(secondsToParse(nested(100000), &v), kGenerousSeconds);
  EXPECT_EQ(v.type(), JsonValue::kArray);

  std::wstring objects = repeat(L"{\"a\":", 100000) + L"1" + repeat(L"}", 100000);
  EXPECT_LT(secondsToParse(objects, &v), kGenerousSeconds);
  EXPECT_EQ(v.type(), JsonValue::kObject);

  EXPECT_TRUE(parseJson(repeat(L"[", 100000)).isNull());
  EXPECT_TRUE(parseJson(L"[" + repeat(L"[", 100000) + L"]").asArray().empty());
  EXPECT_TRUE(parseJson(L"{\"a\":" + repeat(L"{", 100000) + L"}").asObject().empty());
}

TEST(JsonHostile, HugeAndBrokenTextsReadQuickly) {
  const size_t kMegabyte = 1 << 20;
  JsonValue v;

  EXPECT_LT(secondsToParse(L"[" + repeat(L"1,", kMegabyte / 2) + L"1]", &v), kGenerousSeconds);
  EXPECT_EQ(v.asArray().size(), kMegabyte / 2 + 1);

  std::wstring records = L"[" + repeat(L"{\"id\":12,\"name\":\"abc\",\"on\":true},", kMegabyte / 36) + L"{}]";
  EXPECT_LT(secondsToParse(records, &v), kGenerousSeconds);
  EXPECT_EQ(v.asArray().size(), kMegabyte / 36 + 1);

  EXPECT_LT(secondsToParse(L"[" + repeat(L"9", kMegabyte) + L"]", &v), kGenerousSeconds);
  ASSERT_EQ(v.asArray().size(), 1u);
  EXPECT_EQ(v.asArray()[0].intValue(), INT32_MAX);

  EXPECT_LT(secondsToParse(L"[\"" + repeat(L"a", kMegabyte) + L"]", &v), kGenerousSeconds);
  EXPECT_TRUE(v.asArray().empty());

  std::wstring blanks = L"[" + repeat(L"{},", 20000) + repeat(L" ", kMegabyte) + L"]";
  EXPECT_LT(secondsToParse(blanks, &v), kGenerousSeconds);
  EXPECT_EQ(v.asArray().size(), 20000u);
}

// Quotes after a blank-led element used to re-trim the element at each one.
TEST(JsonHostile, QuotesAfterLeadingBlanksReadInLinearTime) {
  auto shape = [](size_t half) { return L"[" + repeat(L" ", half) + L"x" + repeat(L"\"", half) + L"]"; };
  JsonValue v;
  ASSERT_LT(secondsToParse(shape(40000), &v), 1.0);
  EXPECT_EQ(v.type(), JsonValue::kArray);

  const size_t kHalfMegabyte = 1 << 19;
  EXPECT_LT(secondsToParse(shape(kHalfMegabyte), &v), 1.0);
  std::wstring records = L"[" + repeat(L"  \"a\\\\\" ,", kHalfMegabyte / 8) + L"1]";
  EXPECT_LT(secondsToParse(records, &v), 1.0);
  EXPECT_EQ(v.asArray().size(), kHalfMegabyte / 8 + 1);
}

TEST(JsonHostile, EmbeddedNulsAreOrdinaryCharacters) {
  std::wstring text(L"{\"a\0b\":\"x\0y\",\"n\":1\0 2}", 22);
  JsonValue v = parseJson(text);
  ASSERT_EQ(v.type(), JsonValue::kObject);
  EXPECT_EQ(v.member(std::wstring(L"a\0b", 3)).asString(), std::wstring(L"x\0y", 3));
  EXPECT_EQ(v.member(L"n").doubleValue(), 1.0) << "conversion stops at the NUL";
}

TEST(JsonWriter, ObjectTextEscapesAndReadsBack) {
  EXPECT_EQ(jsonObjectText({}), L"{}");
  std::map<std::wstring, std::wstring> members = {
      {L"plain", L"v"}, {L"quote\"d", L"a\"b"}, {L"path", L"C:\\x\\y"}, {L"lines", L"1\n2\t3\r"}};
  std::wstring text = jsonObjectText(members);
  EXPECT_EQ(text,
            L"{\"lines\":\"1\\n2\\t3\\r\",\"path\":\"C:\\\\x\\\\y\",\"plain\":\"v\",\"quote\\\"d\":\"a\\\"b\"}");
  EXPECT_EQ(jsonObjectText({{L"c", std::wstring(1, L'\x01') + L"\x1f"}}), L"{\"c\":\"\\u0001\\u001f\"}");

  JsonValue back = parseJson(text);
  EXPECT_EQ(back.member(L"plain").asString(), L"v");
  EXPECT_EQ(back.member(L"path").asString(), L"C:\\x\\y");
  EXPECT_EQ(back.member(L"lines").asString(), L"1\n2\t3\r");
}
