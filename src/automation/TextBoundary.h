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

// Text that keeps every character below the boundary is UTF-8: the charset
// mode's texts, file names. An unpaired surrogate becomes U+FFFD, and so
// does every invalid subpart of UTF-8 on the way back.
std::string BstrToUtf8(BSTR text);
BSTR Utf8ToBstr(std::string_view text);
// Between the two 8-bit forms, through UTF-16: the ANSI form is what a BSTR
// converted to ANSI gives.
std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);

// Which of the two forms an 8-bit text below the boundary is in.
enum class TTextForm { Ansi, Utf8 };
BSTR TextToBstr(std::string_view text, TTextForm form);

// A string of size units for a conversion to write, left unfilled where
// filling it would cost a first write to every fresh page on one thread.
// Throws std::bad_alloc.
BSTR AllocateForConversion(size_t size);

// A single-byte code page as a table of the UTF-16 unit the system gives for
// each byte. Bodies of tens of megabytes become text by one look-up per
// byte instead of a pass of the system's conversion to count and one more to
// convert.
class TSingleByteTable {
public:
  // Fills the table by asking the system to convert each byte (with the
  // flags of every conversion here: none). False for a code page that is
  // not single-byte, or whose bytes do not each become one unit on their
  // own and the same unit inside a run of text: such text keeps the system
  // conversion.
  bool Build(UINT codePage);
  wchar_t operator[](unsigned char byte) const { return units_[byte]; }
  // Writes length units to target, one per byte of text.
  void Convert(const char* text, size_t length, wchar_t* target) const;
  // For a table made here rather than asked of the system.
  void SetUnit(unsigned char byte, wchar_t unit) { units_[byte] = unit; }

private:
  wchar_t units_[256] = {};
};

// The table of the system ANSI code page, built on first use; null when that
// code page is not single-byte (Asian double-byte code pages, UTF-8).
const TSingleByteTable* AnsiCodePageTable();
