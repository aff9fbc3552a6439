#include "tcp/TcpConnection.h"

#include "codecs/LineUtils.h"
#include "codecs/WordUtils.h"

#include <algorithm>
#include <climits>
#include <cstring>

static_assert(TTcpConnection::MaxHostNameLength == 253 && TTcpConnection::MaxLineLength == 65536,
              "the message table names these bounds");

namespace {

// Read once when the module starts: the non-NT family needs a sleep on every
// pass of the line reader.
const bool PlatformIsWin9x = !IsWindowsNT();

const WORD WinsockVersion = 0x0101;  // 1.1
const long SocketEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
const int LookupBufferSize = MAXGETHOSTSTRUCT;  // 1024 bytes
// Bytes one receive of ReadBlock asks for: the first piece, and the most a
// piece grows to while the data keeps filling whole pieces. Every receive
// costs a system call and a notice, so a big body goes in large pieces; a
// small one never asks for more than it needs.
const int BlockSize = 65536;
const int MaxBlockSize = 1 << 20;
const size_t ReceiveChunk = 16384;              // most bytes one receive of ReadLine asks for
const DWORD LineSleep = 2;                      // ms between idle passes of line reads
const DWORD CounterArmDelayMs = 20;             // see StartWait
const DWORD WaitSleep = 3;                      // ms between idle passes of every other wait
const uint64_t WaitGraceMs = 2000;              // backstop beyond the time-out's own ticks

// Position × 100 / Count, to the nearest integer, halves to even.
int Percentage(int64_t position, int64_t count) {
  int64_t scaled = position * 100;
  int64_t quotient = scaled / count;
  int64_t twiceRest = (scaled % count) * 2;
  if (twiceRest > count || (twiceRest == count && (quotient & 1))) ++quotient;
  return static_cast<int>(std::min<int64_t>(quotient, INT_MAX));
}

}  // namespace

TTcpConnection::TTcpConnection(TComponent* AOwner) : TComponent(AOwner) {
  FWindowHandle = CreateUtilityWindow([this](TMessageRecord& message) { HandleNotification(message); });
}

TTcpConnection::~TTcpConnection() {
  DestroyUtilityWindow(FWindowHandle);
  FWindowHandle = nullptr;
  // A destructor must not throw: an unloaded binding only skips the clean-up.
  try {
    if (AsyncHandle) AbandonLookup();
    CloseSocketQuietly();
    for (int i = 0; i < StartupCount; ++i) WinsockApi.WSACleanup();
  } catch (const EWinsockDLLError&) {
  }
  SaveLog();
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
// Notices

void TTcpConnection::HandleNotification(TMessageRecord& Message) {
  switch (Message.Msg) {
    case WM_HOSTLOOKUP:
    case WM_SERVICELOOKUP:
      // A late completion of a lookup already given up must not end the
      // wait of a newer one.
      if (AsyncHandle && reinterpret_cast<HANDLE>(Message.WParam) == AsyncHandle) {
        (Message.Msg == WM_HOSTLOOKUP ? HostLookupDone : ServiceLookupDone) = true;
        AsyncErrorCode = static_cast<uint16_t>(GetAsyncError(Message.LParam));
        AsyncError = AsyncErrorCode != 0;
      }
      Message.Result = 0;
      break;
    case WM_SOCKETEVENT:
      if (static_cast<SOCKET>(Message.WParam) == SocketHandle && HasSocket()) NoteSocketEvent(Message.LParam);
      Message.Result = 0;
      break;
    default:
      Message.Result = DefWindowProcA(FWindowHandle, Message.Msg, Message.WParam, Message.LParam);
      break;
  }
}

void TTcpConnection::NoteSocketEvent(LPARAM Notice) {
  const int event = GetSelectEvent(Notice);
  const uint16_t code = static_cast<uint16_t>(GetAsyncError(Notice));
  if (event == FD_CONNECT) FConnectNoticed = true;
  // A close or an error before the connect notice was left by an earlier
  // socket with the same handle.
  if (!FConnectNoticed && (event == FD_CLOSE || code != 0)) return;
  AsyncErrorCode = code;
  AsyncError = code != 0;
  if (AsyncError) return;
  switch (event) {
    case FD_READ: Readable = true; break;
    case FD_WRITE: Writable = true; break;
    case FD_CONNECT: Connected = true; break;
    case FD_CLOSE: Closed = true; break;
    default: break;
  }
}

// ---------------------------------------------------------------------------
// Waiting

// A wait arms the seconds counter's window timer only once it has lasted
// CounterArmDelayMs: most waits on a near network end sooner, and setting and
// killing a timer costs more than the rest of such a wait. A time-out then
// comes at most that much later than TimeOut seconds.
void TTcpConnection::StartWait() {
  if (TimeCounter.Timer->Running()) TimeCounter.Stop();
  FCounterPending = true;
  StartBackstop();
}

// The full time-out again, its timer period restarted.
void TTcpConnection::RestartWait() {
  if (!FCounterPending) TimeCounter.Restart();
  StartBackstop();
}

void TTcpConnection::StartBackstop() {
  FWaitStart = GetTickCount();
  FWaitLimitMs = static_cast<uint64_t>(std::max(TimeCounter.TimeOut, 1)) * 1000 + WaitGraceMs;
}

void TTcpConnection::StopWait() {
  FCounterPending = false;
  if (TimeCounter.Timer->Running()) TimeCounter.Stop();
}

// The time-out is counted in timer ticks; should ticks never come (no timer
// could be set), the wall clock still ends the wait a little later.
bool TTcpConnection::WaitTimedOut() {
  if (FCounterPending && GetTickCount() - FWaitStart >= CounterArmDelayMs) {
    FCounterPending = false;
    TimeCounter.Start();
  }
  if (!TimeCounter.TimedOut && static_cast<uint64_t>(GetTickCount() - FWaitStart) > FWaitLimitMs)
    TimeCounter.TimedOut = true;
  return TimeCounter.TimedOut;
}

void TTcpConnection::WaitFor(const bool& flag, bool endOnAsyncError, bool endOnClose, DWORD sleepMs) {
  auto over = [&] { return flag || Canceled || (endOnAsyncError && AsyncError) || (endOnClose && Closed); };
  StartWait();
  // Bounded by the time-out (WaitTimedOut). A wait already over pumps
  // nothing, a pass stops at the notice that ends the wait, and a sleep
  // follows only a pass that ended nothing.
  for (bool firstPass = true; !over() && !WaitTimedOut(); firstPass = false) {
    if (!firstPass) IdleWait(sleepMs);
    PumpMessagesUntil(over);
  }
  StopWait();
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
    AsyncHandle = WinsockApi.WSAAsyncGetHostByName(FWindowHandle, WM_HOSTLOOKUP, name.c_str(),
                                                   FLookupBuffer.get(), LookupBufferSize);
  } else {
    ServiceLookupDone = false;
    AsyncHandle = WinsockApi.WSAAsyncGetServByName(FWindowHandle, WM_SERVICELOOKUP, name.c_str(), "tcp",
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
  if (WinsockApi.WSAAsyncSelect(SocketHandle, FWindowHandle, WM_SOCKETEVENT, SocketEvents) == SOCKET_ERROR)
    RaiseLastError(WSAEINVAL);
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
// Sending

void TTcpConnection::SendLine(const std::string& Line) {
  if (!HasSocket()) RaiseSocketError(ErrNotConnected);
  if (FBatching) {
    FSendBatch += Line;
    FSendBatch += "\r\n";
  } else {
    SendBytes(Line + "\r\n");
  }
  if (!LogFileName.empty()) LogLines.Add(Line);
  if (OnLineSent) OnLineSent(this, Line);
}

void TTcpConnection::BeginSendBatch() {
  FBatching = true;
  FSendBatch.clear();
}

void TTcpConnection::EndSendBatch() {
  FBatching = false;
  std::string data;
  data.swap(FSendBatch);
  if (data.empty()) return;
  if (!HasSocket()) RaiseSocketError(ErrNotConnected);
  SendBytes(data);
}

void TTcpConnection::SendBytes(const std::string& data) {
  if (!FTls) {
    SendRaw(data);
    return;
  }
  std::string records;
  long status = FTls->Encrypt(data.data(), data.size(), records);
  if (status != 0) RaiseTlsStatus(status, "send");
  SendRaw(records);
}

void TTcpConnection::SendRaw(const std::string& data) {
  size_t sent = 0;
  bool waiting = false;
  // Bounded by the time-out; the whole line shares one period. A line that
  // goes out in the first pass never waits, so the counter starts only
  // when a pass leaves something unsent.
  for (bool progress = true, first = true;; first = false) {
    if (!progress) IdleWait(WaitSleep);
    if (!first) PumpMessages();  // the first send needs no notice
    progress = false;
    int count = static_cast<int>(std::min<size_t>(data.size() - sent, INT_MAX));
    int n = WinsockApi.send(SocketHandle, data.data() + sent, count, 0);
    if (n == SOCKET_ERROR) {
      int code = WinsockApi.WSAGetLastError();
      if (code != WSAEWOULDBLOCK && !Canceled) RaiseSocketError(static_cast<uint16_t>(code));
    } else if (n > 0) {
      sent += static_cast<size_t>(n);
      progress = true;
    }
    if (sent >= data.size()) break;
    if (!waiting) {
      StartWait();
      waiting = true;
    }
    if (WaitTimedOut() || Canceled) break;
  }
  StopWait();
  if (TimeCounter.TimedOut) RaiseTimeOut();
  if (Canceled) RaiseCanceled();
}

// ---------------------------------------------------------------------------
// Receiving

void TTcpConnection::DiscardReceived() {
  FReceiveStart = FReceiveEnd = 0;
  FReceiveBuffer.clear();
  FReceiveBuffer.shrink_to_fit();
}

bool TTcpConnection::HasBufferedLine() const {
  return std::memchr(FReceiveBuffer.data() + FReceiveStart, '\n', std::min(Buffered(), MaxLineLength)) != nullptr;
}

// Hands out the next buffered line when its LF is there. The text stops at
// its first zero byte and loses every CR and LF at its end; the whole line,
// LF included, is consumed and nothing after it.
bool TTcpConnection::TakeBufferedLine(std::string& Line) {
  size_t searchable = std::min(Buffered(), MaxLineLength);
  const char* start = FReceiveBuffer.data() + FReceiveStart;
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', searchable));
  if (!lf) return false;
  const char* end = static_cast<const char*>(std::memchr(start, '\0', static_cast<size_t>(lf - start)));
  if (!end) end = lf;
  while (end > start && (end[-1] == '\r' || end[-1] == '\n')) --end;
  Line.assign(start, end);
  FReceiveStart += static_cast<size_t>(lf - start) + 1;
  if (FReceiveStart == FReceiveEnd) FReceiveStart = FReceiveEnd = 0;
  return true;
}

bool TTcpConnection::HasPendingInput() const {
  return Buffered() > 0 || (FTls && (FTls->PlainAvailable() > 0 || FTls->PendingInput() > 0));
}

// One receive into the free end of the buffer; the result is ReceiveSome's.
int TTcpConnection::ReceiveIntoBuffer(int& Error) {
  if (FReceiveStart > 0 && FReceiveBuffer.size() - FReceiveEnd < ReceiveChunk) {
    std::memmove(FReceiveBuffer.data(), FReceiveBuffer.data() + FReceiveStart, Buffered());
    FReceiveEnd -= FReceiveStart;
    FReceiveStart = 0;
  }
  if (FReceiveBuffer.size() - FReceiveEnd < ReceiveChunk) FReceiveBuffer.resize(FReceiveEnd + ReceiveChunk);
  int n = ReceiveSome(FReceiveBuffer.data() + FReceiveEnd, static_cast<int>(ReceiveChunk), Error);
  if (n > 0) FReceiveEnd += static_cast<size_t>(n);
  return n;
}

int TTcpConnection::ReceiveSome(char* Target, int Size, int& Error) {
  if (FTls) return ReceiveDecrypted(Target, Size, Error);
  int n = WinsockApi.recv(SocketHandle, Target, Size, 0);
  if (n == SOCKET_ERROR) Error = WinsockApi.WSAGetLastError();
  return n;
}

void TTcpConnection::FinishLine(const std::string& Line) {
  if (!LogFileName.empty()) LogLines.Add(Line);
  if (OnLineReceived) OnLineReceived(this, Line);
}

int TTcpConnection::ReadLine(std::string& Line) {
  int result = -1;
  Line.clear();
  if (!HasSocket()) RaiseSocketError(ErrNotConnected);
  // No wait while received bytes remain: they may already hold the line.
  const bool waited = !HasPendingInput();
  if (waited) WaitFor(Readable, true, true, LineSleep);
  if (Canceled) RaiseCanceled();
  if (TimeCounter.TimedOut) RaiseTimeOut();
  if (AsyncError) RaiseSocketError(AsyncErrorCode);

  // One period for the whole line. A line already buffered needs no wait,
  // no timer, no receive and no pass of the pump (every pass is a round trip
  // to the system, and a reply's header lines come in one block); the read
  // notice is then kept, since only a receive makes the library post the
  // next one. The loop pumps before each receive but the one that follows
  // the wait's own pass.
  if (!HasBufferedLine()) {
    StartWait();
    Readable = false;
  }
  bool complete = false;
  try {
    bool peerClosed = false;
    // Bounded by the time-out, by the peer's close and by MaxLineLength.
    for (bool progress = true, pumped = waited;; pumped = false) {
      if (TakeBufferedLine(Line)) {
        complete = true;
        break;
      }
      if (peerClosed || Canceled || WaitTimedOut()) break;
      if (Buffered() >= MaxLineLength) {
        DiscardReceived();
        RaiseSocketError(ErrLineTooLong);
      }
      const bool sleep = !progress || PlatformIsWin9x;
      if (sleep) IdleWait(LineSleep);
      if (sleep || !pumped) PumpMessages();
      progress = false;
      int code = 0;
      int n = ReceiveIntoBuffer(code);
      if (n == SOCKET_ERROR) {
        if (code == WSAEWOULDBLOCK)
          Readable = false;
        else if (!Canceled)
          RaiseSocketError(static_cast<uint16_t>(code));
      } else if (n == 0) {
        // The peer has closed: an incomplete line is discarded.
        peerClosed = true;
      } else {
        progress = true;
      }
    }
    StopWait();
    if (complete) result = GetReplyCode(Line);
    if (TimeCounter.TimedOut) RaiseTimeOut();
    if (Canceled) RaiseCanceled();
  } catch (...) {
    // An unfinished line is consumed, as when lines are read byte by byte.
    if (!complete) DiscardReceived();
    FinishLine(Line);
    throw;
  }
  if (!complete) DiscardReceived();
  FinishLine(Line);
  return result;
}

void TTcpConnection::FireProgress(int Perc, int64_t Transferred) {
  if (OnProgress) OnProgress(this, Perc, static_cast<int>(std::min<int64_t>(Transferred, INT_MAX)));
}

void TTcpConnection::ReadBlock(TMemoryStream& Stream, int Count) {
  // Without a socket the wait below could only end by the time-out.
  if (!HasSocket()) RaiseSocketError(ErrNotConnected);
  FireProgress(0, 0);
  int64_t total = 0;
  // No wait while buffered bytes remain, nor for a count of 0. The read
  // notice is consumed only by a wait, which a receive follows: only a
  // receive makes the library post the next notice.
  bool wait = Count != 0 && !HasPendingInput();
  if (wait) WaitFor(Readable, true, true, WaitSleep);
  if (Canceled) RaiseCanceled();
  if (TimeCounter.TimedOut) RaiseTimeOut();
  if (AsyncError) RaiseSocketError(AsyncErrorCode);
  if (wait) Readable = false;

  bool done = false;
  int piece = BlockSize;
  StartWait();
  // Bounded by the time-out, restarted by every byte received, and by the peer's close.
  for (bool progress = true, first = true;; first = false) {
    if (!progress) IdleWait(WaitSleep);
    // The wait above has just pumped, or the bytes are already buffered.
    if (!first) PumpMessages();
    progress = false;
    int request = Count < 0 ? piece : static_cast<int>(std::min<int64_t>(Count - total, piece));
    int n;
    int code = 0;
    bool fromSocket = false;
    if (request == 0) {
      n = 0;
    } else if (Buffered() > 0) {
      n = static_cast<int>(std::min<size_t>(Buffered(), static_cast<size_t>(request)));
      Stream.SetPosition(Stream.Size());
      Stream.Write(FReceiveBuffer.data() + FReceiveStart, static_cast<size_t>(n));
      FReceiveStart += static_cast<size_t>(n);
      if (FReceiveStart == FReceiveEnd) FReceiveStart = FReceiveEnd = 0;
    } else {
      // Received straight into the end of the stream: no copy of the body.
      fromSocket = true;
      const int64_t end = Stream.Size();
      n = ReceiveSome(Stream.Extend(static_cast<size_t>(request)), request, code);
      Stream.SetSize(end + (n > 0 ? n : 0));
      Stream.SetPosition(Stream.Size());
    }
    if (n == SOCKET_ERROR) {
      if (code != WSAEWOULDBLOCK && !Canceled) RaiseSocketError(static_cast<uint16_t>(code));
    } else {
      total += n;
      FireProgress(Count > 0 ? Percentage(Stream.Position(), Count) : -1, total);
      if (n > 0) {
        RestartWait();
        progress = true;
      }
      if (fromSocket && n == request && request == piece) piece = std::min(piece * 2, MaxBlockSize);
    }
    if ((fromSocket && n == 0) || total == Count) {
      done = true;
      break;
    }
    if (Canceled || WaitTimedOut()) break;
  }
  StopWait();
  if (done) {
    if (OnClosed) OnClosed(this);
    return;
  }
  if (Canceled) RaiseCanceled();
  if (TimeCounter.TimedOut) RaiseTimeOut();
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
