#pragma once
// Arithmetic of splitting a download into chunks and adding up their progress.
#include <cstdint>
#include <map>
#include <vector>

namespace download {

struct ChunkRange {
  int offset;
  int limit;
};

// Contiguous chunks over contentLength bytes; the last one takes the rest of
// the division. Sizes are unsigned 32-bit as the server announced them.
std::vector<ChunkRange> planChunks(uint32_t contentLength, int threadCount);

// How many chunk threads to run: at least one, and never more than there are
// bytes, so that no chunk asks for an empty range.
int effectiveThreadCount(int requested, uint32_t contentLength);

// How many chunks to split content into for the given connections: one per
// connection, or stripes of about stripeBytes once the content is more than
// the connections' worth of stripes, but never more than maxChunks (the
// stripes then widen).
int stripedChunkCount(uint32_t contentLength, int connections, uint32_t stripeBytes, int maxChunks);

// Sum of the received bytes over the content length, in percent; 0 when the
// length is 0.
float percentReceived(const std::map<int, int>& receivedByChunk, int contentLength);

}  // namespace download
