// The traffic view "Provoz": every item taken from the bus with its time, in
// a table over the Qt-free traffic ring.  Follow and pause, filters, find,
// export.
#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QList>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

#include "app/ElidingLabel.h"
#include "config/Settings.h"
#include "traffic/TrafficExport.h"
#include "traffic/TrafficFilter.h"
#include "traffic/TrafficRing.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QToolButton;
class TColumnFit;
class QLayout;

// Rows of the traffic table: the items of a traffic history (the live ring,
// or an opened capture) that pass the filter.  Nothing is formatted until a
// row is drawn; a drain adds and removes its rows in one step each.
class TTrafficModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum TColumn { colTime, colDevice, colHex, colComment, colCount };
  static constexpr uint64_t kNoSeq = std::numeric_limits<uint64_t>::max();
  // Longest hex text shown in a cell (the export writes everything).
  static constexpr std::size_t kMaxShownBytes = 512;

  explicit TTrafficModel(const TTrafficSource& source, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  const TTrafficSource& Ring() const { return *FRing; }
  // Shows another history (the live ring again, or an opened capture): the
  // rows are built anew and follow the new history.  rows, when given, are
  // the source's rows under rowsFilter (found while it was read): taken as
  // they are when that is still the filter.
  void SetSource(const TTrafficSource& source, TTrafficIndex* rows = nullptr,
                 const TTrafficFilter* rowsFilter = nullptr);
  const TTrafficIndex& Index() const { return FIndex; }
  uint64_t SeqAt(int row) const { return FIndex.SeqAt(static_cast<std::size_t>(row)); }
  // The row of the item numbered seq, or of the first shown after it.
  int RowAtOrAfter(uint64_t seq) const;

  // A rebuild or a refresh tests items for this long at most; the rest
  // follows from the event loop (RowsScanned then), so that the filter of a
  // long session never holds the window.
  static constexpr int kScanSliceMs = 50;
  // True while rows are still being found.
  bool Scanning() const;

  // Rows whose items have dropped out of the ring since the last Refresh.
  int RowsGone() const;
  // Takes in what the ring gained and lost since the last call; returns the
  // rows removed at the top (their items dropped out of the ring).
  int Refresh();

  const TTrafficFilter& Filter() const { return FFilter; }
  void SetFilter(const TTrafficFilter& filter);
  TTimeMode TimeMode() const { return FTimeMode; }
  void SetTimeMode(TTimeMode mode);
  int MaxLoko() const { return FMaxLoko; }
  void SetMaxLoko(int maxLoko);

  // The rows stop at the item numbered end (only items that drop out of the
  // ring leave), or follow the history (kNoSeq): the view's pause.
  uint64_t RowsEnd() const { return FRowsEnd; }
  void SetRowsEnd(uint64_t end);

  // The text of a cell as drawn (tests, tool tips).
  QString CellText(int row, int column) const;
  // The line was down before this row's item (since the row above): the
  // gap, and its note for the row's tool tip; null and empty otherwise.
  const TTrafficGap* GapAbove(int row) const;
  QString GapText(int row) const;

signals:
  // More rows were found after a rebuild or a refresh had to stop.
  void RowsScanned();

private:
  struct TCachedRow {
    uint64_t Seq = kNoSeq;
    QString Hex;
    QString Comment;
  };
  const TCachedRow& Texts(uint64_t seq) const;
  QString TimeText(int row, uint64_t seq) const;
  void Rebuild();
  // Finds rows up to the end (or the pause) for kScanSliceMs at most, and
  // has the rest done later; true when it got there.
  bool ScanSome(int sliceMs = kScanSliceMs);
  uint64_t ScanTarget() const;
  // Another turn of ScanSome and of showing rows from the event loop.
  void QueueScan();
  // Rows the views may learn of now: a table's header spends time on each
  // row it learns of, so that tens of millions in one step (every item of a
  // long session) would hold the window; they come a million a turn.
  static constexpr std::size_t kExposeStep = std::size_t{1} << 20;
  int ExposableRows() const;
  QTimer FScanTimer;

  const TTrafficSource* FRing;
  TTrafficIndex FIndex;
  int FExposed = 0;  // rows the views know of
  TTrafficFilter FFilter;
  TTrafficMatcher FMatcher{"", 16};
  TTimeMode FTimeMode = TTimeMode::tmAbsolute;
  int FMaxLoko = 16;
  uint64_t FRowsEnd = kNoSeq;
  mutable std::array<TCachedRow, 256> FCache;
};

// The view: tool rows over the table, counts under it.
class TTrafficView : public QWidget {
  Q_OBJECT
public:
  explicit TTrafficView(const TTrafficSource& source, QWidget* parent = nullptr);

  // Shows another history: the live ring, or an opened capture.  The filter,
  // time mode and columns stay; following starts anew at the newest rows.
  // rows and rowsFilter: see TTrafficModel::SetSource.
  void SetSource(const TTrafficSource& source, TTrafficIndex* rows = nullptr,
                 const TTrafficFilter* rowsFilter = nullptr);

  // After items were appended to the ring (once per drain): rows, counts,
  // following.
  void ItemsAdded();

  const TTrafficFilter& Filter() const { return Model->Filter(); }
  void SetFilter(const TTrafficFilter& filter);
  // Shows only the items of one device (1-31).
  void ShowOnlyDevice(int address);
  TTimeMode TimeMode() const { return Model->TimeMode(); }
  void SetTimeMode(TTimeMode mode);
  void SetMaxLoko(int maxLoko) { Model->SetMaxLoko(maxLoko); }

  bool Following() const { return FFollowing; }
  void SetFollowing(bool on);
  // While paused the rows stay as they are (the session on disk keeps them;
  // with the ring alone, items that drop out of it leave); recording goes on.
  bool Paused() const { return FPauseEnd != TTrafficModel::kNoSeq; }
  void SetPaused(bool on);
  // The item of the row found last (or picked in the graph), marked in its
  // colour; kNoSeq when none.
  uint64_t HighlightSeq() const { return FHighlight; }

  // Next or previous match of the find text from the current row.  Over
  // many rows the search goes on from the event loop ("Hledám…"): false
  // then, and FindDone tells the end; false (and a note) when there is no
  // match.  A new find, a change of the rows or typing in the find field
  // stops it.
  bool FindNext(bool forward);
  bool Finding() const { return FFind != nullptr; }
  void CancelFind();
  // Longest a find or a save goes on before the window gets its turn.
  int SliceMs = TTrafficModel::kScanSliceMs;
  // Selects the shown row whose item came nearest to timeUs (a moment picked
  // in the graph) and brings it into view, now or when the view is shown
  // next; following stops.  False when no row is shown.
  bool SelectNearestTime(int64_t timeUs);
  // Selects the row of item seq, or the first shown after it, as
  // SelectNearestTime does; false when there is none.
  bool SelectItem(uint64_t seq);

  // The items from the first selected row's to the last's (toSeq just past
  // it); false when fewer than two rows are selected.
  bool SelectedSpan(uint64_t& fromSeq, uint64_t& toSeq) const;

  // Saves the shown rows, or every item held, with the current time mode.
  // Many rows are saved from the event loop (a progress dialog, "Zrušit"):
  // true then, ExportDone tells the end.  False with the cause in error
  // when it failed at once.
  bool Export(const QString& path, bool allRows, QString& error);
  bool Exporting() const { return FExport != nullptr; }
  void CancelExport();
  // Asks for the file to save to; replaced by tests.  Empty: cancelled.
  std::function<QString(bool allRows)> AskSavePath;
  // The save buttons: asks for a file, saves, reports a failure in a box.
  void SaveClicked(bool allRows);

  // A button of the window's among the view's tool controls.
  void AddToolButton(QToolButton* button);

  // The rows selected, in order; their lines as vantrel-dump writes them
  // (with the view's time mode), or each one's bytes as hex; one a line.
  QList<int> SelectedRows() const;
  QString CopyText(bool hex) const;
  // To the clipboard (Ctrl+C and the rows' context menu).
  void CopySelected(bool hex);

  QList<int> ColumnWidths() const;
  void SetColumnWidths(const QList<int>& widths);

  // The view's part of the [Monitor] settings: time mode, filter, columns.
  // Values it cannot use leave its defaults in place.
  void LoadState(const TMonitorSettings& settings);
  void StoreState(TMonitorSettings& settings) const;

  TTrafficModel* Model = nullptr;
  QTableView* Table = nullptr;
  QToolButton* ButtonPause = nullptr;
  QToolButton* ButtonFollow = nullptr;
  QComboBox* ComboTime = nullptr;
  QToolButton* ButtonSave = nullptr;
  QCheckBox* CheckHideCalls = nullptr;
  QToolButton* ButtonKinds = nullptr;
  QToolButton* ButtonDevices = nullptr;
  QLineEdit* EditFilter = nullptr;
  QLineEdit* EditFind = nullptr;
  QToolButton* ButtonFindPrev = nullptr;
  QToolButton* ButtonFindNext = nullptr;
  TCountLabel* LabelCounts = nullptr;
  TCountLabel* LabelDropped = nullptr;
  QLabel* LabelNote = nullptr;                     // find and save results
  std::array<QAction*, kKindSlots> ActionKinds{};  // by TItemKind; none for ikNone
  QAction* ActionAllDevices = nullptr;
  QAction* ActionCopyLines = nullptr;
  QAction* ActionCopyHex = nullptr;
  std::array<QAction*, 32> ActionDevices{};  // 1-31

  // Widths of the columns but the last, which takes the room left.
  static inline const QList<int> kDefaultColumnWidths = {96, 30, 180};

  // Milliseconds the text filter waits for more typing before it applies.
  static constexpr int kFilterDelayMs = 200;

signals:
  // The filter, time mode or column widths changed (settings).
  void StateChanged();
  // The user (or a find, or a moment picked in the graph) made another row
  // the current one: the number of its item.  Not emitted when rows are
  // built anew and the current row goes.
  void CurrentItemChanged(quint64 seq);
  // A find that went on from the event loop ended.
  void FindDone(bool found);
  // A save that went on from the event loop ended (cancelled: not ok, and
  // error empty).
  void ExportDone(bool ok, const QString& error);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  void BuildLayout();
  void FilterControlsChanged();
  void ShowFilterInControls();
  void UpdateCounts();
  void UpdatePauseCaption();
  void ScrollToNewest();
  void ScrollValueChanged(int value);
  // A row picked for reading (a find, a moment): following stops, so new
  // rows do not push it away; it is highlighted and made current.
  QModelIndex HoldRow(int row);
  // Tests rows for SliceMs at most; true when the find ended with a match.
  bool FindSome();

  // Makes lines for SliceMs at most; true once all are made.
  bool ExportSome();
  // The writer ended (or is about to): waits for it, notes the result.
  // error given: a failure's cause goes there; otherwise into a box, and
  // ExportDone tells the end.
  bool ExportEnded(QString* error = nullptr);
  void ShowSaveFailed(const QString& path, const QString& error);

  std::unique_ptr<TTrafficExportJob> FExport;  // a save under way
  QString FExportPath;
  bool FExportCancelled = false;
  QProgressDialog* FExportProgress = nullptr;
  QTimer FExportTimer;
  std::unique_ptr<TTrafficFind> FFind;  // a find under way
  QString FFindText;
  QTimer FFindTimer;  // the find's next step

  bool FFollowing = true;
  // Paused: the rows end at this item (kNoSeq: not paused).
  uint64_t FPauseEnd = TTrafficModel::kNoSeq;
  uint64_t FHighlight = TTrafficModel::kNoSeq;
  bool FRefreshing = false;    // rows come and go: the current item stays
  bool FScrolling = false;     // a scroll of our own, not the user's
  bool FRevealOnShow = false;  // the current row, once the view is shown
  bool FShowingFilter = false;
  QTimer FFilterDelay;
  TColumnFit* FColumnFit = nullptr;
  QLayout* FToolRow = nullptr;
};
