// THttpClient over TLS against real servers on loopback: nginx with
// certificates of the private test CA (good, expired, issued for another
// name, from an unknown issuer), the TLS scenario server (the scenario
// server's replies and faults under encryption, and faults of the record
// layer), servers that break the handshake, and proxies that tunnel, refuse
// or want credentials. The test CA is trusted only inside the test run's
// own mount namespace (scripts/run-tests.sh).
#include "HttpTestSupport.h"

#include "codecs/Fingerprints.h"
#include "codecs/TextHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* const SecretText = "The secret is kestrel.\n";
const size_t BigSize = 4 * 1024 * 1024;
const size_t Big32Size = 32 * 1024 * 1024;

int Status(const THttpClient& c) { return c.Headers.Count() ? NthWordAsInteger(c.Headers[0], 1) : -1; }

// Counts the request lines that left the client.
struct TSentLines {
  explicit TSentLines(THttpClient& c) {
    c.OnLineSent = [this](TObject*, const std::string& line) { Lines.push_back(line); };
  }
  std::vector<std::string> Lines;
};

class Https : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(std::getenv("KESTREL_TLS_TRUSTED")) << "the test CA is not trusted: run under scripts/run-tests.sh";
    PrepareClient(client_, 20);
  }

  static std::string Url(const char* portVariable, const std::string& path, const char* host = "localhost") {
    const std::string port = ServerPort(portVariable);
    EXPECT_FALSE(port.empty()) << portVariable << " is not set";
    return std::string("https://") + host + ":" + port + path;
  }
  static std::string Site(const std::string& path) { return Url("KESTREL_TLS_PORT", path); }
  static std::string Scenario(const std::string& name) { return Url("KESTREL_TLS_SCENARIO_PORT", "/s/" + name); }

  void Fetch(const std::string& url) {
    client_.SetURL(url);
    ASSERT_TRUE(client_.Execute()) << client_.LastError;
  }

  // Expects the exchange to fail with exactly this text.
  void ExpectFailure(const std::string& url, const std::string& text) {
    client_.SetURL(url);
    EXPECT_FALSE(client_.Execute());
    EXPECT_EQ(client_.LastError, text);
  }

  THttpClient client_;
};

TEST_F(Https, PageOfTheSite) {
  Fetch(Site("/"));
  EXPECT_EQ(Status(client_), 200);
  const std::string body = BodyText(client_);
  EXPECT_NE(body.find("<title>Kestrel test site</title>"), std::string::npos);
  EXPECT_EQ(client_.Headers.GetFieldValue("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(client_.Headers[client_.Headers.Count() - 1], "");
  EXPECT_TRUE(client_.Secure());
}

TEST_F(Https, LargeBodiesArriveByteForByteInMemoryAndInAFile) {
  const std::string file = "https_big32.bin";
  std::remove(file.c_str());
  client_.SaveToFile = file;
  Fetch(Site("/big32.bin"));
  EXPECT_TRUE(IsSitePattern(BodyText(client_), Big32Size));
  EXPECT_TRUE(IsSitePattern(ReadWholeFile(file), Big32Size));
  std::remove(file.c_str());
  client_.SaveToFile.clear();
  // The object's next exchange gets a new session with the same credentials.
  Fetch(Site("/big.bin"));
  EXPECT_TRUE(IsSitePattern(BodyText(client_), BigSize));
}

TEST_F(Https, BasicAuthorizationAndHeadRequests) {
  client_.AuthentHeader = "kestrel:s3cret:pw";
  Fetch(Site("/private/secret.txt"));
  EXPECT_EQ(Status(client_), 200);
  EXPECT_EQ(BodyText(client_), SecretText);
  client_.AuthentHeader.clear();
  Fetch(Site("/private/secret.txt"));
  EXPECT_EQ(Status(client_), 401);
}

TEST_F(Https, HttpAndHttpsTakeTurnsOnOneObject) {
  const std::string plain = ServerPort("KESTREL_NGINX_PORT");
  ASSERT_FALSE(plain.empty());
  for (int round = 0; round < 3; ++round) {
    Fetch(Site("/private/../index.html"));
    const std::string secure = BodyText(client_);
    Fetch("http://localhost:" + plain + "/index.html");
    EXPECT_EQ(BodyText(client_), secure);
    EXPECT_FALSE(client_.Secure());
  }
}

// The request and response lines of an https exchange are logged as for http.
TEST_F(Https, TransferLogHoldsTheClearTextLines) {
  client_.LogFileName = "unused.log";
  Fetch(Site("/index.html"));
  const std::vector<std::string>& log = client_.LogLines.Lines();
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log[0], "GET /index.html HTTP/1.0");
  EXPECT_EQ(log[1], "Host: localhost:" + ServerPort("KESTREL_TLS_PORT"));
  EXPECT_EQ(log[2], "Accept: */*");
  EXPECT_EQ(log[3], "");
  EXPECT_EQ(log[4], "HTTP/1.1 200 OK");
  EXPECT_EQ(log.back(), "");
  client_.LogFileName.clear();
}

// ---------------------------------------------------------------------------
// Certificates

struct CertificateCase {
  const char* portVariable;
  const char* host;
  const char* error;
};

class HttpsCertificate : public Https, public ::testing::WithParamInterface<CertificateCase> {};

TEST_P(HttpsCertificate, IsRefusedBeforeAnyRequestByte) {
  const CertificateCase& cc = GetParam();
  TSentLines sent(client_);
  client_.Headers.Add("previous");
  ExpectFailure(Url(cc.portVariable, "/index.html", cc.host), cc.error);
  EXPECT_TRUE(sent.Lines.empty()) << sent.Lines[0];
  EXPECT_EQ(client_.Headers.Count(), 1) << "headers were read";
  EXPECT_FALSE(client_.HasSocket());
}

INSTANTIATE_TEST_SUITE_P(
    Tls, HttpsCertificate,
    ::testing::Values(
        CertificateCase{"KESTREL_TLS_EXPIRED_PORT", "localhost", "Certificate error: the certificate has expired"},
        CertificateCase{"KESTREL_TLS_WRONGNAME_PORT", "localhost",
                        "Certificate error: the certificate was issued for another name (other.kestrel.test)"},
        CertificateCase{"KESTREL_TLS_UNTRUSTED_PORT", "localhost", "Certificate error: the issuer is not trusted"},
        // Chains whose issuers overstep what they may certify, whatever the
        // system's TLS policy lets pass.
        CertificateCase{"KESTREL_TLS_NAMECONSTRAINED_PORT", "localhost",
                        "Certificate error: the certificate is for a name its issuer may not certify"},
        CertificateCase{"KESTREL_TLS_NOTCA_PORT", "localhost",
                        "Certificate error: the issuer is not a certificate authority"},
        CertificateCase{"KESTREL_TLS_PATHLEN_PORT", "localhost",
                        "Certificate error: the chain is longer than an issuer allows"},
        CertificateCase{"KESTREL_TLS_CRITICAL_PORT", "localhost",
                        "Certificate error: a certificate of the chain has a critical extension that is not understood"},
        // The site's certificate names localhost, not its address.
        CertificateCase{"KESTREL_TLS_PORT", "127.0.0.1",
                        "Certificate error: the certificate was issued for another name (localhost)"}),
    [](const ::testing::TestParamInfo<CertificateCase>& info) {
      std::string name = info.param.portVariable;
      name = name.substr(std::string("KESTREL_TLS_").size());
      return name + (info.param.host[0] == '1' ? "_by_address" : "");
    });

// An object remembers the certificates it has verified, for a while: only for
// the same host and the very same certificate.
TEST_F(Https, AnEarlierVerificationCoversOnlyTheSameCertificateAndHost) {
  Fetch(Site("/index.html"));
  ExpectFailure(Url("KESTREL_TLS_UNTRUSTED_PORT", "/index.html"), "Certificate error: the issuer is not trusted");
  ExpectFailure(Url("KESTREL_TLS_EXPIRED_PORT", "/index.html"), "Certificate error: the certificate has expired");
  ExpectFailure(Url("KESTREL_TLS_PORT", "/index.html", "127.0.0.1"),
                "Certificate error: the certificate was issued for another name (localhost)");
  Fetch(Site("/index.html"));
  EXPECT_EQ(Status(client_), 200);
}

// ---------------------------------------------------------------------------
// Certificates trusted by their fingerprint

// "{SELFSIGNED}" stands for KESTREL_TLS_SELFSIGNED_SHA256 as openssl prints it
// (capitals and colons); "{selfsigned}" for it in small letters; "{SELFSIGNED
// blanks}" with blanks instead of colons.
std::string Fingerprints(std::string text) {
  for (size_t open; (open = text.find('{')) != std::string::npos;) {
    const size_t close = text.find('}', open);
    std::string token = text.substr(open + 1, close - open - 1);
    const bool blanks = token.size() > 7 && token.compare(token.size() - 7, 7, " blanks") == 0;
    if (blanks) token.resize(token.size() - 7);
    const bool small = token[0] >= 'a';
    std::string value = ServerPort(("KESTREL_TLS_" + AsciiUpperCase(token) + "_SHA256").c_str());
    EXPECT_EQ(value.size(), 95u) << token << " has no fingerprint";
    if (small) value = AsciiLowerCase(value);
    if (blanks) std::replace(value.begin(), value.end(), ':', ' ');
    text.replace(open, close - open + 1, value);
  }
  return text;
}

const char* const ForgivenText = "The certificate of localhost was accepted by its trusted fingerprint: its issuer is not trusted";

struct FingerprintCase {
  const char* name;
  const char* portVariable;
  const char* host;
  const char* trusted;  // TrustedCertificates, see Fingerprints
  const char* error;    // "" when the page arrives
  bool forgiven;        // the transfer log tells of the fingerprint
};

const FingerprintCase FingerprintCases[] = {
    {"SelfSignedInCapitalsWithBlanks", "KESTREL_TLS_SELFSIGNED_PORT", "localhost", "{SELFSIGNED blanks}", "", true},
    {"UnknownIssuerAmongOthers", "KESTREL_TLS_UNTRUSTED_PORT", "localhost", " {expired} ;{untrusted}, ", "", true},
    {"AnotherFingerprint", "KESTREL_TLS_SELFSIGNED_PORT", "localhost", "{UNTRUSTED}",
     "Certificate error: the issuer is not trusted", false},
    {"OnAHostNameTheCertificateDoesNotName", "KESTREL_TLS_SELFSIGNED_PORT", "127.0.0.1", "{SELFSIGNED}",
     "Certificate error: the certificate was issued for another name (localhost)", false},
    {"ExpiredStillExpired", "KESTREL_TLS_EXPIRED_PORT", "localhost", "{EXPIRED}",
     "Certificate error: the certificate has expired", false},
    // The machine's trust needs no fingerprint and is not changed by one.
    {"MachineTrustedWithOthersListed", "KESTREL_TLS_PORT", "localhost", "{SELFSIGNED}", "", false},
    {"MachineTrustedWithItsOwn", "KESTREL_TLS_PORT", "localhost", "{GOOD}", "", false},
};

class HttpsFingerprint : public Https, public ::testing::WithParamInterface<FingerprintCase> {};

TEST_P(HttpsFingerprint, TrustsTheListedCertificateOnly) {
  const FingerprintCase& fc = GetParam();
  std::string bad;
  ASSERT_TRUE(ParseFingerprintList(Fingerprints(fc.trusted), client_.TrustedCertificates, bad)) << bad;
  client_.LogFileName = "unused.log";  // lines are collected; cleared before the end
  client_.SetURL(Url(fc.portVariable, "/s/hello", fc.host));
  EXPECT_EQ(client_.Execute(), std::string(fc.error).empty()) << client_.LastError;
  EXPECT_EQ(client_.LastError, fc.error);
  const std::vector<std::string>& log = client_.LogLines.Lines();
  EXPECT_EQ(std::count(log.begin(), log.end(), ForgivenText), fc.forgiven ? 1 : 0);
  client_.LogFileName.clear();
}

INSTANTIATE_TEST_SUITE_P(Tls, HttpsFingerprint, ::testing::ValuesIn(FingerprintCases),
                         [](const ::testing::TestParamInfo<FingerprintCase>& info) { return info.param.name; });

// A certificate accepted for its fingerprint counts only while the list
// still names it: neither the remembered verdict nor a kept connection
// outlasts the list.
TEST_F(Https, AFingerprintNoLongerListedIsNoLongerTrusted) {
  const std::string url = Url("KESTREL_TLS_SELFSIGNED_PORT", "/s/keep-chunked-trailers");
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "kept connection" : "new connections");
    client_.SetKeepAlive(keep);
    std::vector<std::string> digests;
    std::string bad;
    ASSERT_TRUE(ParseFingerprintList(Fingerprints("{SELFSIGNED}"), digests, bad));
    client_.SetTrustedCertificates(digests);
    Fetch(url);
    client_.SetTrustedCertificates({});
    ExpectFailure(url, "Certificate error: the issuer is not trusted");
    ASSERT_TRUE(ParseFingerprintList(Fingerprints("{selfsigned}"), digests, bad));
    client_.SetTrustedCertificates(digests);
    Fetch(url);
  }
}

// ---------------------------------------------------------------------------
// Redirects across schemes

TEST_F(Https, RedirectsBetweenHttpAndHttps) {
  const std::string plain = ServerPort("KESTREL_NGINX_PORT");
  ASSERT_FALSE(plain.empty());
  int redirects = 0;
  client_.OnRedirect = [&](TObject*) { ++redirects; };
  Fetch("http://localhost:" + plain + "/to-https.html");
  EXPECT_EQ(redirects, 1);
  EXPECT_EQ(client_.URL(), Site("/index.html"));
  EXPECT_NE(BodyText(client_).find("<title>Kestrel test site</title>"), std::string::npos);

  Fetch(Site("/to-http.html"));
  EXPECT_EQ(redirects, 2);
  EXPECT_EQ(client_.URL(), "http://localhost:" + plain + "/index.html");
  EXPECT_FALSE(client_.Secure());

  // A relative target of an https page stays on https, same host and port.
  Fetch(Site("/old-relative.html"));
  EXPECT_EQ(redirects, 3);
  EXPECT_EQ(client_.URL(), Site("/index.html"));
}

// ---------------------------------------------------------------------------
// Credentials stay with their origin across redirects (the scenario servers'
// /redirect route): the landing request, echoed, shows what went.

struct OriginCase {
  const char* name;
  const char* url;      // %T the TLS scenario server's port, %H the plain one's
  const char* landing;  // the exact request that reached the echo route
  std::vector<const char*> heldBack;  // the transfer log's notes, in order
};

void PrintTo(const OriginCase& oc, std::ostream* os) { *os << oc.name; }

std::string WithPorts(std::string text) {
  for (const auto& [mark, variable] : {std::pair<const char*, const char*>{"%T", "KESTREL_TLS_SCENARIO_PORT"},
                                       {"%H", "KESTREL_SCENARIO_PORT"}}) {
    for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 2, ServerPort(variable));
  }
  return text;
}

class HttpsOrigin : public Https, public ::testing::WithParamInterface<OriginCase> {};

TEST_P(HttpsOrigin, CredentialsGoOnlyToTheScriptsOrigin) {
  const OriginCase& oc = GetParam();
  client_.AuthentHeader = "user:pw";
  client_.ExtraHeaders.Add("Cookie: session=42");
  client_.ExtraHeaders.Add("X-Kept: yes");
  client_.LogFileName = "unused.log";
  Fetch(WithPorts(oc.url));
  EXPECT_EQ(BodyText(client_), WithPorts(oc.landing));
  std::vector<std::string> notes, expected;
  for (const std::string& line : client_.LogLines.Lines()) {
    if (line.rfind("Credentials ", 0) == 0) notes.push_back(line);
  }
  for (const char* note : oc.heldBack) expected.push_back(WithPorts(note));
  EXPECT_EQ(notes, expected);
  client_.LogFileName.clear();
}

INSTANTIATE_TEST_SUITE_P(
    Tls, HttpsOrigin,
    ::testing::Values(
        OriginCase{"HttpsToHttpOnTheSameHost", "https://localhost:%T/redirect/http/localhost/%H/echo/plain",
                   "GET /echo/plain HTTP/1.0\r\nHost: localhost:%H\r\nAccept: */*\r\nX-Kept: yes\r\n\r\n",
                   {"Credentials not sent to localhost:%H: another origin"}},
        OriginCase{"AnotherOriginAndBack",
                   "https://localhost:%T/redirect/http/localhost/%H/redirect/https/localhost/%T/echo/back",
                   "GET /echo/back HTTP/1.0\r\nAuthorization: Basic dXNlcjpwdw==\r\nHost: localhost:%T\r\n"
                   "Accept: */*\r\nCookie: session=42\r\nX-Kept: yes\r\n\r\n",
                   {"Credentials not sent to localhost:%H: another origin"}},
        OriginCase{"HttpToHttpsOnTheSameHost", "http://localhost:%H/redirect/https/localhost/%T/echo/secure",
                   "GET /echo/secure HTTP/1.0\r\nHost: localhost:%T\r\nAccept: */*\r\nX-Kept: yes\r\n\r\n",
                   {"Credentials not sent to localhost:%T: another origin"}},
        OriginCase{"AnotherHostOnTheSamePort",
                   "http://localhost:%H/redirect/http/127.0.0.1/%H/redirect/http/localhost/%H/echo/home",
                   "GET /echo/home HTTP/1.0\r\nAuthorization: Basic dXNlcjpwdw==\r\nHost: localhost:%H\r\n"
                   "Accept: */*\r\nCookie: session=42\r\nX-Kept: yes\r\n\r\n",
                   {"Credentials not sent to 127.0.0.1:%H: another origin"}},
        // The same origin, however it is spelled, keeps them on every hop.
        OriginCase{"SameOriginSpelledOtherwise", "https://localhost:%T/redirect/https/LOCALHOST/%T/echo/same",
                   "GET /echo/same HTTP/1.0\r\nAuthorization: Basic dXNlcjpwdw==\r\nHost: LOCALHOST:%T\r\n"
                   "Accept: */*\r\nCookie: session=42\r\nX-Kept: yes\r\n\r\n",
                   {}}),
    [](const ::testing::TestParamInfo<OriginCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The scenario server's replies under TLS: the same result as in clear text.

class HttpsScenario : public Https, public ::testing::WithParamInterface<const char*> {};

TEST_P(HttpsScenario, SameResultAsInClearText) {
  const std::string plainPort = ServerPort("KESTREL_SCENARIO_PORT");
  ASSERT_FALSE(plainPort.empty());
  THttpClient plain;
  PrepareClient(plain, 20);
  plain.SetURL("http://127.0.0.1:" + plainPort + "/s/" + GetParam());
  const bool plainResult = plain.Execute();

  client_.SetURL(Scenario(GetParam()));
  EXPECT_EQ(client_.Execute(), plainResult) << client_.LastError;
  EXPECT_EQ(client_.LastError, plain.LastError);
  EXPECT_EQ(client_.Headers.Lines(), plain.Headers.Lines());
  EXPECT_EQ(BodyText(client_), BodyText(plain));
}

INSTANTIATE_TEST_SUITE_P(Tls, HttpsScenario,
                         ::testing::Values("http-content-length", "http-chunked", "http-chunked-extension",
                                           "http-content-length-zero", "http-head", "conn-bytes", "conn-nul-text",
                                           "http-empty-reply", "bench-32mb",
                                           // Records split across receives, and pauses inside them.
                                           "http-content-length?drip=7,1", "http-chunked?drip=100,1",
                                           "conn-bytes?pause-at=20,300",
                                           // Until the server closes (with its closing alert).
                                           "http-until-close",
                                           // Cut short: the same failure and the same bytes kept.
                                           "http-content-length-short", "http-chunked-cut",
                                           "http-chunked-bad-size", "http-headers-cut", "http-status-only"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& ch : name) {
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

// ---------------------------------------------------------------------------
// Faults of the handshake and of the record layer

TEST_F(Https, SilentServerFailsWithinTheTimeOut) {
  client_.SetTimeOut(2);
  TSentLines sent(client_);
  const DWORD start = GetTickCount();
  ExpectFailure(Url("KESTREL_TLS_SILENT_PORT", "/"), "Operation timed out");
  EXPECT_LT(GetTickCount() - start, 10000u);
  EXPECT_TRUE(sent.Lines.empty());
}

// A certificate whose issuer is not sent: the chain engine may fetch it from
// the address the certificate names, here a server that never answers. The
// exchange still ends within the object's time-out (some engines, Wine's,
// ignore the retrieval time-out they are given and wait for minutes).
TEST_F(Https, ChainBuildingEndsWithinTheTimeOut) {
  client_.SetTimeOut(2);
  TSentLines sent(client_);
  const DWORD start = GetTickCount();
  client_.SetURL(Url("KESTREL_TLS_AIA_PORT", "/s/hello"));
  EXPECT_FALSE(client_.Execute());
  EXPECT_LT(GetTickCount() - start, 10000u);
  // Timed out, or refused at once by an engine that fetches nothing.
  EXPECT_TRUE(client_.LastError == "Operation timed out" ||
              client_.LastError == "Certificate error: the issuer is not trusted")
      << client_.LastError;
  EXPECT_TRUE(sent.Lines.empty());
  // The object goes on as before.
  client_.SetTimeOut(20);
  Fetch(Url("KESTREL_TLS_SCENARIO_PORT", "/s/hello"));
}

// A server whose handshake comes in records of 40 bytes, all at once: as
// many records as it takes in one receive.
TEST_F(Https, HandshakeInSmallRecords) {
  Fetch(Url("KESTREL_TLS_RECUT_PORT", "/s/tls-body"));
  EXPECT_EQ(BodyText(client_), TlsScenarioDigits());
}

TEST_F(Https, ServersThatDoNotSpeakTls) {
  for (const char* port : {"KESTREL_TLS_PLAIN_PORT", "KESTREL_TLS_GARBAGE_PORT"}) {
    SCOPED_TRACE(port);
    TSentLines sent(client_);
    client_.SetURL(Url(port, "/"));
    EXPECT_FALSE(client_.Execute());
    EXPECT_EQ(client_.LastError, "[0x80090308] TLS handshake failed: the server's answer is not TLS");
    EXPECT_TRUE(sent.Lines.empty());
  }
}

TEST_F(Https, CloseDuringTheHandshake) {
  ExpectFailure(Url("KESTREL_TLS_HSCLOSE_PORT", "/"), "The server closed the connection during the TLS handshake");
}

// A body framed by the end of the stream needs the server's closing alert: a
// close alone is easily forged. A body with a known end needs none.
TEST_F(Https, TheEndOfAnUntilCloseBodyNeedsTheClosingAlert) {
  ExpectFailure(Url("KESTREL_TLS_SCENARIO_PORT", "/tls/close-mid-record"),
                "The server closed the connection in the middle of a TLS record");
  Fetch(Url("KESTREL_TLS_SCENARIO_PORT", "/tls/close-notify"));
  EXPECT_EQ(Status(client_), 200);
  EXPECT_EQ(BodyText(client_), TlsScenarioDigits());
  ExpectFailure(Url("KESTREL_TLS_SCENARIO_PORT", "/tls/no-close-notify"),
                "The server closed the TLS connection without its closing alert: the body may be cut short");
  EXPECT_EQ(BodyText(client_), TlsScenarioDigits());  // what came is kept
  EXPECT_TRUE(client_.BodyIncomplete());
  for (const char* known : {"/s/tls-body?tls-close-notify=no", "/s/http-chunked?tls-close-notify=no",
                            "/s/http-content-length-zero?tls-close-notify=no"}) {
    SCOPED_TRACE(known);
    Fetch(Url("KESTREL_TLS_SCENARIO_PORT", known));
    EXPECT_FALSE(client_.BodyIncomplete());
  }
}

TEST_F(Https, ResetInsideARecord) {
  client_.SetURL(Url("KESTREL_TLS_SCENARIO_PORT", "/tls/reset-mid-record"));
  EXPECT_FALSE(client_.Execute());
  // The system reports a reset as such, or as a close.
  EXPECT_TRUE(client_.LastError == "[10054] Connection reset by peer" ||
              client_.LastError == "The server closed the connection in the middle of a TLS record")
      << client_.LastError;
}

TEST_F(Https, LargestRecords) {
  Fetch(Url("KESTREL_TLS_SCENARIO_PORT", "/tls/max-records"));
  EXPECT_EQ(Status(client_), 200);
  EXPECT_EQ(std::to_string(client_.Body.Size()), client_.Headers.GetFieldValue("Content-Length"));
}

// A server that asks for a new handshake in the middle of the body: the body
// arrives whole, or the exchange fails with a text that says so (within the
// server's patience or the time-out). Wine's security package, for one, does
// not renegotiate.
TEST_F(Https, RenegotiationContinuesOrFailsCleanly) {
  client_.SetTimeOut(10);
  client_.SetURL(Url("KESTREL_TLS_SCENARIO_PORT", "/tls/renegotiate"));
  if (client_.Execute()) {
    EXPECT_EQ(BodyText(client_), TlsScenarioDigits());
  } else {
    EXPECT_EQ(client_.LastError.rfind("[0x", 0), 0u) << client_.LastError;
    EXPECT_NE(client_.LastError.find("] TLS renegotiation failed: "), std::string::npos) << client_.LastError;
  }
  // The object goes on as before.
  Fetch(Url("KESTREL_TLS_SCENARIO_PORT", "/tls/small-records"));
  EXPECT_EQ(BodyText(client_), TlsScenarioDigits());
}

// ---------------------------------------------------------------------------
// Proxies

TEST_F(Https, TunnelThroughAProxy) {
  const std::string proxy = ServerPort("KESTREL_PROXY_PORT");
  ASSERT_FALSE(proxy.empty());
  client_.SetProxy("127.0.0.1:" + proxy);
  client_.LogFileName = "unused.log";
  Fetch(Site("/big.bin"));
  EXPECT_TRUE(IsSitePattern(BodyText(client_), BigSize));
  const std::vector<std::string>& log = client_.LogLines.Lines();
  ASSERT_GE(log.size(), 4u);
  const std::string authority = "localhost:" + ServerPort("KESTREL_TLS_PORT");
  EXPECT_EQ(log[0], "CONNECT " + authority + " HTTP/1.0");
  EXPECT_EQ(log[1], "Host: " + authority);
  EXPECT_EQ(log[2], "");
  // The proxy's answer, then the request in origin form inside the tunnel.
  size_t request = 0;
  while (request < log.size() && log[request] != "GET /big.bin HTTP/1.0") ++request;
  ASSERT_LT(request, log.size());
  EXPECT_EQ(log[3].substr(0, 13), "HTTP/1.0 200 ");
  EXPECT_EQ(log[request + 1], "Host: " + authority);
  client_.LogFileName.clear();
}

TEST_F(Https, ProxyThatRefusesTheTunnel) {
  const std::string proxy = ServerPort("KESTREL_PROXY_NOCONNECT_PORT");
  ASSERT_FALSE(proxy.empty());
  client_.SetProxy("127.0.0.1:" + proxy);
  client_.SetURL(Site("/index.html"));
  EXPECT_FALSE(client_.Execute());
  EXPECT_EQ(client_.LastError.rfind("The proxy refused the tunnel: HTTP/1.", 0), 0u) << client_.LastError;
  EXPECT_NE(client_.LastError.find(" 403 "), std::string::npos) << client_.LastError;
}

TEST_F(Https, ProxyCredentialsGoWithTheTunnelRequestOnly) {
  const std::string proxy = ServerPort("KESTREL_PROXY_AUTH_PORT");
  ASSERT_FALSE(proxy.empty());
  client_.SetProxy("127.0.0.1:" + proxy);
  client_.SetURL(Site("/index.html"));
  EXPECT_FALSE(client_.Execute());
  EXPECT_NE(client_.LastError.find(" 407 "), std::string::npos) << client_.LastError;

  client_.ProxyPassword = "kestrel:s3cret:pw";
  TSentLines sent(client_);
  Fetch(Site("/index.html"));
  EXPECT_EQ(Status(client_), 200);
  ASSERT_GE(sent.Lines.size(), 4u);
  EXPECT_EQ(sent.Lines[2], "Proxy-Authorization: Basic " + THttpClient::EncodeBase64("kestrel:s3cret:pw"));
  int credentials = 0;
  for (const std::string& line : sent.Lines) credentials += line.rfind("Proxy-Authorization:", 0) == 0;
  EXPECT_EQ(credentials, 1);
}

}  // namespace
