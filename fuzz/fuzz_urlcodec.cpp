// Fuzzes URLEncode and URLDecode. For every input:
// - the encoding holds only URL-safe characters, "+" and "%XX" escapes, and
//   decodes back to the input up to its first NUL;
// - decoding either succeeds with no more characters than it read, or fails
//   with the conversion message naming what followed the "%".
#include "FuzzSupport.h"
#include "codecs/Exception.h"
#include "codecs/UrlCodec.h"

#include <cstdint>
#include <string>

namespace {

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Checks the character at i; an escape's two digits are skipped over.
bool IsSafeOrEscape(const std::string& encoded, size_t& i) {
  const char c = encoded[i];
  if (c == '%') {
    if (i + 2 >= encoded.size() || !IsUpperHex(encoded[i + 1]) || !IsUpperHex(encoded[i + 2])) return false;
    i += 2;
    return true;
  }
  return c == '+' || c == '*' || c == '-' || c == '.' || c == '@' || c == '_' || (c >= '0' && c <= '9') ||
         (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string toNul = text.substr(0, text.find('\0'));

  const std::string encoded = URLEncode(text);
  for (size_t i = 0; i < encoded.size(); ++i) Check(IsSafeOrEscape(encoded, i), "encoding holds an unsafe character");
  Check(URLDecode(encoded) == toNul, "decoding the encoding does not give the text back");

  try {
    const std::string decoded = URLDecode(text);
    Check(decoded.size() <= toNul.size(), "decoding made the text longer");
    if (toNul.find_first_of("%+") == std::string::npos) Check(decoded == toNul, "plain text changed");
  } catch (const EConvertError& e) {
    const std::string& m = e.Message();
    static const std::string tail = "' is not a valid integer value";
    Check(toNul.find('%') != std::string::npos, "failed without a %");
    Check(m.compare(0, 2, "'$") == 0 && m.size() >= tail.size() + 2 &&
              m.compare(m.size() - tail.size(), tail.size(), tail) == 0 && m.size() <= tail.size() + 4,
          "unexpected failure message");
  }
  return 0;
}
