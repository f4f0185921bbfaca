// An opened capture's archive read like the live ring, and the bus states
// rebuilt for a row of either.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "traffic/BusState.h"
#include "traffic/TrafficArchive.h"
#include "traffic/TrafficExport.h"
#include "traffic/TrafficFilter.h"
#include "traffic/TrafficRing.h"

namespace {

std::string B(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

// Items of every kind, a long one among them, drawn in a fixed pseudo-random
// order: calls to three devices with both activity bits, their messages,
// the central, junk.
const std::vector<std::string> kPool = {
    B({0x41}),
    B({0x81}),
    B({0x42}),
    B({0x82}),
    B({0x44}),
    B({0x1F}),
    B({0x4A, 0x41, 0x00, 0x0B}),                    // turnout
    B({0x61, 0x00, 0x00, 0x03, 0x8A}),              // loco speed
    B({0x00, 0x80, 0x80}),                          // power on
    B({0x00, 0x81, 0x81}),                          // power $81
    B({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}),  // status, Im 12
    B({0x00, 0x00, 0x80, 0x11, 0x00, 0x13, 0x02}),  // status, Im 0
    B({0x01}),
    B({0x00, 0x12}),                                                              // logged
    B({0x20, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B}),  // long junk
};

std::vector<std::string> Traffic(std::size_t n, uint32_t seed = 7) {
  std::vector<std::string> items;
  items.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    items.push_back(kPool[(seed >> 16) % kPool.size()]);
  }
  return items;
}

// Reads of three items share a time; a reconnect every 50,000 items.
template <class THistory>
void Fill(THistory& h, const std::vector<std::string>& items) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    const int64_t t = 1'000'000'000 + static_cast<int64_t>(i / 3) * 1000;
    if (i % 50000 == 0) h.BeginSession(t - 5);
    h.Append(t, items[i]);
  }
}

TEST(TrafficArchive, ReadsAsTheRingDoesAcrossBlocks) {
  const std::vector<std::string> items = Traffic(150000);  // more than two blocks
  TTrafficRing ring(items.size());
  TTrafficArchive archive;
  Fill(ring, items);
  Fill(archive, items);
  archive.Finish();

  ASSERT_EQ(archive.End(), ring.End());
  EXPECT_EQ(archive.TotalBytes(), ring.TotalBytes());
  EXPECT_EQ(archive.UnrecognisedBytes(), ring.UnrecognisedBytes());
  EXPECT_EQ(archive.Dropped(), 0u);
  for (uint64_t seq = 0; seq < ring.End(); ++seq) {
    ASSERT_EQ(archive.Bytes(seq), ring.Bytes(seq)) << seq;
    ASSERT_EQ(archive.Kind(seq), ring.Kind(seq)) << seq;
    ASSERT_EQ(archive.Device(seq), ring.Device(seq)) << seq;
    ASSERT_EQ(archive.TimeUs(seq), ring.TimeUs(seq)) << seq;
    ASSERT_EQ(archive.SessionStart(seq), ring.SessionStart(seq)) << seq;
  }

  // The filter and the export see no difference either.
  TTrafficFilter filter;
  filter.Devices = 1u << 2;
  TTrafficMatcher m1("loko", 16), m2("loko", 16);
  TTrafficIndex a, b;
  a.Reset(0);
  b.Reset(0);
  a.Scan(ring, ring.End(), filter, m1);
  b.Scan(archive, archive.End(), filter, m2);
  ASSERT_EQ(a.Rows(), b.Rows());
  ASSERT_GT(a.Rows(), 0u);
  std::vector<std::string> fromRing, fromArchive;
  TrafficLines(ring, &a, TTimeMode::tmZero, 16, [&](std::string_view l) {
    fromRing.emplace_back(l);
    return true;
  });
  TrafficLines(archive, &b, TTimeMode::tmZero, 16, [&](std::string_view l) {
    fromArchive.emplace_back(l);
    return true;
  });
  EXPECT_EQ(fromRing, fromArchive);
}

TEST(TrafficArchive, StopsAtItsMemoryLimitWithoutATornItem) {
  // A block with the 4096 bytes its first one reserves, and three marks: the
  // first item's time and session, and one more time.
  TTrafficArchive archive(TTrafficArchive::kBlockBytes + 4096 + 3 * 16);
  EXPECT_TRUE(archive.Append(1, B({0x41})));
  EXPECT_TRUE(archive.Append(1, B({0x4A, 0x41, 0x00, 0x0B})));
  EXPECT_TRUE(archive.Append(2, std::string()));  // nothing to keep
  // More than the reserve: the bytes would have to grow.
  EXPECT_FALSE(archive.Append(2, std::string(5000, '\x61')));
  EXPECT_TRUE(archive.Append(3, B({0x00, 0x80, 0x80})));
  EXPECT_FALSE(archive.Append(4, B({0x41})));  // no room for a fourth mark
  EXPECT_TRUE(archive.Append(3, B({0x41})));   // the same time needs none
  EXPECT_EQ(archive.End(), 4u);
  EXPECT_EQ(archive.TotalBytes(), 9u);
  EXPECT_EQ(archive.Bytes(2), B({0x00, 0x80, 0x80}));
  EXPECT_EQ(archive.TimeUs(2), 3);
}

// A raw capture's items each have a time of their own: the limit counts the
// times too, not only the bytes.
TEST(TrafficArchive, ItemsOfTimesOfTheirOwnCountTheirTimesAgainstTheLimit) {
  TTrafficArchive archive(TTrafficArchive::kBlockBytes + 4096 + 1700);
  int kept = 0;
  while (kept < 2000 && archive.Append(kept, B({0x41}))) ++kept;
  EXPECT_GE(kept, 100);
  EXPECT_LE(kept, 106) << "16 bytes an item (its time), not 1";
}

// Whatever the items, what the archive holds stays within its limit: every
// session of a reconnect, every time, the room its bytes reserve and the
// memory its owner keeps for it count.
TEST(TrafficArchive, HoldsNoMoreThanItsLimitWhateverTheItems) {
  constexpr uint64_t kLimit = 8u << 20;
  const auto check = [&](const char* what, auto&& fill) {
    TTrafficArchive archive(kLimit);
    uint64_t n = 0;
    while (n < 50'000'000 && fill(archive, n)) ++n;
    EXPECT_LT(n, 50'000'000u) << what << ": never refused";
    EXPECT_LE(archive.MemoryBytes(), kLimit + kLimit / 50) << what;
    EXPECT_GE(archive.MemoryBytes(), kLimit / 3) << what << ": refused far too early";
  };
  // "(T) 41" and "# gap 0" over and over: a session an item.
  check("a reconnect an item", [](TTrafficArchive& a, uint64_t n) {
    const auto t = static_cast<int64_t>(n);
    return a.BeginSession(t) && a.Append(t, B({0x41}));
  });
  check("a time an item", [](TTrafficArchive& a, uint64_t n) {
    return a.Append(static_cast<int64_t>(n), B({0x41}));
  });
  check("long unrecognised runs", [](TTrafficArchive& a, uint64_t n) {
    return a.Append(static_cast<int64_t>(n / 64), std::string(3000 + n % 7, '\xFF'));
  });
  // The owner's rows take half: the archive holds half as much.
  TTrafficArchive archive(kLimit);
  archive.SetOtherMemory(kLimit / 2);
  uint64_t n = 0;
  while (archive.Append(static_cast<int64_t>(n), B({0x41}))) ++n;
  EXPECT_LE(archive.MemoryBytes(), kLimit / 2 + kLimit / 50);
}

// Showing every item keeps no list, yet the rows behave as a list's would.
TEST(TrafficIndex, AFilterPassingEverythingKeepsNoList) {
  const std::vector<std::string> items = Traffic(2500, 9);
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  for (std::size_t i = 0; i < 2000; ++i) ring.Append(1, items[i]);
  TTrafficFilter all;
  all.Kinds = TTrafficFilter::kAllKinds;
  TTrafficMatcher none("", 16);
  TTrafficIndex index;
  index.Reset(0);  // older than the ring holds
  EXPECT_EQ(index.Scan(ring, ring.End(), all, none), 1000u);
  EXPECT_EQ(index.MemoryBytes(), 0u);
  EXPECT_EQ(index.SeqAt(0), 1000u);
  EXPECT_EQ(index.LowerBound(1500), 500u);
  EXPECT_EQ(index.LowerBound(5), 0u);
  EXPECT_EQ(index.LowerBound(9999), 1000u);

  for (std::size_t i = 2000; i < 2300; ++i) ring.Append(1, items[i]);
  EXPECT_EQ(index.DropBefore(ring.First()), 300u);
  EXPECT_EQ(index.Scan(ring, ring.End(), all, none), 300u);
  EXPECT_EQ(index.Rows(), 1000u);
  EXPECT_EQ(index.SeqAt(999), 2299u);

  // Another filter without a Reset: the rows so far stay, new ones are tested.
  for (std::size_t i = 2300; i < 2500; ++i) ring.Append(1, items[i]);
  index.DropBefore(ring.First());
  TTrafficFilter calls;
  calls.Kinds = KindBit(TItemKind::ikCallByte);
  index.Scan(ring, ring.End(), calls, none);
  std::vector<uint64_t> expected;
  for (uint64_t seq = ring.First(); seq < 2300; ++seq) expected.push_back(seq);
  for (uint64_t seq = 2300; seq < 2500; ++seq)
    if (ring.Kind(seq) == TItemKind::ikCallByte) expected.push_back(seq);
  ASSERT_EQ(index.Rows(), expected.size());
  for (std::size_t r = 0; r < expected.size(); ++r) ASSERT_EQ(index.SeqAt(r), expected[r]) << r;
}

// The device rows against the window's own device table: the window's tests.
TEST(BusState, StatusLoadPowerAndTheLatestMessageFollowTheirItems) {
  TBusState s;
  s.Apply(B({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}));
  s.Apply(B({0x00, 0x00, 0x80, 0x11, 0x00, 0x13, 0x02}));  // Im 0: the load stays
  s.Apply(B({0x00, 0x81, 0x81}));
  s.Apply(B({0x00, 0x85, 0x85}));  // an unknown power state is only logged
  s.Apply(B({0x01}));
  EXPECT_EQ(s.Status, B({0x00, 0x00, 0x80, 0x11, 0x00, 0x13, 0x02}));
  EXPECT_EQ(s.Load, B({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}));
  EXPECT_EQ(s.Power, B({0x00, 0x81, 0x81}));
  // A message before any call is the latest one but no device's.
  s.Apply(B({0x4A, 0x41, 0x00, 0x0B}));
  EXPECT_EQ(s.Device, B({0x4A, 0x41, 0x00, 0x0B}));
  for (int a = 1; a <= 31; ++a) EXPECT_TRUE(s.Last[a].empty());
}

TEST(StateHistory, StateAfterAnyRowIsTheStateThenFromSnapshotsAndReplay) {
  const std::vector<std::string> items = Traffic(3000, 3);
  TTrafficArchive archive;
  TStateHistory history(100);
  std::vector<TBusState> truth;
  TBusState now;
  for (const std::string& item : items) {
    archive.Append(1, item);
    history.Add(ClassifyItem(item), item);
    now.Apply(item);
    truth.push_back(now);
  }
  EXPECT_EQ(history.Present(), truth.back());
  EXPECT_EQ(history.Snapshots(), 30u);
  TBusState got;
  for (uint64_t seq : {0u, 1u, 99u, 100u, 101u, 1999u, 2999u}) {
    ASSERT_TRUE(history.StateAfter(archive, seq, got)) << seq;
    EXPECT_EQ(got, truth[seq]) << seq;
  }
  EXPECT_FALSE(history.StateAfter(archive, 3000, got));
}

TEST(StateHistory, RowsWhoseSnapshotLeftTheRingHaveNoState) {
  const std::vector<std::string> items = Traffic(5000, 5);
  TTrafficRing ring(TTrafficRing::kMinCapacity);  // keeps the last 1000
  TStateHistory history(256);
  for (const std::string& item : items) {
    ring.Append(1, item);
    history.Add(ClassifyItem(item), item);
    history.DropBefore(ring.First());
  }
  ASSERT_EQ(ring.First(), 4000u);
  TBusState got;
  // 4000 is not a snapshot: the items from 3840 on are gone.
  EXPECT_FALSE(history.StateAfter(ring, 4000, got));
  EXPECT_FALSE(history.StateAfter(ring, 3999, got));
  // From the snapshot at 4096 on the rows have their state.
  ASSERT_TRUE(history.StateAfter(ring, 4999, got));
  EXPECT_EQ(got, history.Present());
  EXPECT_LE(history.Snapshots(), 5u);
}

}  // namespace
