// Status line, chunk-size line and Content-Length read from text, including
// the hostile forms a server can send.
#include "http/ResponseParsing.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

TEST(ResponseParsing, StatusLine) {
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {"HTTP/1.0 200 OK", 200},
      {"HTTP/1.1 404 Not Found", 404},
      {"HTTP/1.0  301   Moved", 301},  // blanks around the word are trimmed
      {"HTTP/1.0 200", 200},
      {"HTTP/1.0", -1},
      {"HTTP/1.0 OK 200", -1},
      {"HTTP/1.0 99999999999 Big", -1},
      {"HTTP/1.0 -5 Odd", -5},
      {"HTTP/1.0\t200 Tab", -1},  // only code 32 separates words
      {"", -1},
      {std::string("HTTP/1.0 2\0 X", 13), 2},  // controls around a word are trimmed, NUL too
      {std::string("HTTP/1.0 2\0" "0 X", 14), -1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, ParseStatusLine(c.first).Code) << c.first;
  EXPECT_EQ("HTTP/1.1", ParseStatusLine("HTTP/1.1 204 No Content").Protocol);
  EXPECT_EQ("garbage", ParseStatusLine("garbage").Protocol);
  EXPECT_EQ("", ParseStatusLine(" 200 OK").Protocol);
}

TEST(ResponseParsing, ChunkSizeLine) {
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {"1a", 26},
      {"1A", 26},
      {"0", 0},
      {" 10 \t", 16},
      {"1a;name=value", 26},
      {"1a ; ext", 26},
      {"7fffffff", 2147483647},
      {"0000000000000000000000000000000000000010", 16},  // leading zeros are no bits
      // Values a server can use to make a reader run wild: all end the body.
      {"ffffffff", -1},
      {"80000000", -1},
      {"1234567890abcdef1234567890abcdef12345678", -1},
      {"-1", -1},
      {"+1", -1},
      {"0x10", -1},
      {"$10", -1},
      {"", -1},
      {";ext", -1},
      {"zz", -1},
      {"1 a", -1},
      {std::string("1\0a", 3), -1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, ParseChunkSize(c.first)) << c.first;
}

TEST(ResponseParsing, ContentLengthValue) {
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {"0", 0},
      {"1234", 1234},
      {"2147483647", 2147483647},
      {"2147483648", -1},
      {"99999999999999999999", -1},
      {"-1", -1},
      {"-2147483648", -1},
      {"", -1},
      {"12 34", -1},
      {"12abc", -1},
      {std::string("12\0", 3), -1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, ParseContentLength(c.first)) << c.first;
}
