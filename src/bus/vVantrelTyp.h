// vVantrelTyp: the bus device table.  Attributes every device
// message to the device that the central called last.  Window thread only.
#pragma once

#include <vector>

#include "bus/uVantrelSeq.h"

// One bus device.
class TVantrelBusDevice {
public:
  explicit TVantrelBusDevice(int address) noexcept : FAddress(address) {}

  int Address() const noexcept { return FAddress; }
  // Bit 6 of the last call byte addressed to this device; false until the first.
  bool Active() const noexcept { return FActive; }
  void SetActive(bool value) noexcept { FActive = value; }
  // Last message attributed to this device (kind and check byte included).
  const ByteString& LastMessage() const noexcept { return FLastMessage; }
  void SetLastMessage(const ByteString& value) { FLastMessage = value; }

private:
  int FAddress;
  bool FActive = false;
  ByteString FLastMessage;
};

// The 31 devices of addresses 1-31 in address order; owns them.
class TVantrelBusDevList {
public:
  static constexpr int DeviceCount = 31;

  TVantrelBusDevList();
  ~TVantrelBusDevList();
  TVantrelBusDevList(const TVantrelBusDevList&) = delete;
  TVantrelBusDevList& operator=(const TVantrelBusDevList&) = delete;

  // Always 31.
  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  // Entry at index 0-30; any other index throws std::out_of_range.
  TVantrelBusDevice& Items(int index);
  const TVantrelBusDevice& Items(int index) const;

  // Entry of address 1-31 (index address - 1); any other address throws
  // std::out_of_range, the list's index error.
  TVantrelBusDevice& DeviceByAddress(int address);
  const TVantrelBusDevice& DeviceByAddress(int address) const;

  // Records a call byte: the current address becomes b & 0x1F (even 0); the
  // device's activity becomes bit 6.  True (and Changed set) when it changed.
  bool ProcessCallByte(uint8_t b);
  // Stores m as the last message of the device called last.  True (and
  // Changed set) when the current address is 1-31, even for an equal message.
  bool ProcessMessage(const ByteString& m);

  // Address (bits 0-4) of the last call byte; 0 before any.
  int CurrentAddress() const noexcept { return FCurrentAddress; }

  // Something the grid shows changed since the grid was last drawn; the
  // grid redraw clears it.
  bool Changed() const noexcept { return FChanged; }
  void SetChanged(bool value) noexcept { FChanged = value; }

private:
  std::vector<TVantrelBusDevice> FItems;
  int FCurrentAddress = 0;
  bool FChanged = false;
};
