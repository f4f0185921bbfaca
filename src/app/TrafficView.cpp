// The traffic view "Provoz": its model over a traffic history and its table.
#include "app/TrafficView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPaintEvent>
#include <QProgressDialog>
#include <QScrollBar>
#include <QShortcut>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <time.h>
#include <cstdio>
#include <cstdlib>

#include "app/CellTips.h"
#include "app/ColumnFit.h"
#include "app/FlowLayout.h"
#include "app/MonoCellDelegate.h"
#include "base/LocalTime.h"
#include "bus/uVantrelSeq.h"
#include "controls/Convert.h"
#include "controls/MsgBox.h"
#include "series/SeriesView.h"
#include "traffic/TrafficExport.h"
#include "traffic/TrafficText.h"

namespace {

// Local time of day to the millisecond.
QString LocalTimeText(int64_t us) {
  const time_t seconds = static_cast<time_t>(us / 1000000);
  tm local{};
  ToLocalTime(seconds, local);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(us % 1000000 / 1000));
  return QString::fromLatin1(buf);
}

// Seconds with microseconds, as the dump's relative times.
// The comments' measured values ("Ia = 6.4 A", "Ip = 20.00 %") with the
// user's decimal separator, as the status panel and the graph show them; a
// version ("Firmware: 1.3") keeps its point.
QString LocalDecimals(QString text) {
  const QString point = QLocale().decimalPoint();
  if (point == QStringLiteral(".")) return text;
  for (qsizetype i = 1; i + 1 < text.size(); ++i) {
    if (text[i] != QLatin1Char('.') || !text[i - 1].isDigit() || !text[i + 1].isDigit()) continue;
    qsizetype end = i + 1;
    while (end < text.size() && text[end].isDigit()) ++end;
    if (end + 1 < text.size() && text[end] == QLatin1Char(' ') &&
        (text[end + 1] == QLatin1Char('A') || text[end + 1] == QLatin1Char('%')))
      text.replace(i, 1, point);
  }
  return text;
}

QString SecondsText(int64_t us) {
  if (us < 0) us = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld.%06lld", static_cast<long long>(us / 1000000),
                static_cast<long long>(us % 1000000));
  return QString::fromLatin1(buf);
}

const char* const kKindCaptions[kKindSlots] = {"",

                                               "Výzvy zařízením",
                                               "Klidový bajt 1F",
                                               "Osamělé bajty (protokol)",
                                               "Stav napájení centrály",
                                               "Stav centrály",
                                               "Jiné zprávy centrály (protokol)",
                                               "Zprávy zařízení",
                                               "Nerozpoznaná data"};

constexpr uint32_t kCallBits = KindBit(TItemKind::ikCallByte) | KindBit(TItemKind::ikIdle);

const QColor kHighlight(255, 226, 110);
const QColor kAfterGap(214, 214, 214);  // the first row after the line was down
const QColor kLoggedText(176, 0, 0);
const QColor kCentralText(0, 0, 150);

// A scroll bar that is drawn again only when what it shows changes.  While
// the view follows, every drain grows the range of a million rows and moves
// to its end, and the handle ends where it was: redrawing the bar (its
// gradients fill a whole column) each time cost as much as the rows.
class TSteadyScrollBar : public QScrollBar {
public:
  using QScrollBar::QScrollBar;

protected:
  void sliderChange(SliderChange change) override {
    if (change != SliderValueChange && change != SliderRangeChange) {
      QScrollBar::sliderChange(change);
      return;
    }
    // A drain changes the range, then the value: compare once both are done.
    if (FCheckQueued) return;
    FCheckQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          FCheckQueued = false;
          if (Shown() != FPainted) update();
        },
        Qt::QueuedConnection);
  }
  void paintEvent(QPaintEvent* event) override {
    FPainted = Shown();
    QScrollBar::paintEvent(event);
  }

private:
  struct TShown {
    QRect Handle;
    bool AtMinimum = false;
    bool AtMaximum = false;
    bool operator==(const TShown&) const = default;
  };
  TShown Shown() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
  }
  TShown FPainted;
  bool FCheckQueued = false;
};

// The table.  Each scroll bar move makes the base class ask the display
// server where the pointer is (a round trip) to update the hover state; the
// view's own scrolls while following come with every drain and need none.
class TTrafficTable : public QTableView {
public:
  explicit TTrafficTable(QWidget* parent) : QTableView(parent) {
    setVerticalScrollBar(new TSteadyScrollBar(Qt::Vertical, this));
  }
  bool OwnScroll = false;

protected:
  void verticalScrollbarValueChanged(int value) override {
    if (!OwnScroll) QTableView::verticalScrollbarValueChanged(value);
  }
};

// Marks a scroll made by the view itself, not by the user.
class TOwnScroll {
public:
  TOwnScroll(QTableView* table, bool& flag)
      : FTable(static_cast<TTrafficTable*>(table)), FFlag(flag) {
    FFlag = FTable->OwnScroll = true;
  }
  ~TOwnScroll() { FFlag = FTable->OwnScroll = false; }
  TOwnScroll(const TOwnScroll&) = delete;
  TOwnScroll& operator=(const TOwnScroll&) = delete;

private:
  TTrafficTable* FTable;
  bool& FFlag;
};

}  // namespace

// ---- model ------------------------------------------------------------------------

TTrafficModel::TTrafficModel(const TTrafficSource& source, QObject* parent)
    : QAbstractTableModel(parent), FRing(&source) {
  // A timer, not a queued call: queued calls run before the window's input
  // and timers, so that two slices could follow one another unbroken.
  FScanTimer.setSingleShot(true);
  FScanTimer.setInterval(0);
  connect(&FScanTimer, &QTimer::timeout, this, [this] {
    Refresh();
    emit RowsScanned();
  });
  FIndex.Reset(source.First());
  FIndex.Scan(*FRing, FRing->End(), FFilter, FMatcher);
  FExposed = static_cast<int>(FIndex.Rows());
}

void TTrafficModel::SetSource(const TTrafficSource& source, TTrafficIndex* rows,
                              const TTrafficFilter* rowsFilter) {
  FRing = &source;
  FRowsEnd = kNoSeq;
  // Sequence numbers of the two histories mean different items.
  for (TCachedRow& row : FCache) row.Seq = kNoSeq;
  if (!rows || !rowsFilter || *rowsFilter != FFilter) {
    Rebuild();
    return;
  }
  beginResetModel();
  FIndex = std::move(*rows);
  FIndex.Scan(*FRing, FRing->End(), FFilter, FMatcher);  // anything added since
  FExposed = 0;
  FExposed = ExposableRows();
  endResetModel();
  if (static_cast<std::size_t>(FExposed) < FIndex.Rows()) QueueScan();
}

int TTrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FExposed;
}

int TTrafficModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : colCount;
}

QVariant TTrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const titles[colCount] = {"Čas", "ID", "Sekvence", "Komentář"};
  return section >= 0 && section < colCount ? QString::fromUtf8(titles[section]) : QVariant();
}

const TTrafficModel::TCachedRow& TTrafficModel::Texts(uint64_t seq) const {
  TCachedRow& row = FCache[seq % FCache.size()];
  if (row.Seq == seq) return row;
  std::string_view bytes = FRing->Bytes(seq);
  const bool cut = bytes.size() > kMaxShownBytes;
  if (cut) bytes = bytes.substr(0, kMaxShownBytes);
  const std::string line = TrafficItemLine(bytes, FMaxLoko);
  const std::size_t tab = line.find('\t');
  row.Hex = FromStd(std::string_view(line).substr(0, tab));
  if (cut) row.Hex += QString::fromUtf8(" … (%1 B)").arg(CountText(FRing->Bytes(seq).size()));
  row.Comment = LocalDecimals(
      tab == std::string::npos ? QString() : FromStd(std::string_view(line).substr(tab + 1)));
  row.Seq = seq;
  return row;
}

QString TTrafficModel::TimeText(int row, uint64_t seq) const {
  const int64_t t = FRing->TimeUs(seq);
  switch (FTimeMode) {
    case TTimeMode::tmDelta: {
      if (row == 0) return SecondsText(0);
      const uint64_t previous = SeqAt(row - 1);
      return SecondsText(FRing->Holds(previous) ? t - FRing->TimeUs(previous) : 0);
    }
    case TTimeMode::tmZero:
      return SecondsText(t - FRing->SessionStart(seq));
    case TTimeMode::tmAbsolute:
    case TTimeMode::tmNone:
      break;
  }
  return LocalTimeText(t);
}

QString TTrafficModel::CellText(int row, int column) const {
  if (row < 0 || row >= FExposed) return {};
  const uint64_t seq = SeqAt(row);
  if (!FRing->Holds(seq)) return {};
  switch (column) {
    case colTime:
      return TimeText(row, seq);
    case colDevice: {
      const int device = FRing->Device(seq);
      return device ? QStringLiteral("%1").arg(device, 2, 16, QChar('0')).toUpper() : QString();
    }
    case colHex:
      return Texts(seq).Hex;
    case colComment:
      return Texts(seq).Comment;
    default:
      return {};
  }
}

const TTrafficGap* TTrafficModel::GapAbove(int row) const {
  if (row < 0 || row >= FExposed) return nullptr;
  return FRing->GapWithin(row > 0 ? SeqAt(row - 1) + 1 : FRing->First(), SeqAt(row));
}

QString TTrafficModel::GapText(int row) const {
  const TTrafficGap* gap = GapAbove(row);
  if (!gap) return {};
  const double seconds = static_cast<double>(gap->ToUs - gap->FromUs) / 1e6;
  return QString::fromUtf8("Před tímto řádkem byla linka přerušena %1 s (%2 až %3)")
      .arg(QLocale().toString(seconds, 'f', 1), LocalTimeText(gap->FromUs),
           LocalTimeText(gap->ToUs));
}

QVariant TTrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= FExposed) return {};
  switch (role) {
    case Qt::DisplayRole:
      return CellText(index.row(), index.column());
    case Qt::BackgroundRole:
      if (GapAbove(index.row())) return kAfterGap;
      return {};
    case Qt::ToolTipRole: {
      const QString gap = GapText(index.row());
      return gap.isEmpty() ? QVariant() : QVariant(gap);
    }
    case Qt::ForegroundRole: {
      const uint64_t seq = SeqAt(index.row());
      if (!FRing->Holds(seq)) return {};
      switch (FRing->Kind(seq)) {
        case TItemKind::ikLoneByte:
        case TItemKind::ikCentralOther:
        case TItemKind::ikUnrecognised:
          return kLoggedText;
        case TItemKind::ikCentralPower:
        case TItemKind::ikCentralStatus:
          return kCentralText;
        default:
          return {};
      }
    }
    default:
      return {};
  }
}

int TTrafficModel::RowAtOrAfter(uint64_t seq) const {
  return static_cast<int>(std::min<std::size_t>(FIndex.LowerBound(seq), FExposed));
}

int TTrafficModel::RowsGone() const {
  return static_cast<int>(std::min<std::size_t>(FIndex.LowerBound(FRing->First()), FExposed));
}

int TTrafficModel::Refresh() {
  const int gone = RowsGone();
  if (gone > 0) {
    beginRemoveRows(QModelIndex(), 0, gone - 1);
    FIndex.DropBefore(FRing->First());
    FExposed -= gone;
    endRemoveRows();
    // The new first row has no row before it any more.
    if (FTimeMode == TTimeMode::tmDelta && FExposed > 0)
      emit dataChanged(index(0, colTime), index(0, colTime));
  }
  // The rows are found first and announced in one step; views see them
  // only after beginInsertRows (rowCount gives FExposed until then).  While
  // paused the target is the pause: nothing beyond it comes in.
  ScanSome();
  const int rows = ExposableRows();
  if (rows > FExposed) {
    beginInsertRows(QModelIndex(), FExposed, rows - 1);
    FExposed = rows;
    endInsertRows();
  }
  if (static_cast<std::size_t>(FExposed) < FIndex.Rows()) QueueScan();
  return gone;
}

int TTrafficModel::ExposableRows() const {
  return static_cast<int>(
      std::min<std::size_t>(FIndex.Rows(), static_cast<std::size_t>(FExposed) + kExposeStep));
}

void TTrafficModel::QueueScan() {
  if (!FScanTimer.isActive()) FScanTimer.start();
}

uint64_t TTrafficModel::ScanTarget() const {
  return FRowsEnd == kNoSeq ? FRing->End() : std::min(FRowsEnd, FRing->End());
}

bool TTrafficModel::Scanning() const {
  return std::max(FIndex.ScannedTo(), FRing->First()) < ScanTarget() ||
         static_cast<std::size_t>(FExposed) < FIndex.Rows();
}

bool TTrafficModel::ScanSome(int sliceMs) {
  // Steps small enough that the clock is looked at often, large enough that
  // looking costs nothing.
  constexpr uint64_t kStep = 1 << 16;
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    const uint64_t from = std::max(FIndex.ScannedTo(), FRing->First());
    const uint64_t target = ScanTarget();
    if (from >= target) return true;
    FIndex.Scan(*FRing, std::min(target, from + kStep), FFilter, FMatcher);
    if (clock.elapsed() >= sliceMs) break;
  }
  QueueScan();
  return false;
}

void TTrafficModel::Rebuild() {
  beginResetModel();
  FIndex.Reset(FRing->First());
  // Half a slice: the reset of the table (its old rows gone, the new ones
  // laid out) takes its time in the same turn.
  ScanSome(kScanSliceMs / 2);
  FExposed = 0;
  FExposed = ExposableRows();
  endResetModel();
  if (static_cast<std::size_t>(FExposed) < FIndex.Rows()) QueueScan();
}

void TTrafficModel::SetFilter(const TTrafficFilter& filter) {
  if (filter == FFilter) return;
  if (filter.Text != FFilter.Text) FMatcher = TTrafficMatcher(filter.Text, FMaxLoko);
  FFilter = filter;
  Rebuild();
}

void TTrafficModel::SetTimeMode(TTimeMode mode) {
  if (mode == FTimeMode) return;
  FTimeMode = mode;
  if (FExposed > 0) emit dataChanged(index(0, colTime), index(FExposed - 1, colTime));
}

void TTrafficModel::SetMaxLoko(int maxLoko) {
  if (maxLoko == FMaxLoko) return;
  FMaxLoko = maxLoko;
  for (TCachedRow& row : FCache) row.Seq = kNoSeq;
  FMatcher = TTrafficMatcher(FFilter.Text, FMaxLoko);
  if (!FFilter.Text.empty())
    Rebuild();
  else if (FExposed > 0)
    emit dataChanged(index(0, colComment), index(FExposed - 1, colComment));
}

void TTrafficModel::SetRowsEnd(uint64_t end) {
  if (end == FRowsEnd) return;
  FRowsEnd = end;
  if (end == kNoSeq) Refresh();
}

// ---- view -------------------------------------------------------------------------

TTrafficView::TTrafficView(const TTrafficSource& source, QWidget* parent) : QWidget(parent) {
  setObjectName("TrafficView");
  Model = new TTrafficModel(source, this);
  // Rows found later (a long session's filter): shown as they come.
  connect(Model, &TTrafficModel::RowsScanned, this, [this] {
    if (FFollowing && !Paused()) ScrollToNewest();
    UpdateCounts();
  });
  // Rows built anew (a filter, another history): a find under way counted
  // rows that are no more.
  connect(Model, &QAbstractItemModel::modelAboutToBeReset, this, &TTrafficView::CancelFind);
  FFindTimer.setSingleShot(true);
  FFindTimer.setInterval(0);
  connect(&FFindTimer, &QTimer::timeout, this, [this] {
    if (!FFind) return;
    const bool found = FindSome();
    if (!FFind) emit FindDone(found);
  });
  // A save under way: lines while there are rows to make them of, then
  // now and then a look whether the writer is through.
  connect(&FExportTimer, &QTimer::timeout, this, [this] {
    if (!FExport) return;
    if (FExport->Finished()) {
      ExportEnded();
      return;
    }
    // Once every line is made, or while the disk is behind, the window
    // has nothing to do but look now and then.
    FExportTimer.setInterval(ExportSome() || FExport->Behind() ? 10 : 0);
    if (FExportProgress && FExport->Total() > 0)
      FExportProgress->setValue(static_cast<int>(1000.0 * static_cast<double>(FExport->Done()) /
                                                 static_cast<double>(FExport->Total())));
  });
  BuildLayout();
  FFilterDelay.setSingleShot(true);
  FFilterDelay.setInterval(kFilterDelayMs);
  connect(&FFilterDelay, &QTimer::timeout, this, &TTrafficView::FilterControlsChanged);
  AskSavePath = [this](bool allRows) {
    // The lines are those of vantrel-dump, whatever the regional settings.
    const QString folder = FromStd(MonitorSettings.TextFolder);
    const QString path = QFileDialog::getSaveFileName(
        this,
        QString::fromUtf8(allRows ? "Uložit všechny řádky provozu"
                                  : "Uložit zobrazené řádky provozu"),
        QDir(folder.isEmpty() || !QFileInfo(folder).isDir() ? QDir::homePath() : folder)
            .filePath(QStringLiteral("provoz.txt")),
        QString::fromUtf8("Řádky jako ve výpisu vantrel-dump (*.txt);;Všechny soubory (*)"));
    if (!path.isEmpty()) MonitorSettings.TextFolder = QFileInfo(path).absolutePath().toStdString();
    return path;
  };
  ShowFilterInControls();
  UpdateCounts();
}

namespace {

// A menu of check marks that stays open for several picks.
class TStayOpenMenu : public QMenu {
public:
  using QMenu::QMenu;

protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QAction* action = actionAt(event->position().toPoint());
    if (action && action->isCheckable() && action->isEnabled()) {
      action->trigger();
      return;
    }
    QMenu::mouseReleaseEvent(event);
  }
  void keyPressEvent(QKeyEvent* event) override {
    QAction* action = activeAction();
    if (action && action->isCheckable() && action->isEnabled() &&
        (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
         event->key() == Qt::Key_Enter)) {
      action->trigger();
      return;
    }
    QMenu::keyPressEvent(event);
  }
};

QToolButton* ToolButton(QWidget* parent, const char* name, const char* caption) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(QString::fromUtf8(caption));
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  return b;
}

}  // namespace

void TTrafficView::BuildLayout() {
  ButtonPause = ToolButton(this, "ButtonPause", "Pozastavit");
  ButtonPause->setCheckable(true);
  ButtonPause->setToolTip(QString::fromUtf8(
      "Zastaví zobrazení, záznam pokračuje; znovu stisknuté skočí na nejnovější (Pause)"));
  connect(ButtonPause, &QToolButton::clicked, this, [this](bool on) { SetPaused(on); });

  ButtonFollow = ToolButton(this, "ButtonFollow", "Sledovat");
  ButtonFollow->setCheckable(true);
  ButtonFollow->setChecked(true);
  ButtonFollow->setToolTip(QString::fromUtf8("Zobrazovat nejnovější položky (End)"));
  connect(ButtonFollow, &QToolButton::clicked, this, [this](bool on) { SetFollowing(on); });

  ComboTime = new QComboBox(this);
  ComboTime->setObjectName("ComboTime");
  ComboTime->addItem(QString::fromUtf8("Čas: místní"), static_cast<int>(TTimeMode::tmAbsolute));
  ComboTime->addItem(QString::fromUtf8("Čas: od předchozí"), static_cast<int>(TTimeMode::tmDelta));
  ComboTime->addItem(QString::fromUtf8("Čas: od připojení"), static_cast<int>(TTimeMode::tmZero));
  connect(ComboTime, &QComboBox::activated, this,
          [this](int i) { SetTimeMode(static_cast<TTimeMode>(ComboTime->itemData(i).toInt())); });

  ButtonSave = ToolButton(this, "ButtonSave", "Uložit");
  ButtonSave->setPopupMode(QToolButton::InstantPopup);
  auto* saveMenu = new QMenu(ButtonSave);
  connect(saveMenu->addAction(QString::fromUtf8("Uložit zobrazené řádky...")), &QAction::triggered,
          this, [this] { SaveClicked(false); });
  connect(saveMenu->addAction(QString::fromUtf8("Uložit všechny řádky...")), &QAction::triggered,
          this, [this] { SaveClicked(true); });
  ButtonSave->setMenu(saveMenu);

  CheckHideCalls = new QCheckBox(QString::fromUtf8("Skrýt výzvy a 1F"), this);
  CheckHideCalls->setObjectName("CheckHideCalls");
  connect(CheckHideCalls, &QCheckBox::toggled, this, [this](bool on) {
    if (FShowingFilter) return;
    FShowingFilter = true;
    ActionKinds[static_cast<int>(TItemKind::ikCallByte)]->setChecked(!on);
    ActionKinds[static_cast<int>(TItemKind::ikIdle)]->setChecked(!on);
    FShowingFilter = false;
    FilterControlsChanged();
  });

  ButtonKinds = ToolButton(this, "ButtonKinds", "Druhy");
  ButtonKinds->setPopupMode(QToolButton::InstantPopup);
  auto* kindMenu = new QMenu(ButtonKinds);
  for (int k = kFirstKind; k <= kLastKind; ++k) {
    ActionKinds[k] = kindMenu->addAction(QString::fromUtf8(kKindCaptions[k]));
    ActionKinds[k]->setCheckable(true);
    connect(ActionKinds[k], &QAction::toggled, this, [this] {
      if (!FShowingFilter) FilterControlsChanged();
    });
  }
  ButtonKinds->setMenu(kindMenu);

  ButtonDevices = ToolButton(this, "ButtonDevices", "Zařízení: vše");
  ButtonDevices->setPopupMode(QToolButton::InstantPopup);
  auto* deviceMenu = new TStayOpenMenu(ButtonDevices);
  ActionAllDevices = deviceMenu->addAction(QString::fromUtf8("Všechna zařízení"));
  ActionAllDevices->setCheckable(true);
  connect(ActionAllDevices, &QAction::triggered, this, [this] {
    TTrafficFilter f = Filter();
    f.Devices = 0;
    SetFilter(f);
  });
  deviceMenu->addSeparator();
  for (int a = 1; a <= 31; ++a) {
    ActionDevices[a] =
        deviceMenu->addAction(QStringLiteral("%1").arg(a, 2, 16, QChar('0')).toUpper());
    ActionDevices[a]->setCheckable(true);
    connect(ActionDevices[a], &QAction::toggled, this, [this] {
      if (!FShowingFilter) FilterControlsChanged();
    });
  }
  ButtonDevices->setMenu(deviceMenu);

  EditFilter = new QLineEdit(this);
  EditFilter->setObjectName("EditFilter");
  EditFilter->setPlaceholderText(QString::fromUtf8("Filtr: text v sekvenci nebo komentáři"));
  EditFilter->setClearButtonEnabled(true);
  connect(EditFilter, &QLineEdit::textEdited, this, [this] { FFilterDelay.start(); });
  connect(EditFilter, &QLineEdit::returnPressed, this, [this] {
    FFilterDelay.stop();
    FilterControlsChanged();
  });
  // The clear button changes the text without an edit.
  connect(EditFilter, &QLineEdit::textChanged, this, [this](const QString& t) {
    if (t.isEmpty() && !FShowingFilter) FFilterDelay.start();
  });

  EditFind = new QLineEdit(this);
  EditFind->setObjectName("EditFind");
  EditFind->setPlaceholderText(QString::fromUtf8("Hledat (F3 další, Shift+F3 předchozí)"));
  connect(EditFind, &QLineEdit::returnPressed, this, [this] { FindNext(true); });
  connect(EditFind, &QLineEdit::textEdited, this, &TTrafficView::CancelFind);
  ButtonFindPrev = ToolButton(this, "ButtonFindPrev", "Předchozí");
  connect(ButtonFindPrev, &QToolButton::clicked, this, [this] { FindNext(false); });
  ButtonFindNext = ToolButton(this, "ButtonFindNext", "Další");
  connect(ButtonFindNext, &QToolButton::clicked, this, [this] { FindNext(true); });
  auto* f3 = new QShortcut(QKeySequence(Qt::Key_F3), this);
  connect(f3, &QShortcut::activated, this, [this] { FindNext(true); });
  auto* shiftF3 = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
  connect(shiftF3, &QShortcut::activated, this, [this] { FindNext(false); });
  // A button's own shortcut clicks it only after a short animation; the
  // pause must take effect at once.
  auto* pause = new QShortcut(QKeySequence(Qt::Key_Pause), this);
  connect(pause, &QShortcut::activated, this, [this] { SetPaused(!Paused()); });
  auto* ctrlF = new QShortcut(QKeySequence::Find, this);
  connect(ctrlF, &QShortcut::activated, this, [this] {
    EditFind->setFocus();
    EditFind->selectAll();
  });

  Table = new TTrafficTable(this);
  Table->setObjectName("TableTraffic");
  Table->setModel(Model);
  QFont mono;
  mono.setFamilies({"Courier New", "DejaVu Sans Mono", "Monospace"});
  mono.setStyleHint(QFont::TypeWriter);
  mono.setPixelSize(11);
  mono.setBold(true);
  Table->setFont(mono);
  auto* cells = new TMonoCellDelegate(Table);
  cells->Background = [this](const QModelIndex& index) {
    return FHighlight != TTrafficModel::kNoSeq && Model->SeqAt(index.row()) == FHighlight
               ? QVariant(kHighlight)
               : QVariant();
  };
  Table->setItemDelegate(cells);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->setSelectionMode(QAbstractItemView::ExtendedSelection);
  Table->setContextMenuPolicy(Qt::CustomContextMenu);
  ActionCopyLines = new QAction(QString::fromUtf8("Kopírovat řádky"), this);
  ActionCopyLines->setObjectName("ActionCopyLines");
  ActionCopyLines->setShortcut(QKeySequence::Copy);
  ActionCopyLines->setShortcutContext(Qt::WidgetShortcut);
  connect(ActionCopyLines, &QAction::triggered, this, [this] { CopySelected(false); });
  Table->addAction(ActionCopyLines);
  ActionCopyHex = new QAction(QString::fromUtf8("Kopírovat bajty (hex)"), this);
  ActionCopyHex->setObjectName("ActionCopyHex");
  connect(ActionCopyHex, &QAction::triggered, this, [this] { CopySelected(true); });
  connect(Table, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu menu(this);
    menu.setObjectName("MenuTrafficRows");
    menu.addAction(ActionCopyLines);
    menu.addAction(ActionCopyHex);
    const bool any = Table->selectionModel()->hasSelection();
    ActionCopyLines->setEnabled(any);
    ActionCopyHex->setEnabled(any);
    menu.exec(Table->viewport()->mapToGlobal(at));
    ActionCopyLines->setEnabled(true);
    ActionCopyHex->setEnabled(true);
  });
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setWordWrap(false);
  Table->setCornerButtonEnabled(false);
  Table->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  Table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // One height for every row: the view never measures a row.
  QHeaderView* rows = Table->verticalHeader();
  rows->hide();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(18);
  rows->setMinimumSectionSize(18);
  QHeaderView* columns = Table->horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Interactive);
  columns->setStretchLastSection(true);
  columns->setHighlightSections(false);
  columns->setMinimumSectionSize(24);
  SetColumnWidths(kDefaultColumnWidths);
  // In a narrow window the hex bytes give way before the comment does.
  FColumnFit = new TColumnFit(Table, TTrafficModel::colHex, 60, 120);
  connect(columns, &QHeaderView::sectionResized, this, [this] { emit StateChanged(); });
  Table->installEventFilter(this);
  new TClippedCellTips(Table);
  connect(Table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            // Older rows leaving the ring move the row, not the item.
            if (current.isValid() && !FRefreshing)
              emit CurrentItemChanged(Model->SeqAt(current.row()));
          });
  QScrollBar* bar = Table->verticalScrollBar();
  connect(bar, &QScrollBar::valueChanged, this, &TTrafficView::ScrollValueChanged);
  connect(bar, &QScrollBar::rangeChanged, this, [this] {
    if (FFollowing) ScrollToNewest();
  });

  LabelCounts = new TCountLabel(this);
  LabelCounts->setObjectName("LabelCounts");
  LabelCounts->setToolTip(QString::fromUtf8("Zobrazené řádky z položek v záznamu"));
  LabelDropped = new TCountLabel(this);
  LabelDropped->setObjectName("LabelDropped");
  LabelNote = new QLabel(this);
  LabelNote->setObjectName("LabelNote");

  // The tool controls wrap onto more rows in a narrow window; the text
  // boxes keep rows of their own, as wide as the view.
  auto* top = new TFlowLayout(nullptr, 3);
  FToolRow = top;
  top->addWidget(ButtonPause);
  top->addWidget(ButtonFollow);
  top->addWidget(ComboTime);
  top->addWidget(ButtonSave);
  top->addWidget(CheckHideCalls);
  top->addWidget(ButtonKinds);
  top->addWidget(ButtonDevices);
  auto* filters = new QHBoxLayout;
  filters->setSpacing(3);
  filters->addWidget(EditFilter, 1);
  auto* find = new QHBoxLayout;
  find->setSpacing(3);
  find->addWidget(EditFind, 1);
  find->addWidget(ButtonFindPrev);
  find->addWidget(ButtonFindNext);
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(8);
  bottom->addWidget(LabelCounts);
  bottom->addWidget(LabelNote, 1);
  bottom->addWidget(LabelDropped);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(3, 2, 3, 2);
  column->setSpacing(2);
  column->addLayout(top);
  column->addLayout(filters);
  column->addLayout(find);
  column->addWidget(Table, 1);
  column->addLayout(bottom);
}

void TTrafficView::SetSource(const TTrafficSource& source, TTrafficIndex* rows,
                             const TTrafficFilter* rowsFilter) {
  // The history saved from may go with its place in the view.
  if (FExport) {
    CancelExport();
    ExportEnded();
  }
  Table->selectionModel()->clear();
  Model->SetSource(source, rows, rowsFilter);  // the rows follow the new history
  FPauseEnd = TTrafficModel::kNoSeq;
  FHighlight = TTrafficModel::kNoSeq;
  ButtonPause->setChecked(false);
  UpdatePauseCaption();
  LabelNote->clear();
  FRevealOnShow = false;
  SetFollowing(true);
  UpdateCounts();
}

void TTrafficView::ItemsAdded() {
  // A current row that drops out would hand its place to the next row and
  // the view would scroll there, to the oldest rows.
  const QModelIndex current = Table->currentIndex();
  if (current.isValid() && current.row() < Model->RowsGone()) Table->selectionModel()->clear();
  FRefreshing = true;
  const int removed = Model->Refresh();
  FRefreshing = false;
  if (removed > 0 && !FFollowing) {
    // Keep the rows the user is reading in place while older ones go.
    QScrollBar* bar = Table->verticalScrollBar();
    TOwnScroll own(Table, FScrolling);
    bar->setValue(std::max(0, bar->value() - removed));
  }
  if (FFollowing && !Paused()) ScrollToNewest();
  UpdateCounts();
  if (Paused()) UpdatePauseCaption();
}

void TTrafficView::ScrollToNewest() {
  if (!Table->isVisible()) return;  // done when it is shown
  TOwnScroll own(Table, FScrolling);
  Table->scrollToBottom();
}

void TTrafficView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FRevealOnShow && Table->currentIndex().isValid()) {
    FScrolling = true;
    Table->scrollTo(Table->currentIndex(), QAbstractItemView::PositionAtCenter);
    FScrolling = false;
  } else if (FFollowing) {
    ScrollToNewest();
  }
  FRevealOnShow = false;
}

void TTrafficView::ScrollValueChanged(int value) {
  if (FScrolling) return;
  // The user scrolled: up stops following, down to the end takes it up.
  const bool atEnd = value >= Table->verticalScrollBar()->maximum();
  if (atEnd != FFollowing) {
    FFollowing = atEnd;
    ButtonFollow->setChecked(atEnd);
  }
}

void TTrafficView::SetFollowing(bool on) {
  FFollowing = on;
  ButtonFollow->setChecked(on);
  if (!on) return;
  if (Paused()) SetPaused(false);  // the newest are what following shows
  ScrollToNewest();
}

void TTrafficView::SetPaused(bool on) {
  if (on == Paused()) {
    ButtonPause->setChecked(on);
    return;
  }
  FPauseEnd = on ? Model->Ring().End() : TTrafficModel::kNoSeq;
  Model->SetRowsEnd(FPauseEnd);
  ButtonPause->setChecked(on);
  UpdatePauseCaption();
  if (!on) {
    // Resuming jumps to the newest.
    FFollowing = true;
    ButtonFollow->setChecked(true);
    ScrollToNewest();
  }
  UpdateCounts();
}

void TTrafficView::UpdatePauseCaption() {
  if (!Paused()) {
    ButtonPause->setText(QString::fromUtf8("Pozastavit"));
    return;
  }
  // Items recorded since the pause began.
  ButtonPause->setText(
      QString::fromUtf8("Pozastavit (+%1)").arg(CountText(Model->Ring().End() - FPauseEnd)));
}

void TTrafficView::UpdateCounts() {
  const TTrafficSource& ring = Model->Ring();
  LabelCounts->SetCount(QString::fromUtf8("Zobrazeno %1 z %2")
                            .arg(CountText(static_cast<uint64_t>(Model->rowCount())))
                            .arg(CountText(ring.Count())));
  if (ring.Dropped() > 0) {
    LabelDropped->SetCount(
        QString::fromUtf8("%1 starších zahozeno").arg(CountText(ring.Dropped())));
    LabelDropped->show();
  } else {
    LabelDropped->clear();
    LabelDropped->hide();
  }
}

void TTrafficView::SetTimeMode(TTimeMode mode) {
  if (mode == TTimeMode::tmNone) mode = TTimeMode::tmAbsolute;
  Model->SetTimeMode(mode);
  const int i = ComboTime->findData(static_cast<int>(mode));
  if (i >= 0) ComboTime->setCurrentIndex(i);
  emit StateChanged();
}

void TTrafficView::SetFilter(const TTrafficFilter& filter) {
  if (filter == Model->Filter()) {
    ShowFilterInControls();
    return;
  }
  // Keep the item the user is reading in view when not following.
  uint64_t anchor = TTrafficModel::kNoSeq;
  if (!FFollowing && Model->rowCount() > 0) {
    const int top = std::max(0, Table->rowAt(0));
    anchor = Model->SeqAt(top);
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  Model->SetFilter(filter);
  QApplication::restoreOverrideCursor();
  ShowFilterInControls();
  if (FFollowing) {
    ScrollToNewest();
  } else if (anchor != TTrafficModel::kNoSeq) {
    const int row = Model->RowAtOrAfter(anchor);
    if (row < Model->rowCount()) {
      FScrolling = true;
      Table->scrollTo(Model->index(row, 0), QAbstractItemView::PositionAtTop);
      FScrolling = false;
    }
  }
  UpdateCounts();
  emit StateChanged();
}

void TTrafficView::ShowOnlyDevice(int address) {
  if (address < 1 || address > 31) return;
  TTrafficFilter f = Filter();
  f.Devices = 1u << address;
  SetFilter(f);
}

void TTrafficView::FilterControlsChanged() {
  if (FShowingFilter) return;
  TTrafficFilter f;
  f.Kinds = 0;
  for (int k = kFirstKind; k <= kLastKind; ++k)
    if (ActionKinds[k]->isChecked()) f.Kinds |= 1u << k;
  f.Devices = 0;
  for (int a = 1; a <= 31; ++a)
    if (ActionDevices[a]->isChecked()) f.Devices |= 1u << a;
  f.Text = EditFilter->text().toStdString();
  SetFilter(f);
}

void TTrafficView::ShowFilterInControls() {
  const TTrafficFilter& f = Filter();
  FShowingFilter = true;
  for (int k = kFirstKind; k <= kLastKind; ++k) ActionKinds[k]->setChecked(f.Kinds & (1u << k));
  CheckHideCalls->setChecked((f.Kinds & kCallBits) == 0);
  QStringList devices;
  for (int a = 1; a <= 31; ++a) {
    const bool on = f.Devices & (1u << a);
    ActionDevices[a]->setChecked(on);
    if (on) devices << QStringLiteral("%1").arg(a, 2, 16, QChar('0')).toUpper();
  }
  ActionAllDevices->setChecked(devices.isEmpty());
  // The devices by their addresses, so that a count is never read as one.
  if (devices.isEmpty())
    ButtonDevices->setText(QString::fromUtf8("Zařízení: vše"));
  else if (devices.size() <= 3)
    ButtonDevices->setText(QString::fromUtf8("Zařízení: ") + devices.join(QStringLiteral(", ")));
  else
    ButtonDevices->setText(QString::fromUtf8("%1 zařízení").arg(devices.size()));
  ButtonDevices->setToolTip(devices.isEmpty()
                                ? QString::fromUtf8("Zobrazit jen zprávy vybraných zařízení")
                                : QString::fromUtf8("Zobrazená zařízení: ") +
                                      devices.join(QStringLiteral(", ")));
  const QString text = QString::fromStdString(f.Text);
  if (EditFilter->text() != text) EditFilter->setText(text);
  const bool kindsAll = (f.Kinds & ~kCallBits) == (TTrafficFilter::kAllKinds & ~kCallBits);
  ButtonKinds->setText(QString::fromUtf8(kindsAll ? "Druhy" : "Druhy*"));
  FShowingFilter = false;
}

bool TTrafficView::FindNext(bool forward) {
  CancelFind();
  const QString text = EditFind->text();
  if (text.isEmpty()) {
    EditFind->setFocus();
    LabelNote->setText(QString::fromUtf8("Zadejte hledaný text"));
    return false;
  }
  int from = -1;
  if (FHighlight != TTrafficModel::kNoSeq) {
    const int row = Model->RowAtOrAfter(FHighlight);
    if (row < Model->rowCount() && Model->SeqAt(row) == FHighlight) from = row;
  }
  if (from < 0 && Table->currentIndex().isValid()) from = Table->currentIndex().row();
  // The next match after from (forwards or backwards, going round the end);
  // without a current row, from the oldest forwards or the newest backwards.
  FFind = std::make_unique<TTrafficFind>(TTrafficMatcher(text.toStdString(), Model->MaxLoko()));
  FFind->Start(Model->Index(), static_cast<std::size_t>(Model->rowCount()),
               from < 0 ? TTrafficIndex::npos : static_cast<std::size_t>(from), forward);
  FFindText = text;
  return FindSome();
}

void TTrafficView::CancelFind() {
  if (!FFind) return;
  FFind.reset();
  FFindTimer.stop();
  if (LabelNote->text() == QString::fromUtf8("Hledám…")) LabelNote->clear();
}

bool TTrafficView::FindSome() {
  // Steps small enough that the clock is looked at often.
  constexpr std::size_t kStep = 1 << 14;
  QElapsedTimer clock;
  clock.start();
  TTrafficFind::TState state;
  for (;;) {
    state = FFind->Step(Model->Ring(), Model->Index(), static_cast<std::size_t>(Model->rowCount()),
                        kStep);
    if (state != TTrafficFind::fsSearching || clock.elapsed() >= SliceMs) break;
  }
  if (state == TTrafficFind::fsSearching) {
    LabelNote->setText(QString::fromUtf8("Hledám…"));
    FFindTimer.start();
    return false;
  }
  const std::size_t found = FFind->FoundRow();
  const bool wrapped = FFind->Wrapped(), forward = FFind->Forward();
  FFind.reset();
  if (state == TTrafficFind::fsNotFound || found >= static_cast<std::size_t>(Model->rowCount())) {
    LabelNote->setText(QString::fromUtf8("Nenalezeno: %1").arg(FFindText));
    return false;
  }
  LabelNote->setText(wrapped ? QString::fromUtf8(forward ? "Hledání pokračovalo od začátku"
                                                         : "Hledání pokračovalo od konce")
                             : QString());
  const QModelIndex index = HoldRow(static_cast<int>(found));
  FScrolling = true;
  Table->scrollTo(index, QAbstractItemView::PositionAtCenter);
  FScrolling = false;
  return true;
}

QModelIndex TTrafficView::HoldRow(int row) {
  FFollowing = false;
  ButtonFollow->setChecked(false);
  FHighlight = Model->SeqAt(row);
  Table->viewport()->update();  // the old mark goes, the new one comes
  const QModelIndex index = Model->index(row, 0);
  FScrolling = true;  // the current row changes by the program, not by scrolling
  Table->setCurrentIndex(index);
  FScrolling = false;
  return index;
}

bool TTrafficView::SelectNearestTime(int64_t timeUs) {
  const int rows = Model->rowCount();
  if (rows == 0) return false;
  const TTrafficSource& ring = Model->Ring();
  const auto row =
      static_cast<int>(NearestByTime(static_cast<std::size_t>(rows), timeUs, [&](std::size_t r) {
        return ring.TimeUs(Model->SeqAt(static_cast<int>(r)));
      }));
  // A moment older than the ring holds (or in a gap) gets a row far from it.
  const int64_t found = ring.TimeUs(Model->SeqAt(row));
  auto clock = [](int64_t us) {
    return QDateTime::fromMSecsSinceEpoch(us / 1000).toString(QStringLiteral("HH:mm:ss.zzz"));
  };
  LabelNote->setText(std::abs(found - timeUs) > 1000000
                         ? QString::fromUtf8("K okamžiku %1 je nejbližší položka z %2")
                               .arg(clock(timeUs), clock(found))
                         : QString());
  const QModelIndex index = HoldRow(row);
  FScrolling = true;
  if (Table->isVisible()) Table->scrollTo(index, QAbstractItemView::PositionAtCenter);
  FScrolling = false;
  FRevealOnShow = !Table->isVisible();
  return true;
}

bool TTrafficView::SelectItem(uint64_t seq) {
  const int row = Model->RowAtOrAfter(seq);
  if (row >= Model->rowCount()) return false;
  const QModelIndex index = HoldRow(row);
  FScrolling = true;
  if (Table->isVisible()) Table->scrollTo(index, QAbstractItemView::PositionAtCenter);
  FScrolling = false;
  FRevealOnShow = !Table->isVisible();
  return true;
}

bool TTrafficView::Export(const QString& path, bool allRows, QString& error) {
  if (FExport) {
    error = QString::fromUtf8("ještě se ukládá %1").arg(FExportPath);
    return false;
  }
  FExport =
      std::make_unique<TTrafficExportJob>(Model->Ring(), allRows ? nullptr : &Model->Index(),
                                          Model->TimeMode(), Model->MaxLoko(), path.toStdString());
  FExportPath = path;
  FExportCancelled = false;
  // A small save ends here, as it always did.
  if (ExportSome()) return ExportEnded(&error);
  FExportProgress = new QProgressDialog(QString::fromUtf8("Ukládám řádky provozu…"),
                                        QString::fromUtf8("Zrušit"), 0, 1000, this);
  FExportProgress->setObjectName("ProgressExport");
  FExportProgress->setMinimumDuration(500);
  FExportProgress->setAutoClose(false);
  FExportProgress->setAutoReset(false);
  connect(FExportProgress, &QProgressDialog::canceled, this, &TTrafficView::CancelExport);
  FExportTimer.start(0);
  return true;
}

bool TTrafficView::ExportSome() {
  constexpr std::size_t kStep = 4096;
  QElapsedTimer clock;
  clock.start();
  // Half a slice: the progress dialog takes its time in the same turn.
  while (FExport->Step(kStep))
    if (FExport->Behind() || clock.elapsed() >= SliceMs / 2) return false;
  return true;
}

void TTrafficView::CancelExport() {
  if (!FExport) return;
  FExportCancelled = true;
  FExport->Cancel();
}

bool TTrafficView::ExportEnded(QString* error) {
  FExportTimer.stop();
  const uint64_t lines = FExport->Lines();
  std::string why;
  const bool ok = FExport->Wait(why);
  const bool cancelled = !ok && FExportCancelled;
  FExport.reset();
  if (FExportProgress) FExportProgress->deleteLater();
  FExportProgress = nullptr;
  const QString cause = ok || cancelled ? QString() : FromStd(why);
  if (ok)
    LabelNote->setText(QString::fromUtf8("Uloženo %1 řádků").arg(CountText(lines)));
  else if (cancelled)
    LabelNote->setText(QString::fromUtf8("Ukládání zrušeno"));
  if (error) {
    *error = cause;
    return ok;
  }
  if (!cause.isEmpty()) ShowSaveFailed(FExportPath, cause);
  emit ExportDone(ok, cause);
  return ok;
}

void TTrafficView::ShowSaveFailed(const QString& path, const QString& error) {
  ShowMessageBox(this, ErrorBoxTitle(),
                 QString::fromUtf8("Provoz nelze uložit do souboru %1: %2").arg(path, error),
                 TMsgIcon::Error);
}

void TTrafficView::SaveClicked(bool allRows) {
  const QString path = AskSavePath ? AskSavePath(allRows) : QString();
  if (path.isEmpty()) return;
  QString error;
  if (!Export(path, allRows, error)) ShowSaveFailed(path, error);
}

void TTrafficView::AddToolButton(QToolButton* button) {
  button->setParent(this);
  FToolRow->addWidget(button);
}

QList<int> TTrafficView::SelectedRows() const {
  QList<int> rows;
  for (const QModelIndex& index : Table->selectionModel()->selectedRows())
    if (index.row() < Model->rowCount()) rows << index.row();
  std::sort(rows.begin(), rows.end());
  return rows;
}

QString TTrafficView::CopyText(bool hex) const {
  const TTrafficSource& ring = Model->Ring();
  QStringList lines;
  for (const int row : SelectedRows()) {
    const uint64_t seq = Model->SeqAt(row);
    if (!ring.Holds(seq)) continue;
    std::string line;
    if (hex) {
      line = MessageToHex(ring.Bytes(seq));
      while (!line.empty() && line.back() == ' ') line.pop_back();
    } else {
      // vantrel-dump's line, timed as the view shows it: the previous row
      // shown is the one a delta counts from.
      const int64_t t = ring.TimeUs(seq);
      int64_t previous = t;
      if (row > 0 && ring.Holds(Model->SeqAt(row - 1)))
        previous = ring.TimeUs(Model->SeqAt(row - 1));
      AppendTrafficTimePrefix(line, Model->TimeMode(), t, previous, ring.SessionStart(seq));
      AppendTrafficItemLine(line, ring.Bytes(seq), Model->MaxLoko());
    }
    lines << FromStd(line);
  }
  return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void TTrafficView::CopySelected(bool hex) {
  const QString text = CopyText(hex);
  if (text.isEmpty()) return;
  QApplication::clipboard()->setText(text);
  const int rows = static_cast<int>(text.count(QLatin1Char('\n')));
  LabelNote->setText(QString::fromUtf8("Zkopírováno řádků: %1").arg(rows));
}

QList<int> TTrafficView::ColumnWidths() const {
  QList<int> widths;
  // The chosen widths, not those a narrow window leaves for now.
  for (int c = 0; c < TTrafficModel::colCount; ++c)
    widths << (c < TTrafficModel::colCount - 1 && FColumnFit
                   ? FColumnFit->Wanted(c)
                   : Table->horizontalHeader()->sectionSize(c));
  return widths;
}

void TTrafficView::SetColumnWidths(const QList<int>& widths) {
  // The last column takes what is left.
  for (int c = 0; c < TTrafficModel::colCount - 1 && c < widths.size(); ++c)
    if (widths[c] >= 24 && widths[c] <= 4000) Table->setColumnWidth(c, widths[c]);
}

namespace {

// Names of the kinds in the settings file, in TItemKind order.
const char* const kKindNames[kKindSlots] = {"",       "call",    "idle",   "lone",        "power",
                                            "status", "central", "device", "unrecognised"};

const char* TimeModeName(TTimeMode mode) {
  switch (mode) {
    case TTimeMode::tmDelta:
      return "d";
    case TTimeMode::tmZero:
      return "z";
    default:
      return "a";
  }
}

}  // namespace

void TTrafficView::LoadState(const TMonitorSettings& settings) {
  if (settings.TimeMode == "d")
    SetTimeMode(TTimeMode::tmDelta);
  else if (settings.TimeMode == "z")
    SetTimeMode(TTimeMode::tmZero);
  else
    SetTimeMode(TTimeMode::tmAbsolute);

  TTrafficFilter f;
  if (!settings.Kinds.empty()) {
    uint32_t kinds = 0;
    bool known = true;
    for (const QString& name :
         QString::fromStdString(settings.Kinds).split(',', Qt::SkipEmptyParts)) {
      const auto* it =
          std::find(std::begin(kKindNames), std::end(kKindNames), name.trimmed().toStdString());
      if (it == std::end(kKindNames) || it == std::begin(kKindNames))
        known = false;
      else
        kinds |= 1u << (it - std::begin(kKindNames));
    }
    // "none" is no name: an empty list would show nothing, and the user
    // could not tell why.
    if (known && kinds) f.Kinds = kinds;
  }
  for (const QString& part :
       QString::fromStdString(settings.Devices).split(',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const int address = part.trimmed().toInt(&ok, 16);
    if (ok && address >= 1 && address <= 31) f.Devices |= 1u << address;
  }
  f.Text = settings.Filter;
  SetFilter(f);
  const QList<int> widths = SplitWidths(settings.TrafficColumns);
  if (!widths.isEmpty()) SetColumnWidths(widths);
}

void TTrafficView::StoreState(TMonitorSettings& settings) const {
  settings.TimeMode = TimeModeName(TimeMode());
  const TTrafficFilter& f = Filter();
  std::string kinds;
  for (int k = kFirstKind; k <= kLastKind; ++k)
    if (f.Kinds & (1u << k)) kinds += (kinds.empty() ? "" : ",") + std::string(kKindNames[k]);
  settings.Kinds = f.Kinds == TTrafficFilter::kDefaultKinds ? std::string() : kinds;
  std::string devices;
  for (int a = 1; a <= 31; ++a)
    if (f.Devices & (1u << a))
      devices += (devices.empty() ? "" : ",") +
                 QStringLiteral("%1").arg(a, 2, 16, QChar('0')).toUpper().toStdString();
  settings.Devices = devices;
  settings.Filter = f.Text;
  QList<int> widths = ColumnWidths();
  widths.removeLast();  // the last column takes what is left
  // Widths as they come are no choice of the user's: nothing to keep.
  settings.TrafficColumns =
      widths == kDefaultColumnWidths ? std::string() : JoinWidths(widths).toStdString();
}

bool TTrafficView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Table && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_End) {
      SetFollowing(true);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool TTrafficView::SelectedSpan(uint64_t& fromSeq, uint64_t& toSeq) const {
  const QModelIndexList rows = Table->selectionModel()->selectedRows();
  if (rows.size() < 2) return false;
  int first = rows.front().row(), last = first;
  for (const QModelIndex& index : rows) {
    first = std::min(first, index.row());
    last = std::max(last, index.row());
  }
  fromSeq = Model->SeqAt(first);
  toSeq = Model->SeqAt(last) + 1;
  return true;
}
