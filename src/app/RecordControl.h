// TRecordControl: recording every read of the connection into a capture log,
// without any widget.  The window feeds it from the connection (the reader's
// chunk hook, the line going down and coming back); "Záznam" in
// TCaptureControl starts and stops it and shows what it reports.
//
//   TRecordControl record;
//   connection->SetOnChunk(record.ChunkHook());    // before the reader starts
//   record.Start(path, header);                    // false: ErrorText() says why
//   record.LineDown(lostUs, true); record.LineUp(backUs);  // a gap line
//   record.Stop();                                 // the file synced
//
// The recording goes on across a disconnect and a reconnect (a gap line); a
// write error (a full disk) closes it and says so through Failed while the
// monitor goes on.  Everything but the chunk hook runs on the window thread.
#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "bus/uVantrelThr.h"
#include "capture/CaptureRecorder.h"

class TRecordControl : public QObject {
  Q_OBJECT

public:
  TRecordControl();
  // A recording still open is closed; a failure then goes to the terminal.
  ~TRecordControl() override;

  // For TBusConnection::SetOnChunk: records every read while recording.
  TReadComDaemon::TChunkHook ChunkHook() const;
  // Starts a recording into path (replaced if it exists; a running one is
  // stopped first); false when the file cannot be written.
  bool Start(const std::string& path, const TCaptureHeader& header);
  // Ends it (the file is synced); false when the file could not be written
  // completely.  True when nothing was recording.
  bool Stop();
  bool Recording() const { return FShared->Recorder.IsOpen(); }
  const TCaptureRecorder& Recorder() const { return FShared->Recorder; }
  // Why the last Start or Stop failed, or why the recording stopped.
  std::string ErrorText() const { return FShared->Recorder.ErrorText(); }

  // Marks the item received at timeUs with text in the recording; false
  // when nothing records, or the item came well before the recording began
  // (not in the file; an opened capture drops a mark older than its first
  // item).  The items of the first read are dated back from it by the
  // line's speed, so a little before the start still counts.
  bool AddMark(int64_t timeUs, const std::string& text) {
    return timeUs >= FStartUs - kMarkSlackUs && FShared->Recorder.AddMark(timeUs, text);
  }
  static constexpr int64_t kMarkSlackUs = 1000000;

  // The line went down at atUs; wasUp: it was reading (not a failed
  // attempt, nor a port already waited for).  A recording's gap begins
  // there, unless one not yet written began earlier.
  void LineDown(int64_t atUs, bool wasUp);
  // The line reads again from atUs: the gap since it went down goes into
  // the recording before the next read.
  void LineUp(int64_t atUs);

signals:
  // Four times a second while recording: the file has been handed on.
  void Ticked();
  // A write failed: the recording is closed; ErrorText() says why.
  void Failed();

private:
  // Shared with the reader thread's chunk hook.
  struct TShared {
    TCaptureRecorder Recorder;
    std::atomic<int64_t> PendingGapUs{0};
  };

  void Tick();
  void WriteFailed();

  std::shared_ptr<TShared> FShared;
  QTimer FTick;
  int64_t FGapFromUs = 0;  // the line went down while recording, at this time
  int64_t FStartUs = 0;    // the recording's start
};
