// "Statistika": the bus analyser in the window.  Above, the statistics of
// the 31 devices and the central (sortable, silent devices marked, saved as
// CSV); below, the events in order, each selecting its traffic row, with
// the next or previous event of a kind.  Shows the live session's analysis,
// or one made over an opened capture or over the span the graph shows.
#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "analysis/BusAnalysis.h"

class QComboBox;
class QLabel;
class QSortFilterProxyModel;
class QTableView;
class QToolButton;

// The 32 rows of the statistics; sorts by the numbers, not their texts.
class TStatsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum TColumn {
    scDevice,
    scMessages,
    scCalls,
    scRateNow,
    scRateAverage,
    scFirst,
    scLast,
    scSince,
    scShare,
    scUnrecognised,
    scState,
    scColumns
  };
  using QAbstractTableModel::QAbstractTableModel;

  void SetRows(std::vector<TDeviceStats::TRow> rows);
  const std::vector<TDeviceStats::TRow>& Rows() const { return FRows; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  static constexpr int SortRole = Qt::UserRole + 1;

private:
  std::vector<TDeviceStats::TRow> FRows;
};

// The events of an analysis, oldest first; grows as the live one finds more.
class TEventsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum TColumn { ecTime, ecKind, ecText, ecColumns };
  using QAbstractTableModel::QAbstractTableModel;

  // Shows analysis (borrowed), or none.
  void SetAnalysis(const TBusAnalysis* analysis);
  // The analysis found more events (or dropped old ones).
  void Update();
  const TBusEvent* EventAt(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
  const TBusAnalysis* FAnalysis = nullptr;
  uint64_t FFirst = 0, FEnd = 0;  // the events shown as rows
};

class TAnalysisView : public QWidget {
  Q_OBJECT
public:
  explicit TAnalysisView(QWidget* parent = nullptr);
  ~TAnalysisView() override;

  // The live session's analysis and history (borrowed; they outlive the view).
  void SetLive(const TBusAnalysis& analysis, const TTrafficSource& traffic);
  // The live session's history moved (its store opened or failed): spans
  // are counted from traffic from now on; what is shown stays.
  void SetLiveHistory(const TTrafficSource& traffic);
  // An opened capture (borrowed until the next SetSource or SetLive): its
  // whole span is analysed on a thread of its own (an hour takes about a
  // second), then shown (Analysed).
  void SetSource(const TTrafficSource& source);
  // New items reached the live analysis: what is shown follows (cheaply:
  // 32 rows and the new events; nothing while hidden).
  void Refresh();
  // Stops a count in progress and waits for it: before the capture it
  // reads may go (also when the window that owns both is destroyed).
  void StopWorker();
  // Analyses [fromUs, toUs) of the history shown ("Úsek grafu"), as SetSource.
  void ShowSpan(int64_t fromUs, int64_t toUs);
  // The whole history again.
  void ShowWhole();

  // The analysis shown (the live one, or one made over a capture or span).
  const TBusAnalysis& Shown() const { return *FShown; }
  // The limits the analyses are made with (settings); set before SetLive.
  void SetLimits(const TEventLimits& limits) { FLimits = limits; }

  // The next or previous event (of the kind chosen) from the current one;
  // false when there is none.
  bool GoToEvent(bool forward);
  // Saves the statistics as shown, in the graph's CSV convention.
  bool ExportCsv(const QString& path, QString& error) const;

  // What the window supplies: the time that is "now" for the live analysis
  // (0: the last item's time), the graph's span, the file to save to.
  std::function<int64_t()> LiveNowUs;
  std::function<std::pair<int64_t, int64_t>()> GraphSpan;
  std::function<QString()> AskCsvPath;
  // Writes what the live session's store holds back, before a thread of the
  // view reads the store from disk.
  std::function<void()> FlushStore;

  // Marks of the events in [fromUs, toUs) for the graph's time axis.
  void EventMarks(int64_t fromUs, int64_t toUs, std::vector<std::pair<int64_t, int>>& marks) const;
  static QColor EventColour(TEventKind kind);

  TStatsModel* Stats = nullptr;
  QSortFilterProxyModel* StatsSorted = nullptr;
  QTableView* TableStats = nullptr;
  TEventsModel* Events = nullptr;
  QTableView* TableEvents = nullptr;
  QComboBox* ComboSpan = nullptr;  // "Vše", "Úsek grafu"
  QToolButton* ButtonCsv = nullptr;
  QToolButton* ButtonTrigger = nullptr;  // "Spouštěč…"
  QLabel* LabelSummary = nullptr;
  QComboBox* ComboKind = nullptr;  // "Všechny druhy", then each kind
  QToolButton* ButtonPrevEvent = nullptr;
  QToolButton* ButtonNextEvent = nullptr;
  QLabel* LabelEvents = nullptr;

signals:
  // An event's row became current: its item and time.
  void EventSelected(quint64 seq, qint64 timeUs);
  // An event was double-clicked (or Enter): show its row in the traffic view.
  void EventActivated(quint64 seq, qint64 timeUs);
  // The events shown changed (the graph's marks).
  void EventsChanged();
  // An analysis of a capture or a span is complete and shown.
  void Analysed();
  // "Spouštěč…" was clicked: the window edits the trigger.
  void TriggerClicked();

protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void BuildLayout();
  void ShowStats();
  void ShowOwn(std::unique_ptr<TBusAnalysis> own);
  // Analyses [from, to) of FSource on the worker.
  void Analyse(uint64_t from, uint64_t to);
  void SpanChosen(int index);
  void SaveCsvClicked();

  TEventLimits FLimits;
  const TBusAnalysis* FLive = nullptr;
  const TTrafficSource* FLiveTraffic = nullptr;
  const TTrafficSource* FSource = nullptr;  // the history shown: live ring or capture
  std::unique_ptr<TBusAnalysis> FOwn;       // of a capture or a span
  const TBusAnalysis* FShown = nullptr;
  bool FIsLive = true;
  uint64_t FShownEvents = 0;  // EndEvent() when the events were last taken
  QElapsedTimer FStatsShown;  // since the live table was last drawn
  std::thread FWorker;
  std::atomic<bool> FCancel{false};
  int FJob = 0;  // the analysis whose result is wanted
  static constexpr int kStatsIntervalMs = 900;
};
