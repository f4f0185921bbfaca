// Framing: call-byte set, check byte, length table, the
// checked rule, resynchronisation, and a property test of cutting.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <vector>

#include "bus/RawFraming.h"
#include "bus/uVantrelSeq.h"
#include "support/TestBytes.h"

// ---- call-byte set ----------------------------------------------------------

TEST(CallByteSet, IsExactlyTheListedSixtyTwoValues) {
  const std::set<int> listed = {0x03, 0x05, 0x06, 0x09, 0x0A, 0x0C, 0x0F, 0x11, 0x12, 0x14, 0x17,
                                0x18, 0x1B, 0x1D, 0x1E, 0x41, 0x42, 0x44, 0x47, 0x48, 0x4B, 0x4D,
                                0x4E, 0x50, 0x53, 0x55, 0x56, 0x59, 0x5A, 0x5C, 0x5F, 0x81, 0x82,
                                0x84, 0x87, 0x88, 0x8B, 0x8D, 0x8E, 0x90, 0x93, 0x95, 0x96, 0x99,
                                0x9A, 0x9C, 0x9F, 0xC3, 0xC5, 0xC6, 0xC9, 0xCA, 0xCC, 0xCF, 0xD1,
                                0xD2, 0xD4, 0xD7, 0xD8, 0xDB, 0xDD, 0xDE};
  ASSERT_EQ(listed.size(), 62u);
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(IsCallByte(static_cast<uint8_t>(b)), listed.count(b) == 1) << "byte " << b;
}

TEST(CallByteSet, TwoValuesPerAddressOneWithBit6) {
  for (int address = 1; address <= 31; ++address) {
    int withBit6 = 0, withoutBit6 = 0;
    for (int b = 0; b < 256; ++b)
      if (IsCallByte(static_cast<uint8_t>(b)) && (b & 0x1F) == address)
        ++((b & 0x40) ? withBit6 : withoutBit6);
    EXPECT_EQ(withBit6, 1) << address;
    EXPECT_EQ(withoutBit6, 1) << address;
  }
  EXPECT_FALSE(IsCallByte(0x1F));  // odd number of one bits: a lone byte of its own
  EXPECT_FALSE(IsCallByte(0x00));
  EXPECT_FALSE(IsCallByte(0xC0));  // address 0 with even parity
}

TEST(CallByteSet, CallByteForCarriesAddressActivityAndEvenParity) {
  EXPECT_EQ(CallByteFor(1, true), 0x41);
  EXPECT_EQ(CallByteFor(1, false), 0x81);
  EXPECT_EQ(CallByteFor(31, true), 0x5F);
  EXPECT_EQ(CallByteFor(31, false), 0x9F);
  for (int a = 1; a <= 31; ++a)
    for (bool on : {false, true}) EXPECT_TRUE(IsCallByte(CallByteFor(a, on))) << a;
}

// ---- check byte -------------------------------------------------------------

TEST(CheckByte, XorOfByteOneAndPayload) {
  ByteString m = Bytes({0x4B, 0x00, 0x01, 0x03});
  SetCheckByte(m);
  EXPECT_EQ(m, Bytes({0x4B, 0x49, 0x01, 0x03}));
  EXPECT_FALSE(CheckByteValid(Bytes({})));
  EXPECT_FALSE(CheckByteValid(Bytes({0x11})));
  EXPECT_TRUE(CheckByteValid(Bytes({0x11, 0x11})));  // two bytes: byte 2 equals byte 1
  EXPECT_FALSE(CheckByteValid(Bytes({0x11, 0x12})));
  EXPECT_TRUE(CheckByteValid(Bytes({0x4B, 0x49, 0x01, 0x03})));
  EXPECT_FALSE(CheckByteValid(Bytes({0x4B, 0x48, 0x01, 0x03})));
  EXPECT_TRUE(CheckByteValid(Bytes({0x00, 0x00, 0x00})));  // zeros are ordinary bytes
  EXPECT_TRUE(CheckByteValid(Bytes({0xFF, 0x00, 0xF0, 0x0F})));
}

// ---- plain rule: length table -----------------------------------------------

TEST(LengthTable, FixedLengthsByFirstByte) {
  std::vector<int> expected(256, 0);
  expected[0x10] = expected[0x11] = expected[0x12] = 2;
  expected[0x14] = 1;
  for (int k : {0x45, 0x4A, 0x4B, 0x54, 0x56}) expected[k] = 4;
  for (int k : {0x61, 0x62, 0x64, 0x75}) expected[k] = 5;
  expected[0x85] = 6;
  expected[0xB5] = expected[0xB8] = 7;
  // Counted kinds: their defaults while fewer than 3 bytes are present.
  expected[0x00] = 8;
  expected[0x40] = 11;
  expected[0x60] = 6;
  expected[0x80] = 5;
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(MessageLength(Bytes({b})), expected[b]) << "byte " << b;
    EXPECT_EQ(MessageLength(Bytes({b, 0x00})), expected[b]) << "byte " << b;
  }
}

TEST(LengthTable, CountedKindsUseByteThree) {
  for (int k : {0x00, 0x40, 0x60, 0x80}) {
    EXPECT_EQ(MessageLength(Bytes({k, 0x00, 0x00})), 3);
    EXPECT_EQ(MessageLength(Bytes({k, 0x00, 0x05})), 8);
    EXPECT_EQ(MessageLength(Bytes({k, 0x00, 0xFF, 0x01})), 258);  // byte 3 unsigned
  }
  EXPECT_EQ(MessageLength(Bytes({0x00, 0x80, 0x80})), 131);
  EXPECT_EQ(MessageLength(Bytes({0x40, 0x00, 0x05})), 8);
  EXPECT_EQ(MessageLength(Bytes({0x60, 0x00, 0x00})), 3);
  // Fixed kinds never read byte 3.
  EXPECT_EQ(MessageLength(Bytes({0x4A, 0x00, 0x50})), 4);
}

TEST(LengthTable, EmptyBufferIsZero) {
  EXPECT_EQ(MessageLength(Bytes({})), 0);
  EXPECT_EQ(CheckedMessageLength(Bytes({})), 0);
}

// ---- checked rule -----------------------------------------------------------

TEST(CheckedRule, CentralMessagesHaveTheirOwnRule) {
  EXPECT_EQ(CheckedMessageLength(Bytes({0x00})), 7);
  EXPECT_EQ(MessageLength(Bytes({0x00})), 8);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x00, 0x80})), 3);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x00, 0x80, 0x80})), 3);
  EXPECT_EQ(MessageLength(Bytes({0x00, 0x80, 0x80})), 131);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x00, 0x84, 0x84})), 7);
  for (int s : {0x80, 0x81, 0x82, 0x83}) EXPECT_EQ(CheckedMessageLength(Bytes({0x00, s, 0x00})), 3);
  for (int s : {0x00, 0x7F, 0x84, 0xFF}) EXPECT_EQ(CheckedMessageLength(Bytes({0x00, s, 0x80})), 7);
  // Byte 3 is no length here and the check byte is not tested.
  EXPECT_EQ(CheckedMessageLength(Bytes({0x00, 0x12, 0xC4, 0x15, 0x00, 0x1A, 0x20})), 7);
}

TEST(CheckedRule, LoneByte1FIsOneWhateverFollows) {
  EXPECT_EQ(CheckedMessageLength(Bytes({0x1F})), 1);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(CheckedMessageLength(Bytes({0x1F, b, b})), 1);
}

TEST(CheckedRule, CallBytesAndConfusableKinds) {
  EXPECT_EQ(CheckedMessageLength(Bytes({0x41})), 1);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x41, 0x4B, 0x49, 0x01, 0x03})), 1);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x4B, 0x49, 0x01, 0x03})), 4);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x4B, 0x48, 0x01, 0x03})), 1);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x4B, 0x49, 0x01})), 1);  // incomplete: not waited for
  EXPECT_EQ(CheckedMessageLength(Bytes({0x11, 0x11})), 2);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x11, 0x12})), 1);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x11})), 1);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x14, 0x14})), 1);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x56, 0x57, 0x00, 0x01})), 4);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x56, 0x56, 0x00, 0x01})), 1);
}

// A byte of the call-byte set is a message only for 0x11/0x12 doubled and
// 0x4B/0x56 with a passing check; every other one, 0x14 included, is a call byte.
TEST(CheckedRule, OnlyFourCallByteKindsEverFrameAsMessages) {
  for (int b = 0; b < 256; ++b) {
    if (!IsCallByte(static_cast<uint8_t>(b))) continue;
    // The best possible candidate: enough bytes, check byte valid.
    ByteString m = Bytes({b, 0, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    int len = MessageLength(m);
    if (len >= 2) {
      m.resize(static_cast<std::size_t>(len));
      uint8_t x = static_cast<uint8_t>(b);
      for (std::size_t i = 2; i < m.size(); ++i) x ^= static_cast<uint8_t>(m[i]);
      m[1] = static_cast<char>(x);
    }
    const bool message = b == 0x11 || b == 0x12 || b == 0x4B || b == 0x56;
    EXPECT_EQ(CheckedMessageLength(m) > 1, message) << "byte " << b;
    EXPECT_EQ(CheckedMessageLength(Bytes({b})), 1) << "byte " << b;
  }
}

TEST(CheckedRule, OtherKindsCutByLengthAlone) {
  EXPECT_EQ(CheckedMessageLength(Bytes({0x4A, 0x00, 0x01, 0x03})), 4);  // wrong check, still 4
  EXPECT_EQ(CheckedMessageLength(Bytes({0x4A})), 4);                    // reader waits for the rest
  EXPECT_EQ(CheckedMessageLength(Bytes({0x10, 0x99})), 2);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x40})), 11);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x40, 0x00, 0x05})), 8);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x60, 0x00, 0x00})), 3);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x61, 0x12, 0x34})), 5);
  EXPECT_EQ(CheckedMessageLength(Bytes({0xB5})), 7);
  EXPECT_EQ(CheckedMessageLength(Bytes({0x20, 0x01, 0x02, 0x03})), 0);  // unknown: all as one
  EXPECT_EQ(CheckedMessageLength(Bytes({0xFF})), 0);
}

// ---- resynchronisation --------------------------------------------------------

// FrameCapture: CutComplete over the whole buffer as final.
using Items = std::vector<ByteString>;

TEST(Resync, CallByteThenMessage) {
  EXPECT_EQ(FrameCapture(Bytes({0x41, 0x4B, 0x49, 0x01, 0x03, 0x42})),
            (Items{Bytes({0x41}), Bytes({0x4B, 0x49, 0x01, 0x03}), Bytes({0x42})}));
}

TEST(Resync, DamagedConfusableMessageSplitsIntoSingleBytesThenRecovers) {
  // 4B with a bad check goes alone; its 48 and 03 are call bytes of the set,
  // each alone; framing is back in step at the good message that follows.
  EXPECT_EQ(FrameCapture(Bytes({0x4B, 0x48, 0x03, 0x4B, 0x49, 0x01, 0x03})),
            (Items{Bytes({0x4B}), Bytes({0x48}), Bytes({0x03}), Bytes({0x4B, 0x49, 0x01, 0x03})}));
}

// Bytes of no known kind are one item up to the next byte some rule knows:
// garbage before, between and after messages hides none of them.
TEST(Resync, UnknownBytesEndBeforeTheNextKnownByte) {
  const ByteString contact = Bytes({0x4B, 0x49, 0x01, 0x03});
  const ByteString status = Bytes({0x00, 0x12, 0xC4, 0x15, 0x00, 0x1A, 0x20});
  EXPECT_EQ(
      FrameCapture(Bytes({0x20, 0x21}) + contact + Bytes({0x22}) + status + Bytes({0x23, 0x24})),
      (Items{Bytes({0x20, 0x21}), contact, Bytes({0x22}), status, Bytes({0x23, 0x24})}));
  // 0x1F and the call bytes are known to the checked rule, not to the plain one.
  EXPECT_EQ(FrameCapture(Bytes({0x20, 0x1F, 0x21, 0x41})),
            (Items{Bytes({0x20}), Bytes({0x1F}), Bytes({0x21}), Bytes({0x41})}));
  Items plain;
  CutComplete(Bytes({0x20, 0x1F, 0x41, 0x14, 0x21}), MessageLength, true, [&](std::string_view i) {
    plain.emplace_back(i);
    return true;
  });
  EXPECT_EQ(plain, (Items{Bytes({0x20, 0x1F, 0x41}), Bytes({0x14}), Bytes({0x21})}));
}

TEST(Resync, RealisticTraffic) {
  const ByteString stream = Bytes({0x41, 0x1F, 0x4A, 0x41, 0x00, 0x0B,        // call, lone, turnout
                                   0x42, 0x61, 0xEB, 0x00, 0x03, 0x8A,        // call, speed
                                   0x00, 0x80, 0x80,                          // power on
                                   0x00, 0x12, 0xC4, 0x15, 0x00, 0x1A, 0x20,  // status
                                   0x11, 0x11, 0x14});
  const Items expected = {Bytes({0x41}),
                          Bytes({0x1F}),
                          Bytes({0x4A, 0x41, 0x00, 0x0B}),
                          Bytes({0x42}),
                          Bytes({0x61, 0xEB, 0x00, 0x03, 0x8A}),
                          Bytes({0x00, 0x80, 0x80}),
                          Bytes({0x00, 0x12, 0xC4, 0x15, 0x00, 0x1A, 0x20}),
                          Bytes({0x11, 0x11}),
                          Bytes({0x14})};
  EXPECT_EQ(FrameCapture(stream), expected);
}

// Not final (more bytes may come): the cut stops where they could change it.
TEST(CutComplete, StopsWhereMoreBytesCouldChangeTheCut) {
  auto cut = [](const ByteString& buf, bool final) {
    return CutComplete(buf, CheckedMessageLength, final, [](std::string_view) { return true; });
  };
  EXPECT_EQ(cut(Bytes({0x41, 0x61, 0x00}), false), 1u);  // message begun
  EXPECT_EQ(cut(Bytes({0x41, 0x20, 0x21}), false), 1u);  // unknown run up to the end
  EXPECT_EQ(cut(Bytes({0x41, 0x20, 0x21}), true), 3u);
  // Call bytes that are also kinds, with fewer bytes than their message.
  for (const ByteString& head : {Bytes({0x11}), Bytes({0x12}), Bytes({0x4B}), Bytes({0x56}),
                                 Bytes({0x4B, 0x49}), Bytes({0x56, 0x57, 0x00})}) {
    EXPECT_EQ(cut(Bytes({0x41}) + head, false), 1u) << MessageToHex(head);
    EXPECT_EQ(NextItemLength(head, CheckedMessageLength, true), 1u) << MessageToHex(head);
  }
  // Decided whatever follows: a failed check, 0x14, other call bytes, 0x1F.
  EXPECT_EQ(cut(Bytes({0x4B, 0x48, 0x41, 0x41}), false), 4u);
  EXPECT_EQ(cut(Bytes({0x14, 0x41, 0x1F}), false), 3u);
  // put can stop the cut after any item.
  int seen = 0;
  EXPECT_EQ(CutComplete(ByteString(10, '\x41'), CheckedMessageLength, false,
                        [&](std::string_view) { return ++seen < 3; }),
            3u);
}

// ---- properties of cutting ------------------------------------------------------

// Any input, cut in two steps (what is decided, then the rest as final):
// the items join up to the input, and nothing is read past the buffer.
TEST(CuttingProperty, ReproducesInputAndNeverReadsPastTheBuffer) {
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<std::size_t> length(0, 64);
  for (int round = 0; round < 20000; ++round) {
    const ByteString input = RandomBusBytes(rng, length(rng));
    // An exact-size heap block, so that the sanitizer build catches any read
    // past the end (a std::string has spare capacity and a terminator).
    std::unique_ptr<char[]> block(new char[input.size() ? input.size() : 1]);
    std::copy(input.begin(), input.end(), block.get());
    const std::string_view all(block.get(), input.size());

    ByteString joined;
    std::size_t items = 0;
    auto put = [&](std::string_view item) {
      EXPECT_FALSE(item.empty());
      EXPECT_GE(MessageLength(item), 0);  // the plain rule is just as safe on each head
      (void)MessageComment(item);         // and decoding every item too
      joined.append(item);
      ++items;
      return true;
    };
    const TFrameRule rule = round % 2 ? CheckedMessageLength : MessageLength;
    const std::size_t decided = CutComplete(all, rule, false, put);
    CutComplete(all.substr(decided), rule, true, put);
    ASSERT_EQ(joined, input) << "round " << round;
    ASSERT_LE(items, input.size());
  }
}

namespace {

// A valid message of a random kind: the table's length (counted kinds with up
// to 5 payload bytes, the central's power state or status), random payload,
// correct check byte.
ByteString RandomMessage(std::mt19937& rng) {
  static const int kinds[] = {0x00, 0x10, 0x11, 0x12, 0x40, 0x45, 0x4A, 0x4B, 0x54, 0x56,
                              0x60, 0x61, 0x62, 0x64, 0x75, 0x80, 0x85, 0xB5, 0xB8};
  for (;;) {
    ByteString m(1, static_cast<char>(kinds[rng() % std::size(kinds)]));
    const bool counted = m[0] == 0x40 || m[0] == 0x60 || m[0] == '\x80';
    m.resize(m[0] == 0 ? (rng() % 2 ? 3 : 7) : counted ? 3 + rng() % 6 : MessageLength(m));
    for (std::size_t i = 2; i < m.size(); ++i) m[i] = static_cast<char>(rng());
    if (counted) m[2] = static_cast<char>(m.size() - 3);
    if (m[0] == 0 && m.size() == 3) m[2] = static_cast<char>(0x80 + rng() % 4);
    SetCheckByte(m);
    // A status whose check byte looks like a power state frames otherwise.
    if (CheckedMessageLength(m) == static_cast<int>(m.size())) return m;
  }
}

}  // namespace

// Every valid message between runs of bytes of no known kind comes out whole.
TEST(CuttingProperty, EveryValidMessageAmidGarbageComesOutWhole) {
  std::mt19937 rng(7);
  ByteString garbage;  // the bytes no rule knows a length for
  for (int b = 0; b < 256; ++b)
    if (CheckedMessageLength(ByteString(1, static_cast<char>(b))) == 0)
      garbage.push_back(static_cast<char>(b));
  for (int round = 0; round < 2000; ++round) {
    ByteString stream;
    Items messages;
    for (int m = 0; m < 5; ++m) {
      for (unsigned g = rng() % 4; g > 0; --g) stream += garbage[rng() % garbage.size()];
      messages.push_back(RandomMessage(rng));
      stream += messages.back();
    }
    stream += garbage[rng() % garbage.size()];
    Items found;
    for (const ByteString& item : FrameCapture(stream))
      if (CheckedMessageLength(item.substr(0, 1)) != 0) found.push_back(item);
    ASSERT_EQ(found, messages) << MessageToHex(stream);
  }
}
