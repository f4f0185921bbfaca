// TSortGridPemra: the sortable string grid.
#include "controls/SortGrPm.h"

#include "controls/DialogKey.h"
#include "controls/MsgBox.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {
constexpr int kGridLineWidth = 1;
}

// Cell store of the grid: RowCount x ColCount texts with an untyped object
// per cell, as in a string grid.
class TSortGridModel : public QAbstractTableModel {
public:
  struct TCell {
    QString Text;
    void* Object = nullptr;
  };

  explicit TSortGridModel(TSortGridPemra* AGrid) : QAbstractTableModel(AGrid), FGrid(AGrid) {}

  int rowCount(const QModelIndex& AParent = {}) const override {
    return AParent.isValid() ? 0 : int(FRows.size());
  }
  int columnCount(const QModelIndex& AParent = {}) const override {
    return AParent.isValid() ? 0 : FCols;
  }
  QVariant data(const QModelIndex& AIndex, int ARole) const override {
    if (!AIndex.isValid() || (ARole != Qt::DisplayRole && ARole != Qt::EditRole)) return {};
    return FRows[AIndex.row()][AIndex.column()].Text;
  }
  bool setData(const QModelIndex& AIndex, const QVariant& AValue, int ARole) override {
    if (!AIndex.isValid() || ARole != Qt::EditRole) return false;
    SetText(AIndex.column(), AIndex.row(), AValue.toString());
    return true;
  }
  QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole) const override {
    if (AOrientation == Qt::Horizontal && ARole == Qt::DisplayRole && !FRows.empty() &&
        ASection >= 0 && ASection < FCols)
      return FRows[0][ASection].Text;
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex& AIndex) const override {
    if (!AIndex.isValid() || AIndex.row() < FGrid->FixedRows() ||
        AIndex.column() < FGrid->FixedCols())
      return Qt::NoItemFlags;  // fixed cells are never selected or current
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (FGrid->Options() & goEditing) f |= Qt::ItemIsEditable;
    return f;
  }

  bool Valid(int ACol, int ARow) const {
    return ACol >= 0 && ACol < FCols && ARow >= 0 && ARow < int(FRows.size());
  }
  const TCell& Cell(int ACol, int ARow) const { return FRows[ARow][ACol]; }

  void SetText(int ACol, int ARow, const QString& AText) {
    TCell& cell = FRows[ARow][ACol];
    if (cell.Text == AText) return;
    cell.Text = AText;
    const QModelIndex i = index(ARow, ACol);
    emit dataChanged(i, i);
    if (ARow == 0) emit headerDataChanged(Qt::Horizontal, ACol, ACol);
  }
  void SetObject(int ACol, int ARow, void* AObject) { FRows[ARow][ACol].Object = AObject; }

  std::vector<TCell>& RowCells(int ARow) { return FRows[ARow]; }
  void RowChanged(int ARow) {
    emit dataChanged(index(ARow, 0), index(ARow, FCols - 1));
    if (ARow == 0) emit headerDataChanged(Qt::Horizontal, 0, FCols - 1);
  }

  void SetRowCount(int ACount) {
    const int old = int(FRows.size());
    if (ACount > old) {
      beginInsertRows({}, old, ACount - 1);
      FRows.resize(ACount, std::vector<TCell>(FCols));
      endInsertRows();
    } else if (ACount < old) {
      beginRemoveRows({}, ACount, old - 1);
      FRows.resize(ACount);
      endRemoveRows();
    }
  }
  void SetColCount(int ACount) {
    const int old = FCols;
    if (ACount > old) {
      beginInsertColumns({}, old, ACount - 1);
      FCols = ACount;
      for (auto& row : FRows) row.resize(ACount);
      endInsertColumns();
    } else if (ACount < old) {
      beginRemoveColumns({}, ACount, old - 1);
      FCols = ACount;
      for (auto& row : FRows) row.resize(ACount);
      endRemoveColumns();
    }
  }
  void FlagsChanged() {
    // Fixed cells changed: views re-read the flags on layout change.
    emit layoutAboutToBeChanged();
    emit layoutChanged();
  }

private:
  TSortGridPemra* FGrid;
  std::vector<std::vector<TCell>> FRows;
  int FCols = 0;
};

// Draws the data cells through the grid's own cell drawing.
class TSortGridDelegate : public QStyledItemDelegate {
public:
  explicit TSortGridDelegate(TSortGridPemra* AGrid) : QStyledItemDelegate(AGrid), FGrid(AGrid) {}
  void paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
             const QModelIndex& AIndex) const override {
    FGrid->PaintCell(APainter, AIndex.column(), AIndex.row(), AOption.rect, false);
  }

private:
  TSortGridPemra* FGrid;
};

// The title row: drawn by the grid's cell drawing, title clicks reported to
// the grid before the header's own handling (column sizing).
class TSortGridHeader : public QHeaderView {
public:
  explicit TSortGridHeader(TSortGridPemra* AGrid)
      : QHeaderView(Qt::Horizontal, AGrid), FGrid(AGrid) {
    connect(this, &QHeaderView::sectionResized, this, [this] {
      if (QApplication::mouseButtons() != Qt::NoButton) FResizing = true;
    });
  }
  bool Resizing() const { return FResizing; }

protected:
  void paintSection(QPainter* APainter, const QRect& ARect, int ALogicalIndex) const override {
    FGrid->PaintCell(APainter, ALogicalIndex, 0, ARect, true);
  }
  void mousePressEvent(QMouseEvent* AEvent) override {
    FGrid->TitleMouseDown(AEvent->button(), AEvent->position().toPoint());
    QHeaderView::mousePressEvent(AEvent);
  }
  void mouseReleaseEvent(QMouseEvent* AEvent) override {
    QHeaderView::mouseReleaseEvent(AEvent);
    FResizing = false;
  }

private:
  TSortGridPemra* FGrid;
  bool FResizing = false;
};

TSortGridPemra::TSortGridPemra(QWidget* AOwner)
    : QTableView(AOwner), FModel(new TSortGridModel(this)), FHeader(new TSortGridHeader(this)) {
  setModel(FModel);
  setHorizontalHeader(FHeader);
  setItemDelegate(new TSortGridDelegate(this));
  setShowGrid(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setTabKeyNavigation(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  verticalHeader()->setMinimumSectionSize(0);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  FHeader->setMinimumSectionSize(0);
  FHeader->setStretchLastSection(false);
  FHeader->setHighlightSections(false);
  FHeader->setSectionsClickable(false);
  FHeader->setSortIndicatorShown(false);
  connect(FHeader, &QHeaderView::sectionResized, this, [this] { ColResized(); });

  FColor = palette().color(QPalette::Base);
  FFixedColor = palette().color(QPalette::Button);

  // The base grid's own starting shape.
  FModel->SetColCount(5);
  FModel->SetRowCount(5);
  for (int c = 0; c < 5; ++c) FHeader->resizeSection(c, FDefaultColWidth + kGridLineWidth);
  verticalHeader()->setDefaultSectionSize(FDefaultRowHeight + kGridLineWidth);
  FFixedCols = 1;
  FFixedRows = 1;

  SetOptions(goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goRowSelect);
  SetFixedCols(0);
  SetColCount(5);
  SetFixedRows(1);
  SetRowCount(2);
  SetShowTitle(true);
  SetShowIndicator(false);
  SetDefaultRowHeight(18);
  SetActiveTitleIndex(0);
  FActiveTitleBevel = stbLowered;
  FActiveTitleColor = palette().color(QPalette::Button);
  FSortDescending = false;
  FSortStyle = sstText;
  FEnterIsTab = false;
  FClickTitleEnabled = false;
  FConstructing = false;
}

TSortGridPemra::~TSortGridPemra() = default;

// --- shape -----------------------------------------------------------------

int TSortGridPemra::ColCount() const { return FModel->columnCount(); }

void TSortGridPemra::SetColCount(int AValue) {
  AValue = std::max(AValue, 1);
  if (AValue <= FFixedCols) SetFixedCols(AValue - 1);
  const int old = ColCount();
  FModel->SetColCount(AValue);
  for (int c = old; c < AValue; ++c) FHeader->resizeSection(c, FDefaultColWidth + kGridLineWidth);
}

int TSortGridPemra::RowCount() const { return FModel->rowCount(); }

void TSortGridPemra::SetRowCount(int AValue) {
  AValue = std::max(AValue, 1);
  if (AValue <= FFixedRows) SetFixedRows(AValue - 1);
  FModel->SetRowCount(AValue);
  UpdateFixedRowsView();
  if (!currentIndex().isValid() && AValue > FFixedRows && ColCount() > FFixedCols)
    setCurrentIndex(FModel->index(FFixedRows, FFixedCols));
}

void TSortGridPemra::SetFixedCols(int AValue) {
  if (AValue < 0 || AValue >= ColCount())
    throw EInvalidGridOperation("Fixed column count must be less than column count");
  if (AValue == FFixedCols) return;
  FFixedCols = AValue;
  FModel->FlagsChanged();
  if (currentIndex().isValid() && currentIndex().column() < FFixedCols)
    setCurrentIndex(FModel->index(currentIndex().row(), FFixedCols));
  viewport()->update();
  FHeader->viewport()->update();
}

void TSortGridPemra::SetFixedRows(int AValue) {
  if (AValue < 0 || AValue >= RowCount())
    throw EInvalidGridOperation("Fixed row count must be less than row count");
  if (AValue == FFixedRows) return;
  FFixedRows = AValue;
  FModel->FlagsChanged();
  UpdateFixedRowsView();
  if (currentIndex().isValid() && currentIndex().row() < FFixedRows)
    setCurrentIndex(FModel->index(FFixedRows, std::max(currentIndex().column(), FFixedCols)));
}

void TSortGridPemra::UpdateFixedRowsView() {
  // Row 0 as a title lives in the header; further fixed rows stay view rows.
  const bool title = FFixedRows > 0;
  FHeader->setVisible(title);
  if (RowCount() > 0) {
    setRowHidden(0, title);
    const int h = RowHeights(0) + kGridLineWidth;
    FHeader->setFixedHeight(h);
    if (!title) verticalHeader()->resizeSection(0, h);
  }
}

QString TSortGridPemra::Cells(int ACol, int ARow) const {
  return FModel->Valid(ACol, ARow) ? FModel->Cell(ACol, ARow).Text : QString();
}

void TSortGridPemra::SetCells(int ACol, int ARow, const QString& AValue) {
  if (FModel->Valid(ACol, ARow)) FModel->SetText(ACol, ARow, AValue);
}

void* TSortGridPemra::Objects(int ACol, int ARow) const {
  return FModel->Valid(ACol, ARow) ? FModel->Cell(ACol, ARow).Object : nullptr;
}

void TSortGridPemra::SetObjects(int ACol, int ARow, void* AObject) {
  if (FModel->Valid(ACol, ARow)) FModel->SetObject(ACol, ARow, AObject);
}

void TSortGridPemra::SetDefaultColWidth(int AValue) {
  FDefaultColWidth = std::max(AValue, 0);
  for (int c = 0; c < ColCount(); ++c) FHeader->resizeSection(c, FDefaultColWidth + kGridLineWidth);
}

void TSortGridPemra::SetDefaultRowHeight(int AValue) {
  AValue = std::max(AValue, 0);
  if (AValue == FDefaultRowHeight && !FConstructing) return;
  FDefaultRowHeight = AValue;
  verticalHeader()->setDefaultSectionSize(AValue + kGridLineWidth);
  for (int r = 0; r < RowCount(); ++r)
    if (!isRowHidden(r)) verticalHeader()->resizeSection(r, AValue + kGridLineWidth);
  FTitleHeight = AValue;
  UpdateFixedRowsView();
  RowResized();
}

int TSortGridPemra::ColWidths(int ACol) const {
  if (ACol < 0 || ACol >= ColCount()) return 0;
  return std::max(FHeader->sectionSize(ACol) - kGridLineWidth, 0);
}

void TSortGridPemra::SetColWidths(int ACol, int AValue) {
  if (ACol < 0 || ACol >= ColCount()) return;
  FHeader->resizeSection(ACol, std::max(AValue, 0) + kGridLineWidth);
}

int TSortGridPemra::RowHeights(int ARow) const {
  if (ARow < 0 || ARow >= RowCount()) return 0;
  if (ARow == 0 && FFixedRows > 0) return FTitleHeight;
  return std::max(verticalHeader()->sectionSize(ARow) - kGridLineWidth, 0);
}

void TSortGridPemra::SetRowHeights(int ARow, int AValue) {
  if (ARow < 0 || ARow >= RowCount()) return;
  AValue = std::max(AValue, 0);
  if (ARow == 0) {
    if (AValue == FTitleHeight && (FFixedRows > 0 || RowHeights(0) == AValue)) return;
    FTitleHeight = AValue;
    UpdateFixedRowsView();
  } else {
    if (RowHeights(ARow) == AValue) return;
    verticalHeader()->resizeSection(ARow, AValue + kGridLineWidth);
  }
  RowResized();
}

void TSortGridPemra::ColResized() {
  if (!FLoading && OnColResize) OnColResize(this);
}

void TSortGridPemra::RowResized() {
  if (!FLoading && !FConstructing && OnRowResize) OnRowResize(this);
}

int TSortGridPemra::Col() const {
  const QModelIndex i = currentIndex();
  return i.isValid() ? i.column() : FFixedCols;
}

void TSortGridPemra::SetCol(int AValue) {
  if (AValue >= FFixedCols && AValue < ColCount() && Row() >= FFixedRows && Row() < RowCount())
    setCurrentIndex(FModel->index(Row(), AValue));
}

int TSortGridPemra::Row() const {
  const QModelIndex i = currentIndex();
  return i.isValid() ? i.row() : FFixedRows;
}

void TSortGridPemra::SetRow(int AValue) {
  if (AValue >= FFixedRows && AValue < RowCount() && Col() >= FFixedCols && Col() < ColCount())
    setCurrentIndex(FModel->index(AValue, Col()));
}

void TSortGridPemra::SetRowInPlace(int AValue) {
  const bool scroll = hasAutoScroll();
  setAutoScroll(false);
  SetRow(AValue);
  setAutoScroll(scroll);
}

void TSortGridPemra::SetOptions(TGridOptions AValue) {
  FOptions = AValue;
  setSelectionBehavior((AValue & goRowSelect) ? QAbstractItemView::SelectRows
                                              : QAbstractItemView::SelectItems);
  setSelectionMode((AValue & goRangeSelect) && !(AValue & goRowSelect)
                       ? QAbstractItemView::ContiguousSelection
                       : QAbstractItemView::SingleSelection);
  setEditTriggers((AValue & goEditing)
                      ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::AnyKeyPressed
                      : QAbstractItemView::NoEditTriggers);
  FHeader->setSectionResizeMode((AValue & goColSizing) ? QHeaderView::Interactive
                                                       : QHeaderView::Fixed);
  if (currentIndex().isValid() && selectionModel())
    selectionModel()->select(
        currentIndex(),
        QItemSelectionModel::ClearAndSelect |
            ((AValue & goRowSelect) ? QItemSelectionModel::Rows : QItemSelectionModel::NoUpdate));
  viewport()->update();
}

void TSortGridPemra::SetColor(const QColor& AValue) {
  FColor = AValue;
  viewport()->update();
}

void TSortGridPemra::SetFixedColor(const QColor& AValue) {
  FFixedColor = AValue;
  viewport()->update();
  FHeader->viewport()->update();
}

void TSortGridPemra::SetDefaultDrawing(bool AValue) {
  FDefaultDrawing = AValue;
  viewport()->update();
  FHeader->viewport()->update();
}

QRect TSortGridPemra::CellRect(int ACol, int ARow) const {
  if (!FModel->Valid(ACol, ARow)) return {};
  QRect full;
  if (ARow == 0 && FFixedRows > 0)
    full = QRect(FHeader->sectionViewportPosition(ACol), 0, FHeader->sectionSize(ACol),
                 FHeader->height());
  else
    full = visualRect(FModel->index(ARow, ACol));
  if (full.isEmpty()) return {};
  return full.adjusted(0, 0, -kGridLineWidth, -kGridLineWidth);
}

// --- own properties --------------------------------------------------------

void TSortGridPemra::SetShowIndicator(bool AValue) {
  if (AValue == FShowIndicator) return;
  FShowIndicator = AValue;
  SetFixedCols(AValue ? 1 : 0);
}

void TSortGridPemra::SetShowTitle(bool AValue) {
  if (AValue == FShowTitle) return;
  FShowTitle = AValue;
  if (AValue) {
    SetRowCount(std::max(RowCount(), 2));
    SetFixedRows(1);
  } else {
    SetRowCount(std::max(RowCount(), 1));
    SetFixedRows(0);
  }
}

void TSortGridPemra::SetActiveTitleIndex(int AValue) {
  if (AValue < 0 || AValue >= ColCount()) return;
  FActiveTitleIndex = AValue;
  FSortStyle = OnGetSortStyle ? OnGetSortStyle(this, AValue) : sstText;
}

void TSortGridPemra::SetActiveTitleBevel(TSortGrPmActiveTitleBevel AValue) {
  FActiveTitleBevel = AValue;
  FHeader->viewport()->update();
  viewport()->update();
}

void TSortGridPemra::SetActiveTitleColor(const QColor& AValue) {
  FActiveTitleColor = AValue;
  FHeader->viewport()->update();
  viewport()->update();
}

void TSortGridPemra::Loaded() {
  FLoading = false;
  SetActiveTitleIndex(FActiveTitleIndex);
}

// --- titles and sorting -------------------------------------------------

void TSortGridPemra::TitleMouseDown(Qt::MouseButton AButton, const QPoint& APos) {
  const int col = FHeader->logicalIndexAt(APos.x());
  if (!FShowTitle || col < 0 || FHeader->Resizing() || AButton != Qt::LeftButton) return;
  try {
    ClickTitle(col);
  } catch (const std::exception& e) {
    // The click handler is abandoned here; the rows keep the order reached.
    ReportApplicationError(QString::fromUtf8(e.what()));
    viewport()->update();
    FHeader->viewport()->update();
  }
}

void TSortGridPemra::ClickTitle(int ACol) {
  if (!FClickTitleEnabled) return;
  int newCol = ACol;
  if (OnChangeTitle) OnChangeTitle(this, newCol);
  const int index = newCol - FFixedCols;
  if (index == FActiveTitleIndex)
    FSortDescending = !FSortDescending;
  else
    SetActiveTitleIndex(index);
  if (OnClickTitle)
    OnClickTitle(this, FActiveTitleIndex);
  else
    SortRows();
  viewport()->update();
  FHeader->viewport()->update();
}

void TSortGridPemra::SortRows() {
  // Rows 1..RowCount-1; with fewer than two such rows there is nothing to
  // order (and no row to compare).
  const int last = RowCount() - 1;
  if (last < 2) return;
  auto quickSort = [this](auto& self, int L, int R) -> void {
    int I, J, P;
    do {
      I = L;
      J = R;
      P = int((unsigned(L) + unsigned(R)) >> 1);
      do {
        while (CompareRows(I, P) < 0) ++I;
        while (CompareRows(J, P) > 0) --J;
        if (I <= J) {
          if (I != J) ExchangeRows(I, J);
          if (P == I)
            P = J;
          else if (P == J)
            P = I;
          ++I;
          --J;
        }
      } while (I <= J);
      if (L < J) self(self, L, J);
      L = I;
    } while (I < R);
  };
  quickSort(quickSort, 1, last);
}

namespace {

double DateTimeOfCell(const QString& AText) {
  if (AText.isEmpty()) return 0;  // the origin of the date-time scale
  double value = 0;
  if (!TryStrToDateTime(AText, value, FormatSettings()))
    throw EConvertError(QStringLiteral("'%1' není platné datum a čas").arg(AText).toStdString());
  return value;
}

template <typename T>
int Sign(T A, T B) {
  return A < B ? -1 : (B < A ? 1 : 0);
}

}  // namespace

int TSortGridPemra::CompareRows(int A, int B) {
  const int col = FActiveTitleIndex + FFixedCols;
  const QString s1 = Cells(col, A);
  const QString s2 = Cells(col, B);
  int result = 0;
  switch (FSortStyle) {
    case sstInteger: {
      int32_t v1 = 0, v2 = 0;
      if (!TryStrToInt(s1, v1)) v1 = 0;
      if (!TryStrToInt(s2, v2)) v2 = 0;
      result = Sign(v1, v2);
      break;
    }
    case sstDateTime:
      result = Sign(DateTimeOfCell(s1), DateTimeOfCell(s2));
      break;
    default: {
      const int c = QString::localeAwareCompare(s1.toCaseFolded(), s2.toCaseFolded());
      result = Sign(c, 0);
      break;
    }
  }
  return FSortDescending ? -result : result;
}

void TSortGridPemra::ExchangeRows(int A, int B) {
  if (!FModel->Valid(0, A) || !FModel->Valid(0, B)) return;
  auto& rowA = FModel->RowCells(A);
  auto& rowB = FModel->RowCells(B);
  FSwapBuffer.clear();
  FSwapObjects.clear();
  for (const auto& cell : rowA) {
    FSwapBuffer.append(cell.Text);
    FSwapObjects.push_back(cell.Object);
  }
  rowA = rowB;
  for (size_t c = 0; c < rowB.size(); ++c) {
    rowB[c].Text = FSwapBuffer[qsizetype(c)];
    rowB[c].Object = FSwapObjects[c];
  }
  FModel->RowChanged(A);
  FModel->RowChanged(B);
}

// --- drawing ---------------------------------------------------------------

bool TSortGridPemra::IsActiveControl() const {
  const QWidget* w = window();
  return w != nullptr && w->focusWidget() == this;
}

void TSortGridPemra::PaintCell(QPainter* APainter, int ACol, int ARow, const QRect& AFull,
                               bool AFixedRow) {
  if (!FModel->Valid(ACol, ARow)) return;
  const bool fixed = AFixedRow || ARow < FFixedRows || ACol < FFixedCols;
  TGridDrawState state = fixed ? TGridDrawState(gdFixed) : 0u;
  if (!fixed) {
    const QModelIndex i = FModel->index(ARow, ACol);
    if (selectionModel() && selectionModel()->isSelected(i)) state |= gdSelected;
    if (i == currentIndex() && IsActiveControl()) state |= gdFocused;
  }
  const QRect rect = AFull.adjusted(0, 0, -kGridLineWidth, -kGridLineWidth);

  APainter->save();
  // Grid lines in the gap right of and below the cell.
  const QColor lineColor = palette().color(fixed ? QPalette::Dark : QPalette::Midlight);
  const bool vLine = FOptions & (fixed ? goFixedVertLine : goVertLine);
  const bool hLine = FOptions & (fixed ? goFixedHorzLine : goHorzLine);
  APainter->fillRect(QRect(AFull.right(), AFull.top(), 1, AFull.height()),
                     vLine ? lineColor : FColor);
  APainter->fillRect(QRect(AFull.left(), AFull.bottom(), AFull.width(), 1),
                     hLine ? lineColor : FColor);

  // What the base grid does before the hook: fill in the area's colour.
  if (FDefaultDrawing) {
    const bool highlight =
        (state & gdSelected) && (!(state & gdFocused) || (FOptions & goRowSelect));
    APainter->fillRect(
        rect, highlight ? palette().color(QPalette::Highlight) : (fixed ? FFixedColor : FColor));
  }

  FCanvas.Painter = APainter;
  DrawCell(ACol, ARow, rect, state);
  FCanvas.Painter = nullptr;

  if (FDefaultDrawing) {
    if (fixed) {
      // The raised edge of fixed cells.
      const int l = rect.left(), t = rect.top(), r = rect.left() + rect.width() - 1,
                b = rect.top() + rect.height() - 1;
      APainter->setPen(palette().color(QPalette::Light));
      APainter->drawLine(l, t, r, t);
      APainter->drawLine(l, t, l, b);
      APainter->setPen(palette().color(QPalette::Mid));
      APainter->drawLine(l, b, r, b);
      APainter->drawLine(r, t, r, b);
    } else if ((state & gdFocused) && !(FOptions & goRowSelect)) {
      APainter->setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
      APainter->setBrush(Qt::NoBrush);
      APainter->drawRect(rect.adjusted(0, 0, -1, -1));
    }
  }
  APainter->restore();
}

void TSortGridPemra::DrawCell(int ACol, int ARow, const QRect& ARect, TGridDrawState AState) {
  QPainter* p = FCanvas.Painter;
  if (p == nullptr) return;
  const int activeCol = FActiveTitleIndex + FFixedCols;
  FCanvas.Font = font();
  if (ARow < FFixedRows) {
    FCanvas.BrushColor = ACol == activeCol ? FActiveTitleColor : FFixedColor;
    FCanvas.FontColor = palette().color(QPalette::ButtonText);
  } else {
    const bool highlighted =
        (AState & gdSelected) &&
        ((AState & gdFocused) || ((FOptions & goRowSelect) && IsActiveControl()));
    if (highlighted) {
      FCanvas.BrushColor = palette().color(QPalette::Highlight);
      FCanvas.FontColor = palette().color(QPalette::HighlightedText);
    } else {
      FCanvas.BrushColor = FColor;
      FCanvas.FontColor = palette().color(QPalette::Text);
    }
  }

  if (OnDrawCell) OnDrawCell(this, ACol, ARow, ARect, AState);

  const int left = ARect.left(), top = ARect.top();
  const int right = ARect.left() + ARect.width(), bottom = ARect.top() + ARect.height();
  if (FDefaultDrawing) {
    QString value = Cells(ACol, ARow);
    if (OnGetDisplayText) OnGetDisplayText(this, ACol, ARow, value);
    const TAlignment alignment = OnGetAlignment ? OnGetAlignment(this, ACol) : taLeftJustify;
    p->save();
    p->setClipRect(ARect);
    p->fillRect(ARect, FCanvas.BrushColor);
    p->setFont(FCanvas.Font);
    p->setPen(FCanvas.FontColor);
    const QFontMetrics fm(FCanvas.Font);
    // Measuring lays the text out once more: only where the alignment needs it.
    int x = left + 2;
    if (alignment == taRightJustify)
      x = right - 2 - fm.horizontalAdvance(value);
    else if (alignment == taCenter)
      x = (left + right) / 2 - fm.horizontalAdvance(value) / 2;
    p->drawText(QPoint(x, top + 2 + fm.ascent()), value);
    p->restore();
  }

  if (ARow < FFixedRows && ACol == activeCol && FActiveTitleBevel == stbLowered) {
    p->save();
    p->setPen(palette().color(QPalette::Light));
    p->drawPolyline(QPolygon(
        {QPoint(left + 1, bottom - 1), QPoint(right - 1, bottom - 1), QPoint(right - 1, top)}));
    p->setPen(palette().color(QPalette::Dark));
    p->drawPolyline(QPolygon(
        {QPoint(left + 1, bottom - 2), QPoint(left + 1, top + 1), QPoint(right - 2, top + 1)}));
    p->restore();
  }
}

// --- keys and mouse --------------------------------------------------------

bool TSortGridPemra::event(QEvent* AEvent) {
  // The grid takes Tab itself instead of moving the focus.
  if (AEvent->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(AEvent);
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
      keyPressEvent(key);
      return true;
    }
  }
  return QTableView::event(AEvent);
}

QModelIndex TSortGridPemra::moveCursor(CursorAction ACursorAction,
                                       Qt::KeyboardModifiers AModifiers) {
  // The base grid moves the row here only with Ctrl; a grid that selects
  // whole rows has no column to move to.
  if ((ACursorAction == MoveHome || ACursorAction == MoveEnd) && (FOptions & goRowSelect) &&
      !(AModifiers & Qt::ControlModifier) && RowCount() > FFixedRows && ColCount() > FFixedCols) {
    const int row = ACursorAction == MoveHome ? FFixedRows : RowCount() - 1;
    return FModel->index(row, std::max(Col(), FFixedCols));
  }
  return QTableView::moveCursor(ACursorAction, AModifiers);
}

void TSortGridPemra::keyPressEvent(QKeyEvent* AEvent) {
  int key = AEvent->key();
  const Qt::KeyboardModifiers shift = AEvent->modifiers();
  AEvent->accept();

  // Enter and Escape go to the form first (default button, dialog cancel).
  if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) &&
      SendDialogKey(this, key))
    return;

  if (FEnterIsTab && (key == Qt::Key_Return || key == Qt::Key_Enter)) key = Qt::Key_Tab;

  bool withheld = true;
  switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      if (OnClickTab) OnClickTab(this);
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (OnClickEnter) OnClickEnter(this);
      break;
    case Qt::Key_Escape:
      if (OnClickEsc) OnClickEsc(this);
      break;
    case Qt::Key_Insert:
    case Qt::Key_F4:
      if (OnClickIns) OnClickIns(this);
      break;
    case Qt::Key_Delete:
      if (OnClickDel) OnClickDel(this);
      break;
    case Qt::Key_F10:
      if (FPopupMenu) FPopupMenu->popup(mapToGlobal(QPoint(10, 40)));
      break;
    default:
      withheld = false;
      break;
  }

  const QString text = AEvent->text();
  const bool isChar = text.size() == 1 && (text[0].isPrint() || text[0] == '\r' || text[0] == '\t');
  if (!withheld) {
    if (OnKeyDown) OnKeyDown(this, key, shift);
    // Characters do not move the row (no keyboard search), unless editing.
    if (key != 0 && (!isChar || (FOptions & goEditing))) QTableView::keyPressEvent(AEvent);
  }

  if (!isChar) return;
  QChar ch = text[0];
  if (ch == ' ' && OnClickSpace) {
    OnClickSpace(this, Row());
    return;
  }
  if (state() != QAbstractItemView::EditingState && FEnterIsTab && ch == '\r') ch = '\t';
  if (OnKeyPress) OnKeyPress(this, ch);
}

void TSortGridPemra::keyReleaseEvent(QKeyEvent* AEvent) {
  int key = AEvent->key();
  if (FEnterIsTab && (key == Qt::Key_Return || key == Qt::Key_Enter)) key = Qt::Key_Tab;
  if (OnKeyUp) OnKeyUp(this, key, AEvent->modifiers());
  QTableView::keyReleaseEvent(AEvent);
}

void TSortGridPemra::mouseDoubleClickEvent(QMouseEvent* AEvent) {
  QTableView::mouseDoubleClickEvent(AEvent);
  if (OnDblClick) OnDblClick(this);
}

void TSortGridPemra::focusInEvent(QFocusEvent* AEvent) {
  QTableView::focusInEvent(AEvent);
  viewport()->update();
}

void TSortGridPemra::focusOutEvent(QFocusEvent* AEvent) {
  QTableView::focusOutEvent(AEvent);
  viewport()->update();
}
