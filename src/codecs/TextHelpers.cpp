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
  if (index < 1) index = 1;
  long long size = static_cast<long long>(s.size());
  if (index > size || count < 1) return std::string();
  long long avail = size - index + 1;
  if (count > avail) count = avail;
  return s.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count));
}

std::string AsciiUpperCase(const std::string& s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}
