// Shared by the controls tests: the locale the completion examples assume,
// a fixed "today", and a recorder in place of modal message boxes.
#pragma once

#include "controls/Convert.h"
#include "controls/MsgBox.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QTest>
#include <QWidget>

inline TFormatSettings TableLocale() {
  TFormatSettings f;
  f.DateSeparator = '.';
  f.TimeSeparator = ':';
  f.DecimalSeparator = ',';
  f.ShortDateFormat = "d.M.yyyy";
  f.LongTimeFormat = "H:mm:ss";
  return f;
}

inline QDate TableToday() { return QDate(2026, 12, 6); }

// Types AText character by character, like a keyboard whose keys produce
// these characters (QTest's own helpers know only ASCII).
inline void TypeText(QWidget* AWidget, const QString& AText) {
  for (QChar c : AText)
    QTest::sendKeyEvent(QTest::Click, AWidget,
                        c.unicode() < 128 ? Qt::Key(QChar(c).toUpper().unicode()) : Qt::Key_unknown,
                        QString(c), Qt::NoModifier);
}

struct TRecordedBox {
  QString Title;
  QString Text;
  TMsgIcon Icon;
};

class ControlsFixture : public ::testing::Test {
protected:
  void SetUp() override {
    SetFormatSettings(TableLocale());
    SetCurrentDateFunction([] { return TableToday(); });
    FOldHandler = SetMessageBoxHandler(
        [this](QWidget*, const QString& ATitle, const QString& AText, TMsgIcon AIcon, TMsgButtons) {
          Boxes.push_back({ATitle, AText, AIcon});
          return TMsgResult::Ok;
        });
    FOldReporter =
        SetErrorReporter([this](const QString& AMessage) { Errors.push_back(AMessage); });
  }
  void TearDown() override {
    SetMessageBoxHandler(FOldHandler);
    SetErrorReporter(FOldReporter);
    ResetFormatSettings();
    SetCurrentDateFunction({});
  }
  // Shows a top-level widget and makes it the active window, so that
  // focus moves as for a user.
  static void Activate(QWidget& AWindow) {
    AWindow.show();
    QApplication::setActiveWindow(&AWindow);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&AWindow));
  }

  std::vector<TRecordedBox> Boxes;
  std::vector<QString> Errors;

private:
  TMessageBoxHandler FOldHandler;
  TErrorReporter FOldReporter;
};
