// Capture log: what the writer writes comes back exactly, damaged files are
// read as far as they are good, write failures keep their cause, and a
// writer killed at any moment loses at most its last second.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "capture/CaptureReader.h"
#include "capture/CaptureRecorder.h"
#include "capture/CaptureWriter.h"

namespace {

namespace fs = std::filesystem;

int64_t NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Spit(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// Every item of a file; Open must succeed.
std::vector<TCaptureItem> ReadAll(const fs::path& path, TCaptureReader& in) {
  std::vector<TCaptureItem> items;
  EXPECT_TRUE(in.Open(path)) << in.LastErrorText();
  TCaptureItem item;
  while (in.Next(item)) items.push_back(item);
  return items;
}

std::vector<TCaptureItem> OfKind(const std::vector<TCaptureItem>& items, TCaptureKind kind) {
  std::vector<TCaptureItem> out;
  for (const auto& i : items)
    if (i.Kind == kind) out.push_back(i);
  return out;
}

class CaptureTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    FDir = fs::temp_directory_path() / ("vantrel-capture-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(FDir);
  }
  fs::path Path(const std::string& name) const { return FDir / name; }

  fs::path FDir;
};

constexpr int64_t kT0 = 1796738585123456;  // 2026-12-08T14:03:05.123456Z

}  // namespace

TEST_F(CaptureTest, WrittenTextIsTheDocumentedFormat) {
  TCaptureWriter log;
  ASSERT_TRUE(log.Open(Path("a.vlog")));
  ASSERT_TRUE(log.WriteHeader({"/dev/ttyUSB0", "115200 8N1", "vantrel-dump 0.1.0", kT0}));
  std::string chunk;
  for (int i = 0; i < 66; ++i) chunk.push_back(static_cast<char>(i == 0 ? 0xAB : i));
  ASSERT_TRUE(log.AddChunk(Bytes({0x41, 0x0A}), 5));
  ASSERT_TRUE(log.AddGap(3250000));
  ASSERT_TRUE(log.AddChunk(chunk, kT0));
  ASSERT_TRUE(log.Close());
  const std::string text = Slurp(Path("a.vlog"));
  std::string line1 = "(1796738585.123456) AB", line2 = "(1796738585.123456) 40 41";
  for (int i = 1; i < 64; ++i)
    line1 += " " + std::string(1, "0123456789ABCDEF"[i >> 4]) + "0123456789ABCDEF"[i & 15];
  EXPECT_EQ(text,
            "# vantrel-capture 1\n# port /dev/ttyUSB0\n# line 115200 8N1\n"
            "# program vantrel-dump 0.1.0\n# start 2026-12-08T14:03:05.123456Z\n"
            "(0.000005) 41 0A\n# gap 3.250000\n" +
                line1 + "\n" + line2 + "\n");
  EXPECT_EQ(log.BusBytes(), 68u);
  EXPECT_EQ(log.FileBytes(), text.size());
}

TEST_F(CaptureTest, RoundTripGivesBackEveryReadWithItsTime) {
  for (const std::string name : {"r.vlog", "r.vlog.gz"}) {
    SCOPED_TRACE(name);
    // Reads of every length over four lines, every byte value, and a full
    // line's read followed by another a microsecond later: two reads.
    std::vector<std::pair<std::string, int64_t>> reads;
    for (int n = 1; n <= 200; ++n) {
      std::string bytes;
      for (int k = 0; k < n; ++k) bytes.push_back(static_cast<char>((n * 7 + k * 13) & 0xFF));
      reads.emplace_back(bytes, kT0 + n * 10007);
    }
    reads.emplace_back(std::string(64, 'x'), kT0 + 3000000);
    reads.emplace_back(std::string(5, 'y'), kT0 + 3000001);
    TCaptureWriter log;
    ASSERT_TRUE(log.Open(Path(name)));
    ASSERT_TRUE(log.WriteHeader({"COM3", "9600 8N1", "test 1", kT0}));
    for (const auto& [bytes, t] : reads) ASSERT_TRUE(log.AddChunk(bytes, t));
    ASSERT_TRUE(log.AddGap(1500000));
    ASSERT_TRUE(log.AddMetadata("port", "COM4\nline 2\xff"));  // cannot break the line
    ASSERT_TRUE(log.Close());
    EXPECT_FALSE(log.AddMetadata("gap", "1"));
    if (name.ends_with(".gz")) {
      EXPECT_EQ(Slurp(Path(name)).substr(0, 2), "\x1f\x8b");
    }

    TCaptureReader in;
    const auto items = ReadAll(Path(name), in);
    EXPECT_TRUE(in.IsLog());
    EXPECT_TRUE(in.LastErrorText().empty()) << in.LastErrorText();
    EXPECT_FALSE(in.Truncated());
    EXPECT_EQ(in.MalformedLines(), 0u);
    const auto chunks = OfKind(items, TCaptureKind::ckChunk);
    ASSERT_EQ(chunks.size(), reads.size());
    for (std::size_t i = 0; i < reads.size(); ++i) {
      EXPECT_EQ(chunks[i].Bytes, reads[i].first) << i;
      EXPECT_EQ(chunks[i].TimeUs, reads[i].second) << i;
    }
    const auto meta = OfKind(items, TCaptureKind::ckMetadata);
    ASSERT_EQ(meta.size(), 5u);
    EXPECT_EQ(meta[0].Key + "=" + meta[0].Text, "port=COM3");
    EXPECT_EQ(meta[3].Key + "=" + meta[3].Text, "start=2026-12-08T14:03:05.123456Z");
    EXPECT_EQ(meta[4].Key + "=" + meta[4].Text, "port=COM4?line 2?");
    // 5 header lines, 416 lines of the 200 reads, 2, the gap: counted from 1.
    EXPECT_EQ(meta[4].Line, 425u);
    ASSERT_EQ(items[items.size() - 2].Kind, TCaptureKind::ckGap);  // in file order
    EXPECT_EQ(items[items.size() - 2].GapUs, 1500000);
  }
}

TEST_F(CaptureTest, MalformedLinesAreReportedWithTheirNumberAndSkipped) {
  const std::string tooLong = "(" + std::string(5000, '1') + "\n";
  Spit(Path("m.vlog"),
       "# vantrel-capture 1\r\n"
       "(100.000001) 41 4a\r\n"       // 2: CRLF and lower case are fine
       "(100.000002) 4G\n"            // 3
       "\n"                           // 4: empty, ignored
       "(100.000003) 41 4\n"          // 5
       "(100.000004) 414A\n"          // 6
       "(100.5) 41\n"                 // 7
       "(1234567890123.000000) 41\n"  // 8
       "(100.000005)\n"               // 9
       "41 4A\n"                      // 10
       "# gap soon\n"                 // 11
       "(100.000006)   42\t43  \n"    // 12: blanks
       "# comment without value\n" +  // 13
           tooLong +                  // 14
           "(100.000007) 44\n");      // 15
  TCaptureReader in;
  const auto items = ReadAll(Path("m.vlog"), in);
  std::vector<uint64_t> bad;
  for (const auto& i : OfKind(items, TCaptureKind::ckMalformed)) bad.push_back(i.Line);
  EXPECT_EQ(bad, (std::vector<uint64_t>{3, 5, 6, 7, 8, 9, 10, 11, 14}));
  EXPECT_EQ(in.MalformedLines(), bad.size());
  const auto chunks = OfKind(items, TCaptureKind::ckChunk);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].Bytes, "\x41\x4A");
  EXPECT_EQ(chunks[1].Bytes, "\x42\x43");
  EXPECT_EQ(chunks[1].Line, 12u);
  EXPECT_EQ(chunks[2].TimeUs, 100000007);
  EXPECT_EQ(OfKind(items, TCaptureKind::ckMetadata).size(), 1u);

  // Megabytes without a line end after a good start: one report, no growth.
  Spit(Path("junk.vlog"), "# vantrel-capture 1\n(1.000000) 41\n" + std::string(3 << 20, '\x55'));
  const auto junk = ReadAll(Path("junk.vlog"), in);
  ASSERT_EQ(junk.size(), 2u);
  EXPECT_EQ(junk[1].Kind, TCaptureKind::ckMalformed);
  EXPECT_EQ(junk[1].Line, 3u);
}

TEST_F(CaptureTest, TornLastLineKeepsItsCompleteBytes) {
  const std::string good = "# vantrel-capture 1\n(7.000000) 41\n";
  const struct {
    std::string tail;
    std::string lastBytes;  // of the last chunk read
  } cases[] = {
      {"(8.000000) 42 4A 0", "\x42\x4A"},
      {"(8.000000) 42 4A", "\x42\x4A"},  // complete but for its line end
      {"(8.000000) 42 ", "\x42"},
      {"(8.000000) 4", "\x41"},  // no complete byte: dropped
      {"(8.0000", "\x41"},
      {"# port /dev/tty", "\x41"},  // metadata may have lost part of its value
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail);
    Spit(Path("t.vlog"), good + c.tail);
    TCaptureReader in;
    const auto items = ReadAll(Path("t.vlog"), in);
    EXPECT_TRUE(in.Truncated());
    EXPECT_EQ(in.MalformedLines(), 0u);
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items.back().Kind, TCaptureKind::ckChunk);
    EXPECT_EQ(items.back().Bytes, c.lastBytes);
  }
}

TEST_F(CaptureTest, CompressedFileCutShortOrDamaged) {
  TCaptureWriter log;
  ASSERT_TRUE(log.Open(Path("c.vlog.gz")));
  for (int i = 0; i < 20000; ++i) log.AddChunk(std::string(1 + i % 90, static_cast<char>(i)), i);
  ASSERT_TRUE(log.Close());
  const std::string whole = Slurp(Path("c.vlog.gz"));

  Spit(Path("cut.vlog.gz"), whole.substr(0, whole.size() / 2));
  TCaptureReader in;
  auto chunks = OfKind(ReadAll(Path("cut.vlog.gz"), in), TCaptureKind::ckChunk);
  EXPECT_TRUE(in.Truncated());
  EXPECT_TRUE(in.LastErrorText().empty()) << in.LastErrorText();
  ASSERT_GT(chunks.size(), 1000u);
  for (std::size_t i = 0; i + 1 < chunks.size(); ++i) ASSERT_EQ(chunks[i].TimeUs, int64_t(i));

  std::string damaged = whole;
  for (std::size_t i = whole.size() / 3; i < whole.size() / 3 + 64; ++i) damaged[i] ^= 0x5A;
  Spit(Path("bad.vlog.gz"), damaged);
  chunks = OfKind(ReadAll(Path("bad.vlog.gz"), in), TCaptureKind::ckChunk);
  EXPECT_NE(in.LastErrorText().find("damaged compressed data"), std::string::npos)
      << in.LastErrorText();
  EXPECT_LT(chunks.size(), 20000u);
}

// Input that looks like a capture but is not one whole is never read as if
// it were: a ".gz" without gzip data, a log whose lines end in a carriage
// return alone, and (where asked) anything but a plain file.
TEST_F(CaptureTest, MisnamedDamagedOrSpecialInputIsRefusedNotGuessed) {
  TCaptureWriter log;
  ASSERT_TRUE(log.Open(Path("c.vlog.gz")));
  log.AddChunk(Bytes({0x41, 0x42}), kT0);
  ASSERT_TRUE(log.Close());
  std::string whole = Slurp(Path("c.vlog.gz"));
  whole[0] ^= 0x01;  // the gzip mark damaged
  Spit(Path("first.vlog.gz"), whole);
  Spit(Path("plain.bin.gz"), "\x41\x42\x43");
  TCaptureReader in;
  for (const char* name : {"first.vlog.gz", "plain.bin.gz"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(in.Open(Path(name)));
    EXPECT_NE(in.LastErrorText().find("not gzip-compressed"), std::string::npos)
        << in.LastErrorText();
  }

  std::string cr = "# vantrel-capture 1\r";
  for (int i = 0; i < 20000; ++i) cr += "(1796738585.000000) 41 42\r";
  Spit(Path("cr.vlog"), cr);
  EXPECT_FALSE(in.Open(Path("cr.vlog")));
  EXPECT_EQ(in.LastErrorText(), "lines end without a line feed");
  // Carriage return and line feed are line ends as any.
  Spit(Path("crlf.vlog"), "# vantrel-capture 1\r\n(1796738585.000000) 41\r\n");
  EXPECT_EQ(OfKind(ReadAll(Path("crlf.vlog"), in), TCaptureKind::ckChunk).size(), 1u);

  // A named pipe with no writer: refused at once, where a read would wait
  // for ever; a folder and a device too.
  ASSERT_EQ(mkfifo(Path("fifo.vlog").c_str(), 0600), 0);
  in.SetFilesOnly(true);
  for (const fs::path& p : {Path("fifo.vlog"), FDir, fs::path("/dev/zero")}) {
    SCOPED_TRACE(p);
    EXPECT_FALSE(in.Open(p));
    EXPECT_NE(in.LastErrorText().find("not a file"), std::string::npos) << in.LastErrorText();
  }
  EXPECT_EQ(OfKind(ReadAll(Path("crlf.vlog"), in), TCaptureKind::ckChunk).size(), 1u);
}

// A target that takes nothing never holds the one who records: opening a
// pipe nobody reads fails at once, writes into a full pipe return, and a
// backlog that keeps growing ends the recording with its cause.  A reader
// that merely is slow gets everything.
TEST_F(CaptureTest, ATargetThatTakesNoDataStopsTheRecordingNotTheRecorder) {
  ASSERT_EQ(mkfifo(Path("f.vlog").c_str(), 0600), 0);
  TCaptureWriter log;
  EXPECT_FALSE(log.Open(Path("f.vlog")));
  EXPECT_EQ(log.LastErrorText(), "a pipe that nobody reads");

  // A reader that never reads: the pipe fills up.
  const int idle = open(Path("f.vlog").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(idle, 0);
  ASSERT_TRUE(log.Open(Path("f.vlog"))) << log.LastErrorText();
  const std::string chunk(64, '\x5A');
  int64_t t = kT0;
  bool ok = true;
  for (int i = 0; i < 200000 && ok; ++i) ok = log.AddChunk(chunk, t += 10);
  EXPECT_FALSE(ok) << "16 MiB waited for a pipe nobody empties";
  EXPECT_NE(log.LastErrorText().find("takes no data"), std::string::npos) << log.LastErrorText();
  EXPECT_FALSE(log.Close());
  close(idle);

  // A reader slower than the writer: what waited goes out later, and Close hands on the rest.
  std::string got;
  std::thread reader([&] {
    const int fd = open(Path("f.vlog").c_str(), O_RDONLY);
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
      got.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
  });
  // Opening waits for no reader: try until the thread has opened its end.
  TCaptureWriter slow;
  while (!slow.Open(Path("f.vlog"))) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (int i = 0; i < 4000; ++i) ASSERT_TRUE(slow.AddChunk(chunk, t += 10)) << slow.LastErrorText();
  ASSERT_TRUE(slow.Close()) << slow.LastErrorText();
  reader.join();
  EXPECT_EQ(got.size(), slow.FileBytes());
  EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 4001);
}

TEST_F(CaptureTest, RawCapturesAreReadAsBytesWithoutTime) {
  std::string bytes = "\x1f\x8b# vantrel-capture 1\n";  // gzip's magic, and no log
  for (int i = 0; i < 600000; ++i) bytes.push_back(static_cast<char>(i * 31));
  for (const std::string name : {"run.bin", "run.bin.gz"}) {
    SCOPED_TRACE(name);
    if (name.ends_with(".gz")) {
      ASSERT_EQ(std::system(
                    ("gzip -c " + Path("run.bin").string() + " > " + Path(name).string()).c_str()),
                0);
    } else {
      Spit(Path(name), bytes);
    }
    TCaptureReader in;
    std::string got;
    for (const auto& item : ReadAll(Path(name), in)) {
      EXPECT_EQ(item.Kind, TCaptureKind::ckChunk);
      EXPECT_FALSE(item.HasTime());
      got += item.Bytes;
    }
    EXPECT_FALSE(in.IsLog());
    EXPECT_EQ(got, bytes);
  }
  Spit(Path("empty.bin"), "");
  TCaptureReader in;
  EXPECT_TRUE(ReadAll(Path("empty.bin"), in).empty());
  EXPECT_FALSE(in.IsLog());

  // A newer log is refused rather than taken for bus bytes.
  Spit(Path("v2.vlog"), "# vantrel-capture 2\n(1.000000) 41\n");
  EXPECT_FALSE(in.Open(Path("v2.vlog")));
  EXPECT_EQ(in.LastErrorText(), "capture log of version 2, this program reads version 1");
  EXPECT_FALSE(in.Open(Path("missing.vlog")));
  EXPECT_EQ(in.LastErrorText(), "No such file or directory");
}

TEST_F(CaptureTest, WriteFailureKeepsItsCauseAndWhatWasWritten) {
  // A full device fails at once, compressed or not.
  fs::create_symlink("/dev/full", Path("full.vlog.gz"));
  for (const fs::path& path : {fs::path("/dev/full"), Path("full.vlog.gz")}) {
    TCaptureWriter log;
    EXPECT_FALSE(log.Open(path));
    EXPECT_EQ(log.LastErrorCode(), ENOSPC);
    EXPECT_EQ(log.LastErrorText(), "No space left on device");
    EXPECT_FALSE(log.AddChunk("x", 1));
  }

  // A disk that fills up midway (a file size limit): the writer stops, and
  // everything before stays readable.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  TCaptureWriter log;
  const bool opened = log.Open(Path("limited.vlog"));
  int written = 0;
  while (opened && written < 100000 && log.AddChunk(std::string(40, char(written)), written))
    ++written;
  const bool closed = log.Close();
  setrlimit(RLIMIT_FSIZE, &old);
  ASSERT_TRUE(opened);
  EXPECT_FALSE(closed);
  EXPECT_EQ(log.LastErrorCode(), EFBIG);
  EXPECT_EQ(log.LastErrorText(), "File too large");
  EXPECT_FALSE(log.AddChunk("x", 1));
  TCaptureReader in;
  const auto items = ReadAll(Path("limited.vlog"), in);
  EXPECT_EQ(in.MalformedLines(), 0u);
  ASSERT_GT(items.size(), 500u);
  for (std::size_t i = 0; i < items.size(); ++i) ASSERT_EQ(items[i].TimeUs, int64_t(i));
  // The last line may be torn: its bytes are a prefix of the read.
  EXPECT_EQ(items.back().Bytes, std::string(items.back().Bytes.size(), char(items.size() - 1)));
  EXPECT_LE(items.size(), std::size_t(written));
}

TEST_F(CaptureTest, LinesWaitAtMostTheFlushPeriod) {
  TCaptureWriter log;
  ASSERT_TRUE(log.Open(Path("f.vlog")));
  const auto onDisk = [&] { return fs::file_size(Path("f.vlog")); };
  const auto header = onDisk();
  ASSERT_TRUE(log.AddChunk("a", kT0));
  EXPECT_TRUE(log.FlushIfDue(kT0 + TCaptureWriter::kFlushPeriodUs - 1));
  EXPECT_EQ(onDisk(), header);
  ASSERT_TRUE(log.AddChunk("b", kT0 + TCaptureWriter::kFlushPeriodUs));  // due: written with it
  EXPECT_GT(onDisk(), header);
  const auto afterB = onDisk();
  ASSERT_TRUE(log.AddChunk("c", kT0 + 2 * TCaptureWriter::kFlushPeriodUs));
  EXPECT_EQ(onDisk(), afterB);
  ASSERT_TRUE(log.AddChunk("", kT0 + 3 * TCaptureWriter::kFlushPeriodUs));  // an empty read
  EXPECT_GT(onDisk(), afterB);
  const auto afterC = onDisk();
  ASSERT_TRUE(log.AddChunk("d", kT0 + 4 * TCaptureWriter::kFlushPeriodUs));
  EXPECT_EQ(onDisk(), afterC);
  EXPECT_TRUE(log.FlushIfDue(kT0));  // the clock went back: written, not held
  EXPECT_GT(onDisk(), afterC);
}

// A writer process killed with SIGKILL while it records (or while it waits
// with nothing to record) leaves every read older than one second readable.
class CaptureKillTest : public CaptureTest,
                        public ::testing::WithParamInterface<std::tuple<std::string, bool>> {};

TEST_P(CaptureKillTest, LosesAtMostTheLastSecond) {
  const auto [name, quietAtEnd] = GetParam();
  const fs::path path = Path(name);
  constexpr int64_t kRunUs = 2200000, kStreamUs = 900000;
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child records a read every 2 ms and tells the parent of each
    // before it hands it to the writer.
    close(report[0]);
    TCaptureWriter log;
    if (!log.Open(path)) _exit(3);
    const int64_t start = NowUs();
    for (int64_t seq = 0;; usleep(2000)) {
      const int64_t now = NowUs();
      if (quietAtEnd && now - start > kStreamUs) {
        log.FlushIfDue(now);
        continue;
      }
      const int64_t record[2] = {seq, now};
      if (write(report[1], record, sizeof record) != sizeof record) _exit(4);
      log.AddChunk(std::string(1 + seq % 20, static_cast<char>(seq)), now);
      ++seq;
    }
  }
  close(report[1]);
  std::this_thread::sleep_for(std::chrono::microseconds(kRunUs));
  const int64_t killedUs = NowUs();
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself: " << status;
  std::vector<int64_t> sent;  // the time of each read the child was about to record
  for (int64_t record[2]; read(report[0], record, sizeof record) == sizeof record;)
    sent.push_back(record[1]);
  close(report[0]);

  TCaptureReader in;
  const auto items = ReadAll(path, in);
  EXPECT_TRUE(in.LastErrorText().empty()) << in.LastErrorText();
  EXPECT_EQ(in.MalformedLines(), 0u);
  ASSERT_LE(items.size(), sent.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    ASSERT_EQ(items[i].TimeUs, sent[i]) << i;
    if (i + 1 < items.size() || quietAtEnd) {  // the last may be torn
      ASSERT_EQ(items[i].Bytes, std::string(1 + i % 20, static_cast<char>(i))) << i;
    }
  }
  std::size_t older = 0;
  while (older < sent.size() && sent[older] <= killedUs - 1000000) ++older;
  EXPECT_GE(items.size(), older) << "of " << sent.size() << " reads";
  if (quietAtEnd) {
    EXPECT_EQ(items.size(), sent.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, CaptureKillTest,
    ::testing::Combine(::testing::Values("k.vlog", "k.vlog.gz"), ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).ends_with(".gz") ? "Compressed" : "Plain") +
             (std::get<1>(info.param) ? "QuietAtEnd" : "Recording");
    });

TEST(CaptureTexts, StartTimeReadsBackAndLineSettings) {
  // 2024-02-29 (a leap day), the epoch, a time far ahead.
  for (int64_t us : {kT0, int64_t{0}, int64_t{1709164800000001}, int64_t{32503680000999999}}) {
    int64_t back = -1;
    EXPECT_TRUE(ParseCaptureTime(FormatCaptureTime(us), back)) << FormatCaptureTime(us);
    EXPECT_EQ(back, us) << FormatCaptureTime(us);
  }
  int64_t us = 0;
  EXPECT_TRUE(ParseCaptureTime("2026-12-08T14:03:05Z", us));
  EXPECT_EQ(us, kT0 - 123456);
  EXPECT_TRUE(ParseCaptureTime("2026-12-08T14:03:05.1Z", us));
  EXPECT_EQ(us, kT0 - 23456);
  for (const char* bad : {"", "2026-12-08", "2026-12-08T14:03:05", "2026-12-08T14:03:05.Z",
                          "2026-13-08T14:03:05Z", "2026-12-08T24:03:05Z", "2026-12-08 14:03:05Z",
                          "2026-12-08T14:03:05.1234567Z", "2026-12-08T14:03:05Zx"})
    EXPECT_FALSE(ParseCaptureTime(bad, us)) << bad;

  EXPECT_EQ(CaptureLineText(115200, 8, "N", 0, false, false), "115200 8N1");
  EXPECT_EQ(CaptureLineText(9600, 7, "E", 1, true, true), "9600 7E1.5 rtscts xonxoff");
  EXPECT_EQ(CaptureLineText(19200, 8, "O", 2, false, true), "19200 8O2 rtscts");
}

// The reader thread adds reads while the owner's loop flushes: every read
// arrives whole and in its thread's order.
TEST_F(CaptureTest, RecorderTakesReadsFromTwoThreads) {
  TCaptureRecorder rec;
  ASSERT_TRUE(rec.Open(Path("r.vlog"), {"/dev/ttyS0", "9600 8N1", "test", kT0}));
  constexpr int kReads = 20000;
  std::thread reader([&] {
    for (int i = 0; i < kReads; ++i)
      rec.AddChunk(std::string(1 + i % 70, static_cast<char>(i)), kT0 + i);
  });
  for (int i = 0; i < 2000; ++i) rec.Tick(kT0 + i * 1000);
  reader.join();
  EXPECT_TRUE(rec.Close()) << rec.ErrorText();
  EXPECT_TRUE(rec.Close()) << "a second close keeps the result";
  TCaptureReader in;
  const auto chunks = OfKind(ReadAll(Path("r.vlog"), in), TCaptureKind::ckChunk);
  EXPECT_EQ(in.MalformedLines(), 0u);
  ASSERT_EQ(chunks.size(), std::size_t(kReads));
  for (int i = 0; i < kReads; ++i) {
    ASSERT_EQ(chunks[i].TimeUs, kT0 + i);
    ASSERT_EQ(chunks[i].Bytes, std::string(1 + i % 70, static_cast<char>(i)));
  }
}

TEST_F(CaptureTest, RecorderStopsAtTheFirstFailureAndSaysSoOnce) {
  TCaptureRecorder full;
  EXPECT_FALSE(full.Open("/dev/full", {}));
  EXPECT_EQ(full.ErrorText(), "No space left on device");
  EXPECT_FALSE(full.IsOpen());

  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 50000;
  TCaptureRecorder rec;
  int failures = 0;
  rec.SetOnFailure([&] { ++failures; });
  ASSERT_TRUE(rec.Open(Path("limited.vlog"), {"/dev/ttyS0", "9600 8N1", "test", kT0}));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  for (int i = 0; i < 5000; ++i) {
    rec.AddChunk(std::string(40, 'x'), kT0 + i * 1000);
    rec.Tick(kT0 + i * 1000);
  }
  rec.AddGap(1000000);
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_TRUE(rec.Failed());
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(rec.ErrorText(), "File too large");
  EXPECT_FALSE(rec.Close());
  EXPECT_EQ(rec.ErrorText(), "File too large");
  TCaptureReader in;
  const auto items = ReadAll(Path("limited.vlog"), in);
  EXPECT_EQ(in.MalformedLines(), 0u);
  EXPECT_GT(OfKind(items, TCaptureKind::ckChunk).size(), 100u);
}

// A mark line holds the item's time and the user's note; whatever the note
// holds, the line stays one line the reader gives back as it was kept.
TEST_F(CaptureTest, MarksAreWrittenAsOneLineAndReadBack) {
  TCaptureRecorder rec;
  ASSERT_TRUE(rec.Open(Path("m.vlog"), TCaptureHeader{"/dev/ttyS0", "9600 8N1", "t 1", kT0}));
  rec.AddChunk(Bytes({0x41, 0x00}), kT0 + 1000);
  EXPECT_TRUE(rec.AddMark(kT0 + 1000, "zkrat na  výhybce 5"));
  // Control characters and a line end must not break the line.
  EXPECT_TRUE(rec.AddMark(kT0 + 2000, "  a\nb\tc  "));
  EXPECT_TRUE(rec.AddMark(kT0 + 3000, ""));
  // A note too long for a line is cut between two characters.
  std::string longText;
  while (longText.size() < 3 * kCaptureMaxMarkText) longText += "ž";
  EXPECT_TRUE(rec.AddMark(kT0 + 4000, longText));
  rec.AddChunk(Bytes({0x42}), kT0 + 5000);
  ASSERT_TRUE(rec.Close()) << rec.ErrorText();
  EXPECT_FALSE(rec.AddMark(kT0, "after the end")) << "nothing records now";

  TCaptureReader in;
  const auto all = ReadAll(Path("m.vlog"), in);
  EXPECT_EQ(in.MalformedLines(), 0u);
  EXPECT_EQ(OfKind(all, TCaptureKind::ckChunk).size(), 2u);
  std::vector<std::pair<int64_t, std::string>> marks;
  for (const auto& item : OfKind(all, TCaptureKind::ckMetadata)) {
    if (item.Key != kCaptureMarkKey) continue;
    int64_t us = 0;
    std::string text;
    ASSERT_TRUE(ParseCaptureMark(item.Text, us, text)) << item.Text;
    marks.emplace_back(us, text);
  }
  ASSERT_EQ(marks.size(), 4u);
  EXPECT_EQ(marks[0], std::make_pair(kT0 + 1000, std::string("zkrat na  výhybce 5")));
  EXPECT_EQ(marks[1], std::make_pair(kT0 + 2000, std::string("a?b?c")));
  EXPECT_EQ(marks[2], std::make_pair(kT0 + 3000, std::string()));
  EXPECT_EQ(marks[3].second.size(), kCaptureMaxMarkText);  // "ž" is two bytes
  EXPECT_EQ(marks[3].second, longText.substr(0, kCaptureMaxMarkText));
  EXPECT_NE(Slurp(Path("m.vlog")).find("# mark 2026-12-08T14:03:05.124456Z zkrat"),
            std::string::npos);

  int64_t us;
  std::string text;
  EXPECT_FALSE(ParseCaptureMark("14:03 a note", us, text));
  EXPECT_FALSE(ParseCaptureMark("", us, text));
  // An odd byte count cuts before the half character.
  EXPECT_EQ(CaptureMarkText("a" + longText).size(), kCaptureMaxMarkText - 1);
}
