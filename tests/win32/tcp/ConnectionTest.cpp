// Opening and connecting: host and port resolution, the errors of Open and
// Connect with OnError first, closing, and the message table.
#include "TcpTestSupport.h"

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
  EXPECT_EQ(SocketErrorText(10054), "[10054] Connection reset by peer");
  EXPECT_EQ(SocketErrorText(10000), "[0] No Error");
  EXPECT_EQ(SocketErrorText(11004), "[11004] Valid name, no data record of requested type");
  EXPECT_EQ(SocketErrorText(57006), "Proxy port is required");
  EXPECT_EQ(SocketErrorText(57007), "Invalid URL");
  EXPECT_EQ(SocketErrorText(57011), "Winsock is not loaded");
  EXPECT_EQ(SocketErrorText(10001), "Error #10001");
  EXPECT_EQ(SocketErrorText(12345), "Error #12345");

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

TEST(TcpConnection, GetReplyCode) {
  TProbeConnection c;
  EXPECT_EQ(c.GetReplyCode("HTTP/1.0 200 OK"), -1);
  EXPECT_EQ(c.GetReplyCode("250 Ready"), 250);
  EXPECT_EQ(c.GetReplyCode("25"), 25);
  EXPECT_EQ(c.GetReplyCode(""), -1);
}
