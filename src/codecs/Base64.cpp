#include "codecs/Base64.h"

#include "codecs/Exception.h"

namespace {

constexpr size_t kMaxText = 255;

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return 0;
  throw EInOutError("Invalid Character");
}

}  // namespace

std::string DecodeBase64(const std::string& input) {
  const std::string text = input.substr(0, kMaxText);
  std::string out;
  if (text.empty()) return out;
  out.reserve((text.size() * 6 + 7) / 8);
  // Bits flow most significant first; a final partial byte is padded with zeros.
  unsigned int acc = 0;
  int bits = 0;
  for (char c : text) {
    acc = ((acc << 6) | static_cast<unsigned int>(Base64Value(c))) & 0xFFFFu;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  if (bits > 0) out += static_cast<char>((acc << (8 - bits)) & 0xFF);
  if (out.size() > kMaxText) out.resize(kMaxText);
  for (size_t i = text.size(); i > 0 && text[i - 1] == '=' && !out.empty(); --i) out.pop_back();
  return out;
}
