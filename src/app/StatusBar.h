// TTrafficStatusBar: the window's status bar over a traffic history.
#pragma once

#include <QElapsedTimer>
#include <QStatusBar>
#include <QTimer>

#include <cstdint>
#include <vector>

#include "app/ElidingLabel.h"
#include "traffic/TrafficSource.h"

class QLabel;

// The window's status bar: port, time connected, rates, totals, the line's
// quality and what the ring dropped.  Updated once a second and on demand.
class TTrafficStatusBar : public QStatusBar {
  Q_OBJECT
public:
  TTrafficStatusBar(const TTrafficSource& source, QWidget* parent = nullptr);

  // The totals of another history (an opened capture, or the ring again).
  void SetSource(const TTrafficSource& source);

  // port: the port name, or "demo"; empty while disconnected.
  void Connected(const QString& port);
  void Disconnected();
  // The port was lost and is waited for: no time or rates run meanwhile.
  void Waiting(const QString& port);
  // Totals now; the rates are taken once a second.
  void UpdateFigures();

  // A label of someone else's (the recording's) shown among the figures;
  // rank: where it stands among them in giving way (0 goes last).
  void AddField(QLabel* field, int rank);
  // Shows the fields that fit whole, by rank; the rest are said in the bar's
  // tool tip.  Runs by itself on every change of a shown field; a hidden
  // field's owner calls it after changing its text.
  void FitFields();
  // The fields the width leaves out now (tests).
  QList<QLabel*> FieldsLeftOut() const;

  QLabel* LabelPort = nullptr;
  TCountLabel* LabelTime = nullptr;
  QLabel* LabelRates = nullptr;
  QLabel* LabelTotal = nullptr;
  QLabel* LabelQuality = nullptr;
  QLabel* LabelDropped = nullptr;

protected:
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void Tick();

  struct TField {
    QLabel* Label;
    int Rank;
  };
  std::vector<TField> FFields;  // by rank
  bool FFitting = false;

  const TTrafficSource* FRing;
  QTimer FTick;
  double FItemsPerSecond = 0;
  double FBytesPerSecond = 0;
  QElapsedTimer FSince;  // connected for
  QElapsedTimer FRateClock;
  uint64_t FRateItems = 0;
  uint64_t FRateBytes = 0;
  bool FConnected = false;
};
