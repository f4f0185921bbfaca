#include "ControlsTestUtil.h"
#include "controls/VCtrlPm.h"

#include <QLocale>

namespace {

struct TRow {
  const char* Typed;
  const char* Date;
  const char* Time;
};

// The worked examples: today 6 December 2026, "." and ":" separators.
const TRow CompletionTable[] = {
    {"5", "5.12.2026", "5:00:00"},
    {"5.", "5.12.2026", "5:00:00"},
    {"5/3", "5.3.2026", "5:3:00"},
    {"5-3-", "5.3.2026", "5:3:00"},
    {"5.3.99", "5.3.99", "5:3:99"},
    {"050399", "05.03.99", "05:03:99"},
    {"+7", "6.12.2026", "0:00:00"},
    {"5..3", "", ""},
    {"123", "", ""},
    {"ab", "", ""},
};

}  // namespace

class ControlsCompletion : public ControlsFixture {};

TEST_F(ControlsCompletion, RoutinesFollowTheWorkedExamples) {
  const QDateTime ref(TableToday(), QTime(0, 0));
  for (const TRow& row : CompletionTable) {
    QString date = QString::fromUtf8(row.Typed);
    const bool dateOk = CompleteDate(date, ref, TableLocale());
    EXPECT_EQ(date, QString::fromUtf8(row.Date)) << row.Typed;
    EXPECT_EQ(dateOk, *row.Date != 0) << row.Typed;
    QString time = QString::fromUtf8(row.Typed);
    const bool timeOk = CompleteTime(time, ref, TableLocale());
    EXPECT_EQ(time, QString::fromUtf8(row.Time)) << row.Typed;
    EXPECT_EQ(timeOk, *row.Time != 0) << row.Typed;
  }
}

TEST_F(ControlsCompletion, DateAndTimeEditsFollowTheWorkedExamples) {
  TEditPemra date, time;
  date.SetEditType(ttDate);
  time.SetEditType(ttTime);
  for (const TRow& row : CompletionTable) {
    date.SetText(QString::fromUtf8(row.Typed));
    EXPECT_EQ(date.Text(), QString::fromUtf8(row.Date)) << row.Typed;
    time.SetText(QString::fromUtf8(row.Typed));
    EXPECT_EQ(time.Text(), QString::fromUtf8(row.Time)) << row.Typed;
  }
  EXPECT_TRUE(Boxes.empty());  // failed completions are silent
}

TEST_F(ControlsCompletion, TimeExamplesAndLongTexts) {
  const QDateTime ref(TableToday(), QTime(0, 0));
  const TFormatSettings f = TableLocale();
  QString s = "12";
  EXPECT_TRUE(CompleteTime(s, ref, f));
  EXPECT_EQ(s, "12:00:00");
  s = "123456";
  EXPECT_TRUE(CompleteTime(s, ref, f));
  EXPECT_EQ(s, "12:34:56");
  s = "12::";
  EXPECT_FALSE(CompleteTime(s, ref, f));
  EXPECT_EQ(s, "");
  // Long texts are cut: dates to 10 characters, times to 8.
  s = "01.02.2026 12:00";
  EXPECT_TRUE(CompleteDate(s, ref, f));
  EXPECT_EQ(s, "01.02.2026");
  s = "12:34:56 and more";
  EXPECT_TRUE(CompleteTime(s, ref, f));
  EXPECT_EQ(s, "12:34:56");
  s = "  \t5-3  ";
  EXPECT_TRUE(CompleteDate(s, ref, f));
  EXPECT_EQ(s, "5.3.2026");
  s = "   ";
  EXPECT_TRUE(CompleteDate(s, ref, f));
  EXPECT_EQ(s, "   ");  // nothing to complete: left as it was
}

TEST_F(ControlsCompletion, SeparatorHelpers) {
  const TFormatSettings f = TableLocale();
  QString t = "1*2?3";
  EXPECT_EQ(ReplaceSeparator(t, 2, '.'), 4);
  EXPECT_EQ(t, "1*2.3");
  EXPECT_EQ(ReplaceSeparator(t, 3, '.'), 0);
  EXPECT_EQ(t, "1*2.3");
  EXPECT_EQ(FindSeparator("6.12:30", 2, f), 5);
  EXPECT_EQ(FindSeparator("6-12", 1, f), 0);  // "-" is typed, not a system separator
  EXPECT_EQ(TextAfterSeparator("6.12.2026", 1, f), "12.2026");
  EXPECT_EQ(TextAfterSeparator("6.12.2026", 2, f), "2026");
  EXPECT_EQ(TextAfterSeparator("2026", 1, f), "");
  EXPECT_TRUE(IsDateTimeText("", f));
  EXPECT_TRUE(IsDateTimeText(" 1.2:3", f));
  EXPECT_FALSE(IsDateTimeText("1-2", f));
}

TEST_F(ControlsCompletion, NumberConversions) {
  int32_t v = 0;
  EXPECT_TRUE(TryStrToInt("  -42", v));
  EXPECT_EQ(v, -42);
  EXPECT_TRUE(TryStrToInt("$1F", v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(TryStrToInt("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_FALSE(TryStrToInt("2147483648", v));
  EXPECT_FALSE(TryStrToInt("12a", v));
  EXPECT_FALSE(TryStrToInt("12 ", v));
  EXPECT_FALSE(TryStrToInt("", v));
  EXPECT_FALSE(TryStrToInt("$", v));

  const TFormatSettings f = TableLocale();
  EXPECT_EQ(FormatFloatFixed(3.14159, 15, 2, f), "3,14");
  EXPECT_EQ(FormatFloatFixed(-2.5, 15, 0, f), "-3");  // halves round away from zero
  EXPECT_EQ(FormatFloatFixed(-0.001, 15, 2, f), "0,00");
  EXPECT_EQ(FormatFloatFixed(123.456, 4, 2, f), "123,50");  // 4 significant digits first
  EXPECT_TRUE(FormatFloatFixed(123456.0, 3, 2, f).contains('E'));
  double d = 0;
  EXPECT_TRUE(TryStrToFloat(" 1,5e2 ", d, f));
  EXPECT_DOUBLE_EQ(d, 150.0);
  EXPECT_FALSE(TryStrToFloat("1.5", d, f));  // a full stop is no decimal separator here
  EXPECT_FALSE(TryStrToFloat("1 000", d, f));
  EXPECT_FALSE(TryStrToFloat("inf", d, f));
}

TEST_F(ControlsCompletion, LocaleFormatsAreMadeNumeric) {
  // Month names and AM/PM markers cannot be typed back: such formats are
  // turned into digits in the locale's order.
  const TFormatSettings c = TFormatSettings::FromLocale(QLocale::c());
  EXPECT_EQ(c.ShortDateFormat, "d.M.yyyy");
  EXPECT_EQ(c.DateSeparator, QChar('.'));
  EXPECT_EQ(c.DecimalSeparator, QChar('.'));
  const TFormatSettings us =
      TFormatSettings::FromLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(us.ShortDateFormat, "M/d/yy");
  EXPECT_EQ(us.DateSeparator, QChar('/'));
  EXPECT_EQ(us.LongTimeFormat, "H:mm:ss");
  const TFormatSettings cz = TFormatSettings::FromLocale(QLocale(QLocale::Czech, QLocale::Czechia));
  EXPECT_EQ(cz.DateSeparator, QChar('.'));
  EXPECT_EQ(cz.DecimalSeparator, QChar(','));

  // A completed text reads back as a date in that locale's order.
  QString s = "5/3";
  ASSERT_TRUE(CompleteDate(s, QDateTime(TableToday(), QTime(0, 0)), us));
  EXPECT_EQ(s, "5/3/26");
  double us53 = 0, cz53 = 0;
  ASSERT_TRUE(TryStrToDateTime(s, us53, us));
  ASSERT_TRUE(TryStrToDateTime("3.5.2026", cz53, TableLocale()));
  EXPECT_EQ(us53, cz53);
  s = "5";
  ASSERT_TRUE(CompleteTime(s, QDateTime(TableToday(), QTime(0, 0)), us));
  EXPECT_EQ(s, "5:00:00");
}
