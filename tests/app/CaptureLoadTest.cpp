// Opening a capture again: the conversion kept from the first opening is
// taken while the file is unchanged (and shows what converting showed), and
// is converted anew when the file changed or what was kept is damaged; the
// cache folder keeps only the last few, never one in use.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/CaptureLoad.h"
#include "base/StoreFile.h"
#include "capture/CaptureLog.h"
#include "capture/CaptureWriter.h"
#include "session/SessionStore.h"
#include "sim/SimTraffic.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kT0 = 1796738585000000;  // 2026-12-08T14:03:05Z

class CaptureLoadTest : public ::testing::Test {
protected:
  void SetUp() override {
    char name[] = "/tmp/capture-load-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    FDir = name;
    FRoot = FDir + "/captures";
  }
  void TearDown() override { fs::remove_all(FDir); }

  // A log of the simulated central: reads every 10 ms, a mark in the middle
  // and a reconnect, enough items for several state snapshots.
  std::string WriteLog(const std::string& name, uint64_t seed = 1, int reads = 3000) {
    const std::string path = FDir + "/" + name;
    TCaptureWriter log;
    EXPECT_TRUE(log.Open(path));
    EXPECT_TRUE(log.WriteHeader({"/dev/ttyUSB0", "115200 8N1", "test", kT0}));
    TSimTraffic traffic(seed);
    std::string stream;
    for (int i = 0; i < reads; ++i) {
      while (stream.size() < 115) stream += traffic.NextItem();
      EXPECT_TRUE(log.AddChunk(std::string_view(stream).substr(0, 115), kT0 + i * 10000));
      stream.erase(0, 115);
      if (i == reads / 2) {
        EXPECT_TRUE(log.AddMetadata(kCaptureMarkKey, FormatCaptureMark(kT0 + i * 10000, "zde")));
        EXPECT_TRUE(log.AddGap(2000000));
      }
    }
    EXPECT_TRUE(log.Close());
    return path;
  }

  std::unique_ptr<TCaptureContents> Load(const std::string& path, int baud = 9600) {
    TCaptureLoad::TOptions options;
    options.StoreRoot = FRoot;
    options.Baud = baud;
    TCaptureLoad load(path, options);
    load.Run();
    return std::make_unique<TCaptureContents>(load.Take());
  }

  static const TSessionStore& Store(const TCaptureContents& c) {
    return dynamic_cast<const TSessionStore&>(c.Session->History());
  }

  std::vector<std::string> Folders() const {
    std::vector<std::string> list;
    for (const auto& info : TSessionStore::ListSessions(FRoot)) list.push_back(info.Path);
    return list;
  }

  std::string FDir, FRoot;
};

// What a capture shows, taken apart so that two openings compare.
struct TShown {
  uint64_t Items = 0, TotalBytes = 0, Unrecognised = 0;
  std::vector<std::string> Rows;  // time, kind, device, bytes, session start of some items
  std::vector<std::string> Series;
  std::vector<TBusState> States;
  std::vector<std::string> Marks;
  std::string Facts;
  bool operator==(const TShown&) const = default;
};

TShown Shown(const TCaptureContents& c) {
  TShown s;
  const TTrafficSource& h = c.Session->History();
  s.Items = h.End();
  s.TotalBytes = h.TotalBytes();
  s.Unrecognised = h.UnrecognisedBytes();
  for (uint64_t seq = 0; seq < h.End(); seq += 997) {
    s.Rows.push_back(std::to_string(h.TimeUs(seq)) + " " +
                     std::to_string(static_cast<int>(h.Kind(seq))) + " " +
                     std::to_string(h.Device(seq)) + " " + std::string(h.Bytes(seq)) + " " +
                     std::to_string(h.SessionStart(seq)) + " " +
                     (h.GapWithin(seq > 997 ? seq - 997 : 0, seq) ? "gap" : ""));
    TBusState state;
    EXPECT_TRUE(c.Session->StateAfter(seq, state)) << seq;
    s.States.push_back(state);
  }
  const TSeriesStore& series = c.Session->Series();
  for (int64_t t = series.FirstSecond(); t < series.EndSecond(); ++t) {
    const TSecondPoint& p = series.At(t);
    s.Series.push_back(std::to_string(t) + " " + std::to_string(p.Bytes) + " " +
                       std::to_string(p.Items) + " " + std::to_string(p.ItemsMax) + " " +
                       std::to_string(p.Power) + " " + std::to_string(series.DeviceMessages(5, t)));
  }
  s.Series.push_back("power changes " + std::to_string(series.PowerChanges().size()));
  for (const TTrafficMark& m : c.Marks.Items())
    s.Marks.push_back(std::to_string(m.Seq) + " " + std::to_string(m.TimeUs) + " " + m.Text);
  s.Facts = c.Port + "|" + c.Line + "|" + c.Program + "|" + std::to_string(c.StartUs) + "|" +
            std::to_string(c.EndUs) + "|" + std::to_string(c.Gaps) + "|" + (c.IsLog ? "log" : "");
  return s;
}

TEST_F(CaptureLoadTest, ReopeningAnUnchangedCaptureTakesWhatWasKept) {
  const std::string path = WriteLog("a.vlog");
  auto first = Load(path);
  ASSERT_TRUE(first->Session);
  EXPECT_FALSE(first->Reused);
  const TShown before = Shown(*first);
  ASSERT_GT(before.Items, 3 * TStateHistory::kDefaultInterval) << "several snapshots";
  ASSERT_EQ(before.Marks.size(), 1u);
  ASSERT_EQ(first->Gaps, 1u);
  const std::string folder = Store(*first).Folder();
  first.reset();  // closed, as when another capture is opened

  auto second = Load(path);
  ASSERT_TRUE(second->Session);
  EXPECT_TRUE(second->Reused);
  EXPECT_EQ(Store(*second).Folder(), folder) << "no conversion of its own";
  EXPECT_FALSE(second->HasRows) << "the view finds the rows itself";
  EXPECT_EQ(Shown(*second), before);

  // While it is shown, its store is in use: a third opening cannot take it
  // and converts beside it, leaving it whole.
  auto third = Load(path);
  EXPECT_FALSE(third->Reused);
  EXPECT_NE(Store(*third).Folder(), folder);
  EXPECT_EQ(Shown(*third), before);
  EXPECT_EQ(Shown(*second), before);
}

TEST_F(CaptureLoadTest, AChangedCaptureIsConvertedAnew) {
  const std::string path = WriteLog("a.vlog");
  const std::string folder = Store(*Load(path)).Folder();
  struct stat was {};
  ASSERT_EQ(stat(path.c_str(), &was), 0);

  // Same size and modification time, one digit of the last read changed.
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(f)), {});
    const std::size_t at = text.rfind(' ') + 1;  // a byte's first digit on the last line
    ASSERT_LT(at, text.size());
    text[at] = text[at] == '0' ? '1' : '0';
    f.seekp(0);
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  const timespec times[2] = {was.st_atim, was.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  struct stat now {};
  ASSERT_EQ(stat(path.c_str(), &now), 0);
  ASSERT_EQ(now.st_size, was.st_size);
  ASSERT_EQ(now.st_mtim.tv_nsec, was.st_mtim.tv_nsec);
  auto changed = Load(path);
  EXPECT_FALSE(changed->Reused);
  EXPECT_NE(Store(*changed).Folder(), folder);
  EXPECT_FALSE(fs::exists(folder)) << "the stale conversion is removed";
  const std::string changedFolder = Store(*changed).Folder();
  const uint64_t items = changed->Session->History().End();
  changed.reset();

  // A line appended.
  std::ofstream(path, std::ios::app) << "(1796738700.000000) 60 41\n";
  auto appended = Load(path);
  EXPECT_FALSE(appended->Reused);
  EXPECT_GT(appended->Session->History().End(), items);
  EXPECT_FALSE(fs::exists(changedFolder));
  appended.reset();
  EXPECT_TRUE(Load(path)->Reused) << "unchanged again since";
}

TEST_F(CaptureLoadTest, ARawCaptureReadAtAnotherLineSpeedIsConvertedAnew) {
  // A raw capture's items are timed by the line's speed: kept for one speed,
  // its times are wrong for another.
  const std::string path = FDir + "/a.bin";
  {
    TSimTraffic traffic(3);
    std::string bytes;
    while (bytes.size() < 20000) bytes += traffic.NextItem();
    std::ofstream(path, std::ios::binary) << bytes;
  }
  int64_t slowStart = 0;
  {
    auto slow = Load(path, 9600);
    ASSERT_TRUE(slow->Session);
    ASSERT_FALSE(slow->IsLog);
    slowStart = slow->Session->History().TimeUs(0);
  }
  EXPECT_TRUE(Load(path, 9600)->Reused);
  auto fast = Load(path, 115200);
  EXPECT_FALSE(fast->Reused);
  EXPECT_GT(fast->Session->History().TimeUs(0), slowStart) << "the same end, a shorter span";
}

TEST_F(CaptureLoadTest, DamagedKeptFilesAreConvertedAnewNotTrusted) {
  const std::string path = WriteLog("a.vlog");
  TShown before;
  std::string folder;
  {
    auto first = Load(path);
    before = Shown(*first);
    folder = Store(*first).Folder();
  }
  const std::string ready = folder + "/ready";
  ASSERT_TRUE(fs::exists(ready));
  const auto size = fs::file_size(ready);

  // Torn (cut in the series), then one byte of it changed.
  struct TDamage {
    const char* What;
    void (*Do)(const std::string& folder, uintmax_t size);
  };
  const TDamage damages[] = {
      {"ready cut short",
       [](const std::string& f, uintmax_t n) { fs::resize_file(f + "/ready", n - 100); }},
      {"ready empty", [](const std::string& f, uintmax_t) { fs::resize_file(f + "/ready", 0); }},
      {"ready missing", [](const std::string& f, uintmax_t) { fs::remove(f + "/ready"); }},
      {"a byte of the series changed",
       [](const std::string& f, uintmax_t n) {
         std::fstream s(f + "/ready", std::ios::in | std::ios::out | std::ios::binary);
         s.seekp(static_cast<std::streamoff>(n - 50));
         s.put('\x7F');
       }},
      {"a segment cut short",
       [](const std::string& f, uintmax_t) {
         fs::resize_file(f + "/00000001.vseg", fs::file_size(f + "/00000001.vseg") - 10);
       }},
  };
  for (const TDamage& damage : damages) {
    SCOPED_TRACE(damage.What);
    damage.Do(folder, size);
    auto again = Load(path);
    ASSERT_TRUE(again->Session);
    EXPECT_FALSE(again->Reused);
    EXPECT_EQ(Shown(*again), before);
    EXPECT_FALSE(fs::exists(folder)) << "the damaged one is removed";
    folder = Store(*again).Folder();
    EXPECT_EQ(fs::file_size(folder + "/ready"), size);
  }
}

TEST_F(CaptureLoadTest, OnlyWholeConversionsAreKeptAndOnlyTheLastFew) {
  // A cancelled conversion is not taken the next time.
  const std::string a = WriteLog("a.vlog", 1);
  {
    TCaptureLoad::TOptions options;
    options.StoreRoot = FRoot;
    TCaptureLoad load(a, options);
    load.Cancel();
    load.Run();
    EXPECT_TRUE(load.Take().Cancelled);
  }
  auto shown = Load(a);  // kept in use while the others are opened
  EXPECT_FALSE(shown->Reused);
  const std::string shownFolder = Store(*shown).Folder();
  const TShown before = Shown(*shown);

  for (int i = 0; i < kKeptCaptures + 2; ++i)
    Load(WriteLog("other" + std::to_string(i) + ".vlog", 10 + i, 300));
  EXPECT_TRUE(fs::exists(shownFolder)) << "in use: never removed";
  EXPECT_EQ(Shown(*shown), before);
  EXPECT_LE(Folders().size(), static_cast<std::size_t>(kKeptCaptures) + 1);

  shown.reset();
  Load(WriteLog("last.vlog", 99, 300));
  EXPECT_EQ(Folders().size(), static_cast<std::size_t>(kKeptCaptures));
  // The newest ones stay: the last other one opens at once.
  EXPECT_TRUE(Load(FDir + "/other" + std::to_string(kKeptCaptures + 1) + ".vlog")->Reused);
}

}  // namespace
