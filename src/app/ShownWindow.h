// TShownWindow: the narrow face the window turns to the controller of what
// it shows (the live bus or an opened capture, the present or a past
// moment).  The controller draws nothing itself: it hands the window a
// history and a bus state to show, and the window keeps its widgets.
#pragma once

#include <QString>

#include <string>

class QLabel;
class QWidget;
class TBusSession;
struct TTrafficFilter;
struct TBusState;
struct TCaptureContents;

class TShownWindow {
public:
  // The parent of the controller's boxes and dialogs.
  virtual QWidget* Host() = 0;
  // The connect button is down (connected, or waiting for a lost port).
  virtual bool Connected() const = 0;
  // The port of this run (a --port or --demo port, else the setting's).
  virtual std::string RunPort() const = 0;
  // The live bus: its history, series and states.
  virtual const TBusSession& Session() const = 0;
  // What the traffic view shows and how it names locomotives: an opened
  // capture's rows are found with them while it is read.
  virtual TTrafficFilter TrafficFilter() const = 0;
  virtual int TrafficMaxLoko() const = 0;

  // The traffic view, the status bar's figures and the graph show this
  // capture (whose file is called name), or the live history again (nullptr).
  virtual void ShowHistory(TCaptureContents* capture, const QString& name) = 0;
  // The grid and the status panel show this state of the bus.
  virtual void ShowBusState(const TBusState& state) = 0;
  // Before the first ShowBusState of a look into the past: the present's
  // grid and labels are kept, and RestorePresent puts them back unchanged.
  virtual void HoldPresent() = 0;
  virtual void RestorePresent() = 0;
  // No traffic row selected (clicking the same row again shows it again).
  virtual void ClearTrafficSelection() = 0;
  // A note under the traffic view.
  virtual void ShowTrafficNote(const QString& text) = 0;
  // A label at the right end of the status bar; the window owns it then.
  virtual void AddStatusLabel(QLabel* label) = 0;

protected:
  ~TShownWindow() = default;
};
