// TCaptureRecorder: recording from the reader's thread, synced from the window's.
#include "capture/CaptureRecorder.h"

std::string CaptureLineText(int baud, int bits, std::string_view parityLetter, int stopBit,
                            bool softFlow, bool hardFlow) {
  std::string text = std::to_string(baud) + " " + std::to_string(bits);
  text.append(parityLetter.empty() ? std::string_view("N") : parityLetter.substr(0, 1));
  text += stopBit == 1 ? "1.5" : stopBit == 2 ? "2" : "1";
  if (hardFlow) text += " rtscts";
  if (softFlow) text += " xonxoff";
  return text;
}

bool TCaptureRecorder::Open(const std::string& path, const TCaptureHeader& header) {
  Close();
  std::lock_guard<std::mutex> guard(FLock);
  FPath = path;
  FError.clear();
  FFailed = false;
  if (!FWriter.Open(path) || !FWriter.WriteHeader(header)) {
    FError = FWriter.LastErrorText();
    FWriter.Close();
    return false;
  }
  FOpen = true;
  return true;
}

void TCaptureRecorder::AddChunk(std::string_view bytes, int64_t timeUs) {
  bool failed = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FOpen || FFailed) return;
    if (!FWriter.AddChunk(bytes, timeUs)) {
      NoteFailure();
      failed = true;
    }
  }
  if (failed && FOnFailure) FOnFailure();
}

void TCaptureRecorder::Tick(int64_t nowUs) {
  bool failed = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FOpen || FFailed) return;
    if (!FWriter.FlushIfDue(nowUs)) {
      NoteFailure();
      failed = true;
    }
  }
  if (failed && FOnFailure) FOnFailure();
}

void TCaptureRecorder::AddGap(int64_t gapUs) {
  bool failed = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FOpen || FFailed) return;
    if (!FWriter.AddGap(gapUs)) {
      NoteFailure();
      failed = true;
    }
  }
  if (failed && FOnFailure) FOnFailure();
}

bool TCaptureRecorder::AddMark(int64_t timeUs, std::string_view text) {
  bool failed = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FOpen || FFailed) return false;
    if (!FWriter.AddMetadata(kCaptureMarkKey, FormatCaptureMark(timeUs, text))) {
      NoteFailure();
      failed = true;
    }
  }
  if (failed && FOnFailure) FOnFailure();
  return !failed;
}

bool TCaptureRecorder::Close() {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FOpen) return !FFailed;
  FOpen = false;
  // A failed writer still closes its descriptor; its first cause stands.
  if (!FWriter.Close() && !FFailed) {
    FError = FWriter.LastErrorText();
    FFailed = true;
  }
  return !FFailed;
}

void TCaptureRecorder::NoteFailure() {
  FError = FWriter.LastErrorText();
  FFailed = true;
}

std::string TCaptureRecorder::ErrorText() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FError;
}

uint64_t TCaptureRecorder::FileBytes() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FWriter.FileBytes();
}
