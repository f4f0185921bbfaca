// The trigger finds what it was set to look for, once, in the order of the
// items, and only what came after it was set.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "AnalysisFeed.h"
#include "analysis/Trigger.h"
#include "support/TestBytes.h"

namespace {
const std::string kTurnout = Bytes({0x4A, 0x41, 0x00, 0x0B});  // "Vyhybka 2 L T"
const std::string kPowerOn = Bytes({0x00, 0x80, 0x80});
const std::string kPowerOff = Bytes({0x00, 0x81, 0x81});
}  // namespace

TEST(Trigger, EventsAndPatternsInItemOrderOnce) {
  TAnalysisSettings s;
  s.TriggerEvents = "power";
  s.TriggerPattern = "vyhybka 2";  // the text, any case
  s.TriggerActions = "pause, mark";
  TTrigger trigger(s, 16);
  EXPECT_TRUE(trigger.Armed());
  EXPECT_EQ(trigger.Actions(), uint32_t{taPause | taMark});
  TTrafficRing ring;
  TBusAnalysis a;
  FeedLive(ring, a, {{0, kPowerOn}});  // before the trigger was set: not looked at
  trigger.StartAt(ring.End(), a.EndEvent());
  FeedLive(ring, a, {{1, Bytes({0x41})}, {1.01, kTurnout}, {2, kPowerOff}, {3, kPowerOff}});
  std::vector<TTrigger::THit> hits;
  trigger.Scan(ring, a, hits);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].Seq, 2u);
  EXPECT_EQ(hits[0].Text, "Vzor „vyhybka 2“: 4A 41 00 0B ");
  EXPECT_EQ(hits[1].Seq, 3u);
  EXPECT_EQ(hits[1].Text, "Napájení: zapnuto → $81 (zapnuto trvalo 2.0 s)");
  hits.clear();
  trigger.Scan(ring, a, hits);
  EXPECT_TRUE(hits.empty()) << "nothing new, nothing found";
  // The hex text matches too.
  FeedLive(ring, a, {{4, Bytes({0x41})}, {4.01, kTurnout}});
  s.TriggerEvents.clear();
  s.TriggerPattern = "4a 41";
  TTrigger hex(s, 16);
  hex.StartAt(0, a.EndEvent());
  hex.Scan(ring, a, hits);
  EXPECT_EQ(hits.size(), 2u);
}

TEST(Trigger, SettingsNamesAndArming) {
  std::string unknown;
  EXPECT_EQ(TriggerActionsFromNames("record-start,beep,mark", &unknown),
            uint32_t{taRecordStart | taMark});
  EXPECT_EQ(unknown, "beep");
  EXPECT_EQ(TriggerActionNames(taPause | taRecordStop), "pause,record-stop");
  TAnalysisSettings s;
  EXPECT_FALSE(TTrigger(s, 16).Armed()) << "nothing to look for";
  s.TriggerEvents = "gap";
  EXPECT_FALSE(TTrigger(s, 16).Armed()) << "nothing to do";
  s.TriggerBeep = true;
  EXPECT_TRUE(TTrigger(s, 16).Armed());
  s.SilenceLimit = 12;
  s.LoadLimit = 90;
  s.BurstBytes = 4;
  const TEventLimits limits = EventLimitsFrom(s);
  EXPECT_EQ(limits.SilenceUs, 12000000);
  EXPECT_EQ(limits.LoadPercent, 90);
  EXPECT_EQ(limits.BurstBytes, 4);
}

TEST(Trigger, SettingsFromTheFileWithDefaultsForWhatIsUnusable) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("vantrel-trig-" + std::to_string(getpid()) + ".ini"))
                               .string();
  std::ofstream(path) << "[Monitor]\nSilenceLimit=0\nLoadLimit=95\nBurstBytes=x\n"
                         "TriggerEvents=load,gap\nTriggerActions=record-start\nTriggerNotify=1\n";
  SetSettingsFileName(path);
  LoadAnalysisSettings();
  const TAnalysisSettings& s = MonitorSettings.Analysis;
  EXPECT_EQ(s.SilenceLimit, 5) << "a silence of no length: the default";
  EXPECT_EQ(s.LoadLimit, 95);
  EXPECT_EQ(s.BurstBytes, 16);
  EXPECT_EQ(EventKindsFromNames(s.TriggerEvents),
            EventBit(TEventKind::ekLoad) | EventBit(TEventKind::ekGap));
  EXPECT_EQ(TriggerActionsFromNames(s.TriggerActions), uint32_t{taRecordStart});
  EXPECT_TRUE(s.TriggerNotify);
  EXPECT_FALSE(s.TriggerBeep);
  EXPECT_TRUE(s.Analyser);
  SetSettingsFileName("");
  MonitorSettings.Analysis = {};
  std::filesystem::remove(path);
}
