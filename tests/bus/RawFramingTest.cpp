// Capture files: framed whole as the reader frames one read followed by
// silence, and fed piece by piece with exactly the same result.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "bus/RawFraming.h"
#include "support/TestBytes.h"

namespace {

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

TEST(FrameCapture, CutsLikeOneReadFollowedBySilence) {
  EXPECT_TRUE(FrameCapture("").empty());
  // Complete items, then an incomplete turnout message handed on short.
  EXPECT_EQ(FrameCapture(Bytes({0x41, 0x4A, 0x41, 0x00, 0x0B, 0x81, 0x4A, 0x00})),
            (std::vector<ByteString>{Bytes({0x41}), Bytes({0x4A, 0x41, 0x00, 0x0B}), Bytes({0x81}),
                                     Bytes({0x4A, 0x00})}));
  // Unknown bytes go on up to the next byte of a known kind.
  EXPECT_EQ(FrameCapture(Bytes({0x41, 0x20, 0x01, 0x41})),
            (std::vector<ByteString>{Bytes({0x41}), Bytes({0x20, 0x01}), Bytes({0x41})}));
  // Power message cut by its own rule, not by byte 3 as a length.
  EXPECT_EQ(FrameCapture(Bytes({0x00, 0x80, 0x80, 0x41})),
            (std::vector<ByteString>{Bytes({0x00, 0x80, 0x80}), Bytes({0x41})}));
  // At the end a call byte whose message did not come is a call byte.
  EXPECT_EQ(FrameCapture(Bytes({0x4B, 0x49, 0x01})),
            (std::vector<ByteString>{Bytes({0x4B}), Bytes({0x49, 0x01})}));
}

TEST(CaptureFramer, PiecesFrameExactlyLikeTheWholeCapture) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40; ++round) {
    const ByteString bytes = RandomBusBytes(rng, 20000);
    const auto whole = FrameCapture(bytes);
    ASSERT_EQ(FeedInPieces(bytes, rng, 1), whole) << "round " << round;
    ASSERT_EQ(FeedInPieces(bytes, rng, 700), whole) << "round " << round;
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
