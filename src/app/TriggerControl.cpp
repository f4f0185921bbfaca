// The trigger's actions in the window.
#include "app/TriggerControl.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QStyle>
#include <QSystemTrayIcon>

TTriggerControl::TTriggerControl(QObject* parent) : QObject(parent) {}

TTriggerControl::~TTriggerControl() = default;

void TTriggerControl::Load(const TAnalysisSettings& settings, int maxLoko, uint64_t fromSeq,
                           uint64_t fromEvent) {
  FTrigger = TTrigger(settings, maxLoko);
  FTrigger.StartAt(fromSeq, fromEvent);
}

void TTriggerControl::Check(const TTrafficSource& traffic, const TBusAnalysis& analysis) {
  if (!FTrigger.Armed()) return;
  FHitsFound.clear();
  FTrigger.Scan(traffic, analysis, FHitsFound, QLocale().decimalPoint().toStdString());
  if (FHitsFound.empty()) return;
  FHits += FHitsFound.size();
  const TTrigger::THit& first = FHitsFound.front();
  FLastText = QString::fromStdString(first.Text);
  const uint32_t actions = FTrigger.Actions();
  if ((actions & taPause) && Pause) Pause();
  const bool recording = Recording && Recording();
  if ((actions & taRecordStart) && !recording && RecordStart) {
    RecordStart();
  } else if ((actions & taRecordStop) && recording && RecordStop) {
    RecordStop();
  }
  if (actions & taMark) {
    int marks = 0;
    for (const TTrigger::THit& hit : FHitsFound) {
      if (++marks > kMarksPerCheck) break;
      emit MarkRequested(hit.Seq, QString::fromStdString(hit.Text));
    }
  }
  Alert(FLastText);
  emit Fired(FLastText);
}

void TTriggerControl::Alert(const QString& text) {
  if (!FTrigger.Beep() && !FTrigger.Notify()) return;
  const int64_t now = QDateTime::currentMSecsSinceEpoch() * 1000;
  if (FLastAlertUs != 0 && now - FLastAlertUs < kAlertIntervalUs) return;
  FLastAlertUs = now;
  if (FTrigger.Beep()) QApplication::beep();
  // Only where the desktop has a notification area (not offscreen, not a
  // bare X server): elsewhere the status of the events list says it.
  if (FTrigger.Notify() && QSystemTrayIcon::isSystemTrayAvailable() &&
      QSystemTrayIcon::supportsMessages()) {
    if (!FTray) {
      FTray = new QSystemTrayIcon(this);
      FTray->setIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation));
    }
    FTray->show();
    FTray->showMessage(QStringLiteral("vVantrelBus"), text, QSystemTrayIcon::Information, 5000);
  }
}
