// Each kind of event, as the items come and over a history, and their texts.
#include <gtest/gtest.h>

#include "AnalysisFeed.h"
#include "support/TestBytes.h"

namespace {

const std::string kTurnout = Bytes({0x4A, 0x41, 0x00, 0x0B});
const std::string kPowerOn = Bytes({0x00, 0x80, 0x80});
const std::string kPowerOff = Bytes({0x00, 0x81, 0x81});

// A status of a central with a 5 A maximum at tenths A.
std::string Status(int tenths, int maxAmps = 5) {
  std::string s = Bytes({0x00, 0x00, 0xC0 | maxAmps, tenths, 0x00, 0x13, 0x0A});
  s[1] = static_cast<char>(s[0] ^ s[2] ^ s[3] ^ s[4] ^ s[5] ^ s[6]);
  return s;
}

std::vector<TBusEvent> Events(const TBusAnalysis& a) {
  std::vector<TBusEvent> out;
  for (uint64_t n = a.FirstEvent(); n < a.EndEvent(); ++n) out.push_back(a.Event(n));
  return out;
}

std::vector<TBusEvent> Detect(const std::vector<TTimedItem>& items, TEventLimits limits = {}) {
  TTrafficRing ring;
  TBusAnalysis a(limits);
  FeedLive(ring, a, items);
  return Events(a);
}

}  // namespace

TEST(BusEvents, PowerChangesWithHowLongEachStateLasted) {
  const auto e = Detect(
      {{10, kPowerOn}, {12, kPowerOn}, {20, kPowerOff}, {20.5, kPowerOff}, {23.25, kPowerOn}});
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].Kind, TEventKind::ekPower);
  EXPECT_EQ(EventText(e[0]), "Napájení: zapnuto");
  EXPECT_EQ(e[1].Seq, 2u);
  EXPECT_EQ(e[1].TimeUs, Us(20));
  EXPECT_EQ(EventText(e[1]), "Napájení: zapnuto → $81 (zapnuto trvalo 10.0 s)");
  EXPECT_EQ(EventText(e[2], ","), "Napájení: $81 → zapnuto ($81 trvalo 3,3 s)");
}

TEST(BusEvents, CurrentAboveTheShareOfTheMaximumAndBack) {
  // 4.0 A of 5 A is 80 %: not above the limit; 4.2 A is.
  const auto e = Detect(
      {{1, Status(40)}, {2, Status(42)}, {3, Status(45)}, {6.5, Status(30)}, {7, Status(42, 0)}});
  ASSERT_EQ(e.size(), 2u) << "a central without a maximum says nothing";
  EXPECT_EQ(e[0].Kind, TEventKind::ekLoad);
  EXPECT_EQ(e[0].Seq, 1u);
  EXPECT_EQ(EventText(e[0]), "Proud nad 80 % maxima: 4.2 A z 5 A");
  EXPECT_EQ(EventText(e[1]), "Proud pod 80 % maxima: 3.0 A z 5 A (nad mezí 4.5 s)");
  TEventLimits half;
  half.LoadPercent = 50;
  EXPECT_EQ(Detect({{1, Status(30)}}, half).size(), 1u);
}

TEST(BusEvents, ADeviceGoesSilentAndComesBack) {
  const auto e = Detect({{0, Bytes({0x41})},
                         {0.01, kTurnout},       // device 1 talks
                         {5.01, Bytes({0x42})},  // exactly the limit later: not yet
                         {5.6, Bytes({0x42})},   // past it: silent since 5.01
                         {9.0, Bytes({0x41})},
                         {9.01, kTurnout}});  // back after 9 s
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].Kind, TEventKind::ekSilent);
  EXPECT_EQ(e[0].Device, 1);
  EXPECT_EQ(e[0].Seq, 1u) << "its last message's row";
  EXPECT_EQ(e[0].TimeUs, Us(5.01));
  EXPECT_EQ(EventText(e[0]), "Zařízení 01 mlčí déle než 5.0 s");
  EXPECT_EQ(e[1].Kind, TEventKind::ekBack);
  EXPECT_EQ(e[1].Seq, 5u);
  EXPECT_EQ(EventText(e[1]), "Zařízení 01 opět hlásí (mlčelo 9.0 s)");
  // A device that never talked is never silent; the clock alone (a quiet
  // line) finds silence too.
  TBusAnalysis a;
  TTrafficRing ring;
  FeedLive(ring, a, {{0, Bytes({0x42})}, {0.01, kTurnout}, {0.02, Bytes({0x41})}});
  a.Tick(Us(4));
  EXPECT_EQ(a.EndEvent(), 0u);
  a.Tick(Us(6));
  ASSERT_EQ(a.EndEvent(), 1u);
  EXPECT_EQ(a.Event(0).Device, 2);
}

TEST(BusEvents, AGapIsAnEventAndSilenceCountsFromItsEnd) {
  TTrafficRing ring;
  TBusAnalysis a;
  FeedLive(ring, a, {{0, Bytes({0x41})}, {0.01, kTurnout}});
  a.Gap(ring.End(), Us(1), Us(20));
  FeedLive(ring, a, {{21, Bytes({0x42})}});  // 21 s after device 1's message, 1 s after the gap
  auto e = Events(a);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].Kind, TEventKind::ekGap);
  EXPECT_EQ(e[0].Seq, 2u);
  EXPECT_EQ(EventText(e[0]), "Spojení ztraceno na 19.0 s");
  FeedLive(ring, a, {{25.5, Bytes({0x42})}});
  e = Events(a);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].Kind, TEventKind::ekSilent);
  EXPECT_EQ(e[1].TimeUs, Us(25));
}

TEST(BusEvents, BurstsOfUnrecognisedBytes) {
  std::vector<TTimedItem> items;
  // 2 B every 1.5 s: never a burst.  Then 2 B every 0.1 s: one burst at
  // the 8th, naming the first of the run.
  for (int i = 0; i < 10; ++i) items.push_back({i * 1.5, Bytes({0x33, 0x44})});
  for (int i = 0; i < 20; ++i) items.push_back({20 + i * 0.1, Bytes({0x33, 0x44})});
  const auto e = Detect(items);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].Kind, TEventKind::ekBurst);
  EXPECT_EQ(e[0].Seq, 10u);
  EXPECT_EQ(e[0].TimeUs, Us(20));
  EXPECT_EQ(EventText(e[0]), "Nerozpoznané bajty: 16 B v řadě");
  // Lone bytes count too.
  std::vector<TTimedItem> lone;
  for (int i = 0; i < 16; ++i) lone.push_back({i * 0.01, Bytes({0x20})});
  EXPECT_EQ(Detect(lone).size(), 1u);
}

TEST(BusEvents, AHistoryGivesTheSameEventsWithItsReconnects) {
  std::vector<TTimedItem> items = {{0, kPowerOn},  {0.5, Bytes({0x41})}, {0.51, kTurnout},
                                   {8, kPowerOff}, {9, Bytes({0x41})},   {9.01, kTurnout}};
  TTrafficArchive archive;
  archive.BeginSession(0);
  for (int i = 0; i < 4; ++i) archive.Append(Us(items[i].Seconds), items[i].Bytes);
  archive.BeginSession(Us(8.5));  // a reconnect: the line was away from 8 s to 8.5 s
  for (int i = 4; i < 6; ++i) archive.Append(Us(items[i].Seconds), items[i].Bytes);
  archive.Finish();
  TBusAnalysis a;
  AnalyseSpan(archive, 0, archive.End(), a);
  const auto e = Events(a);
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].Kind, TEventKind::ekPower);
  EXPECT_EQ(e[1].Kind, TEventKind::ekSilent);  // 5.51 s, before the gap
  EXPECT_EQ(e[2].Kind, TEventKind::ekPower);
  EXPECT_EQ(e[3].Kind, TEventKind::ekGap);
  EXPECT_EQ(e[3].Seq, 4u);
  EXPECT_EQ(e[3].DurationUs, Us(0.5));
  EXPECT_EQ(e[4].Kind, TEventKind::ekBack);
}

TEST(BusEvents, OldEventsGoBeyondTheLimitAndNumbersStay) {
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  TBusAnalysis a;
  std::vector<TTimedItem> items;
  for (std::size_t i = 0; i < TBusAnalysis::kEventLimit + 5; ++i)
    items.push_back({static_cast<double>(i), i % 2 ? kPowerOff : kPowerOn});
  FeedLive(ring, a, items);
  EXPECT_EQ(a.EndEvent(), TBusAnalysis::kEventLimit + 5);
  EXPECT_GT(a.FirstEvent(), 0u);
  EXPECT_LE(a.EndEvent() - a.FirstEvent(), TBusAnalysis::kEventLimit);
  EXPECT_EQ(a.Event(a.EndEvent() - 1).TimeUs, Us(TBusAnalysis::kEventLimit + 4));
}

TEST(BusEvents, NamesAndDurations) {
  std::string unknown;
  EXPECT_EQ(
      EventKindsFromNames(" power, gap ,bogus,,silent", &unknown),
      EventBit(TEventKind::ekPower) | EventBit(TEventKind::ekGap) | EventBit(TEventKind::ekSilent));
  EXPECT_EQ(unknown, "bogus");
  EXPECT_EQ(EventKindNames(EventKindsFromNames("burst,load")), "load,burst");
  EXPECT_EQ(DurationText(850000), "850 ms");
  EXPECT_EQ(DurationText(59960000), "60.0 s");
  EXPECT_EQ(DurationText(200 * 1000000LL), "3 min 20 s");
  EXPECT_EQ(DurationText(7500 * 1000000LL), "2 h 05 min");
}
