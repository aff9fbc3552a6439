// The origin rule: which URLs share an origin, which lines are credentials,
// and what of the extra request lines goes on a hop to another origin.
#include "http/OriginRule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TSameOriginCase {
  const char* a;
  const char* b;
  bool same;
};

TEST(OriginRule, UrlsShareAnOriginWhenTheirRequestsGoToTheSamePlace) {
  const std::vector<TSameOriginCase> cases = {
      {"http://host/a", "http://host/b?x", true},
      {"http://Host/a", "HTTP://HOST:80/", true},  // case of scheme and host, the scheme's own port written
      {"https://host/", "https://host:443/x", true},
      {"http://host:8080/", "http://host:08080/", true},  // the same number
      {"http://host:abc/", "http://host/", true},  // not a port: the connection takes the scheme's own
      {"http://host:0/", "http://host/", true},
      {"http://host:70000/", "http://host/", true},
      {"http://host", "http://host/", true},
      {"http://host/", "https://host/", false},  // https to http on the same host
      {"http://host:80/", "https://host:80/", false},
      {"http://host/", "http://host:8080/", false},
      {"http://host/", "http://other/", false},
      {"http://127.0.0.1/", "http://localhost/", false},
      {"http://host./", "http://host/", false},
      {"http://a.test@b.test/", "http://b.test/", false},  // the connection takes all before the ":" as the host
  };
  for (const auto& c : cases)
    EXPECT_EQ(OriginOf(c.a) == OriginOf(c.b), c.same) << c.a << " and " << c.b;
  EXPECT_EQ(OriginOf("https://Example.TEST:8443/p").Host, "example.test");
  EXPECT_EQ(OriginOf("https://Example.TEST:8443/p").Port, 8443);
  EXPECT_EQ(OriginOf("ftp://host/").Scheme, "");
}

TEST(OriginRule, CredentialLines) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"Authorization: Basic dTpw", true}, {"authorization:x", true},  {"COOKIE: a=1", true},
      {"Cookie : a=1", true},              {" Cookie: a=1", true},     {"\tAuthorization\t: x", true},
      {"Cookie2: a=1", false},             {"Set-Cookie: a=1", false}, {"Proxy-Authorization: x", false},
      {"X-Cookie: a", false},              {"Cookie", false},          {"Accept: Cookie: a", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsCredentialLine(c.first), c.second) << c.first;
}

struct THopCase {
  const char* name;
  std::vector<std::string> entries;
  std::vector<std::string> sent;  // to another origin
};

TEST(OriginRule, ExtraLinesOnAHopToAnotherOrigin) {
  const TOrigin home = OriginOf("https://bank.test/login");
  const TOrigin away = OriginOf("http://bank.test/login");
  const std::vector<THopCase> cases = {
      {"nothing held back", {"X-A: 1", "Accept-Language: en"}, {"X-A: 1", "Accept-Language: en"}},
      {"cookie and authorization", {"Cookie: s=1", "X-A: 1", "authorization: Bearer t"}, {"X-A: 1"}},
      {"continuation of a cookie, in its entry", {"Cookie: a=1\r\n b=2", "X-A: 1"}, {"X-A: 1"}},
      {"continuation of a cookie, in the next entry", {"Cookie: a=1", "\tb=2", "X-A: 1\r\n c=3"},
       {"X-A: 1\r\n c=3"}},
      {"lines around a cookie keep their place", {"X-A: 1\nCookie: s=1\rX-B: 2"}, {"X-A: 1\r\nX-B: 2"}},
      {"a blank entry continues nothing", {"Cookie: s=1", "   ", " tail"}, {"   "}},
      {"an entry of credentials only is dropped", {"Cookie: a=1\r\nAuthorization: x"}, {}},
  };
  for (const THopCase& c : cases) {
    bool heldBack = false;
    EXPECT_EQ(ExtraLinesForHop(c.entries, home, away, heldBack), c.sent) << c.name;
    EXPECT_EQ(heldBack, c.sent != c.entries) << c.name;
    // To the origin itself everything goes, byte for byte.
    EXPECT_EQ(ExtraLinesForHop(c.entries, home, home, heldBack), c.entries) << c.name;
    EXPECT_FALSE(heldBack) << c.name;
  }
  EXPECT_TRUE(LineGoesTo("Authorization: Basic x", home, home));
  EXPECT_FALSE(LineGoesTo("Authorization: Basic x", home, away));
  EXPECT_TRUE(LineGoesTo("User-Agent: k", home, away));
}

}  // namespace
