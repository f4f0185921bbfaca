// TClippedCellTips: the tool tips of an item view's cells, for the traffic
// table and the device grid alike.
#pragma once

#include <QObject>

class QAbstractItemView;

// Shows a cell's full text as a tool tip when its column is too narrow for
// it; for any item view (the traffic table, the device grid).
class TClippedCellTips : public QObject {
public:
  explicit TClippedCellTips(QAbstractItemView* view);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QAbstractItemView* FView;
  QObject* FViewport;  // compared by address only: events come while the view is torn down
};
