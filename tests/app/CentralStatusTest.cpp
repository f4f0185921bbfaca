// Status panel texts: the Qt-free formatting shared by the window and the
// headless monitor.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "app/CentralStatus.h"

namespace {

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

TEST(CentralStatus, SevenByteStatusGivesAllSixLabels) {
  auto v = FormatCentralStatus(Bytes({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}), 16, ".");
  ASSERT_EQ(v.Kind, TCentralMsgKind::cmkStatus);
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
  ASSERT_EQ(zero.Kind, TCentralMsgKind::cmkStatus);
  EXPECT_FALSE(zero.HasLoad);
  EXPECT_EQ(zero.ProudM, "Im =   0.0 A");
  EXPECT_EQ(zero.VolAdr, "-4L (20volných)");
}

TEST(CentralStatus, PowerStatesAndWhatGoesToTheLog) {
  auto on = FormatCentralStatus(Bytes({0x00, 0x80, 0x80}), 16, ".");
  ASSERT_EQ(on.Kind, TCentralMsgKind::cmkPower);
  EXPECT_EQ(on.PowerCaption, "Napájení zapnuto");
  EXPECT_EQ(on.PowerColor, 0x00FF00u);
  const char* captions[] = {"$81", "$82", "$83"};
  for (int b = 0x81; b <= 0x83; ++b) {
    auto off = FormatCentralStatus(Bytes({0x00, b, b}), 16, ".");
    ASSERT_EQ(off.Kind, TCentralMsgKind::cmkPower);
    EXPECT_EQ(off.PowerCaption, captions[b - 0x81]);
    EXPECT_EQ(off.PowerColor, 0xFF0000u);
  }
  auto odd = FormatCentralStatus(Bytes({0x00, 0x84, 0x84}), 16, ".");
  EXPECT_EQ(odd.Kind, TCentralMsgKind::cmkLog);
  EXPECT_EQ(odd.LogLine, "00 84 84 ");
  auto shortMsg = FormatCentralStatus(Bytes({0x00, 0x12}), 16, ".");
  EXPECT_EQ(shortMsg.Kind, TCentralMsgKind::cmkLog);
  EXPECT_EQ(shortMsg.LogLine, "00 12 ");
  EXPECT_EQ(FormatCentralStatus(Bytes({0, 1, 2, 3, 4}), 16, ".").Kind, TCentralMsgKind::cmkLog);
}

}  // namespace
