// What every test of the main window needs: a settings file of its own in a
// temporary folder (none yet: the defaults), the C locale, message boxes
// answered "OK" and kept in Boxes, an empty message queue before and after,
// and the window (made by the test) deleted at the end.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QLocale>
#include <QStringList>
#include <QTemporaryDir>

#include "app/uVantrelBus.h"
#include "bus/uVantrelThr.h"
#include "config/Settings.h"
#include "controls/MsgBox.h"

class TWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    SetSettingsFileName(Path("test.ini").toStdString());
    LoadSettings();
    QLocale::setDefault(QLocale::c());
    OldBox = SetMessageBoxHandler(
        [this](QWidget*, const QString&, const QString& text, TMsgIcon, TMsgButtons) {
          Boxes << text;
          return TMsgResult::Ok;
        });
    EmptyQueue();
  }
  void TearDown() override {
    delete Window;
    Window = nullptr;
    SetMessageBoxHandler(OldBox);
    EmptyQueue();
    MonitorSettings = {};
  }
  static void EmptyQueue() {
    ByteString rest;
    do QueueTakeFirst(rest);
    while (!rest.empty());
  }
  QString Path(const char* name) const { return QDir(Dir.path()).filePath(name); }

  QTemporaryDir Dir;
  TMessageBoxHandler OldBox;
  QStringList Boxes;
  TFormVantrelBus* Window = nullptr;
};
