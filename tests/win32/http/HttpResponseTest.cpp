// How THttpClient reads what a server answers: header block, body framing,
// failures and redirects, against the scenario server's canned replies
// (tests/servers/scenarios/http-*).
#include "HttpTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

std::string ScenarioUrl(const std::string& port, const std::string& name) {
  return "http://127.0.0.1:" + port + "/s/" + name;
}

struct ResponseCase {
  const char* scenario;
  std::function<void(THttpClient&)> setup;
  bool succeeds;
  std::string body;                  // Body afterwards: what a failed body kept
  std::vector<std::string> headers;  // when not empty: the exact Headers entries
  const char* error;                 // when it fails: LastError
};

void PrintTo(const ResponseCase& rc, std::ostream* os) { *os << rc.scenario; }

const std::vector<ResponseCase>& ResponseCases() {
  static const std::vector<ResponseCase> cases = {
      {"http-content-length", nullptr, true, std::string("Hello\0world!", 12),
       {"HTTP/1.0 200 OK", "Content-Type: text/plain", "Content-Length: 12", ""}, ""},
      {"http-content-length-bad", nullptr, true, "all of this until the close", {}, ""},
      {"http-content-length-zero", nullptr, true, "", {}, ""},
      // A body cut short by the close fails, and keeps what came.
      {"http-content-length-short", nullptr, false, "only ten!!", {},
       "The connection closed after 10 of 100 bytes of the body"},
      {"http-until-close", nullptr, true, [] {
         std::string s;
         for (int i = 0; i < 3000; ++i) s += "0123456789";
         return s;
       }(), {}, ""},
      {"http-chunked", nullptr, true, "abcdefghijklmnopqrstuvwxyz0123456789+-*",
       {"HTTP/1.1 200 OK", "Transfer-Encoding: Chunked", ""}, ""},
      // An extension says nothing about the size: the chunk is kept.
      {"http-chunked-extension", nullptr, true, "abcdefghijklmnopqrstuvwxyz", {}, ""},
      {"http-chunked-bad-size", nullptr, false, "first", {}, "Malformed chunk size line"},
      {"http-chunked-cut", nullptr, false, "abcdonly part", {}, "The connection closed before the last chunk of the body"},
      {"http-chunked-cut?cut-at=56", nullptr, false, "abcd", {}, "The connection closed before the last chunk of the body"},
      {"http-status-only", nullptr, false, "", {"HTTP/1.0 200 OK"}, "The connection closed in the header block"},
      {"http-not-found", nullptr, true, "<html><body>No such page.</body></html>", {}, ""},
      {"http-headers-cut", nullptr, false, "", {"HTTP/1.0 200 OK", "X-Complete: yes"},
       "The connection closed in the header block"},
      {"http-content-length", [](THttpClient& c) { c.IgnoreAfterHeaders = true; }, true, "", {}, ""},
      {"http-chunked", [](THttpClient& c) { c.IgnoreAfterHeaders = true; }, true, "", {}, ""},
      {"http-empty-reply", nullptr, false, "", {}, "The server sent no status line"},
      {"http-blank-first-line", nullptr, false, "", {}, "The server sent no status line"},
      {"http-too-many-header-lines", nullptr, false, "", {},
       "The response's header block is too large (over 10000 lines or 1 MB)"},
      {"http-too-many-header-bytes", nullptr, false, "", {},
       "The response's header block is too large (over 10000 lines or 1 MB)"},
      {"http-slow", [](THttpClient& c) { c.SetTimeOut(2); }, false, "", {}, "Operation timed out"},
  };
  return cases;
}

class ScenarioResponse : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(ScenarioResponse, ReadsAsExpected) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  const ResponseCase& rc = GetParam();
  THttpClient c;
  PrepareClient(c);
  c.SetURL(ScenarioUrl(port, rc.scenario));
  if (rc.setup) rc.setup(c);
  int receivingFired = 0;
  c.OnReceiving = [&](TObject*, int total) {
    ++receivingFired;
    EXPECT_EQ(total, static_cast<int>(c.Body.Size()));
  };
  const bool ok = c.Execute();
  if (!rc.headers.empty()) {
    EXPECT_EQ(c.Headers.Lines(), rc.headers);
  }
  EXPECT_EQ(BodyText(c), rc.body);
  if (!rc.succeeds) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(c.LastError, rc.error);
    return;
  }
  ASSERT_TRUE(ok) << c.LastError;
  EXPECT_EQ(c.LastError, "");
  EXPECT_EQ(c.Body.Position(), 0);
  EXPECT_EQ(receivingFired, c.IgnoreAfterHeaders ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Http, ScenarioResponse, ::testing::ValuesIn(ResponseCases()),
                         [](const ::testing::TestParamInfo<ResponseCase>& info) {
                           std::string name = info.param.scenario;
                           for (char& ch : name) {
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name + "_" + std::to_string(info.index);
                         });

TEST(HttpResponse, HeadSavesTheHeaderLinesAndKeepsTheBody) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  const std::string file = "http_head_lines.txt";
  std::remove(file.c_str());
  THttpClient c;
  PrepareClient(c);
  c.SetURL(ScenarioUrl(port, "http-not-found"));
  ASSERT_TRUE(c.Execute()) << c.LastError;
  const std::string previousBody = BodyText(c);

  c.SetURL(ScenarioUrl(port, "http-head"));
  c.RequestMethod = "HEAD";
  c.SaveToFile = file;
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_EQ(ReadWholeFile(file), "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\nX-Note: head\r\n\r\n");
  EXPECT_EQ(BodyText(c), previousBody);
  std::remove(file.c_str());
}

TEST(HttpResponse, BodyIsSavedToFileAndAnUnwritableFileIsIgnored) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  const std::string file = "http_saved_body.bin";
  std::remove(file.c_str());
  THttpClient c;
  PrepareClient(c);
  c.SetURL(ScenarioUrl(port, "http-content-length"));
  c.SaveToFile = file;
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_EQ(ReadWholeFile(file), std::string("Hello\0world!", 12));
  std::remove(file.c_str());

  c.SaveToFile = "no-such-directory\\sub\\body.bin";
  EXPECT_TRUE(c.Execute()) << c.LastError;
  EXPECT_EQ(BodyText(c), std::string("Hello\0world!", 12));
  EXPECT_FALSE(FileExists(c.SaveToFile));
}

TEST(HttpResponse, FailureKeepsWhatWasReadAndLastErrorSurvivesSuccess) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  THttpClient c;
  PrepareClient(c);
  c.SetURL(ScenarioUrl(port, "http-not-found"));
  ASSERT_TRUE(c.Execute()) << c.LastError;
  const std::string body = BodyText(c);

  c.SetURL(ScenarioUrl(port, "http-too-many-header-lines"));
  EXPECT_FALSE(c.Execute());
  EXPECT_EQ(c.Headers.Count(), THttpClient::MaxHeaderLines);
  EXPECT_EQ(BodyText(c), body);  // the body is emptied only when it is about to be read
  const std::string error = c.LastError;

  c.SetURL(ScenarioUrl(port, "http-content-length-zero"));
  ASSERT_TRUE(c.Execute());
  EXPECT_EQ(c.LastError, error);
}

TEST(HttpResponse, HeaderLineTooLongFailsClearly) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  THttpClient c;
  PrepareClient(c);
  c.SetURL(ScenarioUrl(port, "http-header-line-too-long"));
  EXPECT_FALSE(c.Execute());
  EXPECT_NE(c.LastError, "");
}

TEST(HttpResponse, UnreachableServerFailsWithTheSocketError) {
  THttpClient c;
  PrepareClient(c, 5);
  std::vector<std::string> reported;
  c.OnError = [&](TObject*, std::string& msg) { reported.push_back(msg); };
  c.SetURL("http://127.0.0.1:1/");
  EXPECT_FALSE(c.Execute());
  EXPECT_NE(c.LastError, "");
  ASSERT_FALSE(reported.empty());
  EXPECT_EQ(reported.back(), c.LastError);
}

// ---------------------------------------------------------------------------
// Redirects

struct RedirectCase {
  const char* scenario;
  bool throughProxy;       // the scenario server also acts as the proxy
  const char* redirURL;    // "%P" is the scenario server's port
  const char* finalBody;
};

void PrintTo(const RedirectCase& rc, std::ostream* os) { *os << rc.scenario; }

class Redirect : public ::testing::TestWithParam<RedirectCase> {};

TEST_P(Redirect, IsFollowed) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  const RedirectCase& rc = GetParam();
  THttpClient c;
  PrepareClient(c);
  if (rc.throughProxy) c.SetProxy("127.0.0.1:" + port);
  c.SetURL(ScenarioUrl(port, rc.scenario));
  int redirects = 0;
  c.OnRedirect = [&](TObject*) { ++redirects; };
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_EQ(redirects, 1);
  EXPECT_EQ(c.RedirURL(), WithPort(rc.redirURL, port));
  EXPECT_EQ(c.URL(), c.RedirURL());
  EXPECT_EQ(c.RequestMethod, "GET");
  EXPECT_NE(BodyText(c).find(rc.finalBody), std::string::npos) << BodyText(c);
}

INSTANTIATE_TEST_SUITE_P(
    Http, Redirect,
    ::testing::Values(
        RedirectCase{"http-redirect-relative", false, "http://127.0.0.1:%P/s/http-redirected", "redirected here"},
        RedirectCase{"http-redirect-no-slash", false, "http://127.0.0.1:%P/s/http-redirected", "redirected here"},
        RedirectCase{"http-redirect-absolute", true, "http://origin.test:8080/s/http-redirected", "redirected here"},
        RedirectCase{"http-redirect-capital", true, "HTTP://ORIGIN.TEST/s/http-redirected", "redirected here"},
        // Behind a proxy a relative target still names the origin server.
        RedirectCase{"http-redirect-relative", true, "http://127.0.0.1:%P/s/http-redirected", "redirected here"}),
    [](const ::testing::TestParamInfo<RedirectCase>& info) {
      std::string name = info.param.scenario;
      for (char& ch : name) {
        if (ch == '-') ch = '_';
      }
      return name + (info.param.throughProxy ? "_proxy" : "");
    });

// Targets read against the page that sent them, checked on the wire: the
// echo route at /echo/dir/redir answers a 302 to the Location of its query,
// and the target's echo shows the request that followed.
struct TargetCase {
  const char* name;
  const char* route;     // "http", "proxy" (the scenario server as proxy) or "https"
  const char* location;  // as it goes in the query; "%P" the port, "%T" the TLS scenario port
  const char* request;   // the request line and Host line that follow; empty when the redirect fails
  const char* error;     // the failure's text then
};

const TargetCase TargetCases[] = {
    {"file_in_the_folder", "http", "page2.html", "GET /echo/dir/page2.html HTTP/1.0\r\nHost: 127.0.0.1:%P\r\n", ""},
    {"parent_folder", "http", "../up.html", "GET /echo/up.html HTTP/1.0\r\nHost: 127.0.0.1:%P\r\n", ""},
    {"query_only", "http", "%3Fx%3D1", "GET /echo/dir/redir?x=1 HTTP/1.0\r\nHost: 127.0.0.1:%P\r\n", ""},
    {"dot_segments", "http", "./a/./b/../c.html", "GET /echo/dir/a/c.html HTTP/1.0\r\nHost: 127.0.0.1:%P\r\n", ""},
    {"blanks_around", "http", "%20%20page2.html%20%09", "GET /echo/dir/page2.html HTTP/1.0\r\nHost: 127.0.0.1:%P\r\n",
     ""},
    {"another_host", "http", "//localhost:%P/echo/path", "GET /echo/path HTTP/1.0\r\nHost: localhost:%P\r\n", ""},
    {"root", "http", "/echo/rooted", "GET /echo/rooted HTTP/1.0\r\nHost: 127.0.0.1:%P\r\n", ""},
    {"proxy_file_in_the_folder", "proxy", "page2.html",
     "GET http://127.0.0.1:%P/echo/dir/page2.html HTTP/1.0\r\nHost: 127.0.0.1:%P\r\n", ""},
    {"tls_file_in_the_folder", "https", "page2.html", "GET /echo/dir/page2.html HTTP/1.0\r\nHost: localhost:%T\r\n", ""},
    {"tls_another_host_keeps_the_scheme", "https", "//localhost:%T/echo/other",
     "GET /echo/other HTTP/1.0\r\nHost: localhost:%T\r\n", ""},
    {"other_scheme", "http", "ftp://127.0.0.1/s/http-redirected", "",
     "The redirect leads to a URL that is not http or https: ftp://127.0.0.1/s/http-redirected"},
    {"mail_address", "http", "mailto:someone@localhost", "",
     "The redirect leads to a URL that is not http or https: mailto:someone@localhost"},
};

void PrintTo(const TargetCase& tc, std::ostream* os) { *os << tc.location; }

class RedirectTarget : public ::testing::TestWithParam<TargetCase> {};

TEST_P(RedirectTarget, IsReadAgainstThePage) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  REQUIRE_PORT(tlsPort, "KESTREL_TLS_SCENARIO_PORT");
  const TargetCase& tc = GetParam();
  const auto ports = [&](std::string text) {
    for (size_t at; (at = text.find("%T")) != std::string::npos;) text.replace(at, 2, tlsPort);
    return WithPort(text, port);
  };
  THttpClient c;
  PrepareClient(c);
  const std::string route = tc.route;
  if (route == "proxy") c.SetProxy("127.0.0.1:" + port);
  const std::string page = "/echo/dir/redir?location=" + ports(tc.location);
  c.SetURL(route == "https" ? TlsUrl(tlsPort, page) : "http://127.0.0.1:" + port + page);
  const std::string expected = ports(tc.request);
  if (expected.empty()) {
    EXPECT_FALSE(c.Execute());
    EXPECT_EQ(c.LastError, tc.error);
    EXPECT_EQ(c.Headers[0], "HTTP/1.0 302 Found");
    EXPECT_EQ(c.RequestMethod, "GET");  // not emptied: no request follows
    return;
  }
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_EQ(BodyText(c).substr(0, expected.size()), expected);
  EXPECT_EQ(c.URL(), c.RedirURL());
}

INSTANTIATE_TEST_SUITE_P(Http, RedirectTarget, ::testing::ValuesIn(TargetCases),
                         [](const ::testing::TestParamInfo<TargetCase>& info) { return std::string(info.param.name); });

TEST(HttpRedirect, NoBlankAfterTheColonIsNotARedirect) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  THttpClient c;
  PrepareClient(c);
  c.SetURL(ScenarioUrl(port, "http-redirect-no-blank"));
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_EQ(c.RedirURL(), "");
  EXPECT_EQ(c.Headers[0], "HTTP/1.0 302 Found");
  EXPECT_EQ(BodyText(c), "not followed");
}

TEST(HttpRedirect, NotFollowedWhenDisabled) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  THttpClient c;
  PrepareClient(c);
  c.FollowRedirects = false;
  int exchanges = 0;
  c.OnRecvdHeaders = [&](TObject*) { ++exchanges; };
  c.SetURL(ScenarioUrl(port, "http-redirect-relative"));
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_EQ(exchanges, 1);
  EXPECT_EQ(c.RedirURL(), "");
  EXPECT_EQ(c.RequestMethod, "GET");
  EXPECT_EQ(BodyText(c), "moved");
}

TEST(HttpRedirect, PostIsFollowedByAGetWithoutBody) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  THttpClient c;
  PrepareClient(c);
  c.SetURL(ScenarioUrl(port, "http-redirect-to-echo"));
  c.RequestMethod = "POST";
  c.PostData = "a=1";
  c.AuthentHeader = "u:p";
  c.ExtraHeaders.Add("X-Kept: yes");
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_EQ(BodyText(c), "GET /echo/after HTTP/1.0\r\nAuthorization: Basic dTpw\r\nHost: 127.0.0.1:" + port +
                             "\r\nAccept: */*\r\nX-Kept: yes\r\n\r\n");
  EXPECT_EQ(c.RequestMethod, "GET");
  EXPECT_EQ(c.PostData, "a=1");
}

TEST(HttpRedirect, LoopEndsAtTheBound) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  THttpClient c;
  PrepareClient(c);
  int redirects = 0, exchanges = 0;
  c.OnRedirect = [&](TObject*) { ++redirects; };
  c.OnRecvdHeaders = [&](TObject*) { ++exchanges; };
  std::string reported;
  c.OnError = [&](TObject*, std::string& msg) { reported = msg; };
  c.SetURL(ScenarioUrl(port, "http-redirect-loop"));
  EXPECT_FALSE(c.Execute());
  EXPECT_EQ(c.LastError, "Too many redirects");
  EXPECT_EQ(reported, "Too many redirects");
  EXPECT_EQ(redirects, THttpClient::MaxRedirects);
  EXPECT_EQ(exchanges, THttpClient::MaxRedirects + 1);

  // The bound is per call: the next Execute may follow as many again.
  c.SetURL(ScenarioUrl(port, "http-redirect-relative"));
  EXPECT_TRUE(c.Execute()) << c.LastError;
}

}  // namespace
