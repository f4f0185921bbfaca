// Decoding arbitrary messages: no crash, no read past the message, and the
// comment is valid text (no embedded NUL) that the window can show.
#include "bus/uVantrelSeq.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string m(reinterpret_cast<const char*>(data), size);
  if (MessageToHex(m).size() != 3 * m.size()) std::abort();
  const std::string comment = MessageComment(m);
  if (comment.find('\0') != std::string::npos) std::abort();

  uint16_t address = 0;
  bool a = false, b = false;
  uint8_t speed = 0, function = 0;
  if (DecodeAccessory(m, address, a, b) && (address < 1 || address > 2048)) std::abort();
  for (uint8_t mode : {uint8_t(14), uint8_t(27), uint8_t(28), uint8_t(0), uint8_t(255)})
    if (DecodeLocoSpeed(m, mode, address, a, speed) && address > 10239) std::abort();
  if (DecodeLocoFunction(m, address, a, function) && (address > 10239 || function > 16))
    std::abort();
  DecodeLocoLights(m, address, a);
  std::string type, firmware;
  int freeLoco = 0;
  double ia = 0, im = 0;
  DecodeCentralStatus(m, type, firmware, freeLoco, ia, im);
  return 0;
}
