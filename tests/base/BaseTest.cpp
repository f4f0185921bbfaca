// The integer syntax every caller shares, error texts, WriteAll, TUniqueFd,
// and telling two names of one file.
#include <fcntl.h>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/SameFile.h"
#include "base/Text.h"
#include "base/UniqueFd.h"

namespace {

#ifdef _WIN32
// The C library's pipe, binary so that every byte passes unchanged.
int pipe(int p[2]) { return ::_pipe(p, 1 << 16, _O_BINARY); }
bool IsOpen(int fd) { return ::_get_osfhandle(fd) != -1; }
#else
bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }
#endif

TEST(ParseInteger, FormsAndLimits) {
  struct {
    std::string_view Text;
    bool Ok;
    int32_t Value;
  } cases[] = {
      {"0", true, 0},
      {"-12", true, -12},
      {"+7", true, 7},
      {"  42", true, 42},
      {"007", true, 7},
      {"$2580", true, 9600},
      {"x2580", true, 9600},
      {"X2580", true, 9600},
      {"0x2580", true, 9600},
      {"0X2580", true, 9600},
      {"$ffffffff", true, -1},
      {"$7FFFFFFF", true, 2147483647},
      {"$000000001", true, 1},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"4294967296", false, 0},
      {"$100000000", false, 0},
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"9600 baud", false, 0},
      {"12 ", false, 0},
      {"1.5", false, 0},
      {"$12G", false, 0},
      {"12a", false, 0},
      {std::string_view("1\0"
                        "2",
                        3),
       false, 0},
      // A sign belongs to decimal numbers only; blanks are spaces, not tabs
      // (the settings file strips tabs around a value before it gets here).
      {"-$10", false, 0},
      {"+$10", false, 0},
      {"-0x10", false, 0},
      {"$-10", false, 0},
      {"\t5", false, 0},
      {"- 5", false, 0},
  };
  for (const auto& c : cases) {
    int32_t v = 12345;
    EXPECT_EQ(ParseInteger(c.Text, v), c.Ok) << c.Text;
    EXPECT_EQ(v, c.Ok ? c.Value : 12345) << c.Text;
  }
}

TEST(SystemErrorText, TheSystemsWordsWithoutTrailingPunctuation) {
  EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(SystemErrorText(EACCES), "Permission denied");
  EXPECT_FALSE(SystemErrorText(123456).empty());  // unknown numbers still say so
}

TEST(WriteAll, PassesEverythingThroughAPipeInOrder) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  TUniqueFd readEnd(p[0]), writeEnd(p[1]);
  // Far more than a pipe holds: the writes come back partial.
  std::string data(1 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  std::string got;
  std::thread reader([&] {
    char buf[4096];
    for (ssize_t n; (n = ::read(readEnd.Get(), buf, sizeof buf)) > 0;)
      got.append(buf, static_cast<size_t>(n));
  });
  EXPECT_TRUE(WriteAll(writeEnd.Get(), data));
  writeEnd.Reset();
  reader.join();
  EXPECT_TRUE(got == data);

  // No reader left: the failure and its cause reach the caller.
#ifdef SIGPIPE
  auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
#endif
  ASSERT_EQ(::pipe(p), 0);
  TUniqueFd w(p[1]);
  ::close(p[0]);
  errno = 0;
  EXPECT_FALSE(WriteAll(w.Get(), "x"));
#ifdef _WIN32
  EXPECT_NE(errno, 0);  // the C library's choice: EINVAL for a pipe nobody reads
#else
  EXPECT_EQ(errno, EPIPE);
#endif
#ifdef SIGPIPE
  std::signal(SIGPIPE, oldPipe);
#endif
}

TEST(UniqueFd, ClosesMovesAndKeepsErrno) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  {
    TUniqueFd a(p[0]);
    TUniqueFd b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.Get(), p[0]);
    a = std::move(b);
    EXPECT_EQ(a.Get(), p[0]);
  }  // closes p[0], and only there
  EXPECT_FALSE(IsOpen(p[0]));
  {
    // The clean-up after a failure keeps the failure's errno, even when the
    // close itself fails.
    TUniqueFd stale(p[0]);
    errno = EACCES;
  }
  EXPECT_EQ(errno, EACCES);

  TUniqueFd w(p[1]);
  const int kept = w.Release();
  EXPECT_FALSE(w);
  EXPECT_TRUE(IsOpen(kept));
  w.Reset(kept);
  w.Reset(kept);  // the same descriptor again: still held, not closed
  EXPECT_TRUE(IsOpen(kept));
  w = TUniqueFd();
  EXPECT_FALSE(IsOpen(kept));
}

}  // namespace

// Two names of one file, however spelled or linked, and of one place for a
// file not made yet; two files are two.
TEST(SameFile, SpellingsLinksAndFilesNotThereYet) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() /
      ("vantrel-same-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  std::ofstream(dir / "a.vlog") << "a";
  std::ofstream(dir / "b.vlog") << "b";
  const std::string a = (dir / "a.vlog").string();
  EXPECT_TRUE(SameFile(a, (dir / "sub" / ".." / "a.vlog").string()));
  EXPECT_FALSE(SameFile(a, (dir / "b.vlog").string()));
  EXPECT_FALSE(SameFile(a, ""));
  EXPECT_TRUE(SameFile((dir / "new.vlog").string(), (dir / "." / "new.vlog").string()));
  EXPECT_FALSE(SameFile((dir / "new.vlog").string(), (dir / "sub" / "new.vlog").string()));
#ifndef _WIN32
  fs::create_symlink(dir / "a.vlog", dir / "link.vlog");
  fs::create_hard_link(dir / "a.vlog", dir / "hard.vlog");
  fs::create_directory_symlink(dir / "sub", dir / "sublink");
  EXPECT_TRUE(SameFile(a, (dir / "link.vlog").string()));
  EXPECT_TRUE(SameFile(a, (dir / "hard.vlog").string()));
  EXPECT_TRUE(SameFile((dir / "sub" / "n.vlog").string(), (dir / "sublink" / "n.vlog").string()));
#endif
  fs::remove_all(dir);
}
