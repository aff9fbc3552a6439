#include "codecs/UrlCodec.h"

#include "codecs/WordUtils.h"

#include <cstring>

namespace {

bool IsUrlSafe(unsigned char c) {
  return c == '*' || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == '@' ||
         (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z');
}

// The text up to its first NUL: both routines stop there.
size_t LengthToNul(const std::string& text) {
  const void* nul = memchr(text.data(), 0, text.size());
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - text.data()) : text.size();
}

const char kHex[] = "0123456789ABCDEF";

}  // namespace

std::string URLEncode(const std::string& text) {
  const size_t n = LengthToNul(text);
  std::string out;
  out.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsUrlSafe(c)) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string URLDecode(const std::string& text) {
  const size_t n = LengthToNul(text);
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
      ++i;
    } else if (c == '%' && i + 1 < n && text[i + 1] == '%') {
      out += '%';
      i += 2;
    } else if (c == '%') {
      // "$" and the (up to) two characters that follow inside the text, read
      // by the system's integer conversion; its failure is the decode's.
      size_t digits = n - (i + 1) < 2 ? n - (i + 1) : 2;
      int32_t value = StrToInt("$" + text.substr(i + 1, digits));
      out += static_cast<char>(value & 0xFF);
      i += 1 + digits;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::string PercentEncodeNonAscii(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
      continue;
    }
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  return out;
}
