// The statistics and events of a stretch of traffic.
#include "analysis/BusAnalysis.h"

#include <algorithm>

void TBusAnalysis::Reset(const TEventLimits& limits) {
  FStats.Clear();
  FDetector = TEventDetector(limits);
  FEvents.clear();
  FDroppedEvents = 0;
  FCalled = 0;
}

void TBusAnalysis::DropEvents() {
  // A tenth at a time, so that a steady flood costs no shift per event.
  const std::size_t drop = kEventLimit / 10;
  FEvents.erase(FEvents.begin(), FEvents.begin() + static_cast<std::ptrdiff_t>(drop));
  FDroppedEvents += drop;
}

void AnalyseSpan(const TTrafficSource& source, uint64_t from, uint64_t to, TBusAnalysis& analysis) {
  from = std::max(from, source.First());
  to = std::min(to, source.End());
  uint64_t seq = from;
  while (seq < to) {
    // Items of one read share its time, and a gap lies only before the
    // first item of a read: both are asked once per read.
    const uint64_t runEnd = std::min(to, source.SameTimeEnd(seq));
    const int64_t timeUs = source.TimeUs(seq);
    if (seq > from) {
      // A reconnect the source marked, or a new connection (an opened
      // capture keeps its reconnects so): the line was not read between.
      if (const TTrafficGap* gap = source.GapWithin(seq, seq); gap && gap->Seq == seq)
        analysis.Gap(seq, gap->FromUs, gap->ToUs);
      else if (const int64_t start = source.SessionStart(seq);
               start != source.SessionStart(seq - 1))
        analysis.Gap(seq, source.TimeUs(seq - 1), std::max(start, source.TimeUs(seq - 1)));
    }
    for (; seq < runEnd; ++seq) {
      const std::string_view bytes = source.Bytes(seq);
      const TItemKind kind = source.Kind(seq);
      TBusItem item;
      item.Kind = kind;
      // Only calls and power messages carry more than their kind; the rest
      // need not be classified again.
      if (kind == TItemKind::ikCallByte || kind == TItemKind::ikCentralPower)
        item = ClassifyItem(bytes);
      analysis.Take(seq, item, source.Device(seq), timeUs, bytes);
    }
  }
}
