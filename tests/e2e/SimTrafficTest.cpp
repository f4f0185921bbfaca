// The generated traffic must be what a central really sends: items the
// reader's framing cuts back exactly, correct check bytes, fields in range,
// all the kinds the monitor has to show, and the same stream for the same seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "bus/uVantrelSeq.h"
#include "sim/SimTraffic.h"

namespace {

std::vector<ByteString> Generate(uint64_t seed, int count) {
  TSimTraffic traffic(seed);
  std::vector<ByteString> items;
  for (int i = 0; i < count; ++i) items.push_back(traffic.NextItem());
  return items;
}

ByteString Concat(const std::vector<ByteString>& items) {
  ByteString s;
  for (const auto& i : items) s += i;
  return s;
}

ByteString Hex(std::initializer_list<unsigned> bytes) {
  ByteString s;
  for (unsigned b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

}  // namespace

TEST(SimTraffic, FramesBackIntoTheSameItemsWhereverTheStreamIsSplit) {
  for (uint64_t seed : {1u, 2u, 7u, 42u, 1234u}) {
    const auto items = Generate(seed, 20000);
    const ByteString stream = Concat(items);
    ASSERT_EQ(FrameCapture(stream), items) << "seed " << seed;
    // A read may end after any item: what came so far must frame the same,
    // so that no call byte waits to merge with what follows.
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::vector<ByteString> window(items.begin() + static_cast<long>(i < 3 ? 0 : i - 3),
                                           items.begin() + static_cast<long>(i + 1));
      ASSERT_EQ(FrameCapture(Concat(window)), window) << "seed " << seed << " item " << i;
    }
  }
}

TEST(SimTraffic, MessagesHaveValidCheckBytesAndDecodableFields) {
  const auto items = Generate(3, 30000);
  for (const auto& m : items) {
    if (m.size() == 1) {
      const auto b = static_cast<uint8_t>(m[0]);
      EXPECT_TRUE(IsCallByte(b) || b == 0x1F) << MessageToHex(m);
      continue;
    }
    EXPECT_TRUE(CheckByteValid(m)) << MessageToHex(m);
    EXPECT_EQ(static_cast<int>(m.size()), CheckedMessageLength(m)) << MessageToHex(m);
    const auto kind = static_cast<uint8_t>(m[0]);
    if (kind == 0x4A || kind == 0x4B || kind == 0x61 || kind == 0x62) {
      EXPECT_FALSE(MessageComment(m).empty()) << "undecodable " << MessageToHex(m);
    }
    if (kind == 0x00 && m.size() == 3) {
      EXPECT_GE(static_cast<uint8_t>(m[2]), 0x80);
      EXPECT_LE(static_cast<uint8_t>(m[2]), 0x83);
    }
  }
}

TEST(SimTraffic, PollsEveryAddressAndSendsEveryKindTheMonitorShows) {
  const auto items = Generate(9, 60000);
  std::set<int> called;
  std::map<int, std::set<bool>> activity;
  std::map<uint8_t, int> kinds;
  int status = 0, power = 0;
  for (const auto& m : items) {
    const auto b = static_cast<uint8_t>(m[0]);
    if (m.size() == 1 && IsCallByte(b)) {
      called.insert(b & 0x1F);
      activity[b & 0x1F].insert((b & 0x40) != 0);
    } else if (b == 0x00) {
      (m.size() == 7 ? status : power)++;
    } else if (m.size() > 1) {
      kinds[b]++;
    }
  }
  EXPECT_EQ(called.size(), 31u);
  int changed = 0;
  for (const auto& [addr, seen] : activity) changed += seen.size() == 2;
  EXPECT_GE(changed, 1) << "no device ever changed its activity";
  for (uint8_t k : {0x4A, 0x4B, 0x61, 0x62}) EXPECT_GT(kinds[k], 0) << "kind " << int(k);
  EXPECT_GT(status, 0);
  EXPECT_GT(power, 0);
  EXPECT_GE(kinds.size(), 8u) << "other kinds of the length table are missing";
}

TEST(SimTraffic, SameSeedSameStreamOtherSeedOtherStream) {
  EXPECT_EQ(Generate(77, 5000), Generate(77, 5000));
  EXPECT_NE(Generate(77, 5000), Generate(78, 5000));
}

TEST(SimTraffic, CallBytesCarryAddressActivityAndEvenParity) {
  EXPECT_EQ(CallByteFor(1, true), 0x41);
  EXPECT_EQ(CallByteFor(1, false), 0x81);
  EXPECT_EQ(CallByteFor(31, true), 0x5F);
  EXPECT_EQ(CallByteFor(31, false), 0x9F);
  for (int a = 1; a <= 31; ++a)
    for (bool on : {false, true}) EXPECT_TRUE(IsCallByte(CallByteFor(a, on))) << a;
}

TEST(SimNoise, ZeroLeavesBytesAloneOtherwiseDamagesAboutTheGivenShare) {
  ByteString data;
  for (int i = 0; i < 200000; ++i) data.push_back(static_cast<char>(i * 7));
  EXPECT_EQ(TSimNoise(0, 1).Apply(data), data);

  const ByteString noisy = TSimNoise(0.1, 1).Apply(data);
  // Half of the hits drop a byte: about 5 % shorter.
  const double dropped = 1.0 - static_cast<double>(noisy.size()) / static_cast<double>(data.size());
  EXPECT_NEAR(dropped, 0.05, 0.01);
  EXPECT_EQ(TSimNoise(0.1, 1).Apply(data), noisy) << "noise must follow the seed";
}

TEST(FrameCapture, CutsLikeOneReadFollowedBySilence) {
  EXPECT_TRUE(FrameCapture("").empty());
  // Complete items, then an incomplete turnout message handed on short.
  EXPECT_EQ(FrameCapture(Hex({0x41, 0x4A, 0x41, 0x00, 0x0B, 0x81, 0x4A, 0x00})),
            (std::vector<ByteString>{Hex({0x41}), Hex({0x4A, 0x41, 0x00, 0x0B}), Hex({0x81}),
                                     Hex({0x4A, 0x00})}));
  // An unknown first byte takes the whole rest with it.
  EXPECT_EQ(FrameCapture(Hex({0x41, 0x20, 0x01, 0x41})),
            (std::vector<ByteString>{Hex({0x41}), Hex({0x20, 0x01, 0x41})}));
  // Power message cut by its own rule, not by byte 3 as a length.
  EXPECT_EQ(FrameCapture(Hex({0x00, 0x80, 0x80, 0x41})),
            (std::vector<ByteString>{Hex({0x00, 0x80, 0x80}), Hex({0x41})}));
}

namespace {

// The whole-capture cut written out plainly, as the reference for the
// framer that is fed piece by piece.
std::vector<ByteString> CutWhole(std::string_view rest) {
  std::vector<ByteString> items;
  for (;;) {
    const int n = CheckedMessageLength(rest);
    if (n <= 0 || static_cast<std::size_t>(n) > rest.size()) break;
    items.emplace_back(rest.substr(0, static_cast<std::size_t>(n)));
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  if (!rest.empty()) items.emplace_back(rest);
  return items;
}

std::vector<ByteString> FeedInPieces(std::string_view bytes, std::mt19937& rng,
                                     std::size_t maxPiece) {
  std::vector<ByteString> items;
  TCaptureFramer framer([&items](std::string_view item) {
    items.emplace_back(item);
    return true;
  });
  while (!bytes.empty()) {
    const std::size_t n =
        std::min(bytes.size(), std::uniform_int_distribution<std::size_t>(1, maxPiece)(rng));
    framer.Feed(bytes.substr(0, n));
    bytes.remove_prefix(n);
  }
  framer.Finish();
  return items;
}

}  // namespace

TEST(CaptureFramer, PiecesFrameExactlyLikeTheWholeCapture) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40; ++round) {
    // Real traffic with damage, and stretches of bytes the rules branch on
    // (call-byte kinds, counted kinds with long lengths, unknown bytes).
    ByteString bytes =
        TSimNoise(0.02, static_cast<uint64_t>(round)).Apply(Concat(Generate(round, 3000)));
    static const uint8_t tricky[] = {0x00, 0x40, 0x60, 0x80, 0xFF, 0x4B,
                                     0x11, 0x14, 0x1F, 0x01, 0x41};
    for (int i = 0; i < 400; ++i)
      bytes.insert(std::uniform_int_distribution<std::size_t>(0, bytes.size())(rng), 1,
                   static_cast<char>(tricky[rng() % sizeof tricky]));
    const auto whole = CutWhole(bytes);
    ASSERT_EQ(FeedInPieces(bytes, rng, 1), whole) << "round " << round;
    ASSERT_EQ(FeedInPieces(bytes, rng, 700), whole) << "round " << round;
    ASSERT_EQ(FrameCapture(bytes), whole) << "round " << round;
  }
}

TEST(CaptureFramer, EndlessUnrecognisedRunIsHandedOnInBoundedPieces) {
  const ByteString bytes(3 * TCaptureFramer::MaxItem + 100, '\x01');  // 0x01 is no kind
  std::mt19937 rng(1);
  const auto items = FeedInPieces(bytes, rng, 65536);
  ASSERT_GE(items.size(), 3u);
  ByteString joined;
  for (const auto& item : items) {
    EXPECT_LE(item.size(), TCaptureFramer::MaxItem + 65536);
    joined += item;
  }
  EXPECT_EQ(joined, bytes);
}

TEST(CaptureFramer, StopsWhenTheConsumerSaysSo) {
  int seen = 0;
  TCaptureFramer framer([&seen](std::string_view) { return ++seen < 3; });
  EXPECT_FALSE(framer.Feed(ByteString(2000, '\x41')));
  EXPECT_FALSE(framer.Finish());
  EXPECT_EQ(seen, 3);
}
