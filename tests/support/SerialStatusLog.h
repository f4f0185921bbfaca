// Records what a serial port reports through its status callback.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "serial/BlockSerial.h"

struct TStatusLog {
  std::vector<std::pair<THookSerialReason, std::string>> Events;
  void Attach(TBlockSerial& port) {
    port.SetOnStatus([this](TBlockSerial*, THookSerialReason r, const std::string& v) {
      Events.emplace_back(r, v);
    });
  }
  bool Has(THookSerialReason r) const {
    for (const auto& e : Events)
      if (e.first == r) return true;
    return false;
  }
};
