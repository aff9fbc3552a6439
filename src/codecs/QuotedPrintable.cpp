#include "codecs/QuotedPrintable.h"

#include "codecs/Base64.h"
#include "codecs/Exception.h"
#include "codecs/MessagePumpHook.h"
#include "codecs/TextHelpers.h"
#include "codecs/WordUtils.h"

#include <algorithm>
#include <memory>

namespace {

constexpr size_t kMaxText = 255;
constexpr char kEndOfFile = 26;  // a line ending in Ctrl-Z gets no line break

}  // namespace

std::string TQuotedPrintable::DecodeLine(const std::string& input, size_t maxLength) {
  std::string line = input.substr(0, maxLength);
  // i is 0-based; the loop stops before the line's current last character.
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    if (line[i] != '=') continue;
    size_t digits = std::min<size_t>(2, line.size() - (i + 1));
    int32_t value = 0;
    if (!TryStrToInt("$" + line.substr(i + 1, digits), value)) continue;
    line.replace(i, 1 + digits, 1, static_cast<char>(value & 0xFF));
  }
  return line;
}

void TQuotedPrintable::Decode() {
  std::unique_ptr<char[]> buffer(new char[ParagraphSize]);
  const int count = Lines->Count();
  int next = 0;
  do {
    size_t used = 0;
    bool continues = true;
    while (continues && next < count) {
      std::string line = DecodeLine((*Lines)[next++].substr(0, kMaxText), kMaxText);
      if (!line.empty() && line.back() == '=') {
        line.pop_back();  // soft line break: the paragraph goes on
      } else {
        if (line.empty() || line.back() != kEndOfFile) line = (line + "\r\n").substr(0, kMaxText);
        continues = false;
      }
      if (used + line.size() + 1 >= ParagraphSize) throw Exception("Paragraph is too large");
      std::copy(line.begin(), line.end(), buffer.get() + used);
      used += line.size();
    }
    Stream->Write(buffer.get(), used);
    RunMessagePumpHook();
  } while (next < count);
}

std::string DecodeQuotedPrintable(const std::string& text) {
  TStringList lines;
  lines.Add(text.substr(0, kMaxText));
  TMemoryStream stream;
  TQuotedPrintable decoder(&stream, &lines);
  decoder.Decode();
  TStringList result;
  result.SetText(stream.Memory(), static_cast<size_t>(stream.Size()));
  return result.Empty() ? std::string() : result[0].substr(0, kMaxText);
}

namespace {

// The 0-based index of the "?" of the "?=" closing the word opened at start,
// or npos. A "?=" right after "?B" or "?Q" is the separator before an encoded
// text that begins with "=", not the closing.
size_t FindClosing(const std::string& s, size_t start) {
  for (size_t p = start; p + 1 < s.size(); ++p) {
    if (p < 2 || s[p] != '?' || s[p + 1] != '=') continue;
    if (s[p - 2] == '?' && (s[p - 1] == 'B' || s[p - 1] == 'Q')) continue;
    return p;
  }
  return std::string::npos;
}

std::string DecodeWord(const std::string& word) {
  size_t q = word.find('?');
  if (q == std::string::npos || q + 1 >= word.size()) return std::string();
  char letter = word[q + 1];
  std::string encoded = q + 3 <= word.size() ? word.substr(q + 3) : std::string();
  if (letter == 'B' || letter == 'b') return DecodeBase64(encoded);
  if (letter == 'Q' || letter == 'q') return DecodeQuotedPrintable(encoded);
  return std::string();
}

}  // namespace

std::string DecodeEncodedWords(const std::string& value) {
  std::string s = value.substr(0, kMaxText);
  // Every pass removes "=?" and "?=" and never lengthens the word, so the
  // text shrinks by at least four characters per pass.
  for (;;) {
    size_t start = s.find("=?");
    if (start == std::string::npos) return s;
    size_t close = FindClosing(s, start);
    if (close == std::string::npos) return s.substr(0, start);
    std::string head = s.substr(0, start);
    std::string word = close > start + 2 ? s.substr(start + 2, close - (start + 2)) : std::string();
    std::string tail = s.substr(close + 2);
    s = (head + DecodeWord(word) + Trim(tail)).substr(0, kMaxText);
    std::replace(s.begin(), s.end(), '_', ' ');
  }
}
