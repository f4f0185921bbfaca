// vantrel-dump's --stats and --events: the window's statistics and events
// (analysis/) over the items the dump takes, as text among its lines.
//
//   @ 14:03:05.123 power Napájení: zapnuto → $81 (zapnuto trvalo 12.5 s)
//
// is one event (local time of day, the kind's name, the window's text); the
// statistics table comes at the end, or every N seconds of the items' time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "DumpFormat.h"
#include "analysis/BusAnalysis.h"
#include "analysis/StatsTable.h"

class TDumpAnalysis {
public:
  // statsEverySeconds: 0 at the end only, -1 none.
  TDumpAnalysis(const TEventLimits& limits, bool events, double statsEverySeconds)
      : FAnalysis(limits),
        FEvents(events),
        FStatsEveryUs(static_cast<int64_t>(statsEverySeconds * 1e6)) {}

  bool Active() const { return FEvents || FStatsEveryUs >= 0; }
  bool Periodic() const { return FStatsEveryUs > 0; }
  const TBusAnalysis& Analysis() const { return FAnalysis; }

  // One item at timeUs; its events (and a table that is due) go to out.
  void Take(std::string_view item, int64_t timeUs, std::string& out) {
    FAnalysis.Take(FSeq++, ClassifyItem(item), timeUs, item);
    Emit(timeUs, out);
  }
  // The line was down from fromUs to toUs before the next item.
  void Gap(int64_t fromUs, int64_t toUs, std::string& out) {
    FAnalysis.Gap(FSeq, fromUs, toUs);
    Emit(toUs, out);
  }
  // The clock moved on without items (a quiet port).
  void Tick(int64_t nowUs, std::string& out) {
    if (FSeq == 0) return;  // nothing heard yet: nothing can fall silent
    FAnalysis.Tick(nowUs);
    Emit(nowUs, out);
  }
  // Microseconds until the next periodic table is due at nowUs (-1: none).
  int64_t UsUntilTable(int64_t nowUs) const {
    if (!Periodic() || FNextTableUs == 0) return -1;
    return FNextTableUs > nowUs ? FNextTableUs - nowUs : 0;
  }
  // The table at the end of the run.
  void Finish(int64_t nowUs, std::string& out) {
    if (FStatsEveryUs < 0) return;
    Table(FSeq == 0 ? nowUs : std::max(nowUs, FAnalysis.Stats().EndUs()), out);
  }

private:
  void Emit(int64_t nowUs, std::string& out) {
    if (FEvents)
      for (; FNextEvent < FAnalysis.EndEvent(); ++FNextEvent) {
        const TBusEvent& e = FAnalysis.Event(FNextEvent);
        out += "@ ";
        AppendLocalTimePrefix(out, e.TimeUs);
        out += EventKindName(e.Kind);
        out.push_back(' ');
        out += EventText(e);
        out.push_back('\n');
      }
    if (Periodic()) {
      if (FNextTableUs == 0) FNextTableUs = nowUs + FStatsEveryUs;
      if (nowUs >= FNextTableUs) {
        Table(nowUs, out);
        // A clock that jumped far ahead gives one table, not one per period.
        FNextTableUs += FStatsEveryUs * ((nowUs - FNextTableUs) / FStatsEveryUs + 1);
      }
    }
  }
  void Table(int64_t nowUs, std::string& out) {
    out += "# statistika ";
    AppendLocalTimePrefix(out, nowUs);
    out.back() = '\n';
    out += StatsTableText(FAnalysis.Stats(),
                          FAnalysis.Stats().Rows(nowUs, FAnalysis.Limits().SilenceUs));
  }

  TBusAnalysis FAnalysis;
  bool FEvents;
  int64_t FStatsEveryUs;
  uint64_t FSeq = 0;
  uint64_t FNextEvent = 0;
  int64_t FNextTableUs = 0;
};
