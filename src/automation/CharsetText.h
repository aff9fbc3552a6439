// Response text in the charset it was decided to be in, as the script
// receives it (UTF-16), or as UTF-8 for the link walk; and request text
// encoded in a charset. UTF-8 and UTF-16 are decoded here; other code pages
// by the system, single-byte ones through a table of their bytes.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "codecs/Charsets.h"

// The body's text (a byte order mark left out) as a BSTR; the empty text is
// a null BSTR. A text of megabytes is decoded on several processors, in
// pieces that begin at character boundaries. Throws std::bad_alloc.
BSTR DecodeToBstr(std::string_view body, const TCharsetChoice& choice);
// The body's text as UTF-8, for a charset other than UTF-8.
std::string DecodeToUtf8(std::string_view body, const TCharsetChoice& choice);

// UTF-8 text in the charset; false when some character has no form there.
bool EncodeInCharset(const std::string& utf8, const TCharset& charset, std::string& out);

// Whether the charset can be used here: decoded by Kestrel itself, or its
// code page installed.
bool IsCharsetUsable(const TCharset& charset);
// The name of the system ANSI code page: its WHATWG name ("windows-1252"),
// else "cp" and its number.
std::string AnsiCharsetName();
