// Draws the cells of a table set in a monospaced font (the traffic view) with
// the font's glyphs placed side by side.  A following view draws every
// visible row anew several times a second, and the style's item drawing
// shapes and elides each cell through a text layout: that was most of what
// following cost.  Texts the font cannot draw glyph by glyph (characters it
// lacks, combining marks) are drawn by the style as before.
#pragma once

#include <QHash>
#include <QRawFont>
#include <QStyledItemDelegate>
#include <QVarLengthArray>

#include <functional>

class TMonoCellDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

  // A background the view lays over the model's on some cells (the traffic
  // view's found row); an invalid one leaves the model's.
  std::function<QVariant(const QModelIndex&)> Background;

private:
  using TGlyphs = QVarLengthArray<quint32, 96>;
  // The glyphs of the first count characters of text, or false when the
  // style must draw it.
  bool Glyphs(const QString& text, qsizetype count, TGlyphs& glyphs) const;
  QVariant BackgroundOf(const QModelIndex& index) const;
  void UseFont(const QFont& font) const;

  mutable QFont FFont;
  mutable bool FFontSet = false;
  mutable QRawFont FRaw;
  mutable bool FMono = false;  // the font is monospaced and usable
  mutable qreal FAdvance = 0;
  mutable int FAscent = 0;
  mutable int FHeight = 0;
  mutable quint32 FEllipsis = 0;             // 0: the font has none of one advance
  mutable QHash<char16_t, quint32> FGlyphs;  // 0: the character goes to the style
};
