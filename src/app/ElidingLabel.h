// A label of fixed size for texts that may not fit (errors naming long port
// paths): wrapped at words into as many lines as its height holds, the last
// one cut with an ellipsis; the whole text then shows as a tool tip, and,
// for texts worth reading whole, through a "Podrobnosti" link at the end of
// the last line.  Its size never changes with the text, so nothing around it
// moves.
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
  // The lines text takes in a box of size with font; the last line keeps
  // reserve pixels free when the text is cut.
  static TShown Layout(const QString& text, const QFont& font, const QSize& size, int reserve = 0);
  TShown Shown() const;

  // A cut text gets the link (error texts with their hint).
  void SetDetailsLink(bool on);
  // Where the link is drawn; empty while the text fits.
  QRect DetailsRect() const;
  // The whole text in a box of its own, selectable (the link's click).
  void ShowDetails();
  static QString DetailsCaption() { return QString::fromUtf8("Podrobnosti"); }

protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

private:
  int LinkWidth() const;
  bool FDetails = false;
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
