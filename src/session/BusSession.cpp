// TBusSession: one item in, every store of the live bus fed.
#include "session/BusSession.h"

TBusSession::TBusSession() { FStates.Reset(FTraffic.End()); }

TBusSession::~TBusSession() = default;

void TBusSession::AttachStore(std::unique_ptr<TSessionStore> store) {
  FStore = std::move(store);
  // The store numbers its items from 0: the ring, still empty, goes along.
  if (FStore && FTraffic.End() != FStore->End()) FStore.reset();
}

void TBusSession::BeginSession(int64_t startUs) {
  FTraffic.BeginSession(startUs);
  if (FStore) FStore->BeginSession(startUs);
}

void TBusSession::MarkGap(int64_t fromUs, int64_t toUs) {
  FTraffic.MarkGap(fromUs, toUs);
  if (FStore) FStore->MarkGap(fromUs, toUs);
}

TBusItem TBusSession::Take(int64_t timeUs, std::string_view bytes) {
  const TBusItem kind = ClassifyItem(bytes);
  if (bytes.empty()) return kind;  // the ring takes none either: the numbers stay in step
  FTraffic.Append(kind, timeUs, bytes);
  if (FStore) FStore->Append(kind, timeUs, bytes);
  FSeries.Add(kind, bytes, timeUs);
  FStates.Add(kind, bytes);
  // Snapshots the history can no longer replay from are dropped now and then.
  if (FStates.End() % TStateHistory::kDefaultInterval == 0) FStates.DropBefore(History().First());
  return kind;
}
