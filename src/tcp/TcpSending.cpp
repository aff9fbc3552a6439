// The connection's sending side: lines, batches of lines, and the raw send
// loop that every byte goes through (encrypted first under TLS).
#include "tcp/TcpConnection.h"

#include <algorithm>
#include <climits>

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

void TTcpConnection::SendRaw(const std::string& data, bool ownWait) {
  size_t sent = 0;
  bool waiting = !ownWait;
  // Bounded by the time-out; the whole line shares one period, its own or
  // the caller's. A line that goes out in the first pass never waits, so the
  // counter starts only when a pass leaves something unsent.
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
  if (ownWait) StopWait();
  if (TimeCounter.TimedOut) RaiseTimeOut();
  if (Canceled) RaiseCanceled();
}

