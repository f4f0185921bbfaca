// The traffic view on its own, offscreen: rows per drain, time modes,
// following and pause, filters and find through the controls, export.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <time.h>

#include <fstream>
#include <initializer_list>
#include <sstream>

#include "app/MonoCellDelegate.h"
#include "app/TrafficView.h"
#include "base/LocalTime.h"
#include "bus/uVantrelSeq.h"
#include "controls/Convert.h"
#include "controls/MsgBox.h"

namespace {

std::string B(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

constexpr int64_t kStart = 1700000000000000;  // a whole second

class TrafficViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    Ring.BeginSession(kStart);
    View = new TTrafficView(Ring);
    View->resize(620, 400);
    View->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(View));
    QApplication::setActiveWindow(View);  // window shortcuts (F3) need it
    ASSERT_TRUE(QTest::qWaitForWindowActive(View));
  }
  void TearDown() override { delete View; }

  // One poll of device `device` and its answer, 1 ms apart.
  void Poll(int device, int answer) {
    Ring.Append(Now, B({device | 0x40 | (__builtin_popcount(device | 0x40) % 2 ? 0x80 : 0)}));
    Now += 1000;
    Ring.Append(Now, B({0x45, 0, 0, answer & 0xFF}));
    Now += 1000;
  }
  QString Text(int row, int col) const { return View->Model->CellText(row, col); }
  // The background the table draws a row's hex cell on; invalid: none.
  QColor Background(int row) const {
    QStyleOptionViewItem option;
    static_cast<TMonoCellDelegate*>(View->Table->itemDelegate())
        ->initStyleOption(&option, View->Model->index(row, 2));
    return option.backgroundBrush.style() == Qt::NoBrush ? QColor()
                                                         : option.backgroundBrush.color();
  }
  int Rows() const { return View->Model->rowCount(); }
  QScrollBar* Bar() const { return View->Table->verticalScrollBar(); }
  bool AtEnd() const { return Bar()->value() == Bar()->maximum(); }

  TTrafficRing Ring{TTrafficRing::kMinCapacity};
  TTrafficView* View = nullptr;
  int64_t Now = kStart + 250000;
};

}  // namespace

TEST_F(TrafficViewTest, OneInsertPerDrainAndTheDumpsTexts) {
  QSignalSpy inserted(View->Model, &QAbstractItemModel::rowsInserted);
  for (int i = 0; i < 50; ++i) Poll(5, i);
  Ring.Append(Now, B({0x00, 0x80, 0x80}));
  View->ItemsAdded();
  EXPECT_EQ(inserted.count(), 1);
  // Calls are hidden by default: 50 answers and the power message.
  ASSERT_EQ(Rows(), 51);
  EXPECT_EQ(Text(0, TTrafficModel::colDevice), "05");
  EXPECT_EQ(Text(0, TTrafficModel::colHex), "45 00 00 00");
  EXPECT_EQ(Text(0, TTrafficModel::colComment), "");
  EXPECT_EQ(Text(50, TTrafficModel::colComment), QString::fromUtf8("Napájení zapnuto"));
  EXPECT_TRUE(View->LabelCounts->text().contains("51")) << View->LabelCounts->text().toStdString();
  EXPECT_TRUE(View->LabelCounts->text().contains("101"));
  View->ItemsAdded();
  EXPECT_EQ(inserted.count(), 1) << "nothing new, no insert";
}

TEST_F(TrafficViewTest, TimeModesAbsoluteDeltaToShownRowAndSinceConnecting) {
  Poll(1, 1);  // the answer at 0.251 s
  Now += 1500000;
  Poll(1, 2);
  View->ItemsAdded();
  ASSERT_EQ(Rows(), 2);
  const time_t sec = static_cast<time_t>(kStart / 1000000);
  tm local{};
  ASSERT_TRUE(ToLocalTime(sec, local));
  char expected[32];
  std::snprintf(expected, sizeof expected, "%02d:%02d:%02d.251", local.tm_hour, local.tm_min,
                local.tm_sec);
  EXPECT_EQ(Text(0, TTrafficModel::colTime), expected);

  View->ComboTime->setCurrentIndex(1);
  emit View->ComboTime->activated(1);
  EXPECT_EQ(View->TimeMode(), TTimeMode::tmDelta);
  EXPECT_EQ(Text(0, TTrafficModel::colTime), "0.000000");
  // From the previous shown row, not from the hidden call between them.
  EXPECT_EQ(Text(1, TTrafficModel::colTime), "1.502000");

  View->SetTimeMode(TTimeMode::tmZero);
  EXPECT_EQ(View->ComboTime->currentIndex(), 2);
  EXPECT_EQ(Text(1, TTrafficModel::colTime), "1.753000");
}

TEST_F(TrafficViewTest, ScrollingUpStopsFollowingEndResumesAndTheReadRowsStayPut) {
  for (int i = 0; i < 200; ++i) Poll(2, i);
  View->ItemsAdded();
  EXPECT_TRUE(View->Following());
  EXPECT_TRUE(AtEnd());
  Bar()->setValue(Bar()->value() - 40);  // as the wheel would
  EXPECT_FALSE(View->Following());
  EXPECT_FALSE(View->ButtonFollow->isChecked());
  const int top = View->Table->rowAt(0);
  const uint64_t topSeq = View->Model->SeqAt(top);
  // The ring is full: every new poll drops an old one; the top row stays.
  for (int i = 0; i < 400; ++i) Poll(2, i);
  View->ItemsAdded();
  EXPECT_FALSE(View->Following());
  EXPECT_EQ(View->Model->SeqAt(View->Table->rowAt(0)), topSeq);
  EXPECT_EQ(Ring.Dropped(), 200u);
  EXPECT_EQ(View->LabelDropped->text(), QString::fromUtf8("200 starších zahozeno"));

  View->Table->setFocus();
  QTest::keyClick(View->Table, Qt::Key_End);
  EXPECT_TRUE(View->Following());
  EXPECT_TRUE(AtEnd());
  Poll(2, 7);
  View->ItemsAdded();
  EXPECT_TRUE(AtEnd()) << Bar()->value() << " " << Bar()->maximum() << " rows " << Rows();
}

TEST_F(TrafficViewTest, PauseFreezesRowsCountsNewItemsAndResumesAtTheNewest) {
  Poll(3, 1);
  View->ItemsAdded();
  QTest::mouseClick(View->ButtonPause, Qt::LeftButton);
  EXPECT_TRUE(View->Paused());
  for (int i = 0; i < 10; ++i) Poll(3, i);
  View->ItemsAdded();
  EXPECT_EQ(Rows(), 1) << "what is shown stays";
  EXPECT_EQ(View->ButtonPause->text(), "Pozastavit (+20)");
  // A filter change while paused still ends at the pause.
  View->CheckHideCalls->setChecked(false);
  EXPECT_EQ(Rows(), 2);
  QTest::mouseClick(View->ButtonPause, Qt::LeftButton);
  EXPECT_FALSE(View->Paused());
  EXPECT_EQ(View->ButtonPause->text(), "Pozastavit");
  EXPECT_EQ(Rows(), 22);
  EXPECT_TRUE(View->Following());
  EXPECT_TRUE(AtEnd());
}

TEST_F(TrafficViewTest, FiltersThroughTheControls) {
  Poll(1, 0x0B);
  Ring.Append(Now, B({0x1F}));
  Ring.Append(Now, B({0x4A, 0x41, 0x00, 0x0B}));
  Poll(2, 0x22);
  Ring.Append(Now, B({0x20, 0x01, 0x02}));
  View->ItemsAdded();
  EXPECT_TRUE(View->CheckHideCalls->isChecked());
  EXPECT_EQ(Rows(), 4);

  View->CheckHideCalls->setChecked(false);  // calls and 1F too
  EXPECT_EQ(Rows(), 7);
  View->ActionKinds[static_cast<int>(TItemKind::ikIdle)]->trigger();
  EXPECT_EQ(Rows(), 6);
  EXPECT_FALSE(View->CheckHideCalls->isChecked()) << "only one of the two is hidden";
  View->ActionKinds[static_cast<int>(TItemKind::ikCallByte)]->trigger();
  EXPECT_TRUE(View->CheckHideCalls->isChecked());
  View->ActionKinds[static_cast<int>(TItemKind::ikUnrecognised)]->trigger();
  EXPECT_EQ(Rows(), 3);
  EXPECT_EQ(View->ButtonKinds->text(), "Druhy*");
  View->ActionKinds[static_cast<int>(TItemKind::ikUnrecognised)]->trigger();

  View->ShowOnlyDevice(1);
  EXPECT_EQ(Rows(), 2);
  EXPECT_EQ(View->ButtonDevices->text(), QString::fromUtf8("Zařízení: 01"));
  EXPECT_TRUE(View->ActionDevices[1]->isChecked());
  View->ActionDevices[2]->trigger();  // one more device
  EXPECT_EQ(Rows(), 4);
  // The devices by name, never a bare count that reads as an address.
  EXPECT_EQ(View->ButtonDevices->text(), QString::fromUtf8("Zařízení: 01, 02"));
  for (int a : {0x0A, 0x10}) View->ActionDevices[a]->trigger();
  EXPECT_EQ(View->ButtonDevices->text(), QString::fromUtf8("4 zařízení"));
  EXPECT_TRUE(View->ButtonDevices->toolTip().endsWith(QString::fromUtf8("01, 02, 0A, 10")));
  View->ActionAllDevices->trigger();
  EXPECT_EQ(Rows(), 4);

  // Text: typed, applied after a pause in typing, or at once by Enter.
  QTest::keyClicks(View->EditFilter, "vyhybka");
  EXPECT_EQ(Rows(), 4) << "not while typing";
  QTest::keyClick(View->EditFilter, Qt::Key_Return);
  EXPECT_EQ(Rows(), 1);
  EXPECT_EQ(Text(0, TTrafficModel::colComment), "Vyhybka 2 L T");
  View->EditFilter->clear();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Rows() == 4; }, 2000));
  QTest::keyClicks(View->EditFilter, "45 00 00 22");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Rows() == 1; }, 2000));
  EXPECT_EQ(Text(0, TTrafficModel::colDevice), "02");
}

TEST_F(TrafficViewTest, FindHighlightsAndScrollsBothWays) {
  for (int i = 0; i < 300; ++i) Poll(4, i == 20 || i == 250 ? 0x77 : 1);
  View->ItemsAdded();
  QTest::keyClicks(View->EditFind, "00 77");
  QTest::keyClick(View->EditFind, Qt::Key_F3);
  int row = View->Table->currentIndex().row();
  ASSERT_GE(row, 0);
  EXPECT_EQ(Text(row, TTrafficModel::colHex), "45 00 00 77");
  EXPECT_EQ(row, 20);
  EXPECT_FALSE(View->Following()) << "the match is not pushed away";
  EXPECT_EQ(Background(row), QColor(255, 226, 110));
  const QRect shown = View->Table->viewport()->rect();
  EXPECT_TRUE(shown.contains(View->Table->visualRect(View->Model->index(row, 0))));

  QTest::keyClick(View->EditFind, Qt::Key_F3);
  EXPECT_EQ(View->Table->currentIndex().row(), 250);
  QTest::keyClick(View->EditFind, Qt::Key_F3);
  EXPECT_EQ(View->Table->currentIndex().row(), 20);
  EXPECT_TRUE(View->LabelNote->text().contains(QString::fromUtf8("od začátku")));
  QTest::keyClick(View->EditFind, Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(View->Table->currentIndex().row(), 250);
  EXPECT_TRUE(shown.contains(View->Table->visualRect(View->Model->index(250, 0))));
  EXPECT_FALSE(Background(20).isValid());
  EXPECT_EQ(Background(250), QColor(255, 226, 110));

  View->EditFind->setText("no such thing");
  EXPECT_FALSE(View->FindNext(true));
  EXPECT_TRUE(View->LabelNote->text().startsWith("Nenalezeno"));
}

// Many device messages, one of them (item hit) unlike the others.
void FillMany(TTrafficRing& ring, int count, int hit) {
  ring.BeginSession(kStart);
  for (int i = 0; i < count; ++i)
    ring.Append(kStart + i, B({0x45, 0, i == hit ? 0x77 : 1, i & 0xFF}));
}

TEST(TrafficViewFind, AFindOverManyRowsLetsTheWindowRunAndEndsThroughTheEventLoop) {
  TTrafficRing ring(300000);
  FillMany(ring, 250000, 240000);
  TTrafficView view(ring);
  ASSERT_FALSE(view.Model->Scanning());
  view.SliceMs = 0;  // a step a turn, however fast the machine
  int ticks = 0;
  QTimer beside;  // stands for the window's own work
  beside.setInterval(0);
  QObject::connect(&beside, &QTimer::timeout, [&] { ++ticks; });
  beside.start();
  QSignalSpy done(&view, &TTrafficView::FindDone);

  view.EditFind->setText("00 77");
  EXPECT_FALSE(view.FindNext(true)) << "not found in the first step";
  EXPECT_TRUE(view.Finding());
  EXPECT_EQ(view.LabelNote->text(), QString::fromUtf8("Hledám…"));
  ASSERT_TRUE(done.wait(30000));
  EXPECT_TRUE(done.last().at(0).toBool());
  EXPECT_GT(ticks, 3) << "the event loop ran while the rows were searched";
  EXPECT_FALSE(view.Finding());
  ASSERT_TRUE(view.Table->currentIndex().isValid());
  EXPECT_EQ(view.Model->SeqAt(view.Table->currentIndex().row()), 240000u);
  EXPECT_EQ(view.HighlightSeq(), 240000u);

  ticks = 0;
  view.EditFind->setText("no such thing");
  EXPECT_FALSE(view.FindNext(false));
  ASSERT_TRUE(done.wait(30000));
  EXPECT_FALSE(done.last().at(0).toBool());
  EXPECT_GT(ticks, 3);
  EXPECT_TRUE(view.LabelNote->text().startsWith("Nenalezeno"));
  EXPECT_EQ(view.HighlightSeq(), 240000u) << "the match found before stays";

  // Typing and a filter change stop a find under way: it never ends.
  const int ended = done.count();
  view.FindNext(true);
  ASSERT_TRUE(view.Finding());
  QTest::keyClicks(view.EditFind, "x");
  EXPECT_FALSE(view.Finding());
  EXPECT_NE(view.LabelNote->text(), QString::fromUtf8("Hledám…"));
  view.EditFind->setText("no such thing");
  view.FindNext(true);
  ASSERT_TRUE(view.Finding());
  TTrafficFilter all;
  all.Kinds = TTrafficFilter::kAllKinds;
  view.SetFilter(all);
  EXPECT_FALSE(view.Finding());
  QTest::qWait(50);
  EXPECT_EQ(done.count(), ended);
}

TEST(TrafficViewExport, ASaveOfManyRowsGoesOnFromTheEventLoopAndCanBeCancelled) {
  TTrafficRing ring(300000);
  FillMany(ring, 200000, -1);
  TTrafficView view(ring);
  view.SliceMs = 0;
  QTemporaryDir dir;
  int ticks = 0;
  QTimer beside;
  beside.setInterval(0);
  QObject::connect(&beside, &QTimer::timeout, [&] { ++ticks; });
  beside.start();
  QSignalSpy done(&view, &TTrafficView::ExportDone);

  QString error;
  ASSERT_TRUE(view.Export(dir.filePath("all.txt"), true, error)) << error.toStdString();
  EXPECT_TRUE(view.Exporting());
  QString busy;
  EXPECT_FALSE(view.Export(dir.filePath("other.txt"), true, busy)) << "one save at a time";
  ASSERT_TRUE(done.wait(30000));
  EXPECT_TRUE(done.last().at(0).toBool()) << done.last().at(1).toString().toStdString();
  EXPECT_GT(ticks, 3) << "the event loop ran while the lines were made";
  EXPECT_FALSE(view.Exporting());
  EXPECT_EQ(view.LabelNote->text(), QString::fromUtf8("Uloženo %1 řádků").arg(CountText(200000)));
  std::ifstream in(dir.filePath("all.txt").toStdString());
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) ++lines;
  EXPECT_EQ(lines, 200000);
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("other.txt")));

  ASSERT_TRUE(view.Export(dir.filePath("cancelled.txt"), false, error));
  ASSERT_TRUE(view.Exporting());
  view.CancelExport();
  ASSERT_TRUE(done.wait(30000));
  EXPECT_FALSE(done.last().at(0).toBool());
  EXPECT_TRUE(done.last().at(1).toString().isEmpty()) << "a cancel is no failure";
  EXPECT_EQ(view.LabelNote->text(), QString::fromUtf8("Ukládání zrušeno"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"all.txt"});
}

TEST_F(TrafficViewTest, SavesShownOrAllRowsAndReportsAFailure) {
  QTemporaryDir dir;
  for (int i = 0; i < 5; ++i) Poll(6, i);
  View->ItemsAdded();
  View->SetTimeMode(TTimeMode::tmZero);
  QString asked = dir.filePath("shown.txt");
  View->AskSavePath = [&](bool) { return asked; };
  View->SaveClicked(false);
  std::ifstream in(asked.toStdString());
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "(000.251000) 45 00 00 00");
  int lines = 1;
  for (std::string l; std::getline(in, l);) ++lines;
  EXPECT_EQ(lines, 5);
  asked = dir.filePath("all.txt");
  View->SaveClicked(true);
  std::ifstream all(asked.toStdString());
  std::getline(all, first);
  EXPECT_EQ(first, "(000.250000) C6\t06 ano");

  QStringList boxes;
  auto old = SetMessageBoxHandler(
      [&](QWidget*, const QString&, const QString& text, TMsgIcon, TMsgButtons) {
        boxes << text;
        return TMsgResult::Ok;
      });
  asked = dir.filePath("missing/x.txt");
  View->SaveClicked(false);
  SetMessageBoxHandler(old);
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(boxes[0].endsWith(": No such file or directory")) << boxes[0].toStdString();
  EXPECT_TRUE(boxes[0].startsWith(QString::fromUtf8("Provoz nelze uložit")));
  asked.clear();  // cancelled: nothing happens
  View->SaveClicked(false);
}

TEST_F(TrafficViewTest, ClippedCellShowsItsTextAsToolTipAndAFittingOneDoesNot) {
  Ring.Append(Now, B({0x41}));
  Ring.Append(Now, B({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}));
  View->ItemsAdded();
  View->Table->setColumnWidth(TTrafficModel::colHex, 40);
  auto hover = [&](int column) {
    const QRect cell = View->Table->visualRect(View->Model->index(0, column));
    QHelpEvent help(QEvent::ToolTip, cell.center(),
                    View->Table->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(View->Table->viewport(), &help);
  };
  hover(TTrafficModel::colDevice);
#ifndef _WIN32
  // Under wine "01" shows a tool tip as well (a test program gets other
  // fonts there, wider ones as the dialog's test found): not checked there.
  EXPECT_FALSE(QToolTip::isVisible()) << "\"01\" fits its column";
#endif
  hover(TTrafficModel::colHex);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), "00 00 8C 2D 00 13 04");
  QToolTip::hideText();
}

TEST_F(TrafficViewTest, StateGoesToTheSettingsAndComesBackUnusableValuesAreIgnored) {
  TMonitorSettings m;
  View->StoreState(m);
  EXPECT_EQ(m.TimeMode, "a");
  EXPECT_EQ(m.Kinds, "") << "the default filter is written as no value";
  EXPECT_EQ(m.Devices, "");

  TTrafficFilter f;
  f.Kinds = KindBit(TItemKind::ikCentralPower) | KindBit(TItemKind::ikDevice);
  f.Devices = (1u << 1) | (1u << 31);
  f.Text = "Loko #3";
  View->SetFilter(f);
  View->SetTimeMode(TTimeMode::tmDelta);
  View->SetColumnWidths({120, 40, 220});
  View->StoreState(m);
  EXPECT_EQ(m.TimeMode, "d");
  EXPECT_EQ(m.Kinds, "power,device");
  EXPECT_EQ(m.Devices, "01,1F");
  EXPECT_EQ(m.Filter, "Loko #3");
  EXPECT_EQ(m.TrafficColumns, "120,40,220");

  TTrafficView other(Ring);
  other.LoadState(m);
  EXPECT_EQ(other.Filter(), f);
  EXPECT_EQ(other.TimeMode(), TTimeMode::tmDelta);
  EXPECT_EQ(other.ColumnWidths().mid(0, 3), (QList<int>{120, 40, 220}));
  EXPECT_EQ(other.ComboTime->currentIndex(), 1);
  EXPECT_EQ(other.EditFilter->text(), "Loko #3");

  TMonitorSettings bad;
  bad.TimeMode = "x";
  bad.Kinds = "power,nonsense";
  bad.Devices = "00,20,zz,05";
  bad.TrafficColumns = "1,abc";
  TTrafficView third(Ring);
  third.LoadState(bad);
  EXPECT_EQ(third.TimeMode(), TTimeMode::tmAbsolute);
  EXPECT_EQ(third.Filter().Kinds, TTrafficFilter::kDefaultKinds);
  EXPECT_EQ(third.Filter().Devices, 1u << 5);
  EXPECT_EQ(third.ColumnWidths()[0], 96);
}

namespace {
// Counts the events of one type an object gets.
class TEventCount : public QObject {
public:
  TEventCount(QObject* target, QEvent::Type type) : FType(type) {
    target->installEventFilter(this);
  }
  int Count = 0;

protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == FType) ++Count;
    return false;
  }

private:
  QEvent::Type FType;
};
}  // namespace

TEST(TrafficViewCost, FollowingRedrawsTheRowsButNotTheScrollBarOrTheLayout) {
  TTrafficRing ring(100000);
  ring.BeginSession(kStart);
  int64_t now = kStart;
  auto polls = [&](int n) {
    for (int i = 0; i < n; ++i) {
      ring.Append(now += 1000, B({0xC5}));
      ring.Append(now += 1000, B({0x45, 0, 0, i & 0xFF}));
    }
  };
  TTrafficView view(ring);
  view.resize(620, 400);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QScrollBar* bar = view.Table->verticalScrollBar();
  TEventCount barPaints(bar, QEvent::Paint);
  TEventCount rowPaints(view.Table->viewport(), QEvent::Paint);
  TEventCount layouts(&view, QEvent::LayoutRequest);
  polls(2000);  // the handle is as short as it gets
  view.ItemsAdded();
  ASSERT_TRUE(QTest::qWaitFor([&] { return barPaints.Count > 0; }, 5000)) << "the handle moved";
  QTest::qWait(20);
  barPaints.Count = rowPaints.Count = layouts.Count = 0;
  for (int drain = 0; drain < 3; ++drain) {
    polls(20);
    view.ItemsAdded();
    const int before = rowPaints.Count;
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowPaints.Count > before; }, 5000));
  }
  QTest::qWait(20);  // a late redraw of the bar would come by now
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(barPaints.Count, 0) << "the handle stayed at the end";
  EXPECT_EQ(layouts.Count, 0) << "only the counts changed";
  EXPECT_EQ(
      view.LabelCounts->text(),
      QString("Zobrazeno %1 z %2").arg(QLocale().toString(2060)).arg(QLocale().toString(4120)));
  // A scroll that moves the handle draws the bar.
  bar->setValue(bar->maximum() / 2);
  EXPECT_TRUE(QTest::qWaitFor([&] { return barPaints.Count > 0; }, 5000));
}

TEST_F(TrafficViewTest, SeveralRowsAreCopiedAsTheSavedLinesOrAsTheirBytes) {
  QTemporaryDir dir;
  for (int i = 0; i < 5; ++i) Poll(6, i);
  View->ItemsAdded();
  ASSERT_EQ(Rows(), 5);
  // Rows 1 and 3, picked as a user does with Ctrl.
  const auto rowPoint = [&](int row) {
    return View->Table->visualRect(View->Model->index(row, 0)).center();
  };
  QTest::mouseClick(View->Table->viewport(), Qt::LeftButton, {}, rowPoint(1));
  QTest::mouseClick(View->Table->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(3));
  EXPECT_EQ(View->SelectedRows(), (QList<int>{1, 3}));
  for (TTimeMode mode : {TTimeMode::tmAbsolute, TTimeMode::tmDelta, TTimeMode::tmZero}) {
    SCOPED_TRACE(static_cast<int>(mode));
    View->SetTimeMode(mode);
    // The same lines as a save of the shown rows, with the view's time mode
    // (a delta counts from the row shown above, selected or not).
    const QString path = dir.filePath("shown.txt");
    QString error;
    ASSERT_TRUE(View->Export(path, false, error)) << error.toStdString();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split('\n');
    QApplication::clipboard()->clear();
    View->Table->setFocus();
    QTest::keyClick(View->Table, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), lines[1] + "\n" + lines[3] + "\n");
  }
  View->CopySelected(true);
  EXPECT_EQ(QApplication::clipboard()->text(), "45 00 00 01\n45 00 00 03\n");
  EXPECT_TRUE(View->LabelNote->text().contains("2"));
  // Nothing selected: the clipboard keeps what it had.
  View->Table->selectionModel()->clear();
  View->CopySelected(false);
  EXPECT_EQ(QApplication::clipboard()->text(), "45 00 00 01\n45 00 00 03\n");
}

TEST_F(TrafficViewTest, TheDeviceMenuStaysOpenForSeveralPicks) {
  QMenu* menu = View->ButtonDevices->menu();
  menu->popup(View->mapToGlobal(QPoint(0, 0)));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
  for (int a : {1, 0x0A}) {
    const QPoint at = menu->actionGeometry(View->ActionDevices[a]).center();
    QTest::mouseClick(menu, Qt::LeftButton, {}, at);
    EXPECT_TRUE(menu->isVisible()) << a;
    EXPECT_TRUE(View->ActionDevices[a]->isChecked()) << a;
  }
  EXPECT_EQ(View->ButtonDevices->text(), QString::fromUtf8("Zařízení: 01, 0A"));
  menu->close();
}

TEST_F(TrafficViewTest, CommentsShowMeasuredValuesWithTheRegionalDecimalSeparator) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));
  // A central's status: firmware 1.3, Ia 6.4 A of 12 A.
  std::string status = B({0x00, 0x00, 0x80 | 12, 64, 0x00, 0x13, 0x04});
  SetCheckByte(status);
  Ring.Append(Now, status);
  View->ItemsAdded();
  ASSERT_EQ(Rows(), 1);
  const QString comment = Text(0, TTrafficModel::colComment);
  QLocale::setDefault(before);
  EXPECT_TRUE(comment.contains("6,4 A")) << comment.toStdString();
  EXPECT_TRUE(comment.contains("1.3"))
      << "a version is no decimal number: " << comment.toStdString();
  EXPECT_FALSE(comment.contains("6.4")) << comment.toStdString();
}
