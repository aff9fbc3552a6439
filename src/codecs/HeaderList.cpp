#include "codecs/HeaderList.h"

#include "codecs/QuotedPrintable.h"
#include "codecs/TextHelpers.h"

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Headers whose values are returned as received, never decoded or cut.
bool KeepsRawValue(const std::string& upperName) {
  return upperName == "CONTENT-TYPE" || upperName == "X-UIDL" || upperName == "REFERENCES";
}

}  // namespace

std::string THeaderList::GetFieldValue(const std::string& name) const {
  if (Empty()) return std::string();
  std::string key = name;
  if (key.empty() || key.back() != ':') key += ':';
  const std::string upperKey = AsciiUpperCase(key);

  int index = 0;
  while (index < Count() && !StartsWith(AsciiUpperCase((*this)[index]), upperKey)) ++index;
  if (index >= Count()) return std::string();

  const std::string& entry = (*this)[index];
  std::string value = Trim(entry.substr(entry.find(':') + 1));
  for (int next = index + 1; next < Count(); ++next) {
    const std::string& line = (*this)[next];
    if (line.empty() || (line[0] != ' ' && line[0] != '\t')) break;
    value += ' ';
    value += Trim(line);
  }

  if (KeepsRawValue(upperKey.substr(0, upperKey.size() - 1))) return value;
  return DecodeEncodedWords(value.substr(0, 255));
}

void THeaderList::TrimAtBlankLine() {
  int blank = -1;
  for (int i = 0; i < Count() && blank < 0; ++i)
    if ((*this)[i].empty()) blank = i;
  if (blank < 0) return;
  while (Count() > blank) Delete(Count() - 1);
}
