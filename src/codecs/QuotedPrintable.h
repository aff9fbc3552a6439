// Quoted-printable decoding: the TQuotedPrintable decoder over a
// line list, the one-line DecodeQuotedPrintable, and DecodeEncodedWords for
// MIME encoded words ("=?charset?B|Q?text?=") in header values.
#pragma once

#include "codecs/MemoryStream.h"
#include "codecs/StringList.h"

#include <string>

class TQuotedPrintable {
public:
  static constexpr size_t ParagraphSize = 24576;

  // Neither the stream nor the lines are owned.
  TQuotedPrintable(TMemoryStream* stream, TStringList* lines) : Stream(stream), Lines(lines) {}
  virtual ~TQuotedPrintable() = default;

  // Appends the decoded content of Lines to Stream, paragraph by paragraph,
  // running one pass of the message pump after each paragraph. Fails with
  // Exception "Paragraph is too large" when a paragraph would reach
  // ParagraphSize bytes; earlier paragraphs are already written then.
  void Decode();

  // Replaces each "=" and the one or two hexadecimal characters after it by
  // the character of that code, left to right, never re-examining a decoded
  // character nor the line's last character; escapes that are not
  // hexadecimal stay. The result is cut to maxLength characters.
  static std::string DecodeLine(const std::string& line, size_t maxLength);

  TMemoryStream* Stream;
  TStringList* Lines;
};

// The first line of the quoted-printable decoding of the first 255
// characters of text, cut to 255 characters.
std::string DecodeQuotedPrintable(const std::string& text);

// Replaces each encoded word of the first 255 characters of value by its
// decoded text (letter B or b: Base64, Q or q: quoted-printable; the charset
// is ignored), trims the text after each word, turns every "_" into a space
// after each decoded word, and drops an unterminated word from its "=?" on.
// A word with another letter, or without a "?" inside, decodes to the empty
// text. May fail with EInOutError "Invalid Character" from DecodeBase64.
std::string DecodeEncodedWords(const std::string& value);
