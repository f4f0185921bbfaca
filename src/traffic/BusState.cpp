// TBusState and TStateHistory: the bus at any item of a history.
#include "traffic/BusState.h"

#include <algorithm>

#include "base/BinaryCodec.h"

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

namespace {

void PutState(std::string& out, const TBusState& state) {
  uint32_t active = 0;
  for (int d = 0; d <= TBusState::kDevices; ++d)
    if (state.Active[static_cast<std::size_t>(d)]) active |= 1u << d;
  PutU32(out, active);
  PutU32(out, static_cast<uint32_t>(state.Called));
  for (const ByteString& last : state.Last) PutText(out, last);
  for (const ByteString* s : {&state.Status, &state.Load, &state.Power, &state.Device})
    PutText(out, *s);
}

void GetState(TByteReader& in, TBusState& state) {
  const uint32_t active = in.U32();
  for (int d = 0; d <= TBusState::kDevices; ++d)
    state.Active[static_cast<std::size_t>(d)] = (active & (1u << d)) != 0;
  state.Called = static_cast<int>(in.U32() & 0x1F);
  for (ByteString& last : state.Last) last = in.Text();
  for (ByteString* s : {&state.Status, &state.Load, &state.Power, &state.Device}) *s = in.Text();
}

}  // namespace

void TStateHistory::Save(std::string& out) const {
  PutU64(out, FInterval);
  PutU64(out, FEnd);
  PutState(out, FPresent);
  PutU64(out, FSnapshots.size());
  for (const TSnapshot& snap : FSnapshots) {
    PutU64(out, snap.Seq);
    PutState(out, snap.State);
  }
}

bool TStateHistory::Load(std::string_view in) {
  TByteReader r(in);
  const uint64_t interval = r.U64();
  const uint64_t end = r.U64();
  TBusState present;
  GetState(r, present);
  const uint64_t count = r.U64();
  std::deque<TSnapshot> snapshots;
  uint64_t before = 0;
  // Each snapshot takes more than 8 bytes: a count beyond that is damage.
  for (uint64_t i = 0; r.Ok() && i < count && i <= in.size() / 8; ++i) {
    TSnapshot snap{r.U64(), {}};
    GetState(r, snap.State);
    // StateAfter searches them by number: in order, none past the end.
    if (snap.Seq < before || snap.Seq > end) return false;
    before = snap.Seq;
    snapshots.push_back(std::move(snap));
  }
  if (!r.Ok() || !r.AtEnd() || interval == 0 || snapshots.size() != count || snapshots.empty())
    return false;
  FInterval = interval;
  FEnd = end;
  FPresent = std::move(present);
  FSnapshots = std::move(snapshots);
  return true;
}
