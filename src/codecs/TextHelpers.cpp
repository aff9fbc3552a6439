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

std::string AsciiUpperCase(const std::string& s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}
