// TSortGridPemra: a string grid with a title row, an optional indicator
// column, an active title that marks and sorts a column, its own cell drawing
// and a set of key events.
//
// Cells are addressed (ACol, ARow) as in a string grid: row 0 is the title
// row while ShowTitle is on (FixedRows 1); column 0 is the indicator column
// while ShowIndicator is on (FixedCols 1).  The title row is drawn by the
// horizontal header so that it stays in place when the rows scroll; the data
// rows are the rows of the view (row 0 is hidden there while it is a title).
#pragma once

#include "controls/Convert.h"

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QTableView>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

class QLabel;
class QMenu;
class QPainter;

enum TSortGrPmActiveTitleBevel { stbLowered = 0, stbRaised = 1 };
enum TSortGrPmSortStyle : uint8_t { sstText = 0, sstInteger = 1, sstDateTime = 2 };

// Grid options (a set: combine with |).
using TGridOptions = unsigned;
enum TGridOption : unsigned {
  goFixedVertLine = 1u << 0,
  goFixedHorzLine = 1u << 1,
  goVertLine = 1u << 2,
  goHorzLine = 1u << 3,
  goRangeSelect = 1u << 4,
  goDrawFocusSelected = 1u << 5,
  goRowSizing = 1u << 6,
  goColSizing = 1u << 7,
  goEditing = 1u << 8,
  goRowSelect = 1u << 9,
};

// State of a drawn cell (a set).
using TGridDrawState = unsigned;
enum TGridDrawStateFlag : unsigned { gdSelected = 1u << 0, gdFocused = 1u << 1, gdFixed = 1u << 2 };

// Raised by grid operations that the grid's shape does not allow.
class EInvalidGridOperation : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Drawing state of the cell being drawn.  OnDrawCell may change the colours
// and the font (they are then used for the text) or paint with Painter.
struct TGridCanvas {
  QPainter* Painter = nullptr;  // only while a cell is being drawn
  QColor BrushColor;
  QColor FontColor;
  QFont Font;
};

class TSortGridModel;

class TSortGridPemra : public QTableView {
  Q_OBJECT
public:
  explicit TSortGridPemra(QWidget* AOwner = nullptr);
  ~TSortGridPemra() override;

  // --- string grid -----------------------------------------------------
  int ColCount() const;
  void SetColCount(int AValue);
  int RowCount() const;
  void SetRowCount(int AValue);
  int FixedCols() const { return FFixedCols; }
  void SetFixedCols(int AValue);  // EInvalidGridOperation unless < ColCount
  int FixedRows() const { return FFixedRows; }
  void SetFixedRows(int AValue);  // EInvalidGridOperation unless < RowCount

  QString Cells(int ACol, int ARow) const;                   // empty outside the grid
  void SetCells(int ACol, int ARow, const QString& AValue);  // ignored outside
  void* Objects(int ACol, int ARow) const;
  void SetObjects(int ACol, int ARow, void* AObject);

  int DefaultColWidth() const { return FDefaultColWidth; }
  void SetDefaultColWidth(int AValue);
  int DefaultRowHeight() const { return FDefaultRowHeight; }
  void SetDefaultRowHeight(int AValue);
  int ColWidths(int ACol) const;  // without the grid line
  void SetColWidths(int ACol, int AValue);
  int RowHeights(int ARow) const;  // without the grid line
  void SetRowHeights(int ARow, int AValue);

  int Col() const;  // current cell
  void SetCol(int AValue);
  int Row() const;
  void SetRow(int AValue);
  // The same without scrolling the view to the row (a selection that follows
  // its data while the rows are rewritten).
  void SetRowInPlace(int AValue);

  TGridOptions Options() const { return FOptions; }
  void SetOptions(TGridOptions AValue);
  QColor Color() const { return FColor; }
  void SetColor(const QColor& AValue);
  QColor FixedColor() const { return FFixedColor; }
  void SetFixedColor(const QColor& AValue);
  bool DefaultDrawing() const { return FDefaultDrawing; }
  void SetDefaultDrawing(bool AValue);
  QMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(QMenu* AValue) { FPopupMenu = AValue; }

  TGridCanvas& Canvas() { return FCanvas; }
  // Cell rectangle in viewport coordinates (title row: header coordinates),
  // without the grid line; empty when the cell is not on screen.
  QRect CellRect(int ACol, int ARow) const;

  // --- own properties ----------------------------------------------------
  QLabel* LabelSuma() const { return FLabelSuma; }
  void SetLabelSuma(QLabel* AValue) { FLabelSuma = AValue; }
  bool ShowIndicator() const { return FShowIndicator; }
  void SetShowIndicator(bool AValue);
  bool ShowTitle() const { return FShowTitle; }
  void SetShowTitle(bool AValue);
  int ActiveTitleIndex() const { return FActiveTitleIndex; }
  void SetActiveTitleIndex(int AValue);
  TSortGrPmActiveTitleBevel ActiveTitleBevel() const { return FActiveTitleBevel; }
  void SetActiveTitleBevel(TSortGrPmActiveTitleBevel AValue);
  QColor ActiveTitleColor() const { return FActiveTitleColor; }
  void SetActiveTitleColor(const QColor& AValue);
  bool ClickTitleEnabled() const { return FClickTitleEnabled; }
  void SetClickTitleEnabled(bool AValue) { FClickTitleEnabled = AValue; }
  bool EnterIsTab() const { return FEnterIsTab; }
  void SetEnterIsTab(bool AValue) { FEnterIsTab = AValue; }
  TSortGrPmSortStyle SortStyle() const { return FSortStyle; }
  bool SortDescending() const { return FSortDescending; }

  // Loading: between BeginLoading and Loaded no resize events are fired;
  // Loaded sets the active title again (asking OnGetSortStyle).
  void BeginLoading() { FLoading = true; }
  virtual void Loaded();
  bool Loading() const { return FLoading; }

  // A title click on grid column ACol (fixed columns counted).
  virtual void ClickTitle(int ACol);
  // Quicksort of rows 1..RowCount-1 by the active column.  An sstDateTime
  // cell that is no date or time throws EConvertError; the rows keep the
  // order reached so far.
  void SortRows();
  int CompareRows(int A, int B);
  void ExchangeRows(int A, int B);

  // --- events (sender first) -------------------------------------------
  std::function<void(TSortGridPemra* Sender, int ARow)> OnClickSpace;
  std::function<void(TSortGridPemra* Sender, int& ANewTitleIndex)> OnChangeTitle;
  std::function<void(TSortGridPemra* Sender, int ATitleIndex)> OnClickTitle;
  std::function<void(TSortGridPemra* Sender)> OnClickEnter;
  std::function<void(TSortGridPemra* Sender)> OnClickIns;
  std::function<void(TSortGridPemra* Sender)> OnClickDel;
  std::function<void(TSortGridPemra* Sender)> OnClickEsc;
  std::function<void(TSortGridPemra* Sender)> OnClickTab;
  std::function<void(TSortGridPemra* Sender, int ACol, int ARow, const QRect& Rect,
                     TGridDrawState State)>
      OnDrawCell;
  std::function<TAlignment(TSortGridPemra* Sender, int AColIndex)> OnGetAlignment;
  std::function<TSortGrPmSortStyle(TSortGridPemra* Sender, int AColIndex)> OnGetSortStyle;
  std::function<void(TSortGridPemra* Sender)> OnColResize;
  std::function<void(TSortGridPemra* Sender)> OnRowResize;
  std::function<void(TSortGridPemra* Sender, int ACol, int ARow, QString& Value)> OnGetDisplayText;
  // Key is a Qt key code (Qt::Key_...); a handler may set it to 0 to eat it.
  std::function<void(TSortGridPemra* Sender, int& Key, Qt::KeyboardModifiers Shift)> OnKeyDown;
  std::function<void(TSortGridPemra* Sender, QChar& Key)> OnKeyPress;
  std::function<void(TSortGridPemra* Sender, int& Key, Qt::KeyboardModifiers Shift)> OnKeyUp;
  std::function<void(TSortGridPemra* Sender)> OnDblClick;

protected:
  // The per-cell drawing hook (colours, OnDrawCell, text, active title bevel).
  virtual void DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState);

  bool event(QEvent* AEvent) override;
  // With whole-row selection Home and End go to the first and last row.
  QModelIndex moveCursor(CursorAction ACursorAction, Qt::KeyboardModifiers AModifiers) override;
  void keyPressEvent(QKeyEvent* AEvent) override;
  void keyReleaseEvent(QKeyEvent* AEvent) override;
  void mouseDoubleClickEvent(QMouseEvent* AEvent) override;
  void focusInEvent(QFocusEvent* AEvent) override;
  void focusOutEvent(QFocusEvent* AEvent) override;
  void TitleMouseDown(Qt::MouseButton AButton, const QPoint& APos);

private:
  friend class TSortGridDelegate;
  friend class TSortGridHeader;

  // Draws one cell of the view or the header: AFull includes the grid line.
  void PaintCell(QPainter* APainter, int ACol, int ARow, const QRect& AFull, bool AFixedRow);
  bool IsActiveControl() const;
  void UpdateFixedRowsView();
  void UpdateSectionModes();
  void ColResized();
  void RowResized();

  TSortGridModel* FModel;
  class TSortGridHeader* FHeader;
  QStringList FSwapBuffer;          // row being exchanged (texts)
  std::vector<void*> FSwapObjects;  // row being exchanged (objects)
  TGridCanvas FCanvas;

  int FFixedCols = 0;
  int FFixedRows = 0;
  int FDefaultColWidth = 64;
  int FDefaultRowHeight = 24;
  int FTitleHeight = 24;  // row 0 while it is the title
  TGridOptions FOptions = 0;
  QColor FColor;
  QColor FFixedColor;
  bool FDefaultDrawing = true;
  QMenu* FPopupMenu = nullptr;

  QLabel* FLabelSuma = nullptr;
  bool FShowIndicator = false;
  bool FShowTitle = false;
  int FActiveTitleIndex = -1;
  TSortGrPmActiveTitleBevel FActiveTitleBevel = stbLowered;
  QColor FActiveTitleColor;
  bool FClickTitleEnabled = false;
  bool FEnterIsTab = false;
  TSortGrPmSortStyle FSortStyle = sstText;
  bool FSortDescending = false;
  bool FLoading = false;
  bool FConstructing = true;
};
