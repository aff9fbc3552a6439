#include "codecs/UrlCodec.h"
#include "codecs/Exception.h"

#include <gtest/gtest.h>

namespace {

std::string DecodeMessage(const std::string& text) {
  try {
    URLDecode(text);
  } catch (const EConvertError& e) {
    return e.Message();
  }
  return "<no error>";
}

TEST(URLEncode, SpecExamples) {
  EXPECT_EQ(URLEncode("a b&c"), "a+b%26c");
  EXPECT_EQ(URLEncode("x/y~z"), "x%2Fy%7Ez");
  EXPECT_EQ(URLEncode("50%"), "50%25");
  EXPECT_EQ(URLEncode("\xE9"), "%E9");
  EXPECT_EQ(URLEncode(""), "");
}

TEST(URLEncode, SafeSetIsExactlyTheListedCharacters) {
  std::string safe;
  for (int c = 1; c < 256; ++c) {
    std::string one(1, static_cast<char>(c));
    std::string enc = URLEncode(one);
    if (enc == one) safe += one;
  }
  EXPECT_EQ(safe, "*-.0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(URLEncode("+!'()"), "%2B%21%27%28%29");
  EXPECT_EQ(URLEncode("\x01\x7F\xFF"), "%01%7F%FF");  // two upper-case digits always
}

TEST(URLEncode, StopsAtNul) {
  EXPECT_EQ(URLEncode(std::string("ab\0c d", 6)), "ab");
  EXPECT_EQ(URLEncode(std::string("\0x", 2)), "");
}

TEST(URLDecode, SpecExamples) {
  EXPECT_EQ(URLDecode("a+b%26c"), "a b&c");
  EXPECT_EQ(URLDecode("%e9"), "\xE9");
  EXPECT_EQ(URLDecode("%E9"), "\xE9");
  EXPECT_EQ(URLDecode("100%%"), "100%");
  EXPECT_EQ(URLDecode(""), "");
}

TEST(URLDecode, PercentPairsAndPlainCharacters) {
  EXPECT_EQ(URLDecode("%%41"), "%41");  // "%%" consumes both; the rest is copied
  EXPECT_EQ(URLDecode("%41%42c"), "ABc");
  EXPECT_EQ(URLDecode("%00x"), std::string("\0x", 2));  // a decoded NUL is written
  EXPECT_EQ(URLDecode("a/b~c"), "a/b~c");
  EXPECT_EQ(URLDecode("++"), "  ");
}

TEST(URLDecode, RoundTripsEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(URLDecode(URLEncode(all)), all);
}

TEST(URLDecode, NonHexDigitsFailWithTheConversionMessage) {
  EXPECT_EQ(DecodeMessage("%zz"), "'$zz' is not a valid integer value");
  EXPECT_EQ(DecodeMessage("ab%4g"), "'$4g' is not a valid integer value");
  EXPECT_EQ(DecodeMessage("% 1"), "'$ 1' is not a valid integer value");
  EXPECT_EQ(DecodeMessage("%-1"), "'$-1' is not a valid integer value");
  EXPECT_EQ(DecodeMessage("%+1"), "'$+1' is not a valid integer value");
  EXPECT_EQ(DecodeMessage("%x1"), "'$x1' is not a valid integer value");
  EXPECT_THROW(URLDecode("%zz"), EConvertError);
  EXPECT_THROW(URLDecode("%zz"), Exception);  // derives from the base error
}

TEST(URLDecode, PercentAtTheEndFails) {
  EXPECT_EQ(DecodeMessage("%"), "'$' is not a valid integer value");
  EXPECT_EQ(DecodeMessage("abc%"), "'$' is not a valid integer value");
}

// Chosen behaviour: "%" with one character before the end decodes that single
// hexadecimal digit, reading nothing beyond the text.
TEST(URLDecode, PercentWithOneCharacterAtTheEnd) {
  EXPECT_EQ(URLDecode("ab%7"), "ab\x07");
  EXPECT_EQ(URLDecode("%F"), "\x0F");
  EXPECT_EQ(DecodeMessage("ab%z"), "'$z' is not a valid integer value");
  EXPECT_EQ(URLDecode("%%"), "%");
}

TEST(URLDecode, StopsAtNul) {
  EXPECT_EQ(URLDecode(std::string("a+b\0%zz", 7)), "a b");
  // The NUL ends the text, so "%4" before it is a one-digit escape.
  EXPECT_EQ(URLDecode(std::string("%4\0" "1", 4)), "\x04");
  EXPECT_EQ(DecodeMessage(std::string("x%\0" "41", 5)), "'$' is not a valid integer value");
}

TEST(URLDecode, NeverReadsPastTheTextOfAnExactBuffer) {
  // A heap copy with no spare room: ASan reports any read beyond it.
  for (const char* s : {"%", "%4", "%41", "a%", "a%4"}) {
    std::string exact(s);
    exact.shrink_to_fit();
    try {
      URLDecode(exact);
    } catch (const EConvertError&) {
    }
  }
}

// What goes on a request line: bytes above 127 percent-encoded, nothing else.
TEST(PercentEncodeNonAscii, EncodesOnlyEightBitBytes) {
  const struct {
    std::string text;
    std::string wire;
  } cases[] = {
      {"/caf\xC3\xA9?q=\xC3\xBC", "/caf%C3%A9?q=%C3%BC"},
      {"/caf\xE9", "/caf%E9"},
      {"/a b%20c?x=%zz&y=+#f", "/a b%20c?x=%zz&y=+#f"},
      {std::string("\x80\xFF\0x", 4), std::string("%80%FF\0x", 8)},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.wire, PercentEncodeNonAscii(c.text)) << c.text;
}

}  // namespace
