#include "formats/Xml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "app/Text.h"

namespace {

std::wstring repeat(const std::wstring& s, size_t n) {
  std::wstring out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::wstring attr(const XmlNode& node, const std::wstring& name) {
  const XmlAttribute* a = node.attribute(name);
  return a != nullptr ? a->value : L"<missing>";
}

// Each test owns its parse record so the errors it expects are its own.
struct Parsed {
  XmlParseInfo info;
  XmlNode root;
  std::optional<size_t> end;
  explicit Parsed(const std::wstring& text, bool force = false) {
    info.forceParse = force;
    end = root.load(text, info);
  }
};

}  // namespace

TEST(XmlElements, DeclarationIsSkippedAndAttributesRead) {
  std::wstring text = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<installer userId=\"u-17\" mode='2' flag >"
                      L"</installer>tail";
  Parsed p(text);
  EXPECT_FALSE(p.info.errorOccurred()) << p.info.errorText();
  EXPECT_EQ(p.root.name(), L"installer");
  ASSERT_EQ(p.root.attributes().size(), 3u);
  EXPECT_EQ(attr(p.root, L"userId"), L"u-17");
  EXPECT_EQ(attr(p.root, L"mode"), L"2");
  EXPECT_EQ(attr(p.root, L"flag"), L"");
  EXPECT_EQ(p.root.attribute(L"userid"), nullptr) << "names compare case-sensitively";
  EXPECT_EQ(p.root.attributes()[0]->owner, &p.root);
  ASSERT_TRUE(p.end.has_value());
  EXPECT_EQ(text.substr(*p.end), L"tail");
}

TEST(XmlElements, InstallerChildrenInDocumentOrder) {
  Parsed none(L"<answer><other/><Installer/></answer>");
  EXPECT_TRUE(none.root.installerChildren().empty());

  Parsed p(L"<answer><installer id=\"1\"/><!-- installer --><x/><installer id=\"2\">t</installer></answer>");
  auto found = p.root.installerChildren();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(attr(*found[0], L"id"), L"1");
  EXPECT_EQ(attr(*found[1], L"id"), L"2");
  EXPECT_EQ(found[1]->value(), L"t");
  EXPECT_EQ(found[1]->parent(), &p.root);
}

TEST(XmlElements, EmptyAndUnquotedForms) {
  Parsed p(L"<a k=v><b/><c x=1 y=\"2\" /><d></d></a>");
  EXPECT_FALSE(p.info.errorOccurred()) << p.info.errorText();
  EXPECT_EQ(attr(p.root, L"k"), L"v");
  ASSERT_EQ(p.root.children().size(), 3u);
  EXPECT_EQ(p.root.children()[1]->name(), L"c");
  EXPECT_EQ(attr(*p.root.children()[1], L"x"), L"1");
  EXPECT_EQ(attr(*p.root.children()[1], L"y"), L"2");
  EXPECT_EQ(p.root.children()[2]->name(), L"d");
}

TEST(XmlValues, QuotesEscapesAndEntities) {
  Parsed p(L"<v s='it\\'s' d=\"say \\\"hi\\\"\" e=\"&lt;&amp;&gt;\">a &amp; b &#65; &quot;&apos;</v>");
  EXPECT_EQ(attr(p.root, L"s"), L"it's");
  EXPECT_EQ(attr(p.root, L"d"), L"say \"hi\"");
  EXPECT_EQ(attr(p.root, L"e"), L"<&>");
  EXPECT_EQ(p.root.value(), L"a & b &#65; \"'");

  Parsed path(L"<p>C:\\Program Files\\Vexa and C:\\\\dir \\<x</p>");
  EXPECT_EQ(path.root.value(), L"C:Program FilesVexa and C:\\dir <x");
}

TEST(XmlValues, OptionsChangeHowValuesAreSet) {
  XmlParseInfo info;
  EXPECT_FALSE(info.trimValues);
  EXPECT_TRUE(info.decodeEntities);
  EXPECT_FALSE(info.forceParse);
  EXPECT_EQ(info.escapeChar, L'\\');
  ASSERT_EQ(info.entities.size(), 5u);
  EXPECT_EQ(info.entities[0].reference, L"&amp;") << "tried first";
  EXPECT_EQ(info.errorPosition(), std::wstring::npos);

  info.trimValues = true;
  info.decodeEntities = false;
  info.escapeChar = 0;
  XmlNode root;
  root.load(L"<v a=\"  x&amp;y  \">\n  C:\\dir &lt;  \n<c/></v>", info);
  EXPECT_FALSE(info.errorOccurred()) << info.errorText();
  EXPECT_EQ(attr(root, L"a"), L"x&amp;y");
  EXPECT_EQ(root.value(), L"C:\\dir &lt;");

  XmlParseInfo custom;
  custom.entities = {{L'*', L"&star;"}, {L'?', L""}};
  root.load(L"<v>&star;&amp;</v>", custom);
  EXPECT_EQ(root.value(), L"*&amp;");
}

TEST(XmlValues, OnlyTheFirstTextIsKept) {
  Parsed p(L"<a>first<b>inner</b>second<c/>third</a>");
  EXPECT_FALSE(p.info.errorOccurred()) << p.info.errorText();
  EXPECT_EQ(p.root.value(), L"first");
  ASSERT_EQ(p.root.children().size(), 2u);
  EXPECT_EQ(p.root.children()[0]->value(), L"inner");

  Parsed late(L"<a><b/>late<c/>later</a>");
  EXPECT_EQ(late.root.value(), L"late");

  Parsed blank(L"<a>\n  <b/>\n</a>");
  EXPECT_EQ(blank.root.value(), L"\n  ") << "whitespace between tags is text";
}

TEST(XmlMarkup, CommentsAndCdataBecomeChildren) {
  Parsed p(L"<!-- before --><a><!-- note &amp; --><b/><![cdata[raw &amp; <x> \\n]]></a>");
  EXPECT_FALSE(p.info.errorOccurred()) << p.info.errorText();
  EXPECT_EQ(p.root.name(), L"a");
  ASSERT_EQ(p.root.children().size(), 3u);
  const XmlNode& comment = *p.root.children()[0];
  EXPECT_EQ(comment.type(), XmlNode::kComment);
  EXPECT_EQ(comment.name(), L"#COMMENT");
  EXPECT_EQ(comment.value(), L" note &amp; ");
  EXPECT_EQ(p.root.children()[1]->name(), L"b");
  const XmlNode& cdata = *p.root.children()[2];
  EXPECT_EQ(cdata.type(), XmlNode::kCData);
  EXPECT_EQ(cdata.name(), L"#CDATA");
  EXPECT_EQ(cdata.value(), L"raw &amp; <x> \\n");
}

TEST(XmlMarkup, DocumentCollectsInstructionsAndTopComments) {
  XmlNode document(nullptr, nullptr, XmlNode::kDocument);
  XmlNode root(nullptr, &document);
  XmlParseInfo info;
  root.load(L"<!--top--> <?style href=\"s.css\" ?><r/>", info);
  EXPECT_EQ(root.name(), L"r");
  ASSERT_EQ(document.children().size(), 2u);
  EXPECT_EQ(document.children()[0]->type(), XmlNode::kComment);
  EXPECT_EQ(document.children()[0]->value(), L"top");
  const XmlNode& pi = *document.children()[1];
  EXPECT_EQ(pi.type(), XmlNode::kProcessingInstruction);
  EXPECT_EQ(pi.name(), L"style");
  EXPECT_EQ(attr(pi, L"href"), L"s.css");
}

TEST(XmlErrors, EachFailureRecordsItsCodeAndMessage) {
  struct Case {
    const wchar_t* text;
    int code;
    const wchar_t* message;
  } cases[] = {
      {L"<a/ >", 1, L"Element must be closed."},
      {L"<a>text without end", 2, L"a must be closed with </a>"},
      {L"<a><b/>tail", 2, L"it must be closed with </a>"},
      {L"<a>x</a", 2, L"it must be closed with </a>"},
      {L"<a><b></a></b>", 3, L"'<b> ... </a>' is not wel-formed."},
      {L"<a><b c></b></a>", 4, L"<b> attribute has error "},
      {L"<a b=\"unterminated></a>", 4, L"<a> attribute has error "},
      {L"<a", 4, L"<a> attribute has error "},
      {L"<a><b/>", 2, L"it must be closed with </a>"},
  };
  for (const Case& c : cases) {
    Parsed p(c.text);
    EXPECT_FALSE(p.end.has_value()) << text::wideToUtf8(c.text);
    EXPECT_TRUE(p.info.errorOccurred()) << text::wideToUtf8(c.text);
    EXPECT_EQ(p.info.errorCode(), c.code) << text::wideToUtf8(c.text);
    EXPECT_EQ(p.info.errorText(), c.message) << text::wideToUtf8(c.text);
  }
}

TEST(XmlErrors, TreeKeepsWhatWasReadAndOnlyTheFirstErrorCounts) {
  Parsed p(L"<a x=\"1\"><b>kept</b><c></d></a>");
  EXPECT_EQ(p.info.errorCode(), 3);
  EXPECT_EQ(p.info.errorPosition(), 23u);
  EXPECT_EQ(attr(p.root, L"x"), L"1");
  ASSERT_EQ(p.root.children().size(), 2u);
  EXPECT_EQ(p.root.children()[0]->value(), L"kept");
  EXPECT_EQ(p.root.children()[1]->name(), L"c");

  XmlNode again;
  again.load(L"<a/ >", p.info);
  EXPECT_EQ(p.info.errorCode(), 3);
  EXPECT_EQ(p.info.errorPosition(), 23u);

  XmlParseInfo& shared = defaultXmlParseInfo();
  XmlNode first;
  first.load(L"<a><b c></b></a>");
  ASSERT_TRUE(shared.errorOccurred());
  int firstCode = shared.errorCode();
  std::wstring firstText = shared.errorText();
  XmlNode second;
  second.load(L"<a/ >");
  EXPECT_EQ(shared.errorCode(), firstCode);
  EXPECT_EQ(shared.errorText(), firstText);
}

TEST(XmlErrors, ForceParseStepsOverStrayClosingTags) {
  Parsed p(L"<a><b>x</c></b><d/></a>", true);
  EXPECT_FALSE(p.info.errorOccurred()) << p.info.errorText();
  ASSERT_TRUE(p.end.has_value());
  ASSERT_EQ(p.root.children().size(), 2u);
  EXPECT_EQ(p.root.children()[0]->value(), L"x");
  EXPECT_EQ(p.root.children()[1]->name(), L"d");
}

TEST(XmlHostile, DeepNestingIsAnErrorNotAnOverflow) {
  auto nested = [](size_t levels) { return repeat(L"<e>", levels) + repeat(L"</e>", levels); };

  Parsed atLimit(nested(kXmlMaxNesting));
  EXPECT_FALSE(atLimit.info.errorOccurred()) << atLimit.info.errorText();
  EXPECT_TRUE(atLimit.end.has_value());

  for (size_t levels : {size_t(kXmlMaxNesting) + 1, size_t(100000)}) {
    Parsed deep(nested(levels));
    EXPECT_FALSE(deep.end.has_value());
    EXPECT_EQ(deep.info.errorCode(), kXmlErrorTooDeep);
    const XmlNode* node = &deep.root;
    int depth = 1;
    while (!node->children().empty()) {
      node = node->children()[0].get();
      ++depth;
    }
    EXPECT_EQ(depth, kXmlMaxNesting) << "the levels read before the limit stay in the tree";
  }

  Parsed open(repeat(L"<e>", 100000));
  EXPECT_FALSE(open.end.has_value());
  EXPECT_EQ(open.info.errorCode(), kXmlErrorTooDeep);
}

TEST(XmlHostile, UnterminatedAndHugeInputs) {
  const size_t kMegabyte = 1 << 20;
  for (const std::wstring& text :
       {std::wstring(L"<a b=\"") + repeat(L"x", kMegabyte), std::wstring(L"<a b='\\"),
        std::wstring(L"<a>") + repeat(L"\\", 1001), std::wstring(L"<a><!-- ") + repeat(L"-", kMegabyte),
        std::wstring(L"<![CDATA[never"), std::wstring(L"<?xml"), std::wstring(L"<?pi x?><a/"),
        std::wstring(L"<") + repeat(L"n", kMegabyte), std::wstring(L"<a></") + repeat(L"a", kMegabyte),
        std::wstring(L"<a ") + repeat(L"k ", kMegabyte / 16), std::wstring(L""),
        std::wstring(L"no markup at all")}) {
    Parsed p(text);
    EXPECT_FALSE(p.end.has_value()) << text::wideToUtf8(text.substr(0, 40));
  }

  // A closing tag first is handed back as the caller's, with nothing read.
  Parsed closing(L"  </a>");
  EXPECT_EQ(closing.end, std::optional<size_t>(2));
  EXPECT_EQ(closing.root.name(), L"");

  std::wstring wide = L"<list>" + repeat(L"<item id=\"1\" name='n'>v &amp; w</item>\n", kMegabyte / 40) + L"</list>";
  auto start = std::chrono::steady_clock::now();
  Parsed p(wide);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);
  EXPECT_FALSE(p.info.errorOccurred()) << p.info.errorText();
  EXPECT_EQ(p.root.children().size(), kMegabyte / 40);
}

TEST(XmlHostile, EmbeddedNulsAndRandomGarbage) {
  std::wstring withNul(L"<a k=\"x\0y\">t\0u</a>", 18);
  Parsed p(withNul);
  EXPECT_FALSE(p.info.errorOccurred()) << p.info.errorText();
  EXPECT_EQ(attr(p.root, L"k"), std::wstring(L"x\0y", 3));
  EXPECT_EQ(p.root.value(), std::wstring(L"t\0u", 3));

  // A cheap in-test fuzz over the characters the reader reacts to; the
  // sanitizers report any stray read.
  const std::wstring alphabet = L"<>/=\"' \t\nab?!-[]CDATA&;\\";
  std::mt19937 random(1234);
  for (int round = 0; round < 3000; ++round) {
    std::wstring text;
    size_t length = random() % 40;
    for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    XmlParseInfo info;
    info.forceParse = (round & 1) != 0;
    XmlNode document(nullptr, nullptr, XmlNode::kDocument);
    XmlNode root(nullptr, (round & 2) != 0 ? &document : nullptr);
    std::optional<size_t> end = root.load(text, info);
    if (end.has_value()) {
      EXPECT_LE(*end, text.size());
    }
  }
}

TEST(XmlThreads, SharedRecordTakesConcurrentErrors) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) {
        XmlNode node;
        node.load(L"<a><b></c></a>");
        node.load(L"<installer userId=\"x\"/>");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(defaultXmlParseInfo().errorOccurred());
}
