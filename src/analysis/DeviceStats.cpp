// Per-device statistics: the rows as shown at a moment.
#include "analysis/DeviceStats.h"

#include <algorithm>

void TDeviceStats::AdvanceRecent(TCounts& row, int64_t second) noexcept {
  // Seconds between the last one counted and this one had no messages; a
  // clock that went back starts the window afresh.
  if (second < row.RecentSecond || second - row.RecentSecond >= kRecentSeconds) {
    row.Recent.fill(0);
  } else {
    for (int64_t s = row.RecentSecond + 1; s <= second; ++s)
      row.Recent[static_cast<std::size_t>(Slot(s))] = 0;
  }
  row.RecentSecond = second;
}

uint64_t TDeviceStats::RecentMessages(const TCounts& row, int64_t nowSecond) noexcept {
  if (row.Messages == 0) return 0;
  uint64_t sum = 0;
  // The slots hold the seconds (RecentSecond - 10, RecentSecond]; of those,
  // the ones within the window ending at nowSecond count.
  for (int64_t s = row.RecentSecond - kRecentSeconds + 1; s <= row.RecentSecond; ++s)
    if (s > nowSecond - kRecentSeconds && s <= nowSecond)
      sum += row.Recent[static_cast<std::size_t>(Slot(s))];
  return sum;
}

std::vector<TDeviceStats::TRow> TDeviceStats::Rows(int64_t nowUs, int64_t silenceUs) const {
  std::vector<TRow> rows(kRows);
  const int64_t nowSecond = FloorSecond(nowUs);
  const double spanS = FItems == 0 ? 0.0 : static_cast<double>(nowUs - FStartUs) / 1e6;
  // A stretch shorter than the window is measured over its own length.
  const double recentS = std::clamp(static_cast<double>(nowSecond - FloorSecond(FStartUs) + 1), 1.0,
                                    static_cast<double>(kRecentSeconds));
  for (int a = 0; a < kRows; ++a) {
    const TCounts& c = FRows[static_cast<std::size_t>(a)];
    TRow& r = rows[static_cast<std::size_t>(a)];
    r.Address = a;
    r.Messages = c.Messages;
    r.Calls = c.Calls;
    r.Bytes = c.Bytes;
    r.UnrecognisedBytes = c.UnrecognisedBytes;
    r.BytesShare =
        FBytes == 0 ? 0.0 : 100.0 * static_cast<double>(c.Bytes) / static_cast<double>(FBytes);
    if (c.Messages == 0) continue;
    r.FirstUs = c.FirstUs;
    r.LastUs = c.LastUs;
    r.FirstSeq = c.FirstSeq;
    r.LastSeq = c.LastSeq;
    r.SinceLastUs = std::max<int64_t>(0, nowUs - c.LastUs);
    r.Silent = r.SinceLastUs > silenceUs;
    r.RateNow = static_cast<double>(RecentMessages(c, nowSecond)) / recentS;
    r.RateAverage = static_cast<double>(c.Messages) / std::max(spanS, 1.0);
  }
  return rows;
}
