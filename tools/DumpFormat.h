// The line vantrel-dump prints for one item taken from the message queue:
// the traffic history's line (traffic/TrafficText.h, format described
// there), so that the dump and the window's saved traffic agree line by line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "base/LocalTime.h"
#include "traffic/TrafficText.h"

// Call bytes and the idle byte 1F: what the window's traffic view hides by
// default ("Skrýt výzvy a 1F").
inline bool IsCallOrIdle(std::string_view item) {
  const TItemKind kind = ClassifyItem(item).Kind;
  return kind == TItemKind::ikCallByte || kind == TItemKind::ikIdle;
}

// "HH:MM:SS.mmm " in local time, as the window's time column shows it.
inline void AppendLocalTimePrefix(std::string& out, int64_t us) {
  std::tm local{};
  ToLocalTime(static_cast<std::time_t>(us / 1000000), local);
  char buf[24];
  const int n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                              local.tm_sec, static_cast<int>(us % 1000000 / 1000));
  out.append(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

inline std::string DumpItemText(std::string_view item, int maxLoko) {
  return TrafficItemLine(item, maxLoko);
}

inline std::string DumpTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs,
                                  int64_t startUs) {
  return TrafficTimePrefix(mode, nowUs, previousUs, startUs);
}

// The lines of a run, appended to one buffer so that a whole batch of items
// goes out in one write.  Each Append adds the line of one item (time prefix,
// text, line end) exactly as DumpTimePrefix and DumpItemText give it.
class TDumpLines {
public:
  // local: the time of day instead of mode's prefix.
  TDumpLines(TTimeMode mode, int64_t startUs, int maxLoko, bool local = false)
      : FMode(mode), FStartUs(startUs), FMaxLoko(maxLoko), FLocal(local) {}

  void SetStart(int64_t startUs) { FStartUs = startUs; }
  void Append(std::string_view item, int64_t timeUs) {
    if (FLocal)
      AppendLocalTimePrefix(FText, timeUs);
    else
      AppendTrafficTimePrefix(FText, FMode, timeUs, FPreviousUs, FStartUs);
    FPreviousUs = timeUs;
    AppendTrafficItemLine(FText, item, FMaxLoko);
    FText.push_back('\n');
  }

  std::string& Text() { return FText; }
  void Clear() { FText.clear(); }

private:
  TTimeMode FMode;
  int64_t FStartUs;
  int FMaxLoko;
  bool FLocal;
  int64_t FPreviousUs = 0;
  std::string FText;
};
