// Saving a file whole or not at all: the old file or the new one, never a
// piece, no temporary file left, the cause named.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/ChildProcess.h"
#endif

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/SaveFile.h"

namespace {

namespace fs = std::filesystem;

class SaveFile : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("vantrel-save-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(Dir);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(Dir, fs::perms::owner_all, ignored);
    fs::remove_all(Dir, ignored);
  }
  std::string Path(const char* name) const { return (Dir / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  size_t Entries() const {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(Dir), fs::directory_iterator()));
  }
  static bool Save(const std::string& path, const std::string& text, std::string& error) {
    return SaveFileWhole(
        path, [&](TFileSink& file) { return file.Write(text); }, error);
  }

  fs::path Dir;
};

TEST_F(SaveFile, ReplacesTheFileWholeOrKeepsTheOldOne) {
  const std::string path = Path("a.txt");
  std::string error;
  ASSERT_TRUE(Save(path, "old\n", error)) << error;
  // Pieces small and large, around the collecting buffer's size, with every byte value.
  std::string expected;
  ASSERT_TRUE(SaveFileWhole(
      path,
      [&](TFileSink& file) {
        for (size_t size : {1u, 65535u, 2u, 70000u, 65536u, 300u}) {
          std::string piece(size, '\0');
          for (size_t i = 0; i < size; ++i) piece[i] = static_cast<char>(expected.size() + i * 13);
          expected += piece;
          if (!file.Write(piece)) return false;
        }
        return true;
      },
      error))
      << error;
  EXPECT_TRUE(Read(path) == expected);

  // Giving up half-way, after more than the buffer holds went out.
  const TSaveResult given = SaveFileWhole(path, [&](TFileSink& file) {
    file.Write(std::string(200000, 'x'));
    return false;
  });
  EXPECT_EQ(given.Error, ECANCELED);
  EXPECT_EQ(given.Step, TSaveStep::ssWrite);
  EXPECT_TRUE(Read(path) == expected);

  EXPECT_FALSE(Save(Path("no/such/b.txt"), "x", error));
  EXPECT_EQ(error, "No such file or directory");
  fs::create_directory(Dir / "folder");
  EXPECT_FALSE(Save(Path("folder"), "x", error));
  EXPECT_EQ(error, "Is a directory");

  // A temporary file of a save whose process has gone goes with the next
  // save; other names that look alike stay.
  std::ofstream(Path("a.txt.~999999999.0")) << "stale";
  std::ofstream(Path("a.txt.~backup")) << "kept";
  ASSERT_TRUE(Save(path, "new\n", error)) << error;
  EXPECT_EQ(Read(path), "new\n");
  EXPECT_FALSE(fs::exists(Path("a.txt.~999999999.0")));
  EXPECT_EQ(Entries(), 3u) << "a.txt, a.txt.~backup, folder: no temporary file left";
}

#ifdef _WIN32
TEST_F(SaveFile, ReadOnlyFileIsRefusedAndKept) {
  const std::string path = Path("ro.txt");
  std::string error;
  ASSERT_TRUE(Save(path, "old", error)) << error;
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_FALSE(Save(path, "new", error));
  EXPECT_EQ(error, "Permission denied");
  EXPECT_EQ(Read(path), "old");
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(Entries(), 1u);
}
#else
TEST_F(SaveFile, KeepsModeAndLinksAndNamesTheCause) {
  const std::string path = Path("a.txt");
  std::string error;
  const mode_t mask = ::umask(027);
  const bool made = Save(path, "new file", error);
  ::umask(mask);
  ASSERT_TRUE(made) << error;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u) << "a new file: 0666 less the umask";
  ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
  ASSERT_TRUE(Save(path, "again", error)) << error;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u) << "a replaced file keeps its mode";

  // Through a link the file it names is replaced; the link stays a link.
  ASSERT_EQ(::symlink("a.txt", Path("link").c_str()), 0);
  ASSERT_TRUE(Save(Path("link"), "via link", error)) << error;
  EXPECT_TRUE(fs::is_symlink(Dir / "link"));
  EXPECT_EQ(Read(path), "via link");

  // A write the system refuses half-way: the cause, the old file, no temporary.
  struct rlimit before {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = before;
  limit.rlim_cur = 100000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool big = Save(path, std::string(300000, 'b'), error);
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(big);
  EXPECT_EQ(error, "File too large");
  EXPECT_EQ(Read(path), "via link");
  EXPECT_EQ(Entries(), 2u);

  // A device is written into, never replaced; its refusal is the cause.
  EXPECT_FALSE(Save("/dev/full", "x", error));
  EXPECT_EQ(error, "No space left on device");
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  // A FIFO nobody reads answers at once instead of holding the caller.
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(Save(Path("fifo"), "x", error));
  EXPECT_EQ(error, "No such device or address");

  // A folder this user may not write to.
  ASSERT_EQ(::chmod(Dir.c_str(), 0555), 0);
  const std::string denied = test_support::RunUnprivileged([&] {
    std::string why;
    return Save(Path("new.txt"), "x", why) ? std::string("saved") : why;
  });
  ::chmod(Dir.c_str(), 0700);
  EXPECT_EQ(denied, "Permission denied");
  EXPECT_EQ(Entries(), 3u);
}
// In a sticky folder (/tmp) only a file's owner may rename over it, though
// others may write it: such a file is rewritten in place and stays its
// owner's, as is any file of another user.
TEST_F(SaveFile, FileOfAnotherUserIsRewrittenInPlaceAndStaysTheirs) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
  ASSERT_EQ(::chmod(Dir.c_str(), 01777), 0);
  const std::string path = Path("shared.ini");
  std::string error;
  ASSERT_TRUE(Save(path, "old text, longer than the new one", error));
  ASSERT_EQ(::chmod(path.c_str(), 0646), 0);
  const std::string saved = test_support::RunUnprivileged([&] {
    std::string why;
    return Save(path, "new text", why) ? std::string("saved") : why;
  });
  EXPECT_EQ(saved, "saved");
  EXPECT_EQ(Read(path), "new text");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 07777, 0646u);
  EXPECT_EQ(Entries(), 1u) << "no copy left beside it";

  ASSERT_EQ(::chown(path.c_str(), test_support::kNobody, test_support::kNobody), 0);
  ASSERT_TRUE(Save(path, std::string(100000, 'n'), error)) << error;
  EXPECT_EQ(Read(path), std::string(100000, 'n'));
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, test_support::kNobody) << "a save by root does not take the file over";
  EXPECT_EQ(Entries(), 1u);
}

// A rewrite in place killed half-way: its copy is whole, and the next look
// at the file finishes the rewrite.
TEST_F(SaveFile, RewriteKilledHalfWayIsFinishedFromItsCopy) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a second user";
  const std::string path = Path("shared.ini");
  const std::string a(200000, 'a'), b(300000, 'b');
  std::string error;
  ASSERT_TRUE(Save(path, a, error));
  ASSERT_EQ(::chown(path.c_str(), test_support::kNobody, test_support::kNobody), 0);
  // What a kill leaves: the copy of a process that is gone, a file half new.
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  std::ofstream(path + ".~" + std::to_string(gone) + ".new", std::ios::binary) << b;
  std::ofstream(path, std::ios::binary | std::ios::in) << std::string(1000, 'b');
  RemoveStaleSaveTemps(path);
  EXPECT_EQ(Read(path), b);
  EXPECT_EQ(Entries(), 1u);

  // Killed at any moment: the old text or the new one, whole.
  for (int round = 0; round < 12; ++round) {
    const pid_t saver = ::fork();
    if (saver == 0) {
      for (int i = 0;; ++i) {
        std::string why;
        Save(path, i % 2 ? a : b, why);
      }
    }
    ::usleep(static_cast<useconds_t>(1000 + round * 700));
    ::kill(saver, SIGKILL);
    ::waitpid(saver, nullptr, 0);
    RemoveStaleSaveTemps(path);
    const std::string now = Read(path);
    EXPECT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
    EXPECT_EQ(Entries(), 1u);
  }
}
#endif

}  // namespace
