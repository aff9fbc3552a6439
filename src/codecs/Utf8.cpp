#include "codecs/Utf8.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr uint64_t HighBits = 0x8080808080808080ull;

// Eight bytes at once: the fast path over ASCII reads words, not bytes.
inline uint64_t Load64(const unsigned char* at) {
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The character at s[i], as the WHATWG decoder reads it: its code point, or
// U+FFFD for a maximal invalid subpart, and the bytes taken (at least one).
// A byte that ends a subpart early is not taken: it begins the next step.
struct TStep {
  char32_t CodePoint;
  size_t Length;
  bool Valid;
};

inline TStep DecodeAt(const unsigned char* s, size_t n, size_t i) {
  const unsigned char lead = s[i];
  if (lead < 0x80) return {lead, 1, true};
  size_t needed;
  char32_t codePoint;
  unsigned char lower = 0x80, upper = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) lower = 0xA0;  // no overlong forms
    if (lead == 0xED) upper = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    codePoint = lead & 0x07;
    if (lead == 0xF0) lower = 0x90;  // no overlong forms
    if (lead == 0xF4) upper = 0x8F;  // nothing past U+10FFFF
  } else {
    return {ReplacementCharacter, 1, false};
  }
  size_t j = i + 1;
  for (size_t k = 0; k < needed; ++k, ++j) {
    if (j >= n) return {ReplacementCharacter, j - i, false};  // cut short by the end
    const unsigned char next = s[j];
    if (next < lower || next > upper) return {ReplacementCharacter, j - i, false};
    lower = 0x80;
    upper = 0xBF;
    codePoint = codePoint << 6 | (next & 0x3F);
  }
  return {codePoint, j - i, true};
}

inline bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

inline char16_t* WriteUtf16(char32_t codePoint, char16_t* target) {
  if (codePoint < 0x10000) {
    *target++ = static_cast<char16_t>(codePoint);
    return target;
  }
  codePoint -= 0x10000;
  *target++ = static_cast<char16_t>(0xD800 + (codePoint >> 10));
  *target++ = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
  return target;
}

inline char16_t Utf16Unit(const unsigned char* s, size_t index, bool bigEndian) {
  const unsigned first = s[2 * index], second = s[2 * index + 1];
  return static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
}

}  // namespace

TUtf8Measure MeasureUtf8(const char* data, size_t length) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(data);
  TUtf8Measure measure;
  size_t i = 0;
  // Bounded by length: every pass takes at least one byte.
  while (i < length) {
    while (i + 8 <= length && (Load64(s + i) & HighBits) == 0) i += 8, measure.Units += 8;
    if (i >= length) break;
    if (s[i] < 0x80) {
      ++i;
      ++measure.Units;
      continue;
    }
    const TStep step = DecodeAt(s, length, i);
    measure.Units += step.CodePoint >= 0x10000 ? 2 : 1;
    measure.Valid = measure.Valid && step.Valid;
    i += step.Length;
  }
  return measure;
}

size_t CountUtf8Units(const char* data, size_t length) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(data);
  // Every byte but a continuation byte (10xxxxxx) begins a unit, and a lead
  // byte of four (11110xxx) begins two.
  size_t units = 0, i = 0;
  for (; i + 8 <= length; i += 8) {
    const uint64_t w = Load64(s + i);
    const uint64_t continuation = w & ~(w << 1) & HighBits;
    const uint64_t fourByteLead = w & (w << 1) & (w << 2) & (w << 3) & HighBits;
    units += 8 - static_cast<size_t>(__builtin_popcountll(continuation)) +
             static_cast<size_t>(__builtin_popcountll(fourByteLead));
  }
  for (; i < length; ++i) units += (s[i] & 0xC0) != 0x80 ? 1 + (s[i] >= 0xF0 ? 1 : 0) : 0;
  return units;
}

size_t DecodeUtf8(const char* data, size_t length, char16_t* target) {
  return DecodeUtf8(data, length, target, NotDecoded);
}

size_t DecodeUtf8(const char* data, size_t length, char16_t* target, size_t capacity) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(data);
  char16_t* out = target;
  size_t room = capacity;
  size_t i = 0;
  // Bounded by length: every pass takes at least one byte.
  while (i < length) {
    while (i + 8 <= length && room >= 8 && (Load64(s + i) & HighBits) == 0) {
      for (int k = 0; k < 8; ++k) out[k] = s[i + k];
      out += 8;
      room -= 8;
      i += 8;
    }
    if (i >= length) break;
    if (room == 0) return NotDecoded;
    const unsigned lead = s[i];
    if (lead < 0x80) {
      *out++ = static_cast<char16_t>(lead);
      --room;
      ++i;
      continue;
    }
    // Two and three bytes of valid text, the common cases, read at once.
    if (lead >= 0xC2 && lead <= 0xDF && i + 1 < length && (s[i + 1] & 0xC0) == 0x80) {
      *out++ = static_cast<char16_t>((lead & 0x1F) << 6 | (s[i + 1] & 0x3F));
      --room;
      i += 2;
      continue;
    }
    if ((lead & 0xF0) == 0xE0 && i + 2 < length && (s[i + 1] & 0xC0) == 0x80 && (s[i + 2] & 0xC0) == 0x80) {
      const char32_t codePoint = (lead & 0x0F) << 12 | (s[i + 1] & 0x3F) << 6 | (s[i + 2] & 0x3F);
      if (codePoint >= 0x800 && !IsSurrogate(codePoint)) {
        *out++ = static_cast<char16_t>(codePoint);
        --room;
        i += 3;
        continue;
      }
    }
    const TStep step = DecodeAt(s, length, i);
    const size_t units = step.CodePoint >= 0x10000 ? 2 : 1;
    if (units > room) return NotDecoded;
    out = WriteUtf16(step.CodePoint, out);
    room -= units;
    i += step.Length;
  }
  return static_cast<size_t>(out - target);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string result(MeasureUtf8(text.data(), text.size()).Units, u'\0');
  if (!result.empty()) DecodeUtf8(text.data(), text.size(), &result[0]);
  return result;
}

size_t Utf8PieceStart(const char* data, size_t length, size_t position) {
  // A sequence holds at most three continuation bytes: past three of them
  // the decoder is back at the start of a character whatever came before.
  for (int k = 0; k < 3 && position < length && (static_cast<unsigned char>(data[position]) & 0xC0) == 0x80; ++k)
    ++position;
  return position;
}

void AppendUtf8(char32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | codePoint >> 6);
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | codePoint >> 12);
    out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | codePoint >> 18);
    out += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

std::string Utf16ToUtf8(const char16_t* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const char32_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
      ++i;
    } else {
      AppendUtf8(IsHighSurrogate(unit) || IsLowSurrogate(unit) ? ReplacementCharacter : unit, out);
    }
  }
  return out;
}

std::string SanitizeUtf8(std::string_view text) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  out.reserve(text.size());
  // Bounded by the text: every pass takes at least one byte.
  for (size_t i = 0; i < text.size();) {
    const TStep step = DecodeAt(s, text.size(), i);
    if (step.Valid) out.append(text.substr(i, step.Length));
    else AppendUtf8(ReplacementCharacter, out);
    i += step.Length;
  }
  return out;
}

size_t DecodeUtf16Bytes(const char* data, size_t length, bool bigEndian, char16_t* target) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(data);
  const size_t count = length / 2;
  char16_t* out = target;
  bool pendingHigh = false;  // an unpaired high surrogate ended the units
  for (size_t i = 0; i < count; ++i) {
    const char16_t unit = Utf16Unit(s, i, bigEndian);
    if (IsHighSurrogate(unit)) {
      if (i + 1 < count && IsLowSurrogate(Utf16Unit(s, i + 1, bigEndian))) {
        *out++ = unit;
        *out++ = Utf16Unit(s, ++i, bigEndian);
      } else {
        *out++ = ReplacementCharacter;
        pendingHigh = i + 1 == count;
      }
    } else {
      *out++ = IsLowSurrogate(unit) ? ReplacementCharacter : unit;
    }
  }
  // An odd last byte is one more error, unless a lone high surrogate just
  // before it is already the error at the end of the input.
  if (length % 2 != 0 && !pendingHigh) *out++ = ReplacementCharacter;
  return static_cast<size_t>(out - target);
}

size_t Utf16BytesUnits(const char* data, size_t length, bool bigEndian) {
  const size_t count = length / 2;
  if (length % 2 == 0) return count;
  const bool lastIsHigh =
      count > 0 && IsHighSurrogate(Utf16Unit(reinterpret_cast<const unsigned char*>(data), count - 1, bigEndian));
  return lastIsHigh ? count : count + 1;
}

size_t Utf16PieceStart(const char* data, size_t length, bool bigEndian, size_t position) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(data);
  position += position % 2;
  // An odd last byte stays with the unit before it: after a lone high
  // surrogate the two are one error, not two.
  if (position + 1 >= length) return length;
  const size_t index = position / 2;
  if (index > 0 && position + 2 <= length && IsHighSurrogate(Utf16Unit(s, index - 1, bigEndian)) &&
      IsLowSurrogate(Utf16Unit(s, index, bigEndian)))
    position += 2;
  return position < length ? position : length;
}

std::string EncodeUtf16Bytes(std::string_view utf8, bool bigEndian) {
  const std::u16string units = Utf8ToUtf16(utf8);
  std::string out(units.size() * 2, '\0');
  for (size_t i = 0; i < units.size(); ++i) {
    const unsigned char high = static_cast<unsigned char>(units[i] >> 8), low = static_cast<unsigned char>(units[i]);
    out[2 * i] = static_cast<char>(bigEndian ? high : low);
    out[2 * i + 1] = static_cast<char>(bigEndian ? low : high);
  }
  return out;
}
