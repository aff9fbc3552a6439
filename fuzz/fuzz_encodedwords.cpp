// Fuzzes the decoding of header values: DecodeBase64 and DecodeEncodedWords.
// For every input:
// - DecodeBase64 fails exactly when one of the first 255 characters is
//   outside the alphabet and "=", only with "Invalid Character", and gives
//   back what a standard encoder made of the bytes;
// - DecodeEncodedWords gives at most 255 characters, leaves a value without
//   "=?" alone (but for its length), fails only with "Invalid Character",
//   and decodes a B word and a Q word built from the input to the bytes they
//   were built from.
#include "FuzzSupport.h"
#include "codecs/Base64.h"
#include "codecs/Exception.h"
#include "codecs/QuotedPrintable.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[v >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

bool IsInvalidCharacter(const Exception& e) { return e.Message() == "Invalid Character"; }

void CheckBase64(const std::string& text) {
  const std::string head = text.substr(0, 255);
  const bool valid = std::all_of(head.begin(), head.end(), [](char c) { return c && (strchr(kAlphabet, c) || c == '='); });
  try {
    const std::string bytes = DecodeBase64(text);
    Check(valid, "a character outside the alphabet was accepted");
    Check(bytes.size() <= 255 && bytes.size() <= (head.size() * 6 + 7) / 8, "decoded too many bytes");
  } catch (const EInOutError& e) {
    Check(!valid && IsInvalidCharacter(e), "unexpected Base64 failure");
  }
  const std::string payload = text.substr(0, 189);  // 252 characters encoded
  Check(DecodeBase64(Base64(payload)) == payload, "Base64 does not decode back");
}

// A decoded word is decoded again when it holds "=?", and "_" turns into a
// blank afterwards: payloads built for the round trip avoid both.
std::string Payload(const std::string& text, size_t length, bool qWord) {
  std::string payload;
  for (char c : text.substr(0, length)) {
    // A Q word's text is one line; a final "=" would be a soft line break and
    // a final Ctrl-Z would drop the line end: keep to other bytes.
    if (c == '_' || c == '=' || (qWord && (c == '\r' || c == '\n' || c == 0 || c == 26))) c = 'x';
    payload += c;
  }
  return payload;
}

void CheckEncodedWords(const std::string& text) {
  try {
    const std::string value = DecodeEncodedWords(text);
    Check(value.size() <= 255, "decoded value too long");
    const std::string head = text.substr(0, 255);
    if (head.find("=?") == std::string::npos) Check(value == head, "value without words changed");
  } catch (const EInOutError& e) {
    Check(IsInvalidCharacter(e), "unexpected failure of a header value");
  }

  const std::string b = Payload(text, 100, false);
  Check(DecodeEncodedWords("=?utf-8?b?" + Base64(b) + "?=") == b, "B word does not decode back");
  // Upper-case Q: only "?B?" and "?Q?" keep an encoded text that begins with
  // "=" from closing the word.
  const std::string q = Payload(text, 70, true);
  Check(DecodeEncodedWords("=?utf-8?Q?" + EscapedQuotedPrintable(q) + "?=") == q, "Q word does not decode back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckBase64(text);
  CheckEncodedWords(text);
  return 0;
}
