// Charsets by their WHATWG Encoding Standard labels, and what an HTTP
// exchange says about the charset of its body: a byte order mark, the
// charset parameter of Content-Type, a <meta> declaration near the start of
// an HTML page. Plain C++: whether a code page is installed is the
// platform's to say, so the choice takes that test as an argument.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// How a charset's bytes become text.
enum class TCharsetKind {
  Utf8,           // decoded here (codecs/Utf8)
  Utf16LE,        // decoded here
  Utf16BE,        // decoded here
  XUserDefined,   // decoded here: 0x80-0xFF are U+F780-U+F7FF
  CodePage        // a Windows code page, converted by the system
};

struct TCharset {
  const char* Name;     // the WHATWG name, lower case ("utf-8", "windows-1251")
  TCharsetKind Kind;
  unsigned CodePage;    // the Windows code page number (65001, 1200 and 1201 for UTF-8 and UTF-16)
};

// The charset a label names, compared without regard to ASCII case after
// blanks around it are dropped ("latin1", " UTF8 ", "iso-8859-1" and
// "us-ascii" name windows-1252, as in browsers); null for an unknown label
// and for the labels of the "replacement" encoding, which reads no text.
const TCharset* FindCharset(std::string_view label);
// The table's charset of a code page; null when it has none.
const TCharset* CharsetOfCodePage(unsigned codePage);
const TCharset& Utf8Charset();

// A byte order mark at the start of body: its charset and length, or null.
const TCharset* SniffByteOrderMark(std::string_view body, size_t& markLength);

// The value of the charset parameter of a Content-Type value, unquoted
// ("text/html; Charset=\"utf-8\"" gives utf-8); empty when there is none.
std::string ContentTypeCharset(std::string_view contentType);
// The media type without parameters, lower case ("text/html").
std::string MediaTypeEssence(std::string_view contentType);
// application/json and every */*+json type.
bool IsJsonMediaType(std::string_view contentType);

// The charset label of the first <meta charset=...> or <meta
// http-equiv="Content-Type" content="...; charset=..."> within the first
// 1024 bytes of an HTML page, found as browsers prescan a page (comments
// and other tags passed over); empty when there is none.
std::string PrescanMetaCharset(std::string_view page);
// The label of a <meta> content attribute's "charset=" part; empty if none.
std::string CharsetFromMetaContent(std::string_view content);

// Whether a charset can be used here (its code page installed).
using TCharsetUsable = std::function<bool(const TCharset&)>;

// What a response's text is decoded with.
struct TCharsetChoice {
  const TCharset* Charset = nullptr;  // null: the system ANSI code page
  size_t MarkLength = 0;              // bytes of a byte order mark before the text
};

// "auto": a byte order mark; the charset parameter of Content-Type; for an
// HTML page (or a body without Content-Type) a <meta> declaration; UTF-8 for
// JSON; with nothing declared, UTF-8 when the body is valid UTF-8, else the
// ANSI code page. A declared label that is unknown or not usable counts as
// not declared.
TCharsetChoice ChooseCharsetAuto(std::string_view contentType, std::string_view body, const TCharsetUsable& usable);
// A charset the script named: used whatever the response says; only a byte
// order mark of that same charset is passed over.
TCharsetChoice ChooseCharsetNamed(const TCharset& named, std::string_view body);
