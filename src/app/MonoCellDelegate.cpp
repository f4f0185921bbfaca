// Drawing the monospaced cells of the traffic table.
#include "app/MonoCellDelegate.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QPainter>

#include <cmath>

void TMonoCellDelegate::UseFont(const QFont& font) const {
  if (FFontSet && font == FFont) return;
  FFont = font;
  FFontSet = true;
  FGlyphs.clear();
  FRaw = QRawFont::fromFont(font);
  FMono = false;
  FEllipsis = 0;
  if (!FRaw.isValid() || !QFontInfo(font).fixedPitch()) return;
  const QList<quint32> zero = FRaw.glyphIndexesForString(QStringLiteral("0"));
  if (zero.size() != 1 || zero[0] == 0) return;
  FAdvance = FRaw.advancesForGlyphIndexes(zero).value(0).x();
  if (FAdvance <= 0) return;
  const QFontMetrics metrics(font);
  FAscent = metrics.ascent();
  FHeight = metrics.height();
  FMono = true;
  const QList<quint32> ellipsis = FRaw.glyphIndexesForString(QString(QChar(0x2026)));
  if (ellipsis.size() == 1 && ellipsis[0] != 0 &&
      std::abs(FRaw.advancesForGlyphIndexes(ellipsis).value(0).x() - FAdvance) < 0.01)
    FEllipsis = ellipsis[0];
}

bool TMonoCellDelegate::Glyphs(const QString& text, qsizetype count, TGlyphs& glyphs) const {
  glyphs.resize(count);
  for (qsizetype i = 0; i < count; ++i) {
    const QChar c = text[i];
    auto found = FGlyphs.constFind(c.unicode());
    if (found == FGlyphs.constEnd()) {
      quint32 glyph = 0;
      // Pairs, marks and controls need shaping or have no advance of their own.
      if (!c.isSurrogate() && !c.isMark() && c.isPrint()) {
        const QList<quint32> one = FRaw.glyphIndexesForString(QString(c));
        if (one.size() == 1 && one[0] != 0 &&
            std::abs(FRaw.advancesForGlyphIndexes(one).value(0).x() - FAdvance) < 0.01)
          glyph = one[0];
      }
      found = FGlyphs.insert(c.unicode(), glyph);
    }
    if (*found == 0) return false;
    glyphs[i] = *found;
  }
  return true;
}

QVariant TMonoCellDelegate::BackgroundOf(const QModelIndex& index) const {
  const QVariant own = Background ? Background(index) : QVariant();
  return own.isValid() ? own : index.data(Qt::BackgroundRole);
}

void TMonoCellDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (!Background) return;
  if (const QVariant own = Background(index); own.isValid())
    option->backgroundBrush = qvariant_cast<QBrush>(own);
}

void TMonoCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  UseFont(option.font);
  const QString text = index.data(Qt::DisplayRole).toString();
  // The style's margins: the text sits where it did before.
  const QWidget* widget = option.widget;
  const QStyle* style = widget ? widget->style() : nullptr;
  const int margin =
      (style ? style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) : 2) + 1;
  const QRect box = option.rect.adjusted(margin, 0, -margin, 0);
  const int fit = FMono ? std::max(0, static_cast<int>((box.width() + 0.01) / FAdvance)) : 0;
  // Cut with "…" as the style does; the full text is in the tool tip.
  const bool cut = text.size() > fit;
  const qsizetype shown = cut ? fit : text.size();
  TGlyphs glyphs;
  // The current cell (one in the view) keeps the style's focus frame.
  if (!FMono || option.direction == Qt::RightToLeft || (option.state & QStyle::State_HasFocus) ||
      (cut && FEllipsis == 0) || !Glyphs(text, shown, glyphs)) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  if (cut && shown > 0) glyphs[shown - 1] = FEllipsis;

  const bool selected = option.state & QStyle::State_Selected;
  const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                     : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                             : QPalette::Inactive;
  if (selected) {
    painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
  } else {
    const QVariant background = BackgroundOf(index);
    if (background.isValid()) painter->fillRect(option.rect, qvariant_cast<QBrush>(background));
  }
  if (shown == 0) return;
  QVarLengthArray<QPointF, 96> positions(shown);
  for (qsizetype i = 0; i < shown; ++i) positions[i] = QPointF(static_cast<qreal>(i) * FAdvance, 0);
  QGlyphRun run;
  run.setRawFont(FRaw);
  run.setRawData(glyphs.constData(), positions.constData(), static_cast<int>(shown));

  QColor pen;
  if (selected) {
    pen = option.palette.color(group, QPalette::HighlightedText);
  } else {
    const QVariant foreground = index.data(Qt::ForegroundRole);
    pen = foreground.isValid() ? qvariant_cast<QColor>(foreground)
                               : option.palette.color(group, QPalette::Text);
  }
  painter->setPen(pen);
  const int baseline = box.top() + (box.height() - FHeight) / 2 + FAscent;
  painter->drawGlyphRun(QPointF(box.left(), baseline), run);
}
