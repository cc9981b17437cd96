// First byte picks the layer: even -> the entry parser gets the rest as
// decoded entry bytes; odd -> the rest is taken as an LZMA stream, enciphered
// with a fixed key and unpacked whole, so mutations reach the decoder and the
// parser behind it instead of dying in the cipher.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/Blowfish.h"
#include "scenario/EbzReader.h"
#include "scenario/Un8z.h"

namespace {

// Discards data but checks that every entry gets exactly its announced size
// and that names passed the guard.
class CheckingSink : public un8z::EntrySink {
 public:
  bool beginEntry(const std::wstring& name, uint64_t size) override {
    if (name.empty() || name[0] == L'/' || name.find(L':') != std::wstring::npos) __builtin_trap();
    size_t start = 0;
    for (size_t end; start <= name.size(); start = end + 1) {
      end = name.find(L'/', start);
      if (end == std::wstring::npos) end = name.size();
      if (name.compare(start, end - start, L"..") == 0) __builtin_trap();
    }
    remaining_ = size;
    return true;
  }
  bool writeBytes(const uint8_t*, size_t size) override {
    if (size > remaining_) __builtin_trap();
    remaining_ -= size;
    return true;
  }
  bool endEntry() override {
    if (remaining_ != 0) __builtin_trap();
    return true;
  }

 private:
  uint64_t remaining_ = 0;
};

const uint8_t kKey[10] = {'F', 'u', 'z', 'z', 'K', 'e', 'y', '0', '0', '1'};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  CheckingSink sink;
  if ((data[0] & 1) == 0) {
    un8z::EntryParser parser(sink, L'/');
    // Split the input in two feeds to exercise state kept across calls.
    const size_t half = (size - 1) / 2;
    if (parser.feed(data + 1, half)) parser.feed(data + 1 + half, size - 1 - half);
    parser.finish();
    return 0;
  }
  std::vector<uint8_t> pack(kKey, kKey + sizeof kKey);
  pack.insert(pack.end(), data + 1, data + size);
  Blowfish(kKey, sizeof kKey).encryptEcb(pack.data() + sizeof kKey, pack.size() - sizeof kKey);
  ebz::MemorySource source(pack.data(), pack.size());
  // Small blocks: inputs go round the reader's rings, and no input pays for
  // the full-size buffers.
  ebz::EbzReader reader(L'/', ebz::PipelineShape{256, 2, 512, 3});
  reader.unpack(source, sink, nullptr);
  return 0;
}
