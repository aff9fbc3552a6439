// Kept connections (KeepAlive) and compressed bodies (Compression): the
// scenario server's keep-* scenarios, whose X-Conn header names the
// connection and the request's number on it, its gzip-* and deflate-*
// scenarios, and nginx over http and https (X-Connection: its $connection).
#include "HttpTestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

std::string ScenarioUrl(const std::string& port, const std::string& target) {
  return "http://127.0.0.1:" + port + "/s/" + target;
}

// "C00000012 R00000003": connection 12, its third request.
struct TConnSeen {
  std::string Connection;
  int Request = 0;
};

TConnSeen ConnOf(const THttpClient& c) {
  const std::string value = c.Headers.GetFieldValue("X-Conn");
  TConnSeen seen;
  if (value.size() == 19 && value[0] == 'C' && value[10] == 'R') {
    seen.Connection = value.substr(1, 8);
    seen.Request = std::stoi(value.substr(11));
  }
  return seen;
}

bool LogHas(const THttpClient& c, const std::string& text) {
  for (const std::string& line : c.LogLines.Lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

const char* const Same = "same";  // the kept connection served, as its next request
const char* const Fresh = "new";  // a new connection served, as its first request

struct KeepStep {
  const char* outcome;  // Same, Fresh, or the failure's text
  std::string body;     // when it succeeds (not checked for HEAD)
  const char* method = "GET";
  const char* status = nullptr;  // the status line, when checked
  int pauseMs = 0;               // idle time before the request
};

struct KeepCase {
  const char* scenario;
  std::vector<KeepStep> steps;
  const char* logNote;  // a transfer log line holds it, when set
};

void PrintTo(const KeepCase& kc, std::ostream* os) { *os << kc.scenario; }

const std::string Kept = "kept body";
const char* const Retried = "closed before answering; sending the request again on a new connection";

const std::vector<KeepCase>& KeepCases() {
  static const std::vector<KeepCase> cases = {
      {"keep-cycle", {{Fresh, Kept}, {Same, Kept}, {Same, Kept}}, "Reusing the connection to 127.0.0.1:"},
      {"keep-idle-close", {{Fresh, Kept}, {Fresh, Kept}}, nullptr},
      {"keep-drop", {{Fresh, Kept}, {Fresh, Kept}}, Retried},
      {"keep-reset", {{Fresh, Kept}, {Fresh, Kept}}, Retried},
      // A time-out is not retried; the next request starts afresh.
      {"keep-silent", {{Fresh, Kept}, {"Operation timed out", ""}, {Fresh, Kept}}, nullptr},
      {"keep-connection-close", {{Fresh, Kept}, {Fresh, Kept}}, nullptr},
      {"keep-http10", {{Fresh, Kept}, {Fresh, Kept}}, nullptr},
      {"keep-http10-keep-alive", {{Fresh, Kept}, {Same, Kept}}, nullptr},
      {"keep-until-close", {{Fresh, Kept}, {Fresh, Kept}}, nullptr},
      {"keep-chunked-trailers", {{Fresh, Kept}, {Same, Kept}, {Same, Kept}}, nullptr},
      {"keep-no-body",
       {{Fresh, "", "GET", "HTTP/1.1 204 No Content"},
        {Same, "", "GET", "HTTP/1.1 304 Not Modified"},
        {Same, Kept, "GET", "HTTP/1.1 200 OK"}},
       nullptr},
      {"keep-head", {{Fresh, "", "HEAD"}, {Same, Kept}}, nullptr},
      {"keep-interim", {{Fresh, Kept, "GET", "HTTP/1.1 200 OK"}, {Same, Kept, "GET", "HTTP/1.1 200 OK"}}, nullptr},
      {"keep-interim-flood", {{"The server sent too many interim answers (1xx)", ""}}, nullptr},
      // The second answer behind the body is never read as the next one.
      {"keep-smuggle", {{Fresh, Kept}, {Fresh, Kept}, {Fresh, Kept}}, nullptr},
      {"keep-length-and-chunked", {{Fresh, Kept}, {Fresh, Kept}}, nullptr},
      {"keep-two-lengths", {{Fresh, Kept}, {Fresh, Kept}}, nullptr},
      {"keep-hint", {{Fresh, Kept}, {Same, Kept}, {Fresh, Kept, "GET", nullptr, 1200}},
       "(idle for longer than the server keeps it)"},
  };
  return cases;
}

class KeptConnection : public ::testing::TestWithParam<KeepCase> {};

TEST_P(KeptConnection, ServesAsTheServerAllows) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  const KeepCase& kc = GetParam();
  const std::string log = std::string("keep_") + kc.scenario + ".log";
  THttpClient c;
  PrepareClient(c, 3);
  c.KeepAlive = true;
  c.LogFileName = log;
  TConnSeen previous;
  for (size_t i = 0; i < kc.steps.size(); ++i) {
    const KeepStep& step = kc.steps[i];
    SCOPED_TRACE("request " + std::to_string(i + 1));
    if (step.pauseMs > 0) Sleep(step.pauseMs);
    c.SetURL(ScenarioUrl(port, kc.scenario));
    c.RequestMethod = step.method;
    const bool ok = c.Execute();
    const std::string outcome = step.outcome;
    if (outcome != Same && outcome != Fresh) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(c.LastError, outcome);
      previous = TConnSeen();
      continue;
    }
    ASSERT_TRUE(ok) << c.LastError;
    if (std::string(step.method) != "HEAD") {
      EXPECT_EQ(BodyText(c), step.body);
    }
    if (step.status) {
      EXPECT_EQ(c.Headers[0], step.status);
    }
    const TConnSeen seen = ConnOf(c);
    ASSERT_FALSE(seen.Connection.empty()) << c.Headers.Text();
    if (outcome == Same) {
      EXPECT_EQ(seen.Connection, previous.Connection);
      EXPECT_EQ(seen.Request, previous.Request + 1);
    } else {
      EXPECT_NE(seen.Connection, previous.Connection);
      EXPECT_EQ(seen.Request, 1);
    }
    previous = seen;
  }
  if (kc.logNote) {
    EXPECT_TRUE(LogHas(c, kc.logNote)) << c.LogLines.Text();
  }
  c.LogFileName.clear();
  std::remove(log.c_str());
}

INSTANTIATE_TEST_SUITE_P(Http, KeptConnection, ::testing::ValuesIn(KeepCases()),
                         [](const ::testing::TestParamInfo<KeepCase>& info) {
                           std::string name = info.param.scenario;
                           for (char& ch : name)
                             if (ch == '-') ch = '_';
                           return name;
                         });

TEST(KeptConnection, TurningKeepAliveOffClosesTheKeptConnection) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  THttpClient c;
  PrepareClient(c, 3);
  c.KeepAlive = true;
  c.LogFileName = "keep_off.log";
  c.SetURL(ScenarioUrl(port, "keep-cycle"));
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_TRUE(c.HasSocket());
  c.SetKeepAlive(false);
  EXPECT_FALSE(c.HasSocket());
  EXPECT_TRUE(LogHas(c, "Closing the kept connection to 127.0.0.1:" + port + " (KeepAlive was turned off)"));
  // Off again: one request per connection, as HTTP/1.0.
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_FALSE(c.HasSocket());
  c.LogFileName.clear();
}

// ---------------------------------------------------------------------------
// Compressed bodies

std::string KestrelText() {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "The quick kestrel hovers over the field.\r\n";
  return text;
}

std::string EveryByteValue() {
  std::string bytes;
  for (int i = 0; i < 64; ++i)
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

const char* const Undecodable = "The compressed body could not be decoded: ";

struct CodingCase {
  const char* target;  // scenario and query
  bool compression;
  std::string body;    // the expected body, or the start of the failure's text
  bool fails;
};

void PrintTo(const CodingCase& cc, std::ostream* os) { *os << cc.target; }

const std::vector<CodingCase>& CodingCases() {
  static const std::vector<CodingCase> cases = {
      {"gzip-text", true, KestrelText(), false},
      {"gzip-x", true, KestrelText(), false},
      {"deflate-zlib", true, KestrelText(), false},
      {"deflate-raw", true, KestrelText(), false},
      {"gzip-chunked", true, KestrelText(), false},
      {"gzip-binary", true, EveryByteValue(), false},
      {"gzip-bomb", true, std::string(256 * 1024, '\0'), false},
      {"gzip-bomb?body-zeros=16777216", true, std::string(16 * 1024 * 1024, '\0'), false},
      {"encoding-other", true, "not really brotli", false},
      {"gzip-text?body-damage=flip,40", true, Undecodable, true},
      {"gzip-text?body-damage=truncate,12", true, Undecodable, true},
      {"gzip-text?body-damage=flip,-8", true, std::string(Undecodable) + "incorrect data check", true},
      {"gzip-text?body-damage=trail,JUNK", true,
       std::string(Undecodable) + "bytes follow the end of the compressed data", true},
      {"deflate-zlib?body-damage=flip,-2", true, std::string(Undecodable) + "incorrect data check", true},
      {"deflate-raw?body-damage=truncate,3", true, Undecodable, true},
      {"gzip-bomb?body-zeros=268435457", true, "The decoded body is larger than 256 MB; save it to a file with SaveFileTo", true},
  };
  return cases;
}

class CompressedBody : public ::testing::TestWithParam<CodingCase> {};

TEST_P(CompressedBody, IsDecodedOrRefused) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  const CodingCase& cc = GetParam();
  THttpClient c;
  PrepareClient(c, 30);
  c.Compression = cc.compression;
  c.SetURL(ScenarioUrl(port, cc.target));
  const bool ok = c.Execute();
  if (cc.fails) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(c.LastError.compare(0, cc.body.size(), cc.body), 0) << c.LastError;
    EXPECT_EQ(c.Body.Size(), 0);
    // The object works afterwards.
    c.SetURL(ScenarioUrl(port, "gzip-text"));
    ASSERT_TRUE(c.Execute()) << c.LastError;
    EXPECT_EQ(BodyText(c), KestrelText());
    return;
  }
  ASSERT_TRUE(ok) << c.LastError;
  EXPECT_TRUE(BodyText(c) == cc.body) << "size " << c.Body.Size();
  // The header lines stay as the server sent them.
  EXPECT_NE(c.Headers.GetFieldValue("Content-Encoding"), "");
}

INSTANTIATE_TEST_SUITE_P(Http, CompressedBody, ::testing::ValuesIn(CodingCases()),
                         [](const ::testing::TestParamInfo<CodingCase>& info) {
                           std::string name = info.param.target;
                           for (char& ch : name)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name + "_" + std::to_string(info.index);
                         });

TEST(CompressedBody, WithoutCompressionTheBodyIsReturnedAsReceived) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  THttpClient c;
  PrepareClient(c);
  c.SetURL(ScenarioUrl(port, "gzip-text"));
  ASSERT_TRUE(c.Execute()) << c.LastError;
  const std::string body = BodyText(c);
  EXPECT_EQ(std::to_string(body.size()), c.Headers.GetFieldValue("Content-Length"));
  EXPECT_EQ(body.compare(0, 2, "\x1f\x8b"), 0);
}

// A body that expands without bound goes to the file as it is decoded, never
// whole into memory.
TEST(CompressedBody, BombStreamsToTheFile) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  const std::string file = "gzip_bomb.bin";
  std::remove(file.c_str());
  THttpClient c;
  PrepareClient(c, 60);
  c.Compression = true;
  c.DecodedBodyFile = file;
  c.SetURL(ScenarioUrl(port, "gzip-bomb?body-zeros=268435456"));
  ASSERT_TRUE(c.Execute()) << c.LastError;
  EXPECT_TRUE(c.BodyInFile());
  EXPECT_EQ(c.Body.Size(), 0);
  EXPECT_LT(c.Body.Capacity(), 1024u * 1024);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, 268435456u);
  std::remove(file.c_str());

  // A corrupt body leaves no file behind.
  c.SetURL(ScenarioUrl(port, "gzip-text?body-damage=flip,-8"));
  EXPECT_FALSE(c.Execute());
  EXPECT_FALSE(FileExists(file));
}

TEST(CompressedBody, KeptAndCompressedTogether) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  THttpClient c;
  PrepareClient(c);
  c.KeepAlive = true;
  c.Compression = true;
  c.SetURL(ScenarioUrl(port, "gzip-chunked"));
  std::string connection;
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(c.Execute()) << c.LastError;
    EXPECT_EQ(BodyText(c), KestrelText());
    const TConnSeen seen = ConnOf(c);
    if (i == 1) connection = seen.Connection;
    EXPECT_EQ(seen.Connection, connection);
    EXPECT_EQ(seen.Request, i);
  }
}

// ---------------------------------------------------------------------------
// nginx: keepalive_timeout and gzip, over http and https

struct NginxCase {
  bool tls;
  bool keepAlive;
  bool compression;
};

void PrintTo(const NginxCase& nc, std::ostream* os) {
  *os << (nc.tls ? "https" : "http") << (nc.keepAlive ? " kept" : "") << (nc.compression ? " gzip" : "");
}

class NginxKeepAlive : public ::testing::TestWithParam<NginxCase> {};

TEST_P(NginxKeepAlive, ConnectionsAndBodies) {
  const NginxCase& nc = GetParam();
  const char* const variable = nc.tls ? "KESTREL_TLS_PORT" : "KESTREL_NGINX_PORT";
  REQUIRE_PORT(port, variable);
  const std::string base = nc.tls ? TlsUrl(port, "") : "http://127.0.0.1:" + port;
  THttpClient plain;
  PrepareClient(plain);
  plain.SetURL(base + "/text.txt");
  ASSERT_TRUE(plain.Execute()) << plain.LastError;
  const std::string text = BodyText(plain);
  ASSERT_EQ(text.size(), 65536u);

  THttpClient c;
  PrepareClient(c);
  c.KeepAlive = nc.keepAlive;
  c.Compression = nc.compression;
  std::vector<std::string> connections;
  const char* const paths[] = {"/text.txt", "/index.html", "/old.html", "/text.txt", "/big.bin"};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    c.SetURL(base + path);
    ASSERT_TRUE(c.Execute()) << c.LastError;
    connections.push_back(c.Headers.GetFieldValue("X-Connection"));
    if (std::string(path) == "/text.txt") {
      EXPECT_EQ(BodyText(c), text);
      EXPECT_EQ(c.Headers.GetFieldValue("Content-Encoding"), nc.compression ? "gzip" : "");
    }
    if (std::string(path) == "/big.bin") {
      EXPECT_TRUE(IsSitePattern(BodyText(c), 4 * 1024 * 1024));
    }
  }
  // The redirect's hop counts as a request of its own on the same connection.
  for (size_t i = 1; i < connections.size(); ++i) {
    if (nc.keepAlive)
      EXPECT_EQ(connections[i], connections[0]);
    else
      EXPECT_NE(connections[i], connections[i - 1]);
  }
}

INSTANTIATE_TEST_SUITE_P(Http, NginxKeepAlive,
                         ::testing::Values(NginxCase{false, true, false}, NginxCase{false, false, true},
                                           NginxCase{false, true, true}, NginxCase{true, true, false},
                                           NginxCase{true, false, true}, NginxCase{true, true, true}),
                         [](const ::testing::TestParamInfo<NginxCase>& info) {
                           const NginxCase& nc = info.param;
                           return std::string(nc.tls ? "Https" : "Http") + (nc.keepAlive ? "Kept" : "") +
                                  (nc.compression ? "Gzip" : "");
                         });

}  // namespace
