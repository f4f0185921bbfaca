// The window's session on disk: a paused view keeps its rows however much
// the ring has turned since, and the selected rows' span saves as a log.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <chrono>
#include <string>
#include <vector>

#include "app/CaptureControl.h"
#include "app/SessionControl.h"
#include "app/TrafficView.h"
#include "app/uVantrelBus.h"
#include "capture/CaptureReader.h"
#include "capture/CaptureWriter.h"
#include "session/SessionStore.h"
#include "support/Child.h"
#include "support/PtyPair.h"
#include "support/TestBytes.h"
#include "support/WindowTest.h"
#include "traffic/TrafficArchive.h"
#include "traffic/TrafficRing.h"

namespace {

class SessionWindow : public TWindowTest {
protected:
  void Open(const char* monitor) {
    {
      QFile f(Path("test.ini"));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write("[Comm]\nBaud=115200\n[Monitor]\n");
      f.write(monitor);
    }
    LoadSettings();
    Window = new TFormVantrelBus;
    View = Child<TTrafficView>(Window, "TrafficView");
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
    QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);
    Window->SetPortOverride(Pty.Path);
    QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonConnect"), Qt::LeftButton);
    ASSERT_TRUE(Child<QAction>(Window, "ActionConnect")->isChecked());
  }
  bool SendRounds(int rounds) {
    std::string all;
    for (int i = 0; i < rounds; ++i) all += kRound;
    const uint64_t want = Window->Traffic().TotalItems() + 4ull * rounds;
    return Pty.Send(all) &&
           QTest::qWaitFor([&] { return Window->Traffic().TotalItems() >= want; }, 10000);
  }
  std::vector<QString> Shown() const {
    std::vector<QString> rows;
    for (int r = 0; r < View->Model->rowCount(); ++r)
      rows.push_back(View->Model->CellText(r, TTrafficModel::colTime) +
                     View->Model->CellText(r, TTrafficModel::colComment));
    return rows;
  }

  // Device 5 active, a turnout, device 6 active, a locomotive; 4 items.
  const std::string kRound =
      Bytes({0xC5, 0x4A, 0x41, 0x00, 0x0B, 0xC6, 0x61, 0x63, 0x00, 0x03, 0x8A});
  TPtyPair Pty;
  TTrafficView* View = nullptr;
};

// A history slow to read, as a long session on a busy disk is: each item's
// kind takes a few microseconds.
class TSlowSource final : public TTrafficSource {
public:
  explicit TSlowSource(const TTrafficRing& ring) : FRing(ring) {}
  uint64_t First() const noexcept override { return FRing.First(); }
  uint64_t End() const noexcept override { return FRing.End(); }
  int64_t TimeUs(uint64_t seq) const noexcept override { return FRing.TimeUs(seq); }
  TItemKind Kind(uint64_t seq) const noexcept override {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(3);
    while (std::chrono::steady_clock::now() < until) {}
    return FRing.Kind(seq);
  }
  int Device(uint64_t seq) const noexcept override { return FRing.Device(seq); }
  std::string_view Bytes(uint64_t seq) const noexcept override { return FRing.Bytes(seq); }
  int64_t SessionStart(uint64_t seq) const noexcept override { return FRing.SessionStart(seq); }
  uint64_t Dropped() const noexcept override { return 0; }
  uint64_t TotalItems() const noexcept override { return FRing.TotalItems(); }
  uint64_t TotalBytes() const noexcept override { return FRing.TotalBytes(); }
  uint64_t UnrecognisedBytes() const noexcept override { return 0; }

private:
  const TTrafficRing& FRing;
};

}  // namespace

TEST(TrafficModelScan, ALongHistorysFilterIsFoundInSlicesAndAChangeStartsAnew) {
  TTrafficRing ring(200000);
  for (int i = 0; i < 200000; ++i)
    ring.Append(1000000 + i, i % 4 == 0 ? std::string("\x00\x81\x81", 3) : std::string("\x85"));
  TSlowSource slow(ring);
  TTrafficModel model(slow);
  int scanned = 0;
  QObject::connect(&model, &TTrafficModel::RowsScanned, [&] { ++scanned; });
  TTrafficFilter calls;
  calls.Kinds = KindBit(TItemKind::ikCallByte);
  model.SetFilter(calls);  // 150,000 rows: 600 ms and more of reading
  EXPECT_TRUE(model.Scanning()) << "the window would have been held";
  EXPECT_LT(model.rowCount(), 150000);
  // Changed before the rows were all found: the old filter's scan goes.
  TTrafficFilter power;
  power.Kinds = KindBit(TItemKind::ikCentralPower);
  model.SetFilter(power);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !model.Scanning(); }, 60000));
  EXPECT_GT(scanned, 0);
  ASSERT_EQ(model.rowCount(), 50000);
  for (int row = 0; row < model.rowCount(); row += 997)
    EXPECT_EQ(model.SeqAt(row), static_cast<uint64_t>(row) * 4);
}

TEST_F(SessionWindow, APausedViewKeepsItsRowsPastARingsWorthOfItems) {
  Open("RingSize=1000\nSessionStore=1\n");
  ASSERT_TRUE(SendRounds(100));
  ASSERT_TRUE(QTest::qWaitFor([&] { return View->Model->rowCount() == 200; }, 3000))
      << "calls hidden: " << View->Model->rowCount();
  QTest::mouseClick(View->ButtonPause, Qt::LeftButton);
  ASSERT_TRUE(View->Paused());
  const std::vector<QString> before = Shown();
  ASSERT_TRUE(SendRounds(600));  // 2,400 items: the ring of 1,000 turned over twice
  ASSERT_GT(Window->Traffic().First(), 400u) << "the ring must have dropped the shown items";
  QCoreApplication::processEvents();
  EXPECT_EQ(Shown(), before);
  QTest::mouseClick(View->ButtonPause, Qt::LeftButton);
  EXPECT_EQ(View->Model->rowCount(), 1400) << "resuming shows the whole session";
}

TEST_F(SessionWindow, WithoutTheStoreThePausedRowsLeaveWithTheRing) {
  // What the store is for: the ring alone loses them.
  Open("RingSize=1000\nSessionStore=0\n");
  ASSERT_TRUE(SendRounds(100));
  QTest::mouseClick(View->ButtonPause, Qt::LeftButton);
  ASSERT_TRUE(SendRounds(600));
  QCoreApplication::processEvents();
  EXPECT_LT(View->Model->rowCount(), 200);
}

TEST_F(SessionWindow, TheSelectedRowsSaveAsACaptureLog) {
  Open("SessionStore=1\n");
  ASSERT_TRUE(SendRounds(50));
  ASSERT_TRUE(QTest::qWaitFor([&] { return View->Model->rowCount() == 100; }, 3000));
  // Rows 10 to 19: the turnout of round 5 to the locomotive of round 9.
  QItemSelectionModel* selection = View->Table->selectionModel();
  selection->select(QItemSelection(View->Model->index(10, 0), View->Model->index(19, 0)),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const QString path = Path("span.vlog");
  TSessionControl* sessions = Window->Sessions();
  sessions->AskSavePath = [&](const QString&) { return path; };
  Child<QAction>(Window, "ActionSaveSession")->trigger();  // in the view's "Uložit" menu
  ASSERT_TRUE(sessions->WaitSaved(10000));
  EXPECT_TRUE(Boxes.isEmpty()) << Boxes.join("\n").toStdString();

  TCaptureReader in;
  ASSERT_TRUE(in.Open(path.toStdString())) << in.LastErrorText();
  TCaptureItem item;
  std::string bytes;
  while (in.Next(item))
    if (item.Kind == TCaptureKind::ckChunk) bytes += item.Bytes;
  // From the turnout of round 5 to round 9's locomotive, the calls between
  // included.
  const TTrafficSource& history = Window->Session().History();
  std::string want;
  for (uint64_t seq = View->Model->SeqAt(10); seq <= View->Model->SeqAt(19); ++seq)
    want += history.Bytes(seq);
  EXPECT_EQ(want.size(), 5 * kRound.size() - 1) << "five rounds but the first call";
  EXPECT_EQ(bytes, want);
}

TEST_F(SessionWindow, ASessionThatEndedWithoutItsWindowIsOfferedOnceAndSaved) {
  // A cache of this test's own: the other tests' sessions are not offered.
  const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
  qputenv("XDG_CACHE_HOME", Dir.path().toUtf8());
  const std::string root = TSessionControl::Root();
  std::string folder;
  {
    TSessionStore killed;
    ASSERT_TRUE(killed.Create(root, 1765300000000000));
    killed.Append(ClassifyItem("\x85"), 1765300000000000, "\x85");
    killed.Append(ClassifyItem(std::string("\x00\x81\x81", 3)), 1765300000100000,
                  std::string("\x00\x81\x81", 3));
    folder = killed.Folder();
  }
  // As a kill leaves it: the close mark never written.
  ASSERT_TRUE(QFile::remove(QString::fromStdString(folder + "/closed")));
  Window = new TFormVantrelBus;
  TSessionControl* sessions = Window->Sessions();
  const QString path = Path("previous.vlog");
  sessions->AskSavePath = [&](const QString&) { return path; };
  ASSERT_TRUE(sessions->OfferPrevious());
  auto* box = Window->findChild<QMessageBox*>("BoxPreviousSession");
  ASSERT_NE(box, nullptr);
  box->button(QMessageBox::Save)->click();
  ASSERT_TRUE(sessions->WaitSaved(10000));
  TCaptureReader in;
  ASSERT_TRUE(in.Open(path.toStdString())) << in.LastErrorText();
  TCaptureItem item;
  std::string bytes;
  while (in.Next(item))
    if (item.Kind == TCaptureKind::ckChunk) bytes += item.Bytes;
  EXPECT_EQ(bytes, std::string("\x85\x00\x81\x81", 4));
  EXPECT_FALSE(sessions->OfferPrevious()) << "offered once";
  qputenv("XDG_CACHE_HOME", oldCache);
}

TEST_F(SessionWindow, AnOpenedCaptureIsConvertedIntoAStoreOnDiskUnlessTheSessionStaysInMemory) {
  const QString path = Path("three.vlog");
  {
    TCaptureWriter log;
    ASSERT_TRUE(log.Open(path.toStdString()));
    ASSERT_TRUE(log.WriteHeader({"/dev/ttyUSB0", "115200 8N1", "test", 1796738585000000}));
    for (int i = 0; i < 3000; ++i) ASSERT_TRUE(log.AddChunk(kRound, 1796738585000000 + i * 10000));
    ASSERT_TRUE(log.Close());
  }
  for (const char* monitor : {"SessionStore=1\n", "SessionStore=0\n"}) {
    SCOPED_TRACE(monitor);
    {
      QFile f(Path("test.ini"));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(QByteArray("[Comm]\nBaud=115200\n[Monitor]\n") + monitor);
    }
    LoadSettings();
    delete Window;
    Window = new TFormVantrelBus;
    ASSERT_TRUE(Window->Captures()->OpenCapture(path));
    ASSERT_TRUE(Window->Captures()->WaitLoaded(30000));
    const TCaptureContents* capture = Window->Captures()->Capture();
    ASSERT_NE(capture, nullptr);
    const TTrafficSource& history = capture->Session->History();
    ASSERT_EQ(history.End(), 12000u);
    EXPECT_EQ(history.Bytes(11999), std::string("\x61\x63\x00\x03\x8A", 5));  // the locomotive
    const auto* store = dynamic_cast<const TSessionStore*>(&history);
    if (monitor[13] == '1') {
      ASSERT_NE(store, nullptr) << "kept on disk, not in memory";
      EXPECT_NE(store->Folder().find("captures"), std::string::npos) << store->Folder();
    } else {
      EXPECT_NE(dynamic_cast<const TTrafficArchive*>(&history), nullptr);
    }
  }
}

TEST_F(SessionWindow, ACaptureOpenedAgainShowsTheSameRowsFromWhatWasKept) {
  const QString path = Path("again.vlog");
  {
    TCaptureWriter log;
    ASSERT_TRUE(log.Open(path.toStdString()));
    ASSERT_TRUE(log.WriteHeader({"/dev/ttyUSB0", "115200 8N1", "test", 1796738585000000}));
    for (int i = 0; i < 3000; ++i) ASSERT_TRUE(log.AddChunk(kRound, 1796738585000000 + i * 10000));
    ASSERT_TRUE(log.Close());
  }
  {
    QFile f(Path("test.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Comm]\nBaud=115200\n[Monitor]\nSessionStore=1\n");
  }
  LoadSettings();
  delete Window;
  Window = new TFormVantrelBus;
  View = Child<TTrafficView>(Window, "TrafficView");
  TCaptureControl& captures = *Window->Captures();
  std::vector<QString> first;
  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE(opening);
    ASSERT_TRUE(captures.OpenCapture(path));
    ASSERT_TRUE(captures.WaitLoaded(30000));
    ASSERT_NE(captures.Capture(), nullptr);
    EXPECT_EQ(captures.Capture()->Reused, opening == 1);
    // What was not found while converting is found in slices.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !View->Model->Scanning(); }, 30000));
    const std::vector<QString> rows = Shown();
    ASSERT_EQ(captures.Capture()->Session->History().End(), 12000u);
    if (opening == 0) {
      ASSERT_FALSE(rows.empty());
      first = rows;
      captures.CloseCapture();
    } else {
      EXPECT_EQ(rows, first);
    }
  }
}
