// Decoding of the About picture where no libjpeg is at hand (the Windows
// build): Qt's own JPEG reader, held to the same rules as the libjpeg
// decoder beside it.  Qt's reader returns a picture even when libjpeg warned
// of damaged data and only logs the warning, so the warning is caught here.
#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QLoggingCategory>

#include "config/JpegPicture.h"

namespace {

#include "AboutJpeg.inc"  // kAboutJpeg[], generated from about.jpg at build time

// As in the libjpeg decoder: a picture far beyond anything we embed is a
// broken header, not a picture.
constexpr int kMaxSide = 8192;

// Qt's JPEG reader logs libjpeg's warnings in this category.
constexpr char kJpegCategory[] = "qt.gui.imageio.jpeg";

QtMessageHandler PreviousHandler = nullptr;
bool Damaged = false;

void CatchJpegWarning(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (context.category && qstrcmp(context.category, kJpegCategory) == 0) {
    Damaged = true;
    return;
  }
  if (PreviousHandler) PreviousHandler(type, context, text);
}

}  // namespace

QImage DecodeJpeg(const unsigned char* data, std::size_t size) {
  if (!data || size == 0) return {};
  QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QBuffer device(&bytes);
  device.open(QIODevice::ReadOnly);
  QImageReader reader(&device, "jpeg");
  const QSize side = reader.size();
  if (!side.isValid() || side.width() <= 0 || side.height() <= 0 || side.width() > kMaxSide ||
      side.height() > kMaxSide)
    return {};
  // Decoding runs on the window thread only, so the handler swap is not raced.
  Damaged = false;
  PreviousHandler = qInstallMessageHandler(CatchJpegWarning);
  QImage image = reader.read();
  qInstallMessageHandler(PreviousHandler);
  PreviousHandler = nullptr;
  if (image.isNull() || Damaged) return {};
  return image.convertToFormat(QImage::Format_RGB888);
}

QImage AboutPicture() { return DecodeJpeg(kAboutJpeg, sizeof kAboutJpeg); }
