#pragma once
// Writes ".ebz" packs (the format read by EbzReader): used by the pack tool
// and by tests. Entries are streamed: beginEntry() announces a name and an
// exact size, write() supplies the bytes, and the next beginEntry() or
// finish() checks that the announced size was met.
//
// Threading: one writer per pack, used by one thread.
#include <lzma.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "formats/Blowfish.h"

namespace ebz {

class EbzWriter {
 public:
  using Output = std::function<bool(const uint8_t* data, size_t size)>;
  using Key = std::array<uint8_t, 10>;

  // output receives the pack's bytes in order; a false return ends the pack
  // with a failure. preset is an LZMA preset (0-9). unpackedTotal, the sum of
  // entryBytes() over every entry to come, is recorded in the pack's header so
  // that a reader knows before decoding how much the pack will write (and
  // holds it to that); finish() fails when the entries did not add up to it.
  // Without it the pack says "unknown", as packs made before it did.
  EbzWriter(const Key& key, Output output, uint32_t preset = LZMA_PRESET_DEFAULT,
            std::optional<uint64_t> unpackedTotal = std::nullopt);
  ~EbzWriter();
  EbzWriter(const EbzWriter&) = delete;
  EbzWriter& operator=(const EbzWriter&) = delete;

  // utf8Name uses "/" between folders.
  bool beginEntry(const std::string& utf8Name, uint64_t size);
  bool write(const void* data, size_t size);
  // Ends the LZMA stream and flushes; false when any step failed.
  bool finish();

  bool failed() const { return failed_; }

  // What one entry adds to the unpacked total: its header and its data.
  static uint64_t entryBytes(const std::string& utf8Name, uint64_t size);

 private:
  bool encode(const uint8_t* data, size_t size, lzma_action action);
  bool emit(const uint8_t* data, size_t size, bool last);
  bool entryComplete() const { return remaining_ == 0; }

  Output output_;
  Blowfish cipher_;
  lzma_stream strm_ = LZMA_STREAM_INIT;
  std::vector<uint8_t> encoded_;
  std::vector<uint8_t> pending_;  // encoded bytes wait here until a whole cipher block is ready
  uint64_t remaining_ = 0;
  std::optional<uint64_t> unpackedTotal_;
  uint64_t unpacked_ = 0;     // entry bytes encoded so far
  uint64_t streamBytes_ = 0;  // encoded bytes that went through emit() so far
  bool started_ = false;
  bool finished_ = false;
  bool failed_ = false;
};

// A random key of 10 printable ASCII letters and digits.
EbzWriter::Key randomKey();

// A whole pack in memory, for tests: entries of (UTF-8 name, data).
// recordTotal false makes a pack as they were made before the unpacked total was recorded.
std::string packInMemory(const EbzWriter::Key& key, const std::vector<std::pair<std::string, std::string>>& entries,
                         bool recordTotal = true);

}  // namespace ebz
