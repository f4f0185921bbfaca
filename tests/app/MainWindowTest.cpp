// The main window against real pseudo-terminals and real widgets: connect and
// disconnect, the drain, dispatch to status panel, grid and log.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <random>

#include <string>

#include "../support/Captions.h"
#include "app/ElidingLabel.h"
#include "app/TrafficView.h"
#include "app/WindowPlacement.h"
#include "app/uVantrelBus.h"
#include "bus/BusItem.h"
#include "bus/uVantrelThr.h"
#include "config/Settings.h"
#include "config/uVantrelCfg.h"
#include "controls/MsgBox.h"
#include "controls/SortGrPm.h"
#include "support/Child.h"
#include "support/ProcessCounts.h"
#include "support/PtyPair.h"
#include "support/TestBytes.h"
#include "support/WindowTest.h"

namespace {

using test_support::ThreadCount;

class MainWindow : public TWindowTest {
protected:
  void SetUp() override {
    TWindowTest::SetUp();
    if (HasFatalFailure()) return;
    Window = new TFormVantrelBus;
  }

  void Feed(const std::string& message) { QueueAdd(message); }
  void Drain() { Window->AppIdle(); }
  // The colour actually painted inside the power panel's bevel.
  QColor PowerColour() const {
    return Child<QLabel>(Window, "PanelPower")->grab().toImage().pixelColor(6, 6);
  }
  QString Cell(int col, int row) const {
    return Child<TSortGridPemra>(Window, "GridDeviceList")->Cells(col, row);
  }
  QStringList LogLines() const {
    const QString t = Child<QPlainTextEdit>(Window, "MemoLog")->toPlainText();
    return t.isEmpty() ? QStringList() : t.split('\n');
  }
  bool Connected() const {
    return Child<QAction>(Window, "ActionConnect")->isChecked() && BusSerial != nullptr;
  }
  void ConnectTo(const TPtyPair& pty) {
    Window->SetPortOverride(pty.Path);
    QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  }
  // Waits until every reader thread has ended and been joined.
  bool ReadersGone() {
    return QTest::qWaitFor([this] { return Window->PendingDaemonCount() == 0; }, 3000);
  }
};

TEST_F(MainWindow, StartsEmptyWithTitlesAndHiddenLog) {
  EXPECT_EQ(Cell(0, 0), QString::fromUtf8("Čís."));
  EXPECT_EQ(Cell(4, 0), QString::fromUtf8("Komentář"));
  EXPECT_EQ(Cell(0, 1), "");
  EXPECT_TRUE(Child<QPlainTextEdit>(Window, "MemoLog")->isHidden());
  EXPECT_TRUE(Child<QLabel>(Window, "LabelCount")->isHidden());
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "");
  EXPECT_FALSE(Child<QAction>(Window, "ActionConnect")->isChecked());
}

TEST_F(MainWindow, FailedConnectShowsTheOpenErrorAndPopsTheButtonUp) {
  const QString port = Path("serial/by-id/usb-Maker_Serial_Adapter_A1B2C3D4E5-if00-port0");
  Window->SetPortOverride(port.toStdString());
  const QRect labelPlace = Child<QLabel>(Window, "LabelError")->geometry();
  const QRect logButtonPlace = Child<QToolButton>(Window, "SpeedButtonLog")->geometry();
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  EXPECT_FALSE(Child<QAction>(Window, "ActionConnect")->isChecked());
  EXPECT_FALSE(Child<QToolButton>(Window, "SpeedButtonConnect")->isChecked());
  EXPECT_EQ(BusSerial, nullptr);
  EXPECT_EQ(ComDaemon, nullptr);
  EXPECT_EQ(Window->PendingDaemonCount(), 0);
  // The port and the reason it could not be opened, not the "bad
  // descriptor" that configuring the unopened port would leave.
  const QString text = "Port " + port + " neexistuje (" + std::strerror(ENOENT) + ")";
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->text(), text);
  EXPECT_TRUE(Boxes.isEmpty());
  // Too long for the label: cut where it ends, whole in the tool tip, and
  // nothing around it moves.
  const auto shown = static_cast<TElidingLabel*>(Child<QLabel>(Window, "LabelError"))->Shown();
  EXPECT_TRUE(shown.Cut);
  EXPECT_TRUE(shown.Lines.last().endsWith(QChar(0x2026))) << shown.Lines.join('|').toStdString();
  EXPECT_LE(shown.Lines.size() * Child<QLabel>(Window, "LabelError")->fontMetrics().lineSpacing(),
            Child<QLabel>(Window, "LabelError")->height() +
                Child<QLabel>(Window, "LabelError")->fontMetrics().leading());
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->toolTip(), text);
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->geometry(), labelPlace);
  EXPECT_EQ(Child<QToolButton>(Window, "SpeedButtonLog")->geometry(), logButtonPlace);
}

TEST_F(MainWindow, PermissionDeniedIsShownWithTheHint) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens every device";
  TPtyPair pty;
  ASSERT_EQ(::chmod(pty.Path.c_str(), 0), 0);
  ConnectTo(pty);
  EXPECT_FALSE(Child<QAction>(Window, "ActionConnect")->isChecked());
  EXPECT_TRUE(Child<QLabel>(Window, "LabelError")
                  ->text()
                  .startsWith(QString::fromStdString("Port " + pty.Path +
                                                     " nelze otevřít: chybí oprávnění (") +
                              std::strerror(EACCES) + ")"));
  // No group may read it: joining one would not help.
  EXPECT_TRUE(
      Child<QLabel>(Window, "LabelError")->text().contains(QString::fromUtf8("pravidlem udev")));
}

// A connect that works clears an error left from before (not the hex text of
// the last device message), shows a neutral power state, the port and the
// bytes as they come; a disconnect greys the status values.
TEST_F(MainWindow, ConnectShowsTheLineUpAndDisconnectShowsTheValuesStale) {
  Window->SetPortOverride("/nonexistent/port");
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  ASSERT_FALSE(Child<QLabel>(Window, "LabelError")->text().isEmpty());

  TPtyPair pty;
  ConnectTo(pty);
  ASSERT_TRUE(Connected());
  EXPECT_TRUE(Child<QToolButton>(Window, "SpeedButtonConnect")->isChecked());
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->text(), "");
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->toolTip(), "");
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), QString::fromUtf8("připojeno"));
  EXPECT_TRUE(Window->windowTitle().endsWith(QString::fromStdString(" - " + pty.Path)));

  ASSERT_TRUE(pty.Send(Bytes({0xC5, 0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04, 0x00, 0x80, 0x80})));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return Child<QLabel>(Window, "PanelPower")->text() == QString::fromUtf8("Napájení zapnuto");
      },
      3000));
  // Call to address 1 (active), then a contact message attributed to it.
  ASSERT_TRUE(pty.Send(Bytes({0x41, 0x4B, 0x49, 0x01, 0x03})));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(3, 1) == "4B 49 01 03 "; }, 3000));
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->text(), "4B 49 01 03 ");
  EXPECT_EQ(Cell(1, 1), "01");
  EXPECT_EQ(Cell(2, 1), "ano");
  EXPECT_FALSE(Cell(4, 1).isEmpty());
  EXPECT_EQ(Window->ReceivedBytes(), 16u);
  EXPECT_EQ(Child<QWidget>(Window, "ShapeActivity")->toolTip(),
            QString::fromUtf8("Přijato bajtů: 16"));

  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  EXPECT_EQ(Child<QLabel>(Window, "LabelCentral")->text(), QString::fromUtf8("Centrála: KV8"));
  EXPECT_FALSE(Child<QLabel>(Window, "LabelCentral")->isEnabled()) << "last known, not current";
  EXPECT_FALSE(Window->windowTitle().contains(QString::fromStdString(pty.Path)));
  ConnectTo(pty);
  ASSERT_TRUE(Connected());
  EXPECT_TRUE(Child<QLabel>(Window, "LabelCentral")->isEnabled());
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->text(), "4B 49 01 03 ")
      << "a device message is no error";
}

TEST_F(MainWindow, DisconnectShowsOdpojenoKeepsEverythingAndJoinsTheReader) {
  const int threadsBefore = ThreadCount();
  TPtyPair pty;
  ConnectTo(pty);
  ASSERT_TRUE(Connected());
  ASSERT_TRUE(pty.Send(Bytes({0xC5, 0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04})));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !Child<QLabel>(Window, "LabelCentral")->text().isEmpty(); }, 3000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(1, 1) == "05"; }, 3000));

  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  EXPECT_FALSE(Child<QAction>(Window, "ActionConnect")->isChecked());
  EXPECT_EQ(BusSerial, nullptr);
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "odpojeno");
  EXPECT_EQ(PowerColour(), Window->palette().color(QPalette::Button));
  EXPECT_EQ(Child<QLabel>(Window, "LabelCentral")->text(), QString::fromUtf8("Centrála: KV8"));
  EXPECT_EQ(Cell(1, 1), "05");
  EXPECT_EQ(Cell(2, 1), "ano");
  ASSERT_TRUE(ReadersGone());
  EXPECT_EQ(ComDaemon, nullptr);
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(MainWindow, MessagesQueuedWhileDisconnectedAreDispatchedAfterTheNextConnect) {
  Feed(Bytes({0xC5}));
  Feed(Bytes({0x4B, 0x49, 0x01, 0x03}));
  QTest::qWait(50);
  EXPECT_EQ(Cell(1, 1), "");  // nothing drains while disconnected
  TPtyPair pty;
  ConnectTo(pty);
  ASSERT_TRUE(Connected());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(3, 1) == "4B 49 01 03 "; }, 3000));
  EXPECT_EQ(Cell(1, 1), "05");
  EXPECT_EQ(QueueCount(), 0);
}

TEST_F(MainWindow, BusyLineIsRedrawnInBatchesNotPerChunk) {
  TPtyPair pty;
  ConnectTo(pty);
  ASSERT_TRUE(Connected());
  QElapsedTimer t;
  t.start();
  // Device 1 flips on every chunk: each chunk alone would need a redraw.
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(pty.Send(Bytes({i % 2 ? 0x81 : 0x41})));
    QTest::qWait(5);
  }
  ASSERT_TRUE(pty.Send(Bytes({0x42})));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(1, 1) == "02"; }, 3000));
  const qint64 elapsed = t.elapsed();
  EXPECT_LE(Window->FillCount(), elapsed / TFormVantrelBus::DrainBatchMs + 3) << elapsed << " ms";
  EXPECT_EQ(Cell(1, 2), "01");
  EXPECT_EQ(Cell(2, 2), "ne");  // the last flip (0x81) wins
}

TEST_F(MainWindow, LongBacklogIsTakenInSlicesWithTheEventLoopRunning) {
  TPtyPair pty;
  ConnectTo(pty);
  ASSERT_TRUE(Connected());
  Feed(Bytes({0x41}));
  Feed(Bytes({0x4B, 0x49, 0x01, 0x03}));
  // Lone unknown bytes each add a log line: far more work than one slice.
  for (int i = 0; i < 4000; ++i) Feed(Bytes({0x01}));
  QElapsedTimer t;
  t.start();
  Drain();
  EXPECT_LT(t.elapsed(), 500) << "one drain must not take the whole backlog";
  EXPECT_GT(QueueCount(), 0);
  EXPECT_EQ(Cell(3, 1), "4B 49 01 03 ");  // what was taken is already drawn
  ASSERT_TRUE(QTest::qWaitFor([] { return QueueCount() == 0; }, 60000));
  EXPECT_EQ(LogLines().size(), 4000);
}

TEST_F(MainWindow, ReconnectBeforeTheOldReaderEndedKeepsTheNewConnection) {
  TPtyPair first, second;
  ConnectTo(first);
  ASSERT_TRUE(Connected());
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);  // closing
  ConnectTo(second);  // at once, before the old end notice ran
  ASSERT_TRUE(Connected());
  TVantrelSerial* link = BusSerial;
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window->PendingDaemonCount() == 1; }, 3000));
  EXPECT_EQ(BusSerial, link);
  EXPECT_NE(ComDaemon, nullptr);
  EXPECT_TRUE(Child<QAction>(Window, "ActionConnect")->isChecked());
  ASSERT_TRUE(second.Send(Bytes({0x42, 0x4B, 0x49, 0x01, 0x03})));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(1, 1) == "02"; }, 3000));
}

TEST_F(MainWindow, VanishedPortDisconnectsWithTheReasonAndANewConnectWorks) {
  Settings.Reconnect = false;
  const int threadsBefore = ThreadCount();
  std::string path;
  {
    TPtyPair pty;
    path = pty.Path;
    ConnectTo(pty);
    ASSERT_TRUE(Connected());
    ASSERT_TRUE(pty.Send(Bytes({0x00, 0x80, 0x80})));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !Child<QLabel>(Window, "PanelPower")->text().isEmpty(); }, 3000));
    ASSERT_TRUE(pty.Send(Bytes({0x41, 0x4B, 0x49, 0x01, 0x03})));
    QTest::qWait(100);
    // A power state still queued when the port goes must not cover "odpojeno".
    ASSERT_TRUE(pty.Send(Bytes({0x00, 0x81, 0x81})));
    ASSERT_TRUE(QTest::qWaitFor([] { return QueueCount() > 0; }, 3000));
    pty.CloseMaster();  // the adapter is pulled
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !Child<QAction>(Window, "ActionConnect")->isChecked(); }, 3000));
  }
  EXPECT_FALSE(Child<QToolButton>(Window, "SpeedButtonConnect")->isChecked());
  EXPECT_EQ(BusSerial, nullptr);
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "odpojeno");
  const QString lost = QString::fromStdString("Spojení s portem " + path + " přerušeno (");
  EXPECT_TRUE(Child<QLabel>(Window, "LabelError")->text().startsWith(lost))
      << Child<QLabel>(Window, "LabelError")->text().toStdString();
  EXPECT_GT(Child<QLabel>(Window, "LabelError")->text().size(), lost.size() + 1);
  // What arrived before the loss is not lost.
  EXPECT_EQ(Cell(3, 1), "4B 49 01 03 ");
  ASSERT_TRUE(ReadersGone());
  EXPECT_EQ(ComDaemon, nullptr);
  EXPECT_EQ(ThreadCount(), threadsBefore);
  EXPECT_TRUE(Boxes.isEmpty());

  TPtyPair back;
  ConnectTo(back);
  ASSERT_TRUE(Connected());
  ASSERT_TRUE(back.Send(Bytes({0x42, 0x61, 0x03, 0x00, 0x03, 0x8A})));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Child<QLabel>(Window, "LabelError")->text().startsWith("61 "); }, 3000));
}

// The port goes and comes back behind the same name: the window waits with
// the button down and the line shown down, reads again within a second of
// the return, and a press of the button while waiting ends the wait.
TEST_F(MainWindow, LostPortIsWaitedForAndReadAgainWhenItComesBack) {
  const int threadsBefore = ThreadCount();
  const std::string link = Path("bus").toStdString();
  auto relink = [&](const TPtyPair& pty) {
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(pty.Path.c_str(), link.c_str()), 0);
  };
  QSignalSpy lost(Window, &TFormVantrelBus::PortLost), gaps(Window, &TFormVantrelBus::PortGap);
  auto first = std::make_unique<TPtyPair>();
  relink(*first);
  Window->SetPortOverride(link);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  ASSERT_TRUE(Connected());
  ASSERT_TRUE(first->Send(Bytes({0x00, 0x80, 0x80})));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return Child<QLabel>(Window, "PanelPower")->text() == QString::fromUtf8("Napájení zapnuto");
      },
      3000));

  first.reset();  // pulled
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window->WaitingForPort(); }, 3000));
  EXPECT_TRUE(Child<QToolButton>(Window, "SpeedButtonConnect")->isChecked());
  EXPECT_EQ(lost.size(), 1);
  EXPECT_TRUE(Child<QLabel>(Window, "LabelError")
                  ->text()
                  .startsWith(QString::fromStdString("Čekám na port " + link +
                                                     "…\nSpojení s portem " + link)))
      << Child<QLabel>(Window, "LabelError")->text().toStdString();
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "odpojeno");
  EXPECT_FALSE(Child<QLabel>(Window, "LabelCentral")->isEnabled());
  EXPECT_EQ(Window->PendingDaemonCount(), 0);
  EXPECT_EQ(BusSerial, nullptr);

  TPtyPair second;
  relink(second);
  QElapsedTimer back;
  back.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Connected(); }, 3000));
  EXPECT_LT(back.elapsed(), 1000);
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), QString::fromUtf8("připojeno"));
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->text(), "");
  ASSERT_EQ(gaps.size(), 1);
  EXPECT_LT(gaps[0][0].toLongLong(), gaps[0][1].toLongLong());
  ASSERT_TRUE(second.Send(Bytes({0x42, 0x61, 0x03, 0x00, 0x03, 0x8A})));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Child<QLabel>(Window, "LabelError")->text().startsWith("61 "); }, 3000));

  second.CloseMaster();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window->WaitingForPort(); }, 3000));
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  EXPECT_FALSE(Window->WaitingForPort());
  EXPECT_FALSE(Child<QToolButton>(Window, "SpeedButtonConnect")->isChecked());
  EXPECT_TRUE(Child<QLabel>(Window, "LabelError")
                  ->text()
                  .startsWith(QString::fromStdString("Spojení s portem " + link + " přerušeno")));
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(MainWindow, ClosingWhileConnectedPausesAndLeavesNoThread) {
  const int threadsBefore = ThreadCount();
  TPtyPair pty;
  ConnectTo(pty);
  ASSERT_TRUE(Connected());
  Window->show();
  QElapsedTimer t;
  t.start();
  Window->close();
  EXPECT_GE(t.elapsed(), 490);
  EXPECT_FALSE(Child<QAction>(Window, "ActionConnect")->isChecked());
  EXPECT_EQ(BusSerial, nullptr);
  delete Window;  // joins whatever is left
  Window = nullptr;
  EXPECT_EQ(ComDaemon, nullptr);
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(MainWindow, ConfigDialogKeepsTheRunsPortUnlessTheUserPicksAnother) {
  TFormVantrelCfg dialog(Window);
  FormVantrelCfg = &dialog;
  Window->SetPortOverride("/dev/pts/99");
  bool shown = false;
  QTimer::singleShot(0, [&] {
    shown = dialog.isVisible();
    dialog.reject();
  });
  Child<QAction>(Window, "ActionConfig")->trigger();
  EXPECT_TRUE(shown);
  EXPECT_EQ(Window->PortOverride(), "/dev/pts/99");
  EXPECT_EQ(Settings.Port, "COM1");

  QTimer::singleShot(0, [&] {
    dialog.ComboBoxPortA->setCurrentText("COM7");
    dialog.BitBtnOK->click();
  });
  Child<QAction>(Window, "ActionConfig")->trigger();
  EXPECT_EQ(Settings.Port, "COM7");
  EXPECT_EQ(Window->PortOverride(), "");
  FormVantrelCfg = nullptr;
}

// The check box cleared while connected counts from the next loss on.
TEST_F(MainWindow, ReconnectClearedInTheDialogEndsTheRunningConnectionAtTheNextLoss) {
  TFormVantrelCfg dialog(Window);
  FormVantrelCfg = &dialog;
  TPtyPair pty;
  ConnectTo(pty);
  ASSERT_TRUE(Connected());
  QTimer::singleShot(0, [&] {
    dialog.CheckBoxReconnect->setChecked(false);
    dialog.BitBtnOK->click();
  });
  Child<QAction>(Window, "ActionConfig")->trigger();
  FormVantrelCfg = nullptr;
  ASSERT_FALSE(Settings.Reconnect);
  ASSERT_TRUE(Connected()) << "the port was kept";
  pty.CloseMaster();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !Child<QAction>(Window, "ActionConnect")->isChecked(); }, 3000));
  EXPECT_FALSE(Window->WaitingForPort());
}

// ---- dispatch, without a line: messages put straight into the queue ----------

TEST_F(MainWindow, CentralStatusFillsTheLabelsWithTheLocalesSeparator) {
  Settings.MaxLoko = 16;
  Feed(Bytes({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}));
  Drain();
  EXPECT_EQ(Child<QLabel>(Window, "LabelCentral")->text(), QString::fromUtf8("Centrála: KV8"));
  EXPECT_EQ(Child<QLabel>(Window, "LabelFirmware")->text(), "Firmware: 1.3");
  EXPECT_EQ(Child<QLabel>(Window, "LabelProudA")->text(), "Ia =   4.5 A");
  EXPECT_EQ(Child<QLabel>(Window, "LabelProudM")->text(), "Im =  12.0 A");
  EXPECT_EQ(Child<QLabel>(Window, "LabelProudP")->text(), "Ip =  37.50 %");
  EXPECT_EQ(Child<QLabel>(Window, "LabelVolAdr")->text(), QString::fromUtf8("12L (4volných)"));

  // Maximum 0 keeps the load label; status never reaches the error label or grid.
  QLocale::setDefault(QLocale(QLocale::Czech));
  Feed(Bytes({0x00, 0x00, 0x80, 0x10, 0x00, 0x13, 20}));
  Drain();
  EXPECT_EQ(Child<QLabel>(Window, "LabelProudA")->text(), "Ia =   1,6 A");
  EXPECT_EQ(Child<QLabel>(Window, "LabelProudP")->text(), "Ip =  37.50 %");
  EXPECT_EQ(Child<QLabel>(Window, "LabelVolAdr")->text(), QString::fromUtf8("-4L (20volných)"));
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->text(), "");
  EXPECT_EQ(Window->FillCount(), 0);
}

TEST_F(MainWindow, PowerPanelColoursAndOddStatusMessagesGoToTheLog) {
  Feed(Bytes({0x00, 0x80, 0x80}));
  Drain();
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), QString::fromUtf8("Napájení zapnuto"));
  EXPECT_EQ(PowerColour(), QColor(0, 255, 0));
  Feed(Bytes({0x00, 0x81, 0x81}));
  Drain();
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "$81");
  EXPECT_EQ(PowerColour(), QColor(255, 0, 0));

  const QString before = Child<QLabel>(Window, "LabelCentral")->text();
  Feed(Bytes({0x00, 0x12}));
  Feed(Bytes({0x00, 0x84, 0x84}));
  Drain();
  EXPECT_EQ(LogLines(), QStringList({"00 12 ", "00 84 84 "}));
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "$81");
  EXPECT_EQ(Child<QLabel>(Window, "LabelCentral")->text(), before);
}

TEST_F(MainWindow, CallBytesOrderTheGridActiveFirst) {
  Feed(Bytes({0x41}));
  Drain();
  EXPECT_EQ(Cell(0, 1), "1");
  EXPECT_EQ(Cell(1, 1), "01");
  EXPECT_EQ(Cell(2, 1), "ano");
  EXPECT_EQ(Cell(1, 2), "02");
  EXPECT_EQ(Cell(2, 2), "ne");
  EXPECT_EQ(Cell(1, 31), "1F");
  EXPECT_EQ(Cell(0, 31), "31");

  Feed(Bytes({0x42}));
  Feed(Bytes({0x81}));
  Drain();
  EXPECT_EQ(Cell(1, 1), "02");
  EXPECT_EQ(Cell(2, 1), "ano");
  EXPECT_EQ(Cell(1, 2), "01");
  EXPECT_EQ(Cell(2, 2), "ne");
  EXPECT_EQ(Cell(1, 3), "03");

  // A device message after a call to 5: row of device 5 (third: 02 active, then 01, 03, 04, 05).
  Feed(Bytes({0x05}));
  Feed(Bytes({0x61, 0x03, 0x00, 0x03, 0x8A}));
  Drain();
  EXPECT_EQ(Cell(1, 5), "05");
  EXPECT_EQ(Cell(3, 5), "61 03 00 03 8A ");
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->text(), "61 03 00 03 8A ");
  EXPECT_TRUE(LogLines().isEmpty());  // device messages are never logged
}

// The device table the dispatch keeps and the session's present state come
// from the same items by two routes; the grid shows them as one.
TEST_F(MainWindow, DeviceTableSessionStateAndGridAgreeOverAnyItems) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> length(1, 8);
  const std::string bytes = RandomBusBytes(rng, 20000);
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = std::min<std::size_t>(length(rng), bytes.size() - at);
    Feed(bytes.substr(at, n));
    at += n;
  }
  Drain();
  const TBusState& state = Window->Session().Present();
  const TVantrelBusDevList& list = Window->DevList();
  EXPECT_EQ(state.Called, list.CurrentAddress());
  int active = 0, withMessage = 0;
  for (int a = 1; a <= TVantrelBusDevList::DeviceCount; ++a) {
    const TVantrelBusDevice& d = list.DeviceByAddress(a);
    EXPECT_EQ(state.Active[a], d.Active()) << a;
    EXPECT_EQ(state.Last[a], d.LastMessage()) << a;
    active += d.Active();
    withMessage += !d.LastMessage().empty();
  }
  EXPECT_GT(active, 0);
  EXPECT_GT(withMessage, 0);
  for (int row = 1; row <= TVantrelBusDevList::DeviceCount; ++row) {
    bool ok = false;
    const int address = Cell(1, row).toInt(&ok, 16);
    ASSERT_TRUE(ok) << row;
    const TVantrelBusDevice& d = list.DeviceByAddress(address);
    EXPECT_EQ(Cell(2, row), QString::fromLatin1(ActiveText(d.Active()))) << row;
    EXPECT_EQ(Cell(3, row), QString::fromStdString(MessageToHex(d.LastMessage()))) << row;
  }
}

TEST_F(MainWindow, LoneBytesAreLoggedOrIgnoredAndOneRedrawPerDrain) {
  Feed(Bytes({0x41}));
  Drain();
  ASSERT_EQ(Window->FillCount(), 1);
  // An unchanged call, 0x1F and unknown lone bytes cause no redraw.
  for (int b : {0x41, 0x1F, 0x00, 0x01, 0x21}) Feed(Bytes({b}));
  Drain();
  EXPECT_EQ(Window->FillCount(), 1);
  EXPECT_EQ(LogLines(), QStringList({"00 ", "01 ", "21 "}));
  // Many changes in one drain: one redraw.
  for (int b : {0x42, 0x44, 0x47, 0x82}) Feed(Bytes({b}));
  Drain();
  EXPECT_EQ(Window->FillCount(), 2);
  // Active now: 01, 04, 07 in address order, then the rest.
  EXPECT_EQ(Cell(1, 2), "04");
  EXPECT_EQ(Cell(1, 3), "07");
  EXPECT_EQ(Cell(1, 4), "02");
  EXPECT_EQ(Cell(2, 4), "ne");
}

TEST_F(MainWindow, LogButtonsShowHideAndClear) {
  Window->show();
  Feed(Bytes({0x01}));
  Drain();
  ASSERT_EQ(LogLines().size(), 1);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonClear"),
                    Qt::LeftButton);  // hidden: still cleared
  EXPECT_TRUE(LogLines().isEmpty());
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonLog"), Qt::LeftButton);
  EXPECT_TRUE(Child<QToolButton>(Window, "SpeedButtonLog")->isChecked());
  EXPECT_TRUE(Child<QPlainTextEdit>(Window, "MemoLog")->isVisible());
  EXPECT_FALSE(Child<TSortGridPemra>(Window, "GridDeviceList")->isVisible());
  EXPECT_EQ(Child<QPlainTextEdit>(Window, "MemoLog")->geometry(),
            Child<TSortGridPemra>(Window, "GridDeviceList")->geometry());
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonLog"), Qt::LeftButton);
  EXPECT_FALSE(Child<QPlainTextEdit>(Window, "MemoLog")->isVisible());
  EXPECT_TRUE(Child<TSortGridPemra>(Window, "GridDeviceList")->isVisible());
}

// ---- first look: captions, selection, placement ---------------------------------

TEST_F(MainWindow, CaptionsAreWholeInTheWindowsFont) {
  Window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
  EXPECT_EQ(Child<QToolButton>(Window, "SpeedButtonConfig")->text(), "Konfigurace...");
  EXPECT_EQ(Window->font().pixelSize(), 11);
  EXPECT_TRUE(Window->font().bold());
  // "Protokol komunikace" among them: it needs room on both sides.
  EXPECT_EQ(test_support::ClippedCaptions(Window), QStringList());
}

TEST_F(MainWindow, SelectionStaysWithItsDeviceWhileTheRowsResort) {
  Feed(Bytes({0x41}));  // device 01 active, first row
  Drain();
  Child<TSortGridPemra>(Window, "GridDeviceList")->SetRow(5);
  ASSERT_EQ(Cell(1, 5), "05");
  Feed(Bytes({0x42}));  // 02 becomes active: every row below it moves down
  Feed(Bytes({0xC5}));  // and 05 itself moves up to the active ones
  Drain();
  EXPECT_EQ(Cell(1, Child<TSortGridPemra>(Window, "GridDeviceList")->Row()), "05");
  EXPECT_EQ(Child<TSortGridPemra>(Window, "GridDeviceList")->Row(), 3);
  Feed(Bytes({0x81}));  // 01 inactive again
  Feed(Bytes({0x05}));  // 05 too
  Drain();
  EXPECT_EQ(Cell(1, Child<TSortGridPemra>(Window, "GridDeviceList")->Row()), "05");
}

// Rows move under the pointer as devices come and go: a double click acts on
// the device that was under it when the click began.
TEST_F(MainWindow, ADoubleClickActsOnTheDevicePressedEvenIfTheRowsResortMeanwhile) {
  Window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
  auto* grid = Child<TSortGridPemra>(Window, "GridDeviceList");
  Feed(Bytes({0x41}));  // 01 active; 02, 03, 04, 05 below it
  Drain();
  ASSERT_EQ(Cell(1, 5), "05");
  const QPoint at = grid->CellRect(3, 5).center();
  QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, at);
  Feed(Bytes({0xC5}));  // 05 becomes active and moves up; 04 comes under the pointer
  Drain();
  ASSERT_EQ(Cell(1, 5), "04");
  QMouseEvent dbl(QEvent::MouseButtonDblClick, at, grid->viewport()->mapToGlobal(at),
                  Qt::LeftButton, Qt::LeftButton, {});
  QApplication::sendEvent(grid->viewport(), &dbl);
  EXPECT_EQ(Child<TTrafficView>(Window, "TrafficView")->Filter().Devices, 1u << 5);
}

TEST_F(MainWindow, TheTitleNamesTheRunsCaptionLikeTheStatusBar) {
  TPtyPair pty;
  Window->SetPortCaption("demo");
  ConnectTo(pty);
  ASSERT_TRUE(Connected());
  EXPECT_TRUE(Window->windowTitle().endsWith(" - demo")) << Window->windowTitle().toStdString();
  EXPECT_FALSE(Window->windowTitle().contains(QString::fromStdString(pty.Path)));
}

TEST_F(MainWindow, PlacementIsKeptInAnExistingFileAndRestored) {
  Window->show();
  Window->close();
  const QString ini = Path("test.ini");
  EXPECT_FALSE(QFile::exists(ini)) << "only the dialog creates the file";
  QFile file(ini);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Comm]\nPort=COM3\n[Monitor]\nLeft=40\nTop=30\nWidth=700\nHeight=460\n");
  file.close();

  delete Window;
  Window = new TFormVantrelBus;
  EXPECT_EQ(Window->geometry(), QRect(40, 30, 700, 460));
  Window->show();
  Window->setGeometry(60, 50, 720, 470);
  Window->close();
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(file.readAll()),
            "[Comm]\nPort=COM3\n[Monitor]\nLeft=60\nTop=50\nWidth=720\nHeight=470\n"
            "Maximized=0\n");
}

TEST(WindowPlacement, OnlyAReachablePlaceIsRestoredAndTheSizeFitsTheScreen) {
  const QList<QRect> screens = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)};
  const QRect current(300, 200, 647, 340);
  EXPECT_EQ(PlaceOnScreens(QRect(1400, 100, 600, 400), current, screens),
            QRect(1400, 100, 600, 400));
  // That screen is gone: the size only, where the window is now.
  QRect here(QPoint(), QSize(600, 400));
  here.moveCenter(current.center());
  EXPECT_EQ(PlaceOnScreens(QRect(1400, 100, 600, 400), current, {screens[0]}), here);
  EXPECT_EQ(PlaceOnScreens(QRect(0, 0, 3000, 2000), current, screens), QRect(0, 0, 1280, 800));
}

}  // namespace
