// Completing arbitrary typed dates and times with random locale separators:
// no crash; a failed completion leaves the text empty; and a completed text
// made of digits and separators is complete already (completing it again
// changes nothing), so an edit never rewrites what it accepted.
#include "controls/Convert.h"
#include "controls/VCtrlPm.h"

#include <QDateTime>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const char separators[] = "./-:,";
  TFormatSettings fs;
  fs.DateSeparator = QChar(separators[data[0] % 5]);
  fs.TimeSeparator = QChar(separators[data[1] % 5]);
  fs.ShortDateFormat = QString("d%1M%1yyyy").arg(fs.DateSeparator);
  fs.LongTimeFormat = QString("H%1mm%1ss").arg(fs.TimeSeparator);
  const bool time = data[2] & 1;
  const auto complete = [&](QString& s) {
    const QDateTime ref(QDate(2026, 12, 8), QTime(13, 45, 30));
    return time ? CompleteTime(s, ref, fs) : CompleteDate(s, ref, fs);
  };
  QString s =
      QString::fromUtf8(reinterpret_cast<const char*>(data + 3), static_cast<qsizetype>(size - 3));
  if (!complete(s)) {
    if (!s.isEmpty()) std::abort();
    return 0;
  }
  if (!s.isEmpty() && s.size() <= (time ? 8 : 10) && s.trimmed() == s && IsDateTimeText(s, fs)) {
    QString again = s;
    if (!complete(again) || again != s) std::abort();
  }
  return 0;
}
