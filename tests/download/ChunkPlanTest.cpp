#include <gtest/gtest.h>

#include "download/ChunkPlan.h"

using namespace download;

namespace {
std::vector<std::pair<int, int>> pairs(const std::vector<ChunkRange>& chunks) {
  std::vector<std::pair<int, int>> out;
  for (const ChunkRange& c : chunks) out.emplace_back(c.offset, c.limit);
  return out;
}
}  // namespace

TEST(ChunkPlan, EqualChunksWithTheRestInTheLast) {
  using P = std::vector<std::pair<int, int>>;
  EXPECT_EQ(pairs(planChunks(1000, 4)), (P{{0, 250}, {250, 250}, {500, 250}, {750, 250}}));
  EXPECT_EQ(pairs(planChunks(1003, 4)), (P{{0, 250}, {250, 250}, {500, 250}, {750, 253}}));
  EXPECT_EQ(pairs(planChunks(7, 1)), (P{{0, 7}}));
  EXPECT_TRUE(planChunks(1000, 0).empty());
}

TEST(ChunkPlan, NoChunkIsEverEmpty) {
  EXPECT_EQ(effectiveThreadCount(4, 1000), 4);
  EXPECT_EQ(effectiveThreadCount(4, 3), 3);
  EXPECT_EQ(effectiveThreadCount(0, 1000), 1);
  EXPECT_EQ(effectiveThreadCount(-2, 1000), 1);
  for (uint32_t length = 1; length < 20; ++length) {
    for (const ChunkRange& c : planChunks(length, effectiveThreadCount(8, length))) EXPECT_GT(c.limit, 0);
  }
}

TEST(ChunkPlan, PercentOfTheAnnouncedLength) {
  EXPECT_FLOAT_EQ(percentReceived({{0, 250}, {1, 250}}, 1000), 50.0f);
  EXPECT_EQ(percentReceived({{0, 250}, {1, 250}, {2, 250}, {3, 250}}, 1000), 100.0f);
  EXPECT_EQ(percentReceived({{0, 5}}, 0), 0.0f);
  EXPECT_LT(percentReceived({{0, 1000}}, -1), 0.001f);
}

TEST(ChunkPlan, StripesStartPastTheConnectionsWorthAndStayWithinTheStateLimit) {
  const uint32_t stripe = 2u << 20;
  EXPECT_EQ(stripedChunkCount(4 * stripe, 4, stripe, 64), 4);
  EXPECT_EQ(stripedChunkCount(4 * stripe + 1, 4, stripe, 64), 5);
  EXPECT_EQ(stripedChunkCount(64 * stripe, 4, stripe, 64), 64);
  EXPECT_EQ(stripedChunkCount(64 * stripe + 1, 4, stripe, 64), 64);
  EXPECT_EQ(stripedChunkCount(0xFFFFFFFFu, 4, stripe, 64), 64);
  EXPECT_EQ(stripedChunkCount(0xFFFFFFFFu, 1, stripe, 64), 1);
}
