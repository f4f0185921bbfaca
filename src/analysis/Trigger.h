// TTrigger: what the user asked to be told of, looked for in what came since
// the last look: events of chosen kinds, and items whose hex or text holds a
// pattern.  The window acts on the hits (pause the traffic view, start or
// stop a recording, mark, beep, a notification).  No Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/BusAnalysis.h"
#include "config/Settings.h"
#include "traffic/TrafficFilter.h"

enum TTriggerAction : uint32_t {
  taPause = 1,        // "pause": the traffic view stops taking rows
  taRecordStart = 2,  // "record-start"
  taRecordStop = 4,   // "record-stop"
  taMark = 8,         // "mark"
};

// Action names joined by "," as bits; unknown names go to unknown.
uint32_t TriggerActionsFromNames(std::string_view names, std::string* unknown = nullptr);
std::string TriggerActionNames(uint32_t actions);

// The event limits the settings ask for.
TEventLimits EventLimitsFrom(const TAnalysisSettings& settings);

class TTrigger {
public:
  struct THit {
    uint64_t Seq = 0;  // the item (traffic row)
    int64_t TimeUs = 0;
    std::string Text;  // what fired it, in Czech
  };

  TTrigger() = default;
  TTrigger(const TAnalysisSettings& settings, int maxLoko);

  uint32_t Events() const noexcept { return FEvents; }
  uint32_t Actions() const noexcept { return FActions; }
  bool Beep() const noexcept { return FBeep; }
  bool Notify() const noexcept { return FNotify; }
  // Something to look for, and something to do when it is found.
  bool Armed() const noexcept {
    return (FEvents != 0 || !FMatcher.Empty()) && (FActions != 0 || FBeep || FNotify);
  }
  bool HasPattern() const noexcept { return !FMatcher.Empty(); }

  // Starts looking at item fromSeq and event fromEvent (what came before
  // is not looked at).
  void StartAt(uint64_t fromSeq, uint64_t fromEvent) noexcept {
    FNextSeq = fromSeq;
    FNextEvent = fromEvent;
  }
  // Appends the hits among the items and events that came since the last
  // look, in order of their items.
  void Scan(const TTrafficSource& source, const TBusAnalysis& analysis, std::vector<THit>& hits,
            std::string_view decimalSep = ".");

private:
  uint32_t FEvents = 0;
  uint32_t FActions = 0;
  bool FBeep = false, FNotify = false;
  TTrafficMatcher FMatcher{"", 0};
  std::string FPattern;
  uint64_t FNextSeq = 0, FNextEvent = 0;
};
