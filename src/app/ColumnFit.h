// Keeps a table's last column (the comment) readable in a narrow window:
// while the columns before it leave it less than its least width, one
// column gives way first (the hex bytes, which tell their whole text in a
// tool tip), down to a floor.  The widths the user or the settings chose
// stay wanted and come back as soon as there is room.
#pragma once

#include <QList>
#include <QObject>

class QTableView;

class TColumnFit : public QObject {
public:
  TColumnFit(QTableView* table, int giveWay, int floor, int leastLast);

  // The width chosen for column (the user's drag, the settings), not the
  // fitted one; these are the widths to store.
  int Wanted(int column) const;
  void SetWanted(int column, int width);
  // Fits the columns to the view's width now (also done on every resize).
  void Fit();

  int LeastLast() const { return FLeastLast; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QTableView* FTable;
  int FGiveWay;
  int FFloor;
  int FLeastLast;
  QList<int> FWanted;
  bool FFitting = false;
};
