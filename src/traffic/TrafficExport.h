// Saving the traffic history as text: vantrel-dump's lines, so that a saved
// view and a dump of the same traffic can be compared line by line.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "traffic/TrafficFilter.h"
#include "traffic/TrafficSource.h"

// Produces the lines of the given rows (every item held when rows is null)
// with the time prefix of mode: "d" counts from the previous line written,
// "z" from the start of the item's session.  Each line goes to sink without
// its line end; sink returns false to stop (the result is then false too).
bool TrafficLines(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                  int maxLoko, const std::function<bool(std::string_view)>& sink);

// Writes those lines to the file at path, each ended by "\n".  The file is
// replaced only when everything was written: the text goes to a temporary
// file beside it first.  On failure error is the cause ("Permission
// denied") and nothing is left behind.
bool ExportTraffic(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                   int maxLoko, const std::string& path, std::string& error,
                   uint64_t* lineCount = nullptr);

// The same file written while its caller goes on: the caller makes the
// lines a few at a time (Step, on the thread that owns the history), a
// thread of the job's own writes them, so that a window saving millions of
// rows answers all along.  The rows are those of the moment the job began.
class TTrafficExportJob {
public:
  TTrafficExportJob(const TTrafficSource& ring, const TTrafficIndex* rows, TTimeMode mode,
                    int maxLoko, const std::string& path);
  ~TTrafficExportJob();  // cancels (nothing saved) and waits for the writer
  TTrafficExportJob(const TTrafficExportJob&) = delete;
  TTrafficExportJob& operator=(const TTrafficExportJob&) = delete;

  // Makes the lines of maxRows rows at most; false once every line is made
  // (or the writer gave up).  Makes nothing while the writer is behind.
  bool Step(std::size_t maxRows);
  void Cancel();
  // The writer has kMaxWaiting bytes to write: Step makes nothing now.
  bool Behind();
  // The writer ended: saved, failed or cancelled.
  bool Finished() const noexcept { return FFinished.load(std::memory_order_acquire); }
  // Waits for the writer; true when the file was saved (error otherwise).
  bool Wait(std::string& error);
  uint64_t Lines() const noexcept { return FLines; }
  // Rows looked at so far, of Total().
  uint64_t Done() const noexcept { return FNext; }
  uint64_t Total() const noexcept { return FTotal; }

private:
  static constexpr std::size_t kMaxWaiting = 8u << 20;  // bytes made, not yet written

  const TTrafficSource& FRing;
  TTrafficIndex FRows;
  bool FAllItems;
  uint64_t FFirst;  // every item: the first held when the job began
  TTimeMode FMode;
  int FMaxLoko;
  int64_t FPrevious = 0;
  uint64_t FNext = 0, FTotal = 0, FLines = 0;

  std::mutex FMutex;
  std::condition_variable FWake;
  std::deque<std::string> FWaiting;
  std::size_t FWaitingBytes = 0;
  bool FNoMore = false, FCancel = false;
  std::atomic<bool> FFinished{false};
  bool FOk = false;
  std::string FError;
  std::thread FWriter;
};
