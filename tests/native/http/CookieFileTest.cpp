// The cookie store as text in the cookie file format: what it writes, what it
// reads back, and the lines it refuses with their numbers.
#include "codecs/Exception.h"
#include "http/CookieFile.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const int64_t Now = 1700000000;

TCookieRequest Request(const char* host, const char* path = "/", bool secure = false) {
  return MakeCookieRequest(host, path, secure);
}

}  // namespace

TEST(CookieFile, WritesTheFormat) {
  TCookieStore store;
  EXPECT_EQ("", CookieFileText(store, Now));
  store.SetCookie("session=abc; Path=/; HttpOnly", Request("127.0.0.1"), Now);
  store.SetCookie("lang=en; Domain=example.com; Max-Age=3600", Request("www.example.com", "/a/b"), Now);
  store.SetCookie("s=1; Secure; Path=/x", Request("localhost", "/", true), Now);
  store.SetCookie("gone=1; Max-Age=10", Request("localhost"), Now);
  EXPECT_EQ(
      "# Netscape HTTP Cookie File\r\n"
      "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tabc\r\n"
      ".example.com\tTRUE\t/a\tFALSE\t1700003600\tlang\ten\r\n"
      "localhost\tFALSE\t/x\tTRUE\t0\ts\t1\r\n",
      CookieFileText(store, Now + 10));
}

TEST(CookieFile, ReadsWhatItWritesAndWhatCurlWrites) {
  const std::string text =
      "# Netscape HTTP Cookie File\n"
      "# https://curl.se/docs/http-cookies.html\n"
      "\n"
      "#HttpOnly_.Example.com\tTRUE\t/\tFALSE\t1800000000\tid\t42\r\n"
      "localhost\tfalse\t/p\tTRUE\t0\ts\t\r"
      "   \t \n"
      "old.test\tFALSE\t/\tFALSE\t1600000000\texpired\tx\n"  // left out
      "h.test\tFALSE\t/\tFALSE\t0\ta\t1\n"
      "h.test\tFALSE\t/\tFALSE\t0\ta\t2";  // replaces the line above; no line end
  TCookieStore store;
  LoadCookieFileText(store, text, Now);
  ASSERT_EQ(3u, store.Cookies().size());
  const TCookie& id = store.Cookies()[0];
  EXPECT_EQ("example.com", id.Domain);
  EXPECT_FALSE(id.HostOnly);
  EXPECT_TRUE(id.HttpOnly);
  EXPECT_EQ(1800000000, id.Expiry);
  EXPECT_EQ("42", id.Value);
  EXPECT_EQ("id=42", store.CookieHeader(Request("www.example.com"), Now));
  EXPECT_EQ("s=", store.CookieHeader(Request("localhost", "/p/q", true), Now));
  EXPECT_EQ("", store.CookieHeader(Request("localhost", "/p/q", false), Now));
  EXPECT_EQ("a=2", store.CookieHeader(Request("h.test"), Now));

  // Written again, read again: the same text.
  const std::string written = CookieFileText(store, Now);
  TCookieStore again;
  LoadCookieFileText(again, written, Now);
  EXPECT_EQ(written, CookieFileText(again, Now));

  LoadCookieFileText(again, "", Now);
  EXPECT_TRUE(again.Cookies().empty());
}

TEST(CookieFile, RefusesLinesNotInTheFormat) {
  const std::string good = "h.test\tFALSE\t/\tFALSE\t0\tkept\t1\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"h.test FALSE / FALSE 0 a 1", "line 2: expected 7 fields separated by tabs, found 1"},
      {"h.test\tFALSE\t/\tFALSE\t0\ta", "line 2: expected 7 fields separated by tabs, found 6"},
      {"h.test\tFALSE\t/\tFALSE\t0\ta\t1\t", "line 2: expected 7 fields separated by tabs, found 8"},
      {"\tFALSE\t/\tFALSE\t0\ta\t1", "line 2: the domain is not a host name or address"},
      {"h test\tFALSE\t/\tFALSE\t0\ta\t1", "line 2: the domain is not a host name or address"},
      {"..h.test\tTRUE\t/\tFALSE\t0\ta\t1", "line 2: the domain is not a host name or address"},
      {"h.test\tYES\t/\tFALSE\t0\ta\t1", "line 2: the second field is not TRUE or FALSE"},
      {".co.uk\tTRUE\t/\tFALSE\t0\ta\t1",
       "line 2: a cookie for every name under co.uk, which is a public suffix or an address"},
      {"127.0.0.1\tTRUE\t/\tFALSE\t0\ta\t1",
       "line 2: a cookie for every name under 127.0.0.1, which is a public suffix or an address"},
      {"h.test\tFALSE\tp\tFALSE\t0\ta\t1", "line 2: the path does not start with / or holds a control character or ;"},
      {"h.test\tFALSE\t/\t1\t0\ta\t1", "line 2: the fourth field is not TRUE or FALSE"},
      {"h.test\tFALSE\t/\tFALSE\t-1\ta\t1", "line 2: the expiry is not a number of seconds"},
      {"h.test\tFALSE\t/\tFALSE\t1e9\ta\t1", "line 2: the expiry is not a number of seconds"},
      {"h.test\tFALSE\t/\tFALSE\t9999999999999999999\ta\t1", "line 2: the expiry is not a number of seconds"},
      {"h.test\tFALSE\t/\tFALSE\t0\t\t1", "line 2: the name is empty or holds =, ; or a control character"},
      {"h.test\tFALSE\t/\tFALSE\t0\ta=b\t1", "line 2: the name is empty or holds =, ; or a control character"},
      {"h.test\tFALSE\t/\tFALSE\t0\ta\t1;b=2", "line 2: the value holds ; or a control character (CR, LF, NUL)"},
      {std::string("h.test\tFALSE\t/\tFALSE\t0\ta\t1") + std::string(1, '\0'),
       "line 2: the value holds ; or a control character (CR, LF, NUL)"},
      {"h.test\tFALSE\t/\tFALSE\t0\ta\t1\r\nInjected: yes", "line 3: expected 7 fields separated by tabs, found 1"},
      {"h.test\tFALSE\t/\tFALSE\t0\ta\t" + std::string(4096, 'v'), "line 2: the cookie is larger than 4096 bytes"},
  };
  for (const auto& c : cases) {
    TCookieStore store;
    LoadCookieFileText(store, good, Now);
    try {
      LoadCookieFileText(store, good + c.first + "\n" + good, Now);
      ADD_FAILURE() << "taken: " << c.first;
    } catch (const Exception& e) {
      EXPECT_EQ("Invalid cookie line " + c.second.substr(5), e.Message()) << c.first;
    }
    // The store keeps what it held.
    EXPECT_EQ(CookieFileText(store, Now), "# Netscape HTTP Cookie File\r\nh.test\tFALSE\t/\tFALSE\t0\tkept\t1\r\n");
  }
}

TEST(CookieFile, BoundsApply) {
  std::string text;
  for (int d = 0; d < 62; ++d) {
    for (int i = 0; i < 55; ++i)
      text += "d" + std::to_string(d) + ".test\tFALSE\t/\tFALSE\t0\tc" + std::to_string(i) + "\tv\n";
  }
  TCookieStore store;
  LoadCookieFileText(store, text, Now);
  EXPECT_EQ(TCookieStore::MaxCookies, store.Cookies().size());
  EXPECT_EQ("c5", store.CookieHeader(Request("d61.test"), Now).substr(0, 2));
}
