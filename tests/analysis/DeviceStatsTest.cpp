// Per-device statistics against a capture counted by hand, live and over a
// history, and the CSV and table made of them.
#include <gtest/gtest.h>

#include "AnalysisFeed.h"
#include "analysis/StatsTable.h"
#include "support/TestBytes.h"
#include "support/TimeZone.h"

namespace {

const std::string kTurnout = Bytes({0x4A, 0x41, 0x00, 0x0B});      // 4 B
const std::string kSpeed = Bytes({0x61, 0x62, 0x00, 0x03, 0x8A});  // 5 B

// 11 items, 25 bytes.  Device 1: called 3 times, 3 messages (4 + 4 + 5 B),
// 1 unrecognised byte right after its call.  Device 2: called once, never
// answers but 3 unrecognised bytes.  The central: a power message (3 B) and
// the 4 calls and the idle byte it sent (5 B).
std::vector<TTimedItem> HandCounted() {
  return {{100.00, Bytes({0x41})}, {100.01, kTurnout},
          {100.02, Bytes({0x42})}, {100.03, Bytes({0x33, 0x44, 0x55})},
          {100.04, Bytes({0x1F})}, {100.05, Bytes({0x00, 0x80, 0x80})},
          {101.00, Bytes({0x41})}, {101.01, Bytes({0x20})},
          {101.02, kTurnout},      {102.00, Bytes({0x41})},
          {102.01, kSpeed}};
}

void ExpectHandCounted(const TBusAnalysis& a) {
  const TDeviceStats& s = a.Stats();
  EXPECT_EQ(s.Items(), 11u);
  EXPECT_EQ(s.Bytes(), 25u);
  EXPECT_EQ(s.UnrecognisedBytes(), 4u);
  const auto rows = s.Rows(Us(102.01), Us(5));
  ASSERT_EQ(rows.size(), 32u);
  const auto& central = rows[0];
  EXPECT_EQ(central.Messages, 1u);
  EXPECT_EQ(central.Bytes, 8u);
  EXPECT_DOUBLE_EQ(central.BytesShare, 32.0);
  const auto& d1 = rows[1];
  EXPECT_EQ(d1.Messages, 3u);
  EXPECT_EQ(d1.Calls, 3u);
  EXPECT_EQ(d1.Bytes, 13u);
  EXPECT_EQ(d1.UnrecognisedBytes, 1u);
  EXPECT_DOUBLE_EQ(d1.BytesShare, 52.0);
  EXPECT_EQ(d1.FirstUs, Us(100.01));
  EXPECT_EQ(d1.LastUs, Us(102.01));
  EXPECT_EQ(d1.FirstSeq, 1u);
  EXPECT_EQ(d1.LastSeq, 10u);
  EXPECT_EQ(d1.SinceLastUs, 0);
  EXPECT_FALSE(d1.Silent);
  // Three seconds seen, one message in each.
  EXPECT_DOUBLE_EQ(d1.RateNow, 1.0);
  EXPECT_NEAR(d1.RateAverage, 3 / 2.01, 1e-9);
  const auto& d2 = rows[2];
  EXPECT_EQ(d2.Messages, 0u);
  EXPECT_EQ(d2.Calls, 1u);
  EXPECT_EQ(d2.UnrecognisedBytes, 3u);
  EXPECT_EQ(d2.SinceLastUs, -1);
  EXPECT_FALSE(d2.Silent) << "never heard is not silent";
  for (int a3 = 3; a3 <= 31; ++a3) EXPECT_EQ(rows[a3].Calls + rows[a3].Messages, 0u) << a3;
}

}  // namespace

TEST(DeviceStats, HandCountedCaptureLiveAndOverAHistoryAgree) {
  TTrafficRing ring;
  TBusAnalysis live;
  FeedLive(ring, live, HandCounted());
  ExpectHandCounted(live);

  TTrafficArchive archive;
  FillArchive(archive, HandCounted());
  TBusAnalysis whole;
  AnalyseSpan(archive, 0, archive.End(), whole);
  ExpectHandCounted(whole);
  TBusAnalysis fromRing;
  AnalyseSpan(ring, 0, ring.End(), fromRing);
  ExpectHandCounted(fromRing);
}

TEST(DeviceStats, ASpanCountsOnlyItsItems) {
  TTrafficArchive archive;
  FillArchive(archive, HandCounted());
  TBusAnalysis span;
  AnalyseSpan(archive, 6, 100, span);  // from the second call of device 1; the end is clipped
  const auto rows = span.Stats().Rows(Us(102.01), Us(5));
  EXPECT_EQ(span.Stats().Items(), 5u);
  EXPECT_EQ(rows[1].Messages, 2u);
  EXPECT_EQ(rows[1].Calls, 2u);
  EXPECT_EQ(rows[1].UnrecognisedBytes, 1u);
  EXPECT_EQ(rows[1].FirstUs, Us(101.02));
  EXPECT_EQ(rows[2].UnrecognisedBytes, 0u);
  EXPECT_EQ(rows[0].Messages, 0u);
}

TEST(DeviceStats, SilenceRateWindowAndAClockThatGoesBack) {
  TTrafficRing ring;
  TBusAnalysis a;
  std::vector<TTimedItem> items = {{0.5, Bytes({0x41})}};
  // Device 1: 20 messages a second for 30 s.
  for (int i = 0; i < 600; ++i) {
    items.push_back({1.0 + i * 0.05, Bytes({0x41})});
    items.push_back({1.0 + i * 0.05 + 0.001, kTurnout});
  }
  FeedLive(ring, a, items);
  const int64_t last = Us(1.0 + 599 * 0.05 + 0.001);
  auto row = a.Stats().Rows(last, Us(5))[1];
  EXPECT_NEAR(row.RateNow, 20.0, 2.0);
  EXPECT_FALSE(row.Silent);
  // Exactly at the limit it still counts as talking; past it, silent.
  row = a.Stats().Rows(last + Us(5), Us(5))[1];
  EXPECT_FALSE(row.Silent);
  row = a.Stats().Rows(last + Us(5) + 1, Us(5))[1];
  EXPECT_TRUE(row.Silent);
  // Ten seconds on, nothing is recent any more.
  EXPECT_EQ(a.Stats().Rows(last + Us(11), Us(5))[1].RateNow, 0.0);
  // A clock set back an hour starts the window afresh instead of counting
  // old seconds as recent.
  FeedLive(ring, a, {{0.5 - 3600, Bytes({0x41})}, {0.5 - 3600, kTurnout}});
  const double back = a.Stats().Rows(Us(0.6 - 3600), Us(5))[1].RateNow;
  EXPECT_GT(back, 0.0);
  EXPECT_LE(back, 1.0);
}

TEST(DeviceStats, CsvAndTable) {
  UseUtcAsLocalTime();
  TTrafficRing ring;
  TBusAnalysis a;
  FeedLive(ring, a, HandCounted());
  const auto rows = a.Stats().Rows(Us(110), Us(5));
  const std::string csv = StatsCsv(rows);
  std::vector<std::string> lines;
  for (std::size_t at = 0, nl; (nl = csv.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(csv.substr(at, nl - at));
  ASSERT_EQ(lines.size(), 33u);
  EXPECT_EQ(lines[0].rfind("zařízení,zprávy,výzvy,", 0), 0u) << lines[0];
  EXPECT_EQ(lines[2],
            "01,3,3,0.20,0.30,1970-01-01 00:01:40,100.01,1970-01-01 00:01:42,102.01,8.0,52.00,13,1,"
            "ano");
  // Never heard: the time cells stay empty, as the graph's unknown values.
  EXPECT_EQ(lines[3], "02,0,1,0.00,0.00,,,,,,0.00,0,3,");
  // Where the decimal separator is a comma, fields are parted by semicolons.
  const std::string regional = StatsCsv(rows, CsvFormatFor(','));
  EXPECT_NE(regional.find("\n01;3;3;0,20;0,30;1970-01-01 00:01:40;100,01;"), std::string::npos)
      << regional;
  const std::string table = StatsTableText(a.Stats(), rows);
  EXPECT_NE(table.find("Centrála"), std::string::npos);
  EXPECT_NE(table.find("mlčí"), std::string::npos);
  EXPECT_EQ(table.find("\n03 "), std::string::npos) << "rows without traffic are left out";
  EXPECT_NE(table.find("celkem: 11 položek, 25 B, nerozpoznáno 4 B"), std::string::npos) << table;
}

TEST(DeviceStats, AHistoryHandsOutItemsInBlocksAsOneByOne) {
  // Across the archive's blocks of 65,536 items and up to its last item.
  TTrafficArchive archive;
  archive.BeginSession(Us(1));
  const std::string items[] = {Bytes({0x41}), kTurnout, Bytes({0x33, 0x44, 0x55}), kSpeed};
  for (int i = 0; i < 70000; ++i) archive.Append(Us(1 + i / 7 * 0.01), items[i % 4]);
  archive.Finish();
  std::vector<TTrafficSource::TItemView> got(9000);
  for (uint64_t from : {uint64_t{0}, uint64_t{60000}, archive.End() - 9000}) {
    archive.Items(from, got.size(), got.data());
    for (std::size_t i = 0; i < got.size(); ++i) {
      const uint64_t seq = from + i;
      ASSERT_EQ(got[i].TimeUs, archive.TimeUs(seq)) << seq;
      ASSERT_EQ(got[i].Bytes, archive.Bytes(seq)) << seq;
      ASSERT_EQ(got[i].Kind, archive.Kind(seq)) << seq;
      ASSERT_EQ(got[i].Device, archive.Device(seq)) << seq;
    }
  }
}
