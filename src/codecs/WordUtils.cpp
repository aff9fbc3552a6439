#include "codecs/WordUtils.h"

#include "codecs/Exception.h"
#include "codecs/TextHelpers.h"

bool TryStrToInt(const std::string& text, int32_t& value) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i < n && text[i] == '$') {
    ++i;
    if (i == n) return false;
    uint32_t bits = 0;
    for (; i < n; ++i) {
      int d = HexDigitValue(text[i]);
      if (d < 0) return false;
      if (bits & 0xF0000000u) return false;  // a fifth nibble would be lost
      bits = (bits << 4) | static_cast<uint32_t>(d);
    }
    if (negative) bits = 0u - bits;
    value = static_cast<int32_t>(bits);
    return true;
  }
  if (i == n) return false;
  const uint32_t limit = negative ? 2147483648u : 2147483647u;
  uint32_t magnitude = 0;
  for (; i < n; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    uint32_t d = static_cast<uint32_t>(c - '0');
    if (magnitude > (limit - d) / 10) return false;
    magnitude = magnitude * 10 + d;
  }
  value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return true;
}

int32_t StrToInt(const std::string& text) {
  int32_t value = 0;
  if (!TryStrToInt(text, value)) throw EConvertError("'" + text + "' is not a valid integer value");
  return value;
}

std::string NthWord(const std::string& text, int n, bool firstWordOnly) {
  std::string rest = text;
  for (int i = 0; i < n; ++i) {
    size_t space = rest.find(' ');
    if (space == std::string::npos) return std::string();
    rest = Trim(rest.substr(space + 1));
  }
  if (firstWordOnly) {
    size_t space = rest.find(' ');
    if (space != std::string::npos) rest.erase(space);
  }
  return Trim(rest);
}

int32_t NthWordAsInteger(const std::string& text, int n) {
  std::string word = NthWord(text, n, true);
  int32_t value = 0;
  if (word.empty() || !TryStrToInt(word, value)) return -1;
  return value;
}

std::string ChooseText(bool condition, const std::string& ifTrue, const std::string& ifFalse) {
  return condition ? ifTrue : ifFalse;
}
