// One printed line per item: what the window would do with it, in text.
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "DumpFormat.h"
#include "DumpOutput.h"
#include "bus/BusItem.h"
#include "bus/uVantrelSeq.h"
#include "support/TestBytes.h"

namespace {
std::string Line(std::initializer_list<int> bytes, int maxLoko = 16) {
  return DumpItemText(Bytes(bytes), maxLoko);
}
}  // namespace

TEST(DumpFormat, LoneBytes) {
  EXPECT_EQ(Line({0x41}), "41\t01 ano");
  EXPECT_EQ(Line({0x81}), "81\t01 ne");
  EXPECT_EQ(Line({0xDE}), "DE\t1E ano");
  EXPECT_EQ(Line({0x1F}), "1F") << "the idle byte is ignored, not logged";
  EXPECT_EQ(Line({0x00}), "00\tlog");
  EXPECT_EQ(Line({0x01}), "01\tlog");
  EXPECT_EQ(Line({0x21}), "21\tlog");
}

TEST(DumpFormat, DeviceMessagesShowTheirCommentOrNothing) {
  EXPECT_EQ(Line({0x4A, 0x41, 0x00, 0x0B}), "4A 41 00 0B\tVyhybka 2 L T");
  EXPECT_EQ(Line({0x62, 0x00, 0x00, 0x03, 0x80}), "62 00 00 03 80\tLoko #3 světla T");
  EXPECT_EQ(Line({0x45, 0x00, 0x01, 0x02}), "45 00 01 02");
  EXPECT_EQ(Line({0x20, 0x01, 0x02, 0x03}), "20 01 02 03")
      << "an unknown run is a device message, not logged";
}

TEST(DumpFormat, CentralMessagesShowWhatTheStatusPanelShows) {
  EXPECT_EQ(Line({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}),
            "00 00 8C 2D 00 13 04\tCentrála: KV8; Firmware: 1.3; Ia =   4.5 A; Im =  12.0 A; "
            "Ip =  37.50 %; 12L (4volných)");
  // Im 0: the load label keeps its old text, so no load is printed.
  EXPECT_EQ(Line({0x00, 0x00, 0x50, 0x2D, 0x00, 0x20, 0x14}),
            "00 00 50 2D 00 20 14\tCentrála: 5; Firmware: 2.0; Ia =   4.5 A; Im =   0.0 A; -4L "
            "(20volných)");
  EXPECT_EQ(Line({0x00, 0x80, 0x80}), "00 80 80\tNapájení zapnuto");
  EXPECT_EQ(Line({0x00, 0x81, 0x81}), "00 81 81\t$81");
  EXPECT_EQ(Line({0x00, 0x84, 0x84}), "00 84 84\tlog");
  EXPECT_EQ(Line({0x00, 0x12}), "00 12\tlog");
}

TEST(DumpFormat, TimePrefixes) {
  EXPECT_EQ(DumpTimePrefix(TTimeMode::tmNone, 5, 1, 0), "");
  EXPECT_EQ(DumpTimePrefix(TTimeMode::tmAbsolute, 1700000000123456, 0, 0), "(1700000000.123456) ");
  EXPECT_EQ(DumpTimePrefix(TTimeMode::tmDelta, 1700000000123456, 0, 0), "(000.000000) ")
      << "first line";
  EXPECT_EQ(DumpTimePrefix(TTimeMode::tmDelta, 3500000, 1000001, 0), "(002.499999) ");
  EXPECT_EQ(DumpTimePrefix(TTimeMode::tmZero, 2500000, 2000000, 1000000), "(001.500000) ");
}

namespace {

int MakePipe(int fds[2]) {
#ifdef _WIN32
  return _pipe(fds, 4096, _O_BINARY);
#else
  return pipe(fds);
#endif
}

// The line as the general texts make it, with the time formatted by printf:
// what the dump printed one line at a time before its lines were batched.
std::string ReferenceLine(TTimeMode mode, int64_t t, int64_t previous, int64_t start,
                          const std::string& item, int maxLoko) {
  std::string line;
  if (mode != TTimeMode::tmNone) {
    int64_t v = mode == TTimeMode::tmAbsolute ? t
                : mode == TTimeMode::tmDelta  ? (previous ? t - previous : 0)
                                              : t - start;
    if (v < 0) v = 0;
    char buf[48];
    std::snprintf(buf, sizeof buf, "(%0*lld.%06lld) ", mode == TTimeMode::tmAbsolute ? 10 : 3,
                  static_cast<long long>(v / 1000000), static_cast<long long>(v % 1000000));
    line = buf;
  }
  std::string hex = MessageToHex(item);
  hex.pop_back();
  line += hex;
  if (const std::string text = ItemText(item, maxLoko); !text.empty()) line += "\t" + text;
  return line + "\n";
}

}  // namespace

// The batched lines (with their shortcut for single bytes) are byte for
// byte the lines of the general texts: every single byte, messages of each
// kind, times before the start and past ten digits of seconds.
TEST(DumpFormat, BatchedLinesEqualTheGeneralLines) {
  std::vector<std::string> items;
  for (int b = 0; b < 256; ++b) items.push_back(std::string(1, static_cast<char>(b)));
  items.push_back(Bytes({0x4A, 0x41, 0x00, 0x0B}));
  items.push_back(Bytes({0x00, 0x00, 0x8C, 0x2D, 0x00, 0x13, 0x04}));
  items.push_back(Bytes({0x00, 0x81, 0x81}));
  items.push_back(Bytes({0x20, 0x01, 0x02, 0x03}));
  constexpr int64_t kStart = 1700000000000000;
  const std::vector<int64_t> times = {kStart - 7, kStart + 5, 99999999999999999};
  for (TTimeMode mode :
       {TTimeMode::tmNone, TTimeMode::tmAbsolute, TTimeMode::tmDelta, TTimeMode::tmZero}) {
    TDumpLines lines(mode, kStart, 20);
    std::string expected;
    int64_t previous = 0, t = kStart + 5;
    std::size_t n = 0;
    for (const std::string& item : items) {
      if (n < times.size()) t = times[n];
      ++n;
      lines.Append(item, t);
      expected += ReferenceLine(mode, t, previous, kStart, item, 20);
      previous = t;
      t += 1234567;
    }
    EXPECT_EQ(lines.Text(), expected) << static_cast<int>(mode);
  }
}

// A pipe or terminal gets each batch at once; a file what waits once it
// is half a second old.
TEST(DumpOutput, PipeAtOnceFileWithinASecond) {
  int fds[2];
  ASSERT_EQ(MakePipe(fds), 0);
  std::FILE* pipeOut = fdopen(fds[1], "w");
  {
    TDumpOutput out(pipeOut);
    EXPECT_TRUE(out.Interactive());
    std::string text = "41\t01 ano\n";
    ASSERT_TRUE(out.Write(text, 0));
    EXPECT_TRUE(text.empty());
    char got[64] = {};
    EXPECT_EQ(read(fds[0], got, sizeof got), 10);
  }
  std::fclose(pipeOut);
  close(fds[0]);

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const auto size = [&] {
    struct stat st {};
    fstat(fileno(file), &st);
    return st.st_size;
  };
  TDumpOutput out(file);
  EXPECT_FALSE(out.Interactive());
  std::string text = "41\t01 ano\n";
  ASSERT_TRUE(out.Write(text, 1000000));
  text = "81\t01 ne\n";
  ASSERT_TRUE(out.Write(text, 1000000 + TDumpOutput::kFilePeriodUs - 1));
  EXPECT_EQ(size(), 0) << "a file gets no write per batch";
  EXPECT_TRUE(out.Pending());
  ASSERT_TRUE(out.FlushIfDue(1000000 + TDumpOutput::kFilePeriodUs));
  EXPECT_EQ(size(), 19);
  EXPECT_FALSE(out.Pending());
  std::fclose(file);
}
