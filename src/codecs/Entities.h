// HTML character references: the 72 named entities and numeric
// decimal references, decoded to 8-bit characters.
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

struct TDecodedEntity {
  bool found = false;
  bool numeric = false;  // a "&#digits" reference
  int length = 0;        // characters consumed from the "&" on, ";" included
  char character = 0;    // the decoded 8-bit character
  std::string name;      // the entity's name; empty for a numeric reference
};

// Decodes the reference at the 1-based position of an "&" in text. An empty
// text gives "not found"; a position that does not hold "&" raises Exception
// "Invalid HTML entity, must begin with &". When not found, the other fields
// keep their defaults.
TDecodedEntity DecodeEntity(std::string_view text, int position);

// Replaces every recognised character reference by its character.
std::string DecodeEntities(const std::string& text);
// The same in place, from position from on: text before it is not looked at.
void DecodeEntitiesFrom(std::string& text, size_t from);
