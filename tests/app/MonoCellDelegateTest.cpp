// The traffic table's cell drawing: it must look as the style's drawing did,
// in every state a row can be in, and hand over what it cannot draw itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include "app/MonoCellDelegate.h"

namespace {

QImage Draw(QAbstractItemDelegate* delegate) {
  QStandardItemModel model(6, 2);
  const QString texts[6] = {"15:16:07.064",
                            "4B 73 C2 FA 61 78 15 96 9A 62 E2 70 C8 38",  // cut with "…"
                            QString::fromUtf8("Napájení zapnuto"),
                            "1F",
                            "",
                            QString::fromUtf8("znak mimo písmo \U0001F682")};  // a pair
  for (int row = 0; row < 6; ++row) {
    model.setItem(row, 0, new QStandardItem(texts[row]));
    model.setItem(row, 1, new QStandardItem(texts[(row + 1) % 6]));
  }
  model.item(2, 0)->setForeground(QColor(176, 0, 0));
  model.item(3, 1)->setBackground(QColor(255, 226, 110));
  model.item(4, 0)->setBackground(QColor(214, 214, 214));

  QTableView view;
  QFont mono;
  mono.setFamilies({"Courier New", "DejaVu Sans Mono", "Monospace"});
  mono.setStyleHint(QFont::TypeWriter);
  mono.setPixelSize(11);
  mono.setBold(true);
  view.setFont(mono);
  view.setModel(&model);
  if (delegate) view.setItemDelegate(delegate);
  view.setSelectionBehavior(QAbstractItemView::SelectRows);
  view.setWordWrap(false);
  view.verticalHeader()->hide();
  view.verticalHeader()->setDefaultSectionSize(18);
  view.setColumnWidth(0, 130);
  view.setColumnWidth(1, 90);
  view.resize(260, 160);
  view.selectRow(1);
  view.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
  return view.viewport()->grab().toImage();
}

}  // namespace

TEST(MonoCellDelegate, DrawsEveryRowStateAsTheStyleDid) {
  const QImage styled = Draw(nullptr);
  TMonoCellDelegate mono;
  const QImage own = Draw(&mono);
  ASSERT_EQ(styled.size(), own.size());
  int differing = 0;
  for (int y = 0; y < styled.height(); ++y)
    for (int x = 0; x < styled.width(); ++x)
      if (styled.pixel(x, y) != own.pixel(x, y)) ++differing;
  EXPECT_EQ(differing, 0);
}
