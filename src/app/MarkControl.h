// TMarkControl: the user's marks on traffic rows and the ways to move about
// the traffic view: "Označit řádek…" (key M in the traffic view) marks the
// current row with a short note, "Značky…" lists the marks (each selects its
// row), "Další značka" / "Předchozí značka" (F2, Shift+F2) go from mark to
// mark, "Přejít na čas…" (Ctrl+G) to the first row at or after a moment.
//
// Marks of the live bus are kept for the session and written into a running
// recording ("# mark" lines); an opened capture comes with the marks its log
// kept, and a playback of it shows them on the rows played.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>

#include "traffic/TrafficMarks.h"

class QAction;
class QRect;
class QDialog;
class QToolButton;
class QTreeWidget;
class QWidget;
class TAnalysisWindow;
class TPlaybackControl;
struct TCaptureContents;

class TMarkControl : public QObject {
  Q_OBJECT

public:
  TMarkControl(TAnalysisWindow& window, const TTrafficSource& live,
               const TPlaybackControl& playback);
  ~TMarkControl() override;

  // While the window is built: the keys and the context menu of the traffic
  // view's table, the window's keys, and the button "Značky" with the menu
  // on the left panel at geometry.
  void Install(QWidget* table, QWidget* panelLeft, const QRect& geometry);
  // The window shows another capture (its marks come with it), or none.
  void CaptureChanged(const TCaptureContents* capture);

  // Marks item seq of the live bus with text (a trigger may call this): the
  // mark is listed and written into a running recording.  False when the
  // live history no longer holds the item.
  bool AddMark(uint64_t seq, const QString& text);
  // Marks the traffic view's item seq (of whatever it shows).
  bool MarkShownItem(uint64_t seq, const QString& text);
  // The marks of what the traffic view shows, by the numbers of their
  // history (the capture's while a playback of it is shown).
  const TTrafficMarks& Marks() const;
  // The live bus's marks, whatever is shown.
  const TTrafficMarks& LiveMarks() const { return FLiveMarks; }

  // The current row's next (forward) or previous mark made current; false,
  // with a note, when there is none.
  bool GoToMark(bool forward);
  // The first row at or after what text names ("14:03", "14:03:05.120",
  // "8. 12. 2026 14:03:05"); false, with a note, when it names no moment
  // or no row comes at or after it.
  bool GoToTime(const QString& text);

  // A moment the user typed, in local time: a time of day (HH:mm, HH:mm:ss,
  // HH:mm:ss.zzz) is taken on the first day, from the history's first item
  // on, that reaches it; a date with it ("d. M. yyyy", "yyyy-MM-dd") as it
  // stands.  False when the text is neither.
  static bool ParseMoment(const QString& text, int64_t firstUs, int64_t& us);

  // Asks for a mark's text (null: cancelled) and for a moment; replaced by tests.
  std::function<QString(const QString& suggested)> AskMarkText;
  std::function<QString()> AskMoment;
  // What the last action could not do ("Žádná další značka"); empty otherwise.
  QString Note() const { return FNote; }

  QAction* ActionMark = nullptr;      // "Označit řádek…", M
  QAction* ActionMarkList = nullptr;  // "Značky…"
  QAction* ActionNextMark = nullptr;  // F2
  QAction* ActionPrevMark = nullptr;  // Shift+F2
  QAction* ActionGoToTime = nullptr;  // Ctrl+G
  QToolButton* ButtonMarks = nullptr;
  // The list "Značky", made when first shown.
  QPointer<QDialog> DialogMarks;
  QTreeWidget* ListMarks = nullptr;

  void ShowMarkList();

signals:
  // A mark came or went.
  void MarksChanged();

private:
  // The marks of what is shown, the history they number, and the shown
  // history's offset from it (a playback numbers from its first item).
  TTrafficMarks& Scope(const TTrafficSource*& marked, uint64_t& base);
  void MarkCurrent();
  void RemoveSelected();
  void FillList();
  void Say(const QString& note);

  TAnalysisWindow& FWindow;
  const TTrafficSource& FLive;
  const TPlaybackControl& FPlayback;
  const TCaptureContents* FCapture = nullptr;
  TTrafficMarks FLiveMarks;
  TTrafficMarks FCaptureMarks;
  QString FNote;
};
