// Captions that do not fit the widget showing them (the window layouts have
// fixed sizes, so a wider font cuts them off).
#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QToolButton>
#include <QWidget>

namespace test_support {

// The captions of root's shown children that are cut off.
inline QStringList ClippedCaptions(const QWidget* root) {
  QStringList clipped;
  for (const QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(root)) continue;
    const QFontMetrics fm = w->fontMetrics();
    QString text;
    int needed = 0;
    if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
      text = group->title();
      needed = fm.horizontalAdvance(text) + 8;  // the title's indent and gap
    } else if (qobject_cast<const QPushButton*>(w) || qobject_cast<const QToolButton*>(w)) {
      // The caption, its icon and a few pixels to either edge.
      const auto* button = static_cast<const QAbstractButton*>(w);
      text = button->text();
      needed = fm.horizontalAdvance(text) + 8 +
               (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
      text = button->text();  // check box, radio button: with its mark
      needed = button->sizeHint().width();
    } else if (const auto* label = qobject_cast<const QLabel*>(w)) {
      if (label->wordWrap() || label->text().isEmpty()) continue;
      text = label->text();
      needed = label->sizeHint().width();
    }
    if (text.isEmpty()) continue;
    if (needed > w->width() || fm.height() > w->height())
      clipped << QStringLiteral("%1 (%2 > %3 wide)").arg(text).arg(needed).arg(w->width());
  }
  return clipped;
}

// Controls of root that stick out of their parent (a window too narrow for a
// row of buttons cuts the last ones off at its edge).
inline QStringList ControlsCutByParent(const QWidget* root) {
  QStringList cut;
  for (const QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(root) || !w->parentWidget() || w->isWindow()) continue;
    // Parts of scrolled areas lie outside by design.
    if (w->parentWidget()->objectName() == QLatin1String("qt_scrollarea_viewport")) continue;
    if (!qobject_cast<const QAbstractButton*>(w) && !qobject_cast<const QLabel*>(w) &&
        !w->inherits("QLineEdit") && !w->inherits("QComboBox"))
      continue;
    if (!w->parentWidget()->rect().contains(w->geometry()))
      cut << QStringLiteral("%1 %2").arg(w->objectName(), w->metaObject()->className());
  }
  return cut;
}

}  // namespace test_support
