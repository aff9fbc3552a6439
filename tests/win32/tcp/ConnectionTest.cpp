// Opening and connecting: host and port resolution, the errors of Open and
// Connect with OnError first, closing, and the message table.
#include "TcpTestSupport.h"
#include "tcp/TlsSession.h"

#include <utility>

namespace {

const uint32_t Loopback = 0x0100007F;  // 127.0.0.1 in network order

// A loopback port on which nothing listens: bound, read back and released.
int ClosedPort() {
  auto bind = reinterpret_cast<int(WINAPI*)(SOCKET, const sockaddr*, int)>(
      reinterpret_cast<void*>(WinsockApi.GetProc("bind")));
  auto getsockname = reinterpret_cast<int(WINAPI*)(SOCKET, sockaddr*, int*)>(
      reinterpret_cast<void*>(WinsockApi.GetProc("getsockname")));
  WSADATA data;
  WinsockApi.WSAStartup(257, &data);
  SOCKET probe = WinsockApi.socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = Loopback;
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  WinsockApi.closesocket(probe);
  WinsockApi.WSACleanup();
  return WinsockApi.htons(address.sin_port);
}

// Connects the opened component and checks the server's first line.
void ExpectHelloReply(TTcpConnection& c) {
  c.Connect();
  c.SendLine("SCENARIO hello");
  std::string line;
  c.ReadLine(line);
  EXPECT_EQ(line, "HTTP/1.0 200 OK");
  c.Close();
}

}  // namespace

TEST(TcpConnection, ValuesAfterConstruction) {
  TProbeConnection c;
  EXPECT_TRUE(c.SuppressBody);
  EXPECT_TRUE(c.CloseOnTimeOutError);
  EXPECT_EQ(c.GetTimeOut(), 60);
  EXPECT_EQ(c.DefaultPort, 0);
  EXPECT_EQ(c.ServiceName, "");
  EXPECT_FALSE(c.HasSocket());
  EXPECT_EQ(c.SocketHandle, INVALID_SOCKET);
  EXPECT_NE(c.WindowHandle(), nullptr);
  EXPECT_TRUE(c.GetWinsockLoaded());
}

TEST(TcpConnection, HostAndPortParts) {
  TProbeConnection c;
  c.Server = "example.test:8080";
  EXPECT_EQ(c.HostPart(), "example.test");
  EXPECT_EQ(c.PortPart(), 8080);
  c.Server = "example.test";
  EXPECT_EQ(c.HostPart(), "example.test");
  EXPECT_EQ(c.PortPart(), 0);
  c.Server = "example.test:http";
  EXPECT_EQ(c.PortPart(), 0);
  c.Server = "a:1:2";
  EXPECT_EQ(c.HostPart(), "a");
  EXPECT_EQ(c.PortPart(), 0);
}

TEST(TcpConnection, DottedAddressAndPortNeedNoLookup) {
  TProbeConnection c;
  TEventLog log;
  log.Attach(c);
  c.Server = ScenarioServer();
  c.ServiceName = "";  // a service lookup would fail with "Service name is required"
  c.Open();
  EXPECT_EQ(c.RemoteAddress, Loopback);
  EXPECT_EQ(c.Port, ScenarioPort());
  EXPECT_TRUE(c.HasSocket());
  EXPECT_EQ(c.StartupCount, 1);
  c.Connect();
  EXPECT_EQ(log.Joined(), "Open | Connect");
  c.SendLine("SCENARIO hello");
  std::string line;
  EXPECT_EQ(c.ReadLine(line), -1);
  EXPECT_EQ(line, "HTTP/1.0 200 OK");
  c.Close();
  c.Close();  // the second does nothing
  EXPECT_EQ(log.Joined(), "Open | Connect | Closing | Closed");
  EXPECT_FALSE(c.HasSocket());
}

TEST(TcpConnection, LocalhostIsLookedUp) {
  TProbeConnection c;
  c.Server = "localhost:" + std::to_string(ScenarioPort());
  c.Open();
  EXPECT_EQ(c.RemoteAddress, Loopback);
  EXPECT_EQ(c.AsyncHandle, nullptr);
  ExpectHelloReply(c);
}

TEST(TcpConnection, ServiceLookupAndItsFallbackToDefaultPort) {
  TProbeConnection c;
  c.ServiceName = "http";
  c.DefaultPort = 1234;
  for (const char* server : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:abc", "127.0.0.1:70000"}) {
    c.Server = server;
    c.ResetState();
    c.Open();
    EXPECT_EQ(c.Port, 80) << server;
    c.Close();
  }
  // An unknown service falls back to DefaultPort without an error.
  c.ServiceName = "kestrel-no-such-service";
  c.DefaultPort = static_cast<uint16_t>(ScenarioPort());
  c.Server = "127.0.0.1";
  c.ResetState();
  c.Open();
  EXPECT_EQ(c.Port, ScenarioPort());
  ExpectHelloReply(c);
}

TEST(TcpConnection, ServerIsRequired) {
  for (const char* server : {"", ":80"}) {
    TProbeConnection c;
    TEventLog log;
    log.Attach(c);
    c.Server = server;
    EXPECT_EQ(RaisedBy([&] { c.Open(); }), "ESocketError: Server property is required");
    EXPECT_EQ(log.Joined(), "Open | Error: Server property is required");
  }
}

TEST(TcpConnection, ServiceNameIsRequiredAfterTheHostIsResolved) {
  TProbeConnection c;
  c.Server = "localhost";
  EXPECT_EQ(RaisedBy([&] { c.Open(); }), "ESocketError: Service name is required");
  EXPECT_EQ(c.RemoteAddress, Loopback);
}

TEST(TcpConnection, RefusedConnectFailsAtOnceWithItsCode) {
  TProbeConnection c;
  TEventLog log;
  log.Attach(c);
  c.Server = "127.0.0.1:" + std::to_string(ClosedPort());
  c.SetTimeOut(60);  // a wait that ignored the notice would end in a time-out instead
  c.Open();
  EXPECT_EQ(RaisedBy([&] { c.Connect(); }), "ESocketError: [10061] Connection refused");
  EXPECT_FALSE(c.TimeCounter.TimedOut);
  EXPECT_EQ(log.Joined(), "Open | Error: [10061] Connection refused");
  EXPECT_TRUE(c.HasSocket()) << "the exchange driver closes it";
  c.Close();
}

TEST(TcpConnection, UnknownHostFailsWithTheLookupCode) {
  TStandInLibrary standIn;
  TProbeConnection c;
  TEventLog log;
  log.Attach(c);
  c.Server = "kestrel-unknown-host:80";
  EXPECT_EQ(RaisedBy([&] { c.Open(); }), "ESocketError: [11001] Host not found");
  EXPECT_EQ(log.Joined(), "Open | Error: [11001] Host not found");
  EXPECT_EQ(c.AsyncErrorCode, 11001);
  EXPECT_EQ(c.AsyncHandle, nullptr);
  EXPECT_FALSE(c.HasSocket());

  // 253 characters are looked up; 254 are refused before any lookup.
  c.Server = std::string(253, 'h');
  c.ResetState();
  EXPECT_EQ(RaisedBy([&] { c.Open(); }), "ESocketError: [11001] Host not found");
  c.Server = std::string(254, 'h');
  c.ResetState();
  EXPECT_EQ(RaisedBy([&] { c.Open(); }), "ESocketError: Host name is longer than 253 characters");
}

TEST(TcpConnection, MissingEntryPointFailsOnlyTheCallThatNeedsIt) {
  TStandInLibrary standIn;
  TProbeConnection c;
  c.Server = ScenarioServer();
  c.Open();  // start-up, address and socket all work
  EXPECT_TRUE(c.HasSocket());
  EXPECT_EQ(RaisedBy([&] { c.Connect(); }), "EWinsockDLLError: Function WSAAsyncSelect not found");
  c.Close();
}

TEST(TcpConnection, WinsockLoadedUnloadsAndReloads) {
  {
    TProbeConnection c;
    c.SetWinsockLoaded(false);
    EXPECT_FALSE(c.GetWinsockLoaded());
    c.Server = ScenarioServer();
    EXPECT_EQ(RaisedBy([&] { c.Open(); }), "EWinsockDLLError: Winsock is not loaded");
    c.SetWinsockLoaded(true);
    EXPECT_TRUE(c.GetWinsockLoaded());
    c.ResetState();
    c.Open();
    c.Close();
  }
  EXPECT_TRUE(WinsockApi.IsLoaded());
}

TEST(TcpConnection, SendingWithoutASocket) {
  TProbeConnection c;
  TEventLog log;
  log.Attach(c);
  const std::string expected = "ESocketError: You have to connect to the server first";
  EXPECT_EQ(RaisedBy([&] { c.SendLine("x"); }), expected);
  std::string line;
  EXPECT_EQ(RaisedBy([&] { c.ReadLine(line); }), expected);
  TMemoryStream stream;
  EXPECT_EQ(RaisedBy([&] { c.ReadBlock(stream, 10); }), expected);
  EXPECT_EQ(log.Events.size(), 3u);
}

TEST(TcpConnection, ErrorTextsAndTheHandlerThatChangesThem) {
  // Those a script may read in Error, word for word as the reference lists them.
  const std::pair<int, const char*> texts[] = {
      {10054, "[10054] Connection reset by peer"},
      {10000, "[0] No Error"},
      {11002, "[11002] Non-Authoritative Host not found"},
      {11003, "[11003] Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
      {11004, "[11004] Valid name, no data record of requested type"},
      {10060, "[10060] Connection timed out"},
      {10065, "[10065] No Route to Host"},
      {10051, "[10051] Network is unreachable"},
      {10050, "[10050] Network is down"},
      {10053, "[10053] Software caused connection abort"},
      {57006, "Proxy port is required"},
      {57007, "Invalid URL"},
      {57011, "Winsock is not loaded"},
      {ErrInvalidWinsockVersion, "Invalid Winsock version"},
      {10001, "Error #10001"},
      {12345, "Error #12345"},
  };
  for (const auto& text : texts) EXPECT_EQ(SocketErrorText(text.first), text.second);

  TProbeConnection c;
  c.OnError = [](TObject*, std::string& msg) { msg = "changed: " + msg; };
  EXPECT_NO_THROW(c.RaiseSocketError(0));
  EXPECT_EQ(RaisedBy([&] { c.RaiseSocketError(12345); }), "ESocketError: changed: Error #12345");
  try {
    c.RaiseSocketError(10061);
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10061);
  }
}

// The texts of a refused certificate and of a failed TLS step, as Error shows them.
TEST(TcpConnection, CertificateAndTlsErrorTexts) {
  struct TCase {
    uint32_t Status;
    bool NotYetValid;
    const char* IssuedTo;
    const char* Text;
  };
  const TCase cases[] = {
      {static_cast<uint32_t>(CERT_E_UNTRUSTEDROOT), false, "", "Certificate error: the issuer is not trusted"},
      {static_cast<uint32_t>(CERT_E_CHAINING), false, "", "Certificate error: the issuer is not trusted"},
      {static_cast<uint32_t>(CERT_E_EXPIRED), false, "", "Certificate error: the certificate has expired"},
      {static_cast<uint32_t>(CERT_E_EXPIRED), true, "", "Certificate error: the certificate is not valid yet"},
      {static_cast<uint32_t>(CERT_E_CN_NO_MATCH), false, "localhost",
       "Certificate error: the certificate was issued for another name (localhost)"},
      {static_cast<uint32_t>(CERT_E_CN_NO_MATCH), false, "", "Certificate error: the certificate was issued for another name (no name)"},
      {static_cast<uint32_t>(CERT_E_REVOKED), false, "", "Certificate error: the certificate has been revoked"},
      {static_cast<uint32_t>(CRYPT_E_REVOKED), false, "", "Certificate error: the certificate has been revoked"},
      {static_cast<uint32_t>(CERT_E_WRONG_USAGE), false, "", "Certificate error: the certificate is not meant for a web server"},
      {static_cast<uint32_t>(CERT_E_VALIDITYPERIODNESTING), false, "",
       "Certificate error: the certificate's validity period does not fit its issuer's"},
      {static_cast<uint32_t>(TRUST_E_CERT_SIGNATURE), false, "", "Certificate error: the certificate's signature is not valid"},
      {static_cast<uint32_t>(TRUST_E_BASIC_CONSTRAINTS), false, "", "Certificate error: the issuer is not a certificate authority"},
      {static_cast<uint32_t>(CERT_E_PATHLENCONST), false, "", "Certificate error: the chain is longer than an issuer allows"},
      {static_cast<uint32_t>(CERT_E_INVALID_NAME), false, "",
       "Certificate error: the certificate is for a name its issuer may not certify"},
      {static_cast<uint32_t>(CERT_E_CRITICAL), false, "",
       "Certificate error: a certificate of the chain has a critical extension that is not understood"},
      {static_cast<uint32_t>(CERT_E_INVALID_POLICY), false, "", "Certificate error: the chain does not meet its policy constraints"},
      {static_cast<uint32_t>(TRUST_E_EXPLICIT_DISTRUST), false, "", "Certificate error: the certificate is explicitly distrusted"},
      {static_cast<uint32_t>(SEC_E_NO_CREDENTIALS), false, "", "Certificate error: the server sent no certificate"},
      {static_cast<uint32_t>(CERT_E_ROLE), false, "", "Certificate error: [0x800B0103] the certificate was refused"},
  };
  for (const TCase& c : cases) {
    TCertificateVerdict verdict;
    verdict.Status = c.Status;
    verdict.NotYetValid = c.NotYetValid;
    verdict.IssuedTo = c.IssuedTo;
    EXPECT_EQ(CertificateErrorText(verdict), c.Text);
  }

  const struct {
    long Status;
    const char* Step;
    const char* Text;
  } steps[] = {
      {SEC_E_ILLEGAL_MESSAGE, "handshake", "[0x80090326] TLS handshake failed: the server sent an unexpected or badly formatted message"},
      {SEC_E_DECRYPT_FAILURE, "receive", "[0x80090330] TLS receive failed: a record could not be decrypted"},
      {SEC_E_MESSAGE_ALTERED, "receive", "[0x8009030F] TLS receive failed: a record was altered on the way"},
      {SEC_E_CONTEXT_EXPIRED, "send", "[0x80090317] TLS send failed: the TLS session has ended"},
      {SEC_E_UNSUPPORTED_FUNCTION, "renegotiation",
       "[0x80090302] TLS renegotiation failed: the security package does not support this"},
      {static_cast<long>(0x80090399), "send", "[0x80090399] TLS send failed: unexpected status of the security package"},
  };
  for (const auto& step : steps) EXPECT_EQ(TlsErrorText(step.Status, step.Step), step.Text);
}

TEST(TcpConnection, GetReplyCode) {
  TProbeConnection c;
  EXPECT_EQ(c.GetReplyCode("HTTP/1.0 200 OK"), -1);
  EXPECT_EQ(c.GetReplyCode("250 Ready"), 250);
  EXPECT_EQ(c.GetReplyCode("25"), 25);
  EXPECT_EQ(c.GetReplyCode(""), -1);
}
