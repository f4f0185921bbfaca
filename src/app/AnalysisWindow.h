// TAnalysisWindow: what the marks and the playback of the window need of it:
// the history the traffic view shows, its current row, and a way to show a
// playback's session in the views.  The window implements it; tests can too.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

class QString;
class QWidget;
class TBusSession;
class TTrafficSource;

class TAnalysisWindow {
public:
  static constexpr uint64_t kNoItem = std::numeric_limits<uint64_t>::max();

  // The parent of dialogs and boxes.
  virtual QWidget* Host() = 0;
  // The history the traffic view shows (live, a capture, or a playback).
  virtual const TTrafficSource& ShownTraffic() const = 0;
  // The item of the traffic view's current row; kNoItem when none.
  virtual uint64_t CurrentItem() const = 0;
  // Makes the row of item seq (or the first shown after it) current and
  // shows the traffic view; false when no such row is shown.
  virtual bool SelectItem(uint64_t seq) = 0;
  // A note under the traffic view (what a search or a jump found or not).
  virtual void ShowTrafficNote(const QString& text) = 0;
  // Writes a mark into the running recording; false when none runs.
  virtual bool RecordMark(int64_t timeUs, const std::string& text) = 0;

  // The traffic view, the status bar and the graph show session (a
  // playback); nullptr: the opened capture again.
  virtual void ShowPlayback(const TBusSession* session) = 0;
  // Items were played into the session shown: the views follow, and the
  // grid and the status panel show its present.
  virtual void PlaybackMoved(const TBusSession& session) = 0;

protected:
  ~TAnalysisWindow() = default;
};
