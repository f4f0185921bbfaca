// TBusSession: one item in, every store of the live bus fed.
#include "session/BusSession.h"

TBusSession::TBusSession() { FStates.Reset(FTraffic.End()); }

TBusItem TBusSession::Take(int64_t timeUs, std::string_view bytes) {
  const TBusItem kind = ClassifyItem(bytes);
  if (bytes.empty()) return kind;  // the ring takes none either: the numbers stay in step
  const uint64_t seq = FTraffic.End();
  FTraffic.Append(kind, timeUs, bytes);
  if (FAnalysing) FAnalysis.Take(seq, kind, FTraffic.Device(seq), timeUs, bytes);
  FSeries.Add(kind, bytes, timeUs);
  FStates.Add(kind, bytes);
  // Snapshots the ring can no longer replay from are dropped now and then.
  if (FStates.End() % TStateHistory::kDefaultInterval == 0) FStates.DropBefore(FTraffic.First());
  return kind;
}
