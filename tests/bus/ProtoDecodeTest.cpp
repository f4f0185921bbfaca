// Decoding: hex text, each decoder's ranges, the comments.
#include <gtest/gtest.h>

#include "bus/uVantrelSeq.h"
#include "support/TestBytes.h"

namespace {

// A 4-byte accessory message with word w (check byte not tested by decoders).
ByteString Acc(int kind, int w) { return Bytes({kind, 0x00, (w >> 8) & 0xFF, w & 0xFF}); }

}  // namespace

// ---- hex text ---------------------------------------------------------------

TEST(MessageToHex, TwoUpperCaseDigitsAndABlankPerByte) {
  EXPECT_EQ(MessageToHex(Bytes({})), "");
  EXPECT_EQ(MessageToHex(Bytes({0x00})), "00 ");
  EXPECT_EQ(MessageToHex(Bytes({0x0A, 0xFF})), "0A FF ");
  EXPECT_EQ(MessageToHex(Bytes({0x4B, 0x49, 0x01, 0x03})), "4B 49 01 03 ");
  ByteString all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string hex = MessageToHex(all);
  ASSERT_EQ(hex.size(), 3u * 256);
  EXPECT_EQ(hex.substr(3 * 0xAB, 3), "AB ");
  EXPECT_EQ(hex.substr(3 * 0x5C, 3), "5C ");
}

// ---- accessory --------------------------------------------------------------

TEST(DecodeAccessory, AddressAndFlags) {
  uint16_t a = 0;
  bool f1 = false, f2 = false;
  ASSERT_TRUE(DecodeAccessory(Bytes({0x4A, 0x41, 0x00, 0x0B}), a, f1, f2));
  EXPECT_EQ(a, 2);
  EXPECT_TRUE(f1);
  EXPECT_TRUE(f2);
  ASSERT_TRUE(DecodeAccessory(Acc(0x4A, 0x0006), a, f1, f2));
  EXPECT_EQ(a, 1);
  EXPECT_FALSE(f1);
  EXPECT_TRUE(f2);
  // Byte 3 is the high byte.
  ASSERT_TRUE(DecodeAccessory(Acc(0x4B, 0x1001), a, f1, f2));
  EXPECT_EQ(a, 0x400);
  EXPECT_TRUE(f1);
  EXPECT_FALSE(f2);
}

TEST(DecodeAccessory, AddressRangeOneTo2048) {
  uint16_t a = 0;
  bool f1 = false, f2 = false;
  for (int w = 0; w < 4; ++w) EXPECT_FALSE(DecodeAccessory(Acc(0x4A, w), a, f1, f2)) << w;
  EXPECT_TRUE(DecodeAccessory(Acc(0x4A, 4), a, f1, f2));
  for (int w = 8192; w <= 8195; ++w) {
    EXPECT_TRUE(DecodeAccessory(Acc(0x4A, w), a, f1, f2)) << w;
    EXPECT_EQ(a, 2048);
  }
  EXPECT_FALSE(DecodeAccessory(Acc(0x4A, 8196), a, f1, f2));
  EXPECT_FALSE(DecodeAccessory(Acc(0x4A, 0xFFFF), a, f1, f2));
}

TEST(DecodeAccessory, WrongLengthWritesNothing) {
  uint16_t a = 777;
  bool f1 = true, f2 = false;
  EXPECT_FALSE(DecodeAccessory(Bytes({0x4A, 0x41, 0x00}), a, f1, f2));
  EXPECT_FALSE(DecodeAccessory(Bytes({0x4A, 0x41, 0x00, 0x0B, 0x00}), a, f1, f2));
  EXPECT_FALSE(DecodeAccessory(Bytes({}), a, f1, f2));
  EXPECT_EQ(a, 777);
  EXPECT_TRUE(f1);
  EXPECT_FALSE(f2);
}

// ---- locomotive speed -----------------------------------------------------------

TEST(DecodeLocoSpeed, FieldsInModeFour) {
  uint16_t a = 0;
  bool dir = false;
  uint8_t speed = 0;
  ASSERT_TRUE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x03, 0x8A}), 4, a, dir, speed));
  EXPECT_EQ(a, 3);
  EXPECT_TRUE(dir);
  EXPECT_EQ(speed, 9);
  ASSERT_TRUE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x27, 0xFF, 0x05}), 4, a, dir, speed));
  EXPECT_EQ(a, 10239);
  EXPECT_FALSE(dir);
  EXPECT_EQ(speed, 4);
  EXPECT_FALSE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x28, 0x00, 0x05}), 4, a, dir, speed));  // 10240
  EXPECT_FALSE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0xFF, 0xFF, 0x05}), 4, a, dir, speed));
}

TEST(DecodeLocoSpeed, ModeFourRawValues) {
  uint16_t a = 0;
  bool dir = false;
  uint8_t speed = 0;
  for (int raw = 0; raw < 128; ++raw) {
    for (int d : {0x00, 0x80}) {
      const bool ok = DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x01, raw | d}), 4, a, dir, speed);
      EXPECT_EQ(ok, raw <= 29) << raw;
      EXPECT_EQ(dir, d != 0);
      EXPECT_EQ(speed, raw <= 1 ? raw : raw - 1) << raw;
    }
  }
  EXPECT_FALSE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x01, 0x1E}), 4, a, dir, speed));
  EXPECT_FALSE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x01, 0x9E}), 4, a, dir, speed));
  ASSERT_TRUE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x01, 0x1D}), 4, a, dir, speed));
  EXPECT_EQ(speed, 28);
}

TEST(DecodeLocoSpeed, ReductionBySpeedMode) {
  auto Speed = [](int mode, int raw) {
    uint16_t a = 0;
    bool dir = false;
    uint8_t speed = 255;
    DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x01, raw}), static_cast<uint8_t>(mode), a, dir,
                    speed);
    return static_cast<int>(speed);
  };
  for (int mode : {0, 4, 8, 12}) {
    EXPECT_EQ(Speed(mode, 0), 0);
    EXPECT_EQ(Speed(mode, 1), 1);
    EXPECT_EQ(Speed(mode, 2), 1);
    EXPECT_EQ(Speed(mode, 20), 19);
  }
  for (int mode : {1, 5}) {
    EXPECT_EQ(Speed(mode, 0), 0);
    EXPECT_EQ(Speed(mode, 3), 3);
    EXPECT_EQ(Speed(mode, 4), 1);
    EXPECT_EQ(Speed(mode, 31), 28);
  }
  for (int mode : {2, 3, 6, 7, 9, 255}) {
    EXPECT_EQ(Speed(mode, 1), 1);
    EXPECT_EQ(Speed(mode, 28), 28);
  }
  uint16_t a = 0;
  bool dir = false;
  uint8_t speed = 0;
  EXPECT_TRUE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x01, 31}), 1, a, dir, speed));
  EXPECT_FALSE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x01, 29}), 2, a, dir, speed));
}

TEST(DecodeLocoSpeed, WrongLengthWritesNothing) {
  uint16_t a = 55;
  bool dir = true;
  uint8_t speed = 66;
  EXPECT_FALSE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x03}), 4, a, dir, speed));
  EXPECT_FALSE(DecodeLocoSpeed(Bytes({0x61, 0x00, 0x00, 0x03, 0x8A, 0x00}), 4, a, dir, speed));
  EXPECT_EQ(a, 55);
  EXPECT_TRUE(dir);
  EXPECT_EQ(speed, 66);
}

// ---- locomotive function and lights ---------------------------------------------

TEST(DecodeLocoFunction, NumberStateAndRanges) {
  uint16_t a = 0;
  bool state = false;
  uint8_t f = 0;
  ASSERT_TRUE(DecodeLocoFunction(Bytes({0x62, 0x00, 0x00, 0x03, 0x85}), a, state, f));
  EXPECT_EQ(a, 3);
  EXPECT_EQ(f, 5);
  EXPECT_FALSE(state);  // bit 7 does not count for functions 1-16
  ASSERT_TRUE(DecodeLocoFunction(Bytes({0x62, 0x00, 0x00, 0x03, 0x30}), a, state, f));
  EXPECT_EQ(f, 16);
  EXPECT_TRUE(state);
  ASSERT_TRUE(DecodeLocoFunction(Bytes({0x62, 0x00, 0x00, 0x03, 0x20}), a, state, f));
  EXPECT_EQ(f, 0);
  EXPECT_FALSE(state);  // function 0: only bit 7 counts
  ASSERT_TRUE(
      DecodeLocoFunction(Bytes({0x62, 0x00, 0x00, 0x03, 0xC0}), a, state, f));  // bit 6 unused
  EXPECT_TRUE(state);
  for (int fn = 17; fn <= 31; ++fn)
    EXPECT_FALSE(DecodeLocoFunction(Bytes({0x62, 0x00, 0x00, 0x03, fn}), a, state, f)) << fn;
  EXPECT_TRUE(DecodeLocoFunction(Bytes({0x62, 0x00, 0x27, 0xFF, 0x01}), a, state, f));
  EXPECT_FALSE(DecodeLocoFunction(Bytes({0x62, 0x00, 0x28, 0x00, 0x01}), a, state, f));
}

TEST(DecodeLocoLights, OnlyFunctionZero) {
  uint16_t a = 0;
  bool state = false;
  ASSERT_TRUE(DecodeLocoLights(Bytes({0x62, 0x00, 0x00, 0x03, 0x80}), a, state));
  EXPECT_EQ(a, 3);
  EXPECT_TRUE(state);
  ASSERT_TRUE(DecodeLocoLights(Bytes({0x62, 0x00, 0x00, 0x03, 0x20}), a, state));
  EXPECT_FALSE(state);
  EXPECT_FALSE(DecodeLocoLights(Bytes({0x62, 0x00, 0x00, 0x03, 0x85}), a, state));
  EXPECT_FALSE(DecodeLocoLights(Bytes({0x62, 0x00, 0x28, 0x00, 0x80}), a, state));
}

TEST(DecodeLocoFunction, WrongLengthWritesNothing) {
  uint16_t a = 9;
  bool state = true;
  uint8_t f = 99;
  EXPECT_FALSE(DecodeLocoFunction(Bytes({0x62, 0x00, 0x00, 0x03}), a, state, f));
  EXPECT_FALSE(DecodeLocoLights(Bytes({0x62, 0x00, 0x00, 0x03, 0x80, 0x00}), a, state));
  EXPECT_EQ(a, 9);
  EXPECT_TRUE(state);
  EXPECT_EQ(f, 99);
}

// ---- central status -------------------------------------------------------------

TEST(CentralTypeText, NamedAndDecimalCodes) {
  EXPECT_EQ(CentralTypeText(8), "KV8");
  EXPECT_EQ(CentralTypeText(12), "KV12");
  EXPECT_EQ(CentralTypeText(5), "5");
  EXPECT_EQ(CentralTypeText(0), "0");
  EXPECT_EQ(CentralTypeText(15), "15");
}

TEST(DecodeCentralStatus, Fields) {
  std::string type, firmware;
  int freeLoco = -1;
  double ia = -1, im = -1;
  ASSERT_TRUE(DecodeCentralStatus(Bytes({0x00, 0x00, 0xC4, 0x15, 0x99, 0x1A, 0xFF}), type, firmware,
                                  freeLoco, ia, im));
  EXPECT_EQ(type, "KV12");
  EXPECT_DOUBLE_EQ(im, 4.0);
  EXPECT_DOUBLE_EQ(ia, 2.1);
  EXPECT_EQ(firmware, "1.A");
  EXPECT_EQ(freeLoco, 255);
  ASSERT_TRUE(DecodeCentralStatus(Bytes({0x00, 0x00, 0x54, 0x00, 0x00, 0x20, 0x00}), type, firmware,
                                  freeLoco, ia, im));
  EXPECT_EQ(type, "5");
  EXPECT_EQ(firmware, "2.0");
  EXPECT_DOUBLE_EQ(ia, 0.0);
  EXPECT_DOUBLE_EQ(im, 4.0);
  ASSERT_TRUE(DecodeCentralStatus(Bytes({0x00, 0x00, 0x8F, 0xFF, 0x00, 0xFB, 0x07}), type, firmware,
                                  freeLoco, ia, im));
  EXPECT_EQ(type, "KV8");
  EXPECT_DOUBLE_EQ(im, 15.0);
  EXPECT_DOUBLE_EQ(ia, 25.5);
  EXPECT_EQ(firmware, "F.B");
  EXPECT_EQ(freeLoco, 7);
}

TEST(DecodeCentralStatus, WrongLengthWritesNothing) {
  std::string type = "t", firmware = "f";
  int freeLoco = 3;
  double ia = 1.5, im = 2.5;
  EXPECT_FALSE(DecodeCentralStatus(Bytes({0x00, 0x80, 0x80}), type, firmware, freeLoco, ia, im));
  EXPECT_FALSE(DecodeCentralStatus(Bytes({0x00, 0x00, 0xC4, 0x15, 0x00, 0x1A, 0x20, 0x00}), type,
                                   firmware, freeLoco, ia, im));
  EXPECT_EQ(type, "t");
  EXPECT_EQ(firmware, "f");
  EXPECT_EQ(freeLoco, 3);
  EXPECT_EQ(ia, 1.5);
  EXPECT_EQ(im, 2.5);
}

// ---- letters ----------------------------------------------------------------------

TEST(Letters, TrueAndFalse) {
  EXPECT_EQ(BoolToLR(true), "L");
  EXPECT_EQ(BoolToLR(false), "R");
  EXPECT_EQ(BoolToBA(true), "b");
  EXPECT_EQ(BoolToBA(false), "a");
  EXPECT_EQ(BoolToTF(true), "T");
  EXPECT_EQ(BoolToTF(false), "F");
  EXPECT_EQ(BoolToPZ(true), "P");
  EXPECT_EQ(BoolToPZ(false), "Z");
}

// ---- comments -----------------------------------------------------------------------

TEST(MessageComment, DocumentedExamples) {
  EXPECT_EQ(MessageComment(Bytes({0x4A, 0x41, 0x00, 0x0B})), "Vyhybka 2 L T");
  EXPECT_EQ(MessageComment(Bytes({0x61, 0x5A, 0x00, 0x03, 0x8A})), "Loko #3 rychlost P 9");
  EXPECT_EQ(MessageComment(Bytes({0x62, 0xA5, 0x00, 0x03, 0x85})), "Loko #3 funkce 5 F");
  EXPECT_EQ(MessageComment(Bytes({0x62, 0x00, 0x00, 0x03, 0x80})),
            "Loko #3 sv\xC4\x9Btla T");  // UTF-8 ě
}

TEST(MessageComment, TurnoutAndContact) {
  EXPECT_EQ(MessageComment(Bytes({0x4A, 0x00, 0x00, 0x04})), "Vyhybka 1 R F");
  EXPECT_EQ(MessageComment(Acc(0x4A, 8195)), "Vyhybka 2048 L T");
  EXPECT_EQ(MessageComment(Bytes({0x4B, 0x49, 0x01, 0x03})), "Kontakt 64 b T");
  EXPECT_EQ(MessageComment(Bytes({0x4B, 0x00, 0x00, 0x06})), "Kontakt 1 a T");
  EXPECT_EQ(MessageComment(Bytes({0x4B, 0x00, 0x00, 0x05})), "Kontakt 1 b F");
  EXPECT_EQ(MessageComment(Acc(0x4A, 3)), "");
  EXPECT_EQ(MessageComment(Acc(0x4A, 8196)), "");
  EXPECT_EQ(MessageComment(Acc(0x4B, 0)), "");
  EXPECT_EQ(MessageComment(Bytes({0x4A, 0x41, 0x00})), "");
  EXPECT_EQ(MessageComment(Bytes({0x4A, 0x41, 0x00, 0x0B, 0x00})), "");
  EXPECT_EQ(MessageComment(Bytes({0x4B, 0x49, 0x01})), "");
  EXPECT_EQ(MessageComment(Bytes({0x4B, 0x49, 0x01, 0x03, 0x00})), "");
}

TEST(MessageComment, Locomotives) {
  EXPECT_EQ(MessageComment(Bytes({0x61, 0x00, 0x27, 0xFF, 0x1D})), "Loko #10239 rychlost Z 28");
  EXPECT_EQ(MessageComment(Bytes({0x61, 0x00, 0x00, 0x00, 0x00})), "Loko #0 rychlost Z 0");
  EXPECT_EQ(MessageComment(Bytes({0x61, 0x00, 0x28, 0x00, 0x05})), "");  // address 10240
  EXPECT_EQ(MessageComment(Bytes({0x61, 0x00, 0x00, 0x03, 0x1E})), "");  // raw speed 30
  EXPECT_EQ(MessageComment(Bytes({0x61, 0x00, 0x00, 0x03, 0x9E})), "");
  EXPECT_EQ(MessageComment(Bytes({0x61, 0x00, 0x00, 0x03})), "");
  EXPECT_EQ(MessageComment(Bytes({0x62, 0x00, 0x00, 0x03, 0x11})), "");  // function 17
  EXPECT_EQ(MessageComment(Bytes({0x62, 0x00, 0x00, 0x03, 0x30})), "Loko #3 funkce 16 T");
  EXPECT_EQ(MessageComment(Bytes({0x62, 0x00, 0x00, 0x03, 0x20})), "Loko #3 světla F");
  EXPECT_EQ(MessageComment(Bytes({0x62, 0x00, 0x28, 0x00, 0x80})), "");
}

TEST(MessageComment, UndecodedKindsAreEmpty) {
  EXPECT_EQ(MessageComment(Bytes({})), "");
  EXPECT_EQ(MessageComment(Bytes({0x41})), "");
  EXPECT_EQ(MessageComment(Bytes({0x00, 0x00, 0xC4, 0x15, 0x00, 0x1A, 0x20})), "");
  for (int k :
       {0x10, 0x11, 0x12, 0x14, 0x40, 0x45, 0x54, 0x56, 0x60, 0x64, 0x75, 0x80, 0x85, 0xB5, 0xB8})
    EXPECT_EQ(MessageComment(Bytes({k, 0x00, 0x00, 0x04, 0x80})), "") << k;
  EXPECT_EQ(MessageComment(Bytes({0x45, 0x00, 0x00, 0x04})), "");  // accessory layout, other kind
}
