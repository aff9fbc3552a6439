#include "tcp/TcpConnection.h"

#include "codecs/LineUtils.h"
#include "codecs/WordUtils.h"

static_assert(TTcpConnection::MaxHostNameLength == 253 && TTcpConnection::MaxLineLength == 65536,
              "the message table names these bounds");

namespace {

const WORD WinsockVersion = 0x0101;  // 1.1
const long SocketEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
const int LookupBufferSize = MAXGETHOSTSTRUCT;  // 1024 bytes

}  // namespace

TTcpConnection::TTcpConnection(TComponent* AOwner) : TComponent(AOwner) {
  // The first connection loads the socket library; one that cannot be loaded
  // fails this connection's first socket call with its own text.
  WinsockApi.Prepare();
}

TTcpConnection::~TTcpConnection() {
  // A destructor must not throw: an unloaded binding only skips the clean-up.
  try {
    ReleaseWindows();
    CloseSocketQuietly();
    for (int i = 0; i < StartupCount; ++i) WinsockApi.WSACleanup();
  } catch (const EWinsockDLLError&) {
  }
  SaveLog();
}

void TTcpConnection::LeaveOtherThread() {
  if (OfAnotherThread(FWindowHandle)) ReleaseWindows();
}

HWND TTcpConnection::WindowHandle() {
  LeaveOtherThread();
  if (FWindowHandle) return FWindowHandle;
  FWindowHandle = CreateUtilityWindow([this](TMessageRecord& message) { HandleNotification(message); });
  // A connected socket's notices come here from now on; the library posts
  // at once what is already true of it (data waiting, the peer's close).
  if (FWindowHandle && HasSocket() && FConnectNoticed &&
      WinsockApi.WSAAsyncSelect(SocketHandle, FWindowHandle, WM_SOCKETEVENT, SocketEvents) != SOCKET_ERROR)
    FNoticesSelected = true;
  return FWindowHandle;
}

void TTcpConnection::ReleaseWindows() {
  TimeCounter.Timer->ReleaseWindow();
  if (!FWindowHandle) return;
  if (AsyncHandle) AbandonLookup();
  // Notices of a socket kept open must not go to a window that is gone.
  if (FNoticesSelected && HasSocket()) WinsockApi.WSAAsyncSelect(SocketHandle, FWindowHandle, 0, 0);
  FNoticesSelected = false;
  DestroyUtilityWindow(FWindowHandle);
  FWindowHandle = nullptr;
}

bool TTcpConnection::GetWinsockLoaded() const { return WinsockApi.IsLoaded(); }

void TTcpConnection::SetWinsockLoaded(bool value) {
  if (!value)
    WinsockApi.Unload();
  else if (!WinsockApi.IsLoaded())
    WinsockApi.Load();
}

void TTcpConnection::ResetState() {
  Canceled = false;
  TimeCounter.TimedOut = false;
  AsyncHandle = nullptr;
  AsyncError = false;
  HostLookupDone = false;
  ServiceLookupDone = false;
  Connected = false;
  Readable = false;
  Writable = false;
  Closed = false;
}

int TTcpConnection::GetReplyCode(const std::string& Line) {
  int32_t code;
  return TryStrToInt(Line.substr(0, 3), code) ? code : -1;
}

std::string TTcpConnection::HostPart() const { return Server.substr(0, Server.find(':')); }

int TTcpConnection::PortPart() const {
  size_t colon = Server.find(':');
  int32_t port;
  if (colon == std::string::npos || !TryStrToInt(Server.substr(colon + 1), port)) return 0;
  return port;
}

void TTcpConnection::CheckServer() {
  // ":80" names no host either; looking up an empty name would ask for the
  // local machine's own name.
  if (Server.empty() || HostPart().empty()) RaiseSocketError(ErrServerRequired);
}

// ---------------------------------------------------------------------------
// Opening and connecting

void TTcpConnection::Open() {
  if (OnOpen) OnOpen(this);
  CheckServer();
  if (WinsockApi.WSAStartup(WinsockVersion, &StartupData) != 0) RaiseSocketError(ErrInvalidWinsockVersion);
  ++StartupCount;
  ResolveHost();
  ResolvePort();
  CreateSocket();
}

void TTcpConnection::RaiseLastError(uint16_t fallback) {
  int code = WinsockApi.WSAGetLastError();
  RaiseSocketError(static_cast<uint16_t>(code != 0 ? code : fallback));
}

void TTcpConnection::StartLookup(bool host, const std::string& name) {
  FLookupBuffer.reset(new char[LookupBufferSize]());
  if (host) {
    HostLookupDone = false;
    AsyncHandle = WinsockApi.WSAAsyncGetHostByName(WindowHandle(), WM_HOSTLOOKUP, name.c_str(),
                                                   FLookupBuffer.get(), LookupBufferSize);
  } else {
    ServiceLookupDone = false;
    AsyncHandle = WinsockApi.WSAAsyncGetServByName(WindowHandle(), WM_SERVICELOOKUP, name.c_str(), "tcp",
                                                   FLookupBuffer.get(), LookupBufferSize);
  }
}

// Gives up a lookup that has not completed. The library may still write its
// result record later, so the record is deliberately left allocated.
void TTcpConnection::AbandonLookup() {
  HANDLE pending = AsyncHandle;
  AsyncHandle = nullptr;
  FLookupBuffer.release();
  if (pending) WinsockApi.WSACancelAsyncRequest(pending);
}

// Waits for the pending lookup; one that did not complete is given up.
bool TTcpConnection::AwaitLookup(const bool& done) {
  WaitFor(done, false, false, WaitSleep);
  if (done)
    AsyncHandle = nullptr;
  else
    AbandonLookup();
  return done;
}

void TTcpConnection::ResolveHost() {
  std::string host = HostPart();
  if (host.size() > MaxHostNameLength) RaiseSocketError(ErrHostNameTooLong);
  // The library reads the name up to a NUL: what follows would be dropped
  // silently and another host than the one named reached.
  if (host.find('\0') != std::string::npos) RaiseSocketError(ErrResolvingHost);
  unsigned long address = WinsockApi.inet_addr(host.c_str());
  if (address != INADDR_NONE) {
    RemoteAddress = static_cast<uint32_t>(address);
    return;
  }
  StartLookup(true, host);
  if (!AsyncHandle) RaiseLastError(ErrResolvingHost);
  bool completed = AwaitLookup(HostLookupDone);
  if (completed && AsyncError) RaiseSocketError(AsyncErrorCode);
  if (TimeCounter.TimedOut) RaiseTimeOut();
  if (Canceled) RaiseCanceled();

  PumpMessages();
  const auto* entry = reinterpret_cast<const hostent*>(FLookupBuffer.get());
  if (!entry->h_addr_list || !entry->h_addr_list[0]) RaiseSocketError(ErrResolvingHost);
  const auto* bytes = reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]);
  std::string dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                       std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
  address = WinsockApi.inet_addr(dotted.c_str());
  if (address == INADDR_NONE) RaiseSocketError(ErrResolvingHost);
  RemoteAddress = static_cast<uint32_t>(address);
}

void TTcpConnection::ResolvePort() {
  // A port written in Server wins; a number outside the port range counts as
  // no number rather than being cut to 16 bits.
  int written = PortPart();
  if (written > 0 && written <= 65535) {
    Port = static_cast<uint16_t>(written);
    return;
  }
  if (ImpliedPort != 0) {
    Port = ImpliedPort;
    return;
  }
  if (ServiceName.empty()) RaiseSocketError(ErrServiceRequired);
  if (Canceled) RaiseCanceled();
  StartLookup(false, ServiceName);
  if (!AsyncHandle) {
    Port = DefaultPort;
    return;
  }
  bool completed = AwaitLookup(ServiceLookupDone);
  if ((completed && AsyncError) || TimeCounter.TimedOut) {
    // No error: the default port serves. A time-out stays flagged and ends
    // the next wait of this exchange.
    Port = DefaultPort;
    return;
  }
  if (Canceled) RaiseCanceled();
  const auto* entry = reinterpret_cast<const servent*>(FLookupBuffer.get());
  auto networkPort = static_cast<uint16_t>(entry->s_port);
  Port = static_cast<uint16_t>((networkPort >> 8) | (networkPort << 8));
}

void TTcpConnection::CreateSocket() {
  CloseSocketQuietly();  // an Open without Close must not leak the old socket
  SOCKET socketHandle = WinsockApi.socket(AF_INET, SOCK_STREAM, 0);
  if (socketHandle == INVALID_SOCKET) RaiseLastError(WSAEMFILE);
  SocketHandle = socketHandle;
  DiscardReceived();
}

void TTcpConnection::Connect() {
  if (Canceled) RaiseCanceled();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = WinsockApi.htons(Port);
  address.sin_addr.s_addr = RemoteAddress;
  if (WinsockApi.WSAAsyncSelect(SocketHandle, WindowHandle(), WM_SOCKETEVENT, SocketEvents) == SOCKET_ERROR)
    RaiseLastError(WSAEINVAL);
  FNoticesSelected = true;
  // The connect notice alone decides: an error left by a lookup that fell
  // back to the default port must not end this wait.
  AsyncError = false;
  Connected = false;
  FConnectNoticed = false;
  if (WinsockApi.connect(SocketHandle, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
      SOCKET_ERROR) {
    int code = WinsockApi.WSAGetLastError();
    if (code != WSAEWOULDBLOCK) RaiseSocketError(static_cast<uint16_t>(code));
  }
  // A refused connect ends the wait at once with its code.
  WaitFor(Connected, true, false, WaitSleep);
  if (Canceled) RaiseCanceled();
  if (TimeCounter.TimedOut) RaiseTimeOut();
  if (!Connected && AsyncError) RaiseSocketError(AsyncErrorCode);
  if (OnConnect) OnConnect(this);
}

// ---------------------------------------------------------------------------
// Closing, cancelling, errors

void TTcpConnection::CloseSocketQuietly() {
  if (!HasSocket()) return;
  EndTls();
  SOCKET socketHandle = SocketHandle;
  SocketHandle = INVALID_SOCKET;
  DiscardReceived();
  FBatching = false;
  FSendBatch.clear();
  FNoticesSelected = false;
  WinsockApi.closesocket(socketHandle);
  // Notices still queued for the closed socket must not reach the next one.
  // Once its connect notice has come, the next socket tells them from its
  // own (see HandleNotification), which spares the look at the queue that
  // every exchange would otherwise make; before that, a late connect
  // notice could pass for the next socket's, so they are removed.
  if (!FConnectNoticed) DiscardMessages(FWindowHandle, WM_SOCKETEVENT, WM_SOCKETEVENT);
  FConnectNoticed = false;
}

void TTcpConnection::Close() {
  if (!HasSocket()) return;
  Connected = false;
  if (OnClosing) OnClosing(this);
  CloseSocketQuietly();
  if (OnClosed) OnClosed(this);
}

void TTcpConnection::Cancel() {
  Canceled = true;
  if (OnCancel) OnCancel(this);
  if (AsyncHandle) AbandonLookup();
  Close();
}

void TTcpConnection::FireError(std::string& Msg) {
  if (OnError) OnError(this, Msg);
}

void TTcpConnection::RaiseSocketError(uint16_t Code) {
  if (Code == 0) return;
  TimeCounter.Stop();
  std::string msg = SocketErrorText(Code);
  FireError(msg);
  if (Code == WSAECONNRESET) Close();
  throw ESocketError(msg, Code);
}

void TTcpConnection::RaiseErrorText(const std::string& Text) {
  TimeCounter.Stop();
  std::string msg = Text;
  FireError(msg);
  throw ESocketError(msg);
}

void TTcpConnection::RaiseTimeOut() {
  TimeCounter.Stop();
  std::string msg = SocketErrorText(ErrTimedOut);
  FireError(msg);
  if (CloseOnTimeOutError) {
    if (AsyncHandle) AbandonLookup();
    if (WinsockApi.WSAIsBlocking()) WinsockApi.WSACancelBlockingCall();
    Close();
  }
  throw ETimedOutError();
}

void TTcpConnection::RaiseCanceled() {
  TimeCounter.Stop();
  std::string msg = SocketErrorText(ErrCanceled);
  FireError(msg);
  throw ECanceledError();
}

void TTcpConnection::SaveLog() {
  if (LogFileName.empty()) return;
  // The log is written from the destructor: no failure may escape it.
  try {
    SaveLinesToFile(LogLines, LogFileName);
  } catch (...) {
  }
}

void TTcpConnection::NoteInLog(const std::string& Text) {
  if (!LogFileName.empty()) LogLines.Add(Text);
}
