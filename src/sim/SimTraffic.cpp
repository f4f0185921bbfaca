// The byte stream of a simulated central.
#include "sim/SimTraffic.h"

#include "bus/RawFraming.h"

namespace {

ByteString Bytes(std::initializer_list<unsigned> list) {
  ByteString s;
  for (unsigned b : list) s.push_back(static_cast<char>(b & 0xFF));
  return s;
}

// The address part of a turnout or contact message: address in bits 15-2.
ByteString Accessory(uint8_t kind, unsigned address, bool first, bool second) {
  const unsigned w = address << 2 | (second ? 2u : 0u) | (first ? 1u : 0u);
  ByteString m = Bytes({kind, 0, w >> 8, w});
  SetCheckByte(m);
  return m;
}

}  // namespace

TSimTraffic::TSimTraffic(uint64_t seed) : FRandom(seed) {
  // A layout of a few handsets, turnout decoders and feedback modules; the
  // rest of the addresses are empty slots that the central polls anyway.
  for (int a = 1; a <= 31; ++a) {
    const uint32_t r = FRandom.Below(10);
    FDevices[a].Role = r < 2 ? rlLoco : r < 4 ? rlTurnout : r < 6 ? rlContact : rlNone;
    FDevices[a].Active = FDevices[a].Role != rlNone && FRandom.Chance(0.6);
  }
  FDevices[1] = {rlLoco, true};  // the central's own handset is always there
  const int locos = 2 + static_cast<int>(FRandom.Below(4));
  for (int i = 0; i < locos; ++i) {
    TLoco l;
    l.Address = static_cast<uint16_t>(i == 0 ? 3 : 1 + FRandom.Below(i == locos - 1 ? 10239 : 99));
    l.Forward = FRandom.Chance(0.5);
    FLocos.push_back(l);
  }
  FTypeCode = FRandom.Chance(0.5) ? 8 : 12;
  FMaxCurrent = FTypeCode == 8 ? 4 : 12;
  FFreeLoco = 16 - locos;
}

ByteString TSimTraffic::NextItem() {
  while (FReady.empty()) PollNextAddress();
  ByteString item = std::move(FReady.front());
  FReady.pop_front();
  return item;
}

bool TSimTraffic::TryPush(const ByteString& item) {
  ByteString s;
  for (const auto& r : FRecent) s += r;
  s += item;
  const auto framed = FrameCapture(s);
  if (framed.size() != FRecent.size() + 1 || framed.back() != item) return false;
  for (std::size_t i = 0; i < FRecent.size(); ++i)
    if (framed[i] != FRecent[i]) return false;

  FReady.push_back(item);
  FRecent.push_back(item);
  // Keep the items that a later candidate message could still reach into:
  // the longest such candidate is 4 bytes.
  std::size_t total = 0;
  for (const auto& r : FRecent) total += r.size();
  while (FRecent.size() > 1 && total - FRecent.front().size() >= 4) {
    total -= FRecent.front().size();
    FRecent.pop_front();
  }
  return true;
}

void TSimTraffic::PollNextAddress() {
  const int a = FNextAddress;
  FNextAddress = a == 31 ? 1 : a + 1;
  const TDevice& dev = FDevices[a];
  // A call that would merge with what precedes it into another message is
  // left out this round, as if the central had skipped the slot.
  if (TryPush(ByteString(1, static_cast<char>(CallByteFor(a, dev.Active))))) {
    if (dev.Active && dev.Role != rlNone && FRandom.Chance(0.35)) {
      for (int tries = 0; tries < 8 && !TryPush(DeviceMessage(dev)); ++tries) {}
    }
  }
  if (a == 31) EndOfPollRound();
  if (FReady.empty() && FNextAddress == 1) {
    // Every call of a round was refused (cannot really happen, but never
    // return without an item): a lone idle byte always frames alone.
    FReady.push_back(ByteString(1, '\x1F'));
  }
}

void TSimTraffic::EndOfPollRound() {
  ++FRounds;
  if (FRandom.Chance(0.15)) {  // a handset plugged in or out
    const int a = 2 + static_cast<int>(FRandom.Below(30));
    if (FDevices[a].Role != rlNone) FDevices[a].Active = !FDevices[a].Active;
  }
  for (int tries = 0; FRounds % 10 == 0 && tries < 8; ++tries)
    if (TryPush(CentralStatus())) break;
  if (FRounds % 25 == 0) TryPush(PowerMessage());
  if (FRandom.Chance(0.08)) {
    for (int tries = 0; tries < 8; ++tries)
      if (TryPush(OtherKind())) break;
  }
  if (FRandom.Chance(0.03)) TryPush(ByteString(1, '\x1F'));
}

ByteString TSimTraffic::DeviceMessage(const TDevice& dev) {
  switch (dev.Role) {
    case rlTurnout:
      return Accessory(0x4A, 1 + FRandom.Below(2048), FRandom.Chance(0.5), FRandom.Chance(0.5));
    case rlContact:
      return Accessory(0x4B, 1 + FRandom.Below(2048), FRandom.Chance(0.5), FRandom.Chance(0.5));
    case rlLoco:
    default: {
      TLoco& l = FLocos[FRandom.Below(static_cast<uint32_t>(FLocos.size()))];
      ByteString m;
      if (FRandom.Chance(0.7)) {
        // Speed moves a few steps at a time; at a standstill the direction may change.
        int raw = static_cast<int>(l.Raw) + static_cast<int>(FRandom.Below(7)) - 3;
        raw = raw < 0 ? 0 : raw > 29 ? 29 : raw;
        if (raw == 0 && FRandom.Chance(0.2)) l.Forward = !l.Forward;
        l.Raw = static_cast<uint8_t>(raw);
        m = Bytes({0x61, 0, static_cast<unsigned>(l.Address >> 8), l.Address,
                   (l.Forward ? 0x80u : 0u) | l.Raw});
      } else {
        const unsigned f = FRandom.Below(17);
        l.Functions ^= 1u << f;
        const bool on = l.Functions >> f & 1u;
        const unsigned b5 = f == 0 ? (on ? 0x80u : 0u) : (f | (on ? 0x20u : 0u));
        m = Bytes({0x62, 0, static_cast<unsigned>(l.Address >> 8), l.Address, b5});
      }
      SetCheckByte(m);
      return m;
    }
  }
}

ByteString TSimTraffic::CentralStatus() {
  // Track current wanders around a load that fits the booster.
  FCurrent += static_cast<int>(FRandom.Below(9)) - 4;
  const int top = FMaxCurrent * 10;
  FCurrent = FCurrent < 0 ? 0 : FCurrent > top ? top : FCurrent;
  ByteString m =
      Bytes({0x00, 0, static_cast<unsigned>(FTypeCode << 4 | FMaxCurrent),
             static_cast<unsigned>(FCurrent), 0x00, 0x13, static_cast<unsigned>(FFreeLoco)});
  SetCheckByte(m);
  return m;
}

ByteString TSimTraffic::PowerMessage() {
  // Mostly "on"; now and then a short or an emergency stop, cleared at the next report.
  if (FPowerState != 0x80)
    FPowerState = 0x80;
  else if (FRandom.Chance(0.1))
    FPowerState = static_cast<uint8_t>(0x81 + FRandom.Below(3));
  return Bytes({0x00, FPowerState, FPowerState});
}

ByteString TSimTraffic::OtherKind() {
  static constexpr uint8_t kKinds[] = {0x10, 0x11, 0x12, 0x40, 0x45, 0x54, 0x56,
                                       0x60, 0x64, 0x75, 0x80, 0x85, 0xB5, 0xB8};
  const uint8_t kind = kKinds[FRandom.Below(sizeof kKinds)];
  ByteString m(1, static_cast<char>(kind));
  if (kind == 0x40 || kind == 0x60 || kind == 0x80) {
    const unsigned count = FRandom.Below(5);  // bytes after the count byte
    m.push_back(0);
    m.push_back(static_cast<char>(count));
    for (unsigned i = 0; i < count; ++i) m.push_back(static_cast<char>(FRandom.Below(256)));
  } else {
    const int n = MessageLength(m);
    m.resize(static_cast<std::size_t>(n), 0);
    for (int i = 2; i < n; ++i) m[i] = static_cast<char>(FRandom.Below(256));
  }
  SetCheckByte(m);
  return m;
}

ByteString TSimNoise::Apply(std::string_view bytes) {
  ByteString out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    if (FProbability > 0 && FRandom.Chance(FProbability)) {
      if (FRandom.Chance(0.5)) continue;  // dropped
      c = static_cast<char>(c ^ (1 << FRandom.Below(8)));
    }
    out.push_back(c);
  }
  return out;
}
