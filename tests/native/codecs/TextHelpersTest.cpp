#include "codecs/TextHelpers.h"

#include <gtest/gtest.h>

namespace {

TEST(Trim, RemovesCodesUpTo32) {
  EXPECT_EQ(Trim(" \t\r\n x y \x01\x1F "), "x y");
  EXPECT_EQ(Trim(std::string("\0a\0", 3)), "a");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // 160 is not a blank
}

TEST(CopyText, ForgivingBounds) {
  EXPECT_EQ(CopyText("abcdef", 2, 3), "bcd");
  EXPECT_EQ(CopyText("abcdef", 0, 2), "ab");
  EXPECT_EQ(CopyText("abcdef", -5, 2), "ab");
  EXPECT_EQ(CopyText("abcdef", 5, 99), "ef");
  EXPECT_EQ(CopyText("abcdef", 7, 1), "");
  EXPECT_EQ(CopyText("abcdef", 2, 0), "");
  EXPECT_EQ(CopyText("abcdef", 2, -1), "");
  EXPECT_EQ(CopyText("", 1, 1), "");
}

TEST(AsciiUpperCase, OnlyAtoZ) {
  EXPECT_EQ(AsciiUpperCase("content-Length:\xE9"), "CONTENT-LENGTH:\xE9");
}

}  // namespace
