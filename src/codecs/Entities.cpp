#include "codecs/Entities.h"

#include "codecs/Exception.h"
#include "codecs/TextHelpers.h"
#include "codecs/Utf8.h"
#include "codecs/WordUtils.h"


const TEntityEntry EntityTable[EntityCount] = {
    {"gt", 62},      {"lt", 60},      {"quot", 34},    {"amp", 38},     {"reg", 174},
    {"copy", 169},   {"ensp", 32},    {"emsp", 32},    {"nbsp", 32},    {"endash", 45},
    {"emdash", 45},  {"Agrave", 192}, {"Acirc", 194},  {"Auml", 196},   {"AElig", 198},
    {"Egrave", 200}, {"Ecirc", 202},  {"Igrave", 204}, {"Icirc", 206},  {"Ograve", 210},
    {"Ocirc", 212},  {"Ouml", 214},   {"Oslash", 216}, {"Uacute", 218}, {"Uuml", 220},
    {"THORN", 222},  {"agrave", 224}, {"acirc", 226},  {"auml", 228},   {"aelig", 230},
    {"egrave", 232}, {"ecirc", 234},  {"igrave", 236}, {"icirc", 238},  {"eth", 240},
    {"ograve", 242}, {"ocirc", 244},  {"ouml", 246},   {"oslash", 248}, {"uacute", 250},
    {"uuml", 252},   {"thorn", 254},  {"Aacute", 193}, {"Atilde", 195}, {"Aring", 197},
    {"Ccedil", 199}, {"Eacute", 201}, {"Euml", 203},   {"Iacute", 205}, {"Iuml", 207},
    {"Ntilde", 209}, {"Oacute", 211}, {"Otilde", 213}, {"Ugrave", 217}, {"Ucirc", 219},
    {"Yacute", 221}, {"szlig", 223},  {"aacute", 225}, {"atilde", 227}, {"aring", 229},
    {"ccedil", 231}, {"eacute", 233}, {"euml", 235},   {"iacute", 237}, {"iuml", 239},
    {"ntilde", 241}, {"oacute", 243}, {"otilde", 245}, {"ugrave", 249}, {"ucirc", 251},
    {"yacute", 253}, {"yuml", 255},
};

namespace {

// What browsers make of the numbers 128 to 159, which name C1 controls: the
// windows-1252 characters of those bytes (0 where that byte has none).
const char16_t C1Replacements[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t UnicodeOfNumber(unsigned long long value) {
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return ReplacementCharacter;
  if (value >= 0x80 && value <= 0x9F && C1Replacements[value - 0x80]) return C1Replacements[value - 0x80];
  return static_cast<char32_t>(value);
}

// The Unicode form's "&#" digits [";"] or "&#x" hex digits [";"]: any number
// of digits, a value past U+10FFFF giving U+FFFD.
TDecodedEntity DecodeNumericUnicode(std::string_view text, size_t amp) {
  TDecodedEntity r;
  size_t i = amp + 2;
  const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
  if (hex) ++i;
  const size_t first = i;
  unsigned long long value = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0 || digit >= (hex ? 16 : 10)) break;
    // Past the range it stays past.
    if (value <= 0x10FFFF) value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
  }
  if (i == first) return r;
  if (i < text.size() && text[i] == ';') ++i;
  r.found = true;
  r.numeric = true;
  r.length = static_cast<int>(i - amp);
  r.codePoint = UnicodeOfNumber(value);
  r.character = static_cast<char>(r.codePoint & 0xFF);
  return r;
}

// "&#" digits [";"]: the digits must convert to a signed 32-bit value.
TDecodedEntity DecodeNumeric(std::string_view text, size_t amp) {
  TDecodedEntity r;
  size_t i = amp + 2;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  const std::string digits(text.substr(amp + 2, i - (amp + 2)));
  if (i < text.size() && text[i] == ';') ++i;
  int32_t value = 0;
  if (digits.empty() || !TryStrToInt(digits, value)) return r;
  r.found = true;
  r.numeric = true;
  r.length = static_cast<int>(i - amp);
  r.character = static_cast<char>(value & 0xFF);
  r.codePoint = static_cast<unsigned char>(r.character);
  return r;
}

// Names compare case-sensitively over the name's length; no terminator needed.
TDecodedEntity DecodeNamed(std::string_view text, size_t amp) {
  TDecodedEntity r;
  const size_t start = amp + 1;
  for (const TEntityEntry& e : EntityTable) {
    const size_t len = e.length;
    if (text.size() - start < len || text[start] != e.name[0] ||
        text.compare(start, len, e.name, len) != 0)
      continue;
    size_t end = start + len;
    if (end < text.size() && text[end] == ';') ++end;
    r.found = true;
    r.length = static_cast<int>(end - amp);
    r.character = static_cast<char>(e.code);
    r.codePoint = e.code;  // the table's codes are Latin-1, which Unicode begins with
    r.name.append(e.name, len);
    return r;
  }
  return r;
}

}  // namespace

TDecodedEntity DecodeEntity(std::string_view text, int position, TReferenceForm form) {
  if (text.empty()) return TDecodedEntity();
  if (position < 1 || static_cast<size_t>(position) > text.size() || text[position - 1] != '&')
    throw Exception("Invalid HTML entity, must begin with &");
  size_t amp = static_cast<size_t>(position - 1);
  if (amp + 1 < text.size() && text[amp + 1] == '#')
    return form == TReferenceForm::Unicode ? DecodeNumericUnicode(text, amp) : DecodeNumeric(text, amp);
  return DecodeNamed(text, amp);
}

std::string DecodeEntities(const std::string& text, TReferenceForm form) {
  std::string out(text);
  DecodeEntitiesFrom(out, 0, form);
  return out;
}

void DecodeEntitiesFrom(std::string& text, size_t from, TReferenceForm form) {
  // A plain loop: link texts are short, and the C library's search costs
  // more to call than the loop takes.
  size_t i = from;
  while (i < text.size() && text[i] != '&') ++i;
  if (i == text.size()) return;
  // Decoding only shortens the text: it is rewritten in place, the write
  // position never passing the read position.
  size_t out = i;
  while (i < text.size()) {
    if (text[i] == '&') {
      TDecodedEntity e = DecodeEntity(text, static_cast<int>(i + 1), form);
      if (e.found && form == TReferenceForm::Unicode) {
        std::string utf8;
        AppendUtf8(e.codePoint, utf8);
        text.replace(out, utf8.size(), utf8);
        out += utf8.size();
        i += static_cast<size_t>(e.length);
        continue;
      }
      if (e.found) {
        text[out++] = e.character;
        i += static_cast<size_t>(e.length);
        continue;
      }
    }
    text[out++] = text[i++];
  }
  text.resize(out);
}
