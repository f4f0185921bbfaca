// The window's capture files and its look into the past: what it shows.
//
// "Záznam" starts and stops the window's TRecordControl, which records every
// read of the connection in a capture log; the status bar shows the file and
// its size, and a write error (a full disk) says so in a box while the
// monitor goes on.
//
// "Otevřít záznam" opens a capture without any port (a log or raw bytes,
// ".gz" too), read on a thread of its own with a progress box: the traffic
// view, the graph (over the capture's whole length), the grid and the status
// panel then show it.  Opening is refused while connected; connecting closes
// the opened capture and shows the present again.
//
// Selecting a row of the traffic view shows the grid and the status panel as
// they were right after that row's item: for an opened capture always, for
// the live history while disconnected (while connected the present goes on).
// A banner over the right-hand side says which moment is shown and leads
// back; what the window showed before is kept and put back unchanged.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

#include "app/CaptureLoad.h"
#include "app/RecordControl.h"
#include "app/ShownWindow.h"

class QFrame;
class QLabel;
class QProgressDialog;
class QToolButton;
class QWidget;

// Asks where a capture log goes (a save dialog with the capture logs'
// filter and suffix); "" when the user cancels.
QString AskCaptureLogPath(QWidget* parent, const QString& title, const QString& suggested);

class TCaptureControl : public QObject {
  Q_OBJECT

public:
  // The window shows what this chooses, through its narrow face.
  TCaptureControl(TShownWindow& window, TRecordControl& record);
  ~TCaptureControl() override;

  // While the window is built: the two buttons below the traffic view's on
  // the left panel, and the banner (hidden) for the top of the right side.
  void BuildButtons(QWidget* panelLeft);
  QWidget* BuildBanner(QWidget* parent);
  // Once the window is complete.
  void Start();
  // The connect button went down (connecting: back to the live bus) or up.
  void ConnectionToggled(bool connected);

  // ---- recording
  // Starts a recording into path (replaced if it exists); false, having said
  // why in a box, when the file cannot be written.
  bool StartRecording(const QString& path);
  // Ends it (the file is synced); false, having said why, when the file
  // could not be written completely.
  bool StopRecording();
  bool Recording() const { return FRecord.Recording(); }

  // ---- opened capture
  // Starts reading path; false (having said why) when connected or already
  // reading.  CaptureLoaded comes when it is done.
  bool OpenCapture(const QString& path);
  bool Loading() const { return FLoad != nullptr; }
  // Tests and benchmarks: runs the event loop until the reading is done.
  bool WaitLoaded(int timeoutMs);
  void CloseCapture();
  bool CaptureOpen() const { return FCapture != nullptr; }
  const TCaptureContents* Capture() const { return FCapture.get(); }
  TCaptureContents* Capture() { return FCapture.get(); }

  // ---- the past
  // The grid and the status panel show another moment than the present.
  bool ShowingPast() const { return FMode != mdPresent; }
  // As selecting the row of item seq does; false when its state is not
  // known (or the present must go on).
  bool ShowItemState(uint64_t seq);
  // A playback of the capture drew the moment timeUs: the banner says so.
  void ShowPlayedMoment(int64_t timeUs);
  // Back to the present, or to the end of an opened capture.
  void ShowPresent();

  // The file dialogs; replaced by tests.  Empty: cancelled.
  std::function<QString(const QString& suggested)> AskRecordPath;
  std::function<QString(const QString& folder)> AskOpenPath;

  // "vantrel-20261208-140305.vlog"
  static QString DefaultRecordName(const QDateTime& now);

  // A finished recording's note stays this long in the status bar (or until
  // something else starts).
  static constexpr int kSavedNoteMs = 6000;

signals:
  // An OpenCapture has ended: opened, or not (cancelled, or an error shown).
  void CaptureLoaded(bool opened);
  // The recording's status text changed (the status bar fits its fields again).
  void RecordLabelChanged();

private:
  enum TMode { mdPresent, mdLivePast, mdCapture };

  void RecordClicked(bool on);
  void OpenClicked();
  void RecordingFailed();
  void ShowRecordLabel(const QString& prefix);
  // The status bar says what happens now: a finished recording's note goes.
  void ClearRecordNote();
  void PollLoad();
  void Install(TCaptureContents contents);
  QString FolderForFiles() const;
  void RememberFolder(const QString& path);

  void ItemSelected(uint64_t seq);
  void LeavePresent();
  void ShowBanner(const QString& text);

  // Its controls (tests find them by their object names).
  QToolButton* ButtonRecord = nullptr;  // "Záznam"
  QToolButton* ButtonOpen = nullptr;    // "Otevřít záznam"
  QFrame* PanelPast = nullptr;          // the banner
  QLabel* LabelPast = nullptr;
  QToolButton* ButtonPresent = nullptr;       // "Zpět na současnost" / "Konec záznamu"
  QToolButton* ButtonCloseCapture = nullptr;  // "Zavřít záznam"
  QLabel* LabelRecord = nullptr;              // in the status bar

  TShownWindow& FWindow;
  TRecordControl& FRecord;

  std::unique_ptr<TCaptureLoad> FLoad;
  QString FLoadPath;
  QPointer<QProgressDialog> FProgress;
  QTimer FPoll;
  QTimer FSavedNoteOff;
  std::unique_ptr<TCaptureContents> FCapture;

  TMode FMode = mdPresent;
};
