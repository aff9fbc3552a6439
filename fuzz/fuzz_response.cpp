// Fuzzes the reading of a response's status line, chunk-size lines and
// Content-Length values; every line of the input is read as each of them.
// For every line:
// - the status line's protocol is its text before the first blank, and a
//   line without a blank has no code;
// - a chunk size is -1 or the value of the line's plain hexadecimal number
//   (extension and surrounding blanks and controls dropped), never negative
//   otherwise and never beyond 31 bits, as an independent reading finds it;
// - a Content-Length is -1 or a count of bytes, and a plain decimal number
//   within 31 bits reads as itself.
#include "FuzzSupport.h"
#include "codecs/StringList.h"
#include "http/ResponseParsing.h"

#include <cstdint>
#include <string>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The chunk size read without the system's integer conversion.
int64_t ReferenceChunkSize(const std::string& line) {
  std::string digits = line.substr(0, line.find(';'));
  size_t begin = 0, end = digits.size();
  while (begin < end && static_cast<unsigned char>(digits[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(digits[end - 1]) <= 32) --end;
  if (begin == end) return -1;
  uint64_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    const int digit = HexValue(digits[i]);
    if (digit < 0) return -1;
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > 0x7FFFFFFF) return -1;
  }
  return static_cast<int64_t>(value);
}

void CheckLine(const std::string& line) {
  const TStatusLine status = ParseStatusLine(line);
  Check(status.Protocol == line.substr(0, line.find(' ')), "protocol is not the first word");
  if (line.find(' ') == std::string::npos) Check(status.Code == -1, "a code without a blank");

  Check(ParseChunkSize(line) == ReferenceChunkSize(line), "chunk size differs from the reference reading");

  const int32_t length = ParseContentLength(line);
  Check(length >= -1, "negative Content-Length");
  const bool decimal = !line.empty() && line.size() <= 10 && line.find_first_not_of("0123456789") == std::string::npos;
  if (decimal && std::stoll(line) <= 0x7FFFFFFF) Check(length == std::stoll(line), "decimal length misread");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TStringList lines;
  lines.SetText(reinterpret_cast<const char*>(data), size);
  for (int i = 0; i < lines.Count(); ++i) CheckLine(lines[i]);
  CheckLine(std::string(reinterpret_cast<const char*>(data), size));  // NULs and line ends inside
  return 0;
}
