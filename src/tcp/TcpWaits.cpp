// The connection's notices and waits: the socket library's messages become
// flags, and every wait sleeps briefly and pumps the thread's messages until
// its flag is set, bounded by the time-out.
#include "tcp/TcpConnection.h"

#include <algorithm>

namespace {

const DWORD CounterArmDelayMs = 20;  // see StartWait
const uint64_t WaitGraceMs = 2000;   // backstop beyond the time-out's own ticks

}  // namespace

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
  WindowHandle();  // notices of a socket kept from another call come here
  TPumpScope pumpScope;
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
// A socket kept between requests

uint32_t TTcpConnection::NowMs() { return GetTickCount(); }

bool TTcpConnection::IdleSocketAlive() {
  WindowHandle();  // notices of a socket kept from another call come here
  PumpMessages();
  if (!HasSocket() || Closed || AsyncError || HasPendingInput()) return false;
  // One byte looked at, none taken: an open, quiet socket has none to give.
  // The look also counts as a receive, after which the library posts a read
  // notice for the next bytes that arrive.
  char probe;
  if (WinsockApi.recv(SocketHandle, &probe, 1, MSG_PEEK) != SOCKET_ERROR) return false;
  return WinsockApi.WSAGetLastError() == WSAEWOULDBLOCK;
}
