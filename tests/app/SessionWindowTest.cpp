// The window's session on disk: a paused view keeps its rows however much
// the ring has turned since, and the selected rows' span saves as a log.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <string>
#include <vector>

#include "app/SessionControl.h"
#include "app/TrafficView.h"
#include "app/uVantrelBus.h"
#include "capture/CaptureReader.h"
#include "support/Child.h"
#include "support/PtyPair.h"
#include "support/TestBytes.h"
#include "support/WindowTest.h"

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

}  // namespace

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
  QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonSaveSession"), Qt::LeftButton);
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
