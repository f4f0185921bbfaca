// The traffic history without Qt: the ring, its filter and rows, find, and
// the export in the dump's line format.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "traffic/TrafficExport.h"
#include "traffic/TrafficFilter.h"
#include "traffic/TrafficRing.h"
#include "traffic/TrafficText.h"

namespace {

namespace fs = std::filesystem;

std::string B(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

// A short stretch of a bus: calls, device messages, the central, junk.
const std::vector<std::string> kTraffic = {
    B({0x41}),                                      // 0 call 01 active
    B({0x4A, 0x41, 0x00, 0x0B}),                    // 1 turnout 2 of device 1
    B({0x1F}),                                      // 2 idle
    B({0x42}),                                      // 3 call 02 active
    B({0x61, 0x00, 0x00, 0x03, 0x8A}),              // 4 loco 3 speed of device 2
    B({0x00, 0x80, 0x80}),                          // 5 power on
    B({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}),  // 6 central status
    B({0x01}),                                      // 7 lone byte (logged)
    B({0x00, 0x12}),                                // 8 central message cut short
    B({0x20, 0x01, 0x02, 0x03}),                    // 9 unrecognised run
    B({0x45, 0x00, 0x01, 0x02}),                    // 10 device message without comment
    B({0x83}),                                      // 11 lone byte: odd parity, no call
};

void Fill(TTrafficRing& ring, const std::vector<std::string>& items, int64_t t0 = 1000000,
          int64_t step = 1000) {
  int64_t t = t0;
  for (const std::string& item : items) {
    ring.Append(t, item);
    t += step;
  }
}

std::vector<uint64_t> Rows(const TTrafficIndex& index) {
  std::vector<uint64_t> rows;
  for (std::size_t r = 0; r < index.Rows(); ++r) rows.push_back(index.SeqAt(r));
  return rows;
}

std::vector<uint64_t> Shown(const TTrafficRing& ring, const TTrafficFilter& filter) {
  TTrafficIndex index;
  TTrafficMatcher matcher(filter.Text, 16);
  index.Reset(ring.First());
  index.Scan(ring, ring.End(), filter, matcher);
  return Rows(index);
}

std::vector<std::string> Lines(const TTrafficRing& ring, const TTrafficIndex* rows,
                               TTimeMode mode) {
  std::vector<std::string> lines;
  TrafficLines(ring, rows, mode, 16, [&](std::string_view l) {
    lines.emplace_back(l);
    return true;
  });
  return lines;
}

}  // namespace

TEST(TrafficRing, KindsAndCalledDeviceFollowTheStream) {
  TTrafficRing ring;
  Fill(ring, kTraffic);
  ASSERT_EQ(ring.Count(), kTraffic.size());
  const TItemKind kinds[] = {
      TItemKind::ikCallByte,      TItemKind::ikDevice,   TItemKind::ikIdle,
      TItemKind::ikCallByte,      TItemKind::ikDevice,   TItemKind::ikCentralPower,
      TItemKind::ikCentralStatus, TItemKind::ikLoneByte, TItemKind::ikCentralOther,
      TItemKind::ikUnrecognised,  TItemKind::ikDevice,   TItemKind::ikLoneByte};
  const int devices[] = {1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2};
  for (uint64_t s = 0; s < kTraffic.size(); ++s) {
    EXPECT_EQ(ring.Kind(s), kinds[s]) << "item " << s;
    EXPECT_EQ(ring.Item(s).Device, devices[s]) << "item " << s;
    EXPECT_EQ(ring.Bytes(s), kTraffic[s]) << "item " << s;
    EXPECT_EQ(ring.Item(s).TimeUs, 1000000 + 1000 * static_cast<int64_t>(s));
  }
  // A call to an inactive device moves the current device too.
  ring.Append(5, B({0x81}));
  EXPECT_EQ(ring.Item(ring.End() - 1).Device, 1);
  EXPECT_EQ(ring.CurrentDevice(), 1);
  // The lone bytes 01 and 83 and the run of four: six bytes nobody could place.
  EXPECT_EQ(ring.UnrecognisedBytes(), 6u);
  EXPECT_EQ(ring.TotalItems(), kTraffic.size() + 1);
  ring.Append(6, "");
  EXPECT_EQ(ring.TotalItems(), kTraffic.size() + 1) << "an empty item is no item";
}

TEST(TrafficRing, WrapsDroppingTheOldestAndCountsThem) {
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  const uint64_t n = 2 * TTrafficRing::kMinCapacity + 345;
  for (uint64_t i = 0; i < n; ++i)
    ring.Append(static_cast<int64_t>(i),
                B({0x4A, 0, static_cast<int>(i >> 8) & 0xFF, static_cast<int>(i & 0xFF)}));
  EXPECT_EQ(ring.Count(), TTrafficRing::kMinCapacity);
  EXPECT_EQ(ring.Dropped(), n - TTrafficRing::kMinCapacity);
  EXPECT_EQ(ring.First(), n - TTrafficRing::kMinCapacity);
  EXPECT_EQ(ring.End(), n);
  EXPECT_EQ(ring.TotalItems(), n);
  for (uint64_t s = ring.First(); s < ring.End(); s += 97) {
    EXPECT_EQ(ring.Item(s).TimeUs, static_cast<int64_t>(s));
    EXPECT_EQ(ring.Bytes(s),
              B({0x4A, 0, static_cast<int>(s >> 8) & 0xFF, static_cast<int>(s & 0xFF)}));
  }
}

TEST(TrafficRing, LongItemsLiveBesideTheRingAndGoWithTheirItems) {
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  auto run = [](uint64_t i) { return std::string(9 + i % 50, static_cast<char>(0x20 + i % 7)); };
  const std::size_t empty = [] {
    TTrafficRing r(TTrafficRing::kMinCapacity);
    r.Append(0, B({0x41}));
    return r.MemoryBytes();
  }();
  for (uint64_t i = 0; i < 3000; ++i) ring.Append(1, i % 3 ? run(i) : B({0x41}));
  for (uint64_t s = ring.First(); s < ring.End(); ++s)
    ASSERT_EQ(ring.Bytes(s), s % 3 ? run(s) : B({0x41})) << s;
  EXPECT_GT(ring.MemoryBytes(), empty);
  // Short items push every long one out: their memory is given back.
  for (uint64_t i = 0; i < TTrafficRing::kMinCapacity; ++i) ring.Append(2, B({0x42}));
  EXPECT_EQ(ring.MemoryBytes(), empty);

  // A flood of long items is bounded by bytes, not only by count.
  ring.SetSideLimit(1000);
  for (int i = 0; i < 50; ++i) ring.Append(3, std::string(100, '\x20'));
  EXPECT_LE(ring.MemoryBytes(), empty + 10 * (100 + sizeof(std::string)));
  EXPECT_EQ(ring.Bytes(ring.End() - 1), std::string(100, '\x20'));
}

TEST(TrafficRing, SessionsGiveTheTimeSinceConnecting) {
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  ring.Append(700, B({0x41}));  // no session begun: counts from the first item
  EXPECT_EQ(ring.SessionStart(0), 700);
  ring.BeginSession(1000);
  ring.Append(1500, B({0x41}));
  ring.BeginSession(4000);
  ring.BeginSession(5000);  // nothing came in between: the later start counts
  ring.Append(5200, B({0x42}));
  EXPECT_EQ(ring.SessionStart(0), 700);
  EXPECT_EQ(ring.SessionStart(1), 1000);
  EXPECT_EQ(ring.SessionStart(2), 5000);
  // Dropping the old sessions' items keeps the newest session.
  for (int i = 0; i < 2000; ++i) ring.Append(6000 + i, B({0x1F}));
  EXPECT_EQ(ring.SessionStart(ring.First()), 5000);
}

// A lost port that came back: the first item after it carries the gap; a
// row finds it also when the items between it and the row above are hidden.
TEST(TrafficRing, GapsMarkTheFirstItemAfterALossUntilItDropsOut) {
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  ring.Append(100, B({0x41}));
  ring.MarkGap(200, 900);
  // Lost again before anything came: one gap.
  ring.MarkGap(950, 1200);
  ring.Append(1300, B({0x42}));
  ring.Append(1400, B({0x61, 0x00, 0x00, 0x03, 0x8A}));
  EXPECT_EQ(ring.GapWithin(0, 0), nullptr);
  const TTrafficRing::TGap* gap = ring.GapWithin(1, 1);
  ASSERT_NE(gap, nullptr);
  EXPECT_EQ(gap->Seq, 1u);
  EXPECT_EQ(gap->FromUs, 200);
  EXPECT_EQ(gap->ToUs, 1200);
  EXPECT_EQ(ring.GapWithin(2, 2), nullptr);
  EXPECT_EQ(ring.GapWithin(1, 2), gap) << "the call byte hidden, the row above is item 0";
  EXPECT_EQ(ring.TotalItems(), 3u) << "a gap is no item";

  for (int i = 0; i < 1000; ++i) ring.Append(2000 + i, B({0x1F}));
  EXPECT_EQ(ring.GapWithin(ring.First(), ring.End() - 1), nullptr) << "gone with its item";
  // One still waiting for its first item survives Clear.
  ring.MarkGap(5000, 6000);
  ring.Clear();
  ring.Append(7000, B({0x41}));
  ASSERT_NE(ring.GapWithin(ring.First(), ring.First()), nullptr);
  EXPECT_EQ(ring.GapWithin(ring.First(), ring.First())->ToUs, 6000);
}

TEST(TrafficRing, CapacityChangeKeepsTheNewestAndClearForgets) {
  TTrafficRing ring(5000);
  for (int i = 0; i < 4000; ++i)
    ring.Append(i, i % 2 ? B({0x41}) : std::string(12, char(i & 0x7F)));
  ring.SetCapacity(1500);
  EXPECT_EQ(ring.Count(), 1500u);
  EXPECT_EQ(ring.First(), 2500u);
  for (uint64_t s = ring.First(); s < ring.End(); ++s)
    ASSERT_EQ(ring.Bytes(s), s % 2 ? B({0x41}) : std::string(12, char(s & 0x7F))) << s;
  ring.SetCapacity(100000);
  ring.Append(9, B({0x42}));
  EXPECT_EQ(ring.Count(), 1501u);
  EXPECT_EQ(ring.Bytes(2500), std::string(12, char(2500 & 0x7F)));
  EXPECT_EQ(TTrafficRing(1).Capacity(), TTrafficRing::kMinCapacity);

  ring.Clear();
  EXPECT_EQ(ring.Count(), 0u);
  EXPECT_EQ(ring.Dropped(), 0u);
  EXPECT_EQ(ring.TotalBytes(), 0u);
  ring.Append(10, B({0x42}));
  EXPECT_EQ(ring.First(), 4001u) << "numbering goes on, so old rows cannot point at new items";
}

TEST(TrafficFilter, EachKindDeviceAndText) {
  TTrafficRing ring;
  Fill(ring, kTraffic);
  TTrafficFilter f;  // default: call bytes and 1F hidden
  EXPECT_EQ(Shown(ring, f), (std::vector<uint64_t>{1, 4, 5, 6, 7, 8, 9, 10, 11}));
  for (int k = kFirstKind; k <= kLastKind; ++k) {
    f = {};
    f.Kinds = 1u << k;
    for (uint64_t s : Shown(ring, f)) EXPECT_EQ(static_cast<int>(ring.Kind(s)), k);
    EXPECT_FALSE(Shown(ring, f).empty()) << "kind " << k;
  }
  f = {};
  f.Kinds = TTrafficFilter::kAllKinds;
  f.Devices = 1u << 1;
  EXPECT_EQ(Shown(ring, f), (std::vector<uint64_t>{0, 1, 2}));
  f.Devices = (1u << 1) | (1u << 2);
  EXPECT_EQ(Shown(ring, f).size(), kTraffic.size());
  f.Devices = 1u << 9;
  EXPECT_TRUE(Shown(ring, f).empty());

  f = {};
  f.Text = "4a 41";  // hex, either case
  EXPECT_EQ(Shown(ring, f), (std::vector<uint64_t>{1}));
  f.Text = "VYHYBKA 2";  // comment, either case
  EXPECT_EQ(Shown(ring, f), (std::vector<uint64_t>{1}));
  f.Text = "log";  // what the window would have logged
  EXPECT_EQ(Shown(ring, f), (std::vector<uint64_t>{7, 8, 11}));
  f.Text = "Napájení";
  EXPECT_EQ(Shown(ring, f), (std::vector<uint64_t>{5}));
  f.Text = "nothing like it";
  EXPECT_TRUE(Shown(ring, f).empty());
}

TEST(TrafficFilter, RowsGrowAtTheEndAndLeaveAtTheFront) {
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  TTrafficFilter f;
  f.Kinds = KindBit(TItemKind::ikDevice);
  TTrafficMatcher none("", 16);
  TTrafficIndex index;
  index.Reset(ring.First());
  for (int i = 0; i < 400; ++i) {
    ring.Append(i, B({0x41}));
    ring.Append(i, B({0x45, 0, 0, i & 0xFF}));
  }
  EXPECT_EQ(index.Scan(ring, ring.End(), f, none), 400u);
  EXPECT_EQ(index.Scan(ring, ring.End(), f, none), 0u) << "nothing is scanned twice";
  for (int i = 0; i < 300; ++i) {
    ring.Append(i, B({0x41}));
    ring.Append(i, B({0x45, 0, 1, i & 0xFF}));
  }
  // Paused: rows stop at an earlier end, later items wait.
  EXPECT_EQ(index.Scan(ring, ring.End() - 100, f, none), 250u);
  EXPECT_EQ(index.Scan(ring, ring.End(), f, none), 50u);
  EXPECT_EQ(index.Rows(), 700u);
  // The ring holds 1000 of 1400 items: the rows of the first 400 are gone.
  EXPECT_EQ(index.LowerBound(ring.First()), 200u);
  EXPECT_EQ(index.DropBefore(ring.First()), 200u);
  EXPECT_EQ(index.Rows(), 500u);
  EXPECT_EQ(index.SeqAt(0), ring.First() + 1);
  EXPECT_EQ(index.LowerBound(ring.End()), index.Rows());
  // Items that dropped out before they were scanned are skipped.
  for (int i = 0; i < 2000; ++i) ring.Append(i, B({0x45, 0, 2, i & 0xFF}));
  index.DropBefore(ring.First());
  EXPECT_EQ(index.Scan(ring, ring.End(), f, none), TTrafficRing::kMinCapacity);
  EXPECT_EQ(index.SeqAt(0), ring.First());
}

TEST(TrafficFilter, FindGoesBothWaysAndRoundTheEnd) {
  TTrafficRing ring;
  Fill(ring, kTraffic);
  TTrafficIndex index;
  TTrafficMatcher all("", 16);
  TTrafficFilter f;
  f.Kinds = TTrafficFilter::kAllKinds;
  index.Reset(ring.First());
  index.Scan(ring, ring.End(), f, all);
  TTrafficMatcher log("LOG", 16);
  EXPECT_EQ(FindRow(ring, index, TTrafficIndex::npos, true, log), 7u);
  EXPECT_EQ(FindRow(ring, index, 7, true, log), 8u);
  EXPECT_EQ(FindRow(ring, index, 8, true, log), 11u);
  EXPECT_EQ(FindRow(ring, index, 11, true, log), 7u) << "round the end";
  EXPECT_EQ(FindRow(ring, index, 7, false, log), 11u) << "round the start";
  EXPECT_EQ(FindRow(ring, index, TTrafficIndex::npos, false, log), 11u);
  TTrafficMatcher missing("zz", 16);
  EXPECT_EQ(FindRow(ring, index, 3, true, missing), TTrafficIndex::npos);
  TTrafficMatcher once("loko #3", 16);
  EXPECT_EQ(FindRow(ring, index, 4, true, once), 4u) << "the only match, found again";
}

// The row a find must stop at, row by row round the end; npos when none.
static std::size_t NextMatch(const TTrafficRing& ring, const TTrafficIndex& index, std::size_t from,
                             bool forward, const std::string& text) {
  const std::size_t rows = index.Rows();
  for (std::size_t n = 1; n <= rows; ++n) {
    std::size_t row;
    if (from == TTrafficIndex::npos)
      row = forward ? n - 1 : rows - n;
    else
      row = forward ? (from + n) % rows : (from + rows * 2 - n) % rows;
    if (TrafficItemLine(ring.Bytes(index.SeqAt(row)), 16).find(text) != std::string::npos)
      return row;
  }
  return TTrafficIndex::npos;
}

TEST(TrafficFilter, FindInStepsStopsWhereAWholeSearchWould) {
  // Runs of consecutive items and filtered rows with holes, both ways, from
  // every row, one row or a few at a time.
  TTrafficRing ring;
  for (int i = 0; i < 300; ++i) {
    ring.Append(i, B({0x40 | (1 + i % 3)}));
    ring.Append(i, B({0x45, 0, i % 7 == 0 ? 0x77 : 1, i & 0xFF}));
  }
  TTrafficFilter all, noCalls;
  all.Kinds = TTrafficFilter::kAllKinds;
  for (const TTrafficFilter& f : {all, noCalls}) {
    TTrafficIndex index;
    TTrafficMatcher none("", 16);
    index.Reset(ring.First());
    index.Scan(ring, ring.End(), f, none);
    int stepped = 0;  // steps that ended without an answer, a row at a time
    for (std::size_t budget : {std::size_t{1}, std::size_t{5}, TTrafficIndex::npos}) {
      for (bool forward : {true, false}) {
        for (std::size_t from = 0; from <= index.Rows(); from += 7) {
          const std::size_t start = from == index.Rows() ? TTrafficIndex::npos : from;
          TTrafficFind find(TTrafficMatcher("00 77", 16));
          find.Start(index, index.Rows(), start, forward);
          int steps = 0;
          while (find.Step(ring, index, index.Rows(), budget) == TTrafficFind::fsSearching) ++steps;
          const std::size_t want = NextMatch(ring, index, start, forward, "00 77");
          ASSERT_EQ(find.State() == TTrafficFind::fsFound ? find.FoundRow() : TTrafficIndex::npos,
                    want)
              << "from " << from << (forward ? " forwards" : " backwards") << " budget " << budget;
          if (budget == 1) stepped += steps;
          if (want != TTrafficIndex::npos && start != TTrafficIndex::npos) {
            EXPECT_EQ(find.Wrapped(), forward ? want <= start : want >= start);
          }
        }
      }
    }
    EXPECT_GT(stepped, 100);
    TTrafficFind missing(TTrafficMatcher("zz", 16));
    missing.Start(index, index.Rows(), 3, true);
    EXPECT_EQ(missing.Step(ring, index, index.Rows(), TTrafficIndex::npos),
              TTrafficFind::fsNotFound);
  }
}

TEST(TrafficFilter, FindInStepsFollowsRowsThatComeAndGo) {
  // A live ring turns between two steps: the rows tested stay tested, the
  // rows of items gone are skipped, new rows at the end are searched, and
  // the search ends at its start row.
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  auto item = [](int n, bool hit) { return B({0x45, 0, hit ? 0x77 : 1, n & 0xFF}); };
  for (int i = 0; i < 800; ++i) ring.Append(i, item(i, i == 100));
  TTrafficFilter all;
  all.Kinds = TTrafficFilter::kAllKinds;
  TTrafficMatcher none("", 16);
  TTrafficIndex index;
  index.Reset(ring.First());
  index.Scan(ring, ring.End(), all, none);
  TTrafficFind find(TTrafficMatcher("00 77", 16));
  find.Start(index, index.Rows(), 500, true);  // row 500: item 500
  ASSERT_EQ(find.Step(ring, index, index.Rows(), 50), TTrafficFind::fsSearching);
  // 400 items more: the ring drops the oldest (item 100 with them), one new
  // item matches.
  for (int i = 800; i < 1200; ++i) ring.Append(i, item(i, i == 1100));
  index.DropBefore(ring.First());
  index.Scan(ring, ring.End(), all, none);
  while (find.Step(ring, index, index.Rows(), 50) == TTrafficFind::fsSearching) {}
  ASSERT_EQ(find.State(), TTrafficFind::fsFound);
  EXPECT_EQ(index.SeqAt(find.FoundRow()), 1100u);
  EXPECT_FALSE(find.Wrapped());

  // Backwards from item 1000: 1100 is above the start, found after going
  // round.
  TTrafficFind back(TTrafficMatcher("00 77", 16));
  back.Start(index, index.Rows(), index.LowerBound(1000), false);
  while (back.Step(ring, index, index.Rows(), 64) == TTrafficFind::fsSearching) {}
  ASSERT_EQ(back.State(), TTrafficFind::fsFound);
  EXPECT_EQ(index.SeqAt(back.FoundRow()), 1100u);
  EXPECT_TRUE(back.Wrapped());
  // Only the rows the view shows are searched.
  TTrafficFind shown(TTrafficMatcher("00 77", 16));
  shown.Start(index, index.LowerBound(1050), TTrafficIndex::npos, true);
  while (shown.Step(ring, index, index.LowerBound(1050), 64) == TTrafficFind::fsSearching) {}
  EXPECT_EQ(shown.State(), TTrafficFind::fsNotFound);
}

TEST(TrafficExport, TimePrefixesCountFromThePreviousLineAndTheSession) {
  TTrafficRing ring;
  ring.BeginSession(1700000000000000);
  ring.Append(1700000000250000, B({0x41}));
  ring.Append(1700000001500001, B({0x4A, 0x41, 0x00, 0x0B}));
  ring.Append(1700000002000000, B({0x1F}));
  ring.Append(1700000003000000, B({0x00, 0x80, 0x80}));
  EXPECT_EQ(Lines(ring, nullptr, TTimeMode::tmAbsolute),
            (std::vector<std::string>{
                "(1700000000.250000) 41\t01 ano", "(1700000001.500001) 4A 41 00 0B\tVyhybka 2 L T",
                "(1700000002.000000) 1F", "(1700000003.000000) 00 80 80\tNapájení zapnuto"}));
  EXPECT_EQ(Lines(ring, nullptr, TTimeMode::tmZero)[1], "(001.500001) 4A 41 00 0B\tVyhybka 2 L T");
  // Delta to the previous line written: with call bytes and 1F hidden the
  // power message follows the turnout.
  TTrafficIndex shown;
  TTrafficFilter f;
  TTrafficMatcher none("", 16);
  shown.Reset(ring.First());
  shown.Scan(ring, ring.End(), f, none);
  EXPECT_EQ(Lines(ring, &shown, TTimeMode::tmDelta),
            (std::vector<std::string>{"(000.000000) 4A 41 00 0B\tVyhybka 2 L T",
                                      "(001.499999) 00 80 80\tNapájení zapnuto"}));
  EXPECT_EQ(Lines(ring, &shown, TTimeMode::tmNone)[0], "4A 41 00 0B\tVyhybka 2 L T");
}

TEST(TrafficExport, WritesTheFileWholeOrReportsWhyNot) {
  const fs::path dir = fs::temp_directory_path() / ("vantrel-traffic-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  TTrafficRing ring;
  Fill(ring, kTraffic);
  std::string error;
  uint64_t lines = 0;
  const fs::path out = dir / "provoz.txt";
  ASSERT_TRUE(ExportTraffic(ring, nullptr, TTimeMode::tmNone, 16, out, error, &lines)) << error;
  EXPECT_EQ(lines, kTraffic.size());
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  std::string expected;
  for (const std::string& l : Lines(ring, nullptr, TTimeMode::tmNone)) expected += l + "\n";
  EXPECT_EQ(text.str(), expected);
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0044, 0u) << "readable like any saved text, not private";

  EXPECT_FALSE(
      ExportTraffic(ring, nullptr, TTimeMode::tmNone, 16, (dir / "no/such/x.txt").string(), error));
  EXPECT_EQ(error, "No such file or directory");
  if (::geteuid() != 0) {
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(ExportTraffic(ring, nullptr, TTimeMode::tmNone, 16, out, error));
    EXPECT_EQ(error, "Permission denied");
    fs::permissions(dir, fs::perms::owner_all);
  }
  // Nothing but the one good file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

TEST(TrafficExport, AJobInStepsWritesWhatTheWholeExportWritesOrNothing) {
  const fs::path dir = fs::temp_directory_path() / ("vantrel-job-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  for (int i = 0; i < 1500; ++i) ring.Append(1000000 + i * 700, kTraffic[i % kTraffic.size()]);
  TTrafficFilter filter;  // calls hidden: rows with holes
  TTrafficIndex rows;
  TTrafficMatcher none("", 16);
  rows.Reset(ring.First());
  rows.Scan(ring, ring.End(), filter, none);
  auto read = [](const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  std::string error;
  const TTrafficIndex* const cases[] = {&rows, nullptr};
  for (const TTrafficIndex* shown : cases) {
    ASSERT_TRUE(
        ExportTraffic(ring, shown, TTimeMode::tmDelta, 16, (dir / "whole.txt").string(), error));
    TTrafficExportJob job(ring, shown, TTimeMode::tmDelta, 16, (dir / "job.txt").string());
    int steps = 0;
    while (job.Step(7)) ++steps;
    EXPECT_GT(steps, 50);
    ASSERT_TRUE(job.Wait(error)) << error;
    EXPECT_EQ(job.Lines(), shown ? rows.Rows() : ring.Count());
    EXPECT_EQ(read(dir / "job.txt"), read(dir / "whole.txt"));
  }

  // Cancelled half way: the file saved before stays as it was, no
  // temporary file is left.
  const std::string before = read(dir / "job.txt");
  {
    TTrafficExportJob job(ring, nullptr, TTimeMode::tmNone, 16, (dir / "job.txt").string());
    ASSERT_TRUE(job.Step(100));
    job.Cancel();
    EXPECT_FALSE(job.Step(100));
    EXPECT_FALSE(job.Wait(error));
  }
  EXPECT_EQ(read(dir / "job.txt"), before);
  {
    TTrafficExportJob gone(ring, nullptr, TTimeMode::tmNone, 16, (dir / "job.txt").string());
    gone.Step(100);
  }  // dropped unfinished: nothing saved either
  EXPECT_EQ(read(dir / "job.txt"), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

  TTrafficExportJob nowhere(ring, nullptr, TTimeMode::tmNone, 16, (dir / "no/such.txt").string());
  while (nowhere.Step(100)) {}
  EXPECT_FALSE(nowhere.Wait(error));
  EXPECT_EQ(error, "No such file or directory");
  fs::remove_all(dir);
}
