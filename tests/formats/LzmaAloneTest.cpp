#include "formats/LzmaAlone.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <cstdint>
#include <string>

namespace {

// Packs as the build does: the "alone" form, a small dictionary.
std::string pack(const std::string& text) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 9);
  options.dict_size = 1u << 16;
  lzma_stream strm = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_alone_encoder(&strm, &options), LZMA_OK);
  std::string out(text.size() + 1024, '\0');
  strm.next_in = reinterpret_cast<const uint8_t*>(text.data());
  strm.avail_in = text.size();
  strm.next_out = reinterpret_cast<uint8_t*>(&out[0]);
  strm.avail_out = out.size();
  EXPECT_EQ(lzma_code(&strm, LZMA_FINISH), LZMA_STREAM_END);
  out.resize(out.size() - strm.avail_out);
  lzma_end(&strm);
  return out;
}

std::string licenceLike() {
  std::string text = "{\\rtf1\\ansi ";
  for (int i = 0; i < 2000; ++i) text += "\\u1083? line " + std::to_string(i) + "\\par\n";
  return text + "}";
}

TEST(LzmaAlone, InflatesWhatTheBuildPacksWithinItsLimit) {
  const std::string text = licenceLike();
  const std::string packed = pack(text);
  std::string out = "left over";
  ASSERT_TRUE(lzma_alone::inflate(packed.data(), packed.size(), text.size(), out));
  EXPECT_EQ(out, text);

  // An empty text is still a stream.
  const std::string empty = pack("");
  EXPECT_TRUE(lzma_alone::inflate(empty.data(), empty.size(), 10, out));
  EXPECT_TRUE(out.empty());

  // One byte over the limit is refused, and nothing is left half inflated.
  out = "left over";
  EXPECT_FALSE(lzma_alone::inflate(packed.data(), packed.size(), text.size() - 1, out));
  EXPECT_TRUE(out.empty());
}

TEST(LzmaAlone, DamagedShortOrForeignStreamsAreRefused) {
  const std::string packed = pack(licenceLike());
  std::string out;
  for (size_t cut : {size_t(0), size_t(5), size_t(13), packed.size() / 2, packed.size() - 1}) {
    EXPECT_FALSE(lzma_alone::inflate(packed.data(), cut, 1u << 20, out)) << "cut at " << cut;
    EXPECT_TRUE(out.empty());
  }
  std::string damaged = packed;
  damaged[damaged.size() / 2] ^= 0x55;
  EXPECT_FALSE(lzma_alone::inflate(damaged.data(), damaged.size(), 1u << 20, out));

  const std::string trailing = packed + "x";
  EXPECT_FALSE(lzma_alone::inflate(trailing.data(), trailing.size(), 1u << 20, out));

  // A header asking for a 64 MiB dictionary is not one of ours.
  std::string large = packed;
  large[1] = 0, large[2] = 0, large[3] = 0, large[4] = 0x04;
  EXPECT_FALSE(lzma_alone::inflate(large.data(), large.size(), 1u << 20, out));
}

}  // namespace
