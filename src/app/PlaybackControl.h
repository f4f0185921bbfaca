// TPlaybackControl: plays an opened capture in the window as the bus
// delivered it: "Přehrát" from the selected row (or the first), "Pozastavit",
// "Zastavit" (back to the whole capture) and the speed, 0,25× to 16× or as
// fast as possible.  The items go into a session of their own, which the
// traffic view, the graph, the grid and the status panel show while it plays
// or is paused; no port is needed.  The bar shows while a capture is open.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QToolButton;
class QWidget;
class TAnalysisWindow;
class TBusSession;
class TPlayback;
class TTrafficSource;
struct TCaptureContents;

class TPlaybackControl : public QObject {
  Q_OBJECT

public:
  explicit TPlaybackControl(TAnalysisWindow& window);
  ~TPlaybackControl() override;

  // While the window is built: the bar (hidden until a capture is open).
  QWidget* BuildPanel(QWidget* parent);
  // The window shows another capture, or none: a playback of the old one
  // ends (the window shows what it chose itself).  Its session is handed
  // back, for the window to let go once its views have moved on.
  std::unique_ptr<TBusSession> CaptureChanged(const TCaptureContents* capture);

  // Plays from the current row (the first when none), or goes on after a
  // pause; false when no capture is open.
  bool Play();
  void Pause();
  // Back to the whole capture.
  void Stop();
  bool Playing() const;
  // A playback's session is shown (playing or paused).
  bool Active() const { return FSession != nullptr; }
  // Item seq of the session shown is item seq + Base() of the capture.
  uint64_t Base() const { return FBase; }
  const TBusSession* Session() const { return FSession.get(); }
  // The speed chosen: TPlayback::kFastest or 0.25-16.
  void SetSpeed(double speed);
  double Speed() const { return FSpeed; }

  // Redraws at most this often while playing, as the live window drains.
  static constexpr int kDrawMs = 200;
  // The longest the timer sleeps between looks at the clock: items come no
  // later than this after their time.
  static constexpr int kTickMs = 25;
  // As fast as possible, one pass of the event loop takes this long at most.
  static constexpr int kSliceMs = 20;

  // Its controls (tests find them by their object names).
  QFrame* PanelPlayback = nullptr;
  QToolButton* ButtonPlay = nullptr;  // "Přehrát" / "Pozastavit"
  QToolButton* ButtonStop = nullptr;  // "Zastavit"
  QComboBox* ComboSpeed = nullptr;
  QLabel* LabelPlayback = nullptr;

signals:
  // The playback has played its last item.
  void Finished();

private:
  void Tick();
  void Schedule();
  void Draw();
  void ShowButtons();
  int64_t NowUs() const { return FClock.nsecsElapsed() / 1000; }

  TAnalysisWindow& FWindow;
  const TCaptureContents* FCapture = nullptr;
  std::unique_ptr<TBusSession> FSession;
  std::unique_ptr<TPlayback> FPlay;
  uint64_t FBase = 0;
  double FSpeed = 1;
  QTimer FTimer;
  QElapsedTimer FClock;
  int64_t FDrawnUs = 0;
  bool FUndrawn = false;
};
