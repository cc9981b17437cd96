#include "download/ChunkPlan.h"

namespace download {

std::vector<ChunkRange> planChunks(uint32_t contentLength, int threadCount) {
  std::vector<ChunkRange> chunks;
  if (threadCount <= 0) return chunks;
  uint32_t n = static_cast<uint32_t>(threadCount);
  uint32_t size = contentLength / n;
  uint32_t rest = contentLength % n;
  chunks.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t limit = i + 1 == n ? size + rest : size;
    chunks.push_back({static_cast<int>(i * size), static_cast<int>(limit)});
  }
  return chunks;
}

int effectiveThreadCount(int requested, uint32_t contentLength) {
  if (requested < 1) requested = 1;
  if (contentLength > 0 && static_cast<uint32_t>(requested) > contentLength) {
    requested = static_cast<int>(contentLength);
  }
  return requested;
}

float percentReceived(const std::map<int, int>& receivedByChunk, int contentLength) {
  uint32_t total = static_cast<uint32_t>(contentLength);
  if (total == 0) return 0.0f;
  uint32_t sum = 0;
  for (const auto& entry : receivedByChunk) sum += static_cast<uint32_t>(entry.second);
  return static_cast<float>(static_cast<double>(sum) / total * 100.0);
}

}  // namespace download
