#include "scenario/EbzReader.h"

#include <lzma.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "app/Log.h"
#include "formats/Blowfish.h"

namespace ebz {

namespace {

// The decoder's thread only decodes: the pack is read and deciphered ahead of
// it on one helper thread, and its output is parsed and written behind it on
// another, so liblzma sets the pace. PipelineShape sizes the hand-overs.

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

// A fixed ring of equal buffers handed from one producer thread to one
// consumer thread in order. A buffer belongs to the producer from write() to
// publish() and to the consumer from read() to release(); the ring's lock
// guards only the counters, so the bytes cross threads without being shared.
// The last buffer a producer publishes says how its stream ended. stop()
// (either side, or the owner) makes every later write() and read() return
// null, so no side waits on one that has gone. The waits have no clock: each
// ends when the other side hands over or stops, and the two sides' own work
// (the pack's reads, the sink's writes) is bounded where it is done.
class BlockRing {
 public:
  enum class Mark { kData, kEnd, kFailed };
  struct Block {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    Mark mark = Mark::kData;
  };

  BlockRing(size_t count, size_t blockSize) : blocks_(count), blockSize_(blockSize) {
    for (Block& block : blocks_) block.bytes.reset(new uint8_t[blockSize]);
  }
  size_t blockSize() const { return blockSize_; }

  // Producer: the next free block, or null once stopped.
  Block* write() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || published_ - released_ < blocks_.size(); });
    return stopped_ ? nullptr : &blocks_[published_ % blocks_.size()];
  }
  void publish(size_t size, Mark mark) {
    std::lock_guard<std::mutex> lock(mutex_);
    Block& block = blocks_[published_ % blocks_.size()];
    block.size = size;
    block.mark = mark;
    ++published_;
    changed_.notify_all();
  }

  // Consumer: the oldest published block, or null once stopped.
  const Block* read() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || released_ < published_; });
    return stopped_ ? nullptr : &blocks_[released_ % blocks_.size()];
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++released_;
    changed_.notify_all();
  }

  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::vector<Block> blocks_;
  const size_t blockSize_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t published_ = 0;  // blocks handed to the consumer so far
  size_t released_ = 0;   // blocks the consumer has given back so far
  bool stopped_ = false;
};

// Reads the enciphered stream after the key and deciphers it, block by block,
// until its end, a read failure or the ring's stop; counts the bytes it read
// in `read`. Runs on its own thread.
void readAhead(ByteSource& pack, const Blowfish& cipher, BlockRing& ring, std::atomic<uint64_t>& read) {
  for (;;) {
    BlockRing::Block* block = ring.write();
    if (!block) return;
    size_t got = 0;
    if (!fill(pack, block->bytes.get(), ring.blockSize(), got)) {
      ring.publish(0, BlockRing::Mark::kFailed);
      return;
    }
    read.fetch_add(got, std::memory_order_relaxed);
    // A trailing part shorter than a cipher block is not enciphered.
    cipher.decryptEcb(block->bytes.get(), got);
    const bool last = got < ring.blockSize();
    ring.publish(got, last ? BlockRing::Mark::kEnd : BlockRing::Mark::kData);
    if (last) return;
  }
}

// Feeds decoded blocks to the parser until the end mark or the ring's stop;
// stops the ring itself when the parser refuses, so the decoder stops too.
// Runs on its own thread and owns the parser (and through it the sink) until
// joined.
void writeBehind(un8z::EntryParser& parser, BlockRing& ring, bool& refused) {
  for (;;) {
    const BlockRing::Block* block = ring.read();
    if (!block || block->mark != BlockRing::Mark::kData) return;
    if (block->size != 0 && !parser.feed(block->bytes.get(), block->size)) {
      refused = true;
      ring.stop();
      return;
    }
    ring.release();
  }
}

// Joins a thread when it leaves scope, on every road out.
struct Joined {
  std::thread thread;
  ~Joined() {
    if (thread.joinable()) thread.join();
  }
};

// Collects the LZMA header as the stream's first bytes pass by.
struct HeaderWatch {
  uint8_t bytes[kLzmaHeaderSize];
  size_t got = 0;
  void take(const uint8_t* data, size_t size) {
    while (got < kLzmaHeaderSize && size != 0) {
      bytes[got++] = *data++;
      --size;
    }
  }
  // The recorded total, once the whole header has passed.
  std::optional<uint64_t> total() const {
    if (got < kLzmaHeaderSize) return std::nullopt;
    uint64_t value = 0;
    for (int i = 12; i >= 5; --i) value = (value << 8) | bytes[i];
    if (value == UINT64_MAX) return std::nullopt;
    return value;
  }
};

}  // namespace

std::optional<uint64_t> unpackedTotal(const uint8_t* packStart, size_t size) {
  if (size < kUnpackedTotalEnd) return std::nullopt;
  uint8_t stream[16];
  std::memcpy(stream, packStart + kKeyLength, sizeof stream);
  Blowfish(packStart, kKeyLength).decryptEcb(stream, sizeof stream);
  HeaderWatch header;
  header.take(stream, sizeof stream);
  return header.total();
}

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
  decoded_ = 0;
  if (shape_.inputBlockSize == 0 || shape_.inputBlockSize % 8 != 0 || shape_.inputBlocks == 0 ||
      shape_.decodedBlockSize == 0 || shape_.decodedBlocks == 0) {
    // A block short of the end would split a cipher block.
    return fail(log, L"Unpack block sizes must be whole cipher blocks and counts above 0");
  }
  uint8_t key[kKeyLength];
  size_t got = 0;
  if (!fill(pack, key, sizeof key, got)) return fail(log, L"Can't read pack");
  if (got != sizeof key) return fail(log, L"Pack is shorter than its key");
  const Blowfish cipher(key, sizeof key);

  LzmaStream lzma;
  if (lzma_alone_decoder(&lzma.strm, kDecoderMemoryLimit) != LZMA_OK) return fail(log, L"Can't start LZMA decoder");

  un8z::EntryParser parser(sink, separator_, limits_.maxEntries);
  BlockRing input(shape_.inputBlocks, shape_.inputBlockSize);
  BlockRing decoded(shape_.decodedBlocks, shape_.decodedBlockSize);
  bool refused = false;
  bool readFailed = false;
  bool overBound = false;
  uint64_t bound = 0;
  std::atomic<uint64_t> packRead{kKeyLength};
  HeaderWatch header;
  lzma_ret ret = LZMA_OK;
  {
    // Declared so that they are joined (in reverse order) before the rings
    // and the parser they use go; the stops below end their waits first.
    Joined reader, writer;
    try {
      reader.thread = std::thread(readAhead, std::ref(pack), std::cref(cipher), std::ref(input), std::ref(packRead));
      writer.thread = std::thread(writeBehind, std::ref(parser), std::ref(decoded), std::ref(refused));
    } catch (const std::system_error&) {
      input.stop();
      decoded.stop();
      return fail(log, L"Can't start the unpack threads");
    }

    bool inputEnded = false;
    bool holdingInput = false;
    while (ret == LZMA_OK) {
      if (lzma.strm.avail_in == 0 && !inputEnded) {
        if (holdingInput) input.release();
        const BlockRing::Block* block = input.read();
        holdingInput = true;
        if (!block || block->mark == BlockRing::Mark::kFailed) {
          readFailed = true;
          break;
        }
        lzma.strm.next_in = block->bytes.get();
        lzma.strm.avail_in = block->size;
        inputEnded = block->mark == BlockRing::Mark::kEnd;
        header.take(block->bytes.get(), block->size);
      }
      BlockRing::Block* out = decoded.write();
      if (!out) break;  // the parser refused what came before
      lzma.strm.next_out = out->bytes.get();
      lzma.strm.avail_out = decoded.blockSize();
      ret = lzma_code(&lzma.strm, inputEnded && lzma.strm.avail_in == 0 ? LZMA_FINISH : LZMA_RUN);
      // Bytes past the bound never reach the parser, so never the disk.
      if (const std::optional<uint64_t> total = header.total()) {
        bound = *total;
      } else {
        const uint64_t read = packRead.load(std::memory_order_relaxed);
        const uint64_t multiple = limits_.lengthMultiple;
        const uint64_t scaled = multiple == 0 ? 0 : read > UINT64_MAX / multiple ? UINT64_MAX : read * multiple;
        bound = scaled > limits_.minimumBound ? scaled : limits_.minimumBound;
      }
      if (lzma.strm.total_out > bound) {
        overBound = true;
        decoded.publish(0, BlockRing::Mark::kData);
        break;
      }
      decoded.publish(decoded.blockSize() - lzma.strm.avail_out, BlockRing::Mark::kData);
      decoded_ = lzma.strm.total_out;
    }
    if (decoded.write()) decoded.publish(0, BlockRing::Mark::kEnd);
    if (writer.thread.joinable()) writer.thread.join();
    input.stop();
  }
  // Both helpers are joined: the parser is this thread's again.
  entries_ = parser.entryCount();
  if (refused) return fail(log, parser.error());
  if (readFailed) return fail(log, L"Can't read pack");
  if (overBound) {
    return fail(log, header.total() ? L"Pack unpacks to more than the " + std::to_wstring(bound) + L" bytes it records"
                                    : L"Pack unpacks to more than " + std::to_wstring(bound) +
                                          L" bytes, the bound for a pack of its length");
  }
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
