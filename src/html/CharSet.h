// TCharSet: a set of 8-bit character codes, one bit per code. Membership is
// exact: no case folding ever applies to it.
#pragma once

#include <cstdint>
#include <string_view>

class TCharSet {
public:
  constexpr TCharSet() = default;
  // The set of the characters of text.
  constexpr explicit TCharSet(std::string_view text) {
    for (char c : text) Include(c);
  }
  constexpr void Include(char c) {
    unsigned code = static_cast<unsigned char>(c);
    bits_[code >> 6] |= uint64_t{1} << (code & 63);
  }
  constexpr bool Contains(char c) const {
    unsigned code = static_cast<unsigned char>(c);
    return (bits_[code >> 6] >> (code & 63)) & 1;
  }

private:
  uint64_t bits_[4] = {0, 0, 0, 0};
};
