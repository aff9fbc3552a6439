#include "http/OriginRule.h"

#include "codecs/TextHelpers.h"
#include "codecs/WordUtils.h"

namespace {

bool IsContinuation(const std::string& line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

// The lines of an entry, split at CR LF, CR and LF.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {  // one pass per line; ends after the last one
    const size_t end = text.find_first_of("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return lines;
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
}

}  // namespace

bool operator==(const TOrigin& a, const TOrigin& b) {
  return a.Scheme == b.Scheme && a.Host == b.Host && a.Port == b.Port;
}

TOrigin OriginOf(const std::string& URL) {
  TOrigin origin;
  const std::string lower = AsciiLowerCase(URL.substr(0, 8));
  if (lower.compare(0, 7, "http://") == 0)
    origin.Scheme = "http";
  else if (lower == "https://")
    origin.Scheme = "https";
  else
    return origin;
  const std::string rest = URL.substr(origin.Scheme.size() + 3);
  const std::string authority = rest.substr(0, rest.find('/'));
  const size_t colon = authority.find(':');
  origin.Host = AsciiLowerCase(authority.substr(0, colon));
  int32_t port = 0;
  if (colon != std::string::npos && TryStrToInt(authority.substr(colon + 1), port) && port > 0 && port <= 65535)
    origin.Port = port;
  else
    origin.Port = origin.Scheme == "https" ? 443 : 80;
  return origin;
}

bool IsCredentialLine(const std::string& Line) {
  const size_t colon = Line.find(':');
  if (colon == std::string::npos) return false;
  const std::string name = AsciiLowerCase(Trim(Line.substr(0, colon)));
  return name == "authorization" || name == "cookie";
}

bool LineGoesTo(const std::string& Line, const TOrigin& Home, const TOrigin& Hop) {
  return Hop == Home || !IsCredentialLine(Line);
}

std::vector<std::string> ExtraLinesForHop(const std::vector<std::string>& Entries, const TOrigin& Home,
                                          const TOrigin& Hop, bool& HeldBack) {
  HeldBack = false;
  if (Hop == Home) return Entries;
  std::vector<std::string> kept;
  kept.reserve(Entries.size());
  bool lastHeldBack = false;  // the line a continuation belongs to
  for (const std::string& entry : Entries) {
    // Blank entries never reach the wire, so they continue nothing.
    if (Trim(entry).empty()) {
      kept.push_back(entry);
      continue;
    }
    std::string rest;
    bool entryLost = false;
    for (const std::string& line : SplitLines(entry)) {
      const bool goes = IsContinuation(line) ? !lastHeldBack : LineGoesTo(line, Home, Hop);
      lastHeldBack = !goes;
      if (!goes) {
        entryLost = true;
        continue;
      }
      if (!rest.empty()) rest += "\r\n";
      rest += line;
    }
    HeldBack = HeldBack || entryLost;
    if (!entryLost)
      kept.push_back(entry);
    else if (!rest.empty())
      kept.push_back(rest);
  }
  return kept;
}
