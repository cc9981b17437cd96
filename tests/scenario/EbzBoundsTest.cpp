// What one pack may make the unpack write: the unpacked total a pack records
// in its header, the bound for packs that record none, and the entry bound.
#include <gtest/gtest.h>

#include <lzma.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "PackTestSupport.h"
#include "formats/Blowfish.h"
#include "scenario/EbzReader.h"
#include "scenario/EbzWriter.h"

namespace {

const ebz::EbzWriter::Key kKey = {'B', 'o', 'u', 'n', 'd', 's', 'K', 'e', 'y', '7'};

// Counts what it is given and keeps nothing, so that large unpacks cost no memory.
class CountingSink : public un8z::EntrySink {
 public:
  bool beginEntry(const std::wstring&, uint64_t) override {
    ++entries;
    return true;
  }
  bool writeBytes(const uint8_t*, size_t size) override {
    bytes += size;
    return true;
  }
  bool endEntry() override { return true; }

  uint64_t entries = 0;
  uint64_t bytes = 0;
};

std::string writePack(const std::function<void(ebz::EbzWriter&)>& entries, std::optional<uint64_t> total,
                      uint32_t preset = 0) {
  std::string pack;
  ebz::EbzWriter writer(
      kKey,
      [&](const uint8_t* data, size_t size) {
        pack.append(reinterpret_cast<const char*>(data), size);
        return true;
      },
      preset, total);
  entries(writer);
  EXPECT_TRUE(writer.finish());
  return pack;
}

// The first part of a pack whose one entry claims 4 GiB of zeros and whose
// header records no total: zeros are fed to the encoder until the pack holds
// `zeros` of them, far fewer than claimed, which is all a reader that stops in
// time ever gets to.
std::string zeroBombStart(uint64_t zeros) {
  std::string pack;
  ebz::EbzWriter writer(kKey, [&](const uint8_t* d, size_t n) { return pack.append((const char*)d, n), true; }, 0);
  writer.beginEntry("bomb.bin", 4ull << 30);
  const std::string block(1 << 20, '\0');
  for (uint64_t left = zeros; left != 0; left -= block.size()) writer.write(block.data(), block.size());
  // No finish(): the writer would refuse an entry short of its size. The
  // pack ends where a reader that stops in time stops reading anyway.
  return pack;
}

// Rewrites the total a pack records (all ones: none), as a forger would.
void setRecordedTotal(std::string& pack, uint64_t total) {
  uint8_t stream[16];
  std::memcpy(stream, pack.data() + ebz::kKeyLength, sizeof stream);
  const Blowfish cipher(kKey.data(), kKey.size());
  cipher.decryptEcb(stream, sizeof stream);
  for (int i = 0; i < 8; ++i) stream[5 + i] = uint8_t(total >> (8 * i));
  cipher.encryptEcb(stream, sizeof stream);
  std::memcpy(&pack[ebz::kKeyLength], stream, sizeof stream);
}

int unpack(const std::string& pack, un8z::EntrySink& sink, ebz::EbzReader& reader) {
  ebz::MemorySource source(pack.data(), pack.size());
  return reader.unpack(source, sink, nullptr);
}

TEST(EbzBounds, PacksRecordTheirUnpackedTotalInTheirFirstBytes) {
  const std::vector<std::pair<std::string, std::string>> entries = {{"a.txt", "hello"}, {"b/c.bin", "xyz"}};
  const std::string pack = ebz::packInMemory(kKey, entries);
  const uint64_t total = ebz::EbzWriter::entryBytes("a.txt", 5) + ebz::EbzWriter::entryBytes("b/c.bin", 3);
  EXPECT_EQ(total, std::string("5:a.txt5:hello7:b/c.bin3:xyz").size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(pack.data());
  EXPECT_EQ(ebz::unpackedTotal(bytes, ebz::kUnpackedTotalEnd), std::optional<uint64_t>(total));
  EXPECT_EQ(ebz::unpackedTotal(bytes, ebz::kUnpackedTotalEnd - 1), std::nullopt);

  packtest::RecordingSink sink;
  ebz::EbzReader reader(L'/');
  ASSERT_EQ(unpack(pack, sink, reader), 0) << reader.failure();
  EXPECT_EQ(sink.entries[L"b/c.bin"], "xyz");
  EXPECT_EQ(reader.decodedBytes(), total);
}

TEST(EbzBounds, PacksWithoutARecordedTotalStillUnpack) {
  const std::string pack = ebz::packInMemory(kKey, {{"a.txt", "hello"}}, false);
  EXPECT_EQ(ebz::unpackedTotal(reinterpret_cast<const uint8_t*>(pack.data()), pack.size()), std::nullopt);
  packtest::RecordingSink sink;
  ebz::EbzReader reader(L'/');
  ASSERT_EQ(unpack(pack, sink, reader), 0) << reader.failure();
  EXPECT_EQ(sink.entries[L"a.txt"], "hello");
}

TEST(EbzBounds, WriterRefusesEntriesThatMissTheTotalItRecords) {
  for (const uint64_t total : {uint64_t(9), uint64_t(11)}) {
    std::string pack;
    ebz::EbzWriter writer(kKey, [&](const uint8_t* d, size_t n) { return pack.append((const char*)d, n), true; },
                          0, total);
    writer.beginEntry("a", 5);  // "1:a5:" and 5 bytes: 10
    writer.write("hello", 5);
    EXPECT_FALSE(writer.finish()) << total;
  }
  std::string pack;
  ebz::EbzWriter exact(kKey, [&](const uint8_t* d, size_t n) { return pack.append((const char*)d, n), true; }, 0, 10);
  exact.beginEntry("a", 5);
  exact.write("hello", 5);
  EXPECT_TRUE(exact.finish());
}

TEST(EbzBounds, APackIsHeldToTheTotalItRecordsNotToWhatItHolds) {
  std::string pack = ebz::packInMemory(kKey, {{"a.txt", std::string(4096, 'a')}, {"b.txt", "late"}});
  setRecordedTotal(pack, 1000);
  CountingSink sink;
  ebz::EbzReader reader(L'/');
  EXPECT_EQ(unpack(pack, sink, reader), 1);
  EXPECT_LE(sink.bytes, 1000u);
  EXPECT_EQ(sink.entries, 1u) << "the entry past the recorded total is never begun";
}

TEST(EbzBounds, AZeroBombThatRecordsNoTotalStopsAtTheBoundForItsLength) {
  const std::string pack = zeroBombStart(96ull << 20);
  ASSERT_LT(pack.size() * 256, ebz::UnpackLimits().minimumBound) << "the pack's length must not raise the bound";
  CountingSink sink;
  ebz::EbzReader reader(L'/');
  EXPECT_EQ(unpack(pack, sink, reader), 1);
  EXPECT_NE(reader.failure().find(L"bound for a pack of its length"), std::wstring::npos) << reader.failure();
  EXPECT_LE(reader.decodedBytes(), ebz::UnpackLimits().minimumBound);
  EXPECT_GT(reader.decodedBytes(), ebz::UnpackLimits().minimumBound - (1 << 20));
  EXPECT_LE(sink.bytes, ebz::UnpackLimits().minimumBound);
}

TEST(EbzBounds, TheBoundGrowsWithThePackBytesRead) {
  // Random letters of a four-letter alphabet pack to about a quarter of
  // their size: more than twice the pack's bytes, well under eight times.
  std::string data(400 * 1024, '\0');
  uint32_t x = 7;
  for (char& c : data) c = "acgt"[(x = x * 1103515245u + 12345u) >> 30];
  const std::string pack = ebz::packInMemory(kKey, {{"r.bin", data}}, false);
  ebz::UnpackLimits limits;
  limits.minimumBound = 1024;
  for (const uint64_t multiple : {uint64_t(2), uint64_t(8)}) {
    limits.lengthMultiple = multiple;
    CountingSink sink;
    ebz::EbzReader reader(L'/', ebz::PipelineShape(), limits);
    EXPECT_EQ(unpack(pack, sink, reader), multiple == 2 ? 1 : 0) << multiple << " " << pack.size();
  }
}

TEST(EbzBounds, AMillionEntryPackStopsAtTheEntryBound) {
  const std::string pack = writePack(
      [](ebz::EbzWriter& writer) {
        for (int i = 0; i < 1000000; ++i) {
          writer.beginEntry("a", 1);
          writer.write("x", 1);
        }
      },
      uint64_t(1000000) * ebz::EbzWriter::entryBytes("a", 1));
  CountingSink sink;
  ebz::EbzReader reader(L'/');
  EXPECT_EQ(unpack(pack, sink, reader), 1);
  EXPECT_EQ(sink.entries, un8z::kMaxEntries);
  EXPECT_EQ(reader.failure(), L"Pack has more than 65536 entries, the most an install takes");

  // The bound itself is a pack's to reach.
  ebz::UnpackLimits limits;
  limits.maxEntries = 3;
  const std::string three = ebz::packInMemory(kKey, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
  CountingSink atBound;
  ebz::EbzReader bounded(L'/', ebz::PipelineShape(), limits);
  EXPECT_EQ(unpack(three, atBound, bounded), 0) << bounded.failure().size();
}

}  // namespace
