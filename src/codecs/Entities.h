// HTML character references: the 72 named entities and numeric
// references. In the 8-bit form (the system code page's text) a reference
// gives one byte: decimal references only, their value cut to its low 8
// bits. In the Unicode form (UTF-8 text) it gives the real character:
// decimal and hexadecimal references, the named ones by the table's code as a
// code point; a value that names no character gives U+FFFD, and 128 to 159
// the windows-1252 character browsers give.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct TEntityEntry {
  const char* name;  // at most 10 characters
  unsigned char code;
  // Known when the table is built: decoding compares many names per "&".
  size_t length = std::char_traits<char>::length(name);
};

constexpr int EntityCount = 72;
// Searched in this order; the first entry whose name matches wins.
extern const TEntityEntry EntityTable[EntityCount];

enum class TReferenceForm { Byte, Unicode };

struct TDecodedEntity {
  bool found = false;
  bool numeric = false;  // a "&#digits" (or, in the Unicode form, "&#xhex") reference
  int length = 0;        // characters consumed from the "&" on, ";" included
  char character = 0;    // the decoded 8-bit character (the code point's low 8 bits)
  char32_t codePoint = 0;  // the Unicode form's character
  std::string name;      // the entity's name; empty for a numeric reference
};

// Decodes the reference at the 1-based position of an "&" in text. An empty
// text gives "not found"; a position that does not hold "&" raises Exception
// "Invalid HTML entity, must begin with &". When not found, the other fields
// keep their defaults.
TDecodedEntity DecodeEntity(std::string_view text, int position, TReferenceForm form = TReferenceForm::Byte);

// Replaces every recognised character reference by its character.
std::string DecodeEntities(const std::string& text, TReferenceForm form = TReferenceForm::Byte);
// The same in place, from position from on: text before it is not looked at.
// A reference's UTF-8 is never longer than the reference itself.
void DecodeEntitiesFrom(std::string& text, size_t from, TReferenceForm form = TReferenceForm::Byte);
