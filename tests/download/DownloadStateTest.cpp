// The state record a broken-off download leaves beside its file.
#include <gtest/gtest.h>

#include "download/DownloadState.h"

using namespace download;

namespace {

DownloadState sample() {
  DownloadState state;
  state.content.url = L"http://127.0.0.1:8731/Vexa.ebz";
  state.content.length = 1000;
  state.content.md5 = L"0123456789abcdef0123456789abcdef";
  state.chunks = {{0, 250, 250}, {250, 250, 17}, {500, 250, 0}, {750, 250, 249}};
  return state;
}

TEST(DownloadState, ReadsBackWhatItWrites) {
  DownloadState state = sample();
  state.content.url = L"http://сервер/пакет.ebz";
  ASSERT_TRUE(state.isValid());
  DownloadState read;
  ASSERT_TRUE(DownloadState::parse(state.serialize(), &read)) << state.serialize();
  EXPECT_TRUE(read.content == state.content);
  EXPECT_EQ(read.chunks, state.chunks);
  EXPECT_EQ(read.bytesHeld(), 516);
  EXPECT_FALSE(read.complete());
  EXPECT_EQ(sample().serialize(),
            "vexa-download-state 1\nurl http://127.0.0.1:8731/Vexa.ebz\nlength 1000\n"
            "md5 0123456789abcdef0123456789abcdef\nchunk 0 250 250\nchunk 250 250 17\nchunk 500 250 0\n"
            "chunk 750 250 249\n");
}

TEST(DownloadState, AContentKnownByItsTagAloneReadsBack) {
  DownloadState state = sample();
  state.content.md5.clear();
  state.content.etag = L"\"6571a2b0-3e8\"";
  DownloadState read;
  ASSERT_TRUE(DownloadState::parse(state.serialize(), &read)) << state.serialize();
  EXPECT_TRUE(read.content == state.content);
  EXPECT_NE(state.serialize().find("\nmd5 \netag \"6571a2b0-3e8\"\nchunk 0 250 250\n"), std::string::npos);
}

TEST(DownloadState, RefusesAnythingThatIsNotAWholeConsistentState) {
  const std::string good = sample().serialize();
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  struct Case {
    const char* why;
    std::string text;
  } cases[] = {
      {"cut short by a crash", good.substr(0, good.size() - 1)},
      {"cut mid-line", good.substr(0, good.size() - 9)},
      {"empty", ""},
      {"other version", replaced("state 1", "state 2")},
      {"no chunks", good.substr(0, good.find("chunk"))},
      {"gap between chunks", replaced("chunk 250 250 17", "chunk 251 249 17")},
      {"overlapping chunks", replaced("chunk 250 250 17", "chunk 249 251 17")},
      {"chunks short of the length", replaced("length 1000", "length 1001")},
      {"chunks past the length", replaced("length 1000", "length 999")},
      {"more done than the chunk holds", replaced("chunk 250 250 17", "chunk 250 250 251")},
      {"negative number", replaced("chunk 250 250 17", "chunk 250 250 -1")},
      {"number that would overflow", replaced("length 1000", "length 99999999999999999999")},
      {"stray character", replaced("chunk 0 250 250", "chunk 0 250 250x")},
      {"extra blank", replaced("chunk 0 250 250", "chunk 0  250 250")},
      {"upper-case digest", replaced("abcdef0123456789abcdef", "ABCDEF0123456789abcdef")},
      {"short digest", replaced("0123456789abcdef0123456789abcdef", "0123")},
      {"empty address", replaced("url http://127.0.0.1:8731/Vexa.ebz", "url ")},
      {"control character in the address", replaced("Vexa.ebz", "Ve\rxa.ebz")},
      {"unknown line", replaced("length 1000\n", "length 1000\nsize 3\n")},
      {"zero length", replaced("length 1000", "length 0")},
      {"neither digest nor tag", replaced("md5 0123456789abcdef0123456789abcdef", "md5 ")},
      {"weak tag instead of a digest", replaced("md5 0123456789abcdef0123456789abcdef", "md5 \netag W/\"a\"")},
      {"unquoted tag", replaced("md5 0123456789abcdef0123456789abcdef", "md5 \netag abc")},
      {"tag with a blank", replaced("md5 0123456789abcdef0123456789abcdef", "md5 \netag \"a b\"")},
  };
  for (const Case& c : cases) {
    DownloadState read = sample();
    read.chunks.clear();
    EXPECT_FALSE(DownloadState::parse(c.text, &read)) << c.why;
    EXPECT_TRUE(read.chunks.empty()) << c.why << ": a refused text must leave the state alone";
  }

  std::string many = "vexa-download-state 1\nurl u\nlength 65\nmd5 0123456789abcdef0123456789abcdef\n";
  for (int i = 0; i < 65; ++i) many += "chunk " + std::to_string(i) + " 1 1\n";
  DownloadState read;
  EXPECT_FALSE(DownloadState::parse(many, &read)) << "more chunks than any download uses";
}

TEST(DownloadState, NumbersPastFourGigabytesKeepEveryDigit) {
  DownloadState state = sample();
  state.content.length = 5000000000LL;
  state.chunks = {{0, 2147483648LL, 2147483647LL}, {2147483648LL, 2852516352LL, 2852516351LL}};
  ASSERT_TRUE(state.isValid());
  const std::string text = state.serialize();
  EXPECT_NE(text.find("\nlength 5000000000\nmd5 "), std::string::npos) << text;
  EXPECT_NE(text.find("\nchunk 2147483648 2852516352 2852516351\n"), std::string::npos) << text;
  DownloadState read;
  ASSERT_TRUE(DownloadState::parse(text, &read)) << text;
  EXPECT_EQ(read.chunks, state.chunks);
}

}  // namespace
