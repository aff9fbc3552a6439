#include "codecs/Fingerprints.h"

#include "codecs/TextHelpers.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The digest an entry spells, or false.
bool DigestOf(const std::string& entry, std::string& digest) {
  std::string digits;
  for (const char c : entry) {
    if (IsBlank(c) || c == ':') continue;
    if (HexDigitValue(c) < 0 || digits.size() == 64) return false;
    digits += c;
  }
  if (digits.size() != 64) return false;
  digest.assign(32, '\0');
  for (size_t i = 0; i < 32; ++i)
    digest[i] = static_cast<char>(HexDigitValue(digits[2 * i]) << 4 | HexDigitValue(digits[2 * i + 1]));
  return true;
}

}  // namespace

bool ParseFingerprintList(const std::string& Text, std::vector<std::string>& Digests, std::string& BadEntry) {
  std::vector<std::string> digests;
  size_t start = 0;
  for (;;) {  // one pass per entry; ends after the last one
    const size_t end = Text.find_first_of(",;", start);
    const std::string entry = Trim(Text.substr(start, end == std::string::npos ? end : end - start));
    if (!entry.empty()) {
      std::string digest;
      if (!DigestOf(entry, digest)) {
        BadEntry = entry;
        return false;
      }
      digests.push_back(digest);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  Digests.swap(digests);
  return true;
}
