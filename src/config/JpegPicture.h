// Decoding of the About picture: libjpeg called directly (JpegPicture.cpp),
// or, where there is no libjpeg (the Windows build), Qt's JPEG plug-in held
// to the same rules (JpegPictureQt.cpp).
#pragma once

#include <QImage>
#include <cstddef>

// Decodes a baseline or progressive JPEG held in memory into an RGB888 image.
// Any failure (garbage, truncated data, unsupported colour space, absurd
// dimensions) gives a null QImage; libjpeg never prints or aborts the program.
QImage DecodeJpeg(const unsigned char* data, std::size_t size);

// The program's own picture for the About page (73 x 57), compiled into the
// program; a null image if it cannot be decoded.
QImage AboutPicture();
