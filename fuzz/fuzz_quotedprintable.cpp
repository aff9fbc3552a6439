// Fuzzes the quoted-printable decoders. For every input:
// - DecodeLine never gives more than it was allowed nor more than it read,
//   leaves a line without "=" alone, and turns an all-escaped line back
//   into its bytes;
// - DecodeQuotedPrintable gives one line of at most 255 characters;
// - TQuotedPrintable over the input's lines writes at most what the lines
//   and their line breaks hold, or fails only with its paragraph message.
#include "FuzzSupport.h"
#include "codecs/Exception.h"
#include "codecs/MemoryStream.h"
#include "codecs/QuotedPrintable.h"
#include "codecs/StringList.h"

#include <algorithm>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the length bound of DecodeLine.
  const size_t maxLength = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string line = TQuotedPrintable::DecodeLine(text, maxLength);
  Check(line.size() <= maxLength && line.size() <= text.size(), "decoded line too long");
  if (text.find('=') == std::string::npos) Check(line == text.substr(0, maxLength), "line without = changed");
  const std::string escaped = EscapedQuotedPrintable(text.substr(0, 200));
  Check(TQuotedPrintable::DecodeLine(escaped, escaped.size()) == text.substr(0, 200),
        "escaped bytes do not decode back");

  const std::string first = DecodeQuotedPrintable(text);
  Check(first.size() <= 255 && first.find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
        "more than one line of 255 characters");

  TStringList lines;
  lines.SetText(text.data(), text.size());
  size_t bound = 0;
  for (int i = 0; i < lines.Count(); ++i) bound += std::min<size_t>(lines[i].size(), 255) + 2;
  TMemoryStream stream;
  TQuotedPrintable decoder(&stream, &lines);
  try {
    decoder.Decode();
    Check(static_cast<size_t>(stream.Size()) <= bound, "decoded more than the lines hold");
  } catch (const Exception& e) {
    Check(e.Message() == "Paragraph is too large", "unexpected failure message");
  }
  return 0;
}
