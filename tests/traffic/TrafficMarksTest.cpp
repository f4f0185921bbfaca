// Marks on a history's items, and finding items by time.
#include <gtest/gtest.h>

#include "traffic/TrafficMarks.h"
#include "traffic/TrafficRing.h"

namespace {

constexpr int64_t kT0 = 1'796'738'585'000'000;

// Items 0..n-1 at kT0 + 10 ms each, every third pair at the same time.
void Fill(TTrafficRing& ring, int n) {
  for (int i = 0; i < n; ++i) ring.Append(kT0 + (i / 2) * 10000, std::string(1, '\x41'));
}

}  // namespace

TEST(TrafficMarks, KeptInItemOrderOneAnItem) {
  TTrafficMarks marks;
  EXPECT_EQ(marks.Add(30, kT0 + 3, "c"), 0u);
  EXPECT_EQ(marks.Add(10, kT0 + 1, "a"), 0u);
  EXPECT_EQ(marks.Add(20, kT0 + 2, "b"), 1u);
  EXPECT_EQ(marks.Add(20, kT0 + 2, "B"), 1u) << "the same item: a new text";
  ASSERT_EQ(marks.Count(), 3u);
  EXPECT_EQ(marks.Items()[1].Text, "B");
  EXPECT_EQ(marks.Find(30), 2u);
  EXPECT_EQ(marks.Find(31), 3u);
  marks.Remove(0);
  marks.Remove(7);  // none such: nothing happens
  ASSERT_EQ(marks.Count(), 2u);
  EXPECT_EQ(marks.Items()[0].Seq, 20u);
}

TEST(TrafficMarks, NextAndPreviousSkipItemsNoLongerHeld) {
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  Fill(ring, 1500);  // the first 500 are gone
  ASSERT_EQ(ring.First(), 500u);
  TTrafficMarks marks;
  for (uint64_t seq : {100u, 600u, 700u, 1400u})
    marks.Add(seq, ring.TimeUs(std::max<uint64_t>(seq, 500)), "");
  EXPECT_EQ(marks.After(ring, 600)->Seq, 700u) << "strictly after";
  EXPECT_EQ(marks.After(ring, 0)->Seq, 600u) << "the dropped one is passed over";
  EXPECT_EQ(marks.After(ring, 1400), nullptr);
  EXPECT_EQ(marks.AtOrAfter(ring, 600)->Seq, 600u);
  EXPECT_EQ(marks.After(ring, UINT64_MAX), nullptr);
  EXPECT_EQ(marks.Before(ring, 700)->Seq, 600u) << "strictly before";
  EXPECT_EQ(marks.Before(ring, 600), nullptr) << "100 left the ring";
  EXPECT_EQ(marks.Before(ring, 5000)->Seq, 1400u);
}

TEST(TrafficMarks, ItemsFoundByTime) {
  TTrafficRing ring;
  EXPECT_EQ(ItemAtOrAfter(ring, kT0), ring.End());
  EXPECT_EQ(ItemNearest(ring, kT0), ring.End());
  Fill(ring, 10);  // items 2k and 2k+1 at kT0 + k * 10 ms
  EXPECT_EQ(ItemAtOrAfter(ring, kT0 - 5), 0u);
  EXPECT_EQ(ItemAtOrAfter(ring, kT0 + 20000), 4u) << "the first of two at that time";
  EXPECT_EQ(ItemAtOrAfter(ring, kT0 + 20001), 6u);
  EXPECT_EQ(ItemAtOrAfter(ring, kT0 + 40001), 10u) << "none after the last";
  EXPECT_EQ(ItemNearest(ring, kT0 + 24000), 5u) << "the later time's pair is farther";
  EXPECT_EQ(ItemNearest(ring, kT0 + 26000), 6u);
  EXPECT_EQ(ItemNearest(ring, kT0 + 25000), 5u) << "as near: the earlier";
  EXPECT_EQ(ItemNearest(ring, kT0 + 99000000), 9u);
  EXPECT_EQ(ItemNearest(ring, 0), 0u);
}
