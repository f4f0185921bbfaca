// Triggers: events of chosen kinds and items matching a pattern.
#include "analysis/Trigger.h"

#include <algorithm>

#include "bus/uVantrelSeq.h"

namespace {
constexpr const char* kActionNames[] = {"pause", "record-start", "record-stop", "mark"};
constexpr int kActions = 4;
}  // namespace

uint32_t TriggerActionsFromNames(std::string_view names, std::string* unknown) {
  return BitsFromNames(names, kActionNames, kActions, unknown);
}

std::string TriggerActionNames(uint32_t actions) {
  return NamesOfBits(actions, kActionNames, kActions);
}

TEventLimits EventLimitsFrom(const TAnalysisSettings& s) {
  TEventLimits limits;
  limits.SilenceUs = int64_t{std::max(1, s.SilenceLimit)} * 1000000;
  limits.LoadPercent = std::max(1, s.LoadLimit);
  limits.BurstBytes = std::max(1, s.BurstBytes);
  return limits;
}

TTrigger::TTrigger(const TAnalysisSettings& s, int maxLoko)
    : FEvents(EventKindsFromNames(s.TriggerEvents)),
      FActions(TriggerActionsFromNames(s.TriggerActions)),
      FBeep(s.TriggerBeep),
      FNotify(s.TriggerNotify),
      FMatcher(s.TriggerPattern, maxLoko),
      FPattern(s.TriggerPattern) {}

void TTrigger::Scan(const TTrafficSource& source, const TBusAnalysis& analysis,
                    std::vector<THit>& hits, std::string_view decimalSep) {
  const std::size_t first = hits.size();
  FNextEvent = std::max(FNextEvent, analysis.FirstEvent());
  for (; FNextEvent < analysis.EndEvent(); ++FNextEvent) {
    const TBusEvent& e = analysis.Event(FNextEvent);
    if (FEvents & EventBit(e.Kind)) hits.push_back({e.Seq, e.TimeUs, EventText(e, decimalSep)});
  }
  if (!FMatcher.Empty()) {
    FNextSeq = std::max(FNextSeq, source.First());
    for (; FNextSeq < source.End(); ++FNextSeq) {
      const std::string_view bytes = source.Bytes(FNextSeq);
      if (FMatcher.Matches(bytes))
        hits.push_back(
            {FNextSeq, source.TimeUs(FNextSeq), "Vzor „" + FPattern + "“: " + MessageToHex(bytes)});
    }
  } else {
    FNextSeq = source.End();
  }
  std::stable_sort(hits.begin() + static_cast<std::ptrdiff_t>(first), hits.end(),
                   [](const THit& a, const THit& b) { return a.Seq < b.Seq; });
}
