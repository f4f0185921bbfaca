// TFlowLayout: tool controls in rows as wide as the space.
#include "app/FlowLayout.h"

#include <QWidget>

#include <algorithm>

TFlowLayout::TFlowLayout(QWidget* parent, int spacing) : QLayout(parent) {
  setSpacing(spacing);
  setContentsMargins(0, 0, 0, 0);
}

TFlowLayout::~TFlowLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void TFlowLayout::addItem(QLayoutItem* item) { FItems.append(item); }

QLayoutItem* TFlowLayout::itemAt(int index) const {
  return index >= 0 && index < FItems.size() ? FItems[index] : nullptr;
}

QLayoutItem* TFlowLayout::takeAt(int index) {
  return index >= 0 && index < FItems.size() ? FItems.takeAt(index) : nullptr;
}

int TFlowLayout::heightForWidth(int width) const { return Arrange(QRect(0, 0, width, 0), false); }

QSize TFlowLayout::minimumSize() const {
  // As narrow as the widest control: everything else wraps.
  QSize size;
  for (const QLayoutItem* item : FItems)
    if (!item->isEmpty()) size = size.expandedTo(item->minimumSize());
  const QMargins m = contentsMargins();
  return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize TFlowLayout::sizeHint() const {
  // One row.
  int width = 0;
  int height = 0;
  for (const QLayoutItem* item : FItems) {
    if (item->isEmpty()) continue;
    if (width > 0) width += spacing();
    width += item->sizeHint().width();
    height = std::max(height, item->sizeHint().height());
  }
  const QMargins m = contentsMargins();
  return {width + m.left() + m.right(), height + m.top() + m.bottom()};
}

void TFlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  Arrange(rect, true);
}

int TFlowLayout::RowsAt(int width) const {
  int rows = 0;
  Arrange(QRect(0, 0, width, 0), false, &rows);
  return rows;
}

int TFlowLayout::Arrange(const QRect& rect, bool place, int* rows) const {
  const QRect area = rect.marginsRemoved(contentsMargins());
  int x = area.x();
  int y = area.y();
  int rowHeight = 0;
  int rowCount = 0;
  // Items of one row share its height, centred, as a box layout would.
  QList<QLayoutItem*> row;
  auto placeRow = [&] {
    if (!place) return;
    int left = area.x();
    for (QLayoutItem* item : row) {
      const QSize size = item->sizeHint().boundedTo(QSize(area.width(), rowHeight));
      item->setGeometry(QRect(QPoint(left, y + (rowHeight - size.height()) / 2), size));
      left += size.width() + spacing();
    }
  };
  for (QLayoutItem* item : FItems) {
    if (item->isEmpty()) continue;
    const QSize size = item->sizeHint();
    if (!row.isEmpty() && x + size.width() > area.right() + 1) {
      placeRow();
      row.clear();
      y += rowHeight + spacing();
      x = area.x();
      rowHeight = 0;
    }
    if (row.isEmpty()) ++rowCount;
    row << item;
    x += size.width() + spacing();
    rowHeight = std::max(rowHeight, size.height());
  }
  placeRow();
  if (rows) *rows = rowCount;
  const QMargins m = contentsMargins();
  return y + rowHeight - rect.y() + m.bottom();
}
