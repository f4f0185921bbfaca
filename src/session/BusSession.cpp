// TBusSession: one item in, every store of the live bus fed.
#include "session/BusSession.h"

TBusSession::TBusSession()
    : FSeries(std::make_unique<TSeriesStore>()), FStates(std::make_unique<TStateHistory>()) {
  FStates->Reset(FTraffic.End());
}

TBusSession::TBusSession(std::unique_ptr<TTrafficSource> history,
                         std::unique_ptr<TSeriesStore> series,
                         std::unique_ptr<TStateHistory> states)
    : FOpened(std::move(history)), FSeries(std::move(series)), FStates(std::move(states)) {
  if (!FSeries) FSeries = std::make_unique<TSeriesStore>();
  if (!FStates) FStates = std::make_unique<TStateHistory>();
}

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
  // The ring takes none either: the numbers stay in step.
  if (bytes.empty() || FOpened) return kind;
  const uint64_t seq = FTraffic.End();
  FTraffic.Append(kind, timeUs, bytes);
  if (FStore) FStore->Append(kind, timeUs, bytes);
  if (FAnalysing) FAnalysis.Take(seq, kind, FTraffic.Device(seq), timeUs, bytes);
  FSeries->Add(kind, bytes, timeUs);
  FStates->Add(kind, bytes);
  // Snapshots the history can no longer replay from are dropped now and then.
  if (FStates->End() % TStateHistory::kDefaultInterval == 0) FStates->DropBefore(History().First());
  return kind;
}
