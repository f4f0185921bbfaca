// The statistics and events of a stretch of traffic.
#include "analysis/BusAnalysis.h"

#include <algorithm>
#include <vector>

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

bool AnalyseSpan(const TTrafficSource& source, uint64_t from, uint64_t to, TBusAnalysis& analysis,
                 const std::atomic<bool>* cancel) {
  from = std::max(from, source.First());
  to = std::min(to, source.End());
  // Items come a block at a time (an opened capture keeps a time per item and
  // finds one by halving); a reconnect or a new connection is looked for
  // only where the clock moved on by kBoundaryUs, as it does across any.
  constexpr std::size_t kBlock = 4096;
  constexpr int64_t kBoundaryUs = 1000;
  std::vector<TTrafficSource::TItemView> items(kBlock);
  int64_t previousUs = 0;
  for (uint64_t block = from; block < to; block += kBlock) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return false;
    const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(kBlock, to - block));
    source.Items(block, count, items.data());
    for (std::size_t i = 0; i < count; ++i) {
      const uint64_t seq = block + i;
      const TTrafficSource::TItemView& v = items[i];
      const int64_t timeUs = v.TimeUs;
      if (seq > from && timeUs - previousUs >= kBoundaryUs) {
        if (const TTrafficGap* gap = source.GapWithin(seq, seq); gap && gap->Seq == seq)
          analysis.Gap(seq, gap->FromUs, gap->ToUs);
        else if (const int64_t start = source.SessionStart(seq);
                 start != source.SessionStart(seq - 1))
          analysis.Gap(seq, previousUs, std::max(start, previousUs));
      }
      previousUs = timeUs;
      const std::string_view bytes = v.Bytes;
      const TItemKind kind = v.Kind;
      TBusItem item;
      item.Kind = kind;
      // Only calls and power messages carry more than their kind; the rest
      // need not be classified again.
      if (kind == TItemKind::ikCallByte || kind == TItemKind::ikCentralPower)
        item = ClassifyItem(bytes);
      analysis.Take(seq, item, v.Device, timeUs, bytes);
    }
  }
  return true;
}
