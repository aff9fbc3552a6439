// Base64 decoding of the encoded words in header values.
#pragma once

#include <string>

// Decodes the first 255 characters of text with the standard alphabet ("="
// counts as 0): n characters give ceil(6n/8) bytes, at most 255 kept, then one
// byte is dropped from the end for each "=" ending the text. Any character
// outside the alphabet and "=" (blanks and line ends included) fails the whole
// decode with EInOutError "Invalid Character".
std::string DecodeBase64(const std::string& text);
