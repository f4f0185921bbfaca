// The traffic view in the main window, fed over a real pseudo-terminal:
// pause, filter and find driven by keys, the grid's double-click, the status
// bar, the right-hand side's buttons, room when the window grows, settings.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <unistd.h>

#include <string>

#include "../support/Captions.h"
#include "app/StatusBar.h"
#include "app/TrafficView.h"
#include "app/uVantrelBus.h"
#include "bus/uVantrelThr.h"
#include "config/Settings.h"
#include "controls/MsgBox.h"
#include "controls/SortGrPm.h"
#include "series/SeriesStore.h"
#include "support/Child.h"
#include "support/PtyPair.h"
#include "support/TestBytes.h"
#include "support/WindowTest.h"

namespace {

class TrafficWindow : public TWindowTest {
protected:
  void SetUp() override {
    TWindowTest::SetUp();
    if (HasFatalFailure()) return;
    Open();
  }
  void Open() {
    Window = new TFormVantrelBus;
    View = Child<TTrafficView>(Window, "TrafficView");
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
    QApplication::setActiveWindow(Window);  // window shortcuts (Pause, F3) need it
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window));
  }
  QString Ini() const { return Path("test.ini"); }
  void Connect() {
    Window->SetPortOverride(Pty.Path);
    QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
    ASSERT_TRUE(Child<QAction>(Window, "ActionConnect")->isChecked());
  }
  int Rows() const { return View->Model->rowCount(); }
  bool WaitRecorded(uint64_t n) {
    return QTest::qWaitFor([&] { return Window->Traffic().TotalItems() >= n; }, 3000);
  }

  TPtyPair Pty;
  TTrafficView* View = nullptr;
};

// Device 5 active, a turnout, device 6 active, a locomotive; 4 items.
const std::string kRound =
    Bytes({0xC5, 0x4A, 0x41, 0x00, 0x0B, 0xC6, 0x61, 0x63, 0x00, 0x03, 0x8A});

}  // namespace

TEST_F(TrafficWindow, PauseFilterAndFindByKeysOnARealPty) {
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);
  ASSERT_TRUE(View->isVisible());
  EXPECT_FALSE(Child<TSortGridPemra>(Window, "GridDeviceList")->isVisible());
  Connect();
  const int64_t before = WallClockUs();
  ASSERT_TRUE(Pty.Send(kRound));
  ASSERT_TRUE(WaitRecorded(4));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Rows() == 2; }, 3000)) << "calls hidden";
  const TTrafficRing& ring = Window->Traffic();
  // An item's time is its last byte's: the read's time less the bytes after
  // it on the line (at most 12 bits a byte).
  const auto lineUs = static_cast<int64_t>(kRound.size() * 12e6 / Settings.Baud);
  EXPECT_GE(ring.Item(ring.First()).TimeUs, before - lineUs) << "the reader's receive time";
  EXPECT_LE(ring.Item(ring.First()).TimeUs, WallClockUs());
  EXPECT_EQ(View->Model->CellText(0, TTrafficModel::colDevice), "05");
  EXPECT_EQ(View->Model->CellText(1, TTrafficModel::colComment), "Loko #3 rychlost P 9");

  // Pause: what is shown stays, the button counts what comes.
  QTest::keyClick(Window, Qt::Key_Pause);
  ASSERT_TRUE(View->Paused());
  ASSERT_TRUE(Pty.Send(kRound + kRound));
  ASSERT_TRUE(WaitRecorded(12));
  ASSERT_TRUE(QTest::qWaitFor([&] { return View->ButtonPause->text() == "Pozastavit (+8)"; }, 3000))
      << View->ButtonPause->text().toStdString();
  EXPECT_EQ(Rows(), 2);
  QTest::keyClick(Window, Qt::Key_Pause);
  EXPECT_FALSE(View->Paused());
  EXPECT_EQ(Rows(), 6) << "resuming shows everything that came";

  // Filter: typed into its field, applied by Enter.
  View->EditFilter->setFocus();
  QTest::keyClicks(View->EditFilter, "vyhybka");
  QTest::keyClick(View->EditFilter, Qt::Key_Return);
  EXPECT_EQ(Rows(), 3);
  for (int r = 0; r < Rows(); ++r)
    EXPECT_EQ(View->Model->CellText(r, TTrafficModel::colComment), "Vyhybka 2 L T");
  QTest::keyClick(View->EditFilter, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(View->EditFilter, Qt::Key_Delete);
  QTest::keyClick(View->EditFilter, Qt::Key_Return);
  EXPECT_EQ(Rows(), 6);

  // Find: Ctrl+F, the text, F3 forwards and Shift+F3 back.
  QTest::keyClick(Window, Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(View->EditFind->hasFocus());
  QTest::keyClicks(View->EditFind, "61 63");
  QTest::keyClick(View->EditFind, Qt::Key_F3);
  EXPECT_EQ(View->Table->currentIndex().row(), 1);
  EXPECT_EQ(View->HighlightSeq(), View->Model->SeqAt(1));
  QTest::keyClick(View->EditFind, Qt::Key_F3);
  EXPECT_EQ(View->Table->currentIndex().row(), 3);
  QTest::keyClick(View->EditFind, Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(View->Table->currentIndex().row(), 1);
  EXPECT_FALSE(View->Following()) << "the match stays in view";

  // The log button takes the right-hand side over, and gives it back to the grid.
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonLog"), Qt::LeftButton);
  EXPECT_TRUE(Child<QPlainTextEdit>(Window, "MemoLog")->isVisible());
  EXPECT_FALSE(View->isVisible());
  EXPECT_FALSE(Child<QToolButton>(Window, "SpeedButtonTraffic")->isChecked());
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonLog"), Qt::LeftButton);
  EXPECT_TRUE(Child<TSortGridPemra>(Window, "GridDeviceList")->isVisible());
  EXPECT_FALSE(Child<QPlainTextEdit>(Window, "MemoLog")->isVisible());
}

TEST_F(TrafficWindow, DoubleClickOnADeviceRowShowsThatDevicesTraffic) {
  Connect();
  ASSERT_TRUE(Pty.Send(kRound));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Child<TSortGridPemra>(Window, "GridDeviceList")->Cells(1, 2) == "06"; }, 3000));
  TSortGridPemra* grid = Child<TSortGridPemra>(Window, "GridDeviceList");
  const QRect cell = grid->CellRect(3, 2);
  ASSERT_FALSE(cell.isEmpty());
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_TRUE(View->isVisible());
  EXPECT_TRUE(Child<QToolButton>(Window, "SpeedButtonTraffic")->isChecked());
  EXPECT_EQ(View->Filter().Devices, 1u << 6);
  // The filtered rows may be found in slices: wait for them.
  QTest::qWaitFor([&] { return Rows() == 1; }, 5000);
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(View->Model->CellText(0, TTrafficModel::colHex), "61 63 00 03 8A");
}

TEST_F(TrafficWindow, StatusBarShowsTheLineAndItsQuality) {
  EXPECT_EQ(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelPort->text(), "odpojeno");
  Connect();
  EXPECT_EQ(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelPort->text(),
            QString::fromStdString(Pty.Path));
  // Eleven good bytes, then two lone bytes and a run of three nobody can place.
  ASSERT_TRUE(Pty.Send(kRound));
  ASSERT_TRUE(WaitRecorded(4));
  ASSERT_TRUE(Pty.Send(Bytes({0x01})));
  ASSERT_TRUE(WaitRecorded(5));
  ASSERT_TRUE(Pty.Send(Bytes({0x21})));
  ASSERT_TRUE(WaitRecorded(6));
  ASSERT_TRUE(Pty.Send(Bytes({0x20, 0x01, 0x02})));
  ASSERT_TRUE(WaitRecorded(7));
  // The figures are taken once a second: the first tick may come before
  // the last item was drawn (a drain every 200 ms, a busy machine).
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelTotal->text() ==
               "celkem 7";
      },
      3000))
      << Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelTotal->text().toStdString();
  EXPECT_TRUE(
      Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelTime->text().startsWith("0:00:0"));
  // The tick that showed the total may have come within the first second.
  QTest::qWaitFor(
      [&] {
        return Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelTime->text() != "0:00:00";
      },
      3000);
  EXPECT_NE(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelTime->text(), "0:00:00");
  EXPECT_EQ(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelQuality->text(),
            QString::fromUtf8("nerozpoznáno 5 B (31.3 %)"));
  EXPECT_TRUE(
      Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelRates->text().endsWith(" pol./s"));
  EXPECT_EQ(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelDropped->text(),
            "zahozeno 0");
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  EXPECT_EQ(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelPort->text(), "odpojeno");
  EXPECT_EQ(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelTotal->text(), "celkem 7");
}

// The port is lost and comes back behind its link: the status bar says the
// window waits, the graph knows no power state from the loss on, every item
// from both sides is recorded once, and the first row after the gap is
// marked with its length.
TEST_F(TrafficWindow, AGapInTheLineIsShownAndItemsFlowOnAfterTheReturn) {
  const std::string link = Path("bus").toStdString();
  ASSERT_EQ(::symlink(Pty.Path.c_str(), link.c_str()), 0);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);
  Window->SetPortOverride(link);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  ASSERT_TRUE(Pty.Send(kRound + Bytes({0x00, 0x80, 0x80})));
  ASSERT_TRUE(WaitRecorded(5));
  ASSERT_EQ(Window->Series().PowerChanges().back().State, kPowerOn);

  Pty.CloseMaster();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window->WaitingForPort(); }, 3000));
  EXPECT_EQ(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelPort->text(),
            QString::fromStdString(link) + QString::fromUtf8(": čekám na port"));
  EXPECT_FALSE(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")
                   ->LabelTime->isVisibleTo(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")));
  EXPECT_EQ(Window->Series().PowerChanges().back().State, kPowerNone);

  TPtyPair second;
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(second.Path.c_str(), link.c_str()), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->WaitingForPort(); }, 3000));
  ASSERT_TRUE(Child<QAction>(Window, "ActionConnect")->isChecked());
  EXPECT_EQ(Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelPort->text(),
            QString::fromStdString(link));
  ASSERT_TRUE(second.Send(kRound));
  ASSERT_TRUE(WaitRecorded(9));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Rows() == 5; }, 3000)) << Rows();
  EXPECT_EQ(Window->Traffic().TotalItems(), 9u) << "nothing lost or doubled";
  for (int row = 0; row < Rows(); ++row)
    EXPECT_EQ(View->Model->GapAbove(row) != nullptr, row == 3) << row;
  EXPECT_TRUE(View->Model->GapText(3).startsWith(
      QString::fromUtf8("Před tímto řádkem byla linka přerušena ")));
  const QModelIndex marked = View->Model->index(3, TTrafficModel::colHex);
  EXPECT_TRUE(View->Model->data(marked, Qt::BackgroundRole).isValid());
  EXPECT_FALSE(View->Model->data(View->Model->index(4, 0), Qt::BackgroundRole).isValid());
  EXPECT_EQ(View->Model->CellText(3, TTrafficModel::colHex), "4A 41 00 0B");
}

TEST_F(TrafficWindow, RoomGoesToTheGridsLastColumnAndTheButtonsKeepTheirPlaces) {
  const QRect log = Child<QToolButton>(Window, "SpeedButtonLog")->geometry();
  EXPECT_EQ(log, QRect(8, 192, 129, 25));
  EXPECT_EQ(Child<QToolButton>(Window, "SpeedButtonConfig")->geometry(), QRect(8, 296, 129, 25));
  // "Provoz", "Graf" and "Statistika" share one row of the panel.
  const QRect traffic = Child<QToolButton>(Window, "SpeedButtonTraffic")->geometry();
  const QRect graph = Child<QToolButton>(Window, "SpeedButtonGraph")->geometry();
  const QRect stats = Child<QToolButton>(Window, "SpeedButtonStats")->geometry();
  EXPECT_EQ(traffic.topLeft(), QPoint(8, 328));
  EXPECT_EQ(graph.top(), 328);
  EXPECT_EQ(stats.top(), 328);
  EXPECT_GT(graph.left(), traffic.right());
  EXPECT_GT(stats.left(), graph.right());
  EXPECT_EQ(stats.right(), 136);
  // At its first size the window shows the traffic view whole, also with
  // traffic and long figures in the status bar.
  const QSize first = Window->size();
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);
  Connect();
  ASSERT_TRUE(Pty.Send(kRound));
  ASSERT_TRUE(WaitRecorded(4));
  QTest::qWait(50);
  EXPECT_EQ(Window->size(), first);
  EXPECT_LE(first.width(), 655);
  EXPECT_EQ(test_support::ClippedCaptions(Window), QStringList());
  Child<TTrafficStatusBar>(Window, "StatusBarTraffic")
      ->LabelTotal->setText(QString(60, QChar('9')));
  QTest::qWait(20);
  EXPECT_EQ(Window->size(), first) << "a long figure does not widen the window";
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);

  // The smallest window still shows the whole left panel and the status bar.
  Window->resize(100, 100);
  QTest::qWait(20);
  EXPECT_GE(Window->height(),
            Child<QToolButton>(Window, "SpeedButtonTraffic")->geometry().bottom() +
                Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->sizeHint().height());
  EXPECT_LE(Child<QToolButton>(Window, "SpeedButtonTraffic")->geometry().bottom(),
            Child<QWidget>(Window, "PanelLeft")->height());
  EXPECT_LE(Child<QWidget>(Window, "PanelLeft")->geometry().bottom(),
            Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->geometry().top());

  Window->resize(1000, 600);
  QTest::qWait(20);
  TSortGridPemra* grid = Child<TSortGridPemra>(Window, "GridDeviceList");
  EXPECT_EQ(grid->ColWidths(3), 143);
  EXPECT_GT(grid->ColWidths(4), 214 + 300) << "the comment column takes the room";
  EXPECT_GE(grid->horizontalHeader()->length(), grid->viewport()->width() - 1);
  EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(1), QHeaderView::Interactive);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);
  EXPECT_GT(View->width(), 1000 - 145 - 10);
}

TEST_F(TrafficWindow, ViewFilterColumnsAndRingSizeSurviveARestart) {
  {
    QFile f(Ini());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Comm]\nPort=COM3\nBaud=19200\n[Central]\nMaxLoko=20\n[Monitor]\nRingSize=5000\n");
  }
  delete Window;
  LoadSettings();
  Open();
  EXPECT_EQ(Window->Traffic().Capacity(), 5000u);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);
  View->SetTimeMode(TTimeMode::tmZero);
  View->ShowOnlyDevice(7);
  View->EditFilter->setText("Loko");
  QTest::keyClick(View->EditFilter, Qt::Key_Return);
  View->SetColumnWidths({110, 35, 200});
  Child<TSortGridPemra>(Window, "GridDeviceList")->SetColWidths(3, 180);
  Window->close();

  QFile f(Ini());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(f.readAll());
  EXPECT_TRUE(text.startsWith("[Comm]\nPort=COM3\nBaud=19200\n[Central]\nMaxLoko=20\n[Monitor]\n"))
      << text.toStdString();
  delete Window;
  MonitorSettings = {};
  LoadSettings();
  Open();
  EXPECT_TRUE(View->isVisible());
  EXPECT_TRUE(Child<QToolButton>(Window, "SpeedButtonTraffic")->isChecked());
  EXPECT_EQ(View->TimeMode(), TTimeMode::tmZero);
  EXPECT_EQ(View->Filter().Devices, 1u << 7);
  EXPECT_EQ(View->Filter().Text, "Loko");
  EXPECT_EQ(View->ColumnWidths().mid(0, 3), (QList<int>{110, 35, 200}));
  EXPECT_EQ(Child<TSortGridPemra>(Window, "GridDeviceList")->ColWidths(3), 180);
  EXPECT_EQ(Window->Traffic().Capacity(), 5000u);
}
