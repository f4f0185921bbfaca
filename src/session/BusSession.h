// TBusSession: the live bus as the monitor keeps it.  Every item taken from
// the message queue goes in here once, classified once, and feeds the
// traffic history, the state snapshots, the series and the present bus
// state together, so that the four stay in step by construction.
//
// The history is the ring in memory, and, once a session store is attached,
// also the store on disk, which then reaches back to the session's start:
// History() is what the views read.  Should the store fail (a full disk) the
// ring goes on alone.  An opened capture is a session too, one whose history,
// series and states were read from a file whole: it takes no items.
//
//   TBusSession session;
//   session.AttachStore(std::move(store));              // optional
//   session.BeginSession(WallClockUs());                // a connection begins
//   const TBusItem kind = session.Take(timeUs, bytes);  // each drained item
//   draw(session.Present());                            // the grid, the panel
//   session.StateAfter(seq, state);                     // a row's moment
//
// One thread (the window's); no Qt.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "analysis/BusAnalysis.h"
#include "bus/BusItem.h"
#include "series/SeriesStore.h"
#include "session/SessionStore.h"
#include "traffic/BusState.h"
#include "traffic/TrafficRing.h"

class TBusSession {
public:
  TBusSession();
  // An opened capture: its history as read, and the series and the states
  // built on the way.
  TBusSession(std::unique_ptr<TTrafficSource> history, std::unique_ptr<TSeriesStore> series,
              std::unique_ptr<TStateHistory> states);
  ~TBusSession();
  bool Opened() const noexcept { return FOpened != nullptr; }
  TBusSession(const TBusSession&) = delete;
  TBusSession& operator=(const TBusSession&) = delete;

  // From now on every item goes to store too (an open, writable one, given
  // before the first item).
  void AttachStore(std::unique_ptr<TSessionStore> store);
  TSessionStore* Store() noexcept { return FStore.get(); }
  const TSessionStore* Store() const noexcept { return FStore.get(); }
  // An opened capture's history; the store, while it works; else the ring.
  const TTrafficSource& History() const noexcept {
    if (FOpened) return *FOpened;
    return FStore && !FStore->Failed() ? static_cast<const TTrafficSource&>(*FStore) : FTraffic;
  }

  // A connection began at startUs; the line was down from fromUs to toUs
  // before the next item.
  void BeginSession(int64_t startUs);
  void MarkGap(int64_t fromUs, int64_t toUs);

  // One item received at timeUs; its kind, for the caller's own routing.
  // Empty items, and any item of an opened capture, are classified but kept
  // nowhere.
  TBusItem Take(int64_t timeUs, std::string_view bytes);
  // Writes what the store holds back once due (call it now and then).
  void FlushIfDue(int64_t nowUs) {
    if (FStore) FStore->FlushIfDue(nowUs);
  }

  TTrafficRing& Traffic() noexcept { return FTraffic; }
  const TTrafficRing& Traffic() const noexcept { return FTraffic; }
  TSeriesStore& Series() noexcept { return *FSeries; }
  const TSeriesStore& Series() const noexcept { return *FSeries; }
  // Per-device statistics and events of every item taken.
  TBusAnalysis& Analysis() noexcept { return FAnalysis; }
  const TBusAnalysis& Analysis() const noexcept { return FAnalysis; }
  // Off: items no longer reach the analysis (a slow machine; measuring).
  void SetAnalysing(bool on) noexcept { FAnalysing = on; }
  bool Analysing() const noexcept { return FAnalysing; }
  // The bus after every item taken.
  const TBusState& Present() const noexcept { return FStates->Present(); }
  // The bus right after item seq; false when it is no longer known (the
  // items it needs left the history).
  bool StateAfter(uint64_t seq, TBusState& state) const {
    return FStates->StateAfter(History(), seq, state);
  }
  std::size_t StateSnapshots() const noexcept { return FStates->Snapshots(); }

private:
  TTrafficRing FTraffic;
  std::unique_ptr<TSessionStore> FStore;
  std::unique_ptr<TTrafficSource> FOpened;
  std::unique_ptr<TSeriesStore> FSeries;
  std::unique_ptr<TStateHistory> FStates;
  TBusAnalysis FAnalysis;
  bool FAnalysing = true;
};
