// TCaptureRecorder: a capture log fed from two threads, as a monitor records
// one: the reader thread's chunk hook adds every read, the owner's loop
// flushes (also while the line is silent) and adds the gaps of reconnects.
// One lock serialises the calls into the writer; the writer never waits for
// its target (see TCaptureWriter), so neither thread is held by a stalled one.
//
//   TCaptureRecorder rec;
//   if (!rec.Open(path, header)) report(rec.ErrorText());
//   connection.SetOnChunk([&](auto bytes, auto us) { rec.AddChunk(bytes, us); });
//   owner's loop, at least every TickPeriodMs:  rec.Tick(WallClockUs());
//   at the end (reader stopped):  if (!rec.Close()) report(rec.ErrorText());
//
// The first write failure (a full disk) stops the recording: nothing more is
// written, the file keeps what was written before, OnFailure runs once (on
// the thread whose call failed) and Failed() turns true.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "capture/CaptureWriter.h"

// "115200 8N1", "9600 8E1.5 rtscts": the line settings as the header's
// "line" key writes them.  stopBit: 0 one, 1 one and a half, 2 two.
std::string CaptureLineText(int baud, int bits, std::string_view parityLetter, int stopBit,
                            bool softFlow, bool hardFlow);

class TCaptureRecorder {
public:
  // Tick at least this often: with the writer's half-second flush period a
  // kill loses at most the last second.
  static constexpr int TickPeriodMs = 250;

  TCaptureRecorder() = default;
  ~TCaptureRecorder() { Close(); }
  TCaptureRecorder(const TCaptureRecorder&) = delete;
  TCaptureRecorder& operator=(const TCaptureRecorder&) = delete;

  // Set before Open.
  void SetOnFailure(std::function<void()> onFailure) { FOnFailure = std::move(onFailure); }

  // Creates the file and writes the first line and the header at once;
  // false with ErrorText() when that fails (nothing stays open then).
  bool Open(const std::string& path, const TCaptureHeader& header);
  bool IsOpen() const { return FOpen.load(std::memory_order_acquire); }
  const std::string& Path() const { return FPath; }

  // Any thread.  No effect once failed or closed.
  void AddChunk(std::string_view bytes, int64_t timeUs);
  void Tick(int64_t nowUs);
  void AddGap(int64_t gapUs);
  // "# mark TIME TEXT": the item received at timeUs is marked with text.
  // False when not recording (or failed).
  bool AddMark(int64_t timeUs, std::string_view text);

  // Flushes, syncs and closes; false with ErrorText() when this or an
  // earlier write failed.  Safe to repeat (the result of the first stays).
  bool Close();

  bool Failed() const { return FFailed.load(std::memory_order_acquire); }
  std::string ErrorText() const;
  uint64_t FileBytes() const;

private:
  // Under FLock: notes the writer's failure after a call returned false.
  void NoteFailure();

  mutable std::mutex FLock;
  TCaptureWriter FWriter;
  std::string FPath;
  std::string FError;
  std::atomic<bool> FOpen{false};
  std::atomic<bool> FFailed{false};
  std::function<void()> FOnFailure;
};
