// THttpClient without a network: construction defaults, URL and proxy
// parsing, Base64 credentials, content type, redirect targets and chunk
// detection from a filled header list.
#include "http/HttpClient.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct UrlCase {
  const char* url;
  const char* server;
  const char* path;
  const char* fileName;
};

TEST(HttpClientSetURL, SplitsServerPathAndFileName) {
  const std::vector<UrlCase> cases = {
      {"http://example.test", "example.test", "/", ""},
      {"http://example.test/", "example.test", "/", ""},
      {"http://h/dir/", "h", "/dir/", ""},
      {"http://h/dir.d/", "h", "/dir.d/", "index.html"},
      {"http://h/a/b.txt", "h", "/a/b.txt", "b.txt"},
      {"HTTP://HOST:81/x", "HOST:81", "/x", ""},
      {"hTtP://h:8080/a.b/c", "h:8080", "/a.b/c", "c"},
      // A query stays in the path, and a "/" inside it moves the file-name split.
      {"http://h/s.cgi?q=1", "h", "/s.cgi?q=1", "s.cgi?q=1"},
      {"http://h/s.cgi?next=/x", "h", "/s.cgi?next=/x", "x"},
      {"http://user:pw@h/p", "user:pw@h", "/p", ""},
      {"https://example.test", "example.test", "/", ""},
      {"HTTPS://H:8443/a/b.txt", "H:8443", "/a/b.txt", "b.txt"},
      {"hTtPs://h/dir.d/", "h", "/dir.d/", "index.html"},
  };
  for (const UrlCase& u : cases) {
    SCOPED_TRACE(u.url);
    THttpClient c;
    c.SetURL(u.url);
    EXPECT_EQ(c.URL(), u.url);
    EXPECT_EQ(c.Server, u.server);
    EXPECT_EQ(c.HostName, u.server);
    EXPECT_EQ(c.URLPath(), u.path);
    EXPECT_EQ(c.RequestURI, u.path);
    EXPECT_EQ(c.FileName(), u.fileName);
    EXPECT_EQ(c.Secure(), u.url[4] == 's' || u.url[4] == 'S');
  }
}

TEST(HttpClientSetURL, SchemeFollowsTheLastURL) {
  THttpClient c;
  c.SetURL("https://h/");
  EXPECT_TRUE(c.Secure());
  c.SetURL("http://h/");
  EXPECT_FALSE(c.Secure());
  try {
    c.SetURL("https:/h/");
  } catch (const ESocketError&) {
  }
  EXPECT_FALSE(c.Secure());
}

TEST(HttpClientSetURL, FileNameIsClearedByTheNextURL) {
  THttpClient c;
  c.SetURL("http://h/a.txt");
  EXPECT_EQ(c.FileName(), "a.txt");
  c.SetURL("http://h/dir/");
  EXPECT_EQ(c.FileName(), "");
}

TEST(HttpClientSetURL, RefusesOtherSchemesAndLineBreaksWithoutChange) {
  const std::vector<std::string> bad = {"",          "http:/",         "https:/h/",  "ftp://h/", " http://h/", "httpx://h/",
                                        "https//h/", "shttp://h/", "https://h/\r\n",
                                        "http://h/\r\nX: y", "http://h/a\nb", std::string("http://h/\0x", 11),
                                        "http://h\r/"};
  for (const std::string& url : bad) {
    SCOPED_TRACE(url);
    THttpClient c;
    c.SetURL("http://keep/k.txt");
    std::string reported;
    c.OnError = [&](TObject*, std::string& msg) { reported = msg; };
    try {
      c.SetURL(url);
      ADD_FAILURE() << "accepted";
    } catch (const ESocketError& e) {
      EXPECT_STREQ(e.what(), "Invalid URL");
    }
    EXPECT_EQ(reported, "Invalid URL");
    EXPECT_EQ(c.URL(), "http://keep/k.txt");
    EXPECT_EQ(c.Server, "keep");
    EXPECT_EQ(c.FileName(), "k.txt");
    EXPECT_EQ(c.RequestURI, "/k.txt");
  }
}

// With UTF-8 URLs a host name outside ASCII is looked up, named and sent in
// its IDNA form, the URL reading back as given; one without such a form is
// refused like any invalid URL, and nothing changes.
TEST(HttpClientSetURL, Utf8HostNamesInTheirIdnaForm) {
  THttpClient c;
  c.Utf8Urls = true;
  c.SetURL("http://B\xC3\xBC" "cher.example:81/caf\xC3\xA9.html");
  EXPECT_EQ(c.URL(), "http://B\xC3\xBC" "cher.example:81/caf\xC3\xA9.html");
  EXPECT_EQ(c.Server, "xn--bcher-kva.example:81");
  EXPECT_EQ(c.HostName, "xn--bcher-kva.example:81");
  EXPECT_EQ(c.FileName(), "caf\xC3\xA9.html");
  const std::vector<std::string> bad = {"http://" + std::string(70, 'a') + "\xC3\xBC.example/",  // a label too long
                                        "http://b\xC3\xBC cher.example/", "http://b\xC3\xBC%41.example/"};
  for (const std::string& url : bad) {
    SCOPED_TRACE(url);
    c.SetURL("http://keep/k.txt");
    EXPECT_THROW(c.SetURL(url), ESocketError);
    EXPECT_EQ(c.URL(), "http://keep/k.txt");
    EXPECT_EQ(c.Server, "keep");
  }
}

TEST(HttpClientSetProxy, ProxyTakesServerButNotHostName) {
  THttpClient c;
  c.SetProxy("127.0.0.1:3128");
  EXPECT_EQ(c.Proxy(), "127.0.0.1:3128");
  EXPECT_EQ(c.Server, "127.0.0.1:3128");
  c.SetURL("http://origin.test:8080/a/b.html");
  EXPECT_EQ(c.Server, "127.0.0.1:3128");
  EXPECT_EQ(c.HostName, "origin.test:8080");
  EXPECT_EQ(c.URLPath(), "/a/b.html");
  EXPECT_EQ(c.FileName(), "b.html");
}

TEST(HttpClientSetProxy, RequiresAPortAndKeepsTheOldValue) {
  THttpClient c;
  c.SetURL("http://h/");
  c.SetProxy("p:1");
  std::string reported;
  c.OnError = [&](TObject*, std::string& msg) { reported = msg; };
  try {
    c.SetProxy("proxyhost");
    ADD_FAILURE() << "accepted";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "Proxy port is required");
  }
  EXPECT_EQ(reported, "Proxy port is required");
  EXPECT_EQ(c.Proxy(), "p:1");
  EXPECT_EQ(c.Server, "p:1");
}

TEST(HttpClientSetProxy, EmptyProxyEmptiesServerUntilTheNextURL) {
  THttpClient c;
  c.SetProxy("p:1");
  c.SetURL("http://h:81/");
  c.SetProxy("");
  EXPECT_EQ(c.Proxy(), "");
  EXPECT_EQ(c.Server, "");
  EXPECT_FALSE(c.Execute());
  EXPECT_EQ(c.LastError, "Server property is required");
  c.SetURL("http://h:81/");
  EXPECT_EQ(c.Server, "h:81");
}

TEST(HttpClientContentType, StoredInLowerCaseAsciiOnly) {
  THttpClient c;
  c.SetContentType("Text/XML; Charset=UTF-8 \xC4");
  EXPECT_EQ(c.ContentType(), "text/xml; charset=utf-8 \xC4");
}

TEST(HttpClientEncodeBase64, PadsAndEncodesAnyLength) {
  EXPECT_EQ(THttpClient::EncodeBase64(""), "");
  EXPECT_EQ(THttpClient::EncodeBase64("a"), "YQ==");
  EXPECT_EQ(THttpClient::EncodeBase64("ab"), "YWI=");
  EXPECT_EQ(THttpClient::EncodeBase64("abc"), "YWJj");
  EXPECT_EQ(THttpClient::EncodeBase64("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(THttpClient::EncodeBase64(std::string("\xFB\xFF\x00", 3)), "+/8A");
  // Far beyond 12,288 bytes: 30,000 bytes give 40,000 characters, no line breaks.
  const std::string big(30000, 'x');
  const std::string encoded = THttpClient::EncodeBase64(big);
  ASSERT_EQ(encoded.size(), 40000u);
  EXPECT_EQ(encoded.find_first_not_of("eHh4"), std::string::npos);
}

// Fills Headers as a received response would, for the lookups below.
void SetHeaders(THttpClient& c, const std::vector<std::string>& lines) {
  c.Headers.Clear();
  for (const std::string& line : lines) c.Headers.Add(line);
}

struct RedirectCase {
  const char* location;  // the whole header line
  const char* expected;  // RedirURL, empty when no redirect is found, or "!" and the error raised
};

TEST(HttpClientFindRedirect, TargetForms) {
  const std::vector<RedirectCase> cases = {
      {"Location: http://other:82/x.html", "http://other:82/x.html"},
      {"Location: HTTP://OTHER/X", "HTTP://OTHER/X"},
      {"Location: /new", "http://h:81/new"},
      // Relative targets are read against the page, /a/b (RFC 3986).
      {"Location: new", "http://h:81/a/new"},
      {"LOCATION: new?a=/b", "http://h:81/a/new?a=/b"},
      {"Location: ../up/./x", "http://h:81/up/x"},
      {"Location: ?q=1", "http://h:81/a/b?q=1"},
      {"Location: //other/p", "http://other/p"},
      {"Location:   /padded \t", "http://h:81/padded"},
      {"location: /lower", "http://h:81/lower"},
      {"Location: https://secure/p", "https://secure/p"},
      {"Location: HTTPS://SECURE:8443/P", "HTTPS://SECURE:8443/P"},
      {"Location: ftp://files/p", "!The redirect leads to a URL that is not http or https: ftp://files/p"},
      {"Location: ", "http://h:81/a/b"},
      {"location:/no-blank", ""},
      {"Location:\t/tab", ""},
      {"X-Location: /x", ""},
  };
  for (const RedirectCase& rc : cases) {
    SCOPED_TRACE(rc.location);
    THttpClient c;
    c.SetURL("http://h:81/a/b");
    c.RequestMethod = "POST";
    SetHeaders(c, {"HTTP/1.0 302 Found", "Server: t", rc.location, ""});
    if (*rc.expected == '!') {
      try {
        c.FindRedirect();
        ADD_FAILURE() << "no error";
      } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), rc.expected + 1);
      }
      EXPECT_EQ(c.RedirURL(), "");
      EXPECT_EQ(c.RequestMethod, "POST");
      continue;
    }
    const bool found = c.FindRedirect();
    EXPECT_EQ(found, *rc.expected != 0);
    EXPECT_EQ(c.RedirURL(), rc.expected);
    EXPECT_EQ(c.RequestMethod, found ? "" : "POST");
    EXPECT_EQ(c.RequestURI, found ? "" : "/a/b");
  }
}

TEST(HttpClientFindRedirect, FirstLocationWinsAndStatusLineCounts) {
  THttpClient c;
  c.SetURL("http://h/");
  SetHeaders(c, {"Location: /from-status", "Location: /second", ""});
  ASSERT_TRUE(c.FindRedirect());
  EXPECT_EQ(c.RedirURL(), "http://h/from-status");
}

TEST(HttpClientFindRedirect, RelativeTargetNamesTheOriginBehindAProxy) {
  THttpClient c;
  c.SetProxy("127.0.0.1:3128");
  c.SetURL("http://origin:8080/a/b");
  SetHeaders(c, {"HTTP/1.0 301 Moved", "Location: /c", ""});
  ASSERT_TRUE(c.FindRedirect());
  EXPECT_EQ(c.RedirURL(), "http://origin:8080/c");
}

TEST(HttpClientFindRedirect, RelativeTargetOfAnHttpsPageStaysOnHttps) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"https://h/a/b", "https://h/c"},
      {"https://h:8443/a/b", "https://h:8443/c"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.first);
    THttpClient c;
    c.SetURL(tc.first);
    SetHeaders(c, {"HTTP/1.0 302 Found", "Location: /c", ""});
    ASSERT_TRUE(c.FindRedirect());
    EXPECT_EQ(c.RedirURL(), tc.second);
  }
  // Behind a proxy too: the target names the origin server.
  THttpClient c;
  c.SetProxy("127.0.0.1:3128");
  c.SetURL("https://origin:8443/a");
  SetHeaders(c, {"HTTP/1.0 301 Moved", "Location: c", ""});
  ASSERT_TRUE(c.FindRedirect());
  EXPECT_EQ(c.RedirURL(), "https://origin:8443/c");
}

TEST(HttpClientIsChunked, TransferEncodingValue) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"Transfer-Encoding: Chunked", true},
      {"transfer-encoding: gzip, CHUNKED", true},
      {"Transfer-Encoding: identity", false},
      {"Transfer-Encoding : chunked", false},
      {"X-Transfer-Encoding: chunked", false},
  };
  THttpClient c;
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.first);
    SetHeaders(c, {"HTTP/1.1 200 OK", tc.first, ""});
    EXPECT_EQ(c.IsChunked(), tc.second);
  }
  SetHeaders(c, {});
  EXPECT_FALSE(c.IsChunked());
}

}  // namespace
