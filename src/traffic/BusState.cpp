// TBusState and TStateHistory: the bus at any item of a history.
#include "traffic/BusState.h"

#include <algorithm>

void TBusState::Apply(const TBusItem& kind, std::string_view item) {
  switch (kind.Kind) {
    case TItemKind::ikCallByte:
      Called = static_cast<uint8_t>(item[0]) & 0x1F;
      if (Called >= 1 && Called <= kDevices) Active[Called] = kind.Active;
      return;
    case TItemKind::ikCentralPower:
      Power.assign(item);
      return;
    case TItemKind::ikCentralStatus:
      Status.assign(item);
      // A maximum current of 0 leaves the load label as it was.
      if ((static_cast<uint8_t>(item[2]) & 0x0F) != 0) Load.assign(item);
      return;
    case TItemKind::ikDevice:
    case TItemKind::ikUnrecognised:
      Device.assign(item);
      if (Called >= 1 && Called <= kDevices) Last[Called].assign(item);
      return;
    case TItemKind::ikNone:
    case TItemKind::ikIdle:
    case TItemKind::ikLoneByte:
    case TItemKind::ikCentralOther:
      return;  // nothing the grid or the status panel shows
  }
}

TStateHistory::TStateHistory(uint64_t interval) : FInterval(std::max<uint64_t>(interval, 1)) {
  Reset(0);
}

void TStateHistory::Reset(uint64_t first) {
  FEnd = first;
  FPresent = TBusState();
  FSnapshots.clear();
  FSnapshots.push_back({first, FPresent});
}

void TStateHistory::Add(const TBusItem& kind, std::string_view item) {
  if (FEnd % FInterval == 0 && FSnapshots.back().Seq != FEnd)
    FSnapshots.push_back({FEnd, FPresent});
  FPresent.Apply(kind, item);
  ++FEnd;
}

bool TStateHistory::StateAfter(const TTrafficSource& source, uint64_t seq, TBusState& state) const {
  if (seq >= FEnd || !source.Holds(seq)) return false;
  auto it = std::upper_bound(FSnapshots.begin(), FSnapshots.end(), seq,
                             [](uint64_t s, const TSnapshot& snap) { return s < snap.Seq; });
  if (it == FSnapshots.begin()) return false;
  const TSnapshot& from = *std::prev(it);
  if (!source.Holds(from.Seq)) return false;
  state = from.State;
  for (uint64_t s = from.Seq; s <= seq; ++s) state.Apply(source.Bytes(s));
  return true;
}

void TStateHistory::DropBefore(uint64_t first) {
  // The newest snapshot always stays: items still to come build on it.
  while (FSnapshots.size() > 1 && FSnapshots.front().Seq < first) FSnapshots.pop_front();
}
