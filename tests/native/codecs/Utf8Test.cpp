// The WHATWG UTF-8 and UTF-16 decoders and encoders: vectors of bytes and
// the UTF-16 units they give, one row per case; decoding in pieces split at
// every position gives what decoding the whole gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/Utf8.h"

namespace {

std::u16string Decode(const std::string& bytes) {
  std::u16string out(MeasureUtf8(bytes.data(), bytes.size()).Units, u'\0');
  const size_t written = out.empty() ? 0 : DecodeUtf8(bytes.data(), bytes.size(), &out[0]);
  EXPECT_EQ(out.size(), written) << bytes;
  return out;
}

// Decoded in two pieces split where Utf8PieceStart allows, at or after at.
std::u16string DecodeSplit(const std::string& bytes, size_t at) {
  const size_t start = Utf8PieceStart(bytes.data(), bytes.size(), at);
  return Decode(bytes.substr(0, start)) + Decode(bytes.substr(start));
}

struct TUtf8Case {
  const char* bytes;
  std::u16string text;
  bool valid;
};

const char16_t R = ReplacementCharacter;

const TUtf8Case kUtf8Cases[] = {
    {"", u"", true},
    {"plain ASCII, longer than one word of eight", u"plain ASCII, longer than one word of eight", true},
    {"caf\xC3\xA9 \xCE\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80", u"caf\u00e9 \u03a9 \u65e5 \U0001F600", true},
    {"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", u"\uffff\U0010FFFF", true},
    // One U+FFFD per maximal invalid subpart.
    {"A\xFF" "B\xC3(", {u'A', R, u'B', R, u'('}, false},
    {"\x80", {R}, false},                                     // a lone continuation byte
    {"\x80\xBF\x80", {R, R, R}, false},
    {"\xC0\xAF", {R, R}, false},                              // overlong "/"
    {"\xE0\x80\xAF", {R, R, R}, false},                       // overlong, three bytes
    {"\xF0\x80\x80\xAF", {R, R, R, R}, false},                // overlong, four bytes
    {"\xED\xA0\x80", {R, R, R}, false},                       // a surrogate
    {"\xED\xBF\xBF", {R, R, R}, false},
    {"\xF4\x90\x80\x80", {R, R, R, R}, false},                // past U+10FFFF
    {"\xF5\x80", {R, R}, false},
    {"\xE2\x82", {R}, false},                                 // cut short by the end
    {"\xF0\x9F\x98", {R}, false},
    {"\xE2\x82x", {R, u'x'}, false},                          // cut short by a character
    {"\xF0\x9F\x98\xC3\xA9", {R, u'\u00e9'}, false},
    {"\xC3\xC3\xA9", {R, u'\u00e9'}, false},
};

TEST(Utf8, DecodesAsTheWhatwgDecoder) {
  for (const TUtf8Case& c : kUtf8Cases) {
    const std::string bytes(c.bytes);
    EXPECT_EQ(c.text, Decode(bytes)) << bytes;
    EXPECT_EQ(c.valid, IsValidUtf8(bytes)) << bytes;
    EXPECT_EQ(c.text, Utf8ToUtf16(bytes)) << bytes;
    EXPECT_EQ(c.valid ? bytes : Utf16ToUtf8(c.text), SanitizeUtf8(bytes)) << bytes;
    // The fast count is exact for valid text; room one unit short is refused.
    if (c.valid) EXPECT_EQ(c.text.size(), CountUtf8Units(bytes.data(), bytes.size())) << bytes;
    std::u16string room(c.text.size() + 1, u'#');
    EXPECT_EQ(c.text.size(), DecodeUtf8(bytes.data(), bytes.size(), &room[0], c.text.size())) << bytes;
    if (!c.text.empty()) {
      EXPECT_EQ(NotDecoded, DecodeUtf8(bytes.data(), bytes.size(), &room[0], c.text.size() - 1)) << bytes;
      EXPECT_EQ(u'#', room[c.text.size()]) << bytes;
    }
  }
  const std::string nul("a\0b", 3);
  EXPECT_EQ(std::u16string(u"a\0b", 3), Decode(nul));
}

TEST(Utf8, PiecesDecodeToWhatTheWholeGives) {
  std::string all;
  for (const TUtf8Case& c : kUtf8Cases) all += c.bytes;
  all += "\x80\x80\x80\x80\x80 \xE2\x82\xAC\x80\x80";
  const std::u16string whole = Decode(all);
  for (size_t at = 0; at <= all.size(); ++at) EXPECT_EQ(whole, DecodeSplit(all, at)) << "split at " << at;
}

TEST(Utf8, EncodesCodePointsAndUnpairedSurrogates) {
  const struct {
    std::u16string text;
    const char* bytes;
  } cases[] = {
      {u"", ""},
      {u"A\u00e9\u20ac\U0001F600", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {{0xD800, u'x'}, "\xEF\xBF\xBDx"},  // a high surrogate alone
      {{u'x', 0xDC00}, "x\xEF\xBF\xBD"},  // a low one alone
      {{0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.bytes, Utf16ToUtf8(c.text));
  std::string out;
  AppendUtf8(0x10FFFF, out);
  EXPECT_EQ("\xF4\x8F\xBF\xBF", out);
}

struct TUtf16Case {
  std::string little;  // UTF-16LE bytes
  std::u16string text;
};

const TUtf16Case kUtf16Cases[] = {
    {std::string("A\0\xE9\0\xAC\x20", 6), u"A\u00e9\u20ac"},
    {std::string("\x3D\xD8\x00\xDE", 4), u"\U0001F600"},
    {std::string("\x3D\xD8x\0", 4), {ReplacementCharacter, u'x'}},  // a high surrogate alone
    {std::string("\x00\xDEx\0", 4), {ReplacementCharacter, u'x'}},  // a low one alone
    {std::string("x\0y", 3), {u'x', ReplacementCharacter}},          // an odd last byte
    {std::string("\x3D\xD8y", 3), {ReplacementCharacter}},           // a lone high surrogate and an odd byte: one error
};

std::string Swapped(const std::string& bytes) {
  std::string out = bytes;
  for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  return out;
}

TEST(Utf16Bytes, DecodeBothOrdersAsTheWhatwgDecoder) {
  for (const TUtf16Case& c : kUtf16Cases) {
    for (bool bigEndian : {false, true}) {
      const std::string bytes = bigEndian ? Swapped(c.little) : c.little;
      ASSERT_EQ(c.text.size(), Utf16BytesUnits(bytes.data(), bytes.size(), bigEndian)) << bigEndian;
      std::u16string out(c.text.size(), u'\0');
      EXPECT_EQ(c.text.size(), DecodeUtf16Bytes(bytes.data(), bytes.size(), bigEndian, &out[0]));
      EXPECT_EQ(c.text, out) << bigEndian;
    }
  }
}

TEST(Utf16Bytes, PiecesDecodeToWhatTheWholeGives) {
  std::string all;
  for (const TUtf16Case& c : kUtf16Cases) all += c.little + std::string(c.little.size() % 2, '\0');
  std::u16string whole(Utf16BytesUnits(all.data(), all.size(), false), u'\0');
  DecodeUtf16Bytes(all.data(), all.size(), false, &whole[0]);
  for (size_t at = 0; at <= all.size(); ++at) {
    const size_t start = Utf16PieceStart(all.data(), all.size(), false, at);
    ASSERT_EQ(0u, start % 2);
    std::u16string pieces(Utf16BytesUnits(all.data(), start, false) + Utf16BytesUnits(all.data() + start, all.size() - start, false), u'\0');
    const size_t first = DecodeUtf16Bytes(all.data(), start, false, &pieces[0]);
    DecodeUtf16Bytes(all.data() + start, all.size() - start, false, &pieces[first]);
    EXPECT_EQ(whole, pieces) << "split at " << at;
  }
}

TEST(Utf16Bytes, EncodeUtf8TextInEitherOrder) {
  EXPECT_EQ(std::string("A\0\xAC\x20\x3D\xD8\x00\xDE", 8), EncodeUtf16Bytes("A\xE2\x82\xAC\xF0\x9F\x98\x80", false));
  EXPECT_EQ(std::string("\0A\x20\xAC\xD8\x3D\xDE\x00", 8), EncodeUtf16Bytes("A\xE2\x82\xAC\xF0\x9F\x98\x80", true));
  EXPECT_EQ("", EncodeUtf16Bytes("", true));
}

}  // namespace
