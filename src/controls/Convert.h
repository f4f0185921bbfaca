// Locale-dependent text conversions shared by the grid and the typed edit:
// separators and formats of the user's regional settings, and the lenient
// integer, float and date-time readers that the controls use.
#pragma once

#include <QChar>
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

// UTF-8 text of the Qt-free layers as a QString.
QString FromStd(std::string_view text);
// A count with the digit grouping of the default locale ("1,234,567").
QString CountText(uint64_t n);

// Column widths as the settings keep them ("96,30,180"); unusable parts
// are left out.
QString JoinWidths(const QList<int>& widths);
QList<int> SplitWidths(const std::string& text);

// Text placement inside a cell or an edit.
enum TAlignment { taLeftJustify = 0, taRightJustify = 1, taCenter = 2 };

// Thrown when a text that must be a date or time is not one.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Separators and formats; the formats use Qt's date/time format letters
// (d, M, yy/yyyy, H/h, mm, ss).
struct TFormatSettings {
  QChar DateSeparator = '.';
  QChar TimeSeparator = ':';
  QChar DecimalSeparator = ',';
  QString ShortDateFormat = "d.M.yyyy";
  QString LongTimeFormat = "H:mm:ss";

  // Taken from a locale (QLocale::system() for the user's settings).
  static TFormatSettings FromLocale(const class QLocale& ALocale);
};

// The settings the controls use: the user's locale unless replaced (tests).
const TFormatSettings& FormatSettings();
void SetFormatSettings(const TFormatSettings& ASettings);
void ResetFormatSettings();

// "Today" for date and time completion; replaceable so tests do not depend
// on the calendar.  An empty function restores the system clock.
QDate CurrentDate();
void SetCurrentDateFunction(std::function<QDate()> AFunction);

// 32-bit integer as ParseInteger reads it: leading blanks, a sign for
// decimal numbers, "$" or "0x" (also "x") before hexadecimal digits; nothing
// may follow the digits.
bool TryStrToInt(const QString& AText, int32_t& AValue);

// Float with ASettings.DecimalSeparator (no thousands separators); leading
// and trailing blanks allowed, optional exponent.
bool TryStrToFloat(const QString& AText, double& AValue, const TFormatSettings& ASettings);

// Date-time value: days since 30 December 1899, the fraction the time of day.
// Accepts a date, a time, or a date followed by a time, ordered as in
// ASettings.ShortDateFormat; a missing year is the current one.
bool TryStrToDateTime(const QString& AText, double& AValue, const TFormatSettings& ASettings);
