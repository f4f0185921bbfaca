// TClippedCellTips: a cell's whole text when its column cuts it.
#include "app/CellTips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

TClippedCellTips::TClippedCellTips(QAbstractItemView* view)
    : QObject(view), FView(view), FViewport(view->viewport()) {
  view->viewport()->installEventFilter(this);
}

bool TClippedCellTips::eventFilter(QObject* watched, QEvent* event) {
  // The type first: the view must not be called while it is being destroyed.
  if (event->type() != QEvent::ToolTip || watched != FViewport)
    return QObject::eventFilter(watched, event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QModelIndex index = FView->indexAt(help->pos());
  const QString text = index.isValid() ? index.data(Qt::DisplayRole).toString() : QString();
  const QString own = index.isValid() ? index.data(Qt::ToolTipRole).toString() : QString();
  const QRect cell = index.isValid() ? FView->visualRect(index) : QRect();
  // The text's width and the cell's padding on both sides.
  const int needed = FView->fontMetrics().horizontalAdvance(text) + 8;
  const bool clipped = !text.isEmpty() && needed > cell.width();
  if (!clipped && own.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
    return true;
  }
  // Long runs break into lines a screen can hold; the row's own note first.
  QString shown = clipped ? text : QString();
  for (qsizetype at = 96; at < shown.size(); at += 97) shown.insert(at, QLatin1Char('\n'));
  if (!own.isEmpty()) shown = clipped ? own + QLatin1Char('\n') + shown : own;
  QToolTip::showText(help->globalPos(), shown, FView->viewport(), cell);
  return true;
}
