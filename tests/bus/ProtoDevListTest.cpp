// Bus device table: attribution of messages to the device
// called last, activity, and the Changed flag.
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

#include "bus/vVantrelTyp.h"
#include "support/TestBytes.h"

TEST(DevList, FreshTableHoldsThirtyOneIdleDevices) {
  TVantrelBusDevList list;
  ASSERT_EQ(list.Count(), 31);
  for (int i = 0; i < 31; ++i) {
    EXPECT_EQ(list.Items(i).Address(), i + 1);
    EXPECT_EQ(&list.Items(i), &list.DeviceByAddress(i + 1));
    EXPECT_FALSE(list.Items(i).Active());
    EXPECT_TRUE(list.Items(i).LastMessage().empty());
  }
  EXPECT_EQ(list.CurrentAddress(), 0);
  EXPECT_FALSE(list.Changed());
}

TEST(DevList, AddressOutsideOneTo31IsAnIndexError) {
  TVantrelBusDevList list;
  const TVantrelBusDevList& constList = list;
  for (int address : {0, -1, 32, 1000, INT_MIN, INT_MAX}) {
    EXPECT_THROW(list.DeviceByAddress(address), std::out_of_range) << address;
    EXPECT_THROW(constList.DeviceByAddress(address), std::out_of_range) << address;
  }
  EXPECT_THROW(list.Items(31), std::out_of_range);
  EXPECT_THROW(list.Items(-1), std::out_of_range);
  EXPECT_NO_THROW(list.DeviceByAddress(31));
}

TEST(DevList, MessageBeforeAnyCallIsIgnored) {
  TVantrelBusDevList list;
  EXPECT_FALSE(list.ProcessMessage(Bytes({0x4B, 0x49, 0x01, 0x03})));
  EXPECT_FALSE(list.Changed());
  for (int i = 0; i < 31; ++i) EXPECT_TRUE(list.Items(i).LastMessage().empty());
}

TEST(DevList, ActivityFollowsBit6AndSetsChangedOnlyOnChange) {
  TVantrelBusDevList list;
  EXPECT_TRUE(list.ProcessCallByte(0x41));
  EXPECT_TRUE(list.DeviceByAddress(1).Active());
  EXPECT_TRUE(list.Changed());
  EXPECT_FALSE(list.ProcessCallByte(0x41));
  EXPECT_TRUE(list.Changed());  // left as it was
  list.SetChanged(false);
  EXPECT_FALSE(list.ProcessCallByte(0x41));
  EXPECT_FALSE(list.Changed());
  EXPECT_TRUE(list.ProcessCallByte(0x81));
  EXPECT_FALSE(list.DeviceByAddress(1).Active());
  EXPECT_TRUE(list.Changed());
}

TEST(DevList, InactiveCallOnFreshDeviceChangesNothing) {
  TVantrelBusDevList list;
  EXPECT_FALSE(list.ProcessCallByte(0x81));
  EXPECT_FALSE(list.Changed());
  EXPECT_EQ(list.CurrentAddress(), 1);  // but later messages go to device 1
  EXPECT_TRUE(list.ProcessMessage(Bytes({0x11, 0x11})));
  EXPECT_EQ(list.DeviceByAddress(1).LastMessage(), Bytes({0x11, 0x11}));
}

TEST(DevList, MessagesGoToTheDeviceCalledLast) {
  TVantrelBusDevList list;
  list.ProcessCallByte(0x41);
  EXPECT_TRUE(list.ProcessMessage(Bytes({0x4B, 0x49, 0x01, 0x03})));
  EXPECT_EQ(list.DeviceByAddress(1).LastMessage(), Bytes({0x4B, 0x49, 0x01, 0x03}));
  EXPECT_TRUE(list.ProcessMessage(Bytes({0x61, 0x5A, 0x00, 0x03, 0x8A})));
  EXPECT_EQ(list.DeviceByAddress(1).LastMessage(), Bytes({0x61, 0x5A, 0x00, 0x03, 0x8A}));

  list.ProcessCallByte(0x42);
  EXPECT_TRUE(list.ProcessMessage(Bytes({0x4A, 0x41, 0x00, 0x0B})));
  EXPECT_EQ(list.DeviceByAddress(2).LastMessage(), Bytes({0x4A, 0x41, 0x00, 0x0B}));
  EXPECT_EQ(list.DeviceByAddress(1).LastMessage(), Bytes({0x61, 0x5A, 0x00, 0x03, 0x8A}));
}

TEST(DevList, EqualMessageStillSetsChanged) {
  TVantrelBusDevList list;
  list.ProcessCallByte(0x41);
  list.ProcessMessage(Bytes({0x11, 0x11}));
  list.SetChanged(false);
  EXPECT_TRUE(list.ProcessMessage(Bytes({0x11, 0x11})));
  EXPECT_TRUE(list.Changed());
}

TEST(DevList, EmbeddedZerosAreStoredWhole) {
  TVantrelBusDevList list;
  list.ProcessCallByte(0x03);
  const ByteString m = Bytes({0x20, 0x00, 0x00, 0x41});
  EXPECT_TRUE(list.ProcessMessage(m));
  EXPECT_EQ(list.DeviceByAddress(3).LastMessage().size(), 4u);
  EXPECT_EQ(list.DeviceByAddress(3).LastMessage(), m);
}

TEST(DevList, AddressZeroIsStoredAndStopsAttribution) {
  TVantrelBusDevList list;
  list.ProcessCallByte(0x41);
  // A byte with bits 0-4 zero is no call byte, but the table stores its address.
  EXPECT_FALSE(list.ProcessCallByte(0xC0));
  EXPECT_EQ(list.CurrentAddress(), 0);
  list.SetChanged(false);
  EXPECT_FALSE(list.ProcessMessage(Bytes({0x11, 0x11})));
  EXPECT_FALSE(list.Changed());
  EXPECT_TRUE(list.DeviceByAddress(1).LastMessage().empty());
}

TEST(DevList, SteadyAlternatingPollingCausesNoRedraw) {
  TVantrelBusDevList list;
  list.ProcessCallByte(0x41);  // device 1 active
  list.ProcessCallByte(0x82);  // device 2 inactive (already)
  list.SetChanged(false);      // the redraw
  for (int i = 0; i < 100; ++i) {
    EXPECT_FALSE(list.ProcessCallByte(0x41));
    EXPECT_FALSE(list.ProcessCallByte(0x82));
  }
  EXPECT_FALSE(list.Changed());
}

TEST(DevList, OnlyDeviceFiveActive) {
  TVantrelBusDevList list;
  for (int address = 1; address <= 31; ++address) {
    // Call every device with bit 6 clear: the call byte of the set with bit 6 clear.
    for (int b = 0; b < 256; ++b)
      if (IsCallByte(static_cast<uint8_t>(b)) && (b & 0x1F) == address && !(b & 0x40))
        list.ProcessCallByte(static_cast<uint8_t>(b));
  }
  EXPECT_FALSE(list.Changed());
  EXPECT_TRUE(list.ProcessCallByte(0x05 | 0x40 | 0x80));  // 0xC5: address 5, active
  for (int address = 1; address <= 31; ++address) {
    EXPECT_EQ(list.DeviceByAddress(address).Active(), address == 5) << address;
    EXPECT_TRUE(list.DeviceByAddress(address).LastMessage().empty());
  }
}
