// What an item is, and the status panel's texts: shared by the window and
// the headless monitor.
#include <gtest/gtest.h>

#include <string>

#include "bus/BusItem.h"
#include "support/TestBytes.h"

namespace {

TEST(ClassifyItem, EveryKindWithWhatItCarries) {
  auto kind = [](const std::string& item) { return ClassifyItem(item).Kind; };
  EXPECT_EQ(kind(""), TItemKind::ikNone);
  const TBusItem call = ClassifyItem(Bytes({0xC5}));
  EXPECT_EQ(call.Kind, TItemKind::ikCallByte);
  EXPECT_EQ(call.Address, 5);
  EXPECT_TRUE(call.Active);
  EXPECT_FALSE(ClassifyItem(Bytes({0x85})).Active);
  EXPECT_EQ(kind(Bytes({0x1F})), TItemKind::ikIdle);
  for (int b : {0x00, 0x01, 0x21, 0x4A}) EXPECT_EQ(kind(Bytes({b})), TItemKind::ikLoneByte) << b;
  const TBusItem power = ClassifyItem(Bytes({0x00, 0x82, 0x82}));
  EXPECT_EQ(power.Kind, TItemKind::ikCentralPower);
  EXPECT_EQ(power.Power, 0x82);
  EXPECT_EQ(kind(Bytes({0x00, 0x84, 0x84})), TItemKind::ikCentralOther);
  EXPECT_EQ(kind(Bytes({0x00, 0x12})), TItemKind::ikCentralOther);
  EXPECT_EQ(kind(Bytes({0, 0, 0x8C, 0x2D, 0, 0x13, 4})), TItemKind::ikCentralStatus);
  EXPECT_EQ(kind(Bytes({0x4B, 0x49, 0x01, 0x03})), TItemKind::ikDevice);
  EXPECT_EQ(kind(Bytes({0x61, 0x01})), TItemKind::ikDevice);  // cut short, still a device's
  EXPECT_EQ(kind(Bytes({0x20, 0x01})), TItemKind::ikUnrecognised);
  EXPECT_EQ(kind(Bytes({0x41, 0x42})), TItemKind::ikUnrecognised);  // the plain rule's run
}

TEST(CentralStatus, SevenByteStatusGivesAllSixLabels) {
  auto v = FormatCentralStatus(Bytes({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}), 16, ".");
  ASSERT_EQ(v.Kind, TItemKind::ikCentralStatus);
  EXPECT_EQ(v.Central, "Centrála: KV8");
  EXPECT_EQ(v.Firmware, "Firmware: 1.3");
  EXPECT_EQ(v.ProudA, "Ia =   4.5 A");
  EXPECT_EQ(v.ProudM, "Im =  12.0 A");
  ASSERT_TRUE(v.HasLoad);
  EXPECT_EQ(v.ProudP, "Ip =  37.50 %");
  EXPECT_EQ(v.VolAdr, "12L (4volných)");
}

TEST(CentralStatus, DecimalSeparatorIsTheCallersAndWidthsStay) {
  auto v = FormatCentralStatus(Bytes({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}), 16, ",");
  EXPECT_EQ(v.ProudA, "Ia =   4,5 A");
  EXPECT_EQ(v.ProudM, "Im =  12,0 A");
  EXPECT_EQ(v.ProudP, "Ip =  37,50 %");
  // Full-scale values overflow the field rather than being cut.
  auto full = FormatCentralStatus(Bytes({0x00, 0x00, 0x81, 0xFF, 0x00, 0x1A, 0x00}), 16, ".");
  EXPECT_EQ(full.ProudA, "Ia =  25.5 A");
  EXPECT_EQ(full.ProudP, "Ip = 2550.00 %");
  EXPECT_EQ(full.Firmware, "Firmware: 1.A");
  // A multi-byte separator still counts as one character of the field.
  EXPECT_EQ(FormatFixed(4.5, 5, 1, "\xC2\xB7"),
            "  4\xC2\xB7"
            "5");
}

TEST(CentralStatus, TypeCodesZeroMaximumAndNegativeLocoCount) {
  EXPECT_EQ(FormatCentralStatus(Bytes({0, 0, 0xC3, 0, 0, 0x10, 0}), 16, ".").Central,
            "Centrála: KV12");
  EXPECT_EQ(FormatCentralStatus(Bytes({0, 0, 0x53, 0, 0, 0x10, 0}), 16, ".").Central,
            "Centrála: 5");
  auto zero = FormatCentralStatus(Bytes({0, 0, 0x80, 0x10, 0, 0x10, 20}), 16, ".");
  ASSERT_EQ(zero.Kind, TItemKind::ikCentralStatus);
  EXPECT_FALSE(zero.HasLoad);
  EXPECT_EQ(zero.ProudM, "Im =   0.0 A");
  EXPECT_EQ(zero.VolAdr, "-4L (20volných)");
}

TEST(CentralStatus, PowerStatesAndWhatGoesToTheLog) {
  auto on = FormatCentralStatus(Bytes({0x00, 0x80, 0x80}), 16, ".");
  ASSERT_EQ(on.Kind, TItemKind::ikCentralPower);
  EXPECT_EQ(on.PowerCaption, "Napájení zapnuto");
  EXPECT_EQ(on.PowerColor, 0x00FF00u);
  const char* captions[] = {"$81", "$82", "$83"};
  for (int b = 0x81; b <= 0x83; ++b) {
    auto off = FormatCentralStatus(Bytes({0x00, b, b}), 16, ".");
    ASSERT_EQ(off.Kind, TItemKind::ikCentralPower);
    EXPECT_EQ(off.PowerCaption, captions[b - 0x81]);
    EXPECT_EQ(off.PowerColor, 0xFF0000u);
  }
  auto odd = FormatCentralStatus(Bytes({0x00, 0x84, 0x84}), 16, ".");
  EXPECT_EQ(odd.Kind, TItemKind::ikCentralOther);
  EXPECT_EQ(odd.LogLine, "00 84 84 ");
  auto shortMsg = FormatCentralStatus(Bytes({0x00, 0x12}), 16, ".");
  EXPECT_EQ(shortMsg.Kind, TItemKind::ikCentralOther);
  EXPECT_EQ(shortMsg.LogLine, "00 12 ");
  EXPECT_EQ(FormatCentralStatus(Bytes({0, 1, 2, 3, 4}), 16, ".").Kind, TItemKind::ikCentralOther);
}

}  // namespace
