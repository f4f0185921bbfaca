// What the window shows of the bus at one moment, rebuilt for any item of a
// traffic history: the device table (each device's activity and last
// message), the central's status and power messages and the latest device
// message.  TBusState follows the window's own routing of items, so that the
// state after an item is what the grid and the status panel showed then.
//
// TStateHistory keeps the state every so many items (a snapshot), so that the
// state at any item is one snapshot and at most that many items replayed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "bus/BusItem.h"
#include "bus/uVantrelSeq.h"
#include "traffic/TrafficSource.h"

struct TBusState {
  static constexpr int kDevices = 31;

  std::array<bool, kDevices + 1> Active{};    // by address 1-31
  std::array<ByteString, kDevices + 1> Last;  // last message of each device, by address
  int Called = 0;                             // low five bits of the last call byte
  ByteString Status;                          // the central's last status message (seven bytes)
  ByteString Load;    // the last one whose maximum current is not 0: the load label's
  ByteString Power;   // the central's last power message
  ByteString Device;  // the last device message or unrecognised run (the error label)

  // One item, routed as the window's dispatch routes it.
  void Apply(const TBusItem& kind, std::string_view item);
  void Apply(std::string_view item) { Apply(ClassifyItem(item), item); }

  bool operator==(const TBusState&) const = default;
};

class TStateHistory {
public:
  static constexpr uint64_t kDefaultInterval = 8192;

  explicit TStateHistory(uint64_t interval = kDefaultInterval);

  // Items numbered from first on are to come, from the empty state.
  void Reset(uint64_t first);
  // The next item, numbered End().
  void Add(const TBusItem& kind, std::string_view item);
  uint64_t End() const noexcept { return FEnd; }
  // The state after every item added.
  const TBusState& Present() const noexcept { return FPresent; }

  // The state right after item seq (the moment of its row): the nearest
  // snapshot at or before it, then the items up to seq taken from source.
  // False when seq was not added or the source no longer holds the items
  // needed (they left a ring).
  bool StateAfter(const TTrafficSource& source, uint64_t seq, TBusState& state) const;

  // Forgets the snapshots that items before first would be needed with.
  void DropBefore(uint64_t first);
  std::size_t Snapshots() const noexcept { return FSnapshots.size(); }

  // The snapshots and the present state as bytes to keep on disk, and read
  // back; false, nothing changed, when the bytes are not what Save wrote.
  void Save(std::string& out) const;
  bool Load(std::string_view in);

private:
  struct TSnapshot {
    uint64_t Seq;  // the state before this item
    TBusState State;
  };
  uint64_t FInterval;
  uint64_t FEnd = 0;
  TBusState FPresent;
  std::deque<TSnapshot> FSnapshots;
};
