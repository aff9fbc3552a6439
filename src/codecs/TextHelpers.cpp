#include "codecs/TextHelpers.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::string Trim(const std::string& s) {
  size_t first = 0;
  size_t last = s.size();
  while (first < last && IsBlank(s[first])) ++first;
  while (last > first && IsBlank(s[last - 1])) --last;
  return s.substr(first, last - first);
}

std::string CopyText(const std::string& s, long long index, long long count) {
  return std::string(TextRange(s, index, count));
}

std::string AsciiLowerCase(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = AsciiLowerChar(c);
  return r;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLowerChar(text[i]) != AsciiLowerChar(prefix[i])) return false;
  }
  return true;
}

std::string AsciiUpperCase(const std::string& s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}
