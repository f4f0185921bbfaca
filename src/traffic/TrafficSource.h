// TTrafficSource: a traffic history as the traffic view, its filter, its
// export and the past states read it.  Items are numbered in the order they
// came; the source holds [First(), End()), each with its receive time, its
// kind, the device called before it and its bytes.  The live ring
// (TTrafficRing) and an opened capture (TTrafficArchive) are both one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bus/BusItem.h"

// A stretch without a line (a reconnect) before item Seq.
struct TTrafficGap {
  uint64_t Seq = 0;  // the first item after the gap
  int64_t FromUs = 0, ToUs = 0;
};

class TTrafficSource {
public:
  virtual ~TTrafficSource() = default;

  virtual uint64_t First() const noexcept = 0;
  virtual uint64_t End() const noexcept = 0;
  std::size_t Count() const noexcept { return static_cast<std::size_t>(End() - First()); }
  bool Holds(uint64_t seq) const noexcept { return seq >= First() && seq < End(); }

  // seq must be held.  Bytes() stays valid while the item is held.
  virtual int64_t TimeUs(uint64_t seq) const noexcept = 0;  // microseconds since the epoch
  virtual TItemKind Kind(uint64_t seq) const noexcept = 0;
  // 1-31: the device called before the item (a call byte: the one it calls); 0 none.
  virtual int Device(uint64_t seq) const noexcept = 0;
  virtual std::string_view Bytes(uint64_t seq) const noexcept = 0;
  // Start of the connection (or recording) the item belongs to; 0 none.
  virtual int64_t SessionStart(uint64_t seq) const noexcept = 0;
  // The items [seq, seq + count), all held, into out: a scan over many
  // items asks once a block rather than four times an item.
  struct TItemView {
    int64_t TimeUs;
    std::string_view Bytes;
    TItemKind Kind;
    int Device;
  };
  virtual void Items(uint64_t seq, std::size_t count, TItemView* out) const noexcept {
    for (std::size_t i = 0; i < count; ++i)
      out[i] = {TimeUs(seq + i), Bytes(seq + i), Kind(seq + i), Device(seq + i)};
  }

  // Totals, dropped items included.
  virtual uint64_t Dropped() const noexcept = 0;
  virtual uint64_t TotalItems() const noexcept = 0;
  virtual uint64_t TotalBytes() const noexcept = 0;
  // Bytes the framing could not place: lone bytes and unrecognised runs.
  virtual uint64_t UnrecognisedBytes() const noexcept = 0;

  // The last gap before an item numbered in [fromSeq, toSeq]: a row shows
  // the gaps since the row above it (items between hidden by a filter).
  // Null when there is none, or the source keeps none.
  virtual const TTrafficGap* GapWithin(uint64_t, uint64_t) const noexcept { return nullptr; }

protected:
  TTrafficSource() = default;
  TTrafficSource(const TTrafficSource&) = default;
  TTrafficSource& operator=(const TTrafficSource&) = default;
};
