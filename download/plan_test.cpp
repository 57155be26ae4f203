#include "download/plan.h"

#include <gtest/gtest.h>

namespace {

TEST(PlanParts, OnePartBelowTwentyMiBTwoHalvesFromThere) {
  constexpr int64_t MiB = 1 << 20;
  struct Case {
    int64_t length;
    std::vector<std::pair<int64_t, int64_t>> ranges;
  } cases[] = {
      {1, {{0, 0}}},
      {15 * MiB, {{0, 15728639}}},
      {20 * MiB - 1, {{0, 20971518}}},
      {20 * MiB + 1, {{0, 10485759}, {10485760, 20971520}}},
      {30 * MiB, {{0, 15728639}, {15728640, 31457279}}},
      // Beyond 32 bits: still two halves, offsets exact.
      {5368709121LL, {{0, 2684354559LL}, {2684354560LL, 5368709120LL}}},
  };
  for (const Case& c : cases) {
    const auto parts = download::PlanParts(c.length);
    ASSERT_EQ(parts.size(), c.ranges.size()) << c.length;
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].first, c.ranges[i].first) << c.length;
      EXPECT_EQ(parts[i].last, c.ranges[i].second) << c.length;
    }
  }
  EXPECT_TRUE(download::PlanParts(0).empty());
  EXPECT_TRUE(download::PlanParts(-1).empty());
}

}  // namespace
