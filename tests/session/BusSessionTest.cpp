// Tests of TBusSession: every item taken feeds the history, the series and
// the states together, so that a row's number finds its moment.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "session/BusSession.h"
#include "support/TestBytes.h"

namespace {

// Items of every kind in random order: calls to all devices, their messages,
// the central's status and power, lone bytes, junk, and empty items.
std::vector<std::string> Items(std::size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  const std::string bytes = RandomBusBytes(rng, n * 3);
  std::uniform_int_distribution<int> length(0, 6);
  std::vector<std::string> items;
  for (std::size_t at = 0; at < bytes.size() && items.size() < n;) {
    const std::size_t len = std::min<std::size_t>(length(rng), bytes.size() - at);
    items.push_back(bytes.substr(at, len));
    at += len;
  }
  return items;
}

constexpr int64_t kStartUs = 1'700'000'000'000'000;

}  // namespace

TEST(BusSession, EveryStoreTakesTheSameItemsAndRowsFindTheirMoment) {
  const std::vector<std::string> items = Items(20000, 5);
  TBusSession session;
  TBusState truth;
  std::vector<TBusState> after;  // by sequence number
  int64_t t = kStartUs;
  for (const std::string& item : items) {
    t += 700;
    const TBusItem kind = session.Take(t, item);
    EXPECT_EQ(kind.Kind, ClassifyItem(item).Kind);
    if (item.empty()) continue;
    truth.Apply(item);
    after.push_back(truth);
  }
  ASSERT_GT(after.size(), 2 * TStateHistory::kDefaultInterval);
  ASSERT_LT(after.size(), items.size()) << "empty items must be among them";
  // Empty items are kept nowhere: the ring's numbers are the states' numbers.
  EXPECT_EQ(session.Traffic().End(), after.size());
  EXPECT_EQ(session.Present(), truth);
  EXPECT_EQ(session.Series().LastTimeUs(), t);
  TBusState got;
  for (uint64_t seq : {uint64_t{0}, uint64_t{1}, TStateHistory::kDefaultInterval - 1,
                       TStateHistory::kDefaultInterval, uint64_t{after.size() - 1}}) {
    ASSERT_TRUE(session.StateAfter(seq, got)) << seq;
    EXPECT_EQ(got, after[seq]) << seq;
  }
  EXPECT_FALSE(session.StateAfter(after.size(), got));
}

TEST(BusSession, ARingThatDroppedTheReplaysItemsKnowsNoStateButThePresent) {
  // The newest snapshot (item 16384) lies 3000 items back, the ring keeps 1000.
  const uint64_t count = 2 * TStateHistory::kDefaultInterval + 3000;
  const std::vector<std::string> items = Items(40000, 9);
  TBusSession session;
  session.Traffic().SetCapacity(TTrafficRing::kMinCapacity);
  TBusState truth;
  for (std::size_t i = 0; session.Traffic().End() < count; ++i) {
    ASSERT_LT(i, items.size());
    session.Take(kStartUs, items[i]);
    if (!items[i].empty()) truth.Apply(items[i]);
  }
  const TTrafficRing& ring = session.Traffic();
  ASSERT_EQ(ring.First(), count - TTrafficRing::kMinCapacity);
  EXPECT_EQ(session.Present(), truth);
  TBusState got;
  EXPECT_FALSE(session.StateAfter(ring.End() - 1, got));
  EXPECT_FALSE(session.StateAfter(ring.First() - 1, got));
}
