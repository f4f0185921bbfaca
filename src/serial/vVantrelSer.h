// vVantrelSer: the serial link to the central's bus interface.
#pragma once

#include "serial/BlockSerial.h"

// TBlockSerial with its own queue sizing (no XON/XOFF limits, equal driver
// queues) and a write that leaves the line only after all earlier output.
class TVantrelSerial : public TBlockSerial {
public:
  void SetReceiveQueueSize(int size) override;
  void ConfigureLine(int baud, int bits, const std::string& parity, int stopBits, bool softFlow,
                     bool hardFlow) override;
  void WriteText(const ByteString& text) override;
};
