// A label of fixed size for texts that may not fit (errors naming long port
// paths): wrapped at words into as many lines as its height holds, the last
// one cut with an ellipsis; the whole text then shows as a tool tip.  Its
// size never changes with the text, so nothing around it moves.
#pragma once

#include <QLabel>
#include <QStringList>

class TElidingLabel : public QLabel {
public:
  using QLabel::QLabel;

  struct TShown {
    QStringList Lines;
    bool Cut = false;  // some of the text is not shown
  };
  // The lines text takes in a box of size with font.
  static TShown Layout(const QString& text, const QFont& font, const QSize& size);
  TShown Shown() const { return Layout(text(), font(), contentsRect().size()); }

protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
};

// A label for a count that changes with every drain (the traffic view's
// rows): its size only grows, so a new count does not lay the window out
// again.
class TCountLabel : public QLabel {
public:
  using QLabel::QLabel;
  void SetCount(const QString& text);

private:
  qsizetype FLongest = -1;
};
