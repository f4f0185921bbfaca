// TPlayback: plays a recorded traffic history into a fresh session as the
// bus delivered it, so that every view fed by the session moves as it would
// live.  The items come from any TTrafficSource by number; their recorded
// times set the pace (TReplayClock's rules, as vantrel-sim --replay plays a
// log), divided by the speed.  The caller owns the clock: it passes the
// present (monotonic, µs) to every call, and asks how long to wait.
//
//   TPlayback play(capture);
//   play.Seek(seq, session);                 // from this item, paused
//   play.SetSpeed(2, now); play.Play(now);
//   on a timer:  play.Feed(session, now, limit);  then draw the session
//
// One thread; no Qt.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bus/ReplayClock.h"
#include "traffic/TrafficSource.h"

class TBusSession;

class TPlayback {
public:
  static constexpr double kMinSpeed = 0.25;
  static constexpr double kMaxSpeed = 16;
  // The speed of "as fast as possible": every item is due at once (the
  // caller's limit a call keeps the window responsive).
  static constexpr double kFastest = 0;

  explicit TPlayback(const TTrafficSource& source,
                     int64_t maxStepUs = TReplayClock::kDefaultMaxStepUs);

  // Paused at item seq (the first held when it is no longer held); the
  // session's history begins there.
  void Seek(uint64_t seq, TBusSession& session);
  void Play(int64_t nowUs);
  void Pause(int64_t nowUs);
  bool Playing() const noexcept { return FPlaying; }
  // Every item has been played.
  bool Finished() const noexcept { return FNext >= FSource.End(); }
  // kFastest, or clamped to [kMinSpeed, kMaxSpeed]; the pace changes from now.
  void SetSpeed(double speed, int64_t nowUs);
  double Speed() const noexcept { return FSpeed; }

  // Hands the session the items due by nowUs, at most maxItems of them, each
  // with its recorded time; the count handed.
  std::size_t Feed(TBusSession& session, int64_t nowUs, std::size_t maxItems);
  // How long from nowUs until the next item is due: 0 when it is due now,
  // -1 when none will be (paused, or finished).
  int64_t UsUntilNext(int64_t nowUs) const noexcept;

  // The next item to play.
  uint64_t Next() const noexcept { return FNext; }
  // Where the playback stands: the recorded offset played by nowUs (µs from
  // the item it began at, on TReplayClock's reckoning).
  int64_t PositionUs(int64_t nowUs) const noexcept;

private:
  void Anchor(int64_t nowUs);

  const TTrafficSource& FSource;
  TReplayClock FClock;
  uint64_t FNext = 0;
  int64_t FNextOffsetUs = 0;  // when FNext plays, on the clock's reckoning
  bool FPlaying = false;
  double FSpeed = 1;
  int64_t FAnchorNowUs = 0;  // the position was FAnchorPosUs at FAnchorNowUs
  int64_t FAnchorPosUs = 0;
};
