// Labels of fixed size: long texts cut with an ellipsis, counts that keep their width.
#include "app/ElidingLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>

TElidingLabel::TShown TElidingLabel::Layout(const QString& text, const QFont& font,
                                            const QSize& size) {
  TShown shown;
  const QFontMetrics metrics(font);
  const int maxLines = std::max(1, (size.height() + metrics.leading()) / metrics.lineSpacing());
  QString flat = text;
  flat.replace(QLatin1Char('\n'), QChar::LineSeparator);  // a forced break in a text layout
  QTextLayout layout(flat, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(size.width());
    if (shown.Lines.size() == maxLines - 1) {
      // The last line that fits takes the rest of the text, cut if need be.
      QString rest = flat.mid(line.textStart());
      rest.replace(QChar::LineSeparator, QLatin1Char(' '));
      rest = rest.trimmed();
      const QString cut = metrics.elidedText(rest, Qt::ElideRight, size.width());
      shown.Cut = cut != rest;
      shown.Lines << cut;
      break;
    }
    QString part = flat.mid(line.textStart(), line.textLength());
    part.remove(QChar::LineSeparator);
    shown.Lines << part.trimmed();
  }
  layout.endLayout();
  return shown;
}

void TElidingLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect box = contentsRect();
  const int step = fontMetrics().lineSpacing();
  int y = box.top();
  for (const QString& line : Shown().Lines) {
    style()->drawItemText(&painter, QRect(box.left(), y, box.width(), step),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, palette(), isEnabled(),
                          line, foregroundRole());
    y += step;
  }
}

bool TElidingLabel::event(QEvent* event) {
  // A cut text without a tool tip of its own shows itself whole.
  if (event->type() == QEvent::ToolTip && toolTip().isEmpty() && Shown().Cut) {
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
    return true;
  }
  return QLabel::event(event);
}

void TCountLabel::SetCount(const QString& text) {
  setText(text);
  // Digits have one width in the usual fonts: only a longer text can need
  // more room.
  if (text.size() <= FLongest) return;
  FLongest = text.size();
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  setFixedSize(sizeHint());
}
