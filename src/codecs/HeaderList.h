// THeaderList: the response's status line, header lines and
// closing empty line, one received line per entry, with a lookup by name.
#pragma once

#include "codecs/StringList.h"

#include <string>

class THeaderList : public TStringList {
public:

  // The value of the first entry that starts with name (a ":" is appended
  // when missing), matched with a-z upper-cased only; the text after the
  // entry's first ":" trimmed, joined with a space to each following entry
  // that starts with a space or tab (trimmed). Empty when absent. Except for
  // Content-Type, X-UIDL and References, the value is cut to 255 characters
  // and its MIME encoded words are decoded (may fail with EInOutError
  // "Invalid Character", and runs the message pump for Q words).
  std::string GetFieldValue(const std::string& name) const;

  // Deletes the first empty entry and every entry after it.
  void TrimAtBlankLine();
};
