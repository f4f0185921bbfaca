// TSessionControl: the window's session on disk.  At the first connection it
// opens this run's session store in the cache folder (removing the oldest
// sessions beyond the [Monitor] setting), writes it as items come, says
// when the size limit dropped the oldest part, and saves the whole session
// or the selected rows' span as a capture log ("Uložit relaci…") on a thread
// of its own.  At start it offers to save a previous session that ended
// without its window being closed (a crash, a kill).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "traffic/TrafficMarks.h"

class QAction;
class QMenu;
class QProgressDialog;
class QWidget;
class TBusSession;
class TShownWindow;
struct TMonitorSettings;

class TSessionControl : public QObject {
  Q_OBJECT

public:
  TSessionControl(TShownWindow& window, TBusSession& session);
  ~TSessionControl() override;  // waits for a save under way

  // "Uložit relaci…" in the traffic view's save menu.
  void AddSaveAction(QMenu* menu);
  // Before the session's first item: the store as the settings say; false
  // (the ring alone then) when off or it cannot be written.
  bool OpenStore(const TMonitorSettings& settings);

  // Saves items [fromSeq, toSeq) of the live history (or of the session in
  // folder, a previous run's) into path; SaveDone comes when done.  False
  // when a save is under way already.
  bool SaveSpan(uint64_t fromSeq, uint64_t toSeq, const QString& path,
                const std::string& folder = {});
  bool Saving() const { return FSave != nullptr; }
  // Tests: runs the event loop until the save has ended.
  bool WaitSaved(int timeoutMs);

  // At start: removes the sessions beyond those the settings keep; when the
  // previous session ended without its window's close, a box offers to save
  // it (not modal: the window goes on).  False when there is none.
  bool OfferPrevious();

  // The cache folder of the sessions.
  static std::string Root();

  // The file dialog (replaced by tests; empty: cancelled) and the span the
  // user selected (false: none, the whole session then).
  std::function<QString(const QString& suggested)> AskSavePath;
  std::function<bool(uint64_t& fromSeq, uint64_t& toSeq)> SelectedSpan;
  // The marks on this run's session, saved with it.
  std::function<std::vector<TTrafficMark>()> Marks;

signals:
  void SaveDone(bool saved, const QString& error);
  // The live history is another now (the store failed: the ring alone).
  void HistoryChanged();

private:
  struct TSave;
  void SaveClicked();
  void Tick();
  void PollSave();

  TShownWindow& FWindow;
  TBusSession& FSession;
  QAction* ActionSave = nullptr;  // "Uložit relaci…"
  QTimer FTick;
  QTimer FPoll;
  std::unique_ptr<TSave> FSave;
  QPointer<QProgressDialog> FProgress;
};
