// Small 8-bit text helpers shared by the codecs (and usable by any layer):
// trimming and 1-based substring copy with the runtime's forgiving bounds.
#pragma once

#include <string>
#include <string_view>

// Removes leading and trailing characters with codes up to 32 (space and controls).
std::string Trim(const std::string& s);

// The characters of s from the 1-based position index, at most count of them.
// An index below 1 counts as 1; an index past the end or a count below 1 gives
// the empty text. Never reads outside s.
std::string CopyText(const std::string& s, long long index, long long count);
// The same characters as CopyText, as a view of s instead of a copy.
// Inline: the lexers take a range of a line for nearly every token.
inline std::string_view TextRange(std::string_view s, long long index, long long count) {
  if (index < 1) index = 1;
  const long long size = static_cast<long long>(s.size());
  if (index > size || count < 1) return std::string_view();
  const long long avail = size - index + 1;
  if (count > avail) count = avail;
  return s.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count));
}

// Upper-cases only the letters a to z.
std::string AsciiUpperCase(const std::string& s);
// Lower-cases only the letters A to Z: protocol names and tokens, never text
// of the system code page.
std::string AsciiLowerCase(std::string_view s);
inline char AsciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
// The value of a hexadecimal digit (0-9, A-F, a-f), -1 for any other byte.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
// text begins with prefix, ASCII letters compared without regard to case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
