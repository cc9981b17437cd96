#pragma once
// Reads a ".ebz" pack: 10 key bytes, then a Blowfish-ECB enciphered LZMA
// "alone" stream whose decoded bytes are the entries of Un8z.h. Everything is
// streamed through fixed buffers; memory stays bounded whatever sizes the
// pack claims (the LZMA dictionary is capped by kDecoderMemoryLimit).
//
// Threading: one reader per unpack. unpack() reads the source on a helper
// thread and calls the sink on another (one at a time, in order); both are
// joined before it returns, so neither is touched after it. The source and
// the sink must not be used by anyone else meanwhile.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "scenario/Un8z.h"

class Log;

namespace ebz {

constexpr size_t kKeyLength = 10;
// Enough for the largest standard preset's dictionary; a pack asking for
// more is refused instead of being allowed to exhaust a 32-bit process.
constexpr uint64_t kDecoderMemoryLimit = 128ull << 20;

// The LZMA header's size field (stream bytes 5..12, little-endian) holds the
// pack's unpacked total: every entry's header and data, which is exactly what
// the decoder yields. Packs made before it was recorded carry "unknown"
// (all ones) there, and still unpack.
constexpr size_t kLzmaHeaderSize = 13;
// Pack bytes that hold the whole record: the key, then the LZMA header, whose
// last byte sits in the third cipher block.
constexpr size_t kUnpackedTotalEnd = kKeyLength + 16;

// The unpacked total a pack records, read from its first bytes (at least
// kUnpackedTotalEnd of them); nullopt when fewer bytes are given or the pack
// does not record it. Safe on any bytes: the value is a claim until the
// decoder has met it, so use it to plan (free space), not to trust.
std::optional<uint64_t> unpackedTotal(const uint8_t* packStart, size_t size);

// Bounds on what unpacking one pack may write, so that a pack that decodes to
// far more than it weighs (a few hundred KiB of zeros make gigabytes) fills no
// disk. A pack that records its unpacked total is held to exactly that; one
// that does not may unpack to lengthMultiple times the pack bytes read so far,
// and never less than minimumBound. Entries are bounded by maxEntries.
struct UnpackLimits {
  uint64_t lengthMultiple = 256;
  uint64_t minimumBound = 64ull << 20;
  uint64_t maxEntries = un8z::kMaxEntries;
};

// The pack's bytes, from the start. read() fills up to capacity, reports 0 at
// the end and false on a read error.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual bool read(uint8_t* buffer, size_t capacity, size_t& got) = 0;
};

// A pack held in memory (tests, fuzzing).
class MemorySource : public ByteSource {
 public:
  MemorySource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  bool read(uint8_t* buffer, size_t capacity, size_t& got) override;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

// How unpack() sizes its hand-overs between its threads: the pack is read and
// deciphered in input blocks ahead of the decoder, and the decoded bytes are
// parsed and written in decoded blocks behind it. The defaults suit real packs
// (1 MiB in all); tests pass small ones so that a small pack goes round the
// rings many times.
struct PipelineShape {
  size_t inputBlockSize = 64 * 1024;  // a multiple of the cipher's 8-byte block
  size_t inputBlocks = 8;
  size_t decodedBlockSize = 64 * 1024;
  size_t decodedBlocks = 8;
};

class EbzReader {
 public:
  // separator joins the folders of entry names ('\\' on Windows, '/' natively).
  explicit EbzReader(wchar_t separator, const PipelineShape& shape = PipelineShape(),
                     const UnpackLimits& limits = UnpackLimits())
      : separator_(separator), shape_(shape), limits_(limits) {}

  // 0 when every entry was written and the stream ended between entries;
  // 1 otherwise, with failure() saying why. Writes an ERROR line for the
  // cause when a log is given.
  int unpack(ByteSource& pack, un8z::EntrySink& sink, Log* log);

  const std::wstring& failure() const { return failure_; }
  uint64_t entryCount() const { return entries_; }
  // Bytes the decoder handed to the entry parser.
  uint64_t decodedBytes() const { return decoded_; }

 private:
  int fail(Log* log, const std::wstring& why);

  wchar_t separator_;
  PipelineShape shape_;
  UnpackLimits limits_;
  std::wstring failure_;
  uint64_t entries_ = 0;
  uint64_t decoded_ = 0;
};

}  // namespace ebz
