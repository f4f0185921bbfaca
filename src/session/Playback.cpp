// Playing a recorded history into a session; see the header.
#include "session/Playback.h"

#include <algorithm>
#include <cmath>

#include "session/BusSession.h"

TPlayback::TPlayback(const TTrafficSource& source, int64_t maxStepUs)
    : FSource(source), FClock(maxStepUs) {
  FNext = source.End();
}

void TPlayback::Seek(uint64_t seq, TBusSession& session) {
  FPlaying = false;
  FNext = std::max(seq, FSource.First());
  FClock.Reset();
  FNextOffsetUs = 0;
  FAnchorPosUs = 0;
  if (FNext < FSource.End()) {
    FNextOffsetUs = FClock.Offset(FSource.TimeUs(FNext));
    const int64_t start = FSource.SessionStart(FNext);
    session.Traffic().BeginSession(start != 0 ? start : FSource.TimeUs(FNext));
  }
}

int64_t TPlayback::PositionUs(int64_t nowUs) const noexcept {
  if (!FPlaying || FSpeed == kFastest) return FAnchorPosUs;
  return FAnchorPosUs +
         static_cast<int64_t>(std::llround(static_cast<double>(nowUs - FAnchorNowUs) * FSpeed));
}

void TPlayback::Anchor(int64_t nowUs) {
  FAnchorPosUs = PositionUs(nowUs);
  FAnchorNowUs = nowUs;
}

void TPlayback::Play(int64_t nowUs) {
  if (FPlaying) return;
  // A pause holds the position; playing goes on from it.
  FAnchorNowUs = nowUs;
  FPlaying = true;
}

void TPlayback::Pause(int64_t nowUs) {
  if (!FPlaying) return;
  Anchor(nowUs);
  FPlaying = false;
}

void TPlayback::SetSpeed(double speed, int64_t nowUs) {
  Anchor(nowUs);
  FSpeed = speed == kFastest || !std::isfinite(speed) ? kFastest
                                                      : std::clamp(speed, kMinSpeed, kMaxSpeed);
}

std::size_t TPlayback::Feed(TBusSession& session, int64_t nowUs, std::size_t maxItems) {
  if (!FPlaying) return 0;
  const bool fastest = FSpeed == kFastest;
  const int64_t position = PositionUs(nowUs);
  const uint64_t end = FSource.End();
  std::size_t fed = 0;
  while (fed < maxItems && FNext < end && (fastest || FNextOffsetUs <= position)) {
    // A reconnect in the recording shows as the gap it was.
    if (const TTrafficGap* gap = FSource.GapWithin(FNext, FNext); gap && gap->Seq == FNext) {
      session.Series().MarkLoss(gap->FromUs);
      session.Traffic().MarkGap(gap->FromUs, gap->ToUs);
    }
    const int64_t timeUs = FSource.TimeUs(FNext);
    session.Take(timeUs, FSource.Bytes(FNext));
    ++fed;
    if (++FNext < end) FNextOffsetUs = FClock.Offset(FSource.TimeUs(FNext));
  }
  // As fast as possible, the position is where the items got to, so that a
  // slower speed goes on from there.
  if (fastest) {
    FAnchorPosUs = FNextOffsetUs;
    FAnchorNowUs = nowUs;
  }
  return fed;
}

int64_t TPlayback::UsUntilNext(int64_t nowUs) const noexcept {
  if (!FPlaying || Finished()) return -1;
  if (FSpeed == kFastest) return 0;
  const int64_t ahead = FNextOffsetUs - PositionUs(nowUs);
  if (ahead <= 0) return 0;
  return static_cast<int64_t>(std::ceil(static_cast<double>(ahead) / FSpeed));
}
