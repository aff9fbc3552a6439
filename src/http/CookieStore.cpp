#include "http/CookieStore.h"

#include "codecs/TextHelpers.h"
#include "http/CookieDate.h"
#include "http/PublicSuffix.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// The expiry of a cookie that only deletes: before any time.
constexpr int64_t Deleted = std::numeric_limits<int64_t>::min();

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool HasControlOrSemicolon(std::string_view s) {
  for (const char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == ';') return true;
  }
  return false;
}

// The host is the domain, or a name under it; an address only is itself.
bool DomainMatches(std::string_view host, std::string_view domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == '.' && !IsAddressHost(host);
}

// The request path is the cookie's path or lies below it.
bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (requestPath == cookiePath) return true;
  if (requestPath.size() <= cookiePath.size() || requestPath.substr(0, cookiePath.size()) != cookiePath)
    return false;
  return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

// A cookie without a Path of its own belongs to the folder of the page that set it.
std::string DefaultPath(std::string_view path) {
  const size_t last = path.rfind('/');
  if (path.empty() || path[0] != '/' || last == 0) return "/";
  return std::string(path.substr(0, last));
}

// Max-Age: an optional "-" and digits; false for anything else. A value
// beyond any cookie's life saturates.
bool ReadMaxAge(std::string_view text, int64_t& seconds) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return false;
  seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    if (seconds < TCookieStore::MaxLifeSeconds) seconds = seconds * 10 + (c - '0');
  }
  if (negative) seconds = -seconds;
  return true;
}

// The attributes of a Set-Cookie line after its name and value, each kind's
// last occurrence winning.
struct TCookieAttributes {
  bool HasMaxAge = false, HasExpires = false, HasDomain = false, HasPath = false;
  int64_t MaxAge = 0, Expires = 0;
  std::string Domain, Path, SameSite;
  bool Secure = false, HttpOnly = false;
};

void ReadAttribute(std::string_view key, std::string_view value, TCookieAttributes& a) {
  // An attribute of an unknown name, or whose value cannot be read, is left out.
  const std::string name = AsciiLowerCase(key);
  if (name == "expires") {
    a.HasExpires = a.HasExpires | ParseCookieDate(value, a.Expires);
  } else if (name == "max-age") {
    a.HasMaxAge = a.HasMaxAge | ReadMaxAge(value, a.MaxAge);
  } else if (name == "domain") {
    if (!value.empty() && value[0] == '.') value.remove_prefix(1);
    if (value.empty() || value.size() > TCookieStore::MaxAttributeBytes) return;
    a.HasDomain = true;
    a.Domain = AsciiLowerCase(value);
  } else if (name == "path") {
    if (value.size() > TCookieStore::MaxAttributeBytes || HasControlOrSemicolon(value)) return;
    a.HasPath = !value.empty() && value[0] == '/';  // any other value means the default path
    a.Path = std::string(value);
  } else if (name == "secure") {
    a.Secure = true;
  } else if (name == "httponly") {
    a.HttpOnly = true;
  } else if (name == "samesite") {
    if (!HasControlOrSemicolon(value)) a.SameSite = std::string(value);
  }
}

TCookieAttributes ReadAttributes(std::string_view text) {
  TCookieAttributes attributes;
  while (!text.empty()) {  // one attribute a pass; each pass drops at least its ";"
    const size_t end = text.find(';');
    const std::string_view attribute = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const size_t equals = attribute.find('=');
    ReadAttribute(TrimBlanks(attribute.substr(0, equals)),
                  equals == std::string_view::npos ? std::string_view() : TrimBlanks(attribute.substr(equals + 1)),
                  attributes);
  }
  return attributes;
}

// Unix seconds until which the cookie lives, Deleted when it is already
// gone, 0 for a session cookie. Max-Age wins over Expires; no life is longer
// than MaxLifeSeconds.
int64_t ExpiryOf(const TCookieAttributes& a, int64_t now) {
  if (!a.HasMaxAge && !a.HasExpires) return 0;
  const int64_t latest = now + TCookieStore::MaxLifeSeconds;
  if (a.HasMaxAge) return a.MaxAge <= 0 ? Deleted : std::min(now + a.MaxAge, latest);
  return a.Expires <= now ? Deleted : std::min(a.Expires, latest);
}

// The domain rules: a cookie without Domain is the host's alone; a Domain
// must cover the host and be neither a public suffix nor an address, unless
// it names the host itself (which then keeps the cookie to itself).
bool ApplyDomain(const TCookieAttributes& a, const TCookieRequest& request, TCookie& cookie) {
  cookie.Domain = request.Host;
  cookie.HostOnly = true;
  if (!a.HasDomain) return true;
  if (!MayCoverSubdomains(a.Domain)) return a.Domain == request.Host;
  if (!DomainMatches(request.Host, a.Domain)) return false;
  cookie.Domain = a.Domain;
  cookie.HostOnly = false;
  return true;
}

// Names that promise how they were set: "__Secure-" over https with Secure,
// "__Host-" moreover for the host alone and the whole site.
bool KeepsNamePromise(const TCookie& cookie) {
  if (StartsWithNoCase(cookie.Name, "__secure-")) return cookie.Secure;
  if (StartsWithNoCase(cookie.Name, "__host-")) return cookie.Secure && cookie.HostOnly && cookie.Path == "/";
  return true;
}

}  // namespace

TCookieRequest MakeCookieRequest(const std::string& authority, const std::string& target, bool secure) {
  TCookieRequest request;
  std::string_view host = authority;
  const size_t at = host.rfind('@');
  if (at != std::string_view::npos) host.remove_prefix(at + 1);
  if (!host.empty() && host[0] == '[') {
    host = host.substr(0, host.find(']') + 1);  // npos + 1 keeps it whole
  } else {
    host = host.substr(0, host.find(':'));
  }
  request.Host = AsciiLowerCase(host);
  request.Path = target.substr(0, target.find_first_of("?#"));
  if (request.Path.empty() || request.Path[0] != '/') request.Path = "/";
  request.Secure = secure;
  return request;
}

bool IsExpired(const TCookie& cookie, int64_t now) { return cookie.Expiry != 0 && cookie.Expiry <= now; }

bool IsCookieDomainText(std::string_view domain) {
  // A leading dot is the file's mark of a domain cookie, never part of a name.
  if (domain.empty() || domain[0] == '.') return false;
  for (const char c : domain) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
                         c == '[' || c == ']' || c == ':';
    if (!allowed) return false;
  }
  return true;
}

bool IsAddressHost(std::string_view host) {
  if (!host.empty() && host[0] == '[') return true;
  return !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

bool IsCookieNameText(std::string_view name) {
  return !name.empty() && name.size() <= TCookieStore::MaxCookieBytes && !HasControlOrSemicolon(name) &&
         name.find('=') == std::string_view::npos;
}

bool IsCookieValueText(std::string_view value) {
  return value.size() <= TCookieStore::MaxCookieBytes && !HasControlOrSemicolon(value);
}

bool IsCookiePathText(std::string_view path) { return !path.empty() && path[0] == '/' && !HasControlOrSemicolon(path); }

bool MayCoverSubdomains(std::string_view domain) { return !IsAddressHost(domain) && !IsPublicSuffix(domain); }

void TCookieStore::SetCookie(std::string_view header, const TCookieRequest& request, int64_t now) {
  if (!IsCookieDomainText(request.Host)) return;
  const size_t semicolon = header.find(';');
  const std::string_view pair = header.substr(0, semicolon);
  const size_t equals = pair.find('=');
  if (equals == std::string_view::npos) return;
  TCookie cookie;
  cookie.Name = std::string(TrimBlanks(pair.substr(0, equals)));
  cookie.Value = std::string(TrimBlanks(pair.substr(equals + 1)));
  if (!IsCookieNameText(cookie.Name) || !IsCookieValueText(cookie.Value) ||
      cookie.Name.size() + cookie.Value.size() > MaxCookieBytes)
    return;

  const TCookieAttributes attributes =
      ReadAttributes(semicolon == std::string_view::npos ? std::string_view() : header.substr(semicolon + 1));
  cookie.Expiry = ExpiryOf(attributes, now);
  if (!ApplyDomain(attributes, request, cookie)) return;
  cookie.Path = attributes.HasPath ? attributes.Path : DefaultPath(request.Path);
  cookie.Secure = attributes.Secure;
  cookie.HttpOnly = attributes.HttpOnly;
  cookie.SameSite = attributes.SameSite;
  // Only an https answer may set a Secure cookie, or name one as such.
  if ((cookie.Secure && !request.Secure) || !KeepsNamePromise(cookie)) return;
  if (!request.Secure) {
    // Nor may a plain answer replace, delete or shadow a Secure cookie.
    for (const TCookie& kept : cookies_) {
      if (kept.Secure && kept.Name == cookie.Name &&
          (DomainMatches(kept.Domain, cookie.Domain) || DomainMatches(cookie.Domain, kept.Domain)) &&
          PathMatches(cookie.Path, kept.Path))
        return;
    }
  }
  Store(std::move(cookie), now);
}

std::string TCookieStore::CookieHeader(const TCookieRequest& request, int64_t now) {
  RemoveExpired(now);
  std::vector<const TCookie*> matching;
  for (const TCookie& cookie : cookies_) {
    const bool domain =
        cookie.HostOnly ? request.Host == cookie.Domain : DomainMatches(request.Host, cookie.Domain);
    if (domain && PathMatches(request.Path, cookie.Path) && (!cookie.Secure || request.Secure))
      matching.push_back(&cookie);
  }
  // The store is in creation order, which a stable sort keeps among equal paths.
  std::stable_sort(matching.begin(), matching.end(),
                   [](const TCookie* a, const TCookie* b) { return a->Path.size() > b->Path.size(); });
  std::string line;
  for (const TCookie* cookie : matching) {
    if (!line.empty()) line += "; ";
    line += cookie->Name;
    line += '=';
    line += cookie->Value;
  }
  return line;
}

void TCookieStore::Store(TCookie cookie, int64_t now) {
  const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const TCookie& kept) {
    return kept.Name == cookie.Name && kept.Domain == cookie.Domain && kept.Path == cookie.Path;
  });
  if (IsExpired(cookie, now)) {
    if (same != cookies_.end()) cookies_.erase(same);
    return;
  }
  if (same != cookies_.end()) {
    cookie.Created = same->Created;
    *same = std::move(cookie);
    return;
  }
  cookie.Created = nextCreated_++;
  cookies_.push_back(std::move(cookie));
  Bound(cookies_.back().Domain, now);
}

void TCookieStore::Swap(TCookieStore& other) noexcept {
  cookies_.swap(other.cookies_);
  std::swap(nextCreated_, other.nextCreated_);
}

void TCookieStore::RemoveExpired(int64_t now) {
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(),
                                [now](const TCookie& cookie) { return IsExpired(cookie, now); }),
                 cookies_.end());
}

void TCookieStore::Bound(const std::string& domain, int64_t now) {
  const auto countOfDomain = [&] {
    size_t count = 0;
    for (const TCookie& cookie : cookies_) count += cookie.Domain == domain;
    return count;
  };
  size_t ofDomain = countOfDomain();
  if (ofDomain <= MaxPerDomain && cookies_.size() <= MaxCookies) return;
  // Expired cookies make room before any live one goes.
  RemoveExpired(now);
  ofDomain = countOfDomain();
  // The store is in creation order: the first of the domain are its oldest.
  for (auto it = cookies_.begin(); ofDomain > MaxPerDomain && it != cookies_.end();) {
    if (it->Domain == domain) {
      it = cookies_.erase(it);
      --ofDomain;
    } else {
      ++it;
    }
  }
  if (cookies_.size() > MaxCookies) cookies_.erase(cookies_.begin(), cookies_.end() - MaxCookies);
}
