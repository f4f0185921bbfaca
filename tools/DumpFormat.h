// The line vantrel-dump prints for one item taken from the message queue:
// the traffic history's line (traffic/TrafficText.h, format described
// there), so that the dump and the window's saved traffic agree line by line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "traffic/TrafficText.h"

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
  TDumpLines(TTimeMode mode, int64_t startUs, int maxLoko)
      : FMode(mode), FStartUs(startUs), FMaxLoko(maxLoko) {}

  void SetStart(int64_t startUs) { FStartUs = startUs; }
  void Append(std::string_view item, int64_t timeUs) {
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
  int64_t FPreviousUs = 0;
  std::string FText;
};
