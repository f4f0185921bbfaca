// Items with their times, fed to an analysis the live way (one by one) or
// kept in a history and analysed over a span.
#pragma once

#include <string>
#include <vector>

#include "analysis/BusAnalysis.h"
#include "traffic/TrafficArchive.h"
#include "traffic/TrafficRing.h"

struct TTimedItem {
  double Seconds;
  std::string Bytes;
};

inline int64_t Us(double seconds) { return static_cast<int64_t>(seconds * 1e6 + 0.5); }

// As the session does: the ring attributes, the analysis takes.
inline void FeedLive(TTrafficRing& ring, TBusAnalysis& analysis,
                     const std::vector<TTimedItem>& items) {
  for (const auto& i : items) {
    const uint64_t seq = ring.End();
    const TBusItem kind = ClassifyItem(i.Bytes);
    ring.Append(kind, Us(i.Seconds), i.Bytes);
    analysis.Take(seq, kind, ring.Device(seq), Us(i.Seconds), i.Bytes);
  }
}

inline void FillArchive(TTrafficArchive& archive, const std::vector<TTimedItem>& items) {
  archive.BeginSession(items.empty() ? 0 : Us(items.front().Seconds));
  for (const auto& i : items) archive.Append(Us(i.Seconds), i.Bytes);
  archive.Finish();
}
