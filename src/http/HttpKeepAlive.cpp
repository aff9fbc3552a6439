// THttpClient's kept connections: opening a fresh connection, taking the kept
// one when it can serve the request, sending a request once more when a kept
// connection turns out closed, and keeping or closing the connection after
// the answer. The decisions themselves are ConnectionReuse's.
#include "http/HttpClient.h"

namespace {

// Interim answers (100 Continue, 103 Early Hints) one request may get before
// its final one.
const int MaxInterimAnswers = 16;

}  // namespace

void THttpClient::SetKeepAlive(bool Value) {
  KeepAlive = Value;
  if (!Value && FKept.Held()) CloseKeptConnection("KeepAlive was turned off");
}

void THttpClient::SetTrustedCertificates(const std::vector<std::string>& Digests) {
  if (Digests != TrustedCertificates && FKept.Held()) CloseKeptConnection("TrustedCertificates changed");
  TrustedCertificates = Digests;
}

std::string THttpClient::ConnectedAuthority() const { return HostPart() + ":" + std::to_string(Port); }

void THttpClient::CloseKeptConnection(const std::string& Why) {
  FKept.Release();
  if (!HasSocket()) return;
  NoteInLog("Closing the kept connection to " + FKeptAuthority + " (" + Why + ")");
  Close();
}

void THttpClient::OpenConnection() {
  // An https URL names its port or means 443; http looks its service up.
  ImpliedPort = FSecure && FProxy.empty() ? HttpsPort : 0;
  Open();
  try {
    Connect();
    if (FSecure) {
      if (!FProxy.empty()) OpenTunnel();
      StartTls(HostName.substr(0, HostName.find(':')));
    }
  } catch (...) {
    Close();
    throw;
  }
}

bool THttpClient::TakeKeptConnection() {
  if (!FKept.Held()) return false;
  const char* why = nullptr;
  if (!KeepAlive)
    why = "KeepAlive was turned off";
  else if (FKept.Key() != TKeptConnection::KeyOf(FSecure, Server, HostName))
    why = "the next request goes elsewhere";
  else if (!FKept.Fresh(NowMs()))
    why = "idle for longer than the server keeps it";
  else if (!IdleSocketAlive())
    why = "the server closed it";
  if (why) {
    CloseKeptConnection(why);
    return false;
  }
  FKept.Release();
  NoteInLog("Reusing the connection to " + ConnectedAuthority());
  return true;
}

void THttpClient::SendAndReadHead(bool Reused) {
  const uint64_t received = ReceivedCount();
  try {
    SendRequest();
    ReadResponseHead();
  } catch (const ESocketError&) {
    // A server may close an idle connection just as a request goes out on
    // it: the request never reached it, whatever its method, so it goes
    // once more on a fresh connection. Once the answer has begun, or after
    // a time-out (not an ESocketError), the failure stands.
    if (!Reused || ReceivedCount() != received || Canceled) throw;
    NoteInLog("The kept connection to " + ConnectedAuthority() +
              " closed before answering; sending the request again on a new connection");
    Close();
    ResetState();
    OpenConnection();
    SendRequest();
    ReadResponseHead();
  }
}

void THttpClient::ReadResponseHead() {
  FFramingBroken = false;
  int status = ReadHeaders();
  // An HTTP/1.1 server may send interim answers before the final one; with
  // HTTP/1.0 requests they are kept as today's answer.
  for (int interim = 0; KeepAlive && IsInterimStatus(status); ++interim) {
    if (interim >= MaxInterimAnswers) RaiseErrorText("The server sent too many interim answers (1xx)");
    status = ReadHeaders();
  }
  FFraming = DecideFraming(Headers, status, RequestMethod == "HEAD");
}

bool THttpClient::ConnectionReusable() {
  if (!HasSocket() || FFramingBroken || !ResponseKeepsConnection(Headers, FFraming)) return false;
  // An unread body would be taken for the next answer.
  if (IgnoreAfterHeaders && FFraming.Kind != TBodyFraming::None) return false;
  // Bytes beyond the framed answer (a second answer nobody asked for) must
  // never pass for the next request's answer.
  return !Closed && !AsyncError && !HasPendingInput();
}

void THttpClient::FinishExchange() {
  if (!KeepAlive || !ConnectionReusable()) {
    Close();
    return;
  }
  FKept.Hold(TKeptConnection::KeyOf(FSecure, Server, HostName), NowMs(), KeepAliveIdleLimitMs(Headers));
  FKeptAuthority = ConnectedAuthority();
}
