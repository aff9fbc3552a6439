// UTF-8 and UTF-16 as the WHATWG Encoding Standard reads and writes them.
// Decoding never fails: every maximal invalid subpart of the input becomes
// one U+FFFD ("A FF B C3 28" gives "A\uFFFDB\uFFFD(", the surrogate
// encoding "ED A0 80" gives three), and a sequence cut short by the end of
// the input gives one. UTF-16 text is held in char16_t units, which is what
// a BSTR holds on Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr char16_t ReplacementCharacter = 0xFFFD;

// What decoding a run of UTF-8 bytes gives: how many UTF-16 units, and
// whether the bytes were valid UTF-8 throughout (no U+FFFD was made).
struct TUtf8Measure {
  size_t Units = 0;
  bool Valid = true;
};
TUtf8Measure MeasureUtf8(const char* data, size_t length);
inline bool IsValidUtf8(std::string_view text) { return MeasureUtf8(text.data(), text.size()).Valid; }

// The units decoding gives when the bytes are valid UTF-8, counted eight
// bytes at a time without looking at their order: for invalid bytes it may
// differ from MeasureUtf8's count.
size_t CountUtf8Units(const char* data, size_t length);

// Decodes length bytes into target, which has room for MeasureUtf8's units;
// returns the units written. Long runs of ASCII are widened eight at a time.
size_t DecodeUtf8(const char* data, size_t length, char16_t* target);
// The same into room for capacity units: NotDecoded, with nothing written
// past the room, when the units do not fit.
constexpr size_t NotDecoded = static_cast<size_t>(-1);
size_t DecodeUtf8(const char* data, size_t length, char16_t* target, size_t capacity);
std::u16string Utf8ToUtf16(std::string_view text);

// Where a piece of a UTF-8 text that should begin at position may begin so
// that decoding the pieces one by one gives exactly what decoding the whole
// gives: position moved past at most three continuation bytes.
size_t Utf8PieceStart(const char* data, size_t length, size_t position);

// UTF-16 units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, size_t length);
inline std::string Utf16ToUtf8(std::u16string_view text) { return Utf16ToUtf8(text.data(), text.size()); }
// Appends one code point (at most U+10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(char32_t codePoint, std::string& out);
// The bytes as valid UTF-8: every invalid subpart replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view text);

// UTF-16LE or UTF-16BE bytes to UTF-16 units. An unpaired surrogate becomes
// U+FFFD, and so does an odd last byte (one U+FFFD for the two when a lone
// high surrogate comes right before it). Returns the units written, which
// Utf16BytesUnits tells ahead.
size_t DecodeUtf16Bytes(const char* data, size_t length, bool bigEndian, char16_t* target);
size_t Utf16BytesUnits(const char* data, size_t length, bool bigEndian);
// Where a piece of such bytes may begin: an even offset that does not part
// a surrogate pair, nor leave an odd last byte on its own.
size_t Utf16PieceStart(const char* data, size_t length, bool bigEndian, size_t position);
// UTF-8 text as UTF-16LE or UTF-16BE bytes, without a byte order mark.
std::string EncodeUtf16Bytes(std::string_view utf8, bool bigEndian);
