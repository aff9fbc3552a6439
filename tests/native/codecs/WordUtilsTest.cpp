#include "codecs/WordUtils.h"
#include "codecs/Exception.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

bool Try(const std::string& s, int32_t& v) { return TryStrToInt(s, v); }

int32_t Ok(const std::string& s) {
  int32_t v = 12345;
  EXPECT_TRUE(TryStrToInt(s, v)) << "'" << s << "'";
  EXPECT_EQ(StrToInt(s), v);
  return v;
}

void Bad(const std::string& s) {
  int32_t v = 777;
  EXPECT_FALSE(Try(s, v)) << "'" << s << "'";
  EXPECT_EQ(v, 777) << "value untouched on failure";
  try {
    StrToInt(s);
    ADD_FAILURE() << "no error for '" << s << "'";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'" + s + "' is not a valid integer value");
  }
}

TEST(StrToInt, Decimal) {
  EXPECT_EQ(Ok("0"), 0);
  EXPECT_EQ(Ok("200"), 200);
  EXPECT_EQ(Ok("+7"), 7);
  EXPECT_EQ(Ok("-7"), -7);
  EXPECT_EQ(Ok("-0"), 0);
  EXPECT_EQ(Ok("000123"), 123);
  EXPECT_EQ(Ok("2147483647"), INT32_MAX);
  EXPECT_EQ(Ok("-2147483648"), INT32_MIN);
  EXPECT_EQ(Ok("00000000000000000002147483647"), INT32_MAX);
}

TEST(StrToInt, DecimalOutOfRange) {
  Bad("2147483648");
  Bad("-2147483649");
  Bad("4294967296");
  Bad("99999999999999999999");
  Bad("+2147483648");
}

TEST(StrToInt, Blanks) {
  EXPECT_EQ(Ok("  42"), 42);  // leading spaces are skipped
  EXPECT_EQ(Ok(" -42"), -42);
  EXPECT_EQ(Ok(" $1F"), 31);
  Bad("42 ");    // trailing blank
  Bad(" 42 ");
  Bad("\t42");   // only the space is skipped
  Bad("42\r");
  Bad("- 42");   // nothing between sign and digits
  Bad("4 2");
}

TEST(StrToInt, EmptyAndSignsAlone) {
  Bad("");
  Bad(" ");
  Bad("   ");
  Bad("+");
  Bad("-");
  Bad("--1");
  Bad("+-1");
  Bad("1-");
}

TEST(StrToInt, DollarHexadecimal) {
  EXPECT_EQ(Ok("$ff"), 255);
  EXPECT_EQ(Ok("$FF"), 255);
  EXPECT_EQ(Ok("$e9"), 233);
  EXPECT_EQ(Ok("$0"), 0);
  EXPECT_EQ(Ok("$7FFFFFFF"), INT32_MAX);
  EXPECT_EQ(Ok("$80000000"), INT32_MIN);   // the 32 bits as two's complement
  EXPECT_EQ(Ok("$FFFFFFFF"), -1);
  EXPECT_EQ(Ok("$00000000FF"), 255);       // leading zeros are not significant
  EXPECT_EQ(Ok("-$10"), -16);
  EXPECT_EQ(Ok("+$10"), 16);
  Bad("$");
  Bad("$100000000");                       // more than 32 bits
  Bad("$zz");
  Bad("$4g");
  Bad("$ 1");
  Bad("$-1");
  Bad("$+1");
  Bad("$1 ");
  Bad("$$1");
  Bad("1$");
}

TEST(StrToInt, OtherFormsAreNotNumbers) {
  Bad("0x10");
  Bad("0X10");
  Bad("x10");
  Bad("#10");
  Bad("1e3");
  Bad("1.0");
  Bad("1,000");
  Bad("12abc");
  Bad("abc");
  Bad("\xB2");  // superscript two
}

TEST(StrToInt, NulIsNotAccepted) {
  Bad(std::string("12\0", 3));
  Bad(std::string("\0" "12", 3));
  Bad(std::string("$1\0", 3));
}

TEST(NthWord, SpecExamples) {
  EXPECT_EQ(NthWord("HTTP/1.0 200 OK", 1, true), "200");
  EXPECT_EQ(NthWord("HTTP/1.0 200 OK", 1, false), "200 OK");
  EXPECT_EQ(NthWord("HTTP/1.0 200 OK", 3, true), "");
  EXPECT_EQ(NthWord("HTTP/1.0 200 OK", 2, true), "OK");
  EXPECT_EQ(NthWord(" a b", 1, true), "a");  // the leading space is the first separator
}

TEST(NthWord, MoreCases) {
  EXPECT_EQ(NthWord("  padded  ", 0, false), "padded");
  EXPECT_EQ(NthWord("a b c", -3, true), "a");
  EXPECT_EQ(NthWord("a    b   c", 2, true), "c");  // runs of spaces are trimmed away
  EXPECT_EQ(NthWord("a\tb c", 1, true), "c");       // only the space separates
  EXPECT_EQ(NthWord("nospace", 1, false), "");
  EXPECT_EQ(NthWord("", 0, true), "");
  EXPECT_EQ(NthWord("a ", 1, false), "");
  EXPECT_EQ(NthWord("a b", 1000000, true), "");
}

TEST(NthWordAsInteger, Cases) {
  EXPECT_EQ(NthWordAsInteger("HTTP/1.0 404 Not Found", 1), 404);
  EXPECT_EQ(NthWordAsInteger("HTTP/1.0", 1), -1);
  EXPECT_EQ(NthWordAsInteger("HTTP/1.0 OK", 1), -1);
  EXPECT_EQ(NthWordAsInteger("HTTP/1.0  302  Found", 1), 302);
  EXPECT_EQ(NthWordAsInteger("HTTP/1.0 20x", 1), -1);
  EXPECT_EQ(NthWordAsInteger("HTTP/1.0 99999999999", 1), -1);
  EXPECT_EQ(NthWordAsInteger("HTTP/1.0 ", 1), -1);
  EXPECT_EQ(NthWordAsInteger("12 x", 0), 12);
}

TEST(ChooseText, Cases) {
  EXPECT_EQ(ChooseText(true, "a", "b"), "a");
  EXPECT_EQ(ChooseText(false, "a", "b"), "b");
  EXPECT_EQ(ChooseText(false, "", "*/*"), "*/*");
}

}  // namespace
