#include "scenario/EbzWriter.h"

#include <random>

#include "scenario/EbzReader.h"

namespace ebz {

namespace {
constexpr size_t kEncodedBufferSize = 64 * 1024;
}

EbzWriter::EbzWriter(const Key& key, Output output, uint32_t preset, std::optional<uint64_t> unpackedTotal)
    : output_(std::move(output)), cipher_(key.data(), key.size()), encoded_(kEncodedBufferSize),
      unpackedTotal_(unpackedTotal) {
  // All ones is the header's "unknown".
  if (unpackedTotal_ && *unpackedTotal_ == UINT64_MAX) unpackedTotal_.reset();
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, preset) || lzma_alone_encoder(&strm_, &options) != LZMA_OK) {
    failed_ = true;
    return;
  }
  if (!output_(key.data(), key.size())) failed_ = true;
  started_ = true;
}

EbzWriter::~EbzWriter() { lzma_end(&strm_); }

bool EbzWriter::emit(const uint8_t* data, size_t size, bool last) {
  const size_t before = pending_.size();
  pending_.insert(pending_.end(), data, data + size);
  // The encoder always writes "unknown" into the header's size field; the
  // known total replaces it on the way out.
  for (size_t i = 0; i < size && unpackedTotal_ && streamBytes_ + i < kLzmaHeaderSize; ++i) {
    const uint64_t at = streamBytes_ + i;
    if (at >= 5) pending_[before + i] = uint8_t(*unpackedTotal_ >> (8 * (at - 5)));
  }
  streamBytes_ += size;
  const size_t whole = last ? pending_.size() : pending_.size() / 8 * 8;
  if (whole == 0) return true;
  cipher_.encryptEcb(pending_.data(), whole);  // leaves a last partial block plain, as the reader expects
  const bool ok = output_(pending_.data(), whole);
  pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(whole));
  return ok;
}

bool EbzWriter::encode(const uint8_t* data, size_t size, lzma_action action) {
  strm_.next_in = data;
  strm_.avail_in = size;
  for (;;) {
    strm_.next_out = encoded_.data();
    strm_.avail_out = encoded_.size();
    const lzma_ret ret = lzma_code(&strm_, action);
    const size_t produced = encoded_.size() - strm_.avail_out;
    const bool end = ret == LZMA_STREAM_END;
    if (ret != LZMA_OK && !end) return false;
    if ((produced || end) && !emit(encoded_.data(), produced, end)) return false;
    if (end) return true;
    if (action == LZMA_RUN && strm_.avail_in == 0) return true;
  }
}

bool EbzWriter::beginEntry(const std::string& utf8Name, uint64_t size) {
  if (failed_ || finished_ || !entryComplete()) return !(failed_ = true);
  const std::string header =
      std::to_string(utf8Name.size()) + ":" + utf8Name + std::to_string(size) + ":";
  remaining_ = size;
  unpacked_ += header.size() + size;
  if (!encode(reinterpret_cast<const uint8_t*>(header.data()), header.size(), LZMA_RUN)) failed_ = true;
  return !failed_;
}

bool EbzWriter::write(const void* data, size_t size) {
  if (failed_ || finished_ || size > remaining_) return !(failed_ = true);
  remaining_ -= size;
  if (!encode(static_cast<const uint8_t*>(data), size, LZMA_RUN)) failed_ = true;
  return !failed_;
}

bool EbzWriter::finish() {
  if (finished_) return !failed_;
  finished_ = true;
  if (failed_ || !entryComplete()) return !(failed_ = true);
  if (unpackedTotal_ && *unpackedTotal_ != unpacked_) return !(failed_ = true);
  if (!encode(nullptr, 0, LZMA_FINISH)) failed_ = true;
  return !failed_;
}

uint64_t EbzWriter::entryBytes(const std::string& utf8Name, uint64_t size) {
  return std::to_string(utf8Name.size()).size() + 1 + utf8Name.size() + std::to_string(size).size() + 1 + size;
}

EbzWriter::Key randomKey() {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  EbzWriter::Key key{};
  for (auto& b : key) b = uint8_t(kAlphabet[device() % (sizeof kAlphabet - 1)]);
  return key;
}

std::string packInMemory(const EbzWriter::Key& key, const std::vector<std::pair<std::string, std::string>>& entries,
                         bool recordTotal) {
  std::string pack;
  std::optional<uint64_t> total;
  if (recordTotal) {
    total = 0;
    for (const auto& [name, data] : entries) *total += EbzWriter::entryBytes(name, data.size());
  }
  EbzWriter writer(
      key,
      [&](const uint8_t* data, size_t size) {
        pack.append(reinterpret_cast<const char*>(data), size);
        return true;
      },
      LZMA_PRESET_DEFAULT, total);
  for (const auto& [name, data] : entries) {
    writer.beginEntry(name, data.size());
    writer.write(data.data(), data.size());
  }
  return writer.finish() ? pack : std::string();
}

}  // namespace ebz
