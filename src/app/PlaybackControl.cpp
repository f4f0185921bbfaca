// Playing an opened capture in the window; see the header.
#include "app/PlaybackControl.h"

#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include <algorithm>

#include "app/AnalysisWindow.h"
#include "app/CaptureLoad.h"
#include "config/Settings.h"
#include "controls/Convert.h"
#include "session/BusSession.h"
#include "session/Playback.h"

namespace {

struct TSpeedChoice {
  const char* Caption;
  double Speed;
};
const TSpeedChoice kSpeeds[] = {
    {"0,25×", 0.25}, {"0,5×", 0.5}, {"1×", 1},   {"2×", 2},
    {"4×", 4},       {"8×", 8},     {"16×", 16}, {"co nejrychleji", TPlayback::kFastest},
};
constexpr int kSpeedOne = 2;

// Items handed at once between two looks at the clock when fastest.
constexpr std::size_t kFastBatch = 2000;

}  // namespace

TPlaybackControl::TPlaybackControl(TAnalysisWindow& window) : FWindow(window) {
  FTimer.setSingleShot(true);
  connect(&FTimer, &QTimer::timeout, this, &TPlaybackControl::Tick);
  FClock.start();
}

TPlaybackControl::~TPlaybackControl() = default;

QWidget* TPlaybackControl::BuildPanel(QWidget* parent) {
  PanelPlayback = new QFrame(parent);
  PanelPlayback->setObjectName("PanelPlayback");
  PanelPlayback->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto button = [this](const char* name, const char* caption, const char* tip) {
    auto* b = new QToolButton(PanelPlayback);
    b->setObjectName(name);
    b->setText(QString::fromUtf8(caption));
    b->setToolTip(QString::fromUtf8(tip));
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
  };
  ButtonPlay = button("ButtonPlay", "Přehrát",
                      "Přehrát záznam od vybraného řádku, jak ho sběrnice přinesla");
  connect(ButtonPlay, &QToolButton::clicked, this, [this] { Playing() ? Pause() : (void)Play(); });
  ButtonStop = button("ButtonStopPlayback", "Zastavit", "Ukončit přehrávání: zpět na celý záznam");
  connect(ButtonStop, &QToolButton::clicked, this, &TPlaybackControl::Stop);
  ComboSpeed = new QComboBox(PanelPlayback);
  ComboSpeed->setObjectName("ComboSpeed");
  ComboSpeed->setToolTip(QString::fromUtf8("Rychlost přehrávání"));
  for (const TSpeedChoice& s : kSpeeds) ComboSpeed->addItem(QString::fromUtf8(s.Caption), s.Speed);
  ComboSpeed->setCurrentIndex(kSpeedOne);
  connect(ComboSpeed, &QComboBox::currentIndexChanged, this,
          [this](int index) { SetSpeed(ComboSpeed->itemData(index).toDouble()); });
  LabelPlayback = new QLabel(PanelPlayback);
  LabelPlayback->setObjectName("LabelPlayback");
  LabelPlayback->setMinimumWidth(40);
  auto* row = new QHBoxLayout(PanelPlayback);
  row->setContentsMargins(6, 2, 2, 2);
  row->setSpacing(4);
  row->addWidget(ButtonPlay);
  row->addWidget(ButtonStop);
  row->addWidget(ComboSpeed);
  row->addWidget(LabelPlayback, 1);
  PanelPlayback->hide();
  ShowButtons();
  return PanelPlayback;
}

std::unique_ptr<TBusSession> TPlaybackControl::CaptureChanged(const TCaptureContents* capture) {
  if (capture == FCapture) return nullptr;
  FTimer.stop();
  FPlay.reset();
  std::unique_ptr<TBusSession> session = std::move(FSession);
  FCapture = capture;
  LabelPlayback->clear();
  PanelPlayback->setVisible(capture != nullptr);
  ShowButtons();
  return session;
}

bool TPlaybackControl::Playing() const { return FPlay && FPlay->Playing(); }

bool TPlaybackControl::Play() {
  if (!FCapture || !FCapture->Session) return false;
  if (!FPlay || FPlay->Finished()) {
    const TTrafficSource& traffic = FCapture->Session->History();
    // From the current row: of the capture, or of a playback shown.
    uint64_t from = FWindow.CurrentItem();
    if (from != TAnalysisWindow::kNoItem && FSession) from += FBase;
    if (from == TAnalysisWindow::kNoItem || !traffic.Holds(from)) from = traffic.First();
    auto session = std::make_unique<TBusSession>();
    // As much history as the live bus keeps.
    if (MonitorSettings.RingSize > 0)
      session->Traffic().SetCapacity(static_cast<std::size_t>(MonitorSettings.RingSize));
    auto play = std::make_unique<TPlayback>(traffic);
    play->Seek(from, *session);
    FBase = from - session->Traffic().End();
    // The views take the new session before the old one goes.
    FWindow.ShowPlayback(session.get());
    FPlay = std::move(play);
    FSession = std::move(session);
  }
  FPlay->SetSpeed(FSpeed, NowUs());
  FPlay->Play(NowUs());
  FDrawnUs = NowUs() - kDrawMs * 1000;  // the first items show at once
  ShowButtons();
  Tick();
  return true;
}

void TPlaybackControl::Pause() {
  if (!Playing()) return;
  FPlay->Pause(NowUs());
  FTimer.stop();
  Draw();
  ShowButtons();
}

void TPlaybackControl::Stop() {
  FTimer.stop();
  if (!FSession) return;
  // The views take the capture back before the session goes.
  const std::unique_ptr<TBusSession> session = std::move(FSession);
  FPlay.reset();
  FWindow.ShowPlayback(nullptr);
  LabelPlayback->clear();
  ShowButtons();
}

void TPlaybackControl::SetSpeed(double speed) {
  FSpeed = speed;
  if (FPlay) FPlay->SetSpeed(speed, NowUs());
  if (ComboSpeed) {
    const int index = ComboSpeed->findData(FPlay ? FPlay->Speed() : speed);
    if (index >= 0 && index != ComboSpeed->currentIndex()) ComboSpeed->setCurrentIndex(index);
  }
  if (Playing()) Schedule();
}

void TPlaybackControl::Tick() {
  if (!Playing()) return;
  if (FPlay->Speed() == TPlayback::kFastest) {
    QElapsedTimer slice;
    slice.start();
    while (FPlay->Feed(*FSession, NowUs(), kFastBatch) > 0 && slice.elapsed() < kSliceMs) {}
    FUndrawn = true;
  } else if (FPlay->Feed(*FSession, NowUs(), static_cast<std::size_t>(-1)) > 0) {
    FUndrawn = true;
  }
  if (FPlay->Finished()) {
    FPlay->Pause(NowUs());
    Draw();
    ShowButtons();
    emit Finished();
    return;
  }
  if (NowUs() - FDrawnUs >= kDrawMs * 1000) Draw();
  Schedule();
}

void TPlaybackControl::Schedule() {
  const int64_t waitUs = FPlay ? FPlay->UsUntilNext(NowUs()) : -1;
  if (waitUs < 0) return;
  if (FPlay->Speed() == TPlayback::kFastest) {
    FTimer.start(0);
    return;
  }
  // Whole ticks: a busy line wakes the window kTickMs apart, not per item.
  FTimer.start(static_cast<int>(std::clamp<int64_t>((waitUs + 999) / 1000, kTickMs, kDrawMs)));
}

void TPlaybackControl::Draw() {
  FDrawnUs = NowUs();
  if (!FSession) return;
  if (FUndrawn) FWindow.PlaybackMoved(*FSession);
  FUndrawn = false;
  const TTrafficRing& ring = FSession->Traffic();
  if (ring.Count() == 0) return;
  const int64_t us = ring.TimeUs(ring.End() - 1);
  LabelPlayback->setText(QString::fromUtf8("%1  (%2 z %3 položek)")
                             .arg(QDateTime::fromMSecsSinceEpoch(us / 1000).toString(
                                      QStringLiteral("d. M. yyyy HH:mm:ss.zzz")),
                                  CountText(FBase + ring.End()),
                                  CountText(FCapture->Session->History().End())));
}

void TPlaybackControl::ShowButtons() {
  if (!ButtonPlay) return;
  const bool playing = Playing();
  ButtonPlay->setText(QString::fromUtf8(playing ? "Pozastavit" : "Přehrát"));
  ButtonPlay->setToolTip(
      QString::fromUtf8(playing ? "Pozastavit přehrávání"
                        : FPlay && !FPlay->Finished()
                            ? "Pokračovat v přehrávání"
                            : "Přehrát záznam od vybraného řádku, jak ho sběrnice přinesla"));
  ButtonStop->setEnabled(FSession != nullptr);
}
