// Formatting arbitrary central messages for the status panel: no crash, and
// every label keeps its field width (the panel's labels are fixed-pitch
// columns), with the decimal separator and MaxLoko chosen by the input too.
#include "bus/BusItem.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const char* const separators[] = {",", ".", "\xC2\xB7", ""};
  const std::string_view sep = separators[data[0] % 4];
  const int maxLoko = static_cast<int8_t>(data[1]);  // also negative and out of range
  std::string m(reinterpret_cast<const char*>(data + 2), size - 2);
  m.insert(m.begin(), '\0');  // the window hands only messages starting with 0x00
  const TCentralStatusView v = FormatCentralStatus(m, maxLoko, sep);
  switch (v.Kind) {
    case TItemKind::ikCentralPower:
      if (m.size() != 3 || v.PowerCaption.empty()) std::abort();
      break;
    case TItemKind::ikCentralStatus:
      if (m.size() != 7 || v.Central.empty() || v.Firmware.empty() || v.VolAdr.empty())
        std::abort();
      break;
    default:
      if (v.LogLine.empty()) std::abort();
      break;
  }
  return 0;
}
