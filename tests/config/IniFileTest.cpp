#include "config/IniFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

TEST(IniInteger, Forms) {
  struct {
    const char* Text;
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
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"$100000000", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"9600 baud", false, 0},
      {"12 ", false, 0},
      {"1.5", false, 0},
      {"$12G", false, 0},
      {"-$10", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const auto& c : cases) {
    int32_t v = 12345;
    EXPECT_EQ(ParseIniInteger(c.Text, v), c.Ok) << c.Text;
    EXPECT_EQ(v, c.Ok ? c.Value : 12345) << c.Text;
  }
}

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
