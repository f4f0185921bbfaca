// The analyser's tab: statistics above, events below.
#include "app/AnalysisView.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "analysis/StatsTable.h"
#include "app/FlowLayout.h"
#include "app/GraphView.h"
#include "controls/MsgBox.h"
#include "series/SeriesCsv.h"
#include "session/SessionStore.h"
#include "traffic/TrafficArchive.h"
#include "traffic/TrafficMarks.h"

namespace {

QString Decimal() { return QLocale().decimalPoint(); }

QString Number(double v, int decimals) { return QLocale().toString(v, 'f', decimals); }

QString Clock(int64_t us) {
  if (us == 0) return QString();
  return QDateTime::fromMSecsSinceEpoch(us / 1000).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString Duration(int64_t us) {
  return QString::fromStdString(DurationText(us, Decimal().toStdString()));
}

// The first item whose time is not before timeUs (times go forward, but
// for a clock set back now and then the result is merely near).
uint64_t SeqAtTime(const TTrafficSource& source, int64_t timeUs) {
  return ItemAtOrAfter(source, timeUs);
}

}  // namespace

// ---- statistics rows ---------------------------------------------------------------

void TStatsModel::SetRows(std::vector<TDeviceStats::TRow> rows) {
  if (rows.size() != FRows.size()) {
    beginResetModel();
    FRows = std::move(rows);
    endResetModel();
    return;
  }
  FRows = std::move(rows);
  if (!FRows.empty())
    emit dataChanged(index(0, 0), index(static_cast<int>(FRows.size()) - 1, scColumns - 1));
}

int TStatsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TStatsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : scColumns;
}

QVariant TStatsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(FRows.size())) return {};
  const TDeviceStats::TRow& r = FRows[static_cast<std::size_t>(index.row())];
  const bool heard = r.Messages != 0;
  if (role == SortRole) {
    switch (index.column()) {
      case scDevice:
        return r.Address;
      case scMessages:
        return qulonglong(r.Messages);
      case scCalls:
        return qulonglong(r.Calls);
      case scRateNow:
        return r.RateNow;
      case scRateAverage:
        return r.RateAverage;
      case scFirst:
        return qlonglong(r.FirstUs);
      case scLast:
        return qlonglong(r.LastUs);
      case scSince:
        return qlonglong(r.SinceLastUs);
      case scShare:
        return r.BytesShare;
      case scUnrecognised:
        return qulonglong(r.UnrecognisedBytes);
      case scState:
        return r.Silent ? 1 : 0;
      default:
        return {};
    }
  }
  if (role == Qt::BackgroundRole && r.Silent) return QColor(255, 214, 214);
  if (role == Qt::TextAlignmentRole)
    return index.column() == scDevice || index.column() == scState
               ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
               : QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ToolTipRole && r.Silent)
    return QString::fromUtf8("Mlčí: naposledy před %1").arg(Duration(r.SinceLastUs));
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case scDevice:
      return QString::fromStdString(StatsDeviceName(r.Address));
    case scMessages:
      return QLocale().toString(qulonglong(r.Messages));
    case scCalls:
      return r.Address == 0 ? QString() : QLocale().toString(qulonglong(r.Calls));
    case scRateNow:
      return heard ? Number(r.RateNow, 1) : QString();
    case scRateAverage:
      return heard ? Number(r.RateAverage, 2) : QString();
    case scFirst:
      return Clock(r.FirstUs);
    case scLast:
      return Clock(r.LastUs);
    case scSince:
      return heard ? Duration(r.SinceLastUs) : QString();
    case scShare:
      return r.Bytes ? Number(r.BytesShare, 2) + QStringLiteral(" %") : QString();
    case scUnrecognised:
      return r.Address == 0 ? QString() : QLocale().toString(qulonglong(r.UnrecognisedBytes));
    case scState:
      return r.Silent ? QString::fromUtf8("mlčí") : heard ? QString::fromUtf8("hlásí") : QString();
    default:
      return {};
  }
}

QVariant TStatsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  static const char* const kTitles[scColumns] = {
      "Zařízení",  "Zprávy", "Výzvy",       "Za s (10 s)",  "Za s (průměr)", "Poprvé",
      "Naposledy", "Ticho",  "Podíl bajtů", "Nerozpozn. B", "Stav"};
  static const char* const kTips[scColumns] = {
      "Adresa zařízení, nebo centrála (její zprávy 00 …; k jejím bajtům patří i výzvy a 1F)",
      "Zprávy zařízení v celém úseku",
      "Výzvy centrály tomuto zařízení",
      "Zpráv za sekundu za posledních 10 s",
      "Zpráv za sekundu v průměru za celý úsek",
      "Čas první zprávy",
      "Čas poslední zprávy",
      "Doba od poslední zprávy",
      "Podíl na všech bajtech na sběrnici",
      "Nerozpoznané bajty hned po výzvě tomuto zařízení",
      "„mlčí“: hlásilo se, ale déle než nastavená mez je ticho"};
  if (role == Qt::DisplayRole) return QString::fromUtf8(kTitles[section]);
  if (role == Qt::ToolTipRole) return QString::fromUtf8(kTips[section]);
  return {};
}

// ---- events -----------------------------------------------------------------------

void TEventsModel::SetAnalysis(const TBusAnalysis* analysis) {
  beginResetModel();
  FAnalysis = analysis;
  FFirst = analysis ? analysis->FirstEvent() : 0;
  FEnd = analysis ? analysis->EndEvent() : 0;
  endResetModel();
}

void TEventsModel::Update() {
  if (!FAnalysis) return;
  if (FAnalysis->FirstEvent() != FFirst) {
    SetAnalysis(FAnalysis);  // old events went: the rows move
    return;
  }
  const uint64_t end = FAnalysis->EndEvent();
  if (end == FEnd) return;
  beginInsertRows({}, static_cast<int>(FEnd - FFirst), static_cast<int>(end - FFirst) - 1);
  FEnd = end;
  endInsertRows();
}

const TBusEvent* TEventsModel::EventAt(int row) const {
  if (!FAnalysis || row < 0 || static_cast<uint64_t>(row) >= FEnd - FFirst) return nullptr;
  return &FAnalysis->Event(FFirst + static_cast<uint64_t>(row));
}

int TEventsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FEnd - FFirst);
}

int TEventsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ecColumns;
}

QVariant TEventsModel::data(const QModelIndex& index, int role) const {
  const TBusEvent* e = EventAt(index.row());
  if (!e) return {};
  if (role == Qt::ForegroundRole && index.column() == ecKind)
    return TAnalysisView::EventColour(e->Kind);
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  switch (index.column()) {
    case ecTime:
      return Clock(e->TimeUs);
    case ecKind:
      return QString::fromUtf8(EventKindCaption(e->Kind));
    case ecText:
      return QString::fromStdString(EventText(*e, Decimal().toStdString()));
    default:
      return {};
  }
}

QVariant TEventsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[ecColumns] = {"Čas", "Druh", "Událost"};
  return QString::fromUtf8(kTitles[section]);
}

// ---- the view ---------------------------------------------------------------------

TAnalysisView::TAnalysisView(QWidget* parent) : QWidget(parent) {
  setObjectName("AnalysisView");
  BuildLayout();
}

TAnalysisView::~TAnalysisView() { StopWorker(); }

void TAnalysisView::StopWorker() {
  ++FJob;  // a result already posted is no longer wanted
  if (!FWorker.joinable()) return;
  FCancel = true;
  FWorker.join();
  FCancel = false;
}

void TAnalysisView::Analyse(uint64_t from, uint64_t to) {
  StopWorker();
  // A second thread reads only what does not change under it: a capture held
  // in memory, or a store on disk through a reader of its own (the store's
  // page cache belongs to the window thread).  The ring changes with every
  // drain; it holds a million items at most and is counted here, at once.
  const auto* archive = dynamic_cast<const TTrafficArchive*>(FSource);
  std::shared_ptr<const TSessionStore> reader;
  if (const auto* store = dynamic_cast<const TSessionStore*>(FSource)) {
    if (FlushStore) FlushStore();  // the reader sees what is on disk
    reader = store->ReaderCopy();
  }
  if (!archive && !reader) {
    auto own = std::make_unique<TBusAnalysis>(FLimits);
    AnalyseSpan(*FSource, from, to, *own);
    ShowOwn(std::move(own));
    return;
  }
  const int job = FJob;
  Events->SetAnalysis(nullptr);
  FShown = nullptr;
  Stats->SetRows({});
  LabelSummary->setText(QString::fromUtf8("Počítám statistiku…"));
  // The archive is read only, by both threads, until StopWorker returns.
  const TTrafficSource* source = archive ? static_cast<const TTrafficSource*>(archive) : nullptr;
  FWorker = std::thread([this, job, from, to, source, reader, limits = FLimits] {
    auto own =
        std::make_shared<std::unique_ptr<TBusAnalysis>>(std::make_unique<TBusAnalysis>(limits));
    if (!AnalyseSpan(source ? *source : *reader, from, to, **own, &FCancel)) return;
    QMetaObject::invokeMethod(
        this,
        [this, job, own] {
          if (job != FJob) return;
          FWorker.join();
          ShowOwn(std::move(*own));
        },
        Qt::QueuedConnection);
  });
}

QColor TAnalysisView::EventColour(TEventKind kind) {
  switch (kind) {
    case TEventKind::ekPower:
      return QColor(200, 0, 0);
    case TEventKind::ekLoad:
      return QColor(208, 112, 0);
    case TEventKind::ekSilent:
      return QColor(112, 48, 160);
    case TEventKind::ekBack:
      return QColor(0, 122, 48);
    case TEventKind::ekBurst:
      return QColor(160, 96, 0);
    case TEventKind::ekGap:
      return QColor(64, 64, 64);
  }
  return Qt::black;
}

void TAnalysisView::BuildLayout() {
  auto* top = new QWidget(this);
  auto* topLayout = new QVBoxLayout(top);
  topLayout->setContentsMargins(0, 0, 0, 0);
  // Tool rows wrap in a narrow window; the texts under them wrap too.
  auto* bar = new TFlowLayout;
  ComboSpan = new QComboBox(top);
  ComboSpan->setObjectName("ComboSpan");
  ComboSpan->addItem(QString::fromUtf8("Celá historie"));
  ComboSpan->addItem(QString::fromUtf8("Úsek grafu"));
  ComboSpan->setToolTip(QString::fromUtf8(
      "Statistika a události všeho, co je v historii (živě nebo otevřený záznam), "
      "nebo jen časového úseku, který ukazuje graf"));
  connect(ComboSpan, &QComboBox::activated, this, &TAnalysisView::SpanChosen);
  ButtonCsv = new QToolButton(top);
  ButtonCsv->setObjectName("ButtonStatsCsv");
  ButtonCsv->setText(QString::fromUtf8("CSV…"));
  ButtonCsv->setToolTip(QString::fromUtf8("Uložit statistiku do souboru CSV"));
  connect(ButtonCsv, &QToolButton::clicked, this, &TAnalysisView::SaveCsvClicked);
  ButtonTrigger = new QToolButton(top);
  ButtonTrigger->setObjectName("ButtonTrigger");
  ButtonTrigger->setText(QString::fromUtf8("Spouštěč…"));
  ButtonTrigger->setToolTip(QString::fromUtf8(
      "Co udělat, když nastane událost nebo přijde hledaná položka (pozastavit, záznam, značka)"));
  connect(ButtonTrigger, &QToolButton::clicked, this, &TAnalysisView::TriggerClicked);
  LabelSummary = new QLabel(top);
  LabelSummary->setObjectName("LabelStatsSummary");
  LabelSummary->setWordWrap(true);
  bar->addWidget(new QLabel(QString::fromUtf8("Rozsah:"), top));
  bar->addWidget(ComboSpan);
  bar->addWidget(ButtonCsv);
  bar->addWidget(ButtonTrigger);
  topLayout->addLayout(bar);
  topLayout->addWidget(LabelSummary);

  Stats = new TStatsModel(this);
  StatsSorted = new QSortFilterProxyModel(this);
  StatsSorted->setSourceModel(Stats);
  StatsSorted->setSortRole(TStatsModel::SortRole);
  TableStats = new QTableView(top);
  TableStats->setObjectName("TableStats");
  TableStats->setModel(StatsSorted);
  TableStats->setSortingEnabled(true);
  TableStats->sortByColumn(TStatsModel::scDevice, Qt::AscendingOrder);
  TableStats->setSelectionBehavior(QAbstractItemView::SelectRows);
  TableStats->setSelectionMode(QAbstractItemView::SingleSelection);
  TableStats->verticalHeader()->hide();
  TableStats->verticalHeader()->setDefaultSectionSize(18);
  TableStats->horizontalHeader()->setStretchLastSection(true);
  TableStats->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int c = 0; c < TStatsModel::scColumns; ++c)
    TableStats->setColumnWidth(c, c == TStatsModel::scFirst || c == TStatsModel::scLast ? 90 : 76);
  topLayout->addWidget(TableStats, 1);

  auto* bottom = new QWidget(this);
  auto* bottomLayout = new QVBoxLayout(bottom);
  bottomLayout->setContentsMargins(0, 0, 0, 0);
  auto* eventBar = new TFlowLayout;
  ComboKind = new QComboBox(bottom);
  ComboKind->setObjectName("ComboEventKind");
  ComboKind->addItem(QString::fromUtf8("Všechny druhy"), -1);
  for (int k = 0; k < kEventKinds; ++k)
    ComboKind->addItem(QString::fromUtf8(EventKindCaption(static_cast<TEventKind>(k))), k);
  ButtonPrevEvent = new QToolButton(bottom);
  ButtonPrevEvent->setObjectName("ButtonPrevEvent");
  ButtonPrevEvent->setText(QString::fromUtf8("◀ Předchozí"));
  ButtonPrevEvent->setToolTip(QString::fromUtf8("Předchozí událost zvoleného druhu (Shift+F4)"));
  ButtonNextEvent = new QToolButton(bottom);
  ButtonNextEvent->setObjectName("ButtonNextEvent");
  ButtonNextEvent->setText(QString::fromUtf8("Další ▶"));
  ButtonNextEvent->setToolTip(QString::fromUtf8("Další událost zvoleného druhu (F4)"));
  connect(ButtonPrevEvent, &QToolButton::clicked, this, [this] { GoToEvent(false); });
  connect(ButtonNextEvent, &QToolButton::clicked, this, [this] { GoToEvent(true); });
  LabelEvents = new QLabel(bottom);
  LabelEvents->setObjectName("LabelEvents");
  LabelEvents->setWordWrap(true);
  eventBar->addWidget(new QLabel(QString::fromUtf8("Události:"), bottom));
  eventBar->addWidget(ComboKind);
  eventBar->addWidget(ButtonPrevEvent);
  eventBar->addWidget(ButtonNextEvent);
  eventBar->addWidget(LabelEvents);
  bottomLayout->addLayout(eventBar);

  Events = new TEventsModel(this);
  TableEvents = new QTableView(bottom);
  TableEvents->setObjectName("TableEvents");
  TableEvents->setModel(Events);
  TableEvents->setSelectionBehavior(QAbstractItemView::SelectRows);
  TableEvents->setSelectionMode(QAbstractItemView::SingleSelection);
  TableEvents->verticalHeader()->hide();
  TableEvents->verticalHeader()->setDefaultSectionSize(18);
  TableEvents->horizontalHeader()->setStretchLastSection(true);
  TableEvents->setColumnWidth(TEventsModel::ecTime, 96);
  TableEvents->setColumnWidth(TEventsModel::ecKind, 96);
  TableEvents->setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(TableEvents->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (const TBusEvent* e = Events->EventAt(current.row()))
              emit EventSelected(e->Seq, e->TimeUs);
          });
  connect(TableEvents, &QTableView::activated, this, [this](const QModelIndex& index) {
    if (const TBusEvent* e = Events->EventAt(index.row())) emit EventActivated(e->Seq, e->TimeUs);
  });
  // F4 and Shift+F4 in the list, as F3 finds in the traffic view.
  TableEvents->installEventFilter(this);
  bottomLayout->addWidget(TableEvents, 1);

  auto* split = new QSplitter(Qt::Vertical, this);
  split->setObjectName("SplitterAnalysis");
  split->addWidget(top);
  split->addWidget(bottom);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(split);
}

void TAnalysisView::SetLive(const TBusAnalysis& analysis, const TTrafficSource& traffic) {
  StopWorker();
  FLive = &analysis;
  FLiveTraffic = &traffic;
  FSource = &traffic;
  FIsLive = true;
  FOwn.reset();
  FShown = FLive;
  ComboSpan->setCurrentIndex(0);
  Events->SetAnalysis(FShown);
  FShownEvents = FShown->EndEvent();
  ShowStats();
  emit EventsChanged();
}

void TAnalysisView::SetLiveHistory(const TTrafficSource& traffic) {
  // A count under way reads the store's files or an archive, not this.
  if (FSource == FLiveTraffic) FSource = &traffic;
  FLiveTraffic = &traffic;
}

void TAnalysisView::SetSource(const TTrafficSource& source) {
  StopWorker();
  FSource = &source;
  FIsLive = false;
  ComboSpan->setCurrentIndex(0);
  ShowWhole();
}

void TAnalysisView::ShowOwn(std::unique_ptr<TBusAnalysis> own) {
  Events->SetAnalysis(nullptr);
  FOwn = std::move(own);
  FShown = FOwn.get();
  Events->SetAnalysis(FShown);
  FShownEvents = FShown->EndEvent();
  ShowStats();
  emit EventsChanged();
  emit Analysed();
}

void TAnalysisView::ShowWhole() {
  if (FIsLive && FLive) {
    SetLive(*FLive, *FLiveTraffic);
    return;
  }
  if (!FSource) return;
  Analyse(FSource->First(), FSource->End());
}

void TAnalysisView::ShowSpan(int64_t fromUs, int64_t toUs) {
  if (!FSource) return;
  Analyse(SeqAtTime(*FSource, fromUs), SeqAtTime(*FSource, toUs));
  ComboSpan->setCurrentIndex(1);
}

void TAnalysisView::SpanChosen(int index) {
  if (index == 1 && GraphSpan) {
    const auto [from, to] = GraphSpan();
    ShowSpan(from, to);
  } else {
    ShowWhole();
  }
}

void TAnalysisView::Refresh() {
  if (!FShown || FShown != FLive || !isVisible()) return;
  // The table once a second is what the eye follows; redrawing its 32 rows
  // at every drain would cost the window more than the counting does.
  if (!FStatsShown.isValid() || FStatsShown.elapsed() >= kStatsIntervalMs) ShowStats();
  if (FShown->EndEvent() != FShownEvents) {
    FShownEvents = FShown->EndEvent();
    Events->Update();
    emit EventsChanged();
  }
}

bool TAnalysisView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == TableEvents && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_F4) {
      GoToEvent(!(key->modifiers() & Qt::ShiftModifier));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TAnalysisView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FShown == FLive && FLive) {
    Events->Update();
    FShownEvents = FLive->EndEvent();
    ShowStats();
  }
}

void TAnalysisView::ShowStats() {
  if (!FShown) return;
  FStatsShown.start();
  const TDeviceStats& s = FShown->Stats();
  // Live: the present (silence grows while nothing comes); a capture or
  // span: its last item.
  int64_t now = FShown == FLive && LiveNowUs ? LiveNowUs() : 0;
  if (now == 0) now = s.EndUs();
  Stats->SetRows(s.Rows(now, FShown->Limits().SilenceUs));
  int silent = 0;
  for (const auto& r : Stats->Rows()) silent += r.Silent ? 1 : 0;
  const double spanS = s.Items() ? static_cast<double>(s.EndUs() - s.StartUs()) / 1e6 : 0;
  LabelSummary->setText(QString::fromUtf8("%1 položek, %2 B za %3; nerozpoznáno %4 B; mlčí: %5")
                            .arg(QLocale().toString(qulonglong(s.Items())),
                                 QLocale().toString(qulonglong(s.Bytes())),
                                 Duration(static_cast<int64_t>(spanS * 1e6)),
                                 QLocale().toString(qulonglong(s.UnrecognisedBytes())))
                            .arg(silent));
  LabelEvents->setText(QString::fromUtf8("%1 událostí").arg(Events->rowCount()));
}

bool TAnalysisView::GoToEvent(bool forward) {
  const int kind = ComboKind->currentData().toInt();
  const int rows = Events->rowCount();
  const int current = TableEvents->currentIndex().isValid() ? TableEvents->currentIndex().row()
                      : forward                             ? -1
                                                            : rows;
  for (int r = current + (forward ? 1 : -1); r >= 0 && r < rows; r += forward ? 1 : -1) {
    const TBusEvent* e = Events->EventAt(r);
    if (kind >= 0 && static_cast<int>(e->Kind) != kind) continue;
    const QModelIndex index = Events->index(r, 0);
    TableEvents->setCurrentIndex(index);
    TableEvents->scrollTo(index);
    return true;
  }
  LabelEvents->setText(
      QString::fromUtf8("%1 událostí; %2 už žádná není")
          .arg(rows)
          .arg(forward ? QString::fromUtf8("další") : QString::fromUtf8("předchozí")));
  return false;
}

bool TAnalysisView::ExportCsv(const QString& path, QString& error) const {
  // In the order shown (sorted as the user chose).
  std::vector<TDeviceStats::TRow> rows;
  for (int r = 0; r < StatsSorted->rowCount(); ++r)
    rows.push_back(Stats->Rows()[static_cast<std::size_t>(
        StatsSorted->mapToSource(StatsSorted->index(r, 0)).row())]);
  std::string why;
  if (SaveCsvText(StatsCsv(rows, RegionalCsvFormat()), path.toStdString(), why)) return true;
  error = QString::fromStdString(why);
  return false;
}

void TAnalysisView::SaveCsvClicked() {
  const QString path =
      AskCsvPath ? AskCsvPath()
                 : QFileDialog::getSaveFileName(this, QString::fromUtf8("Uložit statistiku"),
                                                QStringLiteral("statistika.csv"),
                                                QString::fromUtf8("CSV (*.csv)"));
  if (path.isEmpty()) return;
  QString error;
  if (!ExportCsv(path, error))
    ShowMessageBox(this, ErrorBoxTitle(),
                   QString::fromUtf8("Statistiku nelze uložit do %1: %2").arg(path, error),
                   TMsgIcon::Error);
}

void TAnalysisView::EventMarks(int64_t fromUs, int64_t toUs,
                               std::vector<std::pair<int64_t, int>>& marks) const {
  if (!FShown) return;
  // Events come about in time order: the first in view is found by halving.
  uint64_t lo = FShown->FirstEvent(), hi = FShown->EndEvent();
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    if (FShown->Event(mid).TimeUs < fromUs)
      lo = mid + 1;
    else
      hi = mid;
  }
  for (uint64_t n = lo; n < FShown->EndEvent() && marks.size() < 20000; ++n) {
    const TBusEvent& e = FShown->Event(n);
    if (e.TimeUs >= toUs) break;
    marks.emplace_back(e.TimeUs, static_cast<int>(e.Kind));
  }
}
