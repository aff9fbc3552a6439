// The connection's TLS layer: the handshake on a connected socket, and the
// receive that decrypts records for the line and block readers. Sending goes
// through SendBytes, which encrypts while a session is open.
#include "tcp/TcpConnection.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

const DWORD HandshakeSleep = 3;  // ms between idle passes of the handshake
// Records without data (empty ones, handshake messages) one receive call
// decrypts before it lets its caller pump and check the time-out.
const int MaxEmptyRecords = 64;

const char* const HandshakeStalledText =
    "The TLS handshake made no progress: the security package took none of the server's bytes";

}  // namespace

void TTcpConnection::RaiseTlsStatus(long Status, const char* Step) { RaiseErrorText(TlsErrorText(Status, Step)); }

void TTcpConnection::StartTls(const std::string& HostName) {
  if (!HasSocket()) RaiseSocketError(ErrNotConnected);
  if (Canceled) RaiseCanceled();
  try {
    SecurityApi.Load();
  } catch (const ESecurityDLLError& e) {
    RaiseErrorText(e.Message());
  }
  if (!FTlsCredentials) FTlsCredentials.reset(new TTlsCredentials);
  long status = FTlsCredentials->Acquire();
  if (status != 0) RaiseTlsStatus(status, "handshake");
  FTls.reset(new TTlsSession(*FTlsCredentials, HostName));
  FTlsPeerClosed = false;
  // Bytes that arrived behind a proxy's answer are the server's first TLS bytes.
  if (Buffered() > 0) {
    size_t room = 0;
    char* space = FTls->InputSpace(room);
    const size_t count = std::min(room, Buffered());
    std::memcpy(space, FReceiveBuffer.data() + FReceiveStart, count);
    FTls->InputReceived(count);
    DiscardReceived();
  }
  std::string output;
  status = FTls->Begin(output);
  if (status != 0) RaiseTlsStatus(status, "handshake");

  size_t sent = 0;
  bool peerClosed = false;
  // The session holds whole records it has not taken yet (it stops after a
  // number of calls): they are fed again before anything more is received.
  bool more = false;
  StartWait();
  // One period for the whole handshake. Bounded by the time-out and by the
  // peer's close; the session bounds its own work per pass, and a pass in
  // which the package takes nothing fails. Sends never wait here: what does
  // not go out in one pass goes in a later one.
  for (bool progress = true;;) {
    if (sent < output.size()) {
      const int count = static_cast<int>(std::min<size_t>(output.size() - sent, INT_MAX));
      const int n = WinsockApi.send(SocketHandle, output.data() + sent, count, 0);
      if (n == SOCKET_ERROR) {
        const int code = WinsockApi.WSAGetLastError();
        if (code != WSAEWOULDBLOCK && !Canceled) RaiseSocketError(static_cast<uint16_t>(code));
      } else if (n > 0) {
        sent += static_cast<size_t>(n);
        progress = true;
      }
      if (sent == output.size()) {
        output.clear();
        sent = 0;
      }
    }
    if (FTls->State() != TTlsSession::TState::Handshaking && output.empty()) break;
    if (Canceled || WaitTimedOut()) break;
    if (peerClosed && !more) RaiseErrorText("The server closed the connection during the TLS handshake");
    if (!progress) IdleWait(HandshakeSleep);
    PumpMessages();
    progress = false;
    if (FTls->State() != TTlsSession::TState::Handshaking) continue;  // only the last flight is left to send
    if (!more) {
      int code = 0;
      const int n = ReceiveTlsInput(code);
      if (n == SOCKET_ERROR) {
        if (code != WSAEWOULDBLOCK && !Canceled) RaiseSocketError(static_cast<uint16_t>(code));
        continue;
      }
      if (n == 0) {
        peerClosed = true;
        continue;
      }
    }
    progress = true;
    TTlsSession::TProgress step;
    status = FTls->Handshake(output, step);
    if (status != 0) {
      // The alert that says why, if the package made one: one try, no wait.
      if (!output.empty()) WinsockApi.send(SocketHandle, output.data(), static_cast<int>(output.size()), 0);
      FTls.reset();
      RaiseTlsStatus(status, "handshake");
    }
    if (step == TTlsSession::TProgress::Stalled) {
      FTls.reset();
      RaiseErrorText(HandshakeStalledText);
    }
    more = step == TTlsSession::TProgress::More;
  }
  StopWait();
  if (Canceled) RaiseCanceled();
  if (TimeCounter.TimedOut) RaiseTimeOut();
  VerifyServer();
}

// Nothing of the request may reach a server whose certificate is refused.
// The chain is checked on a thread of its own, in a wait of its own: the
// chain engine may go to the network for a missing issuer.
void TTcpConnection::VerifyServer() {
  const int timeOut = std::max(TimeCounter.TimeOut, 1);
  FTls->BeginVerify(static_cast<uint32_t>(std::min(timeOut, INT_MAX / 1000)) * 1000u, TrustedCertificates);
  if (FTls->RunningVerify()) {
    StartWait();
    // Bounded by the time-out; the check ends the wait as soon as it is done.
    for (const TCertificateCheck* check; (check = FTls->RunningVerify()) != nullptr;) {
      if (Canceled || WaitTimedOut()) break;
      check->Wait(HandshakeSleep);
      PumpMessages();
    }
    StopWait();
    if (Canceled) RaiseCanceled();
    if (TimeCounter.TimedOut) RaiseTimeOut();
  }
  const TCertificateVerdict verdict = FTls->EndVerify();
  if (verdict.Status != 0) {
    FTls.reset();
    RaiseErrorText(CertificateErrorText(verdict));
  }
  if (verdict.IssuerForgiven)
    NoteInLog("The certificate of " + FTls->HostName() +
              " was accepted by its trusted fingerprint: its issuer is not trusted");
}

int TTcpConnection::ReceiveTlsInput(int& Error) {
  size_t room = 0;
  char* space = FTls->InputSpace(room);
  // The session decrypts every whole record before it asks for more, so only
  // a record larger than TLS allows can fill it.
  if (room == 0) RaiseTlsStatus(SEC_E_INVALID_TOKEN, "receive");
  const int n = WinsockApi.recv(SocketHandle, space, static_cast<int>(std::min<size_t>(room, INT_MAX)), 0);
  if (n == SOCKET_ERROR)
    Error = WinsockApi.WSAGetLastError();
  else if (n > 0)
    FTls->InputReceived(static_cast<size_t>(n));
  return n;
}

int TTcpConnection::ReceiveDecrypted(char* Target, int Size, int& Error) {
  const size_t wanted = static_cast<size_t>(std::max(Size, 0));
  size_t delivered = 0;
  // Bounded: a receive happens only while nothing has been handed out, and
  // records without data (and steps of a handshake) end the call after
  // MaxEmptyRecords.
  for (int empty = 0; delivered < wanted;) {
    delivered += FTls->TakePlain(Target + delivered, wanted - delivered);
    if (delivered == wanted) break;
    std::string answer;
    TTlsSession::TProgress progress;
    const long status = FTls->Decrypt(answer, progress);
    // The server started a handshake: its answer goes out at once, within
    // the caller's wait. Its period goes on: a server that keeps sending
    // handshake messages cannot hold a read for ever.
    if (!answer.empty()) SendRaw(answer, false);
    if (status != 0) RaiseTlsStatus(status, FTls->Renegotiating() ? "renegotiation" : "receive");
    if (progress == TTlsSession::TProgress::Stalled) RaiseErrorText(HandshakeStalledText);
    if (FTls->CertificateChanged())
      RaiseErrorText("The server showed another certificate when it renegotiated the TLS session");
    if (FTls->State() == TTlsSession::TState::Ended) break;  // the closing alert ends the stream like a close
    if (progress == TTlsSession::TProgress::Done || progress == TTlsSession::TProgress::More) {
      if (FTls->PlainAvailable() == 0 && ++empty >= MaxEmptyRecords && delivered == 0) {
        Error = WSAEWOULDBLOCK;
        return SOCKET_ERROR;
      }
      continue;
    }
    if (delivered > 0 || FTlsPeerClosed) break;
    const int n = ReceiveTlsInput(Error);
    if (n == SOCKET_ERROR) return SOCKET_ERROR;
    if (n == 0) {
      FTlsPeerClosed = true;
      // A close at a record boundary ends the stream; inside a record it
      // loses bytes the server sent.
      if (FTls->PendingInput() > 0)
        RaiseErrorText("The server closed the connection in the middle of a TLS record");
      break;
    }
  }
  return static_cast<int>(delivered);
}

bool TTcpConnection::TlsEndedWithoutAlert() const {
  return FTls && FTls->State() != TTlsSession::TState::Ended;
}

void TTcpConnection::EndTls() {
  if (!FTls) return;
  std::unique_ptr<TTlsSession> session(std::move(FTls));
  // The closing alert while the session is open both ways: one try, no
  // wait, since the socket closes right after.
  if (!FTlsPeerClosed && session->State() == TTlsSession::TState::Established) {
    std::string alert;
    session->Shutdown(alert);
    if (!alert.empty()) WinsockApi.send(SocketHandle, alert.data(), static_cast<int>(alert.size()), 0);
  }
  FTlsPeerClosed = false;
}
