// TColumnFit: the last column keeps its least width by narrowing one other.
#include "app/ColumnFit.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>

TColumnFit::TColumnFit(QTableView* table, int giveWay, int floor, int leastLast)
    : QObject(table), FTable(table), FGiveWay(giveWay), FFloor(floor), FLeastLast(leastLast) {
  QHeaderView* header = table->horizontalHeader();
  for (int c = 0; c < header->count(); ++c) FWanted << header->sectionSize(c);
  connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
    // A drag of the user's (or a width set from outside) is the new choice.
    if (FFitting || column >= FWanted.size()) return;
    FWanted[column] = size;
    if (column != FGiveWay) Fit();
  });
  connect(header, &QHeaderView::sectionCountChanged, this, [this](int, int count) {
    while (FWanted.size() < count)
      FWanted << FTable->horizontalHeader()->sectionSize(FWanted.size());
  });
  table->viewport()->installEventFilter(this);
  // A stretched last column keeps at least the width it had when stretching
  // began: from now on that is only its least width.
  if (header->stretchLastSection() && header->count() > 0) {
    FFitting = true;
    header->resizeSection(header->count() - 1, leastLast);
    FFitting = false;
  }
}

int TColumnFit::Wanted(int column) const {
  return column >= 0 && column < FWanted.size() ? FWanted[column] : 0;
}

void TColumnFit::SetWanted(int column, int width) {
  if (column < 0 || column >= FWanted.size()) return;
  FWanted[column] = width;
  Fit();
}

void TColumnFit::Fit() {
  QHeaderView* header = FTable->horizontalHeader();
  const int last = header->count() - 1;
  if (last <= 0 || FGiveWay >= last) return;
  int others = 0;
  for (int c = 0; c < last; ++c)
    if (c != FGiveWay && !header->isSectionHidden(c)) others += FWanted[c];
  const int room = FTable->viewport()->width() - others - FLeastLast;
  const int width = std::clamp(room, std::min(FFloor, FWanted[FGiveWay]), FWanted[FGiveWay]);
  if (header->sectionSize(FGiveWay) == width) return;
  FFitting = true;
  header->resizeSection(FGiveWay, width);
  FFitting = false;
}

bool TColumnFit::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && watched == FTable->viewport()) Fit();
  return QObject::eventFilter(watched, event);
}
