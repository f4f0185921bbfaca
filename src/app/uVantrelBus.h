// uVantrelBus: the main window.  Opens and closes the link, starts and stops
// the reader thread, drains the message queue on the window thread and routes
// every bus message to the status panel, the device table, grid and log.
// Everything here runs on the window thread; the reader thread reaches it only
// through the queue's wake-up and its end notice, both posted to the event loop.
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "app/AnalysisWindow.h"
#include "app/ShownWindow.h"
#include "bus/uVantrelSeq.h"
#include "bus/vVantrelTyp.h"
#include "session/BusSession.h"

class QAction;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QToolButton;
class QLayout;
class QSplitter;
class QStackedLayout;
class TSortGridPemra;
class TBusConnection;
class TReadComDaemon;
class TTrafficStatusBar;
class TTrafficView;
class TGraphView;
class TCaptureControl;
class TSessionControl;
class TRecordControl;
class TColumnFit;
class TAnalysisView;
class TTriggerControl;
class TPlaybackControl;
class TMarkControl;
struct TBusItem;

class TFormVantrelBus : public QWidget, private TShownWindow, private TAnalysisWindow {
  Q_OBJECT

public:
  explicit TFormVantrelBus(QWidget* parent = nullptr);
  ~TFormVantrelBus() override;

  // This run only: a port that replaces the Port setting at connect (the
  // --port and --demo options).  Never written to the settings file.  An
  // empty name returns to the setting.
  void SetPortOverride(const std::string& port) { FPortOverride = port; }
  const std::string& PortOverride() const { return FPortOverride; }

  // Presses "Připojit" as the user would (the --connect and --demo options).
  void PressConnect();

  // What the status bar calls the port of this run ("demo"); empty: the
  // port's name.
  void SetPortCaption(const QString& caption) { FPortCaption = caption; }

  // The error label: what a start of the run failed on (the --demo central)
  // is said where the connection's errors are.  The other controls are the
  // window's own; tests find them by their object names.
  QLabel* LabelError = nullptr;

  const TVantrelBusDevList& DevList() const { return *FDevList; }
  // The live bus: every drained item, its history, states and series.
  const TBusSession& Session() const override { return *FSession; }
  const TTrafficRing& Traffic() const { return FSession->Traffic(); }
  // The bus over time, fed by every drain; the graph draws it.
  const TSeriesStore& Series() const { return FSession->Series(); }
  // Recording and opening captures, and the past states of the grid and the
  // status panel ("Záznam", "Otevřít záznam", the banner over the right side).
  TCaptureControl* Captures() const { return FCaptures.get(); }
  // The session on disk: its store, "Uložit relaci…", the previous session.
  TSessionControl* Sessions() const { return FSessions.get(); }
  // Playing an opened capture (the bar under the banner), and the marks on
  // traffic rows with the moves between them ("Značky").
  TPlaybackControl* Playback() const { return FPlayback.get(); }
  TMarkControl* Marks() const { return FMarks.get(); }

  // The [Monitor] settings of the traffic view, the ring size, the grid's
  // column widths and which view is shown: taken from MonitorSettings (the
  // window does so when it is made), and stored there and in the file when
  // it closes.
  void ApplyMonitorSettings();
  void StoreMonitorSettings();
  // Reader threads not yet joined: the connection's, while connected (tests:
  // none may be left after a disconnect or while waiting for the port).
  int PendingDaemonCount() const;
  // The port was lost and the window waits for it to come back (the connect
  // button stays down).
  bool WaitingForPort() const;
  // Bytes received since the connect button was pressed.
  uint64_t ReceivedBytes() const;
  // "Statistika": the analyser's tab, and the trigger of the settings.
  TAnalysisView* Analysis() const { return AnalysisView; }
  TTriggerControl* Triggers() const { return FTriggers; }
  // Number of grid redraws so far (tests: at most one per drain).
  int FillCount() const { return FFillCount; }

  // Longest time a message may wait in the queue before the window takes it:
  // drains (and so redraws) are batched to at most one per this interval.
  // A redraw of the grid costs about the same whatever the traffic, so this
  // sets most of the window thread's share of the processor (measured
  // beside the traffic view and the graph: about 1.5 % of a core at 80 ms,
  // 0.6-1.0 % at 200 ms); five updates a second still follow the bus as the
  // eye does.
  static constexpr int DrainBatchMs = 200;

  // The pause between closing the port and the window's end.
  static constexpr int kClosePauseMs = 500;

  // The smallest window every view is laid out for (client area).
  static constexpr int kMinimumWidth = 473;
  static constexpr int kMinimumHeight = 442;

  // While connected one drain takes at most this long; a longer backlog (a
  // flood, or the window kept off the processor) is taken in slices with the
  // event loop running in between, so the window repaints and answers.
  static constexpr int DrainSliceMs = 20;
  // A drain takes at least this many items before it looks at the clock, so
  // one that starts late (a loaded machine) still moves the backlog on.
  static constexpr int DrainSliceMinItems = 32;

signals:
  // The port vanished at atUs (wall clock, microseconds since the epoch);
  // the window waits for it to come back.
  void PortLost(qint64 atUs);
  // Reading resumed: nothing was received from fromUs to toUs.  A traffic
  // view or a running capture marks the gap here.
  void PortGap(qint64 fromUs, qint64 toUs);

public slots:
  // Drains the message queue: every waiting message is dispatched, then the
  // grid is redrawn once if the device table changed.  Runs when the reader
  // signals that the queue became non-empty, and once after each connect.
  void AppIdle();

private:
  // bounded: stop after DrainSliceMs and go on from the event loop.
  void Drain(bool bounded);

protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void ActionConnectExecute(bool checked);
  void ActionConfigExecute();
  void SpeedButtonLogClick(bool down);
  void SpeedButtonClearClick();
  void SpeedButtonTrafficClick(bool down);
  void SpeedButtonGraphClick(bool down);
  // A moment clicked in the graph: the traffic view's nearest row.
  void GraphMomentClicked(qint64 timeUs);
  void GridDeviceListDblClick();
  // Closing while connected: the port is closed; true when it was open.
  bool FormCloseQuery();

  bool Connect();
  // Closes the port, then stops and joins the reader; false when not connected.
  bool Disconnect();
  // The reader's end notice, posted to the window thread.
  void DaemonTerminate(TReadComDaemon* daemon);
  // The connection's hooks fired (reader ended, the lost port may be back).
  void ServiceConnection();
  // The states of the connect/lost path as the panel, labels and title show them.
  void ShowConnected();
  void ShowWaiting();
  void ShowLineDown();
  void ShowError(const QString& text);
  void ShowActivity();
  void UpdateTitle();
  // The port as the status bar names it: the run's caption ("demo"), or its name.
  QString PortCaption() const;
  void DispatchBusMessage(const TBusItem& item, const ByteString& message);
  void ShowCentralStatus(const ByteString& message);
  void SetStatusLabels(const TCentralStatusView& view);
  void ProcessSingleByte(const TBusItem& item, const ByteString& message);
  void FillDeviceGrid();
  // The grid's device rows from a state: active devices first, each group in
  // address order; the selection stays with its device.
  void DrawDeviceRows(const TBusState& state);

  // TShownWindow
  QWidget* Host() override { return this; }
  bool Connected() const override;
  std::string RunPort() const override;
  TTrafficFilter TrafficFilter() const override;
  int TrafficMaxLoko() const override;
  void ShowHistory(TCaptureContents* capture, const QString& name) override;
  void ShowBusState(const TBusState& state) override;
  void HoldPresent() override;
  void RestorePresent() override;
  void ClearTrafficSelection() override;
  void ShowTrafficNote(const QString& text) override;
  void AddStatusLabel(QLabel* label) override;

  // TAnalysisWindow
  const TTrafficSource& ShownTraffic() const override;
  uint64_t CurrentItem() const override;
  bool SelectItem(uint64_t seq) override;
  bool RecordMark(int64_t timeUs, const std::string& text) override;
  void ShowPlayback(const TBusSession* session) override;
  void PlaybackMoved(const TBusSession& session) override;

  void SetPowerPanel(const QString& caption, const QColor& colour);
  void AppendLog(const ByteString& message);
  void InstallQueueWakeup(bool on);
  void ScheduleDrain();

  // The layout, one region each.
  void BuildLayout();
  void BuildActions();
  void BuildLeftPanel();
  void BuildStatusPanel();
  void BuildErrorLabel();
  void BuildSideButtons();
  QWidget* BuildDeviceView();
  void BuildGrid();
  void BuildLog();
  void BuildTrafficAndGraph();
  void PlaceWindow();

  // The right-hand side shows the grid, the log, the traffic view or the graph.
  enum TRightSide { rsGrid, rsLog, rsTraffic, rsGraph, rsStats };
  void ShowRightSide(TRightSide side);

  // Controls, named as in the layout (and so are their object names).
  QWidget* PanelLeft = nullptr;
  QFrame* PanelSystem = nullptr;
  QLabel* LabelCentral = nullptr;
  QLabel* LabelFirmware = nullptr;
  QLabel* LabelVolAdr = nullptr;
  QLabel* LabelProudA = nullptr;
  QLabel* LabelProudM = nullptr;
  QLabel* LabelProudP = nullptr;
  QLabel* PanelPower = nullptr;
  QWidget* ShapeActivity = nullptr;  // in PanelPower: lit while bytes arrive; tool tip: the count
  QLabel* LabelCount = nullptr;
  QToolButton* SpeedButtonLog = nullptr;
  QToolButton* SpeedButtonClear = nullptr;
  QToolButton* SpeedButtonConnect = nullptr;
  QToolButton* SpeedButtonConfig = nullptr;
  TSortGridPemra* GridDeviceList = nullptr;
  TColumnFit* FGridFit = nullptr;
  QString FPressedDevice;  // the grid's device under the last press (its ID)
  QPlainTextEdit* MemoLog = nullptr;
  // The traffic view, shown instead of the grid by its toggle button, and
  // the status bar with the traffic's figures.
  QToolButton* SpeedButtonTraffic = nullptr;
  TTrafficView* TrafficView = nullptr;
  TTrafficStatusBar* StatusBar = nullptr;
  // The graph "Graf", beside the traffic view's button and in the same place.
  QToolButton* SpeedButtonGraph = nullptr;
  TGraphView* GraphView = nullptr;
  // "Statistika" below the capture buttons, in the same place as the graph.
  QToolButton* SpeedButtonStats = nullptr;
  TAnalysisView* AnalysisView = nullptr;
  QAction* ActionConfig = nullptr;
  QAction* ActionConnect = nullptr;
  // The grid over the traffic view or the graph, both shown ("S mřížkou").
  QAction* ActionSplit = nullptr;
  QSplitter* SplitterViews = nullptr;
  QWidget* PanelGridSide = nullptr;  // the grid's place while shown together
  QStackedLayout* FViews = nullptr;
  bool FSplit = false;

  // The device table the dispatch keeps; the grid is drawn from the
  // session's present state, which the same items made.
  std::unique_ptr<TVantrelBusDevList> FDevList;
  std::unique_ptr<TBusSession> FSession;
  std::string FPortOverride;
  QString FPortCaption;
  // Before FConnection: the reader's chunk hook records through it, so it
  // must outlive the reader.
  std::unique_ptr<TRecordControl> FRecording;
  std::unique_ptr<TCaptureControl> FCaptures;
  TTriggerControl* FTriggers = nullptr;
  // The analyser's part of the window (uVantrelBusAnalysis.cpp): its button,
  // tab and trigger; after a drain, what it shows and what the trigger finds.
  void BuildAnalysis(QWidget* panelLeft);
  void ConnectAnalysis();  // once the traffic view and the graph are there
  void AnalysisAfterDrain();
  void AnalysisShowHistory(const TTrafficSource* capture);
  // "Spouštěč…": the trigger edited, then acting and saved.
  void EditTrigger();
  std::unique_ptr<TSessionControl> FSessions;
  std::unique_ptr<TPlaybackControl> FPlayback;
  std::unique_ptr<TMarkControl> FMarks;
  int FFillCount = 0;
  QTimer FDrainTimer;
  // During a drain the labels show only the last device message's text, so
  // it is set once at the end instead of once per message (a word-wrapped
  // label lays itself out again on every change).
  bool FDraining = false;
  bool FLabelsPending = false;
  QString FPendingError;
  int FPendingCount = 0;
  void ShowPendingLabels();
  // LabelError holds a connection error (cleared by the next connect), not
  // the hex text of a device message.
  bool FErrorShown = false;
  uint64_t FShownBytes = 0;
  QTimer FActivityOff;
  // The line reads (not closed, nor waiting for a lost port): a recording's
  // gap begins where this ends.
  bool FLineUp = false;
  // The present's grid and labels while a past moment is shown.
  struct TPresentTexts;
  std::unique_ptr<TPresentTexts> FHeldPresent;

  // The link and its reader while connected; BusSerial and ComDaemon are
  // views of it.
  std::unique_ptr<TBusConnection> FConnection;
};

extern TFormVantrelBus* FormVantrelBus;  // view: the window main() made (it owns it)
