#include "DumpFormat.h"

#include "bus/BusItem.h"
#include "bus/uVantrelSeq.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string DumpItemText(std::string_view item, int maxLoko) {
  std::string line = MessageToHex(item);
  if (!line.empty()) line.pop_back();  // the final blank
  // Always a point: the output is for logs and scripts, not for a locale.
  if (const std::string text = ItemText(item, maxLoko); !text.empty()) line += "\t" + text;
  return line;
}

namespace {

// "(SECONDS.MICROSECONDS) " with at least minDigits digits of seconds.
void AppendTime(std::string& out, int64_t t, int minDigits) {
  if (t < 0) t = 0;
  char digits[24];
  int n = 0;
  for (int64_t s = t / 1000000; s > 0 || n < minDigits; s /= 10) digits[n++] = char('0' + s % 10);
  char text[40];
  int len = 0;
  text[len++] = '(';
  while (n > 0) text[len++] = digits[--n];
  text[len++] = '.';
  int64_t micro = t % 1000000;
  for (int k = 5; k >= 0; --k, micro /= 10) text[len + k] = char('0' + micro % 10);
  len += 6;
  text[len++] = ')';
  text[len++] = ' ';
  out.append(text, static_cast<std::size_t>(len));
}

void AppendTimePrefix(std::string& out, TTimeMode mode, int64_t nowUs, int64_t previousUs,
                      int64_t startUs) {
  switch (mode) {
    case TTimeMode::tmNone:
      return;
    case TTimeMode::tmAbsolute:
      // Ten digits of seconds since the epoch, three otherwise.
      return AppendTime(out, nowUs, 10);
    case TTimeMode::tmDelta:
      return AppendTime(out, previousUs ? nowUs - previousUs : 0, 3);
    case TTimeMode::tmZero:
      return AppendTime(out, nowUs - startUs, 3);
  }
}

}  // namespace

std::string DumpTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs, int64_t startUs) {
  std::string out;
  AppendTimePrefix(out, mode, nowUs, previousUs, startUs);
  return out;
}

void TDumpLines::Append(std::string_view item, int64_t timeUs) {
  AppendTimePrefix(FText, FMode, timeUs, FPreviousUs, FStartUs);
  FPreviousUs = timeUs;
  // Most items are single bytes (call bytes, the idle byte): their line is
  // made here without the general texts and their temporary strings.
  if (item.size() == 1) {
    const auto b = static_cast<uint8_t>(item[0]);
    const TBusItem kind = ClassifyItem(item);
    const char line[] = {kHexDigits[b >> 4], kHexDigits[b & 15]};
    FText.append(line, 2);
    if (kind.Kind == TItemKind::ikCallByte) {
      const char id[] = {'\t', kHexDigits[kind.Address >> 4], kHexDigits[kind.Address & 15], ' '};
      FText.append(id, 4).append(ActiveText(kind.Active));
    } else if (kind.Kind == TItemKind::ikLoneByte) {
      FText.append("\tlog");
    }
    FText.push_back('\n');
    return;
  }
  FText += DumpItemText(item, FMaxLoko);
  FText.push_back('\n');
}
