// TCaptureLoad: reads a capture file (a capture log or raw bytes, ".gz" too)
// and frames it as the reader framed it live, into what the window shows of
// it: a session like the live one, with every item in a traffic archive, the
// series of the graph and the bus states for the rows.  Runs on a thread of its own so that the
// window stays responsive; the window polls its progress and takes the result when done.
//
// A log's items get the time of the read that completed them; after a gap
// (a reconnect) the framing starts afresh and a new session begins, as with
// a new reader.  A raw capture has no times: its items are placed as if the
// line had carried its bytes back to back at the given speed, ending at the
// file's modification time (the raw log's last write).
//
// No Qt: usable from a test or a benchmark without a window.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "series/SeriesStore.h"
#include "session/BusSession.h"
#include "session/KeptCapture.h"
#include "traffic/BusState.h"
#include "traffic/TrafficArchive.h"
#include "traffic/TrafficFilter.h"
#include "traffic/TrafficMarks.h"

struct TCaptureContents {
  std::string Path;
  bool IsLog = false;
  // The capture as a session (null when the file could not be read at all).
  std::unique_ptr<TBusSession> Session;
  // The traffic view's rows under the filter it had when the reading began,
  // found on the way so that showing them costs the window nothing.
  TTrafficIndex Rows;
  TTrafficFilter RowsFilter;
  int RowsMaxLoko = 16;
  // False: Rows were not found (a kept conversion reused); the view finds them.
  bool HasRows = true;
  // The items were not read: the conversion kept from an earlier opening of
  // the same, unchanged file was taken.
  bool Reused = false;

  // From the log's header, where it has one.
  std::string Port, Line, Program;
  int64_t StartUs = 0;  // the recording's start, else the first item's time
  int64_t EndUs = 0;    // the last item's time
  uint64_t Gaps = 0;    // reconnects
  // The log's marks, each on the item received nearest its time.
  TTrafficMarks Marks;

  // What went wrong on the way; the items read before stay usable.
  std::string ErrorText;  // the file could not be read (at all when Traffic is empty)
  uint64_t MalformedLines = 0;
  uint64_t FirstMalformedLine = 0;
  std::string FirstMalformedReason;
  bool Truncated = false;  // the file ends inside a line or a compressed stream
  bool CutShort =
      false;  // the archive's memory limit (or the disk) was reached: only the beginning
  bool Cancelled = false;
};

class TCaptureLoad {
public:
  struct TOptions {
    // A raw capture's line: bytes a second are baud / bits on the line per byte.
    int Baud = 9600;
    int LineBitsPerByte = 10;  // start bit, eight data bits, stop bit
    uint64_t MemoryLimit = TTrafficArchive::kDefaultMemoryLimit;
    // The graph keeps this much of the capture (its newest part).
    int64_t SeriesSeconds = 7 * 24 * 3600;
    // Where the items go: a session store in a new folder under StoreRoot
    // (on disk, no memory limit), or, when empty or that fails, an archive in
    // memory (MemoryLimit).  A complete conversion is kept there with what
    // reopening the unchanged file needs, and then reused; the last few are
    // kept, and others not in use are removed.
    std::string StoreRoot;
    // The traffic view's filter, and the MaxLoko its text is matched with.
    TTrafficFilter Filter;
    int MaxLoko = 16;
  };

  TCaptureLoad(std::string path, const TOptions& options);
  ~TCaptureLoad();  // cancels and waits for the thread
  TCaptureLoad(const TCaptureLoad&) = delete;
  TCaptureLoad& operator=(const TCaptureLoad&) = delete;

  // Reads on a thread of its own; Done() tells when it has finished.
  void Start();
  // Reads here and now (tests, benchmarks).
  void Run();
  // Asks the reading to stop soon; the result then says Cancelled.
  void Cancel() { FCancel.store(true, std::memory_order_relaxed); }
  bool Done() const { return FDone.load(std::memory_order_acquire); }

  // How far it got: the share of the file read (0 to 1), or below 0 when it
  // cannot be told (a compressed file); bus bytes and items so far.
  double Progress() const;
  uint64_t BusBytes() const { return FBusBytes.load(std::memory_order_relaxed); }
  uint64_t Items() const { return FItems.load(std::memory_order_relaxed); }

  // Once Done(): the result, taken once.
  TCaptureContents Take();

private:
  void Read();
  bool Reuse(const TCaptureIdentity& identity);
  void Keep(const TCaptureIdentity& identity, const TSessionStore& store,
            const TSeriesStore& series, const TStateHistory& states);
  uint64_t CountRawBytes();

  std::string FPath;
  TOptions FOptions;
  TCaptureContents FResult;
  std::thread FThread;
  std::atomic<bool> FCancel{false};
  std::atomic<bool> FDone{false};
  std::atomic<uint64_t> FBusBytes{0};
  std::atomic<uint64_t> FItems{0};
  std::atomic<uint64_t> FFileRead{0};  // estimated bytes of the file read
  uint64_t FFileSize = 0;              // 0: not known
  uint64_t FPlainSize = 0;             // the bytes within, compressed or not
  int64_t FModifiedUs = 0;             // the file's last change
};
