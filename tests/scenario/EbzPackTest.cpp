// Whole packs: our writer against our reader, an independently made
// reference pack, and damaged packs of every kind.
#include <gtest/gtest.h>

#include <lzma.h>

#include <memory>
#include <random>
#include <string>

#include "PackTestSupport.h"
#include "TestFiles.h"
#include "formats/Blowfish.h"
#include "formats/Md5.h"
#include "scenario/EbzReader.h"
#include "scenario/EbzWriter.h"

namespace {

using packtest::RecordingSink;

const ebz::EbzWriter::Key kKey = {'K', 'e', 'y', 'O', 'f', 'T', 'e', 'n', '4', '2'};

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = char(rng());
  return s;
}

// Hands out the pack a few bytes at a time, as a slow file or pipe would.
class DribbleSource : public ebz::ByteSource {
 public:
  explicit DribbleSource(const std::string& data) : data_(data) {}
  bool read(uint8_t* buffer, size_t capacity, size_t& got) override {
    got = std::min({capacity, data_.size() - offset_, size_t(1 + offset_ % 5)});
    data_.copy(reinterpret_cast<char*>(buffer), got, offset_);
    offset_ += got;
    return true;
  }

 private:
  const std::string& data_;
  size_t offset_ = 0;
};

int unpack(const std::string& pack, RecordingSink& sink, std::wstring* why = nullptr) {
  ebz::MemorySource source(pack.data(), pack.size());
  ebz::EbzReader reader(L'/');
  const int result = reader.unpack(source, sink, nullptr);
  if (why) *why = reader.failure();
  return result;
}

TEST(EbzPack, RoundTripKeepsNamesBytesAndOrder) {
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"readme.txt", "hello"},
      {"empty.dat", ""},
      {"lib/deep/er/x.bin", randomBytes(300000, 1)},  // larger than every internal buffer
      {"\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xbd\xd1\x8b\xd0\xb5.txt", "cyrillic"},
      {"text.log", std::string(200000, 'z')},
  };
  const std::string pack = ebz::packInMemory(kKey, entries);
  ASSERT_FALSE(pack.empty());
  EXPECT_EQ("KeyOfTen42", pack.substr(0, 10));
  RecordingSink sink;
  std::wstring why;
  ASSERT_EQ(0, unpack(pack, sink, &why)) << text::wideToUtf8(why);
  EXPECT_EQ(L"readme.txt;empty.dat;lib/deep/er/x.bin;\x434\x430\x43d\x43d\x44b\x435.txt;text.log;", sink.order);
  for (const auto& [name, data] : entries) EXPECT_EQ(data, sink.entries[text::utf8ToWide(name)]) << name;
}

TEST(EbzPack, ShortReadsFromTheSourceDoNotSplitCipherBlocks) {
  const std::string pack = ebz::packInMemory(kKey, {{"a", randomBytes(50000, 2)}});
  DribbleSource source(pack);
  RecordingSink sink;
  ebz::EbzReader reader(L'/');
  ASSERT_EQ(0, reader.unpack(source, sink, nullptr)) << text::wideToUtf8(reader.failure());
  EXPECT_EQ(randomBytes(50000, 2), sink.entries[L"a"]);
}

TEST(EbzPack, EmptyPackHoldsNoEntries) {
  const std::string pack = ebz::packInMemory(kKey, {});
  RecordingSink sink;
  EXPECT_EQ(0, unpack(pack, sink));
  EXPECT_TRUE(sink.entries.empty());
}

TEST(EbzPack, WriterRefusesEntriesThatBreakTheirAnnouncedSize) {
  std::string out;
  ebz::EbzWriter writer(kKey, [&](const uint8_t* d, size_t n) { return out.append((const char*)d, n), true; });
  ASSERT_TRUE(writer.beginEntry("a", 3));
  EXPECT_FALSE(writer.write("abcd", 4));
  EXPECT_FALSE(writer.finish());

  ebz::EbzWriter shortEntry(kKey, [&](const uint8_t*, size_t) { return true; });
  ASSERT_TRUE(shortEntry.beginEntry("a", 3));
  ASSERT_TRUE(shortEntry.write("ab", 2));
  EXPECT_FALSE(shortEntry.finish());
}

TEST(EbzPack, EveryTruncationFailsWithoutCrashing) {
  const std::string pack = ebz::packInMemory(kKey, {{"a.txt", std::string(5000, 'a')}, {"b", randomBytes(3000, 3)}});
  for (size_t cut = 0; cut < pack.size(); cut += (cut < 64 ? 1 : 37)) {
    RecordingSink sink;
    EXPECT_EQ(1, unpack(pack.substr(0, cut), sink)) << "cut at " << cut << " of " << pack.size();
  }
}

TEST(EbzPack, KeyOnlyAndWrongKeyFail) {
  const std::string pack = ebz::packInMemory(kKey, {{"a", "data"}});
  RecordingSink sink;
  EXPECT_EQ(1, unpack(pack.substr(0, 10), sink));
  std::string wrongKey = pack;
  wrongKey[0] ^= 1;
  EXPECT_EQ(1, unpack(wrongKey, sink));
}

TEST(EbzPack, FlippedBitsNeverCrash) {
  const std::string pack = ebz::packInMemory(kKey, {{"a/b.txt", std::string(20000, 'q')}, {"c", randomBytes(999, 4)}});
  std::mt19937 rng(5);
  for (int i = 0; i < 200; ++i) {
    std::string damaged = pack;
    damaged[10 + rng() % (damaged.size() - 10)] ^= char(1 << (rng() % 8));
    RecordingSink sink;
    unpack(damaged, sink);  // any result but a crash, a hang or a runaway allocation
  }
}

// Reads like a file that breaks after `limit` bytes.
class BreakingSource : public ebz::ByteSource {
 public:
  BreakingSource(const std::string& data, size_t limit) : data_(data), limit_(limit) {}
  bool read(uint8_t* buffer, size_t capacity, size_t& got) override {
    if (offset_ >= limit_ && offset_ < data_.size()) return false;
    got = std::min({capacity, data_.size() - offset_, std::max<size_t>(limit_ - offset_, 1)});
    data_.copy(reinterpret_cast<char*>(buffer), got, offset_);
    offset_ += got;
    return true;
  }

 private:
  const std::string& data_;
  size_t limit_;
  size_t offset_ = 0;
};

// Refuses its n-th entry's bytes and notes any call that comes after that.
class RefusingSink : public RecordingSink {
 public:
  explicit RefusingSink(size_t refuseAt) : refuseAt_(refuseAt) {}
  bool beginEntry(const std::wstring& name, uint64_t size) override {
    callsAfterRefusal += refused_;
    ++begun_;
    return RecordingSink::beginEntry(name, size);
  }
  bool writeBytes(const uint8_t* data, size_t size) override {
    callsAfterRefusal += refused_;
    if (begun_ == refuseAt_) refused_ = true;
    return !refused_ && RecordingSink::writeBytes(data, size);
  }
  int callsAfterRefusal = 0;

 private:
  size_t refuseAt_;
  size_t begun_ = 0;
  bool refused_ = false;
};

// The source is read and the sink written on threads of their own: every way
// an unpack can end must still give its own failure, stop the sink's calls at
// a refusal and leave nothing running. Small blocks take a small pack round
// the rings hundreds of times; many rounds, for the sanitizers.
TEST(EbzPack, ReadErrorsAndRefusalsAnywhereEndTheUnpackWithTheirOwnFailure) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 16; ++i) {
    entries.push_back({"f" + std::to_string(i), i % 2 ? randomBytes(1000 + i * 1500, i) : std::string(20000, char(i))});
  }
  const std::string pack = ebz::packInMemory(kKey, entries);
  const ebz::PipelineShape tiny{1024, 2, 2000, 3};
  std::mt19937 rng(6);
  for (int round = 0; round < 40; ++round) {
    const ebz::PipelineShape shape = round % 2 ? tiny : ebz::PipelineShape();
    const size_t breakAt = 10 + rng() % (pack.size() - 10);
    BreakingSource broken(pack, breakAt);
    RecordingSink sink;
    ebz::EbzReader reader(L'/', shape);
    EXPECT_EQ(1, reader.unpack(broken, sink, nullptr)) << breakAt;
    EXPECT_EQ(L"Can't read pack", reader.failure()) << breakAt;

    const size_t refuseAt = 1 + rng() % entries.size();
    RefusingSink refusing(refuseAt);
    ebz::MemorySource source(pack.data(), pack.size());
    ebz::EbzReader refused(L'/', shape);
    EXPECT_EQ(1, refused.unpack(source, refusing, nullptr)) << refuseAt;
    EXPECT_EQ(L"Can't write pack entry 'f" + std::to_wstring(refuseAt - 1) + L"'", refused.failure());
    EXPECT_EQ(0, refusing.callsAfterRefusal) << refuseAt;
    EXPECT_EQ(refuseAt, refusing.entries.size());
  }
  for (const ebz::PipelineShape& shape : {tiny, ebz::PipelineShape()}) {
    BreakingSource whole(pack, pack.size());
    RecordingSink sink;
    ebz::EbzReader reader(L'/', shape);
    ASSERT_EQ(0, reader.unpack(whole, sink, nullptr)) << text::wideToUtf8(reader.failure());
    EXPECT_EQ(entries.size(), reader.entryCount());
    for (const auto& [name, data] : entries) EXPECT_EQ(data, sink.entries[text::utf8ToWide(name)]) << name;
  }
  RecordingSink sink;
  ebz::EbzReader split(L'/', ebz::PipelineShape{60, 2, 100, 3});
  EXPECT_EQ(1, split.unpack(*std::make_unique<ebz::MemorySource>(pack.data(), pack.size()), sink, nullptr));
  EXPECT_TRUE(sink.entries.empty());
}

// Builds a pack around hand-written entry bytes, to reach the entry parser
// with input our writer would never produce.
std::string packOfRawEntries(const std::string& entryBytes, uint32_t dictionarySize = 1u << 16) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 1);
  options.dict_size = dictionarySize;
  lzma_stream strm = LZMA_STREAM_INIT;
  EXPECT_EQ(LZMA_OK, lzma_alone_encoder(&strm, &options));
  std::string encoded(entryBytes.size() + 1024, '\0');
  strm.next_in = reinterpret_cast<const uint8_t*>(entryBytes.data());
  strm.avail_in = entryBytes.size();
  strm.next_out = reinterpret_cast<uint8_t*>(&encoded[0]);
  strm.avail_out = encoded.size();
  EXPECT_EQ(LZMA_STREAM_END, lzma_code(&strm, LZMA_FINISH));
  encoded.resize(encoded.size() - strm.avail_out);
  lzma_end(&strm);
  Blowfish(kKey.data(), kKey.size()).encryptEcb(reinterpret_cast<uint8_t*>(&encoded[0]), encoded.size());
  return std::string(kKey.begin(), kKey.end()) + encoded;
}

TEST(EbzPack, GarbledEntriesInAValidStreamFail) {
  const std::pair<const char*, std::string> cases[] = {
      {"length prefix without colon", "5a.txt3:abc"},
      {"non-digit length", "1:ax:abc"},
      {"data length beyond the stream", "1:a999:abc"},
      {"overflowing length", "1:a184467440737095516160:"},
      {"absurd name length", "999999999:x"},
      {"traversal", "6:../x.y1:z"},
  };
  for (const auto& [what, bytes] : cases) {
    RecordingSink sink;
    std::wstring why;
    EXPECT_EQ(1, unpack(packOfRawEntries(bytes), sink, &why)) << what;
    EXPECT_FALSE(why.empty()) << what;
  }
  RecordingSink sink;
  EXPECT_EQ(0, unpack(packOfRawEntries("1:a3:abc"), sink));
  EXPECT_EQ("abc", sink.entries[L"a"]);
}

TEST(EbzPack, HugeDictionaryClaimIsRefusedNotAllocated) {
  std::string pack = packOfRawEntries("1:a3:abc");
  // Rewrite the dictionary size in the (enciphered) LZMA header to 4 GiB - 1.
  std::string plain = pack.substr(10, 16);
  Blowfish cipher(kKey.data(), kKey.size());
  cipher.decryptEcb(reinterpret_cast<uint8_t*>(&plain[0]), plain.size());
  for (int i = 1; i <= 4; ++i) plain[i] = '\xff';
  cipher.encryptEcb(reinterpret_cast<uint8_t*>(&plain[0]), plain.size());
  pack.replace(10, 16, plain);
  RecordingSink sink;
  std::wstring why;
  EXPECT_EQ(1, unpack(pack, sink, &why));
  EXPECT_NE(std::wstring::npos, why.find(L"memory")) << text::wideToUtf8(why);
}

TEST(EbzPack, ReferencePackMadeWithoutOurWriterUnpacksByteForByte) {
  const std::string pack = testfiles::readFile(text::utf8ToWide(VEXA_TEST_DATA_DIR "/ebz/reference.ebz"));
  ASSERT_FALSE(pack.empty()) << "tests/data/ebz/reference.ebz missing";
  RecordingSink sink;
  std::wstring why;
  ASSERT_EQ(0, unpack(pack, sink, &why)) << text::wideToUtf8(why);
  const std::string expected = testfiles::readFile(text::utf8ToWide(VEXA_TEST_DATA_DIR "/ebz/reference.expected"));
  // The expected listing: one "name<TAB>size<TAB>md5" line per entry, in pack order.
  std::string listing;
  for (const auto& name : {L"readme.txt", L"empty.dat", L"bin/random.bin", L"docs/nested/\x441\x43f\x440\x430\x432\x43a\x430.txt",
                           L"zeros.dat"}) {
    ASSERT_TRUE(sink.entries.count(name)) << text::wideToUtf8(name);
    const std::string& data = sink.entries[name];
    listing += text::wideToUtf8(name) + "\t" + std::to_string(data.size()) + "\t" +
               md5Hex(data.data(), data.size()) + "\n";
  }
  EXPECT_EQ(expected, listing);
}

}  // namespace
