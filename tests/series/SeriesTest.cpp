// The series store from known item sequences: the central's values, power
// changes, rates per second and per tenth, device rates, the memory bound of
// a day, the click-to-time mapping and the CSV export.
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "bus/uVantrelSeq.h"
#include "series/SeriesCsv.h"
#include "series/SeriesStore.h"
#include "series/SeriesView.h"
#include "support/TestBytes.h"

// AddressSanitizer's allocator is one mallinfo2 does not see.
#if defined(__SANITIZE_ADDRESS__)
#define SERIES_TEST_HEAP_SEEN 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SERIES_TEST_HEAP_SEEN 0
#endif
#endif
#ifndef SERIES_TEST_HEAP_SEEN
#define SERIES_TEST_HEAP_SEEN 1
#endif

namespace {

constexpr int64_t kT0 = 1796738400;  // a whole minute, in seconds since the epoch

int64_t At(int64_t second, int64_t us = 0) { return (kT0 + second) * kUsPerSecond + us; }

std::string Call(int address) {
  return std::string(1, static_cast<char>(CallByteFor(address, true)));
}

std::string Status(int iaTenths, int im) {
  std::string m = Bytes({0x00, 0, 0x80 | im, iaTenths, 0x00, 0x13, 4});
  SetCheckByte(m);
  return m;
}

std::string Power(int state) { return Bytes({0x00, state, state}); }

std::string Turnout() {
  std::string m = Bytes({0x4A, 0, 0x00, 0x0B});
  SetCheckByte(m);
  return m;
}

// Times in the tests are local; UTC keeps them the same everywhere.
class Series : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
};

TEST_F(Series, CentralValuesHoldFromOneStatusToTheNextAndEndAtAGap) {
  TSeriesStore st;
  st.Add(Status(45, 12), At(0, 100000));
  st.Add(Status(50, 12), At(0, 900000));
  st.Add(Call(3), At(1, 500000));  // no status in second 1: 5.0 A held
  st.Add(Status(30, 12), At(2, 200000));
  st.Add(Call(3), At(4, 0));  // nothing in second 3: unknown from there on
  st.Add(Call(3), At(5, 0));
  ASSERT_EQ(st.FirstSecond(), kT0);
  ASSERT_EQ(st.EndSecond(), kT0 + 5);  // second 5 still fills

  const TSecondPoint& p0 = st.At(kT0);
  EXPECT_TRUE(p0.HasStatus());
  EXPECT_EQ(p0.Flags & TSecondPoint::kFreshStatus, TSecondPoint::kFreshStatus);
  EXPECT_EQ(p0.IaMin, 45);
  EXPECT_EQ(p0.IaMax, 50);
  EXPECT_EQ(p0.IaLast, 50);
  EXPECT_EQ(p0.Im, 12);
  const TSecondPoint& p1 = st.At(kT0 + 1);
  EXPECT_EQ(p1.Flags, TSecondPoint::kStatus);  // held, not fresh
  EXPECT_EQ(p1.IaLast, 50);
  const TSecondPoint& p2 = st.At(kT0 + 2);  // 5.0 A until the message, 3.0 A after
  EXPECT_EQ(p2.IaMin, 30);
  EXPECT_EQ(p2.IaMax, 50);
  EXPECT_FALSE(st.At(kT0 + 3).HasData());
  EXPECT_FALSE(st.At(kT0 + 4).HasStatus());

  // The load is 100 x Ia / Im; the gap splits the curve.
  TTimeAxis axis{At(0), At(10), 0, 1000};
  const auto runs = SeriesRuns(st, axis, TSeries::srLoad);
  ASSERT_EQ(runs.size(), 1u);  // seconds 0-2; 4 has data but no status
  ASSERT_EQ(runs[0].size(), 3u);
  EXPECT_NEAR(runs[0][0].Last, 41.667, 0.01);
  EXPECT_NEAR(runs[0][2].Lo, 25.0, 0.01);
  EXPECT_NEAR(runs[0][2].Hi, 41.667, 0.01);
  EXPECT_EQ(SeriesRuns(st, axis, TSeries::srItems).size(), 2u);

  // A status with maximum current 0: Ia known, no load.
  TSeriesStore zero;
  zero.Add(Status(20, 0), At(0));
  zero.Add(Call(1), At(1));
  EXPECT_EQ(SeriesRuns(zero, axis, TSeries::srIa).size(), 1u);
  EXPECT_TRUE(SeriesRuns(zero, axis, TSeries::srLoad).empty());
}

TEST_F(Series, PowerChangesBecomeExactIntervalsAndAGapEndsThem) {
  TSeriesStore st;
  st.Add(Call(1), At(0, 0));
  st.Add(Power(0x80), At(0, 200000));
  st.Add(Power(0x80), At(1, 0));  // the same state again: no change
  st.Add(Power(0x81), At(1, 500000));
  st.Add(Power(0x80), At(1, 700000));
  st.Add(Call(1), At(2, 0));
  st.Add(Call(1), At(4, 0));  // nothing in second 3
  st.Add(Power(0x83), At(4, 300000));
  st.Add(Call(1), At(5, 0));

  const auto iv = st.PowerIntervals(At(0), At(10));
  ASSERT_EQ(iv.size(), 6u);
  const TPowerInterval want[] = {
      {At(0), At(0, 200000), kPowerNone},   {At(0, 200000), At(1, 500000), 0x80},
      {At(1, 500000), At(1, 700000), 0x81}, {At(1, 700000), At(3), 0x80},
      {At(3), At(4, 300000), kPowerNone},   {At(4, 300000), At(5), 0x83}};
  for (size_t i = 0; i < iv.size(); ++i) {
    EXPECT_EQ(iv[i].StartUs, want[i].StartUs) << i;
    EXPECT_EQ(iv[i].EndUs, want[i].EndUs) << i;
    EXPECT_EQ(iv[i].State, want[i].State) << i;
  }
  // Per second: the state at its end, and a short drop within it.
  EXPECT_EQ(st.At(kT0 + 1).Power, 0x80);
  EXPECT_EQ(st.At(kT0 + 1).PowerOff, 0x81);
  EXPECT_EQ(st.At(kT0 + 2).PowerOff, kPowerNone);
  EXPECT_EQ(st.At(kT0 + 4).Power, 0x83);

  // A window inside one interval.
  const auto inner = st.PowerIntervals(At(2, 100), At(2, 900));
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_EQ(inner[0].State, 0x80);
  EXPECT_EQ(inner[0].EndUs - inner[0].StartUs, 800);
}

// A lost port: the power is unknown from the loss on and nothing known
// before carries past it, even when the line is back within the second.
TEST_F(Series, ALossEndsThePowerAndTheValuesAtOnce) {
  TSeriesStore st;
  st.Add(Status(45, 12), At(0, 100000));
  st.Add(Power(0x80), At(0, 200000));
  st.MarkLoss(At(0, 600000));
  EXPECT_EQ(st.EndSecond(), kT0 + 1) << "complete as far as it got";
  st.Add(Call(1), At(1, 100000));
  st.Add(Power(0x80), At(1, 300000));  // the central says it again
  st.Add(Call(1), At(2, 0));
  EXPECT_FALSE(st.At(kT0 + 1).HasStatus());
  const auto iv = st.PowerIntervals(At(0), At(2));
  ASSERT_EQ(iv.size(), 4u);
  const TPowerInterval want[] = {{At(0), At(0, 200000), kPowerNone},
                                 {At(0, 200000), At(0, 600000), 0x80},
                                 {At(0, 600000), At(1, 300000), kPowerNone},
                                 {At(1, 300000), At(2), 0x80}};
  for (size_t i = 0; i < iv.size(); ++i) {
    EXPECT_EQ(iv[i].StartUs, want[i].StartUs) << i;
    EXPECT_EQ(iv[i].EndUs, want[i].EndUs) << i;
    EXPECT_EQ(iv[i].State, want[i].State) << i;
  }

  TSeriesStore same;  // back within the same second
  same.Add(Power(0x80), At(0, 100000));
  same.MarkLoss(At(0, 300000));
  same.Add(Power(0x80), At(0, 700000));
  same.Add(Call(1), At(1, 0));
  const auto back = same.PowerIntervals(At(0, 100000), At(1));
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[1].State, kPowerNone);
  EXPECT_EQ(back[2].StartUs, At(0, 700000));
  EXPECT_EQ(back[2].State, 0x80);
  TSeriesStore none;
  none.MarkLoss(At(0));  // nothing held: nothing to end
  EXPECT_TRUE(none.Empty());
}

TEST_F(Series, RatesPerSecondWithTheQuietestAndBusiestTenth) {
  TSeriesStore st;
  const std::string lone = Bytes({0x20});
  const std::string junk = Bytes({0xFF, 0xFE, 0xFD});
  ASSERT_EQ(ClassifyItem(lone).Kind, TItemKind::ikLoneByte);
  ASSERT_EQ(ClassifyItem(junk).Kind, TItemKind::ikUnrecognised);
  // Second 0: tenth 0 a call and a turnout (5 bytes), tenth 5 junk and a lone byte (4).
  st.Add(Call(5), At(0, 10000));
  st.Add(Turnout(), At(0, 20000));
  st.Add(junk, At(0, 510000));
  st.Add(lone, At(0, 520000));
  // Second 1: one byte in each tenth.
  for (int t = 0; t < 10; ++t) st.Add(Call(7), At(1, t * 100000 + 5));
  st.Add(Call(7), At(2));

  const TSecondPoint& p = st.At(kT0);
  EXPECT_EQ(p.Bytes, 9u);
  EXPECT_EQ(p.Items, 4u);
  EXPECT_EQ(p.BadBytes, 4u);
  EXPECT_EQ(p.BytesMin, 0);  // the empty tenths count
  EXPECT_EQ(p.BytesMax, 5);
  EXPECT_EQ(p.ItemsMax, 2);
  EXPECT_EQ(p.BadMin, 0);
  EXPECT_EQ(p.BadMax, 4);
  const TSecondPoint& q = st.At(kT0 + 1);
  EXPECT_EQ(q.Bytes, 10u);
  EXPECT_EQ(q.BytesMin, 1);
  EXPECT_EQ(q.BytesMax, 1);
  EXPECT_EQ(q.BadBytes, 0u);

  // The device called before the message is the one counted.
  EXPECT_EQ(st.DeviceMessages(5, kT0), 1);
  EXPECT_EQ(st.DeviceMessages(7, kT0 + 1), 0);
  EXPECT_TRUE(st.DeviceSeen(5));
  EXPECT_FALSE(st.DeviceSeen(7));

  // As drawn: the band is the tenths' rate per second.
  const auto runs = SeriesRuns(st, {At(0), At(2), 0, 200}, TSeries::srBytes);
  ASSERT_EQ(runs.size(), 1u);
  ASSERT_EQ(runs[0].size(), 2u);
  EXPECT_EQ(runs[0][0].Last, 9.0f);
  EXPECT_EQ(runs[0][0].BandHi, 50.0f);
  EXPECT_EQ(runs[0][1].BandLo, 10.0f);
}

TEST_F(Series, LateItemsCountInTheNewestSecondAndFinishCompletesIt) {
  TSeriesStore st;
  st.Add(Call(1), At(3, 500000));
  st.Add(Call(1), At(1, 0));  // a clock set back: no earlier second appears
  EXPECT_EQ(st.FirstSecond(), kT0 + 3);
  EXPECT_EQ(st.At(kT0 + 3).Items, 2u);
  EXPECT_EQ(st.LastTimeUs(), At(3, 500000));
  EXPECT_EQ(st.EndSecond(), kT0 + 3);  // still filling
  st.Finish();
  EXPECT_EQ(st.EndSecond(), kT0 + 4);
  // Only the tenth that had begun counts, not the six after the end of a capture.
  EXPECT_EQ(st.At(kT0 + 3).BytesMin, 0);
  EXPECT_EQ(st.At(kT0 + 3).BytesMax, 2);
  st.Add(Call(1), At(4));
  EXPECT_EQ(st.EndSecond(), kT0 + 4);
}

TEST_F(Series, OldSecondsGoAndAJumpBeyondTheCapacityStartsAfresh) {
  TSeriesStore st(600);
  st.Add(Power(0x81), At(0));
  for (int s = 1; s < 5000; ++s) st.Add(Call(1), At(s));
  EXPECT_LE(st.FirstSecond(), kT0 + 5000 - 600);
  EXPECT_GE(st.FirstSecond(), kT0 + 5000 - 600 - 1024);
  EXPECT_EQ(st.EndSecond(), kT0 + 4999);
  // The power state in force stays, from the first second held.
  ASSERT_EQ(st.PowerChanges().size(), 1u);
  EXPECT_EQ(st.PowerChanges().front().TimeUs, st.FirstSecond() * kUsPerSecond);
  EXPECT_EQ(st.PowerIntervals(0, At(6000)).front().State, 0x81);

  st.Add(Call(1), At(100000));
  EXPECT_EQ(st.FirstSecond(), kT0 + 100000);
  EXPECT_TRUE(st.PowerChanges().empty());
  st.Clear();
  EXPECT_TRUE(st.Empty());
  EXPECT_TRUE(st.PowerIntervals(0, At(200000)).empty());
}

// A clock that jumps forward by days (a board without a clock of its own, a
// crafted capture) costs memory only for the seconds with data, and the
// seconds between read as without data.
TEST_F(Series, JumpsOfDaysCostNothingForTheSecondsBetween) {
  constexpr int64_t kWeek = 7 * 24 * 3600;
  TSeriesStore st(kWeek);
  for (int64_t k = 0; k < 2000; ++k) {
    st.Add(Call(3), At(k * (kWeek - 1)));
    st.Add(Turnout(), At(k * (kWeek - 1), 10));
  }
  st.Finish();
  const int64_t last = kT0 + 1999 * (kWeek - 1);
  EXPECT_EQ(st.EndSecond(), last + 1);
  EXPECT_LE(st.FirstSecond(), last - (kWeek - 1));
  EXPECT_GT(st.FirstSecond(), last - kWeek - 1024);
  EXPECT_LE(st.MemoryBytes(), 256u << 10) << "two seconds with data, not a week of blocks";
  EXPECT_EQ(st.At(last).Items, 2u);
  EXPECT_EQ(st.At(last - (kWeek - 1)).Items, 2u);
  EXPECT_FALSE(st.At(last - kWeek / 2).HasData());
  EXPECT_EQ(st.DeviceMessages(3, last), 1);
  EXPECT_EQ(st.DeviceMessages(3, last - kWeek / 2), 0);
  EXPECT_TRUE(st.DeviceSeen(3));
  // A second before the first: the clock set back counts in the newest.
  st.Add(Call(3), At(0));
  EXPECT_EQ(st.At(last).Items, 3u);
}

// Every second of a day with everything that costs memory: all 31 devices
// speaking and a power change each second.
TEST_F(Series, ADayOfTheBusiestSecondsStaysWithinTenMegabytes) {
  std::string calls[32];
  for (int a = 1; a <= 31; ++a) calls[a] = Call(a);
  const std::string status = Status(40, 8), turnout = Turnout();
  const std::string power[2] = {Power(0x80), Power(0x82)};
  const size_t heapBefore = ::mallinfo2().uordblks;
  TSeriesStore st;
  const int64_t seconds = TSeriesStore::kDefaultSeconds + 3 * 1024;
  for (int64_t s = 0; s < seconds; ++s) {
    for (int a = 1; a <= 31; ++a) {
      st.Add(calls[a], At(s, a * 1000));
      st.Add(turnout, At(s, a * 1000 + 10));
    }
    st.Add(status, At(s, 500000));
    st.Add(power[s & 1], At(s, 600000));
  }
  const size_t heap = ::mallinfo2().uordblks - heapBefore;
  EXPECT_GE(st.EndSecond() - st.FirstSecond(), TSeriesStore::kDefaultSeconds);
  EXPECT_EQ(st.PowerChanges().size(), TSeriesStore::kMaxPowerChanges);
  for (int a = 1; a <= 31; ++a) ASSERT_EQ(st.DeviceMessages(a, st.FirstSecond()), 1) << a;
  EXPECT_LE(st.MemoryBytes(), 10u << 20);
#if SERIES_TEST_HEAP_SEEN
  EXPECT_LE(heap, 10u << 20);
  EXPECT_GE(heap + (64u << 10), st.MemoryBytes() - sizeof st);  // the count is honest
#endif
  std::printf("a day of points: %zu bytes (heap %zu)\n", st.MemoryBytes(), heap);
}

TEST_F(Series, LongStretchesKeepTheirPeaksPerPixelColumn) {
  TSeriesStore st;
  for (int s = 0; s < 3600; ++s) {
    st.Add(Call(1), At(s));
    if (s == 1234) st.Add(std::string(40, '\x1F'), At(s, 10));  // one busy second
  }
  TTimeAxis axis{At(0), At(3600), 10, 100};  // 36 seconds a column
  const auto runs = SeriesRuns(st, axis, TSeries::srBytes);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_GE(runs[0].size(), 99u);
  EXPECT_LE(runs[0].size(), 101u);
  int peaks = 0;
  for (const TBucket& b : runs[0]) {
    EXPECT_LE(b.X0, b.X1);
    EXPECT_EQ(b.Lo, 1.0f);
    if (b.Hi == 41.0f) {
      ++peaks;
      EXPECT_NEAR(b.X0, axis.XAt(At(1234)), 1.0);
    }
  }
  EXPECT_EQ(peaks, 1);
}

TEST_F(Series, ClicksMapToMomentsAndMomentsToTheNearestRow) {
  TTimeAxis axis{At(0), At(600), 50, 600};  // ten minutes on 600 pixels
  EXPECT_EQ(axis.TimeAt(50), At(0));
  EXPECT_EQ(axis.TimeAt(650), At(600));
  EXPECT_EQ(axis.TimeAt(350.5), At(300, 500000));
  EXPECT_DOUBLE_EQ(axis.XAt(axis.TimeAt(123.25)), 123.25);

  const int64_t times[] = {At(0), At(10), At(10), At(20)};
  auto timeAt = [&](size_t i) { return times[i]; };
  EXPECT_EQ(NearestByTime(4, At(-5), timeAt), 0u);
  EXPECT_EQ(NearestByTime(4, At(4), timeAt), 0u);
  EXPECT_EQ(NearestByTime(4, At(5), timeAt), 0u);  // a tie: the earlier
  EXPECT_EQ(NearestByTime(4, At(6), timeAt), 1u);  // the first of equal times
  EXPECT_EQ(NearestByTime(4, At(16), timeAt), 3u);
  EXPECT_EQ(NearestByTime(4, At(99), timeAt), 3u);
  EXPECT_EQ(NearestByTime(1, At(99), timeAt), 0u);

  int64_t step = 0;
  const auto ticks = TimeTicks({At(3), At(603), 0, 600}, 50, step);
  EXPECT_EQ(step, 60 * kUsPerSecond);
  ASSERT_EQ(ticks.size(), 10u);
  EXPECT_EQ(ticks[0], At(60));
  EXPECT_DOUBLE_EQ(NiceCeiling(11520), 20000);
  EXPECT_DOUBLE_EQ(NiceCeiling(4.5), 5);
  EXPECT_DOUBLE_EQ(NiceCeiling(0), 1);
}

TEST_F(Series, CsvHasOneLineASecondWithEmptyCellsForWhatIsUnknown) {
  TSeriesStore st;
  st.Add(Call(5), At(0, 0));
  st.Add(Turnout(), At(0, 1000));
  st.Add(Status(45, 12), At(1, 0));
  st.Add(Power(0x80), At(1, 100000));
  st.Add(Power(0x81), At(1, 200000));
  st.Add(Power(0x80), At(1, 300000));
  st.Add(Call(5), At(3, 0));  // second 2 without data
  st.Add(Call(5), At(4, 0));

  std::string csv = SeriesCsvHeader(5);
  AppendSeriesCsv(st, 0, kT0 + 100, 5, csv);
  std::istringstream in(csv);
  std::string line[6];
  for (auto& l : line) std::getline(in, l);
  EXPECT_EQ(line[0],
            "čas,unix_s,Ia_A,Ia_min_A,Ia_max_A,Im_A,zátěž_%,napájení,B_s,B_s_min,B_s_max,"
            "položky_s,položky_s_min,položky_s_max,nerozpoznáno_B_s,nerozpoznáno_B_s_min,"
            "nerozpoznáno_B_s_max,zařízení_05_zprávy_s");
  EXPECT_EQ(line[1], "2026-12-08 14:00:00,1796738400,,,,,,,5,0,50,2,0,20,0,0,0,1");
  EXPECT_EQ(line[2],
            "2026-12-08 14:00:01,1796738401,4.5,4.5,4.5,12,37.50,$81,16,0,70,4,0,10,0,0,0,0");
  EXPECT_EQ(line[3], "2026-12-08 14:00:02,1796738402");
  EXPECT_EQ(line[4], "2026-12-08 14:00:03,1796738403,,,,,,,1,0,10,1,0,10,0,0,0,0");
  EXPECT_TRUE(line[5].empty());  // second 4 still fills
  EXPECT_EQ(SeriesCsvHeader(0).find("zařízení"), std::string::npos);

  char dir[] = "/tmp/series-csv-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/graf.csv";
  std::string error;
  ASSERT_TRUE(SaveSeriesCsv(st, kT0, kT0 + 2, 0, path, error)) << error;
  std::ifstream f(path);
  std::string saved((std::istreambuf_iterator<char>(f)), {});
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 3);
  EXPECT_FALSE(SaveSeriesCsv(st, kT0, kT0 + 2, 0, std::string(dir) + "/no/graf.csv", error));
  EXPECT_EQ(error, "No such file or directory");
  if (::geteuid() != 0) {
    ::chmod(dir, 0500);
    EXPECT_FALSE(SaveSeriesCsv(st, kT0, kT0 + 2, 0, std::string(dir) + "/x.csv", error));
    EXPECT_EQ(error, "Permission denied");
    ::chmod(dir, 0700);
  }
  EXPECT_FALSE(SaveSeriesCsv(st, kT0, kT0 + 2, 0, "/dev/full", error));
  EXPECT_EQ(error, "No space left on device");
  ::unlink(path.c_str());
  ::rmdir(dir);
}

}  // namespace
