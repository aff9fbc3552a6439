// Fuzzes the HTML character references. For every input:
// - DecodeEntities never lengthens the text and leaves text without "&" alone;
// - at every "&", DecodeEntity reports a reference that lies inside the text
//   and matches what is there (the "&#" form, or a table name with its code),
//   or reports nothing at all;
// - at a position that does not hold "&" it fails with its own message.
#include "FuzzSupport.h"
#include "codecs/Entities.h"
#include "codecs/Exception.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

void CheckReference(const std::string& text, int position) {
  const TDecodedEntity e = DecodeEntity(text, position);
  const size_t amp = static_cast<size_t>(position - 1);
  if (!e.found) {
    Check(e.length == 0 && e.character == 0 && e.name.empty() && !e.numeric, "a missing reference has fields set");
    return;
  }
  Check(e.length >= 2 && amp + static_cast<size_t>(e.length) <= text.size(), "reference reaches past the text");
  Check(e.numeric == (text[amp + 1] == '#'), "numeric flag disagrees with the text");
  if (e.numeric) {
    Check(e.name.empty() && text[amp + 2] >= '0' && text[amp + 2] <= '9', "numeric reference without digits");
    return;
  }
  const TEntityEntry* entry = nullptr;
  for (const TEntityEntry& candidate : EntityTable)
    if (e.name == candidate.name) entry = &candidate;
  Check(entry != nullptr, "name not in the table");
  Check(static_cast<unsigned char>(e.character) == entry->code, "character is not the name's");
  Check(text.compare(amp + 1, e.name.size(), e.name) == 0, "name is not the one in the text");
  const size_t nameEnd = amp + 1 + e.name.size();
  Check(static_cast<size_t>(e.length) == nameEnd - amp + (nameEnd < text.size() && text[nameEnd] == ';' ? 1 : 0),
        "length does not cover the name and its semicolon");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string decoded = DecodeEntities(text);
  Check(decoded.size() <= text.size(), "decoding made the text longer");
  if (text.find('&') == std::string::npos) Check(decoded == text, "text without references changed");

  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '&') CheckReference(text, static_cast<int>(i + 1));

  if (text.empty()) return 0;
  // Positions that hold no "&": before the text, past it, and the first such character.
  std::vector<size_t> positions = {0, text.size() + 1};
  const size_t plain = text.find_first_not_of('&');
  if (plain != std::string::npos) positions.push_back(plain + 1);
  for (size_t position : positions) {
    try {
      DecodeEntity(text, static_cast<int>(position));
      Fail("a position without & was accepted");
    } catch (const Exception& e) {
      Check(e.Message() == "Invalid HTML entity, must begin with &", "unexpected failure message");
    }
  }
  return 0;
}
