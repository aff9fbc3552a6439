// Cookies kept by the client across requests and redirect hops, against the
// scenario server: its echo route sets the cookies its query names
// (set-cookie=..., location=... for a 302) and shows the Cookie line that
// came; as a proxy it takes any host name without a lookup.
#include "HttpTestSupport.h"
#include "codecs/UrlCodec.h"
#include "http/CookieFile.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

// The echo's query for Set-Cookie lines.
std::string Set(const std::vector<std::string>& lines) {
  std::string query;
  for (const std::string& line : lines) query += (query.empty() ? "?" : "&") + std::string("set-cookie=") + URLEncode(line);
  return query;
}

// The values of the Cookie lines that the echoed request holds, in order and
// joined by " | "; "-" for none.
std::string EchoedCookieLine(const std::string& echoed) {
  std::string values;
  for (size_t at = 0; (at = echoed.find("\r\nCookie: ", at)) != std::string::npos;) {
    const size_t begin = at + 10;
    at = echoed.find("\r\n", begin);
    values += (values.empty() ? "" : " | ") + echoed.substr(begin, at - begin);
  }
  return values.empty() ? "-" : values;
}

struct Hop {
  std::string url;     // %P the scenario server's port, %T the TLS scenario server's
  const char* cookie;  // the Cookie line the request carried, "-" for none
};

struct CookieFlow {
  const char* name;
  bool proxied;  // through the scenario server as a proxy: any host name
  bool keep;     // KeepCookies
  std::vector<Hop> hops;
  const char* extraLine = nullptr;  // the script's own line, from AddExtraHeader
};

void PrintTo(const CookieFlow& flow, std::ostream* os) { *os << flow.name; }

const std::vector<CookieFlow>& CookieFlows() {
  static const std::vector<CookieFlow> flows = {
      {"PathsAndOrder", false, true,
       {{"http://127.0.0.1:%P/echo/set" + Set({"a=1; Path=/", "b=2; Path=/echo/x", "c=3; Path=/echo", "d=4; Path=/echo"}),
         "-"},
        {"http://127.0.0.1:%P/echo/x/y", "b=2; c=3; d=4; a=1"},
        {"http://127.0.0.1:%P/echo", "c=3; d=4; a=1"},
        {"http://127.0.0.1:%P/echo/xy", "c=3; d=4; a=1"}}},
      {"DefaultPath", false, true,
       {{"http://127.0.0.1:%P/echo/dir/page" + Set({"p=1"}), "-"},
        {"http://127.0.0.1:%P/echo/dir/other", "p=1"},
        {"http://127.0.0.1:%P/echo/elsewhere", "-"}}},
      {"ReplacedBySameNameDomainPath", false, true,
       {{"http://127.0.0.1:%P/echo" + Set({"a=1; Path=/", "b=1; Path=/"}), "-"},
        {"http://127.0.0.1:%P/echo" + Set({"a=2; Path=/"}), "a=1; b=1"},
        {"http://127.0.0.1:%P/echo" + Set({"a=3; Path=/echo"}), "a=2; b=1"},
        {"http://127.0.0.1:%P/echo", "a=3; a=2; b=1"}}},
      {"RedirectHopsStoreAndSend", false, true,
       {{"http://127.0.0.1:%P/echo/first" + Set({"r=1; Path=/"}) + "&location=/echo/second", "r=1"},
        {"http://127.0.0.1:%P/echo", "r=1"}}},
      {"HostOnly", false, true,
       {{"http://localhost:%P/echo" + Set({"l=1"}), "-"},
        {"http://127.0.0.1:%P/echo" + Set({"i=1"}), "-"},
        {"http://localhost:%P/echo", "l=1"},
        {"http://127.0.0.1:%P/echo", "i=1"}}},
      {"DomainParentForeignAndPublicSuffix", true, true,
       {{"http://www.kestrel.test/echo" +
             Set({"p=1; Domain=kestrel.test", "f=1; Domain=example.com", "s=1; Domain=test", "h=1"}),
         "-"},
        {"http://other.kestrel.test/echo", "p=1"},
        {"http://www.kestrel.test/echo", "p=1; h=1"},
        {"http://www.example.com/echo", "-"},
        {"http://www.example.co.uk/echo" + Set({"u=1; Domain=co.uk", "k=1; Domain=.Example.CO.UK"}), "-"},
        {"http://other.co.uk/echo", "-"},
        {"http://shop.example.co.uk/echo", "k=1"}}},
      {"SecureOverHttpAndHttps", false, true,
       {{"http://localhost:%P/echo" + Set({"fromhttp=1; Secure; Path=/"}), "-"},
        {"https://localhost:%T/echo" + Set({"t=1; Secure; Path=/", "plain=1; Path=/"}), "-"},
        {"http://localhost:%P/echo", "plain=1"},
        {"https://localhost:%T/echo", "t=1; plain=1"}}},
      {"MaxAgeAndExpires", false, true,
       {{"http://127.0.0.1:%P/echo" + Set({"m0=1; Max-Age=0", "mf=1; Max-Age=3600", "mx=1; Max-Age=soon",
                                          "e0=1; Expires=Thu, 01 Jan 1970 00:00:00 GMT",
                                          "ef=1; Expires=Fri, 31 Dec 9999 23:59:59 GMT", "ex=1; Expires=never"}),
         "-"},
        {"http://127.0.0.1:%P/echo" + Set({"mf=; Max-Age=-1", "ef=; Expires=Sun, 06 Nov 1994 08:49:37 GMT"}),
         "mf=1; mx=1; ef=1; ex=1"},
        {"http://127.0.0.1:%P/echo", "mx=1; ex=1"}}},
      // A redirect to another host takes the store's cookies that its domain
      // matches, never the script's own Cookie line, which goes home again
      // with the next request to the URL the script set.
      {"StoreFollowsDomainsScriptLineStaysWithItsOrigin", true, true,
       {{"http://www.kestrel.test/echo/first" + Set({"d=1; Domain=kestrel.test; Path=/"}) +
             "&location=" + URLEncode("http://other.kestrel.test/echo/second"),
         "d=1"},
        {"http://www.kestrel.test/echo", "d=1 | mine=1"}},
       "Cookie: mine=1"},
      {"NothingWithoutKeepCookies", false, false,
       {{"http://127.0.0.1:%P/echo/first" + Set({"r=1; Path=/"}) + "&location=/echo/second", "-"},
        {"http://127.0.0.1:%P/echo", "-"}}},
  };
  return flows;
}

class CookieFlowTest : public ::testing::TestWithParam<CookieFlow> {};

TEST_P(CookieFlowTest, CookieLines) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  REQUIRE_PORT(tlsPort, "KESTREL_TLS_SCENARIO_PORT");
  const CookieFlow& flow = GetParam();
  THttpClient c;
  PrepareClient(c);
  c.KeepCookies = flow.keep;
  if (flow.extraLine) c.ExtraHeaders.Add(flow.extraLine);
  for (const Hop& hop : flow.hops) {
    std::string url = WithPort(hop.url, port);
    for (size_t at; (at = url.find("%T")) != std::string::npos;) url.replace(at, 2, tlsPort);
    c.SetURL(url);
    if (flow.proxied) c.SetProxy("127.0.0.1:" + port);
    ASSERT_TRUE(c.Execute()) << url << ": " << c.LastError;
    EXPECT_EQ(hop.cookie, EchoedCookieLine(BodyText(c))) << url;
  }
  if (!flow.keep) {
    EXPECT_TRUE(c.Cookies.Cookies().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Http, CookieFlowTest, ::testing::ValuesIn(CookieFlows()),
                         [](const ::testing::TestParamInfo<CookieFlow>& info) { return info.param.name; });

// The login: a form POSTed, answered by a 302 that sets the session cookie,
// and the members' page, which answers only to that cookie.
TEST(HttpCookies, LoginThroughARedirect) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  for (const bool keep : {true, false}) {
    THttpClient c;
    PrepareClient(c);
    c.KeepCookies = keep;
    c.SetURL("http://127.0.0.1:" + port + "/s/cookie-login");
    c.RequestMethod = "POST";
    c.PostData = "user=kestrel&password=s3cret";
    ASSERT_TRUE(c.Execute()) << c.LastError;
    EXPECT_EQ(keep ? "HTTP/1.0 200 OK" : "HTTP/1.0 403 Forbidden", c.Headers[0]);
    if (keep) {
      EXPECT_EQ("Welcome, member.\r\n", BodyText(c));
      EXPECT_EQ("# Netscape HTTP Cookie File\r\n#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tk3str3l-42\r\n",
                CookieFileText(c.Cookies, std::time(nullptr)));
    }
  }
}

// Hostile Set-Cookie lines are bounded: the store keeps its bounds and the
// client goes on working.
TEST(HttpCookies, HostileSetCookieLines) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  const struct {
    const char* scenario;
    const char* error;     // LastError, "" for a success
    size_t cookies;        // cookies in the store afterwards
    const char* cookieLine;  // what the next request to the same path carries
  } cases[] = {
      // 10,000 cookies over two hops: the host keeps its newest 50.
      {"cookie-flood", "", 50, nullptr},
      {"cookie-huge", "", 1, "small=1"},
      {"cookie-megabyte", "Received line is longer than 65536 bytes", 0, "-"},
      // A header line ends at a NUL, as every line read does: the cookie is
      // what comes before it (v=1, Path=/x, a Domain of the host itself),
      // and "a" alone is none.
      {"cookie-nul", "", 4, "good=1"},
  };
  for (const auto& hostile : cases) {
    THttpClient c;
    PrepareClient(c);
    c.KeepCookies = true;
    c.SetURL("http://127.0.0.1:" + port + "/s/" + hostile.scenario);
    EXPECT_EQ(hostile.error[0] == 0, c.Execute()) << hostile.scenario;
    EXPECT_EQ(hostile.error, c.LastError) << hostile.scenario;
    EXPECT_EQ(hostile.cookies, c.Cookies.Cookies().size())
        << hostile.scenario << "\n" << CookieFileText(c.Cookies, std::time(nullptr));
    c.SetURL("http://127.0.0.1:" + port + "/echo");
    ASSERT_TRUE(c.Execute()) << c.LastError;
    const std::string line = EchoedCookieLine(BodyText(c));
    if (hostile.cookieLine) {
      EXPECT_EQ(hostile.cookieLine, line) << hostile.scenario;
    } else {
      EXPECT_EQ(0u, line.find("d4950=v4950; d4951=v4951; ")) << line.substr(0, 100);
    }
  }
}

}  // namespace
