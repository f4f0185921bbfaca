// The main window's analyser: the "Statistika" button and tab, the events'
// marks on the graph, and the trigger of the settings acting on the live bus.
#include <QDateTime>
#include <QDir>
#include <QFontMetrics>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

#include "app/AnalysisView.h"
#include "app/CaptureControl.h"
#include "app/GraphView.h"
#include "app/MarkControl.h"
#include "app/TrafficView.h"
#include "app/TriggerControl.h"
#include "app/TriggerDialog.h"
#include "app/uVantrelBus.h"
#include "base/LocalTime.h"
#include "config/Settings.h"
#include "controls/MsgBox.h"

namespace {
int64_t NowUs() { return QDateTime::currentMSecsSinceEpoch() * 1000; }
}  // namespace

void TFormVantrelBus::BuildAnalysis(QWidget* panelLeft) {
  SpeedButtonStats = new QToolButton(panelLeft);
  SpeedButtonStats->setObjectName("SpeedButtonStats");
  SpeedButtonStats->setText(QString::fromUtf8("Statistika"));
  SpeedButtonStats->setToolTip(
      QString::fromUtf8("Kdo na sběrnici mluví a jak často, a co se stalo (události)"));
  SpeedButtonStats->setToolButtonStyle(Qt::ToolButtonTextOnly);
  // Beside "Provoz" and "Graf" on their row, so that the panel (and the
  // window's smallest size) keeps its height: the three share its 129
  // pixels, in the panel's font when the captions fit, else a smaller one.
  QToolButton* row[3] = {SpeedButtonTraffic, SpeedButtonGraph, SpeedButtonStats};
  QFont font = SpeedButtonTraffic->font();
  int widths[3] = {};
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (attempt > 0) {
      font.setBold(false);
      font.setPixelSize(std::max(8, font.pixelSize() - (attempt > 1 ? 1 : 0)));
    }
    const QFontMetrics fm(font);
    int sum = 0;
    for (int b = 0; b < 3; ++b) sum += widths[b] = fm.horizontalAdvance(row[b]->text()) + 10;
    if (sum + 4 <= 129) break;
  }
  int x = 8;
  const int spare = std::max(0, 129 - 4 - (widths[0] + widths[1] + widths[2]));
  for (int b = 0; b < 3; ++b) {
    const int w = widths[b] + spare / 3 + (b == 2 ? spare % 3 : 0);
    row[b]->setFont(font);
    row[b]->setGeometry(x, 328, w, 25);
    x += w + 2;
  }
  SpeedButtonStats->setCheckable(true);
  connect(SpeedButtonStats, &QToolButton::clicked, this,
          [this](bool down) { ShowRightSide(down ? rsStats : rsGrid); });
  AnalysisView = new TAnalysisView(this);
  FTriggers = new TTriggerControl(this);
}

void TFormVantrelBus::ConnectAnalysis() {
  LoadAnalysisSettings();
  const TEventLimits limits = EventLimitsFrom(MonitorSettings.Analysis);
  FSession->Analysis().Reset(limits);
  FSession->SetAnalysing(MonitorSettings.Analysis.Analyser);
  AnalysisView->SetLimits(limits);
  AnalysisView->SetLive(FSession->Analysis(), FSession->History());
  // "Now" of the live statistics: the clock while the line is read, so that
  // silence grows; otherwise the last item's time.
  AnalysisView->LiveNowUs = [this] { return Connected() && !WaitingForPort() ? NowUs() : 0; };
  AnalysisView->FlushStore = [this] {
    if (TSessionStore* store = FSession->Store()) store->Flush();
  };
  AnalysisView->GraphSpan = [this] {
    return std::pair<int64_t, int64_t>(GraphView->ViewStartUs(), GraphView->ViewEndUs());
  };
  connect(AnalysisView, &TAnalysisView::EventSelected, this, [this](quint64 seq, qint64 timeUs) {
    if (!TrafficView->SelectItem(seq)) TrafficView->SelectNearestTime(timeUs);
    GraphView->SetSelected(timeUs);
  });
  connect(AnalysisView, &TAnalysisView::EventActivated, this, [this](quint64 seq, qint64 timeUs) {
    if (!TrafficView->SelectItem(seq)) TrafficView->SelectNearestTime(timeUs);
    ShowRightSide(rsTraffic);
  });
  GraphView->AxisMarks = [this](int64_t fromUs, int64_t toUs,
                                std::vector<TGraphView::TAxisMark>& marks) {
    std::vector<std::pair<int64_t, int>> found;
    AnalysisView->EventMarks(fromUs, toUs, found);
    for (const auto& [timeUs, kind] : found)
      marks.push_back({timeUs, TAnalysisView::EventColour(static_cast<TEventKind>(kind))});
  };
  connect(AnalysisView, &TAnalysisView::EventsChanged, GraphView, &TGraphView::MarksChanged);

  // The trigger acts on the live bus only, from now on.
  FTriggers->Load(MonitorSettings.Analysis, Settings.MaxLoko, FSession->Traffic().End(),
                  FSession->Analysis().EndEvent());
  FTriggers->Pause = [this] { TrafficView->SetPaused(true); };
  FTriggers->Recording = [this] { return FCaptures->Recording(); };
  FTriggers->RecordStart = [this] {
    const QString folder = MonitorSettings.CaptureFolder.empty()
                               ? QDir::homePath()
                               : QString::fromStdString(MonitorSettings.CaptureFolder);
    FCaptures->StartRecording(
        QDir(folder).filePath(TCaptureControl::DefaultRecordName(QDateTime::currentDateTime())));
  };
  FTriggers->RecordStop = [this] { FCaptures->StopRecording(); };
  connect(FTriggers, &TTriggerControl::MarkRequested, this,
          [this](quint64 seq, const QString& text) { FMarks->AddMark(seq, text); });
  connect(AnalysisView, &TAnalysisView::TriggerClicked, this, &TFormVantrelBus::EditTrigger);
  connect(FTriggers, &TTriggerControl::Fired, this, [this](const QString& text) {
    AnalysisView->LabelEvents->setText(QString::fromUtf8("Spouštěč: %1").arg(text));
  });

  // Silence grows without items: the live statistics and the silence events
  // follow the clock once a second.
  auto* tick = new QTimer(this);
  tick->setInterval(1000);
  connect(tick, &QTimer::timeout, this, [this] {
    if (!Connected() || WaitingForPort()) return;
    FSession->Analysis().Tick(NowUs());
    AnalysisAfterDrain();
  });
  tick->start();
}

void TFormVantrelBus::EditTrigger() {
  TTriggerDialog dialog(MonitorSettings.Analysis, this);
  if (dialog.exec() != QDialog::Accepted) return;
  MonitorSettings.Analysis = dialog.Result();
  // From now on: what came before does not fire it.
  FTriggers->Load(MonitorSettings.Analysis, Settings.MaxLoko, FSession->Traffic().End(),
                  FSession->Analysis().EndEvent());
  try {
    SaveMonitorSettings();
  } catch (const std::exception& e) {
    ShowMessageBox(this, ErrorBoxTitle(),
                   QString::fromUtf8("Spouštěč platí, ale nelze ho uložit: %1").arg(e.what()),
                   TMsgIcon::Warning);
  }
}

void TFormVantrelBus::AnalysisAfterDrain() {
  AnalysisView->Refresh();
  FTriggers->Check(FSession->Traffic(), FSession->Analysis());
}

void TFormVantrelBus::AnalysisShowHistory(const TTrafficSource* capture) {
  if (capture)
    AnalysisView->SetSource(*capture);
  else
    AnalysisView->SetLive(FSession->Analysis(), FSession->History());
}
