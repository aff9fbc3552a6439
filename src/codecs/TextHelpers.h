// Small 8-bit text helpers shared by the codecs (and usable by any layer):
// trimming and 1-based substring copy with the runtime's forgiving bounds.
#pragma once

#include <string>

// Removes leading and trailing characters with codes up to 32 (space and controls).
std::string Trim(const std::string& s);

// The characters of s from the 1-based position index, at most count of them.
// An index below 1 counts as 1; an index past the end or a count below 1 gives
// the empty text. Never reads outside s.
std::string CopyText(const std::string& s, long long index, long long count);

// Upper-cases only the letters a to z.
std::string AsciiUpperCase(const std::string& s);
