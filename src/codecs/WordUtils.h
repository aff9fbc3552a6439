// Word picking, two-way text choice and the system's integer conversion
// shared by the HTTP and TCP layers.
#pragma once

#include <cstdint>
#include <string>

// The integer conversion that serves the whole system (URLDecode, the
// quoted-printable decoder, chunk sizes, Content-Length, status and reply
// codes, ports). It accepts exactly:
//   leading spaces (code 32 only), then an optional "+" or "-", then either
//   - decimal digits 0-9, at least one, value within -2147483648..2147483647, or
//   - "$" followed by hexadecimal digits (0-9, A-F, a-f), at least one, with at
//     most 32 significant bits; the 32 bits are taken as a two's-complement
//     value ("$FFFFFFFF" is -1, "$80000000" is -2147483648) and then negated
//     when a "-" came first;
//   and nothing after the digits: no trailing blank, no NUL, no other byte.
// Not accepted: the empty text, blanks only, a sign or "$" without digits,
// "0x"/"x" prefixes, blanks between sign, "$" and digits, tabs before the number.
bool TryStrToInt(const std::string& text, int32_t& value);
// As TryStrToInt; fails with EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);

// The text after the N-th separating space (only code 32 separates words),
// trimmed; empty when there are fewer than N spaces. With firstWordOnly the
// result stops before its first space. N <= 0 gives the whole text trimmed.
std::string NthWord(const std::string& text, int n, bool firstWordOnly);

// NthWord with firstWordOnly, as an integer; -1 when empty or not a number.
int32_t NthWordAsInteger(const std::string& text, int n);

// The first text when the condition holds, else the second.
std::string ChooseText(bool condition, const std::string& ifTrue, const std::string& ifFalse);
