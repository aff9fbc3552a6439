#include "http/ConnectionReuse.h"

#include "codecs/TextHelpers.h"
#include "http/ResponseParsing.h"

#include <algorithm>
#include <vector>

namespace {

// Margin taken off the server's idle limit: its clock started when it sent
// the last byte, ours when we read it, and a request on a connection the
// server is closing costs a retry.
const uint32_t IdleMarginMs = 1000;
// Longest idle limit believed from a hint (an hour): a server's word.
const uint32_t MaxIdleLimitMs = 3600 * 1000;

// The values of every header line of this name (lower-case, without the
// colon), continuation lines joined, as received otherwise.
std::vector<std::string> FieldValues(const THeaderList& headers, const std::string& lowerName) {
  std::vector<std::string> values;
  const std::vector<std::string>& lines = headers.Lines();
  for (size_t i = 1; i < lines.size(); ++i) {  // the status line is not a field
    const std::string& line = lines[i];
    const size_t colon = line.find(':');
    if (colon == std::string::npos || AsciiLowerCase(Trim(line.substr(0, colon))) != lowerName) continue;
    std::string value = Trim(line.substr(colon + 1));
    for (size_t next = i + 1; next < lines.size() && !lines[next].empty() &&
                              (lines[next][0] == ' ' || lines[next][0] == '\t');
         ++next)
      value += " " + Trim(lines[next]);
    values.push_back(value);
  }
  return values;
}

// The comma-separated items of a field's values, trimmed and lower-cased.
std::vector<std::string> Tokens(const std::vector<std::string>& values) {
  std::vector<std::string> tokens;
  for (const std::string& value : values) {
    size_t start = 0;
    for (;;) {  // one pass per item
      const size_t comma = value.find(',', start);
      const std::string item = AsciiLowerCase(Trim(value.substr(start, comma - start)));
      if (!item.empty()) tokens.push_back(item);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return tokens;
}

bool Contains(const std::vector<std::string>& tokens, const std::string& token) {
  return std::find(tokens.begin(), tokens.end(), token) != tokens.end();
}

}  // namespace

bool IsInterimStatus(int Status) { return Status >= 100 && Status <= 199 && Status != 101; }

TResponseFraming DecideFraming(const THeaderList& Headers, int Status, bool HeadRequest) {
  TResponseFraming framing;
  if (HeadRequest || (Status >= 100 && Status <= 199) || Status == 204 || Status == 304) {
    framing.Kind = TBodyFraming::None;
    return framing;
  }
  const std::vector<std::string> transfer = Tokens(FieldValues(Headers, "transfer-encoding"));
  // "Content-Length: 5, 5" is one length said twice; anything else that
  // differs is two lengths.
  const std::vector<std::string> lengths = Tokens(FieldValues(Headers, "content-length"));
  bool differing = false;
  for (const std::string& length : lengths) differing = differing || length != lengths.front();
  if (!transfer.empty()) {
    framing.Ambiguous = !lengths.empty();
    framing.Kind = transfer.back() == "chunked" ? TBodyFraming::Chunked : TBodyFraming::UntilClose;
    return framing;
  }
  if (lengths.empty()) return framing;
  framing.Ambiguous = differing;
  framing.Length = ParseContentLength(lengths.front());
  if (framing.Length >= 0) framing.Kind = TBodyFraming::Length;
  else framing.Ambiguous = true;  // a length that is no number leaves the end unknown
  return framing;
}

bool ResponseKeepsConnection(const THeaderList& Headers, const TResponseFraming& Framing) {
  if (Framing.Ambiguous || Framing.Kind == TBodyFraming::UntilClose || Headers.Count() == 0) return false;
  const std::vector<std::string> connection = Tokens(FieldValues(Headers, "connection"));
  if (Contains(connection, "close")) return false;
  const std::string protocol = ParseStatusLine(Headers[0]).Protocol;
  if (protocol == "HTTP/1.0") return Contains(connection, "keep-alive");
  // HTTP/1.1 and later 1.x answers are persistent unless they say otherwise.
  return protocol.compare(0, 7, "HTTP/1.") == 0 && protocol.size() > 7;
}

uint32_t KeepAliveIdleLimitMs(const THeaderList& Headers) {
  for (const std::string& item : Tokens(FieldValues(Headers, "keep-alive"))) {
    if (item.compare(0, 8, "timeout=") != 0) continue;
    const int32_t seconds = ParseContentLength(Trim(item.substr(8)));  // a plain count
    if (seconds < 0) break;
    return static_cast<uint32_t>(std::min<int64_t>(int64_t(seconds) * 1000, MaxIdleLimitMs));
  }
  return DefaultKeepIdleMs;
}

std::string TKeptConnection::KeyOf(bool Secure, const std::string& Server, const std::string& Origin) {
  return AsciiLowerCase((Secure ? "https " : "http ") + Server + " " + Origin);
}

void TKeptConnection::Hold(const std::string& Key, uint32_t NowMs, uint32_t IdleLimitMs) {
  FHeld = true;
  FKey = Key;
  FIdleSince = NowMs;
  FIdleLimit = IdleLimitMs;
}

bool TKeptConnection::Fresh(uint32_t NowMs) const {
  if (!FHeld) return false;
  // A limit of a second or two leaves half of it.
  const uint32_t margin = std::min(IdleMarginMs, FIdleLimit / 2);
  return NowMs - FIdleSince < FIdleLimit - margin;  // unsigned: the tick count's wrap is harmless
}
