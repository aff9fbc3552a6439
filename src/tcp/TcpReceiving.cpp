// The connection's receiving side: the line reader, the block reader and the
// buffer of bytes received but not yet handed out.
#include "tcp/TcpConnection.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Read once when the module starts: the non-NT family needs a sleep on every
// pass of the line reader.
const bool PlatformIsWin9x = !IsWindowsNT();

// Bytes one receive of ReadBlock asks for: the first piece, and the most a
// piece grows to while the data keeps filling whole pieces. Every receive
// costs a system call and a notice, so a big body goes in large pieces; a
// small one never asks for more than it needs.
const int BlockSize = 65536;
const int MaxBlockSize = 1 << 20;
const size_t ReceiveChunk = 16384;  // most bytes one receive of ReadLine asks for

// Position × 100 / Count, to the nearest integer, halves to even.
int Percentage(int64_t position, int64_t count) {
  int64_t scaled = position * 100;
  int64_t quotient = scaled / count;
  int64_t twiceRest = (scaled % count) * 2;
  if (twiceRest > count || (twiceRest == count && (quotient & 1))) ++quotient;
  return static_cast<int>(std::min<int64_t>(quotient, INT_MAX));
}

}  // namespace

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
  int n = FTls ? ReceiveDecrypted(Target, Size, Error) : WinsockApi.recv(SocketHandle, Target, Size, 0);
  if (n == SOCKET_ERROR && !FTls) Error = WinsockApi.WSAGetLastError();
  if (n > 0) FReceivedCount += static_cast<uint64_t>(n);
  return n;
}

void TTcpConnection::FinishLine(const std::string& Line) {
  if (!LogFileName.empty()) LogLines.Add(Line);
  if (OnLineReceived) OnLineReceived(this, Line);
}

int TTcpConnection::ReadLine(std::string& Line) {
  int result = -1;
  Line.clear();
  FLineComplete = false;
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
  FLineComplete = complete;
  FinishLine(Line);
  return result;
}

void TTcpConnection::FireProgress(int Perc, int64_t Transferred) {
  if (OnProgress) OnProgress(this, Perc, static_cast<int>(std::min<int64_t>(Transferred, INT_MAX)));
}

int64_t TTcpConnection::ReadBlock(TMemoryStream& Stream, int Count) {
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
        BlockArrived(Stream);
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
    return total;
  }
  if (Canceled) RaiseCanceled();
  if (TimeCounter.TimedOut) RaiseTimeOut();
  return total;
}

