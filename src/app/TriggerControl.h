// TTriggerControl: acts on what the trigger of the settings finds in the
// live traffic after each drain: pauses the traffic view, starts or stops a
// recording, asks for a mark, beeps, shows a desktop notification.  Who
// does each is the window's business (hooks and a signal), so this object
// only decides when.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "analysis/Trigger.h"

class QSystemTrayIcon;

class TTriggerControl : public QObject {
  Q_OBJECT
public:
  explicit TTriggerControl(QObject* parent = nullptr);
  ~TTriggerControl() override;

  // Takes the trigger of the settings; it looks only at what comes after
  // item fromSeq and event fromEvent.
  void Load(const TAnalysisSettings& settings, int maxLoko, uint64_t fromSeq, uint64_t fromEvent);
  const TTrigger& Trigger() const { return FTrigger; }

  // After a drain: what came since the last look.
  void Check(const TTrafficSource& traffic, const TBusAnalysis& analysis);

  // The window's hooks (none: that action is left out).
  std::function<void()> Pause;
  std::function<bool()> Recording;
  std::function<void()> RecordStart;
  std::function<void()> RecordStop;

  // Hits so far, and the text of the last.
  uint64_t Hits() const { return FHits; }
  const QString& LastText() const { return FLastText; }

  // Marks asked for in one check at most (a pattern that matches every item
  // must not bury the marks).
  static constexpr int kMarksPerCheck = 16;
  // A beep or a notification at most this often.
  static constexpr int64_t kAlertIntervalUs = 2000000;

signals:
  // The trigger's "mark" action: a mark at item seq with a note.
  void MarkRequested(quint64 seq, const QString& text);
  // Something fired it (each check with hits, once): the first hit's text.
  void Fired(const QString& text);

private:
  void Alert(const QString& text);

  TTrigger FTrigger;
  std::vector<TTrigger::THit> FHitsFound;
  uint64_t FHits = 0;
  QString FLastText;
  int64_t FLastAlertUs = 0;
  QSystemTrayIcon* FTray = nullptr;
};
