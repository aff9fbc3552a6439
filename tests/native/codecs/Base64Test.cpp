#include "codecs/Base64.h"
#include "codecs/Exception.h"

#include <gtest/gtest.h>

namespace {

std::string FailMessage(const std::string& text) {
  try {
    DecodeBase64(text);
  } catch (const EInOutError& e) {
    return e.Message();
  }
  return "<no error>";
}

TEST(DecodeBase64, SpecExamples) {
  EXPECT_EQ(DecodeBase64("QUJD"), "ABC");
  EXPECT_EQ(DecodeBase64("QUI="), "AB");
  EXPECT_EQ(DecodeBase64("QQ=="), "A");
  EXPECT_EQ(DecodeBase64("QQ"), std::string("A\0", 2));  // no padding: 2 characters give 2 bytes
  EXPECT_EQ(DecodeBase64(""), "");
  EXPECT_EQ(FailMessage("QQ =="), "Invalid Character");
}

TEST(DecodeBase64, WholeAlphabet) {
  std::string all =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes = DecodeBase64(all);
  ASSERT_EQ(bytes.size(), 48u);
  // 64 values 0..63 in order pack into the repeating bytes 00 10 83 10 51 87 ...
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x00);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0x10);
  EXPECT_EQ(static_cast<unsigned char>(bytes[2]), 0x83);
  EXPECT_EQ(static_cast<unsigned char>(bytes[45]), 0xF3);
  EXPECT_EQ(static_cast<unsigned char>(bytes[46]), 0xDF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[47]), 0xBF);
  EXPECT_EQ(DecodeBase64("aGVsbG8gd29ybGQ="), "hello world");
  EXPECT_EQ(DecodeBase64("w6k="), "\xC3\xA9");  // bytes stay as they are
}

TEST(DecodeBase64, LengthsAndPadding) {
  EXPECT_EQ(DecodeBase64("Q").size(), 1u);   // 6 bits give one byte
  EXPECT_EQ(DecodeBase64("QUJDRA").size(), 5u);
  EXPECT_EQ(DecodeBase64("="), "");           // one byte, one pad removes it
  EXPECT_EQ(DecodeBase64("===="), "");        // removal stops at the empty result
  EXPECT_EQ(DecodeBase64("=A"), std::string(2, '\0'));  // only trailing "=" count
  EXPECT_EQ(DecodeBase64("QUJD===="), "AB");  // 6 bytes, four pads remove four
}

TEST(DecodeBase64, InvalidCharacters) {
  for (const char* bad : {" ", "QQ\r\n", "QQ\t", "Q-Q=", "Q_Q=", "Q.", "Q*", "\xC3\xA9"}) {
    EXPECT_EQ(FailMessage(bad), "Invalid Character") << bad;
  }
  EXPECT_EQ(FailMessage(std::string("QQ\0=", 4)), "Invalid Character");
  EXPECT_THROW(DecodeBase64("Q?"), Exception);
}

TEST(DecodeBase64, TheTwoHundredFiftyFiveCharacterCut) {
  // Only the first 255 characters are read: 1530 bits give 192 bytes.
  std::string a(255, 'A');
  EXPECT_EQ(DecodeBase64(a).size(), 192u);
  EXPECT_EQ(DecodeBase64(a + "AAAA").size(), 192u);
  // A bad character past the 255th is never seen.
  EXPECT_EQ(DecodeBase64(a + "!").size(), 192u);
  // Pads past the 255th do not count; the 255th does.
  EXPECT_EQ(DecodeBase64(std::string(254, 'A') + "=" + "==").size(), 191u);
}

}  // namespace
