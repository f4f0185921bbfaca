// TTrafficStatusBar: the window's status bar over a traffic history.
#pragma once

#include <QElapsedTimer>
#include <QStatusBar>
#include <QTimer>

#include <cstdint>

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

  QLabel* LabelPort = nullptr;
  TCountLabel* LabelTime = nullptr;
  QLabel* LabelRates = nullptr;
  QLabel* LabelTotal = nullptr;
  QLabel* LabelQuality = nullptr;
  QLabel* LabelDropped = nullptr;

private:
  void Tick();

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
