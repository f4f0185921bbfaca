// Saving the traffic history as vantrel-dump's lines.
#include "traffic/TrafficExport.h"

#include <algorithm>

#include "base/SaveFile.h"

namespace {

// A row's line with the time prefix counted from the line made before.
void AppendLine(std::string& out, const TTrafficSource& ring, uint64_t seq, TTimeMode mode,
                int maxLoko, int64_t& previous) {
  const int64_t timeUs = ring.TimeUs(seq);
  AppendTrafficTimePrefix(out, mode, timeUs, previous, ring.SessionStart(seq));
  AppendTrafficItemLine(out, ring.Bytes(seq), maxLoko);
  previous = timeUs;
}

}  // namespace

bool TrafficLines(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                  int maxLoko, const std::function<bool(std::string_view)>& sink) {
  int64_t previous = 0;
  std::string line;
  auto one = [&](uint64_t seq) {
    line.clear();  // one buffer for every line
    AppendLine(line, ring, seq, mode, maxLoko, previous);
    return sink(line);
  };
  if (rows) {
    for (std::size_t r = 0; r < rows->Rows(); ++r) {
      const uint64_t seq = rows->SeqAt(r);
      if (ring.Holds(seq) && !one(seq)) return false;
    }
  } else {
    for (uint64_t seq = ring.First(); seq < ring.End(); ++seq)
      if (!one(seq)) return false;
  }
  return true;
}

bool ExportTraffic(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                   int maxLoko, const std::string& path, std::string& error, uint64_t* lineCount) {
  uint64_t lines = 0;
  const bool saved = SaveFileWhole(
      path,
      [&](TFileSink& file) {
        return TrafficLines(ring, rows, mode, maxLoko, [&](std::string_view line) {
          ++lines;
          return file.Write(line) && file.Write("\n");
        });
      },
      error);
  if (saved && lineCount) *lineCount = lines;
  return saved;
}

TTrafficExportJob::TTrafficExportJob(const TTrafficSource& ring, const TTrafficIndex* rows,
                                     TTimeMode mode, int maxLoko, const std::string& path)
    : FRing(ring),
      FAllItems(rows == nullptr),
      FFirst(ring.First()),
      FMode(mode),
      FMaxLoko(maxLoko) {
  if (rows) FRows = *rows;
  FTotal = FAllItems ? ring.End() - FFirst : FRows.Rows();
  FWriter = std::thread([this, path] {
    std::string error;
    const bool ok = SaveFileWhole(
        path,
        [this](TFileSink& file) {
          for (;;) {
            std::string text;
            {
              std::unique_lock<std::mutex> lock(FMutex);
              FWake.wait(lock, [this] { return FCancel || FNoMore || !FWaiting.empty(); });
              if (FCancel) return false;
              if (FWaiting.empty()) return true;  // every line made and written
              text = std::move(FWaiting.front());
              FWaiting.pop_front();
              FWaitingBytes -= text.size();
            }
            if (!file.Write(text)) return false;
          }
        },
        error);
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FOk = ok;
      FError = error;
    }
    FFinished.store(true, std::memory_order_release);
  });
}

TTrafficExportJob::~TTrafficExportJob() {
  Cancel();
  if (FWriter.joinable()) FWriter.join();
}

void TTrafficExportJob::Cancel() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FCancel = true;
  }
  FWake.notify_all();
}

bool TTrafficExportJob::Behind() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FWaitingBytes >= kMaxWaiting;
}

bool TTrafficExportJob::Step(std::size_t maxRows) {
  if (Finished()) return false;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FNoMore || FCancel) return false;
    if (FWaitingBytes >= kMaxWaiting) return true;  // the disk is behind: memory stays bounded
  }
  std::string text;
  const uint64_t end = std::min<uint64_t>(FTotal, FNext + maxRows);
  for (; FNext < end; ++FNext) {
    const uint64_t seq = FAllItems ? FFirst + FNext : FRows.SeqAt(static_cast<std::size_t>(FNext));
    // Items gone from a live ring since the job began have no line.
    if (!FRing.Holds(seq)) continue;
    AppendLine(text, FRing, seq, FMode, FMaxLoko, FPrevious);
    text += '\n';
    ++FLines;
  }
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FWaitingBytes += text.size();
    if (!text.empty()) FWaiting.push_back(std::move(text));
    FNoMore = FNext >= FTotal;
  }
  FWake.notify_all();
  return FNext < FTotal;
}

bool TTrafficExportJob::Wait(std::string& error) {
  if (FWriter.joinable()) FWriter.join();
  std::lock_guard<std::mutex> lock(FMutex);
  error = FError;
  return FOk;
}
