// The system's conversions for charsets that Kestrel does not decode itself:
// Windows code pages, and host names in their IDNA (ASCII) form.
#pragma once

#include <cstddef>
#include <string>

// Whether the system has the code page (IsValidCodePage).
bool IsCodePageInstalled(unsigned codePage);

// UTF-16 units that length bytes of the code page become; 0 for none.
// Throws std::bad_alloc for a text longer than the system converts at once.
size_t CodePageUnits(unsigned codePage, const char* data, size_t length);
// Converts into target, which has room for CodePageUnits units. Bytes that
// are not a character of the code page become U+FFFD or the code page's own
// stand-in, as the system converts them.
void DecodeCodePage(unsigned codePage, const char* data, size_t length, char16_t* target, size_t units);

// UTF-16 text in the code page. False when a character has no form of its
// own there (none is replaced by a stand-in or a look-alike); out is then
// unspecified.
bool EncodeCodePage(unsigned codePage, const std::u16string& text, std::string& out);

// A host name (UTF-8) in its IDNA form ("bücher.example" gives
// "xn--bcher-kva.example"), through the system's IdnToAscii, bound when first
// needed. False when the name has no such form, holds what no host name may
// (a blank, a control, "/", "@" and the like), or the system has no
// IdnToAscii.
bool HostNameToAscii(const std::string& host, std::string& ascii);
