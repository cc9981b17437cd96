#include "scenario/EbzReader.h"

#include <lzma.h>

#include <cstring>
#include <memory>

#include "app/Log.h"
#include "formats/Blowfish.h"

namespace ebz {

namespace {

constexpr size_t kDecodedBufferSize = 64 * 1024;

struct LzmaStream {
  lzma_stream strm = LZMA_STREAM_INIT;
  ~LzmaStream() { lzma_end(&strm); }
};

// Fills the buffer as far as the source allows, so that short reads from the
// source never split a cipher block.
bool fill(ByteSource& source, uint8_t* buffer, size_t capacity, size_t& got) {
  got = 0;
  while (got < capacity) {
    size_t n = 0;
    if (!source.read(buffer + got, capacity - got, n)) return false;
    if (n == 0) break;
    got += n;
  }
  return true;
}

}  // namespace

bool MemorySource::read(uint8_t* buffer, size_t capacity, size_t& got) {
  got = size_ - offset_ < capacity ? size_ - offset_ : capacity;
  if (got) std::memcpy(buffer, data_ + offset_, got);
  offset_ += got;
  return true;
}

int EbzReader::fail(Log* log, const std::wstring& why) {
  failure_ = why;
  if (log) log->error(why);
  return 1;
}

int EbzReader::unpack(ByteSource& pack, un8z::EntrySink& sink, Log* log) {
  failure_.clear();
  entries_ = 0;
  uint8_t key[kKeyLength];
  size_t got = 0;
  if (!fill(pack, key, sizeof key, got)) return fail(log, L"Can't read pack");
  if (got != sizeof key) return fail(log, L"Pack is shorter than its key");
  const Blowfish cipher(key, sizeof key);

  LzmaStream lzma;
  if (lzma_alone_decoder(&lzma.strm, kDecoderMemoryLimit) != LZMA_OK) return fail(log, L"Can't start LZMA decoder");

  un8z::EntryParser parser(sink, separator_);
  std::unique_ptr<uint8_t[]> cipherBuffer(new uint8_t[kCipherBufferSize]);
  std::unique_ptr<uint8_t[]> decoded(new uint8_t[kDecodedBufferSize]);
  bool inputEnded = false;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    if (lzma.strm.avail_in == 0 && !inputEnded) {
      if (!fill(pack, cipherBuffer.get(), kCipherBufferSize, got)) return fail(log, L"Can't read pack");
      // A trailing part shorter than a block is not enciphered.
      cipher.decryptEcb(cipherBuffer.get(), got);
      lzma.strm.next_in = cipherBuffer.get();
      lzma.strm.avail_in = got;
      inputEnded = got < kCipherBufferSize;
    }
    lzma.strm.next_out = decoded.get();
    lzma.strm.avail_out = kDecodedBufferSize;
    ret = lzma_code(&lzma.strm, inputEnded && lzma.strm.avail_in == 0 ? LZMA_FINISH : LZMA_RUN);
    const size_t produced = kDecodedBufferSize - lzma.strm.avail_out;
    if (produced != 0 && !parser.feed(decoded.get(), produced)) {
      entries_ = parser.entryCount();
      return fail(log, parser.error());
    }
  }
  entries_ = parser.entryCount();
  switch (ret) {
    case LZMA_STREAM_END:
      break;
    case LZMA_MEMLIMIT_ERROR:
    case LZMA_MEM_ERROR:
      return fail(log, L"Pack needs more decoder memory than allowed");
    case LZMA_BUF_ERROR:
      return fail(log, L"Pack stream ends early");
    default:
      return fail(log, L"Pack stream is damaged (LZMA status " + std::to_wstring(int(ret)) + L")");
  }
  if (!parser.finish()) return fail(log, parser.error());
  return 0;
}

}  // namespace ebz
