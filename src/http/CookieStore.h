// TCookieStore: the cookies an HTTP client keeps between requests, by the
// rules browsers follow (RFC 6265 and its successor): a Set-Cookie line of an
// answer stores, replaces or deletes one cookie; a request gets the cookies
// whose domain, path and security match it, in one Cookie line. Plain C++
// without sockets or clocks: the caller passes the time.
//
// Hostile answers are bounded: a cookie of more than 4096 bytes (name and
// value) is ignored, a domain keeps its 50 newest cookies and the store its
// 3000 newest. A line that cannot be read is ignored, never an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a cookie is set by, or sent with: the URL's host and path and whether
// the request goes over TLS.
struct TCookieRequest {
  std::string Host;     // lower case, without port
  std::string Path;     // the URL's path without its query; starts with "/"
  bool Secure = false;  // https
};

// The request of a URL's authority ("host[:port]") and target (path and query).
TCookieRequest MakeCookieRequest(const std::string& authority, const std::string& target, bool secure);

struct TCookie {
  std::string Name;
  std::string Value;
  std::string Domain;     // lower case, without a leading dot
  std::string Path;
  int64_t Expiry = 0;     // Unix seconds; 0 for a session cookie, kept until the store goes
  bool HostOnly = true;   // sent to Domain itself only, not to its subdomains
  bool Secure = false;    // sent over https only
  bool HttpOnly = false;  // kept; changes nothing for this client
  std::string SameSite;   // kept; changes nothing for this client
  uint64_t Created = 0;   // creation order; a replaced cookie keeps its place
};

class TCookieStore {
public:
  static constexpr size_t MaxCookieBytes = 4096;  // name and value
  static constexpr size_t MaxPerDomain = 50;
  static constexpr size_t MaxCookies = 3000;
  // Longest Domain and Path attribute taken; a longer one is ignored.
  static constexpr size_t MaxAttributeBytes = 1024;
  // Longest life a server can give a cookie, as browsers cap it: 400 days.
  static constexpr int64_t MaxLifeSeconds = 400LL * 24 * 3600;

  // Takes the value of one Set-Cookie line of an answer to the request.
  void SetCookie(std::string_view header, const TCookieRequest& request, int64_t now);
  // The value of the Cookie line for the request ("a=1; b=2"), empty when no
  // cookie goes with it: longer paths first, then older cookies first.
  std::string CookieHeader(const TCookieRequest& request, int64_t now);
  // Adds the cookie, or replaces the one of the same name, domain and path
  // (keeping its creation order); an expired cookie only deletes. Then the
  // bounds drop the oldest cookies.
  void Store(TCookie cookie, int64_t now);

  // The cookies in creation order, expired ones possibly included.
  const std::vector<TCookie>& Cookies() const { return cookies_; }
  void Clear() { cookies_.clear(); }
  void Swap(TCookieStore& other) noexcept;

private:
  void RemoveExpired(int64_t now);
  // Drops the oldest cookies of the domain, then of the store, beyond the
  // bounds; expired ones first.
  void Bound(const std::string& domain, int64_t now);

  std::vector<TCookie> cookies_;  // in creation order
  uint64_t nextCreated_ = 1;
};

// Rules shared by the store and the cookie file.
bool IsExpired(const TCookie& cookie, int64_t now);
// A host name or address as cookies name it: lower-case letters, digits,
// "-", "_", "." (not first) and an IPv6 literal's "[", "]" and ":".
bool IsCookieDomainText(std::string_view domain);
// A dotted IPv4 address or a bracketed IPv6 one: such hosts take host-only cookies.
bool IsAddressHost(std::string_view host);
// Name and value free of controls (tab included) and ";", the name also of
// "=", and not empty; their bytes within MaxCookieBytes.
bool IsCookieNameText(std::string_view name);
bool IsCookieValueText(std::string_view value);
// Free of controls and ";", and starts with "/".
bool IsCookiePathText(std::string_view path);
// Whether a Domain covering all of the domain's subdomains may be kept:
// neither an address nor a public suffix.
bool MayCoverSubdomains(std::string_view domain);
