// The text line of one item, as vantrel-dump prints it.
#include "traffic/TrafficText.h"

#include "bus/uVantrelSeq.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

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

}  // namespace

void AppendTrafficItemLine(std::string& out, std::string_view item, int maxLoko) {
  // Call bytes and the idle byte, most of the traffic: their line without
  // the general texts.
  if (item.size() == 1) {
    const auto b = static_cast<uint8_t>(item[0]);
    const TBusItem kind = ClassifyItem(item);
    const char hex[] = {kHexDigits[b >> 4], kHexDigits[b & 15]};
    switch (kind.Kind) {
      case TItemKind::ikCallByte: {
        const char id[] = {'\t', kHexDigits[(kind.Address >> 4) & 15],
                           kHexDigits[kind.Address & 15], ' '};
        out.append(hex, 2).append(id, 4).append(ActiveText(kind.Active));
        return;
      }
      case TItemKind::ikLoneByte:
        out.append(hex, 2).append("\tlog");
        return;
      case TItemKind::ikIdle:
        out.append(hex, 2);
        return;
      default:
        break;
    }
  }
  const std::size_t start = out.size();
  out += MessageToHex(item);
  if (out.size() > start) out.pop_back();  // the final blank
  // Always a point: the output is for logs and scripts, not for a locale.
  if (const std::string text = ItemText(item, maxLoko); !text.empty()) out.append(1, '\t') += text;
}

void AppendTrafficTimePrefix(std::string& out, TTimeMode mode, int64_t nowUs, int64_t previousUs,
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

std::string TrafficItemLine(std::string_view item, int maxLoko) {
  std::string line;
  AppendTrafficItemLine(line, item, maxLoko);
  return line;
}

std::string TrafficTimePrefix(TTimeMode mode, int64_t nowUs, int64_t previousUs, int64_t startUs) {
  std::string out;
  AppendTrafficTimePrefix(out, mode, nowUs, previousUs, startUs);
  return out;
}
