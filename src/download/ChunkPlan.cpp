#include "download/ChunkPlan.h"

#include <algorithm>

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

int stripedChunkCount(uint32_t contentLength, int connections, uint32_t stripeBytes, int maxChunks) {
  if (connections <= 1 || stripeBytes == 0 || uint64_t(contentLength) <= uint64_t(connections) * stripeBytes) {
    return connections;
  }
  const uint64_t stripes = (uint64_t(contentLength) + stripeBytes - 1) / stripeBytes;
  return static_cast<int>(std::min<uint64_t>(stripes, uint64_t(maxChunks > connections ? maxChunks : connections)));
}

}  // namespace download
