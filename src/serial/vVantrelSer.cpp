// vVantrelSer: the serial link to the central's bus interface.
#include "serial/vVantrelSer.h"

void TVantrelSerial::SetReceiveQueueSize(int size) {
  // Equal driver queues; the limits are cleared here and reach the port only
  // with the next application of the line state.
  SetupQueues(size, size);
  FetchLineState();
  FLineState.XonLim = 0;
  FLineState.XoffLim = 0;
  FReceiveQueueSize = size;
}

void TVantrelSerial::ConfigureLine(int baud, int bits, const std::string& parity, int stopBits,
                                   bool softFlow, bool hardFlow) {
  TBlockSerial::ConfigureLine(baud, bits, parity, stopBits, softFlow, hardFlow);
}

void TVantrelSerial::WriteText(const ByteString& text) {
  FlushOutput();
  TBlockSerial::WriteText(text);
  FlushOutput();
}
