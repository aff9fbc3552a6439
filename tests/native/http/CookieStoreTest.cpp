// The cookie store: Set-Cookie lines taken or ignored, the Cookie line of a
// request, the dates of Expires and the public suffixes, as tables of cases.
#include "http/CookieDate.h"
#include "http/CookieStore.h"
#include "http/PublicSuffix.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const int64_t Now = 1700000000;  // 2023-11-14 22:13:20 UTC

// "http[s]://authority/target" as a request.
TCookieRequest RequestOf(const std::string& url) {
  const bool secure = url.compare(0, 8, "https://") == 0;
  const std::string rest = url.substr(secure ? 8 : 7);
  const size_t slash = rest.find('/');
  return MakeCookieRequest(rest.substr(0, slash), slash == std::string::npos ? "/" : rest.substr(slash), secure);
}

struct FlowCase {
  const char* name;
  std::vector<std::pair<const char*, std::string>> answers;  // URL and Set-Cookie value, in order
  int64_t later;                                             // seconds passed before the request
  const char* request;                                       // URL
  const char* expected;                                      // the Cookie line's value
};

}  // namespace

TEST(CookieStore, Flows) {
  const std::vector<FlowCase> cases = {
      {"host-only", {{"http://www.example.com/", "a=1"}}, 0, "http://www.example.com/x", "a=1"},
      {"host-only not for a subdomain", {{"http://example.com/", "a=1"}}, 0, "http://www.example.com/", ""},
      {"blanks around name and value", {{"http://h.test/", " a \t=\t 1 2 ; Path=/"}}, 0, "http://h.test/", "a=1 2"},
      {"host in capitals", {{"http://WWW.Example.COM:8080/", "a=1"}}, 0, "http://www.example.com/", "a=1"},
      {"parent domain", {{"http://www.example.com/", "a=1; Domain=example.com"}}, 0, "http://x.example.com/", "a=1"},
      {"parent domain itself", {{"http://www.example.com/", "a=1; domain=.EXAMPLE.com"}}, 0, "http://example.com/", "a=1"},
      {"own name as domain covers subdomains", {{"http://example.com/", "a=1; Domain=example.com"}}, 0,
       "http://www.example.com/", "a=1"},
      {"foreign domain", {{"http://www.example.com/", "a=1; Domain=other.com"}}, 0, "http://www.other.com/", ""},
      {"suffix that is no parent", {{"http://myexample.com/", "a=1; Domain=example.com"}}, 0, "http://example.com/", ""},
      {"public suffix com", {{"http://www.example.com/", "a=1; Domain=com"}}, 0, "http://www.example.com/", ""},
      {"public suffix co.uk", {{"http://www.example.co.uk/", "a=1; Domain=co.uk"}}, 0, "http://other.co.uk/", ""},
      {"registrable under co.uk", {{"http://www.example.co.uk/", "a=1; Domain=example.co.uk"}}, 0,
       "http://example.co.uk/", "a=1"},
      {"private suffix github.io", {{"http://me.github.io/", "a=1; Domain=github.io"}}, 0, "http://you.github.io/", ""},
      {"public suffix naming the host stays host-only", {{"http://co.uk/", "a=1; Domain=co.uk"}}, 0, "http://co.uk/", "a=1"},
      {"... and not for names under it", {{"http://co.uk/", "a=1; Domain=co.uk"}}, 0, "http://x.co.uk/", ""},
      {"address", {{"http://127.0.0.1:8080/", "a=1"}}, 0, "http://127.0.0.1:9090/", "a=1"},
      {"address is not localhost", {{"http://127.0.0.1/", "a=1"}}, 0, "http://localhost/", ""},
      {"localhost is not the address", {{"http://localhost/", "a=1"}}, 0, "http://127.0.0.1/", ""},
      {"address as its own domain", {{"http://127.0.0.1/", "a=1; Domain=127.0.0.1"}}, 0, "http://127.0.0.1/", "a=1"},
      {"part of an address as domain", {{"http://10.0.0.1/", "a=1; Domain=0.0.1"}}, 0, "http://10.0.0.1/", ""},
      {"default path", {{"http://h.test/a/b/page.html", "x=1"}}, 0, "http://h.test/a/b/", "x=1"},
      {"default path below", {{"http://h.test/a/b/page.html", "x=1"}}, 0, "http://h.test/a/b/c?q=1", "x=1"},
      {"default path is no prefix match", {{"http://h.test/a/b/page", "x=1"}}, 0, "http://h.test/a/bc", ""},
      {"default path not above", {{"http://h.test/a/b/page", "x=1"}}, 0, "http://h.test/a", ""},
      {"default path of a top page", {{"http://h.test/page?x=/y/z", "x=1"}}, 0, "http://h.test/other", "x=1"},
      {"path not starting with /", {{"http://h.test/a/page", "x=1; Path=b"}}, 0, "http://h.test/a/", "x=1"},
      {"path with a slash at its end", {{"http://h.test/", "x=1; Path=/a/"}}, 0, "http://h.test/a/b", "x=1"},
      {"last path wins", {{"http://h.test/", "x=1; Path=/a; Path=/b"}}, 0, "http://h.test/a", ""},
      {"order: longer paths first, then older",
       {{"http://h.test/", "a=1; Path=/"}, {"http://h.test/", "b=2; Path=/x/y"}, {"http://h.test/", "c=3; Path=/x"},
        {"http://h.test/", "d=4; Path=/x"}},
       0, "http://h.test/x/y/z", "b=2; c=3; d=4; a=1"},
      {"replaced in its place", {{"http://h.test/", "a=1"}, {"http://h.test/", "b=2"}, {"http://h.test/", "a=3"}}, 0,
       "http://h.test/", "a=3; b=2"},
      {"same name, other path",
       {{"http://h.test/", "a=1; Path=/"}, {"http://h.test/", "a=2; Path=/p"}}, 0, "http://h.test/p", "a=2; a=1"},
      {"same name, other domain",
       {{"http://w.h.test/", "a=1"}, {"http://w.h.test/", "a=2; Domain=h.test"}}, 0, "http://w.h.test/", "a=1; a=2"},
      {"secure from http is not stored", {{"http://h.test/", "s=1; Secure"}}, 0, "https://h.test/", ""},
      {"secure from https", {{"https://h.test/", "s=1; secure"}}, 0, "https://h.test/", "s=1"},
      {"secure not over http", {{"https://h.test/", "s=1; Secure"}}, 0, "http://h.test/", ""},
      {"plain cookies over https", {{"http://h.test/", "p=1"}}, 0, "https://h.test/", "p=1"},
      {"http cannot replace a secure cookie",
       {{"https://h.test/", "s=1; Secure"}, {"http://h.test/", "s=2"}}, 0, "https://h.test/", "s=1"},
      {"http cannot delete a secure cookie",
       {{"https://h.test/", "s=1; Secure"}, {"http://h.test/", "s=; Max-Age=0"}}, 0, "https://h.test/", "s=1"},
      {"__Secure- needs Secure", {{"https://h.test/", "__Secure-a=1"}}, 0, "https://h.test/", ""},
      {"__Secure- with Secure", {{"https://h.test/", "__Secure-a=1; Secure"}}, 0, "https://h.test/", "__Secure-a=1"},
      {"__Host- with a domain", {{"https://h.test/", "__Host-a=1; Secure; Path=/; Domain=h.test"}}, 0,
       "https://h.test/", ""},
      {"__Host- on another path", {{"https://h.test/", "__Host-a=1; Secure; Path=/x"}}, 0, "https://h.test/x", ""},
      {"__Host- for the host", {{"https://h.test/", "__host-a=1; Secure; Path=/"}}, 0, "https://h.test/", "__host-a=1"},
      {"max-age in the future", {{"http://h.test/", "a=1; Max-Age=60"}}, 59, "http://h.test/", "a=1"},
      {"max-age over", {{"http://h.test/", "a=1; Max-Age=60"}}, 60, "http://h.test/", ""},
      {"max-age 0 deletes", {{"http://h.test/", "a=1"}, {"http://h.test/", "a=1; Max-Age=0"}}, 0, "http://h.test/", ""},
      {"max-age -1 deletes", {{"http://h.test/", "a=1"}, {"http://h.test/", "a=2; max-age=-1"}}, 0, "http://h.test/", ""},
      {"malformed max-age is left out", {{"http://h.test/", "a=1; Max-Age=1x"}}, 100000, "http://h.test/", "a=1"},
      {"max-age wins over expires",
       {{"http://h.test/", "a=1; Expires=Thu, 01 Jan 1970 00:00:00 GMT; Max-Age=60"}}, 0, "http://h.test/", "a=1"},
      {"... in either order", {{"http://h.test/", "a=1; Max-Age=0; Expires=Fri, 31 Dec 9999 23:59:59 GMT"}}, 0,
       "http://h.test/", ""},
      {"expires in the past deletes",
       {{"http://h.test/", "a=1"}, {"http://h.test/", "a=x; Expires=Thu, 01 Jan 1970 00:00:00 GMT"}}, 0,
       "http://h.test/", ""},
      {"expires in the future", {{"http://h.test/", "a=1; Expires=Wed, 15 Nov 2023 22:13:20 GMT"}}, 86399,
       "http://h.test/", "a=1"},
      {"expires reached", {{"http://h.test/", "a=1; Expires=Wed, 15 Nov 2023 22:13:20 GMT"}}, 86400, "http://h.test/", ""},
      {"malformed expires is a session cookie", {{"http://h.test/", "a=1; Expires=soon"}}, 1000000, "http://h.test/", "a=1"},
      {"life capped at 400 days", {{"http://h.test/", "a=1; Max-Age=999999999999999999999"}}, 400 * 86400,
       "http://h.test/", ""},
      {"unknown attributes and flags", {{"http://h.test/", "a=1; HttpOnly; SameSite=Strict; Priority=High; ;"}}, 0,
       "http://h.test/", "a=1"},
      {"empty value", {{"http://h.test/", "a="}}, 0, "http://h.test/", "a="},
      {"value with = and quotes", {{"http://h.test/", "a=\"b=c\""}}, 0, "http://h.test/", "a=\"b=c\""},
      {"no =", {{"http://h.test/", "novalue"}}, 0, "http://h.test/", ""},
      {"empty name", {{"http://h.test/", "=v"}}, 0, "http://h.test/", ""},
      {"empty line", {{"http://h.test/", ""}}, 0, "http://h.test/", ""},
      {"control in the name", {{"http://h.test/", "a\x01=1"}}, 0, "http://h.test/", ""},
      {"tab in the value", {{"http://h.test/", "a=1\t2"}}, 0, "http://h.test/", ""},
      {"NUL in the value", {{"http://h.test/", std::string("a=1\0" "2", 5)}}, 0, "http://h.test/", ""},
      {"NUL in the path", {{"http://h.test/p/q", std::string("a=1; Path=/\0x", 13)}}, 0, "http://h.test/p/", "a=1"},
      {"NUL in the domain", {{"http://h.test/", std::string("a=1; Domain=h.test\0", 19)}}, 0, "http://h.test/", ""},
      {"4096 bytes", {{"http://h.test/", "n=" + std::string(4095, 'v')}}, 0, "http://h.test/", nullptr},
      {"4097 bytes", {{"http://h.test/", "nn=" + std::string(4095, 'v')}}, 0, "http://h.test/", ""},
      {"host that is no name", {{"http://h\x01t/", "a=1"}}, 0, "http://h\x01t/", ""},
      {"host starting with a dot", {{"http://.h.test/", "a=1"}}, 0, "http://.h.test/", ""},
  };
  for (const FlowCase& c : cases) {
    TCookieStore store;
    for (const auto& answer : c.answers) store.SetCookie(answer.second, RequestOf(answer.first), Now);
    const std::string line = store.CookieHeader(RequestOf(c.request), Now + c.later);
    if (c.expected) {
      EXPECT_EQ(c.expected, line) << c.name;
    } else {
      EXPECT_EQ("n=" + std::string(4095, 'v'), line) << c.name;
    }
  }
}

TEST(CookieStore, KeepsAttributes) {
  TCookieStore store;
  store.SetCookie("a=1; Domain=h.test; Path=/p; Secure; HttpOnly; SameSite=Lax; Max-Age=10",
                  RequestOf("https://w.h.test/"), Now);
  ASSERT_EQ(1u, store.Cookies().size());
  const TCookie& c = store.Cookies()[0];
  EXPECT_EQ("h.test", c.Domain);
  EXPECT_FALSE(c.HostOnly);
  EXPECT_EQ("/p", c.Path);
  EXPECT_TRUE(c.Secure);
  EXPECT_TRUE(c.HttpOnly);
  EXPECT_EQ("Lax", c.SameSite);
  EXPECT_EQ(Now + 10, c.Expiry);
}

TEST(CookieStore, Bounds) {
  // A domain keeps its 50 newest cookies.
  TCookieStore store;
  const TCookieRequest request = RequestOf("http://h.test/");
  for (int i = 0; i < 10000; ++i) store.SetCookie("c" + std::to_string(i) + "=v", request, Now);
  ASSERT_EQ(TCookieStore::MaxPerDomain, store.Cookies().size());
  EXPECT_EQ("c9950", store.Cookies().front().Name);
  EXPECT_EQ("c9999", store.Cookies().back().Name);

  // The store keeps its 3000 newest; an expired cookie goes before any live one.
  store.Clear();
  store.SetCookie("old=1; Max-Age=5", RequestOf("http://old.test/"), Now);
  store.SetCookie("first=1", RequestOf("http://first.test/"), Now);
  for (int d = 0; d < 61; ++d) {
    const TCookieRequest other = RequestOf("http://d" + std::to_string(d) + ".test/");
    for (int i = 0; i < 50; ++i) store.SetCookie("c" + std::to_string(i) + "=v", other, Now + 10);
  }
  ASSERT_EQ(TCookieStore::MaxCookies, store.Cookies().size());
  EXPECT_EQ("", store.CookieHeader(RequestOf("http://first.test/"), Now + 10));
  EXPECT_EQ("d1.test", store.Cookies().front().Domain);
  EXPECT_EQ("d60.test", store.Cookies().back().Domain);
}

TEST(CookieStore, RequestOfAuthority) {
  const struct {
    const char* authority;
    const char* target;
    const char* host;
    const char* path;
  } cases[] = {
      {"Example.COM:8080", "/a/b?c=/d#e", "example.com", "/a/b"},
      {"user:pw@host.test", "/", "host.test", "/"},
      {"[::1]:8080", "/x", "[::1]", "/x"},
      {"h", "", "h", "/"},
      {"h", "?q", "h", "/"},
      {"h", "*", "h", "/"},
  };
  for (const auto& c : cases) {
    const TCookieRequest request = MakeCookieRequest(c.authority, c.target, false);
    EXPECT_EQ(c.host, request.Host) << c.authority;
    EXPECT_EQ(c.path, request.Path) << c.target;
  }
}

TEST(CookieDate, Forms) {
  const int64_t Nov6 = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
  const std::vector<std::pair<std::string, int64_t>> cases = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", Nov6},       // RFC 1123
      {"Sunday, 06-Nov-94 08:49:37 GMT", Nov6},      // RFC 850
      {"Sun Nov  6 08:49:37 1994", Nov6},            // asctime
      {"Sun, 06-Nov-1994 08:49:37 GMT", Nov6},       // common in the wild
      {"6 november 1994 8:49:37", Nov6},
      {"1994 Nov 06 08:49:37 UTC", Nov6},            // parts in any order
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Wed, 09 Jun 2021 10:18:14 GMT", 1623233894},
      {"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799},
      {"Thu, 01-Jan-70 00:00:01 GMT", 1},
      {"Tue, 01-Jan-69 00:00:00 GMT", 3124224000},  // 2069
      {"Sat, 29 Feb 2020 12:00:00 GMT", 1582977600},
      {"Fri, 29 Feb 2019 12:00:00 GMT", -1},         // no such day
      {"Mon, 31 Apr 2023 12:00:00 GMT", -1},
      {"Mon, 01 Jan 1600 00:00:00 GMT", -1},         // before 1601
      {"Mon, 01 Jan 2024 24:00:00 GMT", -1},
      {"Mon, 01 Jan 2024 23:60:00 GMT", -1},
      {"Mon, 00 Jan 2024 00:00:00 GMT", -1},
      {"Mon, 01 Foo 2024 00:00:00 GMT", -1},
      {"Mon, 01 Jan 2024", -1},                      // no time
      {"soon", -1},
      {"", -1},
      {"Mon, 001 Jan 2024 00:00:00 GMT", -1},        // three digits make no day, four neither
      {std::string("Mon, 01 Jan 2024 00:00:00\0 GMT", 30), 1704067200},
  };
  for (const auto& c : cases) {
    int64_t seconds = -1;
    const bool read = ParseCookieDate(c.first, seconds);
    EXPECT_EQ(c.second != -1, read) << c.first;
    if (read) {
      EXPECT_EQ(c.second, seconds) << c.first;
    }
  }
}

TEST(PublicSuffix, List) {
  const std::vector<std::pair<const char*, bool>> cases = {
      {"com", true},           {"example.com", false},   {"co.uk", true},      {"example.co.uk", false},
      {"uk", true},            {"github.io", true},      {"me.github.io", false},
      {"kawasaki.jp", false},  {"x.kawasaki.jp", true},  {"city.kawasaki.jp", false},  // wildcard and exception
      {"localhost", true},     {"test", true},           {"kestrel.test", false},  // unlisted top-level names
      {"xn--55qx5d.cn", true},                                                     // a Unicode rule, in Punycode
      {"aa", true},            {"zzzzzz.zzzz", false},   {"", true},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, IsPublicSuffix(c.first)) << c.first;
}
