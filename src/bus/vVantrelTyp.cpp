// vVantrelTyp: the bus device table.
#include "bus/vVantrelTyp.h"

#include <stdexcept>
#include <string>

TVantrelBusDevList::TVantrelBusDevList() {
  FItems.reserve(DeviceCount);
  for (int address = 1; address <= DeviceCount; ++address) FItems.emplace_back(address);
}

TVantrelBusDevList::~TVantrelBusDevList() {
  // The devices go from address 31 down to 1, as the table is defined.
  while (!FItems.empty()) FItems.pop_back();
}

TVantrelBusDevice& TVantrelBusDevList::Items(int index) {
  if (index < 0 || index >= Count())
    throw std::out_of_range("TVantrelBusDevList: index out of range (" + std::to_string(index) +
                            ")");
  return FItems[static_cast<std::size_t>(index)];
}

const TVantrelBusDevice& TVantrelBusDevList::Items(int index) const {
  return const_cast<TVantrelBusDevList*>(this)->Items(index);
}

TVantrelBusDevice& TVantrelBusDevList::DeviceByAddress(int address) {
  // Index error of the list for an address outside 1-31; tested before
  // address - 1 is formed so that INT_MIN cannot overflow.
  if (address < 1 || address > Count())
    throw std::out_of_range("TVantrelBusDevList: address out of range (" + std::to_string(address) +
                            ")");
  return FItems[static_cast<std::size_t>(address - 1)];
}

const TVantrelBusDevice& TVantrelBusDevList::DeviceByAddress(int address) const {
  return const_cast<TVantrelBusDevList*>(this)->DeviceByAddress(address);
}

bool TVantrelBusDevList::ProcessCallByte(uint8_t b) {
  FCurrentAddress = b & 0x1F;  // stored even when 0
  if (FCurrentAddress < 1 || FCurrentAddress > DeviceCount) return false;
  const bool active = (b & 0x40) != 0;
  TVantrelBusDevice& device = DeviceByAddress(FCurrentAddress);
  if (active == device.Active()) return false;  // steady polling: no redraw
  device.SetActive(active);
  FChanged = true;
  return true;
}

bool TVantrelBusDevList::ProcessMessage(const ByteString& m) {
  if (FCurrentAddress < 1 || FCurrentAddress > DeviceCount) return false;
  DeviceByAddress(FCurrentAddress).SetLastMessage(m);
  FChanged = true;  // even when m equals the message stored before
  return true;
}
