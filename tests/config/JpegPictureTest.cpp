// The About picture is decoded by libjpeg directly; damaged data must give an
// empty picture, never a crash or a half-grey image.
#include "config/JpegPicture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

namespace {
std::vector<unsigned char> ReadAboutJpg() {
  std::ifstream in(ABOUT_JPG, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

TEST(JpegPicture, EmbeddedPictureDecodesTo73x57WithContent) {
  const QImage image = AboutPicture();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 73);
  EXPECT_EQ(image.height(), 57);
  // Not a blank rectangle: the picture has several distinct colours.
  std::vector<QRgb> seen;
  for (int y = 0; y < image.height(); y += 4)
    for (int x = 0; x < image.width(); x += 4)
      if (std::find(seen.begin(), seen.end(), image.pixel(x, y)) == seen.end())
        seen.push_back(image.pixel(x, y));
  EXPECT_GT(seen.size(), 10u);

  // The compiled-in bytes are those of the committed file.
  const std::vector<unsigned char> file = ReadAboutJpg();
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(DecodeJpeg(file.data(), file.size()), image);
}

TEST(JpegPicture, DamagedDataGivesEmptyPicture) {
  const unsigned char garbage[] = "this is not a JPEG at all, just text bytes";
  EXPECT_TRUE(DecodeJpeg(garbage, sizeof garbage).isNull());
  EXPECT_TRUE(DecodeJpeg(nullptr, 0).isNull());

  const std::vector<unsigned char> file = ReadAboutJpg();
  ASSERT_GT(file.size(), 200u);
  // Only the start-of-image marker and part of the header.
  EXPECT_TRUE(DecodeJpeg(file.data(), 20).isNull());
  // Cut in the middle of the scan: libjpeg would pad it with grey and only
  // warn; that is a damaged picture too.
  EXPECT_TRUE(DecodeJpeg(file.data(), file.size() / 2).isNull());
  // A header that claims an absurd size is refused before any allocation.
  std::vector<unsigned char> huge = file;
  bool frameFound = false;
  for (std::size_t i = 0; i + 8 < huge.size(); ++i)
    if (huge[i] == 0xFF && (huge[i + 1] == 0xC0 || huge[i + 1] == 0xC2)) {
      huge[i + 5] = 0xFF;  // height, high byte
      huge[i + 7] = 0xFF;  // width, high byte
      frameFound = true;
      break;
    }
  ASSERT_TRUE(frameFound);
  EXPECT_TRUE(DecodeJpeg(huge.data(), huge.size()).isNull());
}
