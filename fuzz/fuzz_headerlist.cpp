// Fuzzes THeaderList: the input's lines are a header block. For every input:
// - GetFieldValue finds a value exactly when an entry starts with the name
//   and ":" (a-z matched without case), gives the raw names' values as the
//   entry's trimmed text after its first ":" (continuation lines joined),
//   cuts the others to 255 characters, and fails only with "Invalid Character";
// - TrimAtBlankLine keeps exactly the entries before the first empty one.
#include "FuzzSupport.h"
#include "codecs/Exception.h"
#include "codecs/HeaderList.h"
#include "codecs/TextHelpers.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

bool Announces(const std::string& entry, const std::string& name) {
  const std::string key = AsciiUpperCase(name + ":");
  return AsciiUpperCase(entry.substr(0, key.size())) == key;
}

void CheckLookup(const THeaderList& headers, const std::string& name, bool raw) {
  int found = -1;
  for (int i = 0; i < headers.Count() && found < 0; ++i)
    if (Announces(headers[i], name)) found = i;
  std::string value;
  try {
    value = headers.GetFieldValue(name);
  } catch (const EInOutError& e) {
    Check(!raw && found >= 0 && e.Message() == "Invalid Character", "unexpected failure of a lookup");
    return;
  }
  if (found < 0) {
    Check(value.empty(), "a value for a name no entry announces");
    return;
  }
  if (raw) {
    const std::string& entry = headers[found];
    const std::string first = Trim(entry.substr(entry.find(':') + 1));
    Check(value.compare(0, first.size(), first) == 0, "raw value does not start with the entry's value");
  } else {
    Check(value.size() <= 255, "decoded value longer than 255");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  THeaderList headers;
  headers.SetText(reinterpret_cast<const char*>(data), size);

  for (const char* name : {"Content-Length", "Transfer-Encoding", "Location"}) CheckLookup(headers, name, false);
  for (const char* name : {"Content-Type", "x-uidl"}) CheckLookup(headers, name, true);
  // Names taken from the input itself: the text before an entry's ":".
  for (int i = 0; i < headers.Count() && i < 4; ++i) {
    const std::string& entry = headers[i];
    const size_t colon = entry.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = entry.substr(0, colon);
    const std::string upper = AsciiUpperCase(name);
    CheckLookup(headers, name, upper == "CONTENT-TYPE" || upper == "X-UIDL" || upper == "REFERENCES");
  }

  std::vector<std::string> before;
  for (int i = 0; i < headers.Count(); ++i) before.push_back(headers[i]);
  headers.TrimAtBlankLine();
  size_t kept = 0;
  while (kept < before.size() && !before[kept].empty()) ++kept;
  Check(static_cast<size_t>(headers.Count()) == kept, "trimmed to the wrong number of entries");
  for (size_t i = 0; i < kept; ++i) Check(headers[static_cast<int>(i)] == before[i], "a kept entry changed");
  return 0;
}
