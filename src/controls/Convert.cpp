// Locale-dependent text conversions and the lenient readers of the controls.
#include "controls/Convert.h"

#include <QLocale>
#include <QStringList>
#include <cmath>
#include <optional>

#include "base/Text.h"

namespace {

QChar FirstSeparator(const QString& AFormat, QChar ADefault) {
  bool quoted = false;
  for (QChar c : AFormat) {
    if (c == '\'') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && !c.isLetter() && !c.isSpace()) return c;
  }
  return ADefault;
}

std::optional<TFormatSettings>& Override() {
  static std::optional<TFormatSettings> value;
  return value;
}

std::function<QDate()>& DateFunction() {
  static std::function<QDate()> function;
  return function;
}

bool AllDigits(const QString& AText) {
  if (AText.isEmpty()) return false;
  for (QChar c : AText)
    if (c < '0' || c > '9') return false;
  return true;
}

enum class TDateOrder { DMY, MDY, YMD };

TDateOrder DateOrder(const QString& AFormat) {
  const qsizetype d = AFormat.indexOf('d'), m = AFormat.indexOf('M'), y = AFormat.indexOf('y');
  if (y >= 0 && (d < 0 || y < d) && (m < 0 || y < m)) return TDateOrder::YMD;
  if (m >= 0 && d >= 0 && m < d) return TDateOrder::MDY;
  return TDateOrder::DMY;
}

bool ScanDate(const QString& AText, const TFormatSettings& AFormat, QDate& ADate) {
  const QStringList parts = AText.split(AFormat.DateSeparator);
  if (parts.size() < 2 || parts.size() > 3) return false;
  for (const QString& p : parts)
    if (!AllDigits(p) || p.size() > 4) return false;
  const QDate today = CurrentDate();
  int n1 = parts[0].toInt(), n2 = parts[1].toInt();
  int day = 0, month = 0, year = today.year();
  bool yearGiven = parts.size() == 3;
  int n3 = yearGiven ? parts[2].toInt() : 0;
  int yearDigits = 4;
  switch (DateOrder(AFormat.ShortDateFormat)) {
    case TDateOrder::DMY:
      day = n1;
      month = n2;
      if (yearGiven) {
        year = n3;
        yearDigits = int(parts[2].size());
      }
      break;
    case TDateOrder::MDY:
      month = n1;
      day = n2;
      if (yearGiven) {
        year = n3;
        yearDigits = int(parts[2].size());
      }
      break;
    case TDateOrder::YMD:
      if (yearGiven) {
        year = n1;
        yearDigits = int(parts[0].size());
        month = n2;
        day = n3;
      } else {
        month = n1;
        day = n2;
      }
      break;
  }
  if (yearGiven && yearDigits <= 2) {
    // Two-digit years fall within 50 years of the current one.
    const int now = today.year();
    year += now - now % 100;
    if (year > now + 50)
      year -= 100;
    else if (year <= now - 50)
      year += 100;
  }
  ADate = QDate(year, month, day);
  return ADate.isValid();
}

bool ScanTime(const QString& AText, const TFormatSettings& AFormat, double& AFraction) {
  const QStringList parts = AText.split(AFormat.TimeSeparator);
  if (parts.isEmpty() || parts.size() > 3) return false;
  int values[3] = {0, 0, 0};
  int msec = 0;
  for (int i = 0; i < parts.size(); ++i) {
    QString p = parts[i];
    if (i == 2) {
      const qsizetype dot = p.indexOf(AFormat.DecimalSeparator);
      if (dot >= 0) {
        const QString frac = p.mid(dot + 1);
        if (!AllDigits(frac) || frac.size() > 3) return false;
        msec = QString(frac + "00").left(3).toInt();
        p = p.left(dot);
      }
    }
    if (!AllDigits(p) || p.size() > 2) return false;
    values[i] = p.toInt();
  }
  if (values[0] > 23 || values[1] > 59 || values[2] > 59) return false;
  AFraction = ((values[0] * 3600 + values[1] * 60 + values[2]) * 1000.0 + msec) / 86400000.0;
  return true;
}

}  // namespace

// A date format of digits only, in the locale's order: typed dates are
// numbers, so month names ("d MMM yyyy") become month numbers and a blank
// separator becomes ASep.
QString NumericDateFormat(const QString& AFormat, QChar ASep) {
  QStringList tokens;
  for (qsizetype i = 0; i < AFormat.size();) {
    const QChar c = AFormat[i];
    qsizetype j = i;
    while (j < AFormat.size() && AFormat[j] == c) ++j;
    const qsizetype run = j - i;
    if (c == 'd' && run <= 2)
      tokens << QString(run, 'd');
    else if (c == 'M')
      tokens << (run <= 2 ? QString(run, 'M') : QStringLiteral("M"));
    else if (c == 'y')
      tokens << (run <= 2 ? QStringLiteral("yy") : QStringLiteral("yyyy"));
    i = j;
  }
  if (tokens.size() != 3) return QStringLiteral("d.M.yyyy").replace('.', ASep);
  return tokens.join(ASep);
}

TFormatSettings TFormatSettings::FromLocale(const QLocale& ALocale) {
  TFormatSettings f;
  const QString date = ALocale.dateFormat(QLocale::ShortFormat);
  f.DateSeparator = FirstSeparator(date, '.');
  f.ShortDateFormat = NumericDateFormat(date, f.DateSeparator);
  QString time = ALocale.timeFormat(QLocale::LongFormat);
  // Typed times are digits and separators: no zone name, and 24 hours
  // instead of an AM/PM marker.
  time.remove('t');
  if (time.contains("AP", Qt::CaseInsensitive)) {
    time.remove("AP", Qt::CaseInsensitive);
    time.replace('h', 'H');
  }
  f.LongTimeFormat = time.trimmed();
  f.TimeSeparator = FirstSeparator(f.LongTimeFormat, ':');
  const QString dec = ALocale.decimalPoint();
  f.DecimalSeparator = dec.isEmpty() ? QChar('.') : dec.at(0);
  return f;
}

const TFormatSettings& FormatSettings() {
  if (Override()) return *Override();
  static const TFormatSettings system = TFormatSettings::FromLocale(QLocale::system());
  return system;
}

void SetFormatSettings(const TFormatSettings& ASettings) { Override() = ASettings; }

void ResetFormatSettings() { Override().reset(); }

QDate CurrentDate() {
  if (DateFunction()) return DateFunction()();
  return QDate::currentDate();
}

void SetCurrentDateFunction(std::function<QDate()> AFunction) {
  DateFunction() = std::move(AFunction);
}

bool TryStrToInt(const QString& AText, int32_t& AValue) {
  return ParseInteger(AText.toStdString(), AValue);
}

bool TryStrToFloat(const QString& AText, double& AValue, const TFormatSettings& ASettings) {
  const QString t = AText.trimmed();
  qsizetype i = 0;
  const qsizetype n = t.size();
  QString c;
  if (i < n && (t[i] == '+' || t[i] == '-')) c += t[i++];
  int mantissaDigits = 0;
  while (i < n && t[i] >= '0' && t[i] <= '9') {
    c += t[i++];
    ++mantissaDigits;
  }
  if (i < n && t[i] == ASettings.DecimalSeparator) {
    c += '.';
    ++i;
    while (i < n && t[i] >= '0' && t[i] <= '9') {
      c += t[i++];
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    c += 'e';
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) c += t[i++];
    int expDigits = 0;
    while (i < n && t[i] >= '0' && t[i] <= '9') {
      c += t[i++];
      ++expDigits;
    }
    if (expDigits == 0) return false;
  }
  if (i != n) return false;
  bool ok = false;
  const double v = c.toDouble(&ok);
  if (!ok || !std::isfinite(v)) return false;
  AValue = v;
  return true;
}

bool TryStrToDateTime(const QString& AText, double& AValue, const TFormatSettings& ASettings) {
  const QString t = AText.trimmed();
  if (t.isEmpty()) return false;
  static const QDate origin(1899, 12, 30);
  QString datePart, timePart;
  if (t.contains(ASettings.DateSeparator) && ASettings.DateSeparator != ASettings.TimeSeparator) {
    const qsizetype blank = t.indexOf(' ');
    datePart = blank < 0 ? t : t.left(blank);
    timePart = blank < 0 ? QString() : t.mid(blank + 1).trimmed();
  } else {
    timePart = t;
  }
  double value = 0;
  if (!datePart.isEmpty()) {
    QDate date;
    if (!ScanDate(datePart, ASettings, date)) return false;
    value = double(origin.daysTo(date));
  }
  if (!timePart.isEmpty()) {
    double fraction = 0;
    if (!ScanTime(timePart, ASettings, fraction)) return false;
    value += value < 0 ? -fraction : fraction;
  }
  AValue = value;
  return true;
}

QString FromStd(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString CountText(uint64_t n) { return QLocale().toString(static_cast<qulonglong>(n)); }

QString JoinWidths(const QList<int>& widths) {
  QStringList parts;
  for (int w : widths) parts << QString::number(w);
  return parts.join(',');
}

QList<int> SplitWidths(const std::string& text) {
  QList<int> widths;
  for (const QString& part : QString::fromStdString(text).split(',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const int w = part.trimmed().toInt(&ok);
    if (!ok) return {};
    widths << w;
  }
  return widths;
}
