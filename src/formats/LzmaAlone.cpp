#include "formats/LzmaAlone.h"

#include <lzma.h>

#include <algorithm>
#include <cstdint>

namespace lzma_alone {

namespace {

// Text resources are a few kilobytes, packed with a small dictionary; a
// larger one means a stream that is not ours.
constexpr uint64_t kDecoderMemoryLimit = 2u << 20;

struct Decoder {
  lzma_stream strm = LZMA_STREAM_INIT;
  ~Decoder() { lzma_end(&strm); }
};

}  // namespace

bool inflate(const void* data, size_t size, size_t limit, std::string& out) {
  out.clear();
  Decoder decoder;
  if (lzma_alone_decoder(&decoder.strm, kDecoderMemoryLimit) != LZMA_OK) return false;
  decoder.strm.next_in = static_cast<const uint8_t*>(data);
  decoder.strm.avail_in = size;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    if (out.size() == limit + 1) break;  // one byte past the limit is enough to know
    const size_t before = out.size();
    const size_t room = std::min<size_t>(limit + 1 - before, 16 * 1024);
    out.resize(before + room);
    decoder.strm.next_out = reinterpret_cast<uint8_t*>(&out[before]);
    decoder.strm.avail_out = room;
    ret = lzma_code(&decoder.strm, LZMA_FINISH);
    out.resize(before + room - decoder.strm.avail_out);
  }
  if (ret != LZMA_STREAM_END || out.size() > limit || decoder.strm.avail_in != 0) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace lzma_alone
