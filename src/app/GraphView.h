// The graph view "Graf": the central's currents and load, the power state,
// the bus load and the line's quality over time, drawn from a series store
// with one shared time axis.
//
// Drawn by a painter of its own rather than a chart library: it adds no
// dependency, draws only the visible seconds, reduced to one bucket per
// pixel column (lowest, highest, last), and repaints only when a new second
// is complete, so that following a busy line costs about one repaint a
// second.
//
// It follows the newest data (the last 10 minutes) until the user zooms or
// pans (mouse wheel, dragging, keys); "Živě" returns to following.  A click
// picks a moment: it is marked, its values are shown below the graph and
// MomentClicked gives its time; a double click gives it as MomentActivated.
#pragma once

#include <QColor>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

#include "series/SeriesView.h"

class QHBoxLayout;
class QLabel;
class QToolButton;
class TGraphCanvas;
struct TCsvFormat;

// The graph's and the statistics' CSV as the user's regional settings want it.
TCsvFormat RegionalCsvFormat();

class TGraphView : public QWidget {
  Q_OBJECT

public:
  static constexpr int64_t kDefaultSpanUs = 10 * 60 * kUsPerSecond;
  static constexpr int64_t kMinSpanUs = 10 * kUsPerSecond;
  static constexpr int64_t kMaxSpanUs = 8 * 24 * 3600 * kUsPerSecond;

  // The store is borrowed and must outlive the view.
  explicit TGraphView(const TSeriesStore& store, QWidget* parent = nullptr);
  ~TGraphView() override;

  // New items went into the store: repaints when shown and a new second is
  // complete (or the view is not following and shows the newest second).
  void DataChanged();
  // The whole store changed (cleared, or filled from a capture): shows all of
  // it when not following.
  void Reset();
  // Draws another store (an opened capture's, or the live one again); it
  // must outlive the view or be replaced first.  showAll: the whole of it,
  // not following; otherwise following its newest data.  The picked moment
  // is forgotten.
  void SetStore(const TSeriesStore& store, bool showAll);

  // Device 1-31 whose message rate the lane "Zařízení" shows; 0 none.
  void SetDevice(int address);
  int Device() const { return FDevice; }
  bool DeviceShown() const;

  bool Following() const { return FFollowing; }
  void SetFollowing(bool on);
  // The time shown, [start, end); setting it leaves following.
  int64_t ViewStartUs() const;
  int64_t ViewEndUs() const;
  void SetView(int64_t startUs, int64_t endUs);
  // Zooms by factor (< 1 in, > 1 out) around the moment at, or around the
  // newest data while following.
  void Zoom(double factor, int64_t atUs);
  void Pan(int64_t byUs);

  // The picked moment, 0 none.  Selecting does not emit MomentClicked.
  int64_t SelectedUs() const { return FSelectedUs; }
  void SetSelected(int64_t us);
  // As a click at pixel x of the canvas does: picks the moment and emits.
  void ClickAt(double x);

  // The canvas' time axis as last laid out (pixels of the canvas).
  TTimeAxis Axis() const;
  QWidget* Canvas() const;

  // The graph as shown, to a PNG file; its series over the time shown, to a
  // CSV file.  False with the cause in error.
  bool ExportPng(const QString& path, QString& error) const;
  bool ExportCsv(const QString& path, QString& error) const;

  // Marks on the time axis (the analyser's events): asked for the moments
  // in [fromUs, toUs) at every repaint, so that none is copied in advance.
  struct TAxisMark {
    int64_t TimeUs;
    QColor Colour;
  };
  std::function<void(int64_t fromUs, int64_t toUs, std::vector<TAxisMark>& marks)> AxisMarks;
  // The marks changed: repaints while shown.
  void MarksChanged();

  QToolButton* ButtonLive = nullptr;
  QToolButton* ButtonDevice = nullptr;
  QToolButton* ButtonPng = nullptr;
  QToolButton* ButtonCsv = nullptr;
  QLabel* LabelSpan = nullptr;

  // A button of the window's among the graph's tool buttons.
  void AddToolButton(QToolButton* button);
  QLabel* LabelInfo = nullptr;

signals:
  void MomentClicked(qint64 timeUs);
  // A double click: the moment, to be shown in the traffic view.
  void MomentActivated(qint64 timeUs);

private:
  friend class TGraphCanvas;
  // The end of the complete data, or now when there is none.
  int64_t DataEndUs() const;
  void ViewChanged();
  void ShowInfo();
  void SaveAs(bool png);

  const TSeriesStore* FStore;
  TGraphCanvas* FCanvas = nullptr;
  bool FFollowing = true;
  int64_t FSpanUs = kDefaultSpanUs;
  int64_t FStartUs = 0;  // when not following
  int64_t FSelectedUs = 0;
  int FDevice = 0;
  int64_t FDrawnEnd = -1;  // EndSecond() at the last repaint
  QHBoxLayout* FBar = nullptr;
};
