#include "config/IniFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

TEST(IniFile, FirstOccurrenceWinsAndQuotesAreStripped) {
  char tmpl[] = "/tmp/vt-ini-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  std::string file = dir + "/a.ini";
  {
    TIniFile ini(file);
    EXPECT_FALSE(std::filesystem::exists(file));
    ini.WriteString("S", "k", "1");
    ini.WriteString("s", "K", "'two'");
    ini.WriteString("T", "k", "3");
    EXPECT_EQ(ini.Text(), "[S]\nk='two'\n[T]\nk=3\n");
    // A value that would break the file's structure is refused, file untouched.
    EXPECT_THROW(ini.WriteString("S", "k", "a\n[T]"), EIniWriteError);
    EXPECT_THROW(ini.WriteString("S", "a=b", "1"), EIniWriteError);
  }
  TIniFile again(file);
  EXPECT_EQ(again.ReadString("s", "K", "-"), "two");
  EXPECT_EQ(again.ReadInteger("t", "K", 0), 3);
  EXPECT_EQ(again.ReadString("U", "k", "def"), "def");
  EXPECT_TRUE(again.KeyExists("S", "k"));
  EXPECT_FALSE(again.KeyExists("S", "x"));
  std::filesystem::remove_all(dir);
}

}  // namespace
