// Events found in the items as they come.
#include "analysis/BusEvents.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kNames[kEventKinds] = {"power", "load", "silent", "back", "burst", "gap"};
constexpr const char* kCaptions[kEventKinds] = {"Napájení", "Proud",        "Ticho",
                                                "Návrat",   "Nerozpoznané", "Výpadek"};

std::string PowerName(int state) {
  if (state == 0x80) return "zapnuto";
  char buf[8];
  std::snprintf(buf, sizeof buf, "$%02X", static_cast<unsigned>(state & 0xFF));
  return buf;
}

std::string DeviceName(int device) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(device & 0xFF));
  return buf;
}

// Tenths of an ampere as "4.5".
std::string Amps(int tenths, std::string_view decimalSep) {
  return std::to_string(tenths / 10) + std::string(decimalSep) + std::to_string(tenths % 10);
}

}  // namespace

const char* EventKindName(TEventKind kind) noexcept {
  return kNames[static_cast<unsigned>(kind) % kEventKinds];
}

const char* EventKindCaption(TEventKind kind) noexcept {
  return kCaptions[static_cast<unsigned>(kind) % kEventKinds];
}

bool EventKindFromName(std::string_view name, TEventKind& kind) noexcept {
  for (int k = 0; k < kEventKinds; ++k)
    if (name == kNames[k]) {
      kind = static_cast<TEventKind>(k);
      return true;
    }
  return false;
}

uint32_t BitsFromNames(std::string_view list, const char* const names[], int count,
                       std::string* unknown) {
  uint32_t bits = 0;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view name = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (name.empty()) continue;
    const int at = static_cast<int>(std::find(names, names + count, name) - names);
    if (at < count) {
      bits |= 1u << at;
    } else if (unknown) {
      if (!unknown->empty()) unknown->push_back(',');
      unknown->append(name);
    }
  }
  return bits;
}

std::string NamesOfBits(uint32_t bits, const char* const names[], int count) {
  std::string list;
  for (int i = 0; i < count; ++i)
    if (bits & (1u << i)) {
      if (!list.empty()) list.push_back(',');
      list += names[i];
    }
  return list;
}

uint32_t EventKindsFromNames(std::string_view names, std::string* unknown) {
  return BitsFromNames(names, kNames, kEventKinds, unknown);
}

std::string EventKindNames(uint32_t kinds) { return NamesOfBits(kinds, kNames, kEventKinds); }

std::string DurationText(int64_t us, std::string_view decimalSep) {
  if (us < 0) us = 0;
  if (us < 1000000) return std::to_string(us / 1000) + " ms";
  if (us < 60000000) {
    const int64_t tenths = (us + 50000) / 100000;
    return std::to_string(tenths / 10) + std::string(decimalSep) + std::to_string(tenths % 10) +
           " s";
  }
  char buf[48];
  const int64_t s = (us + 500000) / 1000000;
  if (s < 3600)
    std::snprintf(buf, sizeof buf, "%lld min %02lld s", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  else
    std::snprintf(buf, sizeof buf, "%lld h %02lld min", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60));
  return buf;
}

std::string EventText(const TBusEvent& e, std::string_view decimalSep) {
  switch (e.Kind) {
    case TEventKind::ekPower: {
      if (e.Previous == 0) return "Napájení: " + PowerName(e.Value);
      std::string text = "Napájení: " + PowerName(e.Previous) + " → " + PowerName(e.Value);
      if (e.DurationUs >= 0)
        text += " (" + PowerName(e.Previous) + " trvalo " + DurationText(e.DurationUs, decimalSep) +
                ")";
      return text;
    }
    case TEventKind::ekLoad: {
      std::string text = std::string(e.Value ? "Proud nad " : "Proud pod ") +
                         std::to_string(e.Previous) +
                         " % maxima: " + Amps(e.LoadTenths, decimalSep) + " A z " +
                         std::to_string(e.MaxAmps) + " A";
      if (!e.Value && e.DurationUs >= 0)
        text += " (nad mezí " + DurationText(e.DurationUs, decimalSep) + ")";
      return text;
    }
    case TEventKind::ekSilent:
      return "Zařízení " + DeviceName(e.Device) + " mlčí déle než " +
             DurationText(e.DurationUs, decimalSep);
    case TEventKind::ekBack:
      return "Zařízení " + DeviceName(e.Device) + " opět hlásí (mlčelo " +
             DurationText(e.DurationUs, decimalSep) + ")";
    case TEventKind::ekBurst:
      return "Nerozpoznané bajty: " + std::to_string(e.Value) + " B v řadě";
    case TEventKind::ekGap:
      return "Spojení ztraceno na " + DurationText(e.DurationUs, decimalSep);
  }
  return {};
}

void TEventDetector::Take(uint64_t seq, const TBusItem& item, int device, int64_t timeUs,
                          std::string_view bytes, std::deque<TBusEvent>& sink) {
  if (timeUs >= FNextSilenceUs) CheckSilence(timeUs, sink);
  switch (item.Kind) {
    case TItemKind::ikDevice:
      if (device >= 1 && device <= 31) {
        TDevice& d = FDevices[static_cast<std::size_t>(device)];
        if (d.Silent) {
          TBusEvent e;
          e.Kind = TEventKind::ekBack;
          e.Seq = seq;
          e.TimeUs = timeUs;
          e.Device = device;
          e.DurationUs = timeUs - d.LastUs;
          sink.push_back(e);
          d.Silent = false;
        }
        d.Talked = true;
        d.LastSeq = seq;
        d.LastUs = d.HeardUs = timeUs;
        FNextSilenceUs = std::min(FNextSilenceUs, timeUs + FLimits.SilenceUs);
      }
      break;
    case TItemKind::ikCentralPower:
      Power(seq, timeUs, item.Power, sink);
      break;
    case TItemKind::ikCentralStatus:
      Status(seq, timeUs, bytes, sink);
      break;
    case TItemKind::ikLoneByte:
    case TItemKind::ikUnrecognised:
      if (FBurstBytes == 0 || timeUs - FBurstLastUs > FLimits.BurstGapUs) {
        FBurstBytes = 0;
        FBurstSaid = false;
        FBurstSeq = seq;
        FBurstStartUs = timeUs;
      }
      FBurstBytes += static_cast<int>(std::min<std::size_t>(bytes.size(), 1u << 20));
      FBurstLastUs = timeUs;
      if (!FBurstSaid && FBurstBytes >= FLimits.BurstBytes) {
        TBusEvent e;
        e.Kind = TEventKind::ekBurst;
        e.Seq = FBurstSeq;
        e.TimeUs = FBurstStartUs;
        e.Value = FBurstBytes;
        sink.push_back(e);
        FBurstSaid = true;
      }
      break;
    default:
      break;
  }
}

void TEventDetector::CheckSilence(int64_t nowUs, std::deque<TBusEvent>& sink) {
  if (nowUs < FNextSilenceUs) return;
  int64_t next = std::numeric_limits<int64_t>::max();
  for (int a = 1; a <= 31; ++a) {
    TDevice& d = FDevices[static_cast<std::size_t>(a)];
    if (!d.Talked || d.Silent) continue;
    const int64_t due = d.HeardUs + FLimits.SilenceUs;
    // Silent only when more than the limit has passed, as the statistics say.
    if (nowUs > due) {
      TBusEvent e;
      e.Kind = TEventKind::ekSilent;
      e.Seq = d.LastSeq;
      e.TimeUs = due;
      e.Device = a;
      e.DurationUs = FLimits.SilenceUs;
      sink.push_back(e);
      d.Silent = true;
    } else {
      next = std::min(next, due + 1);
    }
  }
  FNextSilenceUs = next;
}

void TEventDetector::Gap(uint64_t nextSeq, int64_t fromUs, int64_t toUs,
                         std::deque<TBusEvent>& sink) {
  // What fell silent before the line went counts; during the gap nobody can
  // be heard, so silence counts again from its end.
  CheckSilence(fromUs, sink);
  TBusEvent e;
  e.Kind = TEventKind::ekGap;
  e.Seq = nextSeq;
  e.TimeUs = fromUs;
  e.DurationUs = std::max<int64_t>(0, toUs - fromUs);
  sink.push_back(e);
  int64_t next = std::numeric_limits<int64_t>::max();
  for (TDevice& d : FDevices)
    if (d.Talked && !d.Silent) {
      d.HeardUs = std::max(d.HeardUs, toUs);
      next = std::min(next, d.HeardUs + FLimits.SilenceUs + 1);
    }
  FNextSilenceUs = next;
  FBurstBytes = 0;
}

void TEventDetector::Power(uint64_t seq, int64_t timeUs, uint8_t state,
                           std::deque<TBusEvent>& sink) {
  if (state == FPower) return;
  TBusEvent e;
  e.Kind = TEventKind::ekPower;
  e.Seq = seq;
  e.TimeUs = timeUs;
  e.Value = state;
  e.Previous = FPower;
  e.DurationUs = FPower != 0 && FPowerSinceKnown ? timeUs - FPowerSinceUs : -1;
  sink.push_back(e);
  FPower = state;
  FPowerSinceUs = timeUs;
  FPowerSinceKnown = true;
}

void TEventDetector::Status(uint64_t seq, int64_t timeUs, std::string_view bytes,
                            std::deque<TBusEvent>& sink) {
  if (bytes.size() != 7) return;
  const int maxAmps = static_cast<uint8_t>(bytes[2]) & 0x0F;
  const int tenths = static_cast<uint8_t>(bytes[3]);
  // Without a maximum there is no share to speak of: the state stays.
  if (maxAmps == 0) return;
  const bool over = tenths * 10 > FLimits.LoadPercent * maxAmps;
  if (over == FOverLoad) return;
  TBusEvent e;
  e.Kind = TEventKind::ekLoad;
  e.Seq = seq;
  e.TimeUs = timeUs;
  e.Value = over ? 1 : 0;
  e.Previous = FLimits.LoadPercent;
  e.LoadTenths = tenths;
  e.MaxAmps = maxAmps;
  if (!over) e.DurationUs = timeUs - FOverSinceUs;
  sink.push_back(e);
  FOverLoad = over;
  FOverSinceUs = timeUs;
}
