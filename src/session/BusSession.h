// TBusSession: the live bus as the monitor keeps it.  Every item taken from
// the message queue goes in here once, classified once, and feeds the
// traffic history (the ring), the state snapshots, the series and the
// present bus state together, so that the four stay in step by construction.
//
//   TBusSession session;
//   session.Traffic().BeginSession(WallClockUs());    // a connection begins
//   const TBusItem kind = session.Take(timeUs, bytes);  // each drained item
//   draw(session.Present());                            // the grid, the panel
//   session.StateAfter(seq, state);                     // a row's moment
//
// One thread (the window's); no Qt.
#pragma once

#include <cstdint>
#include <string_view>

#include "analysis/BusAnalysis.h"
#include "bus/BusItem.h"
#include "series/SeriesStore.h"
#include "traffic/BusState.h"
#include "traffic/TrafficRing.h"

class TBusSession {
public:
  TBusSession();
  TBusSession(const TBusSession&) = delete;
  TBusSession& operator=(const TBusSession&) = delete;

  // One item received at timeUs; its kind, for the caller's own routing.
  // Empty items are classified (ikNone) but kept nowhere.
  TBusItem Take(int64_t timeUs, std::string_view bytes);

  TTrafficRing& Traffic() noexcept { return FTraffic; }
  const TTrafficRing& Traffic() const noexcept { return FTraffic; }
  TSeriesStore& Series() noexcept { return FSeries; }
  const TSeriesStore& Series() const noexcept { return FSeries; }
  // Per-device statistics and events of every item taken.
  TBusAnalysis& Analysis() noexcept { return FAnalysis; }
  const TBusAnalysis& Analysis() const noexcept { return FAnalysis; }
  // Off: items no longer reach the analysis (a slow machine; measuring).
  void SetAnalysing(bool on) noexcept { FAnalysing = on; }
  bool Analysing() const noexcept { return FAnalysing; }
  // The bus after every item taken.
  const TBusState& Present() const noexcept { return FStates.Present(); }
  // The bus right after item seq; false when it is no longer known (the
  // items it needs left the ring).
  bool StateAfter(uint64_t seq, TBusState& state) const {
    return FStates.StateAfter(FTraffic, seq, state);
  }

private:
  TTrafficRing FTraffic;
  TSeriesStore FSeries;
  TStateHistory FStates;
  TBusAnalysis FAnalysis;
  bool FAnalysing = true;
};
