// SaveTrafficSpan: a history's stretch written with the capture writer.
#include "session/SessionSave.h"

#include <algorithm>
#include <string>

#include "capture/CaptureWriter.h"

bool SaveTrafficSpan(const TTrafficSource& source, uint64_t fromSeq, uint64_t toSeq,
                     const std::string& path, const TCaptureHeader& header, std::string& error,
                     const std::atomic<bool>* cancel, std::atomic<uint64_t>* done,
                     const std::vector<TTrafficMark>& marks) {
  fromSeq = std::max(fromSeq, source.First());
  toSeq = std::min(toSeq, source.End());
  TCaptureWriter log;
  TCaptureHeader head = header;
  if (head.StartUs == 0 && fromSeq < toSeq) head.StartUs = source.SessionStart(fromSeq);
  if (!log.Open(path) || !log.WriteHeader(head)) {
    error = log.LastErrorText();
    return false;
  }
  std::string read;  // the items of one time: one read
  int64_t readUs = 0;
  auto put = [&]() {
    const bool ok = read.empty() || log.AddChunk(read, readUs);
    read.clear();
    return ok;
  };
  bool ok = true;
  int64_t lastUs = 0;
  for (uint64_t seq = fromSeq; ok && seq < toSeq; ++seq) {
    if ((seq & 0xFFFF) == 0 && done) done->store(seq - fromSeq, std::memory_order_relaxed);
    if (cancel && (seq & 0xFFFF) == 0 && cancel->load(std::memory_order_relaxed)) {
      log.Close();
      error = "cancelled";
      return false;
    }
    const int64_t t = source.TimeUs(seq);
    const int64_t start = source.SessionStart(seq);
    const TTrafficGap* gap = source.GapWithin(seq, seq);
    // A new connection without a marked gap is one too: the reader then
    // frames afresh, as the reader did live.
    const bool newConnection = seq > fromSeq && start != source.SessionStart(seq - 1);
    if (gap || newConnection) {
      ok = put();
      const int64_t gapUs = gap ? gap->ToUs - gap->FromUs : start - lastUs;
      if (ok && seq > fromSeq) ok = log.AddGap(std::max<int64_t>(gapUs, 0));
    }
    if (ok && (!read.empty() && t != readUs)) ok = put();
    read.append(source.Bytes(seq));
    readUs = t;
    lastUs = t;
  }
  ok = ok && put();
  // A mark names its item by the item's time, wherever its line stands.
  for (const TTrafficMark& mark : marks)
    if (ok && mark.Seq >= fromSeq && mark.Seq < toSeq)
      ok = log.AddMetadata(kCaptureMarkKey, FormatCaptureMark(mark.TimeUs, mark.Text));
  if (!log.Close() || !ok) {
    error = log.LastErrorText();
    return false;
  }
  return true;
}
