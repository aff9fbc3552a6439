// Fuzzes the origin rule. The input is NUL-separated fields: the URL the
// script set, the URL of the hop, then the extra request entries. Whatever
// they hold:
// - to the script's own origin every entry goes unchanged;
// - to another origin no line that goes is a credential line (a line that
//   begins with a blank or a tab continues the line before and names nothing);
// - every line that goes was a line of the entries, in their order;
// - no entry that goes is empty (an empty line ends the request's header
//   block), and an empty line inside one was in the entries;
// - an origin equals itself, and URLs that differ only in the letter case of
//   scheme and host share it.
#include "FuzzSupport.h"
#include "http/OriginRule.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& text, const std::string& separators) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find_first_of(separators, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + (separators.size() > 1 && text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
}

bool Blank(const std::string& s) {
  for (unsigned char c : s) {
    if (c > 32) return false;
  }
  return true;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> fields = Split(std::string(reinterpret_cast<const char*>(data), size), std::string(1, '\0'));
  if (fields.size() < 2) return 0;
  const TOrigin home = OriginOf(fields[0]);
  const TOrigin hop = OriginOf(fields[1]);
  Check(home == OriginOf(fields[0]), "an origin differs from itself");
  const std::string authority = fields[0].substr(0, fields[0].find('/', 8));
  Check(home == OriginOf(Upper(authority) + fields[0].substr(authority.size())), "letter case changed the origin");
  const std::vector<std::string> entries(fields.begin() + 2, fields.end());

  bool heldBack = true;
  Check(ExtraLinesForHop(entries, home, home, heldBack) == entries && !heldBack, "the home origin lost a line");

  const std::vector<std::string> sent = ExtraLinesForHop(entries, home, hop, heldBack);
  if (hop == home) Check(sent == entries && !heldBack, "the same origin lost a line");
  if (!heldBack) Check(sent == entries, "lines changed though none was held back");
  // The lines of the entries in order, with where each may go.
  std::vector<std::string> all;
  for (const std::string& entry : entries) {
    if (Blank(entry)) continue;
    for (const std::string& line : Split(entry, "\r\n")) all.push_back(line);
  }
  size_t next = 0;
  for (const std::string& entry : sent) {
    if (Blank(entry)) continue;
    Check(!entry.empty(), "an empty entry goes");
    for (const std::string& line : Split(entry, "\r\n")) {
      while (next < all.size() && all[next] != line) ++next;  // lines held back in between
      Check(next < all.size(), "a line that goes was not among the entries, or out of order");
      ++next;
      const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
      Check(hop == home || continuation || !IsCredentialLine(line), "a credential line goes to another origin");
    }
  }
  return 0;
}
