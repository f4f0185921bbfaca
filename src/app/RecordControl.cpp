// TRecordControl: the connection's reads into a capture log.
#include "app/RecordControl.h"

#include <cstdio>

TRecordControl::TRecordControl() : FShared(std::make_shared<TShared>()) {
  // The failure comes on the thread whose write failed (mostly the reader's).
  FShared->Recorder.SetOnFailure([this] {
    QMetaObject::invokeMethod(this, &TRecordControl::WriteFailed, Qt::QueuedConnection);
  });
  FTick.setInterval(TCaptureRecorder::TickPeriodMs);
  connect(&FTick, &QTimer::timeout, this, &TRecordControl::Tick);
}

TRecordControl::~TRecordControl() {
  FTick.stop();
  // The window is closing: there is no one left to tell but the terminal.
  if (Recording() && !FShared->Recorder.Close())
    std::fprintf(stderr, "vVantrelBus: the capture %s is incomplete: %s\n",
                 FShared->Recorder.Path().c_str(), FShared->Recorder.ErrorText().c_str());
}

TReadComDaemon::TChunkHook TRecordControl::ChunkHook() const {
  return [shared = FShared](std::string_view bytes, int64_t timeUs) {
    // A reconnect's gap goes before the first read on it.
    if (const int64_t gap = shared->PendingGapUs.exchange(0)) shared->Recorder.AddGap(gap);
    shared->Recorder.AddChunk(bytes, timeUs);
  };
}

bool TRecordControl::Start(const std::string& path, const TCaptureHeader& header) {
  if (Recording()) Stop();
  FShared->PendingGapUs.store(0);
  FGapFromUs = 0;
  if (!FShared->Recorder.Open(path, header)) return false;
  FStartUs = header.StartUs;
  FTick.start();
  return true;
}

bool TRecordControl::Stop() {
  if (!Recording()) return true;
  FTick.stop();
  return FShared->Recorder.Close();
}

void TRecordControl::LineDown(int64_t atUs, bool wasUp) {
  if (!Recording()) return;
  // A gap not yet written (the line came back without data, or the attempt
  // failed) goes on from where it began.
  const bool gapWaiting = FShared->PendingGapUs.exchange(0) != 0;
  if (wasUp && !gapWaiting) FGapFromUs = atUs;
}

void TRecordControl::LineUp(int64_t atUs) {
  if (Recording() && FGapFromUs != 0 && atUs > FGapFromUs)
    FShared->PendingGapUs.store(atUs - FGapFromUs);
}

void TRecordControl::Tick() {
  FShared->Recorder.Tick(WallClockUs());
  if (Recording()) emit Ticked();
}

void TRecordControl::WriteFailed() {
  TCaptureRecorder& recorder = FShared->Recorder;
  // A notice of a recording that has been closed (or replaced) since.
  if (!recorder.IsOpen() || !recorder.Failed()) return;
  FTick.stop();
  recorder.Close();
  emit Failed();
}
