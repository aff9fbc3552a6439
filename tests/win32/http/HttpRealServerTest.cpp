// THttpClient against real servers on loopback: nginx serving the static
// site of tests/servers/make-site.sh, fetched directly and through tinyproxy.
#include "HttpTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const SecretText = "The secret is kestrel.\n";
const size_t BigSize = 4 * 1024 * 1024;

::testing::AssertionResult IsBigFile(const std::string& data) { return IsSitePattern(data, BigSize); }

// Runs every case twice: straight to nginx, and through tinyproxy.
class RealServer : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override {
    nginx_ = ServerPort("KESTREL_NGINX_PORT");
    proxy_ = ServerPort("KESTREL_PROXY_PORT");
    ASSERT_FALSE(nginx_.empty()) << "KESTREL_NGINX_PORT is not set: start tests/servers/servers.sh";
    PrepareClient(client_, 20);
    if (GetParam()) {
      ASSERT_FALSE(proxy_.empty()) << "KESTREL_PROXY_PORT is not set";
      client_.SetProxy("127.0.0.1:" + proxy_);
    }
  }

  std::string Origin() const { return "127.0.0.1:" + nginx_; }
  std::string Url(const std::string& path) const { return "http://" + Origin() + path; }

  // Fetches the path and expects the exchange to succeed.
  void Fetch(const std::string& path) {
    client_.SetURL(Url(path));
    ASSERT_TRUE(client_.Execute()) << client_.LastError;
  }

  int Status() const { return client_.Headers.Count() ? NthWordAsInteger(client_.Headers[0], 1) : -1; }

  std::string nginx_, proxy_;
  THttpClient client_;
};

TEST_P(RealServer, IndexPage) {
  Fetch("/");
  EXPECT_EQ(Status(), 200);
  const std::string body = BodyText(client_);
  EXPECT_NE(body.find("<title>Kestrel test site</title>"), std::string::npos);
  EXPECT_EQ(client_.Headers.GetFieldValue("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(client_.Headers[client_.Headers.Count() - 1], "");
  EXPECT_EQ(client_.Body.Position(), 0);
  EXPECT_EQ(client_.FileName(), "");
}

TEST_P(RealServer, LargeFileIntoMemoryAndToFile) {
  const std::string file = GetParam() ? "http_big_proxy.bin" : "http_big.bin";
  std::remove(file.c_str());
  client_.SaveToFile = file;
  int received = -1;
  client_.OnReceiving = [&](TObject*, int total) { received = total; };
  Fetch("/big.bin");
  EXPECT_EQ(Status(), 200);
  EXPECT_EQ(client_.FileName(), "big.bin");
  EXPECT_EQ(received, static_cast<int>(BigSize));
  EXPECT_TRUE(IsBigFile(BodyText(client_)));
  EXPECT_TRUE(IsBigFile(ReadWholeFile(file)));
  std::remove(file.c_str());
}

TEST_P(RealServer, AbsoluteRedirectIsFollowed) {
  int redirects = 0;
  client_.OnRedirect = [&](TObject*) { ++redirects; };
  Fetch("/old.html");
  EXPECT_EQ(redirects, 1);
  EXPECT_EQ(client_.RedirURL(), Url("/index.html"));
  EXPECT_EQ(client_.URL(), Url("/index.html"));
  EXPECT_EQ(Status(), 200);
  EXPECT_NE(BodyText(client_).find("Kestrel test site"), std::string::npos);
}

TEST_P(RealServer, RelativeRedirectIsCompletedWithTheOrigin) {
  Fetch("/old-relative.html");
  // Through the proxy too: the target names nginx, not tinyproxy.
  EXPECT_EQ(client_.RedirURL(), Url("/index.html"));
  EXPECT_EQ(Status(), 200);
  EXPECT_NE(BodyText(client_).find("Kestrel test site"), std::string::npos);
}

TEST_P(RealServer, DirectoryWithoutSlashRedirects) {
  Fetch("/dir.d");
  EXPECT_EQ(client_.RedirURL(), Url("/dir.d/"));
  EXPECT_EQ(client_.FileName(), "index.html");
  EXPECT_EQ(BodyText(client_), "dir.d index\n");
}

TEST_P(RealServer, RedirectNotFollowedWhenDisabled) {
  client_.FollowRedirects = false;
  Fetch("/old.html");
  EXPECT_EQ(Status(), 301);
  EXPECT_EQ(client_.RedirURL(), "");
  EXPECT_EQ(client_.Headers.GetFieldValue("Location"), Url("/index.html"));
}

TEST_P(RealServer, RedirectLoopEndsAtTheBound) {
  int redirects = 0;
  client_.OnRedirect = [&](TObject*) { ++redirects; };
  client_.SetURL(Url("/loop-a.html"));
  EXPECT_FALSE(client_.Execute());
  EXPECT_EQ(client_.LastError, "Too many redirects");
  EXPECT_EQ(redirects, THttpClient::MaxRedirects);
}

TEST_P(RealServer, BasicAuthentication) {
  Fetch("/private/secret.txt");
  EXPECT_EQ(Status(), 401);

  client_.AuthentHeader = "kestrel:wrong";
  Fetch("/private/secret.txt");
  EXPECT_EQ(Status(), 401);

  // The password holds a colon: only the first one separates the user name.
  client_.AuthentHeader = "kestrel:s3cret:pw";
  Fetch("/private/secret.txt");
  EXPECT_EQ(Status(), 200);
  EXPECT_EQ(BodyText(client_), SecretText);
}

TEST_P(RealServer, HeadLeavesTheBodyAndSavesTheHeaderLines) {
  Fetch("/private/");
  client_.AuthentHeader = "kestrel:s3cret:pw";
  Fetch("/private/secret.txt");
  ASSERT_EQ(BodyText(client_), SecretText);

  const std::string file = GetParam() ? "http_head_proxy.txt" : "http_head.txt";
  std::remove(file.c_str());
  client_.SaveToFile = file;
  client_.RequestMethod = "head";
  Fetch("/index.html");
  EXPECT_EQ(client_.RequestMethod, "HEAD");
  EXPECT_EQ(Status(), 200);
  EXPECT_EQ(BodyText(client_), SecretText);
  EXPECT_EQ(ReadWholeFile(file), client_.Headers.Text());
  EXPECT_EQ(client_.Headers.Text().substr(client_.Headers.Text().size() - 4), "\r\n\r\n");
  std::remove(file.c_str());
}

TEST_P(RealServer, MissingPageIsASuccessfulExchange) {
  Fetch("/no-such-page.html");
  EXPECT_EQ(Status(), 404);
  EXPECT_NE(BodyText(client_).find("404"), std::string::npos);
  EXPECT_EQ(client_.LastError, "");
}

INSTANTIATE_TEST_SUITE_P(Http, RealServer, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("ThroughProxy") : std::string("Direct");
                         });

}  // namespace
