// Marks, moving about the traffic view, and playing an opened capture, in
// the main window: marks made while recording come back with the capture,
// F2 / Shift+F2 and the list "Značky" select their rows, "Přejít na čas"
// the first row at or after a moment, and a playback moves the grid from
// the selected row to the capture's end.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <string>

#include "app/CaptureControl.h"
#include "app/MarkControl.h"
#include "app/PlaybackControl.h"
#include "app/TrafficView.h"
#include "app/uVantrelBus.h"
#include "controls/SortGrPm.h"
#include "session/BusSession.h"
#include "support/Child.h"
#include "support/PtyPair.h"
#include "support/TestBytes.h"
#include "support/WindowTest.h"

namespace {

constexpr int64_t kT0 = 1796738585000000;  // 2026-12-08T14:03:05Z

// Device 5 called and a turnout of it; the central's status and power on;
// device 6 and a locomotive; a reconnect; power $81, device 5 inactive.
const char* const kLog =
    "# vantrel-capture 1\n"
    "# line 115200 8N1\n"
    "# start 2026-12-08T14:03:05.000000Z\n"
    "(1796738585.100000) C5 4A 41 00 0B\n"
    "(1796738586.200000) 00 00 8C 2D 00 13 04 00 80 80\n"
    "(1796738587.300000) C6 61 63 00 03 8A\n"
    "# gap 2.000000\n"
    "(1796738590.000000) 00 81 81 05 4A 40 01 0B\n";

class MarksWindow : public TWindowTest {
protected:
  void SetUp() override {
    TWindowTest::SetUp();
    if (HasFatalFailure()) return;
    Window = new TFormVantrelBus;
    Marks = Window->Marks();
    View = Child<TTrafficView>(Window, "TrafficView");
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
  }
  bool Open(const char* name, const std::string& text) {
    QFile f(Path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
    f.close();
    return Window->Captures()->OpenCapture(f.fileName()) && Window->Captures()->WaitLoaded(20000) &&
           Window->Captures()->CaptureOpen();
  }
  // The item of the traffic view's current row.
  uint64_t Current() const {
    const QModelIndex i = View->Table->currentIndex();
    return i.isValid() ? View->Model->SeqAt(i.row()) : ~uint64_t{0};
  }
  QStringList Grid() const {
    QStringList s;
    auto* grid = Child<TSortGridPemra>(Window, "GridDeviceList");
    for (int r = 1; r <= 31; ++r)
      for (int c = 0; c < 5; ++c) s << grid->Cells(c, r);
    s << Child<QLabel>(Window, "PanelPower")->text();
    return s;
  }

  TMarkControl* Marks = nullptr;
  TTrafficView* View = nullptr;
};

}  // namespace

// Marked live while recording (with M on a row, and by the entry point a
// trigger uses), read back when the recording is opened: each mark on its
// item, and the keys and the list move between them.
TEST_F(MarksWindow, MarksMadeWhileRecordingComeBackWithTheCapture) {
  TPtyPair pty;
  Window->SetPortOverride(pty.Path);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  ASSERT_TRUE(pty.Send(Bytes({0xC5, 0x4A, 0x41, 0x00, 0x0B})));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window->Traffic().TotalItems() >= 2; }, 5000));
  QTest::qWait(20);  // the recording begins after the first items' times
  Window->Captures()->AskRecordPath = [&](const QString&) { return Path("m.vlog"); };
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonRecord"), Qt::LeftButton);
  ASSERT_TRUE(Window->Captures()->Recording());
  ASSERT_TRUE(pty.Send(Bytes({0xC6, 0x61, 0x63, 0x00, 0x03, 0x8A, 0xC5, 0x4A, 0x42, 0x00, 0x08})));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window->Traffic().TotalItems() >= 6; }, 5000));
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);
  const TTrafficRing& live = Window->Traffic();
  const std::string loco = Bytes({0x61, 0x63, 0x00, 0x03, 0x8A});
  const std::string turnout = Bytes({0x4A, 0x42, 0x00, 0x08});
  ASSERT_EQ(live.Bytes(3), loco);
  ASSERT_EQ(live.Bytes(5), turnout);

  // M on the recorded turnout's row; the entry point on the locomotive's, and
  // on the first turnout's, which came before the recording: listed, but not
  // in the capture (there it would land on another item).
  ASSERT_TRUE(View->SelectItem(5));
  Marks->AskMarkText = [](const QString&) { return QString::fromUtf8("výhybka 5"); };
  View->Table->setFocus();
  QTest::keyClick(View->Table, Qt::Key_M);
  EXPECT_TRUE(Marks->AddMark(3, QString::fromUtf8("lokomotiva")));
  EXPECT_TRUE(Marks->AddMark(1, QString::fromUtf8("před záznamem")));
  EXPECT_FALSE(Marks->AddMark(99, "none such"));
  ASSERT_EQ(Marks->Marks().Count(), 3u);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonRecord"), Qt::LeftButton);
  ASSERT_FALSE(Window->Captures()->Recording());
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);

  ASSERT_TRUE(Window->Captures()->OpenCapture(Path("m.vlog")));
  ASSERT_TRUE(Window->Captures()->WaitLoaded(20000));
  const TCaptureContents* capture = Window->Captures()->Capture();
  ASSERT_NE(capture, nullptr);
  EXPECT_EQ(capture->MalformedLines, 0u);
  const auto& marks = Marks->Marks().Items();
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(capture->Session->History().Bytes(marks[0].Seq), loco);
  EXPECT_EQ(marks[0].Text, "lokomotiva");
  EXPECT_EQ(capture->Session->History().Bytes(marks[1].Seq), turnout);
  EXPECT_EQ(marks[1].Text, "výhybka 5");

  // From no row: F2 goes to the first mark, on to the second, then no more.
  View->Table->selectionModel()->clear();
  View->Table->setCurrentIndex(QModelIndex());
  QTest::keyClick(View->Table, Qt::Key_F2);
  EXPECT_EQ(Current(), marks[0].Seq);
  QTest::keyClick(View->Table, Qt::Key_F2);
  EXPECT_EQ(Current(), marks[1].Seq);
  EXPECT_FALSE(Marks->GoToMark(true));
  EXPECT_EQ(Marks->Note(), QString::fromUtf8("Žádná další značka"));
  EXPECT_EQ(Current(), marks[1].Seq) << "stays where it was";
  QTest::keyClick(View->Table, Qt::Key_F2, Qt::ShiftModifier);
  EXPECT_EQ(Current(), marks[0].Seq);

  // The list: each entry selects its row; a mark removed is gone.
  Marks->ShowMarkList();
  QTreeWidget* list = Child<QTreeWidget>(Marks->DialogMarks.data(), "ListMarks");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(1)->text(1), QString::fromUtf8("výhybka 5"));
  list->setCurrentItem(list->topLevelItem(1));
  EXPECT_EQ(Current(), marks[1].Seq);
  QTest::mouseClick(Child<QPushButton>(Marks->DialogMarks.data(), "ButtonRemoveMark"),
                    Qt::LeftButton);
  EXPECT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(Marks->Marks().Count(), 1u);
}

TEST_F(MarksWindow, GoToTimeSelectsTheFirstRowAtOrAfterTheMoment) {
  ASSERT_TRUE(Open("run.vlog", kLog));
  const TTrafficSource& traffic = Window->Captures()->Capture()->Session->History();
  auto local = [](int64_t us, const char* format) {
    return QDateTime::fromMSecsSinceEpoch(us / 1000).toString(QString::fromLatin1(format));
  };
  // Between the status (1.2 s) and the read of device 6 (2.3 s): the first
  // row after (the call bytes are hidden).
  EXPECT_TRUE(Marks->GoToTime(local(kT0 + 2'000'000, "HH:mm:ss")));
  EXPECT_EQ(traffic.Bytes(Current()), Bytes({0x61, 0x63, 0x00, 0x03, 0x8A}));
  EXPECT_TRUE(Marks->GoToTime(local(kT0 + 1'000'000, "d. M. yyyy HH:mm:ss")));
  EXPECT_EQ(traffic.Bytes(Current()).substr(0, 2), Bytes({0x00, 0x00}));
  // The first row itself, by the minute.
  const uint64_t firstRow = View->Model->SeqAt(0);
  EXPECT_TRUE(Marks->GoToTime(local(kT0, "HH:mm")));
  EXPECT_EQ(Current(), firstRow);
  // After the last row, and not a moment at all: the row stays, a note says why.
  EXPECT_FALSE(Marks->GoToTime(local(kT0 + 6'000'000, "yyyy-MM-dd HH:mm:ss")));
  EXPECT_FALSE(Marks->Note().isEmpty());
  EXPECT_FALSE(Marks->GoToTime("zítra"));
  EXPECT_EQ(Current(), firstRow);
  // A time of day before the first item is the next day's: no row then.
  EXPECT_FALSE(Marks->GoToTime(local(kT0 - 60'000'000, "HH:mm:ss")));

  int64_t us = 0;
  EXPECT_TRUE(TMarkControl::ParseMoment("14:03:05.250", kT0, us));
  EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(us / 1000).time(), QTime(14, 3, 5, 250));
  EXPECT_FALSE(TMarkControl::ParseMoment("25:00", kT0, us));
  EXPECT_FALSE(TMarkControl::ParseMoment("", kT0, us));
}

// Played from the selected row, the grid and the power panel move through
// the capture's states and end where the capture ends; "Zastavit" shows the
// whole capture again.
TEST_F(MarksWindow, PlaybackMovesTheGridFromTheSelectedRowToTheEnd) {
  ASSERT_TRUE(Open("run.vlog", kLog));
  TPlaybackControl* playback = Window->Playback();
  ASSERT_TRUE(Child<QFrame>(Window, "PanelPlayback")->isVisible());
  const QStringList end = Grid();
  const std::size_t items = Window->Captures()->Capture()->Session->History().Count();
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);
  // From the status message on: device 5's turnout never plays.
  const int rows = View->Model->rowCount();
  ASSERT_TRUE(View->SelectItem(2));
  ASSERT_EQ(Current(), 2u);
  QComboBox* speed = Child<QComboBox>(Window, "ComboSpeed");
  speed->setCurrentIndex(speed->findText(QString::fromUtf8("4×")));
  EXPECT_EQ(playback->Speed(), 4);
  QSignalSpy finished(playback, &TPlaybackControl::Finished);
  QTest::mouseClick(Child<QToolButton>(Window, "ButtonPlay"), Qt::LeftButton);
  ASSERT_TRUE(playback->Playing());
  EXPECT_EQ(Child<QToolButton>(Window, "ButtonPlay")->text(), QString::fromUtf8("Pozastavit"));
  const QStringList first = Grid();
  EXPECT_NE(first, end) << "the start is not the end";
  // The status message first; on a slow machine the next items may follow
  // before this line runs.
  EXPECT_GE(View->Model->rowCount(), 1) << "the status message at once";
  ASSERT_TRUE(finished.wait(10000));
  EXPECT_EQ(playback->Session()->Traffic().Count(), items - 2);
  EXPECT_EQ(View->Model->rowCount(), rows - 1) << "all rows but the turnout's";
  // The turnout of device 5 before the start did not play; the rest is the end.
  const QStringList played = Grid();
  EXPECT_EQ(played.last(), end.last()) << "the power panel";
  EXPECT_TRUE(played.join(' ').contains("61 63 00 03 8A"));
  EXPECT_FALSE(played.join(' ').contains("4A 41 00 0B"));
  EXPECT_TRUE(Child<QLabel>(Window, "LabelPast")->text().contains(QString::fromUtf8("přehrávání")))
      << "the banner says what the grid shows";

  QTest::mouseClick(Child<QToolButton>(Window, "ButtonStopPlayback"), Qt::LeftButton);
  EXPECT_FALSE(playback->Active());
  EXPECT_EQ(View->Model->rowCount(), rows);
  EXPECT_EQ(Grid(), end);
  EXPECT_TRUE(Child<QLabel>(Window, "LabelPast")->text().contains(QString::fromUtf8("na konci")));

  // Closing the capture during a playback ends it and hides the bar.
  ASSERT_TRUE(playback->Play());
  Window->Captures()->CloseCapture();
  EXPECT_FALSE(playback->Active());
  EXPECT_FALSE(Child<QFrame>(Window, "PanelPlayback")->isVisibleTo(Window));
}
