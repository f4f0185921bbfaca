// A row of tool controls that wraps onto further rows when the width does
// not hold them all, so a narrow window never cuts a button off.
#pragma once

#include <QLayout>
#include <QList>

class TFlowLayout : public QLayout {
public:
  explicit TFlowLayout(QWidget* parent = nullptr, int spacing = 3);
  ~TFlowLayout() override;

  void addItem(QLayoutItem* item) override;
  int count() const override { return static_cast<int>(FItems.size()); }
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  Qt::Orientations expandingDirections() const override { return {}; }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize minimumSize() const override;
  QSize sizeHint() const override;
  void setGeometry(const QRect& rect) override;

  // Rows the controls take at width (tests, and the height above).
  int RowsAt(int width) const;

private:
  // Lays the items out in rect (or only measures); returns the height used.
  int Arrange(const QRect& rect, bool place, int* rows = nullptr) const;
  QList<QLayoutItem*> FItems;
};
