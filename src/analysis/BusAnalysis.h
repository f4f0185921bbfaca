// TBusAnalysis: the per-device statistics and the events of one stretch of
// bus traffic, fed together one item at a time.  The live session feeds it
// every item it takes; AnalyseSpan runs it over items of a traffic history
// (an opened capture, a selected span), and vantrel-dump over what it reads.
// No Qt.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string_view>

#include "analysis/BusEvents.h"
#include "analysis/DeviceStats.h"
#include "traffic/TrafficSource.h"

class TBusAnalysis {
public:
  // Events kept at most; older ones go (a flapping device must not eat memory).
  static constexpr std::size_t kEventLimit = 100000;

  explicit TBusAnalysis(const TEventLimits& limits = {}) : FDetector(limits) {}

  // One item numbered seq; device: the one called before it (1-31, 0 none).
  void Take(uint64_t seq, const TBusItem& item, int device, int64_t timeUs,
            std::string_view bytes) {
    if (item.Kind == TItemKind::ikCallByte) FCalled = item.Address;
    FStats.Take(seq, item, device, timeUs, bytes.size());
    FDetector.Take(seq, item, device, timeUs, bytes, FEvents);
    if (FEvents.size() > kEventLimit) DropEvents();
  }
  // The same, with the called device followed here (a reader without a
  // traffic history, such as vantrel-dump).
  void Take(uint64_t seq, const TBusItem& item, int64_t timeUs, std::string_view bytes) {
    const int device = item.Kind == TItemKind::ikCallByte ? item.Address : FCalled;
    Take(seq, item, device, timeUs, bytes);
  }
  // The line was down from fromUs to toUs before item nextSeq.
  void Gap(uint64_t nextSeq, int64_t fromUs, int64_t toUs) {
    FDetector.Gap(nextSeq, fromUs, toUs, FEvents);
  }
  // The clock moved on without items.
  void Tick(int64_t nowUs) { FDetector.Tick(nowUs, FEvents); }

  // Starts afresh with other limits.
  void Reset(const TEventLimits& limits);

  const TDeviceStats& Stats() const noexcept { return FStats; }
  const TEventLimits& Limits() const noexcept { return FDetector.Limits(); }
  // Events are numbered from 0 as found; those below FirstEvent() were dropped.
  uint64_t FirstEvent() const noexcept { return FDroppedEvents; }
  uint64_t EndEvent() const noexcept { return FDroppedEvents + FEvents.size(); }
  const TBusEvent& Event(uint64_t n) const noexcept {
    return FEvents[static_cast<std::size_t>(n - FDroppedEvents)];
  }

private:
  void DropEvents();

  TDeviceStats FStats;
  TEventDetector FDetector;
  std::deque<TBusEvent> FEvents;
  uint64_t FDroppedEvents = 0;
  int FCalled = 0;
};

// Feeds the items [from, to) of source (clipped to what it holds), with the
// gaps it knows between them, into analysis.  Another thread may set
// *cancel: the work then stops soon and the result is false.
bool AnalyseSpan(const TTrafficSource& source, uint64_t from, uint64_t to, TBusAnalysis& analysis,
                 const std::atomic<bool>* cancel = nullptr);
