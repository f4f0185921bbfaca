// The line vantrel-dump prints for one item taken from the message queue.
//
// Format, one item per line:
//   [TIME ]HEX[<TAB>TEXT]
//   TIME  "(seconds.microseconds) " with --time: since the epoch (a), since
//         the previous line (d) or since the start (z)
//   HEX   the item's bytes as two upper-case hex digits each, blank-separated
//   TEXT  what the window makes of the item (ItemText, bus/BusItem.h): a
//         device comment ("Vyhybka 2 L T"), the called device and its
//         activity ("01 ano"), the power caption or the status labels, "log";
//         no tab when there is no text (the idle byte 1F, a message without
//         comment)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::string DumpItemText(std::string_view item, int maxLoko);

enum class TTimeMode { tmNone, tmAbsolute, tmDelta, tmZero };

// Times in microseconds; absolute ones since the epoch.
std::string DumpTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs, int64_t startUs);

// The lines of a run, appended to one buffer so that a whole batch of items
// goes out in one write.  Each Append adds the line of one item (time prefix,
// text, line end) exactly as DumpTimePrefix and DumpItemText give it.
class TDumpLines {
public:
  TDumpLines(TTimeMode mode, int64_t startUs, int maxLoko)
      : FMode(mode), FStartUs(startUs), FMaxLoko(maxLoko) {}

  void SetStart(int64_t startUs) { FStartUs = startUs; }
  void Append(std::string_view item, int64_t timeUs);

  std::string& Text() { return FText; }
  void Clear() { FText.clear(); }

private:
  TTimeMode FMode;
  int64_t FStartUs;
  int FMaxLoko;
  int64_t FPreviousUs = 0;
  std::string FText;
};
