// The main window's analyser: the "Statistika" button and tab, the events'
// marks on the graph, and the trigger of the settings acting on the live bus.
#include <QDateTime>
#include <QDir>
#include <QTimer>
#include <QToolButton>

#include "app/AnalysisView.h"
#include "app/CaptureControl.h"
#include "app/GraphView.h"
#include "app/MarkControl.h"
#include "app/TrafficView.h"
#include "app/TriggerControl.h"
#include "app/uVantrelBus.h"
#include "base/LocalTime.h"
#include "config/Settings.h"

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
  SpeedButtonStats->setGeometry(8, 424, 129, 25);
  SpeedButtonStats->setCheckable(true);
  panelLeft->setMinimumHeight(456);
  connect(SpeedButtonStats, &QToolButton::clicked, this,
          [this](bool down) { ShowRightSide(down ? rsStats : rsGrid); });
  AnalysisView = new TAnalysisView(this);
  FTriggers = new TTriggerControl(this);
}

void TFormVantrelBus::ConnectAnalysis() {
  LoadAnalysisSettings();
  const TEventLimits limits = EventLimitsFrom(AnalysisSettings);
  FSession->Analysis().Reset(limits);
  FSession->SetAnalysing(AnalysisSettings.Analyser);
  AnalysisView->SetLimits(limits);
  AnalysisView->SetLive(FSession->Analysis(), FSession->Traffic());
  // "Now" of the live statistics: the clock while the line is read, so that
  // silence grows; otherwise the last item's time.
  AnalysisView->LiveNowUs = [this] { return Connected() && !WaitingForPort() ? NowUs() : 0; };
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
  FTriggers->Load(AnalysisSettings, Settings.MaxLoko, FSession->Traffic().End(),
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

void TFormVantrelBus::AnalysisAfterDrain() {
  AnalysisView->Refresh();
  FTriggers->Check(FSession->Traffic(), FSession->Analysis());
}

void TFormVantrelBus::AnalysisShowHistory(const TTrafficSource* capture) {
  if (capture)
    AnalysisView->SetSource(*capture);
  else
    AnalysisView->SetLive(FSession->Analysis(), FSession->Traffic());
}
