// "Statistika" offscreen: the window's drain feeds it, an event selects its
// traffic row, next/previous of a kind, the trigger of the settings acts,
// a capture and the graph's span are analysed, sorting and the CSV.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <fstream>
#include <iterator>

#include "app/AnalysisView.h"
#include "app/CaptureControl.h"
#include "app/GraphView.h"
#include "app/TrafficView.h"
#include "app/TriggerControl.h"
#include "app/TriggerDialog.h"
#include "bus/uVantrelSeq.h"
#include "capture/CaptureWriter.h"
#include "session/SessionStore.h"
#include "sim/SimTraffic.h"
#include "support/Child.h"
#include "support/TestBytes.h"
#include "support/TimeZone.h"
#include "support/WindowTest.h"
#include "traffic/TrafficArchive.h"
#include "traffic/TrafficRing.h"

namespace {

constexpr int64_t kT0 = 1796738400;
int64_t At(double second) { return kT0 * 1000000 + static_cast<int64_t>(second * 1e6); }

const std::string kTurnout = Bytes({0x4A, 0x41, 0x00, 0x0B});
const std::string kPowerOn = Bytes({0x00, 0x80, 0x80});
const std::string kPowerOff = Bytes({0x00, 0x81, 0x81});

// Device 1 talks at 0 s and 9 s (silent between), device 5 at 1 s; the
// power goes off at 3 s and on at 4 s.
void QueueBus() {
  QueueAdd(ByteString(kPowerOn), At(0));
  QueueAdd(ByteString(1, static_cast<char>(CallByteFor(1, true))), At(0.01));
  QueueAdd(ByteString(kTurnout), At(0.02));
  QueueAdd(ByteString(1, static_cast<char>(CallByteFor(5, true))), At(1));
  QueueAdd(ByteString(kTurnout), At(1.01));
  QueueAdd(ByteString(kPowerOff), At(3));
  QueueAdd(ByteString(kPowerOn), At(4));
  QueueAdd(ByteString(1, static_cast<char>(CallByteFor(1, true))), At(9));
  QueueAdd(ByteString(kTurnout), At(9.01));
}

class AnalysisWindow : public TWindowTest {
protected:
  void Open(const char* ini) {
    std::ofstream(Path("test.ini").toStdString()) << ini;
    LoadSettings();
    Window = new TFormVantrelBus;
    Window->resize(1000, 700);
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
  }
};

}  // namespace

TEST_F(AnalysisWindow, TheDrainFeedsItAndAnEventSelectsItsTrafficRow) {
  UseUtcAsLocalTime();
  Open("[Monitor]\nSilenceLimit=5\n");
  auto* view = Child<TAnalysisView>(Window, "AnalysisView");
  EXPECT_TRUE(view->isHidden());
  QueueBus();
  Window->AppIdle();
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonStats"), Qt::LeftButton);
  ASSERT_TRUE(view->isVisible());
  EXPECT_TRUE(Child<TTrafficView>(Window, "TrafficView")->isHidden());

  // Device 1: two messages, calls twice; device 5: one.
  const auto& rows = view->Stats->Rows();
  ASSERT_EQ(rows.size(), 32u);
  EXPECT_EQ(rows[1].Messages, 2u);
  EXPECT_EQ(rows[1].Calls, 2u);
  EXPECT_EQ(rows[5].Messages, 1u);
  EXPECT_EQ(rows[0].Messages, 3u);
  // Events: power, power off (3 s), power on, device 1 silent, device 5
  // silent, device 1 back.
  auto* events = Child<QTableView>(Window, "TableEvents");
  ASSERT_EQ(events->model()->rowCount(), 6);
  EXPECT_EQ(events->model()->index(3, 2).data().toString(),
            QString::fromUtf8("Zařízení 01 mlčí déle než 5.0 s"));

  // Next of a kind: "Ticho" skips the power events.
  view->ComboKind->setCurrentIndex(1 + static_cast<int>(TEventKind::ekSilent));
  auto* traffic = Child<TTrafficView>(Window, "TrafficView");
  QSignalSpy selected(view, &TAnalysisView::EventSelected);
  EXPECT_TRUE(view->GoToEvent(true));
  EXPECT_EQ(events->currentIndex().row(), 3);
  ASSERT_EQ(selected.count(), 1);
  EXPECT_EQ(selected[0][0].toULongLong(), 2u) << "device 1's last message";
  EXPECT_EQ(traffic->HighlightSeq(), 2u) << "its traffic row is selected";
  EXPECT_TRUE(view->GoToEvent(true));
  EXPECT_EQ(events->currentIndex().row(), 4);
  EXPECT_FALSE(view->GoToEvent(true)) << "no third silence";
  QTest::keyClick(events, Qt::Key_F4, Qt::ShiftModifier);
  EXPECT_EQ(events->currentIndex().row(), 3);
  // Enter on an event shows its row in the traffic view.
  QTest::keyClick(events, Qt::Key_Return);
  EXPECT_TRUE(traffic->isVisible());
  EXPECT_FALSE(view->isVisible());

  // The graph draws the events on its time axis.
  auto* graph = Child<TGraphView>(Window, "GraphView");
  int asked = 0;
  std::vector<TGraphView::TAxisMark> got;
  auto marks = graph->AxisMarks;
  graph->AxisMarks = [&](int64_t from, int64_t to, std::vector<TGraphView::TAxisMark>& m) {
    ++asked;
    marks(from, to, m);
    got = m;
  };
  graph->SetView(At(0), At(20));
  graph->grab();
  EXPECT_GT(asked, 0);
  EXPECT_EQ(got.size(), 6u);
}

TEST_F(AnalysisWindow, TheTriggerPausesAndAsksForAMarkOnAPowerChange) {
  Open(
      "[Monitor]\nTriggerEvents=power\nTriggerActions=pause,mark\nTriggerBeep=1\n"
      "TriggerNotify=1\n");
  TTriggerControl* trigger = Window->Triggers();
  QSignalSpy marks(trigger, &TTriggerControl::MarkRequested);
  auto* traffic = Child<TTrafficView>(Window, "TrafficView");
  QueueAdd(ByteString(1, static_cast<char>(CallByteFor(1, true))), At(0));
  QueueAdd(ByteString(kTurnout), At(0.01));
  Window->AppIdle();
  EXPECT_FALSE(traffic->Paused());
  EXPECT_EQ(marks.count(), 0);
  QueueAdd(ByteString(kPowerOff), At(1));
  QueueAdd(ByteString(1, static_cast<char>(CallByteFor(1, true))), At(1.1));
  Window->AppIdle();
  EXPECT_TRUE(traffic->Paused()) << "paused by the trigger (the notification needs no tray)";
  ASSERT_EQ(marks.count(), 1);
  EXPECT_EQ(marks[0][0].toULongLong(), 2u);
  EXPECT_EQ(marks[0][1].toString(), QString::fromUtf8("Napájení: $81"));
  QueueAdd(ByteString(kPowerOff), At(2));
  Window->AppIdle();
  EXPECT_EQ(marks.count(), 1) << "the same state again is no change";
  EXPECT_EQ(trigger->Hits(), 1u);
}

TEST_F(AnalysisWindow, TheTriggerSetInItsDialogActsAndIsSavedKeepingNamesItDoesNotOffer) {
  // "record-stop" is offered, "later" (a name of a newer version) is not.
  Open("[Monitor]\nTriggerActions=later,record-stop\n");
  auto* traffic = Child<TTrafficView>(Window, "TrafficView");
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<TTriggerDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->CheckActions[2]->isChecked()) << "record-stop as read";
    dialog->CheckActions[2]->setChecked(false);
    dialog->findChild<QCheckBox*>("CheckTrigger_power")->setChecked(true);
    dialog->CheckActions[0]->setChecked(true);  // pause
    dialog->EditPattern->setText("  4A 41 ");
    dialog->accept();
  });
  QTest::mouseClick(Child<QToolButton>(Window, "ButtonTrigger"), Qt::LeftButton);
  EXPECT_EQ(MonitorSettings.Analysis.TriggerEvents, "power");
  EXPECT_EQ(MonitorSettings.Analysis.TriggerActions, "pause,later");
  EXPECT_EQ(MonitorSettings.Analysis.TriggerPattern, "4A 41");
  std::ifstream in(Path("test.ini").toStdString());
  const std::string ini((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(ini.find("TriggerEvents=power"), std::string::npos) << ini;
  EXPECT_NE(ini.find("TriggerActions=pause,later"), std::string::npos) << ini;

  // It acts at once: the power going off pauses the view.
  QueueAdd(ByteString(kPowerOff), At(1));
  Window->AppIdle();
  EXPECT_TRUE(traffic->Paused());
}

TEST_F(AnalysisWindow, AnAnalyserSwitchedOffTakesNothing) {
  Open("[Monitor]\nAnalyser=0\n");
  QueueBus();
  Window->AppIdle();
  EXPECT_EQ(Window->Session().Analysis().Stats().Items(), 0u);
  EXPECT_EQ(Window->Traffic().End(), 9u);
}

TEST(AnalysisView, ACaptureAndTheGraphsSpanSortedAndSavedAsCsv) {
  UseUtcAsLocalTime();
  QLocale::setDefault(QLocale::c());
  TTrafficArchive archive;
  archive.BeginSession(At(0));
  // Device 2: 30 messages in 30 s; device 7: 3, all in the first 3 s.
  for (int s = 0; s < 30; ++s) {
    archive.Append(At(s), ByteString(1, static_cast<char>(CallByteFor(2, true))));
    archive.Append(At(s + 0.01), kTurnout);
    if (s < 3) {
      archive.Append(At(s + 0.5), ByteString(1, static_cast<char>(CallByteFor(7, true))));
      archive.Append(At(s + 0.51), kTurnout);
    }
  }
  archive.Finish();
  TAnalysisView view;
  view.resize(800, 600);
  QSignalSpy analysed(&view, &TAnalysisView::Analysed);
  view.SetSource(archive);
  view.show();
  ASSERT_TRUE(analysed.wait(20000)) << "counted on a thread of its own";
  EXPECT_EQ(view.Shown().Stats().Items(), 66u);
  EXPECT_EQ(view.Stats->Rows()[7].Messages, 3u);
  EXPECT_TRUE(view.Stats->Rows()[7].Silent) << "silent at the capture's end";
  EXPECT_EQ(view.Events->rowCount(), 1);
  // Most messages first: device 2, then 7.
  view.TableStats->sortByColumn(TStatsModel::scMessages, Qt::DescendingOrder);
  EXPECT_EQ(view.StatsSorted->index(0, 0).data().toString(), "02");
  EXPECT_EQ(view.StatsSorted->index(1, 0).data().toString(), "07");
  EXPECT_EQ(view.StatsSorted->index(1, TStatsModel::scState).data().toString(),
            QString::fromUtf8("mlčí"));
  EXPECT_EQ(view.StatsSorted->index(1, 0).data(Qt::BackgroundRole).value<QColor>(),
            QColor(255, 214, 214));

  QTemporaryDir dir;
  QString error;
  const QString path = QDir(dir.path()).filePath("s.csv");
  ASSERT_TRUE(view.ExportCsv(path, error)) << error.toStdString();
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 33);
  EXPECT_TRUE(lines[1].startsWith("02,30,30,")) << lines[1].toStdString();
  EXPECT_TRUE(lines[2].startsWith("07,3,3,")) << lines[2].toStdString();
  EXPECT_TRUE(lines[2].endsWith(",ano")) << lines[2].toStdString();
  EXPECT_FALSE(view.ExportCsv(QDir(dir.path()).filePath("no/such/s.csv"), error));

  // The graph's span: seconds 10 to 20 hold ten messages of device 2 only.
  view.GraphSpan = [] { return std::pair<int64_t, int64_t>(At(10), At(20)); };
  view.ComboSpan->setCurrentIndex(1);
  emit view.ComboSpan->activated(1);
  ASSERT_TRUE(analysed.wait(20000));
  EXPECT_EQ(view.Shown().Stats().Counts(2).Messages, 10u);
  EXPECT_EQ(view.Shown().Stats().Counts(7).Messages, 0u);
  emit view.ComboSpan->activated(0);
  ASSERT_TRUE(analysed.wait(20000));
  EXPECT_EQ(view.Shown().Stats().Counts(2).Messages, 30u);
}

TEST(AnalysisView, ASessionOnDiskIsCountedOnAThreadOfItsOwnFromWhatItHoldsBack) {
  // The live session's store with items not yet written: a span of it is
  // counted by a reader of the files, after the view had them written; the
  // window thread only waits for the result, and the store's own use of its
  // files goes on beside the count.
  QTemporaryDir dir;
  TSessionStore store;
  ASSERT_TRUE(store.Create(dir.path().toStdString(), At(0))) << store.ErrorText();
  store.BeginSession(At(0));
  const uint64_t written = store.DiskBytes();
  const std::string call = ByteString(1, static_cast<char>(CallByteFor(4, true)));
  for (int s = 0; s < 20; ++s) {
    store.Append(ClassifyItem(call), At(s), call);
    store.Append(ClassifyItem(kTurnout), At(s + 0.01), kTurnout);
  }
  ASSERT_EQ(store.DiskBytes(), written) << "the items still wait in memory";
  TBusAnalysis live;
  TAnalysisView view;
  view.SetLive(live, store);
  view.FlushStore = [&store] { store.Flush(); };
  QSignalSpy analysed(&view, &TAnalysisView::Analysed);
  view.ShowSpan(At(5), At(15));
  EXPECT_EQ(analysed.count(), 0) << "not counted on the window thread";
  EXPECT_EQ(view.LabelSummary->text(), QString::fromUtf8("Počítám statistiku…"));
  for (int s = 20; s < 40; ++s) store.Append(ClassifyItem(call), At(s), call);
  store.Flush();
  ASSERT_TRUE(analysed.wait(20000));
  EXPECT_EQ(view.Shown().Stats().Counts(4).Messages, 10u);
}

TEST(AnalysisView, ACaptureClosedWhileCountedIsLeftAlone) {
  // Opening and closing at once: the count in progress stops before the
  // capture goes, and its result never shows.
  auto archive = std::make_unique<TTrafficArchive>();
  archive->BeginSession(At(0));
  for (int i = 0; i < 400000; ++i)
    archive->Append(At(i * 0.001), ByteString(1, static_cast<char>(CallByteFor(1 + i % 31, true))));
  archive->Finish();
  TTrafficRing ring;
  TBusAnalysis live;
  TAnalysisView view;
  view.SetLive(live, ring);
  QSignalSpy analysed(&view, &TAnalysisView::Analysed);
  view.SetSource(*archive);
  view.SetLive(live, ring);
  archive.reset();
  EXPECT_FALSE(analysed.wait(300));
  EXPECT_EQ(&view.Shown(), &live);
}

TEST_F(AnalysisWindow, AWindowClosedWhileItCountsACaptureStopsTheCountFirst) {
  // A capture of a busy minute: its count is under way when the window goes,
  // and the capture goes before the window's child widgets do.
  const std::string path = Path("busy.vlog").toStdString();
  {
    TCaptureWriter log;
    ASSERT_TRUE(log.Open(path));
    ASSERT_TRUE(log.WriteHeader({"/dev/ttyUSB0", "115200 8N1", "test", At(0)}));
    TSimTraffic traffic(7);
    std::string stream;
    for (int read = 0; read < 6000; ++read) {
      while (stream.size() < 115) stream += traffic.NextItem();
      ASSERT_TRUE(log.AddChunk(std::string_view(stream).substr(0, 115), At(read * 0.01)));
      stream.erase(0, 115);
    }
    ASSERT_TRUE(log.Close());
  }
  Open("[Monitor]\nSessionStore=0\n");  // held in memory: counted on a thread of its own
  auto* view = Child<TAnalysisView>(Window, "AnalysisView");
  QSignalSpy analysed(view, &TAnalysisView::Analysed);
  ASSERT_TRUE(Window->Captures()->OpenCapture(QString::fromStdString(path)));
  ASSERT_TRUE(Window->Captures()->WaitLoaded(20000));
  EXPECT_EQ(analysed.count(), 0) << "still counting";
  delete Window;
  Window = nullptr;
  EXPECT_EQ(analysed.count(), 0);
}
