#include "ql_latency_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

TEST(LatencySummaryTest, NearestRankPercentilesOfAShuffledSet) {
  std::vector<double> samples;
  for (int i = 1; i <= 200; ++i) samples.push_back(i * 0.5);  // 0.5 .. 100
  std::shuffle(samples.begin(), samples.end(), std::mt19937(7));
  QLLatencySummary const summary(samples);
  EXPECT_EQ(200u, summary.count());
  EXPECT_DOUBLE_EQ(50.0, summary.Percentile(50));  // the 100th of 200
  EXPECT_DOUBLE_EQ(99.0, summary.Percentile(99));  // the 198th
  EXPECT_DOUBLE_EQ(100.0, summary.Percentile(100));
  EXPECT_DOUBLE_EQ(0.5, summary.Percentile(0));
  EXPECT_DOUBLE_EQ(summary.Percentile(50), summary.Median());
  EXPECT_DOUBLE_EQ(100.0, summary.Max());
  EXPECT_DOUBLE_EQ(50.25, summary.Mean());
}

TEST(LatencySummaryTest, SmallSetsTakeTheSampleAtOrAboveTheRank) {
  QLLatencySummary const summary({30, 10, 20});
  EXPECT_DOUBLE_EQ(10, summary.Percentile(33));  // rank ceil(0.99) = 1
  EXPECT_DOUBLE_EQ(20, summary.Percentile(34));  // rank ceil(1.02) = 2
  EXPECT_DOUBLE_EQ(20, summary.Median());
  EXPECT_DOUBLE_EQ(30, summary.Percentile(99));  // p99 of three is the largest
}

TEST(LatencySummaryTest, OutOfRangePercentsAreClamped) {
  QLLatencySummary const summary({4, 8});
  EXPECT_DOUBLE_EQ(4, summary.Percentile(-5));
  EXPECT_DOUBLE_EQ(8, summary.Percentile(250));
}

TEST(LatencySummaryTest, EmptySetGivesZeros) {
  QLLatencySummary const summary({});
  EXPECT_EQ(0u, summary.count());
  EXPECT_EQ(0, summary.Percentile(50));
  EXPECT_EQ(0, summary.Mean());
  EXPECT_EQ(0, summary.Max());
}

}  // namespace
