// Playing a recorded history into a session with an injected clock: every
// item comes when its recorded time (scaled by the speed) has come, never
// before, and no later than the caller's next look at the clock.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "session/BusSession.h"
#include "session/Playback.h"
#include "support/TestBytes.h"
#include "traffic/TrafficArchive.h"

namespace {

constexpr int64_t kT0 = 1'796'738'585'000'000;

// About seconds of traffic: items 0.2-40 ms apart, real bus bytes.
std::unique_ptr<TTrafficArchive> Recording(double seconds, uint32_t seed) {
  auto archive = std::make_unique<TTrafficArchive>();
  archive->BeginSession(kT0);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pause(200, 40000), length(1, 6);
  const std::string bytes = RandomBusBytes(rng, 200000);
  int64_t t = kT0;
  for (std::size_t at = 0;
       t < kT0 + static_cast<int64_t>(seconds * 1e6) && at + 6 < bytes.size();) {
    const auto n = static_cast<std::size_t>(length(rng));
    archive->Append(t, std::string_view(bytes).substr(at, n));
    at += n;
    t += pause(rng);
  }
  archive->Finish();
  return archive;
}

// Plays the whole source from seq, the clock moving 1-30 ms a look, and
// notes the clock at which each item came (µs from the start).
std::vector<int64_t> PlayAll(const TTrafficSource& source, TBusSession& session, double speed,
                             uint64_t from = 0) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> step(1000, 30000);
  TPlayback play(source);
  play.Seek(from, session);
  int64_t now = 0;
  play.SetSpeed(speed, now);
  play.Play(now);
  std::vector<int64_t> came;
  while (!play.Finished()) {
    const std::size_t n = play.Feed(session, now, 1000000);
    came.insert(came.end(), n, now);
    const int64_t wait = play.UsUntilNext(now);
    if (!play.Finished()) EXPECT_GE(wait, 0);
    now += step(rng);
  }
  return came;
}

}  // namespace

TEST(Playback, ItemsComeWithinFiftyMillisecondsOfTheirRecordedTimes) {
  const auto recording = Recording(10, 1);
  ASSERT_GT(recording->TimeUs(recording->End() - 1) - kT0, 9'900'000);
  for (double speed : {1.0, 0.25, 4.0, 16.0}) {
    SCOPED_TRACE(speed);
    TBusSession session;
    const std::vector<int64_t> came = PlayAll(*recording, session, speed);
    ASSERT_EQ(came.size(), recording->Count());
    int64_t worst = 0;
    for (uint64_t seq = 0; seq < recording->End(); ++seq) {
      const auto due = static_cast<int64_t>((recording->TimeUs(seq) - kT0) / speed);
      ASSERT_GE(came[seq], due) << "item " << seq << " came early";
      worst = std::max(worst, came[seq] - due);
    }
    EXPECT_LE(worst, 50000);
    // The session holds the recording as it was.
    const TTrafficRing& ring = session.Traffic();
    ASSERT_EQ(ring.Count(), recording->Count());
    for (uint64_t seq = 0; seq < ring.End(); seq += 97) {
      EXPECT_EQ(ring.Bytes(seq), recording->Bytes(seq));
      EXPECT_EQ(ring.TimeUs(seq), recording->TimeUs(seq));
    }
  }
}

TEST(Playback, PauseHoldsTheClockAndSpeedChangesFromNow) {
  TTrafficArchive archive;
  archive.BeginSession(kT0);
  for (int i = 0; i < 10; ++i) archive.Append(kT0 + i * 1'000'000, "\x41");  // one a second
  archive.Finish();
  TBusSession session;
  TPlayback play(archive);
  play.Seek(0, session);
  EXPECT_EQ(play.Feed(session, 0, 100), 0u) << "paused at first";
  EXPECT_EQ(play.UsUntilNext(0), -1);
  play.Play(0);
  EXPECT_EQ(play.Feed(session, 0, 100), 1u);
  EXPECT_EQ(play.UsUntilNext(400'000), 600'000);
  EXPECT_EQ(play.Feed(session, 2'500'000, 100), 2u);  // 1 s and 2 s
  play.Pause(2'500'000);
  EXPECT_EQ(play.Feed(session, 9'000'000, 100), 0u) << "nothing while paused";
  play.Play(9'000'000);
  EXPECT_EQ(play.UsUntilNext(9'000'000), 500'000) << "3 s recorded: 0.5 s after the pause";
  // Twice as fast from 3 s recorded: 5 s recorded comes 1 s later.
  EXPECT_EQ(play.Feed(session, 9'500'000, 100), 1u);
  play.SetSpeed(2, 9'500'000);
  EXPECT_EQ(play.Feed(session, 10'400'000, 100), 1u) << "4 s only";
  EXPECT_EQ(play.Feed(session, 10'500'000, 100), 1u) << "5 s";
  // Beyond the limits the speed is clamped; 0 is as fast as possible.
  play.SetSpeed(100, 10'500'000);
  EXPECT_EQ(play.Speed(), TPlayback::kMaxSpeed);
  play.SetSpeed(0.01, 10'500'000);
  EXPECT_EQ(play.Speed(), TPlayback::kMinSpeed);
  play.SetSpeed(TPlayback::kFastest, 10'500'000);
  EXPECT_EQ(play.UsUntilNext(10'500'000), 0);
  EXPECT_EQ(play.Feed(session, 10'500'000, 3), 3u) << "the caller's limit";
  EXPECT_EQ(play.Feed(session, 10'500'000, 100), 1u);
  EXPECT_TRUE(play.Finished());
  EXPECT_EQ(play.UsUntilNext(10'500'000), -1);
  EXPECT_EQ(session.Traffic().Count(), 10u);
}

// The recorded clock set back, or jumping ahead by days: no time, as
// vantrel-sim --replay plays it; the pauses around keep their length.
TEST(Playback, ClockStepsPlayAsNoTimeAndPlayingBeginsAtAnyItem) {
  TTrafficArchive archive;
  archive.BeginSession(kT0);
  const int64_t times[] = {kT0,
                           kT0 + 300'000,
                           kT0 - 3'600'000'000,
                           kT0 - 3'599'800'000,
                           kT0 + 86'400'000'000,
                           kT0 + 86'400'500'000};
  for (int64_t t : times) archive.Append(t, "\x41");
  archive.Finish();
  TBusSession session;
  const std::vector<int64_t> came = PlayAll(archive, session, 1);
  ASSERT_EQ(came.size(), 6u);
  // Offsets 0, 0.3, 0.3, 0.5, 0.5, 1.0 s.
  const int64_t due[] = {0, 300'000, 300'000, 500'000, 500'000, 1'000'000};
  for (int i = 0; i < 6; ++i) {
    EXPECT_GE(came[i], due[i]) << i;
    EXPECT_LE(came[i], due[i] + 30000) << i;
  }

  // From item 3 on: its session begins there, the first item at once.
  TBusSession later;
  const std::vector<int64_t> fromThree = PlayAll(archive, later, 1, 3);
  ASSERT_EQ(fromThree.size(), 3u);
  EXPECT_EQ(fromThree[0], 0);
  EXPECT_EQ(later.Traffic().TimeUs(0), times[3]);
  EXPECT_GE(fromThree[2], 500'000);
}
