// Capture files in the main window: an opened capture shown as it was (the
// rows, the grid and the status panel at its end and at a selected row, the
// graph over its length), the live history's past while disconnected,
// recording across a manual reconnect, and a full disk while recording.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <csignal>
#include <string>
#include <vector>

#include "app/CaptureControl.h"
#include "app/GraphView.h"
#include "app/StatusBar.h"
#include "app/TrafficView.h"
#include "app/uVantrelBus.h"
#include "bus/uVantrelThr.h"
#include "capture/CaptureReader.h"
#include "config/Settings.h"
#include "controls/MsgBox.h"
#include "controls/SortGrPm.h"
#include "support/Child.h"
#include "support/PtyPair.h"
#include "support/TestBytes.h"
#include "support/WindowTest.h"

namespace {

constexpr int64_t kT0 = 1796738585000000;  // 2026-12-08T14:03:05Z

// Nine items: device 5 called active and a turnout of it; the central's
// status and power on; device 6 active and a locomotive; a line no reader
// takes; a reconnect; power $81, device 5 inactive and another turnout.
const char* const kLog =
    "# vantrel-capture 1\n"
    "# port /dev/ttyUSB0\n"
    "# line 115200 8N1\n"
    "# program test 1\n"
    "# start 2026-12-08T14:03:05.000000Z\n"
    "(1796738585.100000) C5 4A 41 00 0B\n"
    "(1796738586.200000) 00 00 8C 2D 00 13 04 00 80 80\n"
    "this line is broken\n"
    "(1796738587.300000) C6 61 63 00 03 8A\n"
    "# gap 2.000000\n"
    "(1796738590.000000) 00 81 81 05 4A 40 01 0B\n";

class CaptureWindow : public TWindowTest {
protected:
  void SetUp() override {
    TWindowTest::SetUp();
    if (HasFatalFailure()) return;
    Window = new TFormVantrelBus;
    Captures = Window->Captures();
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
  }
  QString Write(const char* name, const std::string& text) const {
    QFile f(Path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
    return f.fileName();
  }
  bool Open(const QString& path) {
    return Captures->OpenCapture(path) && Captures->WaitLoaded(20000);
  }
  void Connect() {
    Window->SetPortOverride(Pty.Path);
    QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
    ASSERT_TRUE(Child<QAction>(Window, "ActionConnect")->isChecked());
  }
  void Disconnect() {
    QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
    ASSERT_FALSE(Child<QAction>(Window, "ActionConnect")->isChecked());
  }
  bool WaitRecorded(uint64_t n) {
    return QTest::qWaitFor([&] { return Window->Traffic().TotalItems() >= n; }, 5000);
  }
  void SelectRow(int row) {
    TTrafficView* view = Child<TTrafficView>(Window, "TrafficView");
    view->Table->setCurrentIndex(view->Model->index(row, 0));
  }
  QString Cell(int col, int row) const {
    return Child<TSortGridPemra>(Window, "GridDeviceList")->Cells(col, row);
  }
  // What the grid and the status panel show, to compare before and after.
  QStringList Shown() const {
    QStringList s;
    for (int r = 1; r <= 31; ++r)
      for (int c = 0; c < 5; ++c) s << Cell(c, r);
    for (QLabel* l : {Child<QLabel>(Window, "LabelCentral"), Child<QLabel>(Window, "LabelFirmware"),
                      Child<QLabel>(Window, "LabelVolAdr"), Child<QLabel>(Window, "LabelProudA"),
                      Child<QLabel>(Window, "LabelProudM"), Child<QLabel>(Window, "LabelProudP"),
                      Child<QLabel>(Window, "PanelPower"), Child<QLabel>(Window, "LabelError")})
      s << l->text();
    s << Child<QLabel>(Window, "PanelPower")->palette().color(QPalette::Window).name();
    return s;
  }

  TPtyPair Pty;
  TCaptureControl* Captures = nullptr;
};

// Reads a capture log back: its chunks' bytes and the gaps, in order.
std::vector<TCaptureItem> ReadBack(const QString& path, TCaptureReader& in) {
  std::vector<TCaptureItem> items;
  EXPECT_TRUE(in.Open(QFile::encodeName(path).toStdString())) << in.LastErrorText();
  for (TCaptureItem item; in.Next(item);)
    if (item.Kind == TCaptureKind::ckChunk || item.Kind == TCaptureKind::ckGap)
      items.push_back(item);
  return items;
}

}  // namespace

TEST_F(CaptureWindow, AnOpenedCaptureShowsTheTrafficAsItWasAtItsEndAndAtARow) {
  const QStringList before = Shown();
  ASSERT_TRUE(Open(Write("run.vlog", kLog)));
  ASSERT_TRUE(Captures->CaptureOpen());
  ASSERT_EQ(Boxes.size(), 1);
  EXPECT_TRUE(Boxes[0].contains(QString::fromUtf8("první je řádek 8: není to řádek s bajty")))
      << Boxes[0].toStdString();

  TTrafficView* view = Child<TTrafficView>(Window, "TrafficView");
  EXPECT_EQ(view->Model->Ring().Count(), 9u);
  EXPECT_EQ(view->Model->rowCount(), 6) << "calls hidden";
  EXPECT_EQ(view->Model->CellText(5, TTrafficModel::colHex), "4A 40 01 0B");
  // A new session after the reconnect: "since connecting" counts from it.
  view->SetTimeMode(TTimeMode::tmZero);
  EXPECT_EQ(view->Model->CellText(3, TTrafficModel::colTime), "2.300000");
  // Each item at its last byte: five bytes of 115200 8N1 (the log's line)
  // before its read.
  EXPECT_EQ(view->Model->CellText(4, TTrafficModel::colTime), "0.699566");

  // The end: device 6 active with its locomotive, device 5 inactive with its
  // last turnout, the status, power $81.
  EXPECT_EQ(Cell(1, 1), "06");
  EXPECT_EQ(Cell(2, 1), "ano");
  EXPECT_EQ(Cell(3, 1), "61 63 00 03 8A ");
  EXPECT_EQ(Cell(1, 6), "05");
  EXPECT_EQ(Cell(2, 6), "ne");
  EXPECT_EQ(Cell(3, 6), "4A 40 01 0B ");
  EXPECT_EQ(Child<QLabel>(Window, "LabelCentral")->text(), QString::fromUtf8("Centrála: KV8"));
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "$81");
  EXPECT_EQ(Child<QLabel>(Window, "LabelError")->text(), "4A 40 01 0B ");
  EXPECT_TRUE(Child<QFrame>(Window, "PanelPast")->isVisible());
  EXPECT_TRUE(
      Child<QLabel>(Window, "LabelPast")->text().contains(QString::fromUtf8("stav na konci")));
  EXPECT_TRUE(
      Child<TTrafficStatusBar>(Window, "StatusBarTraffic")->LabelPort->text().contains("run.vlog"));
  // The graph spans the whole capture.
  EXPECT_FALSE(Child<TGraphView>(Window, "GraphView")->Following());
  EXPECT_EQ(Child<TGraphView>(Window, "GraphView")->ViewStartUs(), kT0);

  // The first turnout's row: only device 5 active, nothing of the central yet.
  SelectRow(0);
  EXPECT_EQ(Cell(1, 1), "05");
  EXPECT_EQ(Cell(3, 1), "4A 41 00 0B ");
  EXPECT_EQ(Cell(1, 2), "01");
  EXPECT_EQ(Cell(2, 2), "ne");
  EXPECT_EQ(Child<QLabel>(Window, "LabelCentral")->text(), "");
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "");
  EXPECT_TRUE(Child<QLabel>(Window, "LabelPast")->text().contains("stav k"));

  // A moment picked in the graph: the nearest row (the locomotive, 2.3 s).
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonGraph"), Qt::LeftButton);
  QApplication::processEvents();  // laid out: its axis is the one drawn
  const int64_t moment = kT0 + 2350000;
  Child<TGraphView>(Window, "GraphView")
      ->ClickAt(Child<TGraphView>(Window, "GraphView")->Axis().XAt(moment));
  EXPECT_EQ(view->Table->currentIndex().row(), 3);
  EXPECT_EQ(Cell(1, 2), "06");
  EXPECT_EQ(Cell(2, 2), "ano");
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "Napájení zapnuto");
  EXPECT_EQ(Child<QLabel>(Window, "LabelProudP")->text(), "Ip =  37.50 %");

  QTest::mouseClick(Child<QToolButton>(Window, "ButtonPresent"), Qt::LeftButton);
  EXPECT_EQ(Child<QLabel>(Window, "PanelPower")->text(), "$81");

  // Closed: the window shows exactly what it showed before.
  QTest::mouseClick(Child<QToolButton>(Window, "ButtonCloseCapture"), Qt::LeftButton);
  EXPECT_FALSE(Captures->CaptureOpen());
  EXPECT_FALSE(Child<QFrame>(Window, "PanelPast")->isVisible());
  EXPECT_EQ(Shown(), before);
  EXPECT_EQ(&view->Model->Ring(), &Window->Session().History());
  EXPECT_TRUE(Child<TGraphView>(Window, "GraphView")->Following());
}

// A recording begun while the port was away starts with its gap line.
TEST_F(CaptureWindow, AGapBeforeTheFirstReadKeepsTheLogsStart) {
  const QString path = Write("gapfirst.vlog",
                             "# vantrel-capture 1\n"
                             "# start 2026-12-08T14:03:05.000000Z\n"
                             "# gap 2.000000\n"
                             "(1796738585.100000) C5 4A 41 00 0B\n");
  ASSERT_TRUE(Open(path));
  TTrafficView* view = Child<TTrafficView>(Window, "TrafficView");
  view->SetTimeMode(TTimeMode::tmZero);
  ASSERT_EQ(view->Model->rowCount(), 1);
  EXPECT_EQ(view->Model->CellText(0, TTrafficModel::colTime), "0.100000");
}

TEST_F(CaptureWindow, OpeningIsRefusedWhileConnectedAndConnectingClosesTheCapture) {
  ASSERT_TRUE(Open(Write("run.vlog", kLog)));
  ASSERT_TRUE(Captures->CaptureOpen());
  Boxes.clear();
  Connect();
  EXPECT_FALSE(Captures->CaptureOpen());
  EXPECT_FALSE(Child<QFrame>(Window, "PanelPast")->isVisible());
  EXPECT_EQ(&Child<TTrafficView>(Window, "TrafficView")->Model->Ring(),
            &Window->Session().History());
  EXPECT_FALSE(Child<QToolButton>(Window, "SpeedButtonOpen")->isEnabled());
  EXPECT_FALSE(Captures->OpenCapture(Path("run.vlog")));
  ASSERT_EQ(Boxes.size(), 1);
  EXPECT_TRUE(Boxes[0].contains(QString::fromUtf8("jen bez připojení")));
  Disconnect();
  EXPECT_TRUE(Child<QToolButton>(Window, "SpeedButtonOpen")->isEnabled());
}

TEST_F(CaptureWindow, ErrorsAndARawCaptureWithoutTimes) {
  ASSERT_TRUE(Open(Path("missing.vlog")));
  EXPECT_FALSE(Captures->CaptureOpen());
  ASSERT_EQ(Boxes.size(), 1);
  EXPECT_TRUE(Boxes[0].contains("No such file or directory")) << Boxes[0].toStdString();
  ASSERT_TRUE(Open(Write("other.vlog", "# vantrel-capture 2\n(1.000000) 41\n")));
  EXPECT_FALSE(Captures->CaptureOpen());
  ASSERT_EQ(Boxes.size(), 2);
  EXPECT_TRUE(Boxes[1].contains("version 2")) << Boxes[1].toStdString();
  ASSERT_TRUE(Open(Write("empty.vlog", "# vantrel-capture 1\n# port x\n")));
  EXPECT_FALSE(Captures->CaptureOpen());
  EXPECT_TRUE(Boxes.last().contains(QString::fromUtf8("neobsahuje žádná data")));

  // Raw bytes: placed back to back at the line's speed (9600 baud, 10 bits
  // a byte), the last one ending when the file was last written.
  const QString raw = Write("run.bin", Bytes({0xC5, 0x4A, 0x41, 0x00, 0x0B}));
  const utimbuf times{1796738585, 1796738585};
  ASSERT_EQ(::utime(QFile::encodeName(raw).constData(), &times), 0);
  Boxes.clear();
  ASSERT_TRUE(Open(raw));
  ASSERT_TRUE(Captures->CaptureOpen());
  EXPECT_TRUE(Boxes.isEmpty());
  const TTrafficSource& items = Child<TTrafficView>(Window, "TrafficView")->Model->Ring();
  ASSERT_EQ(items.Count(), 2u);
  EXPECT_EQ(items.TimeUs(1), kT0);
  EXPECT_EQ(items.TimeUs(0), kT0 - 4166);  // 5 bytes of 1041.67 µs, the first one's end
  EXPECT_EQ(Cell(3, 1), "4A 41 00 0B ");
  // Compressed, the same bytes end at the same moment.
  ASSERT_EQ(QProcess::execute("gzip", {"-k", raw}), 0);
  ASSERT_EQ(::utime(QFile::encodeName(raw + ".gz").constData(), &times), 0);
  ASSERT_TRUE(Open(raw + ".gz"));
  ASSERT_TRUE(Captures->CaptureOpen());
  const TTrafficSource& unpacked = Child<TTrafficView>(Window, "TrafficView")->Model->Ring();
  ASSERT_EQ(unpacked.Count(), 2u);
  EXPECT_EQ(unpacked.TimeUs(1), kT0);
  EXPECT_EQ(unpacked.TimeUs(0), kT0 - 4166);
  // In two gzip parts (gzip's trailer has only the last one's size): the
  // same again.
  const QString first = Write("a.bin", Bytes({0xC5, 0x4A}));
  const QString second = Write("b.bin", Bytes({0x41, 0x00, 0x0B}));
  ASSERT_EQ(QProcess::execute("sh", {"-c", QString("gzip -c '%1' > '%3' && gzip -c '%2' >> '%3'")
                                               .arg(first, second, raw + "2.gz")}),
            0);
  ASSERT_EQ(::utime(QFile::encodeName(raw + "2.gz").constData(), &times), 0);
  ASSERT_TRUE(Open(raw + "2.gz"));
  ASSERT_TRUE(Captures->CaptureOpen());
  const TTrafficSource& parts = Child<TTrafficView>(Window, "TrafficView")->Model->Ring();
  ASSERT_EQ(parts.Count(), 2u);
  EXPECT_EQ(parts.TimeUs(1), kT0);
  EXPECT_EQ(parts.TimeUs(0), kT0 - 4166);
}

// A named pipe or a terminal would hold the reading for ever: refused at
// once with a word, and the window can open the next capture.  A quick
// open that ends in a message leaves no progress box behind it, even while
// the message waits for an answer (longer than the box's 400 ms delay).
TEST_F(CaptureWindow, APipeIsRefusedAndAQuickOpenLeavesNoProgressBox) {
  const QString fifo = Path("fifo.vlog");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  bool progressShown = false;
  SetMessageBoxHandler([&](QWidget*, const QString&, const QString& text, TMsgIcon, TMsgButtons) {
    Boxes << text;
    QEventLoop answer;  // a box's own loop, as a user reads it
    QTimer::singleShot(700, &answer, &QEventLoop::quit);
    answer.exec();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QProgressDialog*>(w) && w->isVisible()) progressShown = true;
    return TMsgResult::Ok;
  });
  ASSERT_TRUE(Open(fifo));
  EXPECT_FALSE(Captures->CaptureOpen());
  ASSERT_EQ(Boxes.size(), 1);
  EXPECT_TRUE(Boxes[0].contains("not a file")) << Boxes[0].toStdString();
  EXPECT_FALSE(progressShown);
  EXPECT_TRUE(Child<QToolButton>(Window, "SpeedButtonOpen")->isEnabled());
  ASSERT_TRUE(Open(Write("t.vlog", kLog)));
  EXPECT_TRUE(Captures->CaptureOpen());
}

TEST_F(CaptureWindow, TheLiveHistorysPastWhileDisconnected) {
  Connect();
  ASSERT_TRUE(Pty.Send(Bytes({0xC5, 0x4A, 0x41, 0x00, 0x0B})));
  ASSERT_TRUE(WaitRecorded(2));
  ASSERT_TRUE(Pty.Send(
      Bytes({0xC6, 0x61, 0x63, 0x00, 0x03, 0x8A, 0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04})));
  ASSERT_TRUE(WaitRecorded(5));
  // While connected the present goes on.
  EXPECT_FALSE(Captures->ShowItemState(1));
  Disconnect();
  const QStringList present = Shown();
  ASSERT_EQ(Cell(1, 2), "06");

  SelectRow(0);  // the turnout: before device 6 and the status
  EXPECT_TRUE(Captures->ShowingPast());
  EXPECT_TRUE(Child<QLabel>(Window, "LabelPast")->text().startsWith("Minulost"));
  EXPECT_FALSE(Child<QToolButton>(Window, "ButtonCloseCapture")->isVisible());
  EXPECT_EQ(Cell(1, 1), "05");
  EXPECT_EQ(Cell(3, 1), "4A 41 00 0B ");
  EXPECT_EQ(Cell(1, 2), "01");
  EXPECT_EQ(Child<QLabel>(Window, "LabelCentral")->text(), "");

  QTest::mouseClick(Child<QToolButton>(Window, "ButtonPresent"), Qt::LeftButton);
  EXPECT_FALSE(Captures->ShowingPast());
  EXPECT_EQ(Shown(), present);
  // The same row again shows its moment again.
  SelectRow(0);
  EXPECT_TRUE(Captures->ShowingPast());
  // Connecting is going back to the present; the power panel then says
  // "připojeno" and an old error goes, so only the grid and the status values.
  Connect();
  EXPECT_FALSE(Captures->ShowingPast());
  const qsizetype values = 31 * 5 + 6;
  EXPECT_EQ(Shown().mid(0, values), present.mid(0, values));
}

TEST_F(CaptureWindow, RecordsEveryReadAcrossAManualReconnectWithAGap) {
  QString suggested;
  Captures->AskRecordPath = [&](const QString& s) {
    suggested = s;
    return Path("rec.vlog");
  };
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonRecord"), Qt::LeftButton);
  ASSERT_TRUE(Captures->Recording());
  EXPECT_TRUE(QFileInfo(suggested).fileName().contains(
      QRegularExpression("^vantrel-\\d{8}-\\d{6}\\.vlog$")))
      << suggested.toStdString();
  EXPECT_EQ(MonitorSettings.CaptureFolder, Dir.path().toStdString());

  Connect();
  const std::string first = Bytes({0xC5, 0x4A, 0x41, 0x00, 0x0B});
  ASSERT_TRUE(Pty.Send(first));
  ASSERT_TRUE(WaitRecorded(2));
  Disconnect();
  QTest::qWait(300);
  Connect();
  const std::string second = Bytes({0xC6, 0x61, 0x63, 0x00, 0x03, 0x8A});
  ASSERT_TRUE(Pty.Send(second));
  ASSERT_TRUE(WaitRecorded(4));
  EXPECT_TRUE(Child<QLabel>(Window, "LabelStatusRecord")
                  ->text()
                  .startsWith(QString::fromUtf8("Záznam: rec.vlog")))
      << Child<QLabel>(Window, "LabelStatusRecord")->text().toStdString();
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonRecord"), Qt::LeftButton);
  EXPECT_FALSE(Captures->Recording());
  EXPECT_TRUE(Child<QLabel>(Window, "LabelStatusRecord")
                  ->text()
                  .startsWith(QString::fromUtf8("Záznam uložen")));

  TCaptureReader in;
  const std::vector<TCaptureItem> items = ReadBack(Path("rec.vlog"), in);
  EXPECT_EQ(in.MalformedLines(), 0u);
  std::string before, after;
  int gaps = 0;
  for (const TCaptureItem& item : items) {
    if (item.Kind == TCaptureKind::ckGap) {
      ++gaps;
      EXPECT_GE(item.GapUs, 250000);
      EXPECT_LT(item.GapUs, 5000000);
    } else {
      (gaps ? after : before) += item.Bytes;
    }
  }
  EXPECT_EQ(gaps, 1);
  EXPECT_EQ(before, first);
  EXPECT_EQ(after, second);
}

// The port is lost and waited for, the user gives up the wait and connects
// again by hand later: the recording's gap runs from the loss.
TEST_F(CaptureWindow, AGapFromALostPortSurvivesAManualReconnect) {
  Captures->AskRecordPath = [&](const QString&) { return Path("lost.vlog"); };
  const std::string link = Path("bus").toStdString();
  auto relink = [&](const TPtyPair& pty) {
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(pty.Path.c_str(), link.c_str()), 0);
  };
  auto first = std::make_unique<TPtyPair>();
  relink(*first);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonRecord"), Qt::LeftButton);
  ASSERT_TRUE(Captures->Recording());
  Window->SetPortOverride(link);
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  ASSERT_TRUE(Child<QAction>(Window, "ActionConnect")->isChecked());
  ASSERT_TRUE(first->Send(Bytes({0x41})));
  ASSERT_TRUE(WaitRecorded(1));
  first.reset();  // pulled
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window->WaitingForPort(); }, 3000));
  QElapsedTimer since;
  since.start();
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"),
                    Qt::LeftButton);  // gives up the wait
  ASSERT_FALSE(Child<QAction>(Window, "ActionConnect")->isChecked());
  QTest::qWait(300);
  TPtyPair second;
  relink(second);
  const int64_t atLeastUs = since.elapsed() * 1000;  // the loss came before since began
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
  ASSERT_TRUE(Child<QAction>(Window, "ActionConnect")->isChecked());
  ASSERT_TRUE(second.Send(Bytes({0x42})));
  ASSERT_TRUE(WaitRecorded(2));
  ASSERT_TRUE(Captures->StopRecording());

  TCaptureReader in;
  std::string kinds;
  for (const TCaptureItem& item : ReadBack(Path("lost.vlog"), in)) {
    kinds += item.Kind == TCaptureKind::ckGap ? 'g' : 'c';
    if (item.Kind == TCaptureKind::ckGap) EXPECT_GE(item.GapUs, atLeastUs);
  }
  EXPECT_EQ(kinds, "cgc");
}

TEST_F(CaptureWindow, AFullDiskStopsTheRecordingAndTheMonitorGoesOn) {
  EXPECT_FALSE(Captures->StartRecording("/dev/full"));
  ASSERT_EQ(Boxes.size(), 1);
  EXPECT_TRUE(Boxes[0].contains("No space left on device"));
  EXPECT_FALSE(Child<QToolButton>(Window, "SpeedButtonRecord")->isChecked());

  // A file may grow no further than 4 KiB: the disk is full midway.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  ASSERT_TRUE(Captures->StartRecording(Path("full.vlog")));
  Connect();
  std::string round = Bytes({0xC5, 0x4A, 0x41, 0x00, 0x0B});
  for (int i = 0; i < 10 && Captures->Recording(); ++i) {
    std::string burst;
    for (int k = 0; k < 100; ++k) burst += round;
    ASSERT_TRUE(Pty.Send(burst));
    QTest::qWait(150);
  }
  const bool stopped = QTest::qWaitFor([&] { return !Captures->Recording(); }, 5000);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  ASSERT_TRUE(stopped);
  ASSERT_EQ(Boxes.size(), 2);
  EXPECT_TRUE(Boxes[1].contains("File too large")) << Boxes[1].toStdString();
  EXPECT_TRUE(Child<QLabel>(Window, "LabelStatusRecord")->text().contains("zastaven"));
  EXPECT_FALSE(Child<QToolButton>(Window, "SpeedButtonRecord")->isChecked());

  // Still monitoring, and what was written reads back.
  EXPECT_TRUE(Child<QAction>(Window, "ActionConnect")->isChecked());
  const uint64_t seen = Window->Traffic().TotalItems();
  ASSERT_TRUE(Pty.Send(round));
  EXPECT_TRUE(WaitRecorded(seen + 2));
  TCaptureReader in;
  const std::vector<TCaptureItem> items = ReadBack(Path("full.vlog"), in);
  EXPECT_TRUE(in.LastErrorText().empty());
  EXPECT_EQ(in.MalformedLines(), 0u);
  EXPECT_FALSE(items.empty());
  EXPECT_LE(QFileInfo(Path("full.vlog")).size(), 4096);
}
