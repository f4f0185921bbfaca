// Tests of TRecordControl without a window: what the connection feeds it
// (reads, the line going down and coming back) is what the log holds.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "app/RecordControl.h"
#include "capture/CaptureReader.h"

namespace {

constexpr int64_t kT0 = 1'765'000'000'000'000;

// The log's chunks and gaps as "c<bytes>" and "g<microseconds>".
std::vector<std::string> Items(const std::string& path) {
  TCaptureReader in;
  EXPECT_TRUE(in.Open(path)) << in.LastErrorText();
  std::vector<std::string> items;
  for (TCaptureItem item; in.Next(item);) {
    if (item.Kind == TCaptureKind::ckChunk) items.push_back("c" + item.Bytes);
    if (item.Kind == TCaptureKind::ckGap) items.push_back("g" + std::to_string(item.GapUs));
  }
  return items;
}

}  // namespace

// A loss, a connect attempt that fails and one that reads: one gap, from the
// loss to the read, before the first read after it; nothing is recorded
// before Start or after Stop.
TEST(RecordControl, AGapRunsFromTheLossToTheReadAcrossAFailedAttempt) {
  QTemporaryDir dir;
  const std::string path = QFile::encodeName(QDir(dir.path()).filePath("r.vlog")).toStdString();
  TRecordControl record;
  const TReadComDaemon::TChunkHook hook = record.ChunkHook();
  EXPECT_TRUE(record.Stop());  // nothing to stop
  record.LineDown(kT0, true);  // not recording: no gap begins
  hook("\x01", kT0 + 500);

  TCaptureHeader header;
  header.StartUs = kT0 + 1000;
  ASSERT_TRUE(record.Start(path, header));
  EXPECT_TRUE(record.Recording());
  hook("\x41", kT0 + 2000);
  record.LineDown(kT0 + 2'000'000, true);   // the port is lost
  record.LineUp(kT0 + 3'000'000);           // an attempt...
  record.LineDown(kT0 + 3'000'100, false);  // ...that fails
  record.LineUp(kT0 + 5'000'000);           // reading again
  hook("\x42", kT0 + 5'000'100);
  hook("\x43", kT0 + 5'000'200);
  ASSERT_TRUE(record.Stop());
  EXPECT_FALSE(record.Recording());
  hook("\x44", kT0 + 6'000'000);

  EXPECT_EQ(Items(path), (std::vector<std::string>{"c\x41", "g3000000", "c\x42", "c\x43"}));
}

TEST(RecordControl, AFileThatCannotBeWrittenIsRefusedWithItsReason) {
  QTemporaryDir dir;
  TRecordControl record;
  // A folder where the file should be.
  EXPECT_FALSE(record.Start(QFile::encodeName(dir.path()).toStdString(), TCaptureHeader()));
  EXPECT_FALSE(record.Recording());
  EXPECT_FALSE(record.ErrorText().empty());
}
