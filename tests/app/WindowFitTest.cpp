// The window at its default and its smallest size: every view shows its
// controls and texts whole, the status bar leaves figures out instead of
// cutting them, long error texts can be read whole, and the banner keeps
// its time.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include "app/ElidingLabel.h"
#include "app/FlowLayout.h"
#include "app/StatusBar.h"
#include "app/TrafficView.h"
#include "app/uVantrelBus.h"
#include "controls/SortGrPm.h"
#include "support/Captions.h"
#include "support/Child.h"
#include "support/WindowTest.h"

namespace {

struct TSize {
  int Width, Height;
};
const TSize kSizes[] = {{647, 442},
                        {TFormVantrelBus::kMinimumWidth, TFormVantrelBus::kMinimumHeight}};

class WindowFit : public TWindowTest {
protected:
  void SetUp() override {
    TWindowTest::SetUp();
    if (HasFatalFailure()) return;
    Window = new TFormVantrelBus;
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
    Bar = Child<TTrafficStatusBar>(Window, "StatusBarTraffic");
  }
  void Resize(const TSize& size) {
    Window->resize(size.Width, size.Height);
    QTest::qWait(30);  // the layouts settle after the resize event
    ASSERT_EQ(Window->size(), QSize(size.Width, size.Height));
  }
  void Show(const char* button) {
    auto* b = Child<QToolButton>(Window, button);
    if (!b->isChecked()) QTest::mouseClick(b, Qt::LeftButton);
    QTest::qWait(30);
  }
  // Long figures, as after a day on a busy line.
  void FillStatusBar() {
    Bar->LabelPort->setText("/dev/ttyUSB0");
    Bar->LabelTime->SetCount("123:45:06");
    Bar->LabelRates->setText(QString::fromUtf8("1 234 B/s, 987 pol./s"));
    Bar->LabelTotal->setText(QString::fromUtf8("celkem 102 478 312"));
    Bar->LabelQuality->setText(QString::fromUtf8("nerozpoznáno 12 345 B (0,081 %)"));
    Bar->LabelDropped->setText(QString::fromUtf8("zahozeno 1 234 567"));
    QTest::qWait(30);
  }
  TTrafficStatusBar* Bar = nullptr;
};

}  // namespace

TEST_F(WindowFit, EveryViewShowsItsControlsWholeAtTheDefaultAndTheSmallestSize) {
  FillStatusBar();
  for (const TSize& size : kSizes) {
    Resize(size);
    for (const char* view :
         {"SpeedButtonTraffic", "SpeedButtonGraph", "SpeedButtonStats", "SpeedButtonLog"}) {
      SCOPED_TRACE(testing::Message() << size.Width << "x" << size.Height << " " << view);
      Show(view);
      EXPECT_EQ(test_support::ClippedCaptions(Window), QStringList());
      EXPECT_EQ(test_support::ControlsCutByParent(Window), QStringList());
    }
    SCOPED_TRACE(testing::Message() << size.Width << "x" << size.Height);
    // The grid: the title row shown when the log button pops up again.
    QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonLog"), Qt::LeftButton);
    QTest::qWait(30);
    EXPECT_EQ(test_support::ClippedCaptions(Window), QStringList());
    EXPECT_EQ(test_support::ControlsCutByParent(Window), QStringList());
  }
}

TEST_F(WindowFit, TheCommentColumnsKeepTheirRoomAndTheOtherColumnsComeBack) {
  auto* grid = Child<TSortGridPemra>(Window, "GridDeviceList");
  auto* view = Child<TTrafficView>(Window, "TrafficView");
  for (const TSize& size : kSizes) {
    SCOPED_TRACE(testing::Message() << size.Width << "x" << size.Height);
    Resize(size);
    QTest::qWait(30);
    EXPECT_GE(grid->ColWidths(4), 110) << "the comment";
    EXPECT_LE(grid->horizontalHeader()->length(), grid->viewport()->width() + 1)
        << grid->ColWidths(0) << " " << grid->ColWidths(1) << " " << grid->ColWidths(2) << " "
        << grid->ColWidths(3) << " " << grid->ColWidths(4);
    Show("SpeedButtonTraffic");
    EXPECT_GE(view->Table->columnWidth(TTrafficModel::colComment), 110);
    EXPECT_LE(view->Table->horizontalHeader()->length(), view->Table->viewport()->width() + 1);
    EXPECT_GE(view->EditFilter->width(), 200) << "the filter box is not squeezed";
    EXPECT_GE(view->EditFind->width(), 120);
    QTest::mouseClick(Child<QToolButton>(Window, "SpeedButtonTraffic"), Qt::LeftButton);
  }
  // The narrowed columns are not the user's choice: a wide window gives them
  // back, and the settings keep the chosen widths.
  Window->resize(1000, 600);
  QTest::qWait(30);
  EXPECT_EQ(grid->ColWidths(3), 143);
  Show("SpeedButtonTraffic");
  EXPECT_EQ(view->Table->columnWidth(TTrafficModel::colHex),
            TTrafficView::kDefaultColumnWidths[TTrafficModel::colHex]);
  Resize(kSizes[1]);
  Window->StoreMonitorSettings();
  EXPECT_EQ(MonitorSettings.GridColumns, "");
  EXPECT_EQ(MonitorSettings.TrafficColumns, "");
}

TEST_F(WindowFit, StatusFieldsGiveWayByRankIntoTheToolTipAndAreNeverCut) {
  FillStatusBar();
  auto* record = Child<QLabel>(Window, "LabelStatusRecord");
  record->setText(QString::fromUtf8("Záznam: vantrel-20261209-052713.vlog (5,6 kB)"));
  Bar->FitFields();  // as the recording's owner does after a change
  for (const TSize& size : kSizes) {
    SCOPED_TRACE(testing::Message() << size.Width << "x" << size.Height);
    Resize(size);
    const QList<QLabel*> out = Bar->FieldsLeftOut();
    EXPECT_FALSE(out.isEmpty()) << "these figures cannot all fit";
    // The port, the recording and the total stay; what gives way is said in
    // the bar's tool tip.
    EXPECT_FALSE(out.contains(Bar->LabelPort));
    EXPECT_FALSE(out.contains(record));
    for (QLabel* l : out)
      EXPECT_TRUE(Bar->toolTip().contains(l->text())) << l->objectName().toStdString();
    for (QLabel* l : {Bar->LabelPort, static_cast<QLabel*>(Bar->LabelTime), Bar->LabelRates,
                      Bar->LabelTotal, Bar->LabelQuality, Bar->LabelDropped, record}) {
      if (!l->isVisible()) continue;
      EXPECT_GE(l->width(), l->sizeHint().width()) << l->objectName().toStdString();
      EXPECT_LE(l->geometry().right(), Bar->width()) << l->objectName().toStdString();
    }
  }
  // With room again, every field is back and the tool tip is empty.
  Window->resize(1400, 500);
  QTest::qWait(30);
  EXPECT_EQ(Bar->FieldsLeftOut(), QList<QLabel*>());
  EXPECT_TRUE(Bar->toolTip().isEmpty());
  // A field that grows while left out is still said whole in the tool tip.
  Resize(kSizes[1]);
  Bar->LabelQuality->setText(QString::fromUtf8("nerozpoznáno 99 999 B (1,5 %)"));
  Bar->FitFields();
  EXPECT_TRUE(Bar->toolTip().contains(QString::fromUtf8("nerozpoznáno 99 999 B (1,5 %)")));
}

TEST_F(WindowFit, ALongErrorIsReadWholeThroughItsLink) {
  Resize(kSizes[0]);
  const QString text = QString::fromUtf8(
      "Port /dev/ttyS0 nelze otevřít: chybí oprávnění (Permission denied). Uživatel musí být "
      "ve skupině dialout: sudo usermod -a -G dialout $USER, pak se odhlásit a znovu přihlásit.");
  auto* error = static_cast<TElidingLabel*>(Window->LabelError);
  error->setText(QString::fromUtf8("Port /dev/ttyS0 neexistuje"));
  EXPECT_TRUE(error->DetailsRect().isEmpty()) << "a short text needs no link";
  error->setText(text);
  const QRect link = error->DetailsRect();
  ASSERT_FALSE(link.isEmpty());
  EXPECT_TRUE(error->contentsRect().contains(link));
  // The link does not lie over the text's last line.
  const TElidingLabel::TShown shown = error->Shown();
  EXPECT_TRUE(shown.Cut);
  EXPECT_LE(
      error->fontMetrics().horizontalAdvance(shown.Lines.last()) + error->contentsRect().left(),
      link.left());
  QTest::mouseClick(error, Qt::LeftButton, {}, link.center());
  auto* box = Window->findChild<QMessageBox*>("MessageDetails");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), text);
  box->close();
}

TEST_F(WindowFit, TheBannerKeepsItsTimeBesideItsButtons) {
  auto* banner = Child<QWidget>(Window, "PanelPast");
  auto* label = Child<QLabel>(Window, "LabelPast");
  Child<QToolButton>(Window, "ButtonPresent")->setText(QString::fromUtf8("Konec záznamu"));
  label->setText(QString::fromUtf8("Záznam rec1.vlog: stav na konci (9. 12. 2026 05:27:13)"));
  banner->show();
  for (const TSize& size : kSizes) {
    SCOPED_TRACE(testing::Message() << size.Width << "x" << size.Height);
    Resize(size);
    // Wrapped over as many lines as it needs, each shown whole.
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    EXPECT_EQ(test_support::ControlsCutByParent(Window), QStringList());
  }
}

TEST(FlowLayout, WrapsOnlyWhenTheRowIsFullAndPlacesEveryControlInside) {
  QWidget host;
  auto* flow = new TFlowLayout(&host, 3);
  QList<QToolButton*> buttons;
  for (int i = 0; i < 5; ++i) {
    auto* b = new QToolButton(&host);
    b->setFixedSize(50, 20);
    flow->addWidget(b);
    buttons << b;
  }
  EXPECT_EQ(flow->RowsAt(5 * 50 + 4 * 3), 1);
  EXPECT_EQ(flow->RowsAt(5 * 50 + 4 * 3 - 1), 2);
  EXPECT_EQ(flow->RowsAt(50), 5);
  EXPECT_EQ(flow->heightForWidth(120), 3 * 20 + 2 * 3);
  host.resize(120, flow->heightForWidth(120));
  flow->setGeometry(host.rect());
  for (QToolButton* b : buttons) EXPECT_TRUE(host.rect().contains(b->geometry()));
  EXPECT_EQ(buttons[2]->geometry().topLeft(), QPoint(0, 23));
  buttons[1]->hide();  // a hidden control takes no place
  EXPECT_EQ(flow->RowsAt(5 * 50), 1);
}

TEST_F(WindowFit, TheGridShownOverTheTrafficViewOrTheGraphIsKeptForTheNextStart) {
  auto* grid = Child<TSortGridPemra>(Window, "GridDeviceList");
  auto* traffic = Child<TTrafficView>(Window, "TrafficView");
  Show("SpeedButtonTraffic");
  EXPECT_FALSE(grid->isVisible()) << "one view at a time unless asked";
  QTest::mouseClick(Child<QToolButton>(Window, "ButtonSplitTraffic"), Qt::LeftButton);
  QTest::qWait(30);
  for (const TSize& size : kSizes) {
    SCOPED_TRACE(testing::Message() << size.Width << "x" << size.Height);
    Resize(size);
    EXPECT_TRUE(grid->isVisible());
    EXPECT_TRUE(traffic->isVisible());
    EXPECT_LE(grid->mapTo(Window, QPoint(0, grid->height())).y(),
              traffic->mapTo(Window, QPoint(0, 0)).y())
        << "the grid above the traffic view";
    EXPECT_EQ(test_support::ClippedCaptions(Window), QStringList());
    EXPECT_EQ(test_support::ControlsCutByParent(Window), QStringList());
  }
  // The graph takes the traffic view's place; the log still covers all.
  Show("SpeedButtonGraph");
  EXPECT_TRUE(grid->isVisible());
  EXPECT_TRUE(Child<QWidget>(Window, "GraphView")->isVisible());
  EXPECT_TRUE(Child<QToolButton>(Window, "ButtonSplitGraph")->isChecked());
  Show("SpeedButtonLog");
  EXPECT_FALSE(grid->isVisible());
  EXPECT_EQ(Child<QWidget>(Window, "MemoLog")->geometry(), grid->geometry());
  Show("SpeedButtonTraffic");
  {
    QFile ini(Path("test.ini"));  // settings are kept only in a file that exists
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  }
  Window->close();
  EXPECT_EQ(MonitorSettings.Split, "1");
  delete Window;
  Window = new TFormVantrelBus;
  Window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
  EXPECT_TRUE(Child<TSortGridPemra>(Window, "GridDeviceList")->isVisible());
  EXPECT_TRUE(Child<TTrafficView>(Window, "TrafficView")->isVisible());
  // Off again: the traffic view alone, and so at the next start.
  QTest::mouseClick(Child<QToolButton>(Window, "ButtonSplitTraffic"), Qt::LeftButton);
  EXPECT_FALSE(Child<TSortGridPemra>(Window, "GridDeviceList")->isVisible());
  Window->StoreMonitorSettings();
  EXPECT_EQ(MonitorSettings.Split, "");
}
