// Traffic of a simulated central: the byte stream a command station puts on
// the bus (call bytes polling the 31 devices, the devices' messages after a
// call, the central's own status and power messages, and now and then the
// other message kinds), produced item by item and reproducible from a seed.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bus/uVantrelSeq.h"

// A small deterministic random source: the standard engines are fully
// specified, the standard distributions are not, so the ranges are drawn here.
class TSimRandom {
public:
  explicit TSimRandom(uint64_t seed) : FEngine(seed) {}
  uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(FEngine() % n) : 0; }
  bool Chance(double p) { return static_cast<double>(FEngine() >> 11) * 0x1.0p-53 < p; }

private:
  std::mt19937_64 FEngine;
};

class TSimTraffic {
public:
  explicit TSimTraffic(uint64_t seed);

  // The next item of the stream: a call byte, a lone byte or one whole
  // message.  Never empty.  The stream is built so that the reader's checked
  // framing cuts exactly these items again, wherever the reads happen to split
  // it between items.
  ByteString NextItem();

private:
  enum TRole { rlNone, rlLoco, rlTurnout, rlContact };
  struct TDevice {
    TRole Role = rlNone;
    bool Active = false;
  };
  struct TLoco {
    uint16_t Address = 3;
    uint8_t Raw = 0;  // raw speed 0-29 (mode 4 shows 0-28)
    bool Forward = true;
    uint32_t Functions = 0;  // bit 0 lights, bits 1-16 functions
  };

  void PollNextAddress();  // appends at least one item to FReady
  ByteString DeviceMessage(const TDevice& dev);
  ByteString CentralStatus();
  ByteString PowerMessage();
  ByteString OtherKind();
  void EndOfPollRound();

  // Appends item when the stream with it still frames as intended; false
  // (nothing appended) when it would be read as something else.
  bool TryPush(const ByteString& item);

  TSimRandom FRandom;
  std::array<TDevice, 32> FDevices{};
  std::vector<TLoco> FLocos;
  int FNextAddress = 1;
  int FRounds = 0;
  int FTypeCode = 8;
  int FMaxCurrent = 4;
  int FCurrent = 12;  // tenths of an ampere
  int FFreeLoco = 16;
  uint8_t FPowerState = 0x80;

  // Items generated but not yet handed out.  The last few stay back until
  // enough bytes follow them to settle how the framing reads them.
  std::deque<ByteString> FReady;
  std::deque<ByteString> FRecent;  // the last items, covering at least 4 bytes
};

// Flips a bit or drops a byte, each byte with the given probability (half
// and half), so that the reader has to find its way back into step.
class TSimNoise {
public:
  TSimNoise(double probability, uint64_t seed)
      : FProbability(probability), FRandom(seed ^ 0x9E3779B97F4A7C15ull) {}
  ByteString Apply(std::string_view bytes);

private:
  double FProbability;
  TSimRandom FRandom;
};
