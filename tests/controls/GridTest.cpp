#include "ControlsTestUtil.h"
#include "controls/SortGrPm.h"

#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>

namespace {

// The grid as the main window sets it up, with a few data rows.
void SetupAsWindow(TSortGridPemra& AGrid, int ARows) {
  AGrid.SetDefaultRowHeight(18);
  AGrid.SetRowCount(ARows);
  const int widths[] = {36, 42, 40, 143, 214};
  for (int c = 0; c < 5; ++c) AGrid.SetColWidths(c, widths[c]);
  AGrid.resize(520, 300);
}

// Fills column ACol of rows 1.. with AValues.
void FillColumn(TSortGridPemra& AGrid, int ACol, const QStringList& AValues) {
  AGrid.SetRowCount(int(AValues.size()) + 1);
  for (int i = 0; i < AValues.size(); ++i) AGrid.SetCells(ACol, i + 1, AValues[i]);
}

QStringList Column(const TSortGridPemra& AGrid, int ACol) {
  QStringList out;
  for (int r = 1; r < AGrid.RowCount(); ++r) out << AGrid.Cells(ACol, r);
  return out;
}

void ClickTitleCell(TSortGridPemra& AGrid, int ACol) {
  QHeaderView* header = AGrid.horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(ACol) + 4, 4));
}

}  // namespace

class ControlsGrid : public ControlsFixture {};

TEST_F(ControlsGrid, ConstructionAndShape) {
  TSortGridPemra grid;
  EXPECT_EQ(grid.ColCount(), 5);
  EXPECT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(grid.FixedRows(), 1);
  EXPECT_EQ(grid.FixedCols(), 0);
  EXPECT_EQ(grid.DefaultRowHeight(), 18);
  EXPECT_EQ(grid.RowHeights(0), 18);
  EXPECT_EQ(grid.RowHeights(1), 18);
  EXPECT_EQ(grid.ActiveTitleIndex(), 0);
  EXPECT_TRUE(grid.ShowTitle());
  EXPECT_FALSE(grid.ClickTitleEnabled());
  EXPECT_EQ(grid.Options(), TGridOptions(goFixedVertLine | goFixedHorzLine | goVertLine |
                                         goHorzLine | goRowSelect));

  // Active title: only 0 <= v < ColCount is taken.
  grid.SetActiveTitleIndex(5);
  EXPECT_EQ(grid.ActiveTitleIndex(), 0);
  grid.SetActiveTitleIndex(-1);
  EXPECT_EQ(grid.ActiveTitleIndex(), 0);
  grid.SetActiveTitleIndex(4);
  EXPECT_EQ(grid.ActiveTitleIndex(), 4);

  // Title on and off keep enough rows.
  grid.SetRowCount(1 + 0);  // cannot drop below the fixed row + 1
  EXPECT_EQ(grid.RowCount(), 1);
  EXPECT_EQ(grid.FixedRows(), 0);
  grid.SetShowTitle(false);
  grid.SetShowTitle(true);
  EXPECT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(grid.FixedRows(), 1);
  grid.SetShowTitle(false);
  EXPECT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(grid.FixedRows(), 0);
  EXPECT_TRUE(grid.horizontalHeader()->isHidden());

  // Cells outside the grid read empty and are not written.
  grid.SetCells(9, 9, "x");
  EXPECT_EQ(grid.Cells(9, 9), "");
  EXPECT_EQ(grid.Cells(-1, 0), "");

  // An indicator column needs a second column.
  TSortGridPemra one;
  one.SetColCount(1);
  EXPECT_THROW(one.SetShowIndicator(true), EInvalidGridOperation);
  EXPECT_TRUE(one.ShowIndicator());
  EXPECT_EQ(one.FixedCols(), 0);
}

TEST_F(ControlsGrid, TitleClicksDoNothingWithTheWindowSettings) {
  TSortGridPemra grid;
  SetupAsWindow(grid, 32);
  Activate(grid);
  for (int r = 1; r < 32; ++r) grid.SetCells(1, r, QString::number(32 - r));
  const QStringList before = Column(grid, 1);
  ClickTitleCell(grid, 1);
  ClickTitleCell(grid, 0);
  EXPECT_EQ(Column(grid, 1), before);
  EXPECT_EQ(grid.ActiveTitleIndex(), 0);
  EXPECT_FALSE(grid.SortDescending());
  EXPECT_EQ(grid.ColWidths(3), 143);
}

TEST_F(ControlsGrid, TitleClicksSortAndToggleDirection) {
  TSortGridPemra grid;
  SetupAsWindow(grid, 2);
  grid.SetClickTitleEnabled(true);
  FillColumn(grid, 1, {"delta", "Alpha", "charlie", "bravo"});
  for (int r = 1; r <= 4; ++r) grid.SetCells(2, r, QString::number(r));  // rows move whole
  Activate(grid);

  ClickTitleCell(grid, 1);
  EXPECT_EQ(grid.ActiveTitleIndex(), 1);
  EXPECT_EQ(Column(grid, 1), QStringList({"Alpha", "bravo", "charlie", "delta"}));
  EXPECT_EQ(Column(grid, 2), QStringList({"2", "4", "3", "1"}));
  EXPECT_EQ(grid.Cells(1, 0), "");  // the title row stays

  ClickTitleCell(grid, 1);  // same title: reversed
  EXPECT_TRUE(grid.SortDescending());
  EXPECT_EQ(Column(grid, 1), QStringList({"delta", "charlie", "bravo", "Alpha"}));

  ClickTitleCell(grid, 2);  // another title keeps the direction
  EXPECT_EQ(grid.ActiveTitleIndex(), 2);
  EXPECT_TRUE(grid.SortDescending());
  EXPECT_EQ(Column(grid, 2), QStringList({"4", "3", "2", "1"}));

  // Right button: no title click.
  QHeaderView* header = grid.horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::RightButton, {},
                    QPoint(header->sectionViewportPosition(1) + 4, 4));
  EXPECT_EQ(grid.ActiveTitleIndex(), 2);
}

TEST_F(ControlsGrid, TitleEventsReplaceTheColumnAndTheSort) {
  TSortGridPemra grid;
  grid.SetClickTitleEnabled(true);
  FillColumn(grid, 0, {"b", "a"});
  std::vector<int> clicked;
  grid.OnChangeTitle = [](TSortGridPemra*, int& ACol) { ACol = 3; };
  grid.OnClickTitle = [&](TSortGridPemra*, int AIndex) { clicked.push_back(AIndex); };
  grid.ClickTitle(1);
  EXPECT_EQ(grid.ActiveTitleIndex(), 3);
  EXPECT_EQ(clicked, std::vector<int>({3}));
  EXPECT_EQ(Column(grid, 0), QStringList({"b", "a"}));  // OnClickTitle replaced the sort
}

TEST_F(ControlsGrid, IndicatorColumnShiftsTheActiveColumn) {
  TSortGridPemra grid;
  grid.SetShowIndicator(true);
  EXPECT_EQ(grid.FixedCols(), 1);
  grid.SetClickTitleEnabled(true);
  FillColumn(grid, 3, {"z", "x", "y"});
  FillColumn(grid, 2, {"1", "3", "2"});
  grid.resize(400, 200);
  Activate(grid);
  grid.OnDrawCell = [&](TSortGridPemra*, int ACol, int ARow, const QRect&, TGridDrawState AState) {
    if (ARow == 0) {
      EXPECT_TRUE(AState & gdFixed);
    }
    if (ACol == 0) {
      EXPECT_FALSE(AState & gdSelected);  // the indicator is never selected
    }
  };
  ClickTitleCell(grid, 3);
  EXPECT_EQ(grid.ActiveTitleIndex(), 2);
  EXPECT_EQ(Column(grid, 3), QStringList({"x", "y", "z"}));
  grid.grab();

  // A click on the indicator's title: index -1 is refused, the active
  // title and direction stay, but the rows are sorted again.
  FillColumn(grid, 3, {"c", "a", "b"});
  ClickTitleCell(grid, 0);
  EXPECT_EQ(grid.ActiveTitleIndex(), 2);
  EXPECT_FALSE(grid.SortDescending());
  EXPECT_EQ(Column(grid, 3), QStringList({"a", "b", "c"}));
}

TEST_F(ControlsGrid, SortStyles) {
  TSortGridPemra grid;
  grid.SetClickTitleEnabled(true);
  TSortGrPmSortStyle style = sstInteger;
  grid.OnGetSortStyle = [&](TSortGridPemra*, int) { return style; };
  grid.SetActiveTitleIndex(0);
  EXPECT_EQ(grid.SortStyle(), sstInteger);
  FillColumn(grid, 0, {"10", "9", "abc", "", "-3", "$10"});
  grid.SortRows();
  const QStringList ints = Column(grid, 0);
  EXPECT_EQ(ints.mid(0, 1), QStringList({"-3"}));
  EXPECT_EQ(QStringList({ints[1], ints[2]}).size(), 2);
  EXPECT_TRUE((ints[1] == "abc" && ints[2] == "") ||
              (ints[1] == "" && ints[2] == "abc"));  // both 0
  EXPECT_EQ(ints.mid(3), QStringList({"9", "10", "$10"}));

  style = sstText;
  grid.SetActiveTitleIndex(0);
  EXPECT_EQ(grid.CompareRows(1, 1), 0);
  FillColumn(grid, 0, {"abc", "ABC"});
  EXPECT_EQ(grid.CompareRows(1, 2), 0);

  style = sstDateTime;
  grid.SetActiveTitleIndex(0);
  FillColumn(grid, 0, {"5.3.2026", "", "4.3.2026 12:00", "12:30", "4.3.2026"});
  grid.SortRows();
  EXPECT_EQ(Column(grid, 0), QStringList({"", "12:30", "4.3.2026", "4.3.2026 12:00", "5.3.2026"}));
}

TEST_F(ControlsGrid, BadDateTimeStopsTheSortAndIsReported) {
  TSortGridPemra grid;
  grid.SetClickTitleEnabled(true);
  grid.OnGetSortStyle = [](TSortGridPemra*, int) { return sstDateTime; };
  grid.SetActiveTitleIndex(1);  // asks for the style
  EXPECT_EQ(grid.SortStyle(), sstDateTime);
  FillColumn(grid, 1, {"5.3.2026", "4.3.2026", "soon", "1.1.2026"});
  EXPECT_THROW(grid.SortRows(), EConvertError);

  Activate(grid);
  ClickTitleCell(grid, 1);  // the same title: direction toggled, then the sort fails
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_TRUE(Errors[0].contains("soon"));
  QStringList rows = Column(grid, 1);
  rows.sort();
  EXPECT_EQ(rows, QStringList({"1.1.2026", "4.3.2026", "5.3.2026", "soon"}));  // nothing lost
}

TEST_F(ControlsGrid, EqualKeysAreStillExchanged) {
  TSortGridPemra grid;
  FillColumn(grid, 0, {"x", "x", "x"});
  FillColumn(grid, 1, {"a", "b", "c"});
  grid.SortRows();
  EXPECT_EQ(Column(grid, 1), QStringList({"c", "b", "a"}));

  // One data row or none: nothing to compare.
  TSortGridPemra small;
  small.SetRowCount(2);
  EXPECT_NO_THROW(small.SortRows());
  small.SetShowTitle(false);
  small.SetRowCount(1);
  EXPECT_NO_THROW(small.SortRows());
}

TEST_F(ControlsGrid, KeysWithheldFromTheBase) {
  TSortGridPemra grid;
  SetupAsWindow(grid, 5);
  Activate(grid);
  grid.setFocus();
  std::vector<int> down, up;
  std::vector<QChar> pressed;
  std::vector<QString> fired;
  grid.OnKeyDown = [&](TSortGridPemra*, int& AKey, Qt::KeyboardModifiers) {
    if (AKey != Qt::Key_Shift && AKey != Qt::Key_Control)  // modifier keys themselves
      down.push_back(AKey);
  };
  grid.OnKeyUp = [&](TSortGridPemra*, int& AKey, Qt::KeyboardModifiers) { up.push_back(AKey); };
  grid.OnKeyPress = [&](TSortGridPemra*, QChar& AKey) { pressed.push_back(AKey); };

  // Without handlers these keys do nothing at all.
  for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Return, Qt::Key_Escape, Qt::Key_Insert, Qt::Key_F4,
                      Qt::Key_Delete, Qt::Key_F10})
    QTest::keyPress(&grid, key);
  EXPECT_TRUE(down.empty());
  EXPECT_TRUE(grid.hasFocus());  // Tab stays in the grid
  EXPECT_EQ(grid.Row(), 1);

  grid.OnClickTab = [&](TSortGridPemra*) { fired.push_back("tab"); };
  grid.OnClickEnter = [&](TSortGridPemra*) { fired.push_back("enter"); };
  grid.OnClickEsc = [&](TSortGridPemra*) { fired.push_back("esc"); };
  grid.OnClickIns = [&](TSortGridPemra*) { fired.push_back("ins"); };
  grid.OnClickDel = [&](TSortGridPemra*) { fired.push_back("del"); };
  QTest::keyClick(&grid, Qt::Key_Tab);
  QTest::keyClick(&grid, Qt::Key_Backtab, Qt::ShiftModifier);
  QTest::keyClick(&grid, Qt::Key_Return);
  QTest::keyClick(&grid, Qt::Key_Escape);
  QTest::keyClick(&grid, Qt::Key_Insert);
  QTest::keyClick(&grid, Qt::Key_F4);
  QTest::keyClick(&grid, Qt::Key_Delete);
  EXPECT_EQ(fired, std::vector<QString>({"tab", "tab", "enter", "esc", "ins", "ins", "del"}));
  EXPECT_TRUE(down.empty());

  // With EnterIsTab, Enter is Tab on the way down and up.
  fired.clear();
  up.clear();
  grid.SetEnterIsTab(true);
  QTest::keyClick(&grid, Qt::Key_Return);
  EXPECT_EQ(fired, std::vector<QString>({"tab"}));
  EXPECT_EQ(up, std::vector<int>({Qt::Key_Tab}));

  // Other keys go to the base grid: OnKeyDown, and the row moves.
  QTest::keyClick(&grid, Qt::Key_Down);
  EXPECT_EQ(down, std::vector<int>({Qt::Key_Down}));
  EXPECT_EQ(grid.Row(), 2);
  QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(grid.Row(), 4);

  // Space: to OnClickSpace with the current row, or else to OnKeyPress.
  pressed.clear();
  QTest::keyClick(&grid, Qt::Key_Space);
  EXPECT_EQ(pressed, std::vector<QChar>({QChar(' ')}));
  std::vector<int> spaceRows;
  grid.OnClickSpace = [&](TSortGridPemra*, int ARow) { spaceRows.push_back(ARow); };
  pressed.clear();
  QTest::keyClick(&grid, Qt::Key_Space);
  EXPECT_EQ(spaceRows, std::vector<int>({4}));
  EXPECT_TRUE(pressed.empty());
}

TEST_F(ControlsGrid, HomeAndEndMoveTheSelectedRowNotTheColumn) {
  TSortGridPemra grid;
  SetupAsWindow(grid, 30);
  grid.resize(520, 120);  // fewer rows than the view shows
  Activate(grid);
  grid.setFocus();
  grid.SetRow(3);
  grid.SetCol(2);
  QTest::keyClick(&grid, Qt::Key_End);
  EXPECT_EQ(grid.Row(), 29);
  EXPECT_EQ(grid.Col(), 2);
  EXPECT_TRUE(grid.viewport()->rect().intersects(grid.CellRect(0, 29))) << "scrolled to it";
  QTest::keyClick(&grid, Qt::Key_Home);
  EXPECT_EQ(grid.Row(), 1);
  EXPECT_EQ(grid.Col(), 2);
}

TEST_F(ControlsGrid, DisplayTextChangesOnlyWhatIsDrawn) {
  TSortGridPemra shown, stored;
  for (TSortGridPemra* g : {&shown, &stored}) {
    SetupAsWindow(*g, 4);
    g->SetCells(0, 0, "Nr");
  }
  shown.SetCells(3, 2, "raw");
  stored.SetCells(3, 2, "cooked");
  int calls = 0;
  shown.OnGetDisplayText = [&](TSortGridPemra*, int ACol, int ARow, QString& AValue) {
    ++calls;
    if (ACol == 3 && ARow == 2) {
      EXPECT_EQ(AValue, "raw");
      AValue = "cooked";
    }
  };
  const QImage a = shown.grab().toImage();
  const QImage b = stored.grab().toImage();
  EXPECT_GT(calls, 0);
  EXPECT_EQ(shown.Cells(3, 2), "raw");
  EXPECT_EQ(a, b);

  // Right alignment moves the text: the picture changes.
  stored.OnGetAlignment = [](TSortGridPemra*, int ACol) {
    return ACol == 3 ? taRightJustify : taLeftJustify;
  };
  EXPECT_NE(stored.grab().toImage(), b);
}

TEST_F(ControlsGrid, ResizeEventsNotWhileLoading) {
  TSortGridPemra grid;
  int cols = 0, rows = 0, styles = 0;
  grid.OnColResize = [&](TSortGridPemra*) { ++cols; };
  grid.OnRowResize = [&](TSortGridPemra*) { ++rows; };
  grid.BeginLoading();
  grid.OnGetSortStyle = [&](TSortGridPemra*, int AIndex) {
    ++styles;
    EXPECT_EQ(AIndex, 2);
    return sstInteger;
  };
  grid.SetColWidths(0, 36);
  grid.SetDefaultRowHeight(20);
  grid.SetActiveTitleIndex(2);
  EXPECT_EQ(cols, 0);
  EXPECT_EQ(rows, 0);
  styles = 0;
  grid.Loaded();
  EXPECT_EQ(styles, 1);  // the loaded column's style asked again
  EXPECT_EQ(grid.SortStyle(), sstInteger);
  grid.SetColWidths(1, 50);
  EXPECT_EQ(cols, 1);
  EXPECT_EQ(grid.ColWidths(1), 50);
  grid.SetRowHeights(1, 30);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(grid.RowHeights(1), 30);
}

TEST_F(ControlsGrid, ActiveTitleIsBevelledAndColoured) {
  TSortGridPemra grid;
  SetupAsWindow(grid, 3);
  grid.SetActiveTitleColor(QColor(200, 0, 0));
  Activate(grid);
  const QImage image = grid.grab().toImage();
  const QPoint origin = grid.horizontalHeader()->mapTo(&grid, QPoint(0, 0));
  const QRect active = grid.CellRect(0, 0).translated(origin);
  const QRect other = grid.CellRect(1, 0).translated(origin);
  EXPECT_EQ(image.pixel(active.center()), QColor(200, 0, 0).rgb());
  EXPECT_EQ(image.pixel(other.center()), grid.FixedColor().rgb());
  // The lowered bevel's shadow line runs inside the top edge.
  EXPECT_EQ(image.pixel(active.left() + 4, active.top() + 1),
            grid.palette().color(QPalette::Dark).rgb());
  grid.SetActiveTitleBevel(stbRaised);
  const QImage raised = grid.grab().toImage();
  EXPECT_EQ(raised.pixel(active.left() + 4, active.top() + 1), QColor(200, 0, 0).rgb());
}
