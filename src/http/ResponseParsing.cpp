#include "http/ResponseParsing.h"

#include "codecs/TextHelpers.h"
#include "codecs/WordUtils.h"

TStatusLine ParseStatusLine(const std::string& line) {
  TStatusLine status;
  status.Protocol = line.substr(0, line.find(' '));
  status.Code = NthWordAsInteger(line, 1);
  return status;
}

int32_t ParseChunkSize(const std::string& line) {
  // A chunk extension (";name=value") says nothing about the size: dropping
  // the chunk because of it would silently cut the body.
  const std::string digits = Trim(line.substr(0, line.find(';')));
  int32_t size;
  // "$" makes the conversion read hexadecimal; it also takes 32-bit values
  // as two's complement, which a size must not be.
  if (digits.empty() || !TryStrToInt("$" + digits, size) || size < 0) return -1;
  return size;
}

int32_t ParseContentLength(const std::string& value) {
  int32_t length;
  if (!TryStrToInt(value, length) || length < 0) return -1;
  return length;
}
