// The session store: what goes in comes back, from disk, whatever the cache
// holds; the size limit drops the oldest part; old sessions go; a killed
// writer leaves a store the next run reads; a span saves as a capture log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "capture/CaptureReader.h"
#include "session/BusSession.h"
#include "session/SessionSave.h"
#include "session/SessionStore.h"
#include "support/ChildProcess.h"
#include "traffic/TrafficFilter.h"
#include "traffic/TrafficRing.h"

namespace {

namespace fs = std::filesystem;

struct TTempDir {
  std::string Path;
  TTempDir() {
    char tmpl[] = "/tmp/vantrel-store-XXXXXX";
    Path = ::mkdtemp(tmpl);
  }
  ~TTempDir() { fs::remove_all(Path); }
};

// A busy line in miniature: calls, device messages of any length (some
// longer than a page's inline bytes), status messages, several items to a
// read (one time).
struct TLine {
  std::mt19937 Random{7};
  int64_t TimeUs = 1765300000000000;
  int SameTime = 0;
  std::string Next() {
    if (SameTime-- <= 0) {
      TimeUs += 1 + Random() % 3000;
      SameTime = static_cast<int>(Random() % 4);
    }
    switch (Random() % 4) {
      case 0:
      case 1:
        return std::string(1, static_cast<char>(0x80 | (1 + Random() % 31)));
      case 2: {
        return std::string("\x00\x81\x81", 3);
      }
      default: {
        std::string s(1 + Random() % 40, '\0');
        for (char& c : s) c = static_cast<char>(0x20 + Random() % 90);
        return s;
      }
    }
  }
};

void ExpectSame(const TTrafficSource& want, const TTrafficSource& got, uint64_t from, uint64_t to) {
  for (uint64_t seq = from; seq < to; ++seq) {
    ASSERT_EQ(got.Bytes(seq), want.Bytes(seq)) << "item " << seq;
    ASSERT_EQ(got.TimeUs(seq), want.TimeUs(seq)) << "item " << seq;
    ASSERT_EQ(got.Kind(seq), want.Kind(seq)) << "item " << seq;
    ASSERT_EQ(got.Device(seq), want.Device(seq)) << "item " << seq;
    ASSERT_EQ(got.SessionStart(seq), want.SessionStart(seq)) << "item " << seq;
    const TTrafficGap* a = want.GapWithin(seq, seq);
    const TTrafficGap* b = got.GapWithin(seq, seq);
    ASSERT_EQ(a != nullptr, b != nullptr) << "item " << seq;
    if (a) {
      EXPECT_EQ(a->ToUs - a->FromUs, b->ToUs - b->FromUs);
    }
  }
}

// Blocks of items at once match them one by one: blocks of odd sizes that
// straddle pages, and the filter's scan, which reads blocks.
void ExpectSameBlocks(const TTrafficSource& want, const TSessionStore& got) {
  std::vector<TTrafficSource::TItemView> out(4099);
  for (std::size_t size : {std::size_t{1}, std::size_t{777}, out.size()}) {
    for (uint64_t seq = got.First(); seq < got.End(); seq += size) {
      const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(size, got.End() - seq));
      got.Items(seq, n, out.data());
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(out[i].Bytes, want.Bytes(seq + i)) << "item " << seq + i << " block " << size;
        ASSERT_EQ(out[i].TimeUs, want.TimeUs(seq + i)) << "item " << seq + i;
        ASSERT_EQ(out[i].Kind, want.Kind(seq + i)) << "item " << seq + i;
        ASSERT_EQ(out[i].Device, want.Device(seq + i)) << "item " << seq + i;
      }
    }
  }
  TTrafficFilter filter;
  filter.Text = "4";
  TTrafficMatcher a(filter.Text, 16), b(filter.Text, 16);
  TTrafficIndex x, y;
  x.Reset(got.First());
  y.Reset(got.First());
  x.Scan(want, got.End(), filter, a);
  y.Scan(got, got.End(), filter, b);
  ASSERT_EQ(x.Rows(), y.Rows());
  EXPECT_GT(y.Rows(), 100u);
  for (std::size_t r = 0; r < x.Rows(); ++r) ASSERT_EQ(x.SeqAt(r), y.SeqAt(r)) << "row " << r;
}

// Feeds count items to both, with a reconnect (gap and new session) at every
// third of the way; flushes as a window's timer would.
void Feed(TSessionStore& store, TTrafficRing& ring, TLine& line, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) {
    if (i % (count / 3 + 1) == count / 6) {
      store.MarkGap(line.TimeUs, line.TimeUs + 2500000);
      ring.MarkGap(line.TimeUs, line.TimeUs + 2500000);
      line.TimeUs += 2500000;
      store.BeginSession(line.TimeUs);
      ring.BeginSession(line.TimeUs);
    }
    const std::string item = line.Next();
    store.Append(ClassifyItem(item), line.TimeUs, item);
    ring.Append(line.TimeUs, item);
    store.FlushIfDue(line.TimeUs);
  }
}

TEST(SessionStore, ItemsComeBackFromDiskInAnyOrderAndAfterReopening) {
  TTempDir dir;
  TSessionStore store;
  ASSERT_TRUE(store.Create(dir.Path, 1765300000000000)) << store.ErrorText();
  TTrafficRing ring(TTrafficRing::kMaxCapacity);
  TLine line;
  const uint64_t n = 300000;  // many pages, more than the cache holds
  Feed(store, ring, line, n);
  ASSERT_EQ(store.End(), n);
  EXPECT_FALSE(store.Failed());
  // Forwards (some items still waiting in memory), then backwards from the
  // end, so that pages go out of the cache and are read again.
  ExpectSame(ring, store, 0, n);
  ExpectSameBlocks(ring, store);
  for (uint64_t seq = n; seq-- > 0;) ASSERT_EQ(store.Bytes(seq), ring.Bytes(seq)) << "item " << seq;
  EXPECT_EQ(store.TotalBytes(), ring.TotalBytes());
  EXPECT_EQ(store.UnrecognisedBytes(), ring.UnrecognisedBytes());
  EXPECT_LT(store.MemoryBytes(), 16u << 20) << "the store must not hold the session in memory";
  // In blocks, as scans read: the same items, across pages and into those
  // still waiting.
  std::vector<TTrafficSource::TItemView> block(1000);
  for (uint64_t seq = 0; seq < n; seq += block.size()) {
    const std::size_t count = std::min<std::size_t>(block.size(), n - seq);
    store.Items(seq, count, block.data());
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_EQ(block[i].Bytes, ring.Bytes(seq + i)) << "item " << seq + i;
      ASSERT_EQ(block[i].TimeUs, ring.TimeUs(seq + i)) << "item " << seq + i;
      ASSERT_EQ(block[i].Kind, ring.Kind(seq + i)) << "item " << seq + i;
      ASSERT_EQ(block[i].Device, ring.Device(seq + i)) << "item " << seq + i;
    }
  }
  // A copy for another thread reads what is on disk, not what still waits.
  const std::unique_ptr<TSessionStore> copy = store.ReaderCopy();
  ASSERT_NE(copy, nullptr);
  EXPECT_LT(copy->End(), n) << "items wait in memory";
  EXPECT_GT(copy->End(), n / 2);
  ExpectSame(ring, *copy, 0, copy->End());

  const std::string folder = store.Folder();
  store.Close();
  TSessionStore again;
  ASSERT_TRUE(again.OpenExisting(folder)) << again.ErrorText();
  ASSERT_EQ(again.End(), n);
  ExpectSame(ring, again, 0, n);
  ExpectSameBlocks(ring, again);
  EXPECT_EQ(again.TotalBytes(), ring.TotalBytes());
  EXPECT_EQ(again.UnrecognisedBytes(), ring.UnrecognisedBytes());
}

TEST(SessionStore, ABlockOfAQuietLinesItemsSpanningManyPagesHoldsAllItsBytes) {
  // A record (page) a second with one item each: a block of items reads
  // more pages than the cache keeps, and every view must still hold.
  TTempDir dir;
  TSessionStore store;
  ASSERT_TRUE(store.Create(dir.Path, 1765300000000000)) << store.ErrorText();
  TTrafficRing ring(TTrafficRing::kMinCapacity);
  TLine line;
  for (int i = 0; i < 200; ++i) {
    const std::string item = line.Next();
    store.Append(ClassifyItem(item), line.TimeUs, item);
    ring.Append(line.TimeUs, item);
    store.Flush();
  }
  std::vector<TTrafficSource::TItemView> out(200);
  store.Items(0, out.size(), out.data());
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i].Bytes, ring.Bytes(i)) << i;
  EXPECT_LT(store.MemoryBytes(), 1u << 20);
  store.Bytes(0);  // the cache is back to its size
  store.Items(100, 50, out.data());
  for (std::size_t i = 0; i < 50; ++i) ASSERT_EQ(out[i].Bytes, ring.Bytes(100 + i)) << i;
}

TEST(SessionStore, ItemsWaitInMemoryForASecondOrAFullChunk) {
  TTempDir dir;
  TSessionStore store;
  ASSERT_TRUE(store.Create(dir.Path, 1000000)) << store.ErrorText();
  store.BeginSession(1000000);
  const uint64_t empty = store.DiskBytes();
  store.Append(ClassifyItem("\x81"), 1000000, "\x81");
  store.FlushIfDue(1900000);
  EXPECT_EQ(store.DiskBytes(), empty) << "written before a second had passed";
  EXPECT_EQ(store.Bytes(0), "\x81");  // readable while waiting
  store.FlushIfDue(2000000);
  EXPECT_GT(store.DiskBytes(), empty);
  // A flood goes out a chunk at a time, never in pieces smaller.
  const uint64_t before = store.DiskBytes();
  const std::string big(1000, 'x');
  for (int i = 0; i < 200; ++i) store.Append(ClassifyItem(big), 3000000, big);
  EXPECT_GE(store.DiskBytes() - before, TSessionStore::kChunkBytes);
  EXPECT_LT(store.DiskBytes() - before, 200 * 1000u) << "the rest waits for its second";
}

TEST(SessionStore, SizeLimitDropsTheOldestSegmentsAndSaysSo) {
  TTempDir dir;
  TSessionStore store;
  ASSERT_TRUE(store.Create(dir.Path, 1765300000000000)) << store.ErrorText();
  store.SetSegmentBytes(64 * 1024);
  store.SetSizeLimit(300 * 1024);
  TTrafficRing ring(TTrafficRing::kMaxCapacity);
  TLine line;
  Feed(store, ring, line, 200000);
  store.Flush();
  EXPECT_TRUE(store.TakeDropNotice());
  EXPECT_FALSE(store.TakeDropNotice()) << "said once";
  EXPECT_GT(store.First(), 0u);
  EXPECT_LE(store.DiskBytes(), 300u * 1024 + 64 * 1024 + TSessionStore::kChunkBytes + 64);
  uint64_t onDisk = 0;
  for (const auto& e : fs::directory_iterator(store.Folder())) onDisk += e.file_size();
  EXPECT_EQ(onDisk, store.DiskBytes());
  ExpectSame(ring, store, store.First(), store.End());

  // What is left still reads after a restart, sessions included.
  const uint64_t first = store.First();
  const std::string folder = store.Folder();
  store.Close();
  TSessionStore again;
  ASSERT_TRUE(again.OpenExisting(folder));
  EXPECT_EQ(again.First(), first);
  ExpectSame(ring, again, first, again.End());
}

TEST(SessionStore, LimitIsNeverMoreThanAFifthOfTheFreeSpace) {
  EXPECT_EQ(TSessionStore::EffectiveLimit(2000, 100000, 0), 2000u);
  EXPECT_EQ(TSessionStore::EffectiveLimit(2000, 5000, 0), 1000u);
  // What the store holds is space it may keep using.
  EXPECT_EQ(TSessionStore::EffectiveLimit(2000, 4000, 1000), 1000u);
  EXPECT_EQ(TSessionStore::EffectiveLimit(2000, 0, 1000), 2000u) << "free space unknown";
}

std::string MakeSession(const std::string& root, int64_t startUs) {
  TSessionStore s;
  EXPECT_TRUE(s.Create(root, startUs));
  s.Append(ClassifyItem("\x81"), startUs, "\x81");
  return s.Folder();
}

TEST(SessionStore, OldSessionsGoButNotOneInUse) {
  TTempDir dir;
  std::vector<std::string> made;
  for (int i = 0; i < 4; ++i) made.push_back(MakeSession(dir.Path, 1765300000000000 + i * 1000000));
  TSessionStore inUse;  // another window's, oldest of all
  ASSERT_TRUE(inUse.Create(dir.Path, 1765200000000000));
  fs::create_directory(dir.Path + "/not-a-session");

  EXPECT_EQ(TSessionStore::RemoveOldSessions(dir.Path, 2), 3);
  EXPECT_TRUE(fs::exists(inUse.Folder()));
  EXPECT_FALSE(fs::exists(made[0]));
  EXPECT_FALSE(fs::exists(made[2]));
  EXPECT_TRUE(fs::exists(made[3]));
  EXPECT_TRUE(fs::exists(dir.Path + "/not-a-session")) << "only sessions are removed";
  EXPECT_FALSE(TSessionStore::RemoveSession(inUse.Folder()));
}

TEST(SessionStore, AKilledWriterLeavesAStoreTheNextRunReadsAndRemoves) {
  TTempDir dir;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(fds[0]);
    TSessionStore store;
    if (!store.Create(dir.Path, 1765300000000000)) ::_exit(1);
    TLine line;
    for (uint64_t i = 0;; ++i) {
      const std::string item = line.Next();
      store.Append(ClassifyItem(item), line.TimeUs, item);
      if (i % 5000 == 4999) {
        store.Flush();
        // Told only once written: the parent then knows these are on disk.
        const uint64_t end = store.End();
        if (::write(fds[1], &end, sizeof end) != sizeof end) ::_exit(2);
      }
    }
  }
  ::close(fds[1]);
  uint64_t written = 0;
  for (int reports = 0; reports < 20; ++reports)
    ASSERT_EQ(::read(fds[0], &written, sizeof written), static_cast<ssize_t>(sizeof written));
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(fds[0]);
  ASSERT_TRUE(WIFSIGNALED(status));

  const std::string folder = TSessionStore::UnclosedSession(dir.Path);
  ASSERT_FALSE(folder.empty()) << "the killed session is offered";
  // A write cut off halfway: a torn record at the end.
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() == ".vseg") {
      std::FILE* f = std::fopen(e.path().c_str(), "ab");
      std::fputs("I\0\0\0\xff\xff\0\0garbage", f);
      std::fclose(f);
    }
  TSessionStore store;
  ASSERT_TRUE(store.OpenExisting(folder)) << store.ErrorText();
  EXPECT_GE(store.End(), written);
  TLine line;
  for (uint64_t seq = 0; seq < store.End(); ++seq) {
    const std::string item = line.Next();
    ASSERT_EQ(store.Bytes(seq), item) << "item " << seq;
    ASSERT_EQ(store.TimeUs(seq), line.TimeUs) << "item " << seq;
  }
  store.Close();
  TSessionStore::MarkClosed(folder);
  EXPECT_TRUE(TSessionStore::UnclosedSession(dir.Path).empty()) << "offered once";
  EXPECT_TRUE(TSessionStore::RemoveSession(folder));
  EXPECT_FALSE(fs::exists(folder));
}

TEST(SessionStore, ASavedSpanReadsBackAsTheItemsWithTheirTimesAndGaps) {
  TTempDir dir;
  TSessionStore store;
  ASSERT_TRUE(store.Create(dir.Path, 1765300000000000));
  TTrafficRing ring(TTrafficRing::kMaxCapacity);
  TLine line;
  Feed(store, ring, line, 30000);  // gaps near items 5000 and 15001
  const uint64_t from = 4000, to = 17000;
  const std::string path = dir.Path + "/span.vlog.gz";
  std::string error;
  TCaptureHeader header;
  header.Port = "/dev/ttyUSB0";
  header.Line = "9600 8N1";
  header.Program = "test";
  // A mark on an item of the span goes with it; one outside does not.
  const std::vector<TTrafficMark> marks = {{100, store.TimeUs(100), "before"},
                                           {9000, store.TimeUs(9000), "zkrat u 9000"}};
  ASSERT_TRUE(SaveTrafficSpan(store, from, to, path, header, error, nullptr, nullptr, marks))
      << error;

  TCaptureReader in;
  std::vector<std::string> marked;
  ASSERT_TRUE(in.Open(path)) << in.LastErrorText();
  TCaptureItem item;
  std::string bytes, want;
  int gaps = 0;
  uint64_t seq = from;
  while (in.Next(item)) {
    if (item.Kind == TCaptureKind::ckGap) {
      ++gaps;
      EXPECT_EQ(item.GapUs, 2500000);
      ASSERT_NE(store.GapWithin(seq, seq), nullptr) << "a gap before item " << seq;
    } else if (int64_t us = 0; item.Kind == TCaptureKind::ckMetadata && item.Key == "mark") {
      std::string text;
      ASSERT_TRUE(ParseCaptureMark(item.Text, us, text)) << item.Text;
      EXPECT_EQ(us, store.TimeUs(9000));
      marked.push_back(text);
    } else if (item.Kind == TCaptureKind::ckChunk) {
      bytes += item.Bytes;
      // Each read holds whole items of its one time.
      for (std::size_t used = 0; used < item.Bytes.size(); ++seq) {
        ASSERT_LT(seq, to);
        ASSERT_EQ(store.TimeUs(seq), item.TimeUs) << "item " << seq;
        used += store.Bytes(seq).size();
      }
    }
  }
  EXPECT_TRUE(in.LastErrorText().empty());
  EXPECT_EQ(seq, to);
  EXPECT_EQ(gaps, 2);
  EXPECT_EQ(marked, std::vector<std::string>{"zkrat u 9000"});
  for (uint64_t s = from; s < to; ++s) want += ring.Bytes(s);
  EXPECT_EQ(bytes, want);

  EXPECT_FALSE(SaveTrafficSpan(store, 0, 10, dir.Path + "/no/such/folder.vlog", header, error));
  EXPECT_FALSE(error.empty());
}

TEST(SessionStore, AFullDiskKeepsWhatWasWrittenAndTheSessionGoesOnInTheRing) {
  TTempDir dir;
  // A disk that takes 200 kB a file: the child meets the limit, not the test.
  const std::string out = test_support::RunInChild(
      [&]() -> std::string {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200 * 1024, 200 * 1024};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return "!rlimit";
        TBusSession session;
        auto store = std::make_unique<TSessionStore>();
        if (!store->Create(dir.Path, 1765300000000000)) return "!create";
        session.AttachStore(std::move(store));
        TLine line;
        for (int i = 0; i < 200000; ++i) {
          const std::string item = line.Next();
          session.Take(line.TimeUs, item);
          session.FlushIfDue(line.TimeUs);
        }
        const TSessionStore& s = *session.Store();
        if (!s.Failed()) return "not failed";
        if (s.ErrorText().empty()) return "no cause";
        if (&session.History() != &session.Traffic()) return "history still the store";
        if (s.End() == 0 || s.End() >= 200000) return "store end " + std::to_string(s.End());
        TLine again;
        for (uint64_t seq = 0; seq < s.End(); ++seq)
          if (s.Bytes(seq) != again.Next()) return "item " + std::to_string(seq) + " differs";
        if (session.Traffic().End() != 200000) return "the ring missed items";
        return "ok";
      },
      false);
  EXPECT_EQ(out, "ok");
}

TEST(BusSessionStore, HistoryIsTheStoreReachingPastTheRing) {
  TTempDir dir;
  TBusSession session;
  session.Traffic().SetCapacity(TTrafficRing::kMinCapacity);
  auto store = std::make_unique<TSessionStore>();
  ASSERT_TRUE(store->Create(dir.Path, 1000000));
  session.AttachStore(std::move(store));
  session.BeginSession(1000000);
  for (int i = 0; i < 5000; ++i) session.Take(1000000 + i, i % 2 ? "\x81" : "\x82");
  EXPECT_GT(session.Traffic().First(), 0u);
  EXPECT_EQ(session.History().First(), 0u);
  EXPECT_EQ(session.History().End(), 5000u);
  TBusState state;
  ASSERT_TRUE(session.StateAfter(10, state)) << "a state the ring alone no longer knows";
  EXPECT_EQ(state.Called, 2);  // item 10 calls device 2
}

}  // namespace
