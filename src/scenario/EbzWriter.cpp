#include "scenario/EbzWriter.h"

#include <random>

namespace ebz {

namespace {
constexpr size_t kEncodedBufferSize = 64 * 1024;
}

EbzWriter::EbzWriter(const Key& key, Output output, uint32_t preset)
    : output_(std::move(output)), cipher_(key.data(), key.size()), encoded_(kEncodedBufferSize) {
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
  pending_.insert(pending_.end(), data, data + size);
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
  if (!encode(nullptr, 0, LZMA_FINISH)) failed_ = true;
  return !failed_;
}

EbzWriter::Key randomKey() {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  EbzWriter::Key key{};
  for (auto& b : key) b = uint8_t(kAlphabet[device() % (sizeof kAlphabet - 1)]);
  return key;
}

std::string packInMemory(const EbzWriter::Key& key, const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string pack;
  EbzWriter writer(key, [&](const uint8_t* data, size_t size) {
    pack.append(reinterpret_cast<const char*>(data), size);
    return true;
  });
  for (const auto& [name, data] : entries) {
    writer.beginEntry(name, data.size());
    writer.write(data.data(), data.size());
  }
  return writer.finish() ? pack : std::string();
}

}  // namespace ebz
