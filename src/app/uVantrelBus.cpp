#include "app/uVantrelBus.h"

#include <QElapsedTimer>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStackedLayout>
#include <QThread>
#include <QToolButton>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>

#include "app/CentralStatus.h"
#include "app/WindowPlacement.h"
#include "bus/uVantrelThr.h"
#include "config/Settings.h"
#include "controls/SortGrPm.h"
#include "controls/UiFont.h"
#include "serial/vVantrelSer.h"

#ifdef VANTREL_HAVE_CONFIG_UI
#include "config/uVantrelCfg.h"
#endif

TFormVantrelBus* FormVantrelBus = nullptr;

namespace {

const char* const ActiveText[2] = {"ne", "ano"};

QString FromStd(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// For "Permission denied" on a device file: which group the user must join.
std::string PermissionHint(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
  struct group gr {};
  struct group* found = nullptr;
  char buf[4096];
  std::string name;
  if (::getgrgid_r(st.st_gid, &gr, buf, sizeof buf, &found) == 0 && found)
    name = found->gr_name;
  else
    name = std::to_string(st.st_gid);
  return " – uživatel musí být členem skupiny " + name;
}

}  // namespace

std::string OpenFailureText(int code, const std::string& text, const std::string& devicePath) {
  return code == EACCES ? text + PermissionHint(devicePath) : text;
}

namespace {

QToolButton* MakeButton(QWidget* parent, const QString& caption, int x, int y) {
  auto* b = new QToolButton(parent);
  b->setText(caption);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  b->setGeometry(x, y, 129, 25);
  return b;
}

QLabel* MakeLabel(QWidget* parent, const char* name, int x, int y, int width) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setGeometry(x, y, width, 16);
  return l;
}

}  // namespace

TFormVantrelBus::TFormVantrelBus(QWidget* parent) : QWidget(parent) {
  // FormCreate: no connection yet, log hidden, empty table, titles, blank labels.
  BusSerial = nullptr;
  ComDaemon = nullptr;
  BuildLayout();
  FDrainTimer.setSingleShot(true);
  FDrainTimer.setInterval(DrainBatchMs);
  connect(&FDrainTimer, &QTimer::timeout, this, &TFormVantrelBus::AppIdle);
  FDevList = std::make_unique<TVantrelBusDevList>();
  const char* titles[5] = {"Čís.", "ID", "Aktv.", "Sekvence", "Komentář"};
  for (int c = 0; c < 5; ++c) GridDeviceList->SetCells(c, 0, QString::fromUtf8(titles[c]));
  for (QLabel* l : {LabelCentral, LabelFirmware, LabelVolAdr, LabelProudA, LabelProudM, LabelProudP,
                    PanelPower, LabelError, LabelCount})
    l->clear();
  RestoreWindowPlacement(this);
}

TFormVantrelBus::~TFormVantrelBus() {
  // No reader thread may outlive the window: stop and join every one.
  InstallQueueWakeup(false);
  if (BusSerial) Disconnect();
  JoinAllDaemons();
  if (FormVantrelBus == this) FormVantrelBus = nullptr;
}

void TFormVantrelBus::BuildLayout() {
  setWindowTitle(QString::fromUtf8("vVantrelBus - sledování zpráv na sběrnici Vantrel BUS"));
  setFont(VantrelFont(true));
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);

  ActionConfig = new QAction(QString::fromUtf8("Konfigurace..."), this);
  ActionConfig->setIconText(ActionConfig->text());  // a tool button would drop the dots
  ActionConnect = new QAction(QString::fromUtf8("Připojit"), this);
  ActionConnect->setCheckable(true);
  const QString hint = QString::fromUtf8("Připojit se k sériovému portu...");
  ActionConnect->setToolTip(hint);
  ActionConnect->setStatusTip(hint);
  connect(ActionConnect, &QAction::triggered, this, &TFormVantrelBus::ActionConnectExecute);
  connect(ActionConfig, &QAction::triggered, this, [this] { ActionConfigExecute(); });

  PanelLeft = new QWidget(this);
  PanelLeft->setObjectName("PanelLeft");
  PanelLeft->setFixedWidth(145);
  PanelLeft->setMinimumHeight(330);

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

  // Error texts can be long (open errors with a hint): wrap them over the
  // free space down to the log button and keep the whole text as tool tip.
  LabelError = new QLabel(PanelLeft);
  LabelError->setObjectName("LabelError");
  LabelError->setGeometry(8, 152, 133, 38);
  LabelError->setWordWrap(true);
  LabelError->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  LabelCount = MakeLabel(PanelLeft, "LabelCount", 8, 168, 129);
  LabelCount->hide();

  SpeedButtonLog = MakeButton(PanelLeft, QString::fromUtf8("Protokol komunikace"), 8, 192);
  SpeedButtonLog->setObjectName("SpeedButtonLog");
  SpeedButtonLog->setCheckable(true);
  connect(SpeedButtonLog, &QToolButton::clicked, this, &TFormVantrelBus::SpeedButtonLogClick);
  SpeedButtonClear = MakeButton(PanelLeft, QString::fromUtf8("Smazat protokol"), 8, 224);
  SpeedButtonClear->setObjectName("SpeedButtonClear");
  connect(SpeedButtonClear, &QToolButton::clicked, this, [this] { SpeedButtonClearClick(); });
  SpeedButtonConnect = MakeButton(PanelLeft, QString(), 8, 264);
  SpeedButtonConnect->setObjectName("SpeedButtonConnect");
  SpeedButtonConnect->setDefaultAction(ActionConnect);
  SpeedButtonConfig = MakeButton(PanelLeft, QString(), 8, 296);
  SpeedButtonConfig->setObjectName("SpeedButtonConfig");
  SpeedButtonConfig->setDefaultAction(ActionConfig);

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
  const int widths[5] = {36, 42, 40, 143, 214};
  for (int c = 0; c < 5; ++c) GridDeviceList->SetColWidths(c, widths[c]);

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

  // The log lies over the grid in the same place; only one is visible.
  auto* right = new QStackedLayout;
  right->setStackingMode(QStackedLayout::StackAll);
  right->addWidget(MemoLog);
  right->addWidget(GridDeviceList);
  MemoLog->hide();

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  row->addWidget(PanelLeft);
  row->addLayout(right, 1);

  // Outer size 655 x 367 at 96 dpi with a usual frame: client 647 x 340.
  resize(647, 340);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect r(QPoint(0, 0), QSize(655, 367));
    r.moveCenter(screen->availableGeometry().center());
    move(r.topLeft());
  }
}

void TFormVantrelBus::SetPortOverride(const std::string& port) { FPortOverride = port; }

void TFormVantrelBus::PressConnect() {
  if (!ActionConnect->isChecked()) ActionConnect->trigger();
}

// ---- connect / disconnect -------------------------------------------------------

void TFormVantrelBus::ActionConnectExecute(bool checked) {
  if (checked) {
    if (Connect()) {
      InstallQueueWakeup(true);
      // Messages left from an earlier connection are taken right away.
      QMetaObject::invokeMethod(this, "AppIdle", Qt::QueuedConnection);
    } else {
      ActionConnect->setChecked(false);
    }
  } else {
    InstallQueueWakeup(false);
    FDrainTimer.stop();
    Disconnect();
  }
}

bool TFormVantrelBus::Connect() {
  if (BusSerial) return false;
  auto* serial = new TVantrelSerial;
  BusSerial = serial;
  try {
    const std::string port = FPortOverride.empty() ? Settings.Port : FPortOverride;
    serial->OpenPort(port);
    // The open error is the reason to show; configuring a port that is not
    // open would only replace it with "bad descriptor".
    int code = serial->LastErrorCode();
    std::string text = serial->LastErrorText();
    if (code != 0) text = OpenFailureText(code, text, serial->DevicePath());
    if (code == 0) {
      serial->ConfigureLine(Settings.Baud, Settings.Bits, ParityLetter(Settings.Parity),
                            Settings.StopBit, Settings.SoftFlow, Settings.HardFlow);
      code = serial->LastErrorCode();
      text = serial->LastErrorText();
    }
    if (code == 0) {
      auto* daemon = new TReadComDaemon(serial, true, Settings.SleepTimeout, Settings.RecvTimeout,
                                        Settings.WaitTimeout);
      ComDaemon = daemon;
      FDaemons.push_back({daemon, serial});
      // The notice comes on the reader thread; the window handles it on its own.
      daemon->SetOnTerminate([this](TReadComDaemon* d) {
        QMetaObject::invokeMethod(
            this, [this, d] { DaemonTerminate(d); }, Qt::QueuedConnection);
      });
      daemon->Start();
      return true;
    }
    LabelError->setText(FromStd(text));
    LabelError->setToolTip(LabelError->text());
    serial->ClosePort();
  } catch (...) {
    // Nothing is shown for an exception while opening; the link goes.
    if (ComDaemon && !FDaemons.empty() && FDaemons.back().Serial == serial) {
      // Start failed after the daemon was created: it never ran.
      delete FDaemons.back().Daemon;
      FDaemons.pop_back();
      ComDaemon = nullptr;
    }
    serial->ClosePort();
  }
  delete serial;
  BusSerial = nullptr;
  return false;
}

bool TFormVantrelBus::Disconnect() {
  if (!BusSerial) return false;
  BusSerial->ClosePort();
  if (ComDaemon) ComDaemon->Terminate();
  BusSerial = nullptr;
  SetPowerPanel(QString::fromUtf8("odpojeno"), palette().color(QPalette::Button));
  return true;
}

void TFormVantrelBus::DaemonTerminate(TReadComDaemon* daemon) {
  auto it = std::find_if(FDaemons.begin(), FDaemons.end(),
                         [daemon](const TDaemonEntry& e) { return e.Daemon == daemon; });
  if (it == FDaemons.end()) return;
  TDaemonEntry entry = *it;
  FDaemons.erase(it);
  entry.Daemon->WaitFor();

  const bool current = BusSerial == entry.Serial;
  if (current) {
    // The thread ended by itself (port vanished or failed) while connected:
    // take what it queued, then go to the disconnected state and say why.
    InstallQueueWakeup(false);
    Drain(false);
    std::string why = entry.Daemon->EndErrorText();
    if (why.empty()) why = entry.Serial->LastErrorText();
    entry.Serial->ClosePort();
    BusSerial = nullptr;
    ActionConnect->setChecked(false);
    SetPowerPanel(QString::fromUtf8("odpojeno"), palette().color(QPalette::Button));
    LabelError->setText(QString::fromUtf8("Spojení přerušeno: ") + FromStd(why));
    LabelError->setToolTip(LabelError->text());
  }
  if (ComDaemon == entry.Daemon) ComDaemon = nullptr;
  delete entry.Daemon;
  delete entry.Serial;
}

void TFormVantrelBus::JoinAllDaemons() {
  for (TDaemonEntry& e : FDaemons) {
    e.Daemon->Terminate();
    e.Serial->ClosePort();
  }
  for (TDaemonEntry& e : FDaemons) {
    e.Daemon->WaitFor();
    if (ComDaemon == e.Daemon) ComDaemon = nullptr;
    if (BusSerial == e.Serial) BusSerial = nullptr;
    delete e.Daemon;
    delete e.Serial;
  }
  FDaemons.clear();
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
  ByteString message;
  FDraining = true;
  while (QueueCount() >= 1) {
    if (bounded && slice.elapsed() >= DrainSliceMs) {
      more = true;
      break;
    }
    QueueTakeFirst(message);
    DispatchBusMessage(message);
  }
  FDraining = false;
  ShowPendingLabels();
  if (FDevList->Changed()) FillDeviceGrid();
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

void TFormVantrelBus::DispatchBusMessage(const ByteString& message) {
  if (message.empty()) return;
  if (message.size() == 1) {
    ProcessSingleByte(message);
    return;
  }
  if (static_cast<uint8_t>(message[0]) == 0x00) {
    ShowCentralStatus(message);
    return;
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
  LabelCount->setText(QString::number(FPendingCount));
}

void TFormVantrelBus::ShowCentralStatus(const ByteString& message) {
  const TCentralStatusView v =
      FormatCentralStatus(message, Settings.MaxLoko, QLocale().decimalPoint().toStdString());
  switch (v.Kind) {
    case TCentralMsgKind::cmkPower:
      SetPowerPanel(FromStd(v.PowerCaption), QColor::fromRgb(v.PowerColor));
      break;
    case TCentralMsgKind::cmkStatus:
      LabelCentral->setText(FromStd(v.Central));
      LabelFirmware->setText(FromStd(v.Firmware));
      LabelProudA->setText(FromStd(v.ProudA));
      LabelProudM->setText(FromStd(v.ProudM));
      if (v.HasLoad) LabelProudP->setText(FromStd(v.ProudP));
      LabelVolAdr->setText(FromStd(v.VolAdr));
      break;
    case TCentralMsgKind::cmkLog:
      MemoLog->appendPlainText(FromStd(v.LogLine));
      break;
  }
}

void TFormVantrelBus::ProcessSingleByte(const ByteString& message) {
  const auto b = static_cast<uint8_t>(message[0]);
  if (IsCallByte(b))
    FDevList->ProcessCallByte(b);
  else if (b != 0x1F)
    AppendLog(message);
}

void TFormVantrelBus::FillDeviceGrid() {
  // The selection stays with its device (column 1) while the rows re-sort.
  const QString selected = GridDeviceList->Cells(1, GridDeviceList->Row());
  int selectedRow = 0;
  int row = 1;
  for (bool active : {true, false}) {
    for (int address = 1; address <= TVantrelBusDevList::DeviceCount; ++address) {
      const TVantrelBusDevice& d = FDevList->DeviceByAddress(address);
      if (d.Active() != active) continue;
      const QString texts[5] = {
          QString::number(row), QStringLiteral("%1").arg(d.Address(), 2, 16, QChar('0')).toUpper(),
          QString::fromLatin1(ActiveText[d.Active() ? 1 : 0]),
          FromStd(MessageToHex(d.LastMessage())), FromStd(MessageComment(d.LastMessage()))};
      // Every row is rewritten, but only cells whose text differs are
      // repainted.
      for (int c = 0; c < 5; ++c)
        if (GridDeviceList->Cells(c, row) != texts[c]) GridDeviceList->SetCells(c, row, texts[c]);
      if (texts[1] == selected) selectedRow = row;
      ++row;
    }
  }
  if (selectedRow > 0) GridDeviceList->SetRowInPlace(selectedRow);
  FDevList->SetChanged(false);
  ++FFillCount;
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

void TFormVantrelBus::SpeedButtonLogClick(bool down) {
  MemoLog->setVisible(down);
  GridDeviceList->setVisible(!down);
}

void TFormVantrelBus::SpeedButtonClearClick() { MemoLog->clear(); }

void TFormVantrelBus::ActionConfigExecute() {
#ifdef VANTREL_HAVE_CONFIG_UI
  if (!FormVantrelCfg) return;
  const std::string before = Settings.Port;
  FormVantrelCfg->exec();
  // A port the user picks in the dialog replaces a --port/--demo port of this run.
  if (Settings.Port != before) FPortOverride.clear();
#endif
}

void TFormVantrelBus::FormCloseQuery() {
  if (ActionConnect->isChecked()) {
    ActionConnect->setChecked(false);
    InstallQueueWakeup(false);
    FDrainTimer.stop();
    Disconnect();
    QThread::msleep(500);
  }
}

void TFormVantrelBus::closeEvent(QCloseEvent* event) {
  StoreWindowPlacement(this);
  FormCloseQuery();
  event->accept();
}
