// TCaptureWriter: records a capture log (format: CaptureLog.h).
//
//   TCaptureWriter log;
//   if (!log.Open(path) || !log.WriteHeader(header)) report(log.LastErrorText());
//   per read:         log.AddChunk(bytes, receivedUs);
//   in the owner's loop, also when nothing comes:  log.FlushIfDue(nowUs);
//   after a reconnect: log.AddGap(gapUs);
//   at the end:       if (!log.Close()) report(log.LastErrorText());
//
// Lines are collected in memory and handed to the kernel (write(2), no fsync)
// once the oldest of them is kFlushPeriodUs old, so a process killed at any
// moment leaves every line older than a second in the file, provided the
// owner calls FlushIfDue at least every kFlushPeriodUs.  The file is synced
// to disk at Close.  Compressed files (".gz") are flushed to a point the
// reader can decompress up to at the same moments.
//
// Writing never waits for the target: a pipe, a socket or a terminal that
// takes nothing just now keeps the rest here, and it goes out at the next
// call.  One that takes nothing for kStallLimitUs, or lets kBacklogLimit
// pile up, fails the recording ("takes no data"), so that a stalled target
// never holds the thread that records, nor memory without bound.
//
// The first failure (a full disk, a vanished device) is kept with its cause;
// from then on nothing more is written and every call returns false, so the
// file ends with the last complete write: at worst its last line is torn,
// which the reader tolerates.
//
// Not thread-safe: one thread at a time (the owner serialises the calls).
// Times are microseconds since the epoch (UTC); FlushIfDue must be given the
// same clock as AddChunk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "capture/CaptureLog.h"

struct z_stream_s;

class TCaptureWriter {
public:
  static constexpr int64_t kFlushPeriodUs = 500000;
  static constexpr std::size_t kBufferLimit = 64 * 1024;  // written at once when reached
  static constexpr int64_t kStallLimitUs = 5000000;
  static constexpr std::size_t kBacklogLimit = 16u << 20;
  // Close waits this long for a slow target to take the rest.
  static constexpr int64_t kCloseWaitUs = 1000000;

  TCaptureWriter();
  ~TCaptureWriter();  // closes; the result of that is lost, call Close() to see it
  TCaptureWriter(const TCaptureWriter&) = delete;
  TCaptureWriter& operator=(const TCaptureWriter&) = delete;

  // Creates or truncates the file (gzip-compressed when the name ends in
  // ".gz") and writes the first line at once, so that a file that cannot be
  // written fails here.  False with the cause; nothing stays open then.
  bool Open(const std::string& path);
  bool IsOpen() const { return FFd >= 0; }
  const std::string& Path() const { return FPath; }

  // The header's metadata lines, written at once.
  bool WriteHeader(const TCaptureHeader& header);
  // One "# KEY VALUE" line, written at once.  The key is one word of
  // printable ASCII; "gap" and "vantrel-capture" are reserved: such keys are
  // refused (false, nothing written, not a write failure).
  bool AddMetadata(std::string_view key, std::string_view value);
  // One read: its bytes and its receive time.  An empty read writes no line
  // but flushes what is due, so a reader that passes on every read, empty
  // or not, needs no FlushIfDue of its own.
  bool AddChunk(std::string_view bytes, int64_t timeUs);
  // "# gap SECONDS": no connection for gapUs; written at once.
  bool AddGap(int64_t gapUs);

  // Writes what waits once its oldest line is kFlushPeriodUs old (or when
  // the clock went back).  Cheap when nothing is due: call it from the loop.
  bool FlushIfDue(int64_t nowUs);
  // Writes what waits now.
  bool Flush();
  // Flushes, ends the compressed stream, syncs and closes.  False with the
  // cause when any of that, or an earlier write, failed.
  bool Close();

  bool Failed() const { return FErrorCode != 0 || !FErrorText.empty(); }
  int LastErrorCode() const { return FErrorCode; }  // errno, 0 for a compression error
  const std::string& LastErrorText() const { return FErrorText; }  // "No space left on device"

  uint64_t BusBytes() const { return FBusBytes; }    // bytes of all chunks added
  uint64_t FileBytes() const { return FFileBytes; }  // bytes the target has taken so far

private:
  void AppendMetadata(std::string_view key, std::string_view value);
  bool Push(bool sync);
  bool Deflate(int flush);
  bool WriteRaw(const char* data, std::size_t size);
  // Hands on what the target left: false once it has failed or stalled.
  bool Drain();
  bool Fail(int code, std::string text);
  void Release();

  std::string FPath;
  int FFd = -1;
  std::unique_ptr<z_stream_s> FZip;  // the compressor of a ".gz" file
  std::unique_ptr<char[]> FZipOut;
  std::string FBuffer;
  int64_t FPendingSinceUs = 0;  // time of the oldest line not yet flushed
  bool FPending = false;        // lines wait in FBuffer or inside the compressor
  int FErrorCode = 0;
  std::string FErrorText;
  uint64_t FBusBytes = 0;
  uint64_t FFileBytes = 0;
  std::string FBacklog;         // written, not yet taken by the target
  int64_t FStalledSinceUs = 0;  // monotonic; 0 while the target takes data
};
