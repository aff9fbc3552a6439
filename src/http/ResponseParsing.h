// The pieces of an HTTP/1.0 response that are read from text alone: the
// status line, a chunk-size line and the Content-Length value. Plain C++
// without sockets, so that the native tests and the fuzzers reach them;
// THttpClient reads the lines and calls these.
#pragma once

#include <cstdint>
#include <string>

struct TStatusLine {
  std::string Protocol;  // the first blank-separated word, as sent
  int32_t Code = -1;     // the second word as an integer; -1 when absent or not a number
};

// Splits a status line such as "HTTP/1.0 200 OK". Only code 32 separates
// words, and the code is read with the system's integer conversion (so a
// "$" hexadecimal form counts too).
TStatusLine ParseStatusLine(const std::string& line);

// The size that a chunk-size line announces: hexadecimal digits (either
// case), blanks and controls around them ignored, a chunk extension after
// ";" dropped. -1 when the line holds no plain hexadecimal number or its
// value does not fit 31 bits ("ffffffff", 40 digits): such a line ends the
// body, like a size of 0.
int32_t ParseChunkSize(const std::string& line);

// A Content-Length value as a count of bytes, 0 to 2147483647, read with the
// system's integer conversion; -1 ("read until the peer closes") when the
// value is empty, not a number, negative or too large.
int32_t ParseContentLength(const std::string& value);
