// uVantrelBus: the main window; see the header.
#include "app/uVantrelBus.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedLayout>
#include <QTableView>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "app/AnalysisView.h"
#include "app/CaptureControl.h"
#include "app/CaptureLoad.h"
#include "app/CellTips.h"
#include "app/ColumnFit.h"
#include "app/ElidingLabel.h"
#include "app/GraphView.h"
#include "app/MarkControl.h"
#include "app/PlaybackControl.h"
#include "app/RecordControl.h"
#include "app/SessionControl.h"
#include "app/StatusBar.h"
#include "app/TrafficView.h"
#include "app/WindowPlacement.h"
#include "bus/BusConnection.h"
#include "bus/BusItem.h"
#include "bus/uVantrelThr.h"
#include "config/Settings.h"
#include "config/uVantrelCfg.h"
#include "controls/Convert.h"
#include "controls/SortGrPm.h"
#include "controls/UiFont.h"
#include "serial/vVantrelSer.h"

TFormVantrelBus* FormVantrelBus = nullptr;

namespace {

// The grid's column widths as the window is made.
constexpr int kGridColWidths[5] = {36, 42, 40, 143, 214};

QToolButton* MakeButton(QWidget* parent, const char* name, const char* caption, int x, int y) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(QString::fromUtf8(caption));
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  b->setGeometry(x, y, 129, 25);
  return b;
}

const char* const kTitle = "vVantrelBus - sledování zpráv na sběrnici Vantrel BUS";
constexpr int kActivityMs = 200;  // the light stays on this long after bytes came

// A small round light: lit while bytes arrive, a ring otherwise.
class TActivityLight : public QWidget {
public:
  using QWidget::QWidget;
  void SetOn(bool on) {
    if (on == FOn) return;
    FOn = on;
    update();
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // Amber on a dark rim: seen on the power panel's green, red and face alike.
    p.setPen(QColor(64, 64, 64));
    p.setBrush(FOn ? QBrush(QColor(255, 200, 0)) : QBrush(Qt::NoBrush));
    p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
  }

private:
  bool FOn = false;
};

QLabel* MakeLabel(QWidget* parent, const char* name, int x, int y, int width) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setGeometry(x, y, width, 16);
  return l;
}

}  // namespace

TFormVantrelBus::TFormVantrelBus(QWidget* parent)
    : QWidget(parent), FSession(std::make_unique<TBusSession>()) {
  // FormCreate: no connection yet, log hidden, empty table, titles, blank labels.
  BusSerial = nullptr;
  ComDaemon = nullptr;
  FRecording = std::make_unique<TRecordControl>();
  FCaptures = std::make_unique<TCaptureControl>(static_cast<TShownWindow&>(*this), *FRecording);
  FSessions = std::make_unique<TSessionControl>(static_cast<TShownWindow&>(*this), *FSession);
  FSessions->SelectedSpan = [this](uint64_t& from, uint64_t& to) {
    return TrafficView->SelectedSpan(from, to);
  };
  FPlayback = std::make_unique<TPlaybackControl>(static_cast<TAnalysisWindow&>(*this));
  FMarks = std::make_unique<TMarkControl>(static_cast<TAnalysisWindow&>(*this), FSession->Traffic(),
                                          *FPlayback);
  FSessions->Marks = [this] { return FMarks->LiveMarks().Items(); };
  BuildLayout();
  FDrainTimer.setSingleShot(true);
  FDrainTimer.setInterval(DrainBatchMs);
  connect(&FDrainTimer, &QTimer::timeout, this, &TFormVantrelBus::AppIdle);
  FActivityOff.setSingleShot(true);
  FActivityOff.setInterval(kActivityMs);
  connect(&FActivityOff, &QTimer::timeout, this,
          [this] { static_cast<TActivityLight*>(ShapeActivity)->SetOn(false); });
  FDevList = std::make_unique<TVantrelBusDevList>();
  const char* titles[5] = {"Čís.", "ID", "Aktv.", "Sekvence", "Komentář"};
  for (int c = 0; c < 5; ++c) GridDeviceList->SetCells(c, 0, QString::fromUtf8(titles[c]));
  for (QLabel* l : {LabelCentral, LabelFirmware, LabelVolAdr, LabelProudA, LabelProudM, LabelProudP,
                    PanelPower, LabelError, LabelCount})
    l->clear();
  RestoreWindowPlacement(this);
  LoadMonitorSettings();
  ApplyMonitorSettings();
  FCaptures->Start();
  ConnectAnalysis();
  connect(ActionConnect, &QAction::toggled, FCaptures.get(), &TCaptureControl::ConnectionToggled);
  // A playback numbers its rows from the item it began at.
  connect(TrafficView, &TTrafficView::CurrentItemChanged, FCaptures.get(), [this](quint64 seq) {
    FCaptures->ShowItemState(FPlayback->Active() ? seq + FPlayback->Base() : seq);
  });
  // The graph marks the moment of the row picked in the traffic view.
  connect(TrafficView, &TTrafficView::CurrentItemChanged, GraphView, [this](quint64 seq) {
    const TTrafficSource& ring = TrafficView->Model->Ring();
    if (ring.Holds(seq)) GraphView->SetSelected(ring.TimeUs(seq));
  });
}

TFormVantrelBus::~TFormVantrelBus() {
  // The statistics' count reads the opened capture, which goes before the
  // child widgets do.
  AnalysisView->StopWorker();
  // No reader thread may outlive the window.
  InstallQueueWakeup(false);
  Disconnect();
  if (FormVantrelBus == this) FormVantrelBus = nullptr;
}

void TFormVantrelBus::BuildLayout() {
  setWindowTitle(QString::fromUtf8(kTitle));
  setFont(VantrelFont(true));
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  BuildActions();
  BuildLeftPanel();
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  row->addWidget(PanelLeft);
  // Over the right-hand side: the banner that says when it shows the past.
  auto* right = new QVBoxLayout;
  right->setContentsMargins(0, 0, 0, 0);
  right->setSpacing(0);
  right->addWidget(FCaptures->BuildBanner(this));
  right->addWidget(FPlayback->BuildPanel(this));
  right->addWidget(BuildDeviceView(), 1);
  // Beside "Záznam", which leaves it half the row.
  FMarks->Install(TrafficView->Table, PanelLeft, QRect(75, 360, 62, 25));
  row->addLayout(right, 1);
  StatusBar = new TTrafficStatusBar(FSession->Traffic(), this);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addLayout(row, 1);
  column->addWidget(StatusBar);
  PlaceWindow();
}

void TFormVantrelBus::PlaceWindow() {
  // Every view is laid out to work down to this size; smaller would cut.
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  // Outer size 655 x 367 at 96 dpi with a usual frame: client 647 x 340
  // (grown to the left panel's height).
  resize(647, 340);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect r(QPoint(0, 0), QSize(655, 367));
    r.moveCenter(screen->availableGeometry().center());
    move(r.topLeft());
  }
}

void TFormVantrelBus::BuildActions() {
  ActionConfig = new QAction(QString::fromUtf8("Konfigurace..."), this);
  ActionConfig->setObjectName("ActionConfig");
  ActionConfig->setIconText(ActionConfig->text());  // a tool button would drop the dots
  ActionConnect = new QAction(QString::fromUtf8("Připojit"), this);
  ActionConnect->setObjectName("ActionConnect");
  ActionConnect->setCheckable(true);
  const QString hint = QString::fromUtf8("Připojit se k sériovému portu...");
  ActionConnect->setToolTip(hint);
  ActionConnect->setStatusTip(hint);
  connect(ActionConnect, &QAction::triggered, this, &TFormVantrelBus::ActionConnectExecute);
  connect(ActionConfig, &QAction::triggered, this, [this] { ActionConfigExecute(); });
}

void TFormVantrelBus::BuildLeftPanel() {
  PanelLeft = new QWidget(this);
  PanelLeft->setObjectName("PanelLeft");
  PanelLeft->setFixedWidth(145);
  PanelLeft->setMinimumHeight(360);  // down to the traffic button
  BuildStatusPanel();
  BuildErrorLabel();
  BuildSideButtons();
  FCaptures->BuildButtons(PanelLeft);  // "Záznam" and "Otevřít záznam" below them
  BuildAnalysis(PanelLeft);            // "Statistika" beside "Provoz" and "Graf"
}

void TFormVantrelBus::BuildStatusPanel() {
  PanelSystem = new QFrame(PanelLeft);
  PanelSystem->setObjectName("PanelSystem");
  PanelSystem->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PanelSystem->setGeometry(4, 2, 137, 111);
  LabelCentral = MakeLabel(PanelSystem, "LabelCentral", 8, 3, 125);
  LabelFirmware = MakeLabel(PanelSystem, "LabelFirmware", 8, 21, 125);
  LabelVolAdr = MakeLabel(PanelSystem, "LabelVolAdr", 8, 39, 125);
  LabelProudA = MakeLabel(PanelSystem, "LabelProudA", 8, 59, 125);
  LabelProudM = MakeLabel(PanelSystem, "LabelProudM", 8, 77, 125);
  LabelProudP = MakeLabel(PanelSystem, "LabelProudP", 8, 95, 125);

  PanelPower = new QLabel(PanelLeft);
  PanelPower->setObjectName("PanelPower");
  PanelPower->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PanelPower->setAlignment(Qt::AlignCenter);
  // Its own colour role: left unset it would inherit the window's button face.
  PanelPower->setBackgroundRole(QPalette::Window);
  PanelPower->setAutoFillBackground(true);
  PanelPower->setGeometry(4, 120, 137, 25);
  ShapeActivity = new TActivityLight(PanelPower);
  ShapeActivity->setObjectName("ShapeActivity");
  ShapeActivity->setGeometry(124, 8, 8, 8);  // right of the centred caption
}

void TFormVantrelBus::BuildErrorLabel() {
  // Error texts can be long (open errors with a hint): wrapped over the free
  // space down to the log button; a cut text ends in a link to the whole.
  auto* error = new TElidingLabel(PanelLeft);
  error->SetDetailsLink(true);
  LabelError = error;
  LabelError->setObjectName("LabelError");
  LabelError->setGeometry(8, 152, 133, 40);  // three lines, down to the log button
  LabelError->setWordWrap(true);
  LabelError->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  LabelCount = MakeLabel(PanelLeft, "LabelCount", 8, 168, 129);
  LabelCount->hide();
}

void TFormVantrelBus::BuildSideButtons() {
  SpeedButtonLog = MakeButton(PanelLeft, "SpeedButtonLog", "Protokol komunikace", 8, 192);
  SpeedButtonLog->setCheckable(true);
  connect(SpeedButtonLog, &QToolButton::clicked, this, &TFormVantrelBus::SpeedButtonLogClick);
  SpeedButtonClear = MakeButton(PanelLeft, "SpeedButtonClear", "Smazat protokol", 8, 224);
  connect(SpeedButtonClear, &QToolButton::clicked, this, [this] { SpeedButtonClearClick(); });
  SpeedButtonConnect = MakeButton(PanelLeft, "SpeedButtonConnect", "", 8, 264);
  SpeedButtonConnect->setDefaultAction(ActionConnect);
  SpeedButtonConfig = MakeButton(PanelLeft, "SpeedButtonConfig", "", 8, 296);
  SpeedButtonConfig->setDefaultAction(ActionConfig);
  // The traffic view's and the graph's toggles side by side.
  SpeedButtonTraffic = MakeButton(PanelLeft, "SpeedButtonTraffic", "Provoz", 8, 328);
  SpeedButtonTraffic->resize(63, 25);
  SpeedButtonTraffic->setCheckable(true);
  SpeedButtonTraffic->setToolTip(QString::fromUtf8("Všechny položky z linky s časem přijetí"));
  connect(SpeedButtonTraffic, &QToolButton::clicked, this,
          &TFormVantrelBus::SpeedButtonTrafficClick);
  SpeedButtonGraph = MakeButton(PanelLeft, "SpeedButtonGraph", "Graf", 74, 328);
  SpeedButtonGraph->resize(63, 25);
  SpeedButtonGraph->setCheckable(true);
  SpeedButtonGraph->setToolTip(QString::fromUtf8("Proudy, napájení a provoz v čase"));
  connect(SpeedButtonGraph, &QToolButton::clicked, this, &TFormVantrelBus::SpeedButtonGraphClick);
}

void TFormVantrelBus::BuildGrid() {
  GridDeviceList = new TSortGridPemra(this);
  GridDeviceList->setObjectName("GridDeviceList");
  GridDeviceList->SetOptions(goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine |
                             goRowSelect);
  GridDeviceList->SetColCount(5);
  GridDeviceList->SetRowCount(32);
  GridDeviceList->SetFixedCols(0);
  GridDeviceList->SetDefaultRowHeight(18);
  GridDeviceList->SetShowIndicator(false);
  GridDeviceList->SetShowTitle(true);
  GridDeviceList->SetActiveTitleIndex(0);
  GridDeviceList->SetClickTitleEnabled(false);
  GridDeviceList->SetEnterIsTab(false);
  for (int c = 0; c < 5; ++c) GridDeviceList->SetColWidths(c, kGridColWidths[c]);
  // Columns the user can widen; room the window gains goes to the comment.
  GridDeviceList->SetOptions(GridDeviceList->Options() | goColSizing);
  GridDeviceList->horizontalHeader()->setStretchLastSection(true);
  new TClippedCellTips(GridDeviceList);
  // In a narrow window the sequence gives way before the comment does.
  FGridFit = new TColumnFit(GridDeviceList, 3, 60, 120);
  GridDeviceList->OnDblClick = [this](TSortGridPemra*) { GridDeviceListDblClick(); };
  // The rows move as devices come and go: a double click acts on the device
  // that was under the pointer when the click began.
  GridDeviceList->viewport()->installEventFilter(this);
}

void TFormVantrelBus::BuildLog() {
  MemoLog = new QPlainTextEdit(this);
  MemoLog->setObjectName("MemoLog");
  QFont mono;
  mono.setFamilies({"Courier New", "DejaVu Sans Mono", "Monospace"});
  mono.setStyleHint(QFont::TypeWriter);
  mono.setPixelSize(11);
  mono.setBold(true);
  MemoLog->setFont(mono);
  MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
}

void TFormVantrelBus::BuildTrafficAndGraph() {
  TrafficView = new TTrafficView(FSession->Traffic(), this);
  FSessions->AddSaveAction(TrafficView->ButtonSave->menu());
  connect(FSessions.get(), &TSessionControl::HistoryChanged, this, [this] {
    AnalysisView->SetLiveHistory(FSession->History());
    if (FCaptures->CaptureOpen()) return;  // shown again when it closes
    TrafficView->SetSource(FSession->History());
    StatusBar->SetSource(FSession->History());
  });
  GraphView = new TGraphView(FSession->Series(), this);
  connect(GraphView, &TGraphView::MomentClicked, this, &TFormVantrelBus::GraphMomentClicked);
  connect(GraphView, &TGraphView::MomentActivated, this, [this](qint64 timeUs) {
    GraphMomentClicked(timeUs);
    ShowRightSide(rsTraffic);
  });
}

QWidget* TFormVantrelBus::BuildDeviceView() {
  BuildGrid();
  BuildLog();
  BuildTrafficAndGraph();
  // The log lies over the grid in the same place, and so do the traffic
  // view and the graph; only one is visible.  Shown together, the grid moves
  // over them into a splitter's upper part.
  SplitterViews = new QSplitter(Qt::Vertical, this);
  SplitterViews->setObjectName("SplitterViews");
  SplitterViews->setChildrenCollapsible(false);
  PanelGridSide = new QWidget(SplitterViews);
  PanelGridSide->setObjectName("PanelGridSide");
  auto* gridSide = new QVBoxLayout(PanelGridSide);
  gridSide->setContentsMargins(0, 0, 0, 0);
  auto* views = new QWidget(SplitterViews);
  FViews = new QStackedLayout(views);
  FViews->setStackingMode(QStackedLayout::StackAll);
  FViews->addWidget(MemoLog);
  FViews->addWidget(TrafficView);
  FViews->addWidget(GraphView);
  FViews->addWidget(AnalysisView);
  FViews->addWidget(GridDeviceList);
  SplitterViews->addWidget(PanelGridSide);
  SplitterViews->addWidget(views);
  SplitterViews->setStretchFactor(0, 2);
  SplitterViews->setStretchFactor(1, 3);
  PanelGridSide->hide();
  MemoLog->hide();
  TrafficView->hide();
  GraphView->hide();
  AnalysisView->hide();

  ActionSplit = new QAction(QString::fromUtf8("S mřížkou"), this);
  ActionSplit->setObjectName("ActionSplit");
  ActionSplit->setCheckable(true);
  ActionSplit->setToolTip(QString::fromUtf8("Zobrazit mřížku zařízení nad provozem a grafem"));
  connect(ActionSplit, &QAction::toggled, this, [this](bool on) {
    FSplit = on;
    ShowRightSide(TrafficView->isVisibleTo(this) ? rsTraffic
                  : GraphView->isVisibleTo(this) ? rsGraph
                  : MemoLog->isVisibleTo(this)   ? rsLog
                                                 : rsGrid);
  });
  for (int i = 0; i < 2; ++i) {
    auto* button = new QToolButton;
    button->setObjectName(i == 0 ? "ButtonSplitTraffic" : "ButtonSplitGraph");
    button->setDefaultAction(ActionSplit);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setFocusPolicy(Qt::NoFocus);
    if (i == 0)
      TrafficView->AddToolButton(button);
    else
      GraphView->AddToolButton(button);
  }
  return SplitterViews;
}

void TFormVantrelBus::PressConnect() {
  if (!ActionConnect->isChecked()) ActionConnect->trigger();
}

// ---- connect / disconnect -------------------------------------------------------

void TFormVantrelBus::ActionConnectExecute(bool checked) {
  if (!checked) {
    InstallQueueWakeup(false);
    FDrainTimer.stop();
    // A line that was reading goes down now; not a failed attempt, nor a
    // port already waited for (its gap began at the loss).
    FRecording->LineDown(WallClockUs(), FLineUp);
    Disconnect();
    return;
  }
  // A recording's gap since the line went down ends here, if it reads.
  FRecording->LineUp(WallClockUs());
  if (Connect()) {
    InstallQueueWakeup(true);
    // Messages left from an earlier connection are taken right away.
    QMetaObject::invokeMethod(this, "AppIdle", Qt::QueuedConnection);
  } else {
    FRecording->LineDown(WallClockUs(), false);
    ActionConnect->setChecked(false);
  }
}

bool TFormVantrelBus::Connect() {
  if (FConnection) return false;
  auto connection = std::make_unique<TBusConnection>();
  // The hooks come on other threads; the window handles them on its own.
  connection->SetOnTerminate([this](TReadComDaemon* d) {
    QMetaObject::invokeMethod(
        this, [this, d] { DaemonTerminate(d); }, Qt::QueuedConnection);
  });
  connection->SetOnWake([this] {
    QMetaObject::invokeMethod(this, &TFormVantrelBus::ServiceConnection, Qt::QueuedConnection);
  });
  // A reconnect's gap: a recording marks it before the next read it writes.
  connection->SetOnGap([this](int64_t fromUs, int64_t toUs) {
    FRecording->LineUp(toUs);
    emit PortGap(fromUs, toUs);
  });
  connection->SetReconnect(Settings.Reconnect);
  connection->SetOnChunk(FRecording->ChunkHook());
  try {
    const std::string port = RunPort();
    if (!connection->Open(
            port, {Settings.Baud, Settings.Bits, ParityLetter(Settings.Parity), Settings.StopBit,
                   Settings.SoftFlow, Settings.HardFlow, Settings.SleepTimeout,
                   Settings.RecvTimeout, Settings.WaitTimeout})) {
      ShowError(FromStd(PortErrorTextCzech(connection->Error())));
      return false;
    }
  } catch (...) {
    return false;  // nothing is shown for an exception while opening; the link goes
  }
  FConnection = std::move(connection);
  FShownBytes = 0;
  // The first connection opens the session on disk; the live views read it.
  const bool storeOpened = FSessions->OpenStore(MonitorSettings);
  if (storeOpened) AnalysisView->SetLiveHistory(FSession->History());
  if (storeOpened && !FCaptures->CaptureOpen()) {
    TrafficView->SetSource(FSession->History());
    StatusBar->SetSource(FSession->History());
  }
  FSession->BeginSession(WallClockUs());
  ShowConnected();
  return true;
}

bool TFormVantrelBus::Disconnect() {
  if (!FConnection) return false;
  // Pressed while waiting: the loss stays said, the wait does not.
  const bool waited = FConnection->Waiting();
  const TPortError lost = FConnection->Error();
  FConnection.reset();  // ends a wait, closes the port, then stops and joins the reader
  ShowLineDown();
  if (waited) ShowError(FromStd(PortErrorTextCzech(lost)));
  UpdateTitle();
  return true;
}

int TFormVantrelBus::PendingDaemonCount() const {
  return FConnection && FConnection->Reader() ? 1 : 0;
}

bool TFormVantrelBus::WaitingForPort() const { return FConnection && FConnection->Waiting(); }

uint64_t TFormVantrelBus::ReceivedBytes() const {
  return FConnection ? FConnection->ReceivedBytes() : FShownBytes;
}

void TFormVantrelBus::DaemonTerminate(TReadComDaemon* daemon) {
  // Only the current reader, and only once it has ended: a notice of one
  // stopped by Disconnect comes after its object is gone.
  if (!FConnection || FConnection->Reader() != daemon || !daemon->Finished()) return;
  ServiceConnection();
}

void TFormVantrelBus::ServiceConnection() {
  if (!FConnection) return;
  // A reader that ended by itself (port vanished or failed): what it queued
  // is taken first, so that a status message among it cannot show the power
  // as on after the line is shown down.
  if (TReadComDaemon* reader = FConnection->Reader(); reader && reader->Finished()) Drain(false);
  switch (FConnection->Service()) {
    case TBusConnection::evNone:
      return;
    case TBusConnection::evLost:
      // The graph stops at the loss instead of carrying the last values on.
      FSession->Series().MarkLoss(FConnection->LostAtUs());
      FRecording->LineDown(FConnection->LostAtUs(), true);
      GraphView->DataChanged();
      ShowWaiting();
      emit PortLost(FConnection->LostAtUs());
      return;
    case TBusConnection::evBack:
      // Everything read before the loss is in the ring already (drained
      // above); the next item is the first after the gap.
      FSession->MarkGap(FConnection->LostAtUs(), FConnection->BackAtUs());
      FSession->Analysis().Gap(FSession->Traffic().End(), FConnection->LostAtUs(),
                               FConnection->BackAtUs());
      ShowConnected();
      QMetaObject::invokeMethod(this, "AppIdle", Qt::QueuedConnection);
      return;
    case TBusConnection::evEnded: {
      const QString why = FromStd(PortErrorTextCzech(FConnection->Error()));
      ActionConnect->setChecked(false);
      ActionConnectExecute(false);
      ShowError(why);
      return;
    }
  }
}

// Reading: a neutral power state until the central reports its own, the
// status values current again, no error left from before (the hex text of
// the last device message stays).
void TFormVantrelBus::ShowConnected() {
  BusSerial = FConnection->Serial();
  ComDaemon = FConnection->Reader();
  FLineUp = true;
  SetPowerPanel(QString::fromUtf8("připojeno"), palette().color(QPalette::Button));
  PanelSystem->setEnabled(true);
  StatusBar->Connected(PortCaption());
  if (FErrorShown) {
    LabelError->clear();
    LabelError->setToolTip(QString());
    FErrorShown = false;
  }
  UpdateTitle();
}

// The line is down: "odpojeno", and the status values are only what was last
// known (greyed).
void TFormVantrelBus::ShowLineDown() {
  BusSerial = nullptr;
  ComDaemon = nullptr;
  FLineUp = false;
  SetPowerPanel(QString::fromUtf8("odpojeno"), palette().color(QPalette::Button));
  PanelSystem->setEnabled(false);
  StatusBar->Disconnected();
  FActivityOff.stop();
  static_cast<TActivityLight*>(ShapeActivity)->SetOn(false);
}

void TFormVantrelBus::ShowWaiting() {
  ShowLineDown();
  StatusBar->Waiting(PortCaption());
  ShowError(FromStd(WaitingTextCzech(FConnection->Port()) + "\n" +
                    PortErrorTextCzech(FConnection->Error())));
  UpdateTitle();
}

void TFormVantrelBus::ShowError(const QString& text) {
  LabelError->setText(text);
  LabelError->setToolTip(text);
  FErrorShown = true;
}

// Called after every drain: the light goes on when bytes came since the
// last one and off kActivityMs after the last of them.
void TFormVantrelBus::ShowActivity() {
  if (!FConnection) return;
  const uint64_t received = FConnection->ReceivedBytes();
  if (received == FShownBytes) return;
  FShownBytes = received;
  static_cast<TActivityLight*>(ShapeActivity)->SetOn(true);
  ShapeActivity->setToolTip(QString::fromUtf8("Přijato bajtů: %1").arg(received));
  FActivityOff.start();
}

QString TFormVantrelBus::PortCaption() const {
  if (!FPortCaption.isEmpty()) return FPortCaption;
  return FromStd(QuotedPortName(FConnection ? FConnection->Port() : Settings.Port));
}

// The port in use (or waited for) after the program's caption.
void TFormVantrelBus::UpdateTitle() {
  QString title = QString::fromUtf8(kTitle);
  if (FConnection) {
    // The run's caption ("demo") as the status bar says it, else the port.
    title += QStringLiteral(" - ") +
             (FPortCaption.isEmpty() ? FromStd(QuotedPortName(FConnection->Port())) : FPortCaption);
    if (FConnection->Waiting()) title += QString::fromUtf8(" (čekám na port)");
  }
  setWindowTitle(title);
}

void TFormVantrelBus::InstallQueueWakeup(bool on) {
  if (on)
    SetQueueWakeup([this] {
      QMetaObject::invokeMethod(this, &TFormVantrelBus::ScheduleDrain, Qt::QueuedConnection);
    });
  else
    SetQueueWakeup({});
}

// The reader signals only the queue's step from empty to non-empty; while the
// drain waits for its batch interval the queue stays non-empty, so a busy
// line costs one wake-up and one redraw per interval, not one per message.
void TFormVantrelBus::ScheduleDrain() {
  if (!FDrainTimer.isActive()) FDrainTimer.start();
}

// ---- draining and dispatch -------------------------------------------------------

void TFormVantrelBus::AppIdle() { Drain(ActionConnect->isChecked()); }

void TFormVantrelBus::Drain(bool bounded) {
  FDrainTimer.stop();
  QElapsedTimer slice;
  slice.start();
  bool more = false;
  TQueuedItem item;
  const uint64_t recorded = FSession->Traffic().End();
  FDraining = true;
  for (int taken = 0; QueueCount() >= 1; ++taken) {
    if (bounded && taken >= DrainSliceMinItems && slice.elapsed() >= DrainSliceMs) {
      more = true;
      break;
    }
    QueueTakeFirst(item);
    // The session keeps the item; its kind serves the display.
    DispatchBusMessage(FSession->Take(item.TimeUs, item.Bytes), item.Bytes);
  }
  FDraining = false;
  ShowPendingLabels();
  ShowActivity();
  if (FDevList->Changed()) FillDeviceGrid();
  // The traffic view takes the drain's items in one step.
  if (FSession->Traffic().End() != recorded) TrafficView->ItemsAdded();
  GraphView->DataChanged();  // repaints only while shown, once a second is complete
  AnalysisAfterDrain();
  // The rest after pending input and paint; not once disconnected, when what
  // is left waits for the next connection.
  if (more)
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (ActionConnect->isChecked()) AppIdle();
        },
        Qt::QueuedConnection);
}

void TFormVantrelBus::DispatchBusMessage(const TBusItem& item, const ByteString& message) {
  switch (item.Kind) {
    case TItemKind::ikNone:
      return;
    case TItemKind::ikCallByte:
    case TItemKind::ikIdle:
    case TItemKind::ikLoneByte:
      ProcessSingleByte(item, message);
      return;
    case TItemKind::ikCentralPower:
    case TItemKind::ikCentralStatus:
    case TItemKind::ikCentralOther:
      ShowCentralStatus(message);
      return;
    case TItemKind::ikDevice:
    case TItemKind::ikUnrecognised:
      break;
  }
  FPendingError = FromStd(MessageToHex(message));
  FPendingCount = QueueCount();
  FLabelsPending = true;
  if (!FDraining) ShowPendingLabels();
  FDevList->ProcessMessage(message);
}

void TFormVantrelBus::ShowPendingLabels() {
  if (!FLabelsPending) return;
  FLabelsPending = false;
  LabelError->setText(FPendingError);
  LabelError->setToolTip(QString());
  FErrorShown = false;
  LabelCount->setText(QString::number(FPendingCount));
}

void TFormVantrelBus::ShowCentralStatus(const ByteString& message) {
  const TCentralStatusView v =
      FormatCentralStatus(message, Settings.MaxLoko, QLocale().decimalPoint().toStdString());
  if (v.Kind == TItemKind::ikCentralPower) {
    SetPowerPanel(FromStd(v.PowerCaption), QColor::fromRgb(v.PowerColor));
  } else if (v.Kind == TItemKind::ikCentralStatus) {
    SetStatusLabels(v);
    if (v.HasLoad) LabelProudP->setText(FromStd(v.ProudP));
  } else {
    MemoLog->appendPlainText(FromStd(v.LogLine));
  }
}

void TFormVantrelBus::SetStatusLabels(const TCentralStatusView& v) {
  LabelCentral->setText(FromStd(v.Central));
  LabelFirmware->setText(FromStd(v.Firmware));
  LabelProudA->setText(FromStd(v.ProudA));
  LabelProudM->setText(FromStd(v.ProudM));
  LabelVolAdr->setText(FromStd(v.VolAdr));
}

void TFormVantrelBus::ProcessSingleByte(const TBusItem& item, const ByteString& message) {
  if (item.Kind == TItemKind::ikCallByte)
    FDevList->ProcessCallByte(static_cast<uint8_t>(message[0]));
  else if (item.Kind == TItemKind::ikLoneByte)
    AppendLog(message);
}

void TFormVantrelBus::FillDeviceGrid() {
  DrawDeviceRows(FSession->Present());
  FDevList->SetChanged(false);
  ++FFillCount;
}

void TFormVantrelBus::DrawDeviceRows(const TBusState& state) {
  const QString selected = GridDeviceList->Cells(1, GridDeviceList->Row());
  int selectedRow = 0;
  int row = 1;
  for (bool active : {true, false}) {
    for (int address = 1; address <= TBusState::kDevices; ++address) {
      if (state.Active[address] != active) continue;
      const QString texts[5] = {QString::number(row), FromStd(DeviceIdText(address)),
                                QString::fromLatin1(ActiveText(active)),
                                FromStd(MessageToHex(state.Last[address])),
                                FromStd(MessageComment(state.Last[address]))};
      // Every row is rewritten, but only cells whose text differs are
      // repainted.
      for (int c = 0; c < 5; ++c)
        if (GridDeviceList->Cells(c, row) != texts[c]) GridDeviceList->SetCells(c, row, texts[c]);
      if (texts[1] == selected) selectedRow = row;
      ++row;
    }
  }
  if (selectedRow > 0) GridDeviceList->SetRowInPlace(selectedRow);
}

// ---- what is shown: the present, a past moment, an opened capture ----------------

// A state as the grid and the status panel show it.  The present is drawn as
// the items come (the dispatch); any other moment through here.
void TFormVantrelBus::ShowBusState(const TBusState& state) {
  DrawDeviceRows(state);
  const std::string point = QLocale().decimalPoint().toStdString();
  TCentralStatusView status;
  if (!state.Status.empty()) status = FormatCentralStatus(state.Status, Settings.MaxLoko, point);
  SetStatusLabels(status);
  LabelProudP->setText(
      state.Load.empty()
          ? QString()
          : FromStd(FormatCentralStatus(state.Load, Settings.MaxLoko, point).ProudP));
  QColor colour = palette().color(QPalette::Window);
  QString caption;
  if (!state.Power.empty()) {
    const TCentralStatusView power = FormatCentralStatus(state.Power, Settings.MaxLoko, point);
    caption = FromStd(power.PowerCaption);
    colour = QColor::fromRgb(power.PowerColor);
  }
  SetPowerPanel(caption, colour);
  LabelError->setText(FromStd(MessageToHex(state.Device)));
  LabelError->setToolTip(QString());
}

// What the present showed, put back unchanged after a look into the past.
struct TFormVantrelBus::TPresentTexts {
  std::array<std::array<QString, 5>, 32> Grid;
  int GridRow = 0;
  std::array<QString, 6> Status;  // LabelCentral to LabelProudP
  QString Power;
  QColor PowerColour;
  QString Error, ErrorTip, Count;
};

void TFormVantrelBus::HoldPresent() {
  auto held = std::make_unique<TPresentTexts>();
  for (int r = 1; r < static_cast<int>(held->Grid.size()); ++r)
    for (int c = 0; c < 5; ++c) held->Grid[r][c] = GridDeviceList->Cells(c, r);
  held->GridRow = GridDeviceList->Row();
  const QLabel* labels[6] = {LabelCentral, LabelFirmware, LabelVolAdr,
                             LabelProudA,  LabelProudM,   LabelProudP};
  for (int i = 0; i < 6; ++i) held->Status[i] = labels[i]->text();
  held->Power = PanelPower->text();
  held->PowerColour = PanelPower->palette().color(QPalette::Window);
  held->Error = LabelError->text();
  held->ErrorTip = LabelError->toolTip();
  held->Count = LabelCount->text();
  FHeldPresent = std::move(held);
}

void TFormVantrelBus::RestorePresent() {
  if (!FHeldPresent) return;
  const TPresentTexts& held = *FHeldPresent;
  for (int r = 1; r < static_cast<int>(held.Grid.size()); ++r)
    for (int c = 0; c < 5; ++c)
      if (GridDeviceList->Cells(c, r) != held.Grid[r][c])
        GridDeviceList->SetCells(c, r, held.Grid[r][c]);
  if (held.GridRow > 0) GridDeviceList->SetRowInPlace(held.GridRow);
  QLabel* labels[6] = {LabelCentral, LabelFirmware, LabelVolAdr,
                       LabelProudA,  LabelProudM,   LabelProudP};
  for (int i = 0; i < 6; ++i) labels[i]->setText(held.Status[i]);
  SetPowerPanel(held.Power, held.PowerColour);
  LabelError->setText(held.Error);
  LabelError->setToolTip(held.ErrorTip);
  LabelCount->setText(held.Count);
  FHeldPresent.reset();
}

void TFormVantrelBus::ShowHistory(TCaptureContents* capture, const QString& name) {
  // A playback of the capture shown before ends with it, and so do its
  // running time and rates.
  if (FPlayback->Active()) StatusBar->Disconnected();
  // Let go at the end, when nothing shows it any more.
  const std::unique_ptr<TBusSession> played = FPlayback->CaptureChanged(capture);
  FMarks->CaptureChanged(capture);
  if (capture) {
    // The rows were found while reading, unless the filter or the names of
    // the locomotives changed since.
    const bool rowsFit = capture->HasRows && capture->RowsMaxLoko == TrafficView->Model->MaxLoko();
    TrafficView->SetSource(capture->Session->History(), rowsFit ? &capture->Rows : nullptr,
                           &capture->RowsFilter);
    StatusBar->SetSource(capture->Session->History());
    StatusBar->LabelPort->setText(QString::fromUtf8("záznam %1").arg(name));
    GraphView->SetStore(capture->Session->Series(), true);
    AnalysisShowHistory(&capture->Session->History());
    return;
  }
  TrafficView->SetSource(FSession->History());
  StatusBar->SetSource(FSession->History());
  StatusBar->Disconnected();
  GraphView->SetStore(FSession->Series(), false);
  AnalysisShowHistory(nullptr);
}

const TTrafficSource& TFormVantrelBus::ShownTraffic() const { return TrafficView->Model->Ring(); }

uint64_t TFormVantrelBus::CurrentItem() const {
  const QModelIndex current = TrafficView->Table->currentIndex();
  return current.isValid() ? TrafficView->Model->SeqAt(current.row()) : kNoItem;
}

bool TFormVantrelBus::SelectItem(uint64_t seq) {
  if (!ShownTraffic().Holds(seq) || !TrafficView->SelectItem(seq)) return false;
  ShowRightSide(rsTraffic);
  return true;
}

bool TFormVantrelBus::RecordMark(int64_t timeUs, const std::string& text) {
  return FRecording->AddMark(timeUs, text);
}

void TFormVantrelBus::ShowPlayback(const TBusSession* session) {
  TCaptureContents* capture = FCaptures->Capture();
  if (!session) {
    if (capture) {
      // Its rows went to the view when it was first shown: found anew.
      TrafficView->SetSource(capture->Session->History());
      StatusBar->SetSource(capture->Session->History());
      StatusBar->Disconnected();
      StatusBar->LabelPort->setText(
          QString::fromUtf8("záznam %1").arg(QFileInfo(FromStd(capture->Path)).fileName()));
      GraphView->SetStore(capture->Session->Series(), true);
    }
    AnalysisShowHistory(capture ? &capture->Session->History() : nullptr);
    FCaptures->ShowPresent();
    return;
  }
  TrafficView->SetSource(session->Traffic());
  StatusBar->SetSource(session->Traffic());
  // Its time and rates run as a connection's do.
  StatusBar->Connected(
      QString::fromUtf8("přehrávání %1")
          .arg(capture ? QFileInfo(FromStd(capture->Path)).fileName() : QString()));
  GraphView->SetStore(session->Series(), false);
  // A playback's session counts as the live one does.
  AnalysisView->SetLive(session->Analysis(), session->History());
}

void TFormVantrelBus::PlaybackMoved(const TBusSession& session) {
  TrafficView->ItemsAdded();
  StatusBar->UpdateFigures();
  GraphView->DataChanged();
  AnalysisView->Refresh();
  ShowBusState(session.Present());
  const TTrafficRing& played = session.Traffic();
  if (played.Count() > 0) FCaptures->ShowPlayedMoment(played.TimeUs(played.End() - 1));
}

bool TFormVantrelBus::Connected() const { return ActionConnect->isChecked(); }

std::string TFormVantrelBus::RunPort() const {
  return FPortOverride.empty() ? Settings.Port : FPortOverride;
}

TTrafficFilter TFormVantrelBus::TrafficFilter() const { return TrafficView->Filter(); }

int TFormVantrelBus::TrafficMaxLoko() const { return TrafficView->Model->MaxLoko(); }

void TFormVantrelBus::ClearTrafficSelection() { TrafficView->Table->selectionModel()->clear(); }

void TFormVantrelBus::ShowTrafficNote(const QString& text) {
  TrafficView->LabelNote->setText(text);
}

void TFormVantrelBus::AddStatusLabel(QLabel* label) {
  // The recording's field gives way only after the port's.
  StatusBar->AddField(label, 1);
  connect(FCaptures.get(), &TCaptureControl::RecordLabelChanged, StatusBar,
          &TTrafficStatusBar::FitFields, Qt::UniqueConnection);
}

void TFormVantrelBus::AppendLog(const ByteString& message) {
  MemoLog->appendPlainText(FromStd(MessageToHex(message)));
}

void TFormVantrelBus::SetPowerPanel(const QString& caption, const QColor& colour) {
  PanelPower->setText(caption);
  QPalette p = PanelPower->palette();
  p.setColor(QPalette::Window, colour);
  PanelPower->setPalette(p);
}

// ---- log, configuration, closing ---------------------------------------------------

void TFormVantrelBus::SpeedButtonLogClick(bool down) { ShowRightSide(down ? rsLog : rsGrid); }

void TFormVantrelBus::SpeedButtonTrafficClick(bool down) {
  ShowRightSide(down ? rsTraffic : rsGrid);
}

void TFormVantrelBus::SpeedButtonGraphClick(bool down) {
  ShowRightSide(down ? rsGraph : rsGrid);
  if (down) GraphView->Canvas()->setFocus();
}

void TFormVantrelBus::GraphMomentClicked(qint64 timeUs) { TrafficView->SelectNearestTime(timeUs); }

void TFormVantrelBus::ShowRightSide(TRightSide side) {
  // The toggle buttons exclude each other: the one of the side shown is down.
  SpeedButtonLog->setChecked(side == rsLog);
  SpeedButtonTraffic->setChecked(side == rsTraffic);
  SpeedButtonGraph->setChecked(side == rsGraph);
  SpeedButtonStats->setChecked(side == rsStats);
  if (side == rsGraph) {
    // The device selected in the grid is the one the graph can show.
    bool ok = false;
    const int address = GridDeviceList->Cells(1, GridDeviceList->Row()).toInt(&ok, 16);
    GraphView->SetDevice(ok ? address : 0);
  }
  const bool together = FSplit && (side == rsTraffic || side == rsGraph);
  if (together && GridDeviceList->parentWidget() != PanelGridSide) {
    FViews->removeWidget(GridDeviceList);
    PanelGridSide->layout()->addWidget(GridDeviceList);
  } else if (!together && GridDeviceList->parentWidget() == PanelGridSide) {
    PanelGridSide->layout()->removeWidget(GridDeviceList);
    FViews->addWidget(GridDeviceList);
  }
  PanelGridSide->setVisible(together);
  MemoLog->setVisible(side == rsLog);
  TrafficView->setVisible(side == rsTraffic);
  GraphView->setVisible(side == rsGraph);
  AnalysisView->setVisible(side == rsStats);
  GridDeviceList->setVisible(side == rsGrid || together);
}

bool TFormVantrelBus::eventFilter(QObject* watched, QEvent* event) {
  if (watched == GridDeviceList->viewport() && event->type() == QEvent::MouseButtonPress) {
    const int row =
        GridDeviceList->rowAt(static_cast<QMouseEvent*>(event)->position().toPoint().y());
    FPressedDevice = row > 0 ? GridDeviceList->Cells(1, row) : QString();
  }
  return QWidget::eventFilter(watched, event);
}

void TFormVantrelBus::GridDeviceListDblClick() {
  bool ok = false;
  const QString device =
      FPressedDevice.isEmpty() ? GridDeviceList->Cells(1, GridDeviceList->Row()) : FPressedDevice;
  const int address = device.toInt(&ok, 16);
  if (!ok || address < 1 || address > TVantrelBusDevList::DeviceCount) return;
  TrafficView->ShowOnlyDevice(address);
  ShowRightSide(rsTraffic);
}

void TFormVantrelBus::ApplyMonitorSettings() {
  const TMonitorSettings& m = MonitorSettings;
  FSession->Traffic().SetCapacity(m.RingSize > 0 ? static_cast<std::size_t>(m.RingSize) : 0);
  TrafficView->ItemsAdded();  // a smaller ring may have dropped items
  TrafficView->LoadState(m);
  TrafficView->SetMaxLoko(Settings.MaxLoko);
  const QList<int> widths = SplitWidths(m.GridColumns);
  // The last column takes the room that is left.
  for (int c = 0; c < widths.size() && c < GridDeviceList->ColCount() - 1; ++c)
    if (widths[c] >= 8 && widths[c] <= 2000) GridDeviceList->SetColWidths(c, widths[c]);
  FSplit = m.Split == "1";
  {
    const QSignalBlocker quiet(ActionSplit);
    ActionSplit->setChecked(FSplit);
  }
  ShowRightSide(m.View == "traffic" ? rsTraffic
                : m.View == "graph" ? rsGraph
                : m.View == "stats" ? rsStats
                : m.View == "log"   ? rsLog
                                    : rsGrid);
}

void TFormVantrelBus::StoreMonitorSettings() {
  TMonitorSettings& m = MonitorSettings;
  m.View = TrafficView->isVisibleTo(this)    ? "traffic"
           : GraphView->isVisibleTo(this)    ? "graph"
           : AnalysisView->isVisibleTo(this) ? "stats"
           : MemoLog->isVisibleTo(this)      ? "log"
                                             : "grid";
  m.Split = FSplit ? "1" : "";
  TrafficView->StoreState(m);
  QList<int> widths, defaults;
  for (int c = 0; c < GridDeviceList->ColCount() - 1; ++c) {
    // The chosen width, not what a narrow window leaves of it for now.
    widths << GridDeviceList->ColWidths(c) + FGridFit->Wanted(c) -
                  GridDeviceList->horizontalHeader()->sectionSize(c);
    defaults << kGridColWidths[c];
  }
  m.GridColumns = widths == defaults ? std::string() : JoinWidths(widths).toStdString();
  try {
    SaveMonitorSettings();
  } catch (const std::exception& e) {
    // The window is closing: there is no one left to tell but the terminal.
    std::fprintf(stderr, "vVantrelBus: traffic view settings not saved: %s\n", e.what());
  }
}

void TFormVantrelBus::SpeedButtonClearClick() { MemoLog->clear(); }

void TFormVantrelBus::ActionConfigExecute() {
  if (!FormVantrelCfg) return;
  const std::string before = Settings.Port;
  FormVantrelCfg->exec();
  // A port the user picks in the dialog replaces a --port/--demo port of this run.
  if (Settings.Port != before) {
    FPortOverride.clear();
    FPortCaption.clear();
  }
  // The check box counts from the next loss on, also while connected.
  if (FConnection) FConnection->SetReconnect(Settings.Reconnect);
  TrafficView->SetMaxLoko(Settings.MaxLoko);
}

bool TFormVantrelBus::FormCloseQuery() {
  if (!ActionConnect->isChecked()) return false;
  ActionConnect->setChecked(false);
  ActionConnectExecute(false);
  return true;
}

void TFormVantrelBus::closeEvent(QCloseEvent* event) {
  // The port closes first; storing the settings then runs inside the pause
  // that follows it, so a slow disk does not lengthen the close.
  const bool wasConnected = FormCloseQuery();
  QElapsedTimer sinceClosed;
  sinceClosed.start();
  StoreWindowPlacement(this);
  StoreMonitorSettings();
  if (wasConnected) {
    const qint64 rest = kClosePauseMs - sinceClosed.elapsed();
    if (rest > 0) QThread::msleep(static_cast<unsigned long>(rest));
  }
  event->accept();
}
