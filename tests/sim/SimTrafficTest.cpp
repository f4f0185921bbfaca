// The generated traffic must be what a central really sends: items the
// reader's framing cuts back exactly, correct check bytes, fields in range,
// all the kinds the monitor has to show, and the same stream for the same seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "bus/uVantrelThr.h"
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

// What the reader thread cuts from the stream when it comes in one read
// followed by silence: what is decided at once, then the rest after the wait.
std::vector<ByteString> ReaderCut(ByteString stream) {
  static TReadComDaemon reader(nullptr, true, 10, 500, 50);
  reader.CutCompleteMessages(stream);
  reader.CutCompleteMessages(stream, true);
  std::vector<ByteString> items;
  for (ByteString m; QueueTakeFirst(m), !m.empty();) items.push_back(std::move(m));
  return items;
}

}  // namespace

TEST(SimTraffic, FramesBackIntoTheSameItemsWhereverTheStreamIsSplit) {
  for (uint64_t seed : {1u, 2u, 7u, 42u, 1234u}) {
    const auto items = Generate(seed, 20000);
    const ByteString stream = Concat(items);
    ASSERT_EQ(ReaderCut(stream), items) << "seed " << seed;
    // A read may end after any item: what came so far must frame the same,
    // so that no call byte waits to merge with what follows.
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::vector<ByteString> window(items.begin() + static_cast<long>(i < 3 ? 0 : i - 3),
                                           items.begin() + static_cast<long>(i + 1));
      ASSERT_EQ(ReaderCut(Concat(window)), window) << "seed " << seed << " item " << i;
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
