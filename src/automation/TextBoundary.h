// Text at the IConn boundary. Below it all text is 8-bit in the system ANSI
// code page; scripts hand over and receive UTF-16 BSTRs. Both directions
// convert the whole length, so embedded NUL characters survive.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

// A null BSTR is the empty text.
std::string BstrToAnsi(BSTR text);
// The empty text becomes a null BSTR. Throws std::bad_alloc when the string
// cannot be allocated.
BSTR AnsiToBstr(std::string_view text);
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const wchar_t* text, size_t length);
