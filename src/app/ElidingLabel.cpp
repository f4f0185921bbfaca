// Labels of fixed size: long texts cut with an ellipsis, counts that keep their width.
#include "app/ElidingLabel.h"

#include <QHelpEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>

TElidingLabel::TShown TElidingLabel::Layout(const QString& text, const QFont& font,
                                            const QSize& size, int reserve) {
  if (reserve > 0) {
    TShown whole = Layout(text, font, size);
    if (!whole.Cut) return whole;
  }
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
      QString cut = metrics.elidedText(rest, Qt::ElideRight, size.width());
      shown.Cut = cut != rest;
      if (shown.Cut && reserve > 0)
        cut = metrics.elidedText(rest, Qt::ElideRight, std::max(0, size.width() - reserve));
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

TElidingLabel::TShown TElidingLabel::Shown() const {
  return Layout(text(), font(), contentsRect().size(), FDetails ? LinkWidth() : 0);
}

int TElidingLabel::LinkWidth() const {
  return fontMetrics().horizontalAdvance(QLatin1Char(' ') + DetailsCaption());
}

void TElidingLabel::SetDetailsLink(bool on) {
  FDetails = on;
  setMouseTracking(on);
  update();
}

QRect TElidingLabel::DetailsRect() const {
  if (!FDetails) return {};
  const TShown shown = Shown();
  if (!shown.Cut) return {};
  const QRect box = contentsRect();
  const int step = fontMetrics().lineSpacing();
  const int width = fontMetrics().horizontalAdvance(DetailsCaption());
  return QRect(box.right() + 1 - width,
               box.top() + step * (static_cast<int>(shown.Lines.size()) - 1), width, step);
}

void TElidingLabel::ShowDetails() {
  auto* box = new QMessageBox(QMessageBox::Information, window()->windowTitle(), text(),
                              QMessageBox::Close, window());
  box->setObjectName("MessageDetails");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  box->button(QMessageBox::Close)->setText(QString::fromUtf8("Zavřít"));
  box->open();
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
  const QRect link = DetailsRect();
  if (link.isEmpty()) return;
  QFont underlined = font();
  underlined.setUnderline(true);
  painter.setFont(underlined);
  painter.setPen(palette().color(QPalette::Link));
  painter.drawText(link, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, DetailsCaption());
}

void TElidingLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && DetailsRect().contains(event->position().toPoint())) {
    ShowDetails();
    return;
  }
  QLabel::mouseReleaseEvent(event);
}

void TElidingLabel::mouseMoveEvent(QMouseEvent* event) {
  if (FDetails)
    setCursor(DetailsRect().contains(event->position().toPoint()) ? Qt::PointingHandCursor
                                                                  : Qt::ArrowCursor);
  QLabel::mouseMoveEvent(event);
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
