#include "http/CookieFile.h"

#include "codecs/TextHelpers.h"

#include "codecs/Exception.h"

#include <string_view>
#include <vector>

namespace {

const char HttpOnlyPrefix[] = "#HttpOnly_";
const char FileHeader[] = "# Netscape HTTP Cookie File";

bool ReadFlag(std::string_view text, bool& flag) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  flag = upper == "TRUE";
  return flag || upper == "FALSE";
}

// Unix seconds: digits only, at most 18 of them (no overflow).
bool ReadExpiry(std::string_view text, int64_t& seconds) {
  if (text.empty() || text.size() > 18) return false;
  seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    seconds = seconds * 10 + (c - '0');
  }
  return true;
}

std::vector<std::string_view> SplitAtTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {  // one field a pass; the last one has no tab after it
    const size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

// The cookie of one line, or false when the line holds none (blank, a
// comment, an expired cookie). Raises for a line not in the format.
bool ReadCookieLine(std::string_view line, int number, int64_t now, TCookie& cookie) {
  const auto refuse = [number](const std::string& why) {
    throw Exception("Invalid cookie line " + std::to_string(number) + ": " + why);
  };
  if (line.find_first_not_of(" \t") == std::string_view::npos) return false;
  cookie.HttpOnly = line.substr(0, sizeof HttpOnlyPrefix - 1) == HttpOnlyPrefix;
  if (cookie.HttpOnly) {
    line.remove_prefix(sizeof HttpOnlyPrefix - 1);
  } else if (line[0] == '#') {
    return false;
  }
  const std::vector<std::string_view> fields = SplitAtTabs(line);
  if (fields.size() != 7)
    refuse("expected 7 fields separated by tabs, found " + std::to_string(fields.size()));

  std::string_view domain = fields[0];
  if (!domain.empty() && domain[0] == '.') domain.remove_prefix(1);
  cookie.Domain = AsciiLowerCase(domain);
  if (!IsCookieDomainText(cookie.Domain)) refuse("the domain is not a host name or address");
  bool subdomains;
  if (!ReadFlag(fields[1], subdomains)) refuse("the second field is not TRUE or FALSE");
  cookie.HostOnly = !subdomains;
  if (subdomains && !MayCoverSubdomains(cookie.Domain))
    refuse("a cookie for every name under " + cookie.Domain + ", which is a public suffix or an address");
  cookie.Path = std::string(fields[2]);
  if (!IsCookiePathText(cookie.Path)) refuse("the path does not start with / or holds a control character or ;");
  if (!ReadFlag(fields[3], cookie.Secure)) refuse("the fourth field is not TRUE or FALSE");
  if (!ReadExpiry(fields[4], cookie.Expiry)) refuse("the expiry is not a number of seconds");
  cookie.Name = std::string(fields[5]);
  cookie.Value = std::string(fields[6]);
  if (!IsCookieNameText(cookie.Name)) refuse("the name is empty or holds =, ; or a control character");
  if (!IsCookieValueText(cookie.Value)) refuse("the value holds ; or a control character (CR, LF, NUL)");
  if (cookie.Name.size() + cookie.Value.size() > TCookieStore::MaxCookieBytes)
    refuse("the cookie is larger than " + std::to_string(TCookieStore::MaxCookieBytes) + " bytes");
  return !IsExpired(cookie, now);
}

}  // namespace

std::string CookieFileText(const TCookieStore& store, int64_t now) {
  std::string text;
  for (const TCookie& cookie : store.Cookies()) {
    if (IsExpired(cookie, now)) continue;
    if (text.empty()) text = std::string(FileHeader) + "\r\n";
    if (cookie.HttpOnly) text += HttpOnlyPrefix;
    text += cookie.HostOnly ? cookie.Domain : "." + cookie.Domain;
    text += cookie.HostOnly ? "\tFALSE\t" : "\tTRUE\t";
    text += cookie.Path;
    text += cookie.Secure ? "\tTRUE\t" : "\tFALSE\t";
    text += std::to_string(cookie.Expiry);
    text += '\t';
    text += cookie.Name;
    text += '\t';
    text += cookie.Value;
    text += "\r\n";
  }
  return text;
}

void LoadCookieFileText(TCookieStore& store, const std::string& text, int64_t now) {
  TCookieStore loaded;
  const std::string_view rest(text);
  size_t start = 0;
  // One line a pass, ended by CR LF, LF or CR; the text's end ends the last.
  for (int number = 1; start < rest.size(); ++number) {
    const size_t end = rest.find_first_of("\r\n", start);
    const std::string_view line = rest.substr(start, end == std::string_view::npos ? end : end - start);
    TCookie cookie;
    if (ReadCookieLine(line, number, now, cookie)) loaded.Store(std::move(cookie), now);
    if (end == std::string_view::npos) break;
    start = end + (rest.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  store.Swap(loaded);
}
