// Form-style URL encoding and decoding of 8-bit text, behind the
// URLEncode and URLDecode methods of IConn.
#pragma once

#include <string>

// URL-safe characters (* - . 0-9 @ A-Z _ a-z) are copied, a space becomes "+",
// every other byte becomes "%" and two upper-case hex digits. Stops at the
// first NUL.
std::string URLEncode(const std::string& text);

// "+" becomes a space, "%%" a single "%", "%" and two characters the byte of
// that hexadecimal value; anything else is copied. Stops at the first NUL.
// Fails with EConvertError "'$xy' is not a valid integer value" when the two
// characters after "%" are not hexadecimal digits, and with "'$' ..." when "%"
// is the last character. A "%" followed by one character and then the end of
// the text decodes that single hex digit ("%7" gives the byte 7; "%z" fails
// with "'$z' ..."). The decoder never reads past the text.
std::string URLDecode(const std::string& text);

// The text with every byte above 127 written as "%" and two upper-case hex
// digits, everything else (a "%" too) left as it is: a request line carries
// no raw 8-bit byte. A URL in UTF-8 comes out as browsers send it
// ("/caf\xC3\xA9" gives "/caf%C3%A9"), one in the system code page with
// its own bytes ("/caf\xE9" gives "/caf%E9").
std::string PercentEncodeNonAscii(const std::string& text);
