#include "http/HttpClient.h"

#include "codecs/LineUtils.h"
#include "codecs/TextHelpers.h"
#include "codecs/UrlCodec.h"
#include "codecs/UrlReference.h"
#include "codecs/WordUtils.h"
#include "http/OriginRule.h"
#include "http/ResponseParsing.h"
#include "platform/CodePages.h"
#include "platform/UtilityWindow.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <ctime>
#include <new>
#include <utility>

namespace {

// Text that ends a line wherever a server looks: CR, LF, and NUL, where many
// servers stop reading.
bool BreaksALine(const std::string& value) {
  return value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Extra request text may hold several lines, but no NUL and no blank line: a
// blank line ends the header block, and what followed it would reach the
// server as a body or as a request of its own. Its first and last lines
// count too, as the lines around it end where it begins and ends.
bool IsUnsafeExtraText(const std::string& text) {
  if (text.find('\0') != std::string::npos) return true;
  size_t start = 0;
  for (;;) {  // one pass per line; ends after the last one
    const size_t end = text.find_first_of("\r\n", start);
    if (Trim(text.substr(start, end - start)).empty()) return true;
    if (end == std::string::npos) return false;
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
}

}  // namespace

THttpClient::THttpClient(TComponent* AOwner) : TTcpConnection(AOwner) {
  DefaultPort = 80;
  ServiceName = "http";
}

// Members go in reverse order of declaration; none of them raises on the way,
// and the base destructor then writes the transfer log, which notes the close
// of a kept connection.
THttpClient::~THttpClient() {
  try {
    if (FKept.Held()) CloseKeptConnection("the object is released");
  } catch (...) {
  }
  AbandonDecoding();
}

void THttpClient::SetURL(const std::string& Value) {
  ApplyURL(Value);
  FCredentialsOrigin = OriginOf(FWireURL);
}

void THttpClient::ApplyURL(const std::string& Value) {
  // CR, LF or NUL would let the URL end the request line early and smuggle
  // lines of its own into the request.
  const bool secure = StartsWithNoCase(Value, "HTTPS://");
  if ((!secure && !StartsWithNoCase(Value, "HTTP://")) || BreaksALine(Value)) {
    RaiseSocketError(ErrInvalidURL);
    return;
  }
  const size_t prefix = secure ? 8 : 7;
  std::string rest = Value.substr(prefix);
  const size_t slash = rest.find('/');
  const std::string authority = WireAuthority(rest.substr(0, slash));
  FURL = Value;
  FWireURL = Value.substr(0, prefix) + authority + (slash == std::string::npos ? "" : rest.substr(slash));
  FSecure = secure;
  FFileName.clear();
  if (slash != std::string::npos) {
    Server = authority;
    FURLPath = rest.substr(slash);
    if (FURLPath.find('.') != std::string::npos) {
      FFileName = FURLPath.substr(FURLPath.rfind('/') + 1);
      if (FFileName.empty()) FFileName = "index.html";
    }
  } else {
    Server = authority;
    FURLPath = "/";
  }
  // The origin server, before a proxy takes Server's place: the Host line and
  // relative redirect targets name it.
  HostName = Server;
  if (!FProxy.empty()) SetProxy(FProxy);
  RequestURI = FURLPath;
}

std::string THttpClient::WireAuthority(const std::string& authority) {
  const bool ascii = std::all_of(authority.begin(), authority.end(), [](char c) { return (c & 0x80) == 0; });
  if (!Utf8Urls || ascii) return authority;
  const size_t at = authority.rfind('@');
  const size_t hostStart = at == std::string::npos ? 0 : at + 1;
  const size_t colon = authority.find(':', hostStart);
  const std::string host = authority.substr(hostStart, colon == std::string::npos ? colon : colon - hostStart);
  std::string asciiHost;
  if (!HostNameToAscii(host, asciiHost)) RaiseSocketError(ErrInvalidURL);
  return authority.substr(0, hostStart) + asciiHost + (colon == std::string::npos ? "" : authority.substr(colon));
}

void THttpClient::SetProxy(const std::string& Value) {
  if (!Value.empty() && Value.find(':') == std::string::npos) {
    RaiseSocketError(ErrProxyPortRequired);
    return;
  }
  FProxy = Value;
  Server = Value;
}

void THttpClient::SetContentType(const std::string& Value) { FContentType = AsciiLowerCase(Value); }

void THttpClient::SendRequest() {
  if (OnSetExtraHeaders) OnSetExtraHeaders(this);
  if (OnSending) OnSending(this);

  RequestMethod = AsciiUpperCase(RequestMethod);
  if (RequestMethod.empty()) RequestMethod = "GET";
  // A proxy needs the whole URL to know where to go; through a tunnel the
  // request goes to the origin server itself.
  const bool proxied = !FProxy.empty() && !FSecure;
  // No raw 8-bit byte goes on the request line: those of the URL are sent
  // percent-encoded, as browsers send them.
  const std::string target =
      PercentEncodeNonAscii(proxied ? FWireURL : ChooseText(!RequestURI.empty(), RequestURI, FURLPath));
  // The server's credentials go only to the origin the script named; the
  // log tells when a hop goes without them.
  const TOrigin hop = OriginOf(FWireURL);
  const std::string authorization =
      AuthentHeader.empty() ? std::string() : "Authorization: Basic " + EncodeBase64(AuthentHeader);
  bool heldBack = false;
  const std::vector<std::string> extraLines =
      ExtraLinesForHop(ExtraHeaders.Lines(), FCredentialsOrigin, hop, heldBack);
  const bool sendAuthorization = !authorization.empty() && LineGoesTo(authorization, FCredentialsOrigin, hop);
  if (heldBack || (!authorization.empty() && !sendAuthorization))
    NoteInLog("Credentials not sent to " + HostName + ": another origin");

  BeginSendBatch();
  // A kept connection needs HTTP/1.1, where connections persist unless
  // either side says otherwise.
  const std::string version = KeepAlive ? " HTTP/1.1" : " HTTP/1.0";
  SendLine(RequestMethod + " " + target + ChooseText(Protocol.empty(), version, " " + Protocol));

  // Under TLS the proxy's credentials went with the tunnel request; the
  // origin server must never see them.
  if (!ProxyPassword.empty() && !FSecure) SendLine("Proxy-Authorization: Basic " + EncodeBase64(ProxyPassword));
  if (sendAuthorization) SendLine(authorization);
  const std::string agent = Trim(UserAgent);
  if (!agent.empty()) SendLine("User-Agent: " + agent);
  // Every method names its host: a server of several sites on one address
  // answers a request without it for its default site.
  SendLine("Host: " + ChooseText(FProxy.empty(), Server, HostName));
  SendLine("Accept: " + ChooseText(Accept.empty(), "*/*", Accept));
  if (Compression) SendLine("Accept-Encoding: gzip, deflate");
  const bool body = SendsBody(RequestMethod);
  if (body) {
    if (!FContentType.empty()) SendLine("Content-Type: " + FContentType);
    SendLine("Content-Length: " + std::to_string(PostData.size()));
    SendLine("Pragma: No-Cache");
  }
  SendCookieLine();
  for (const std::string& line : extraLines) {
    if (!Trim(line).empty()) SendLine(line);
  }
  SendLine("");
  if (body) SendLine(PostData);
  EndSendBatch();

  if (OnQuerySent) OnQuerySent(this);
}

void THttpClient::CheckRequestHeaderValues() {
  const auto refuse = [this](const char* member) {
    RaiseErrorText(std::string("Invalid request header value in ") + member);
  };
  // Named as the script sets them, in the order of the request.
  const std::pair<const char*, std::string> values[] = {
      {"RequestMethod", RequestMethod}, {"Protocol", Protocol},
      {"UserAgent", Trim(UserAgent)},  // sent trimmed, so only its inside counts
      {"Accept", Accept},               {"ContentType", FContentType}};
  for (const auto& value : values) {
    if (BreaksALine(value.second)) refuse(value.first);
  }
  for (const std::string& line : ExtraHeaders.Lines()) {
    // Blank entries are skipped when the request is sent.
    if (!Trim(line).empty() && IsUnsafeExtraText(line)) refuse("AddExtraHeader");
  }
}

std::string THttpClient::EncodeBase64(const std::string& Text) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((Text.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= Text.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(Text[i]) << 16 | static_cast<unsigned char>(Text[i + 1]) << 8 |
                       static_cast<unsigned char>(Text[i + 2]);
    out += alphabet[v >> 18 & 63];
    out += alphabet[v >> 12 & 63];
    out += alphabet[v >> 6 & 63];
    out += alphabet[v & 63];
  }
  const size_t left = Text.size() - i;
  if (left > 0) {
    unsigned v = static_cast<unsigned char>(Text[i]) << 16;
    if (left == 2) v |= static_cast<unsigned char>(Text[i + 1]) << 8;
    out += alphabet[v >> 18 & 63];
    out += alphabet[v >> 12 & 63];
    out += left == 2 ? alphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

bool THttpClient::Execute() {
  // The host's quit, taken out by a wait of the exchange, waits for its end.
  TPumpScope pumpScope;
  try {
    for (int followed = 0;; ++followed) {  // ends at the first exchange without a redirect, or at the bound
      Transact();
      if (!FollowRedirects || !FindRedirect()) return true;
      if (followed >= MaxRedirects) RaiseErrorText("Too many redirects");
      ApplyURL(FRedirURL);
      if (OnRedirect) OnRedirect(this);
    }
  } catch (const std::bad_alloc&) {
    LastError = "Out of memory";
  } catch (const std::exception& e) {
    LastError = e.what();
  } catch (...) {
    LastError = "Unknown error";
  }
  return false;
}

void THttpClient::Transact() {
  FBodyIncomplete = false;
  CheckRequestHeaderValues();
  const bool reused = TakeKeptConnection();
  ResetState();
  if (!reused) OpenConnection();
  try {
    SendAndReadHead(reused);
    // Before a redirect is followed: the next hop may need these cookies.
    StoreResponseCookies();
    if (RequestMethod == "HEAD") {
      if (!SaveToFile.empty()) SaveLinesToFile(Headers, SaveToFile);  // ignores file errors itself
    } else {
      ReadBody();
      SaveResult();
    }
  } catch (...) {
    FKept.Release();
    Close();
    throw;
  }
  FinishExchange();
}

void THttpClient::SaveResult() {
  if (SaveToFile.empty()) return;
  try {
    Body.SaveToFile(SaveToFile);
  } catch (const EInOutError&) {
    // The exchange itself succeeded; a file that cannot be written does not undo it.
  }
}

void THttpClient::ReadHeaderBlock(THeaderList& Lines) {
  size_t bytes = 0;
  for (;;) {  // ends at the empty line (also what a closed connection gives) or at the bounds
    if (Lines.Count() >= MaxHeaderLines || bytes >= MaxHeaderBytes)
      RaiseErrorText("The response's header block is too large (over 10000 lines or 1 MB)");
    // Reading a line pumps whenever it has to wait; lines already received
    // need a pass only now and then, so that a long block keeps the
    // thread's other windows served.
    if (Lines.Count() > 0 && Lines.Count() % 64 == 0) PumpMessages();
    std::string line;
    ReadLine(line);
    if (!LastLineComplete()) {
      // A close before any line is no answer at all, which the caller
      // reports; after the first line, lines the server sent may be missing.
      if (Lines.Count() > 0) RaiseErrorText("The connection closed in the header block");
      Lines.Add(line);
      break;
    }
    Lines.Add(line);
    bytes += line.size() + 2;
    if (line.empty()) break;
  }
}

std::string THttpClient::OriginAuthority() const {
  return HostName.find(':') == std::string::npos ? HostName + ":" + std::to_string(HttpsPort) : HostName;
}

void THttpClient::OpenTunnel() {
  const std::string authority = OriginAuthority();
  BeginSendBatch();
  SendLine("CONNECT " + authority + " HTTP/1.0");
  SendLine("Host: " + authority);
  if (!ProxyPassword.empty()) SendLine("Proxy-Authorization: Basic " + EncodeBase64(ProxyPassword));
  SendLine("");
  EndSendBatch();
  THeaderList answer;
  ReadHeaderBlock(answer);
  const std::string status = answer.Count() > 0 ? answer[0] : std::string();
  if (status.empty()) RaiseErrorText("The proxy sent no answer to the tunnel request");
  const int code = ParseStatusLine(status).Code;
  if (code < 200 || code > 299) RaiseErrorText("The proxy refused the tunnel: " + status);
}

int THttpClient::ReadHeaders() {
  Headers.Clear();
  ReadHeaderBlock(Headers);
  // Without a status line there is no response at all, only a closed or
  // broken connection: that must not pass for an empty success.
  if (Headers[0].empty()) RaiseErrorText("The server sent no status line");
  const int status = ParseStatusLine(Headers[0]).Code;
  if (OnRecvdHeaders) OnRecvdHeaders(this);
  return status;
}

TCookieRequest THttpClient::CookieRequest() const {
  // The URL's own host (not the proxy's) and the path the request asks for.
  const std::string target = !RequestURI.empty() && RequestURI[0] == '/' ? RequestURI : FURLPath;
  return MakeCookieRequest(HostName, target, FSecure);
}

void THttpClient::SendCookieLine() {
  if (!KeepCookies) return;
  const std::string cookies = Cookies.CookieHeader(CookieRequest(), std::time(nullptr));
  if (!cookies.empty()) SendLine("Cookie: " + cookies);
}

void THttpClient::StoreResponseCookies() {
  if (!KeepCookies) return;
  const TCookieRequest request = CookieRequest();
  const int64_t now = std::time(nullptr);
  // The header lines only: the status line is none of them.
  for (int i = 1; i < Headers.Count(); ++i) {
    const std::string& line = Headers[i];
    if (StartsWithNoCase(line, "SET-COOKIE:")) Cookies.SetCookie(std::string_view(line).substr(11), request, now);
  }
}

bool THttpClient::IsChunked() {
  return AsciiLowerCase(Headers.GetFieldValue("Transfer-Encoding")).find("chunked") != std::string::npos;
}

// Most bytes reserved ahead on a Content-Length's word. The word is the
// server's, not proof: a hostile one announcing 2 GB could otherwise pin that
// much of a 32-bit host's address space. Larger bodies grow as their bytes
// arrive, in steps that stop at the announced length; room the bytes never
// filled is given back when the body ends.
const int32_t MaxReservedBody = 64 * 1024 * 1024;

const char* const ChunkedCutText = "The connection closed before the last chunk of the body";

void THttpClient::ReadBody() {
  // The last body's room serves this one: filling it again costs far less
  // than fresh memory. What this body leaves unused is given back below.
  Body.ClearKeepingRoom();
  if (IgnoreAfterHeaders) return;
  try {
    StartDecoding();
    if (KeepAlive && FFraming.Kind == TBodyFraming::None) {
      // No body follows (204, 304): none is waited for on a kept connection.
    } else if (IsChunked()) {
      ReadChunkedBody();
    } else {
      ReadLengthBody();
    }
    FinishDecoding();
  } catch (const EOutOfResources&) {
    // A body too large for memory ("Out of memory"): hand what it took back
    // to the host at once rather than keep a useless part of it.
    AbandonDecoding();
    Body.Clear();
    throw;
  } catch (...) {
    // A body that was not being decoded keeps what came (a decoded one is
    // dropped whole), not the room announced.
    FBodyIncomplete = !FDecoder;
    AbandonDecoding();
    Body.ReleaseUnusedRoom();
    throw;
  }
  Body.ReleaseUnusedRoom();
  if (OnReceiving) OnReceiving(this, static_cast<int>(std::min<int64_t>(Body.Size(), INT_MAX)));
  Body.SetPosition(0);
}

// A body of a known length must arrive whole, whatever the scheme. Over TLS
// a body framed by the end of the stream needs the server's closing alert,
// since a close alone is easily forged; in clear text a close is all there is.
// The length counts the bytes received, compressed or not.
void THttpClient::ReadLengthBody() {
  const int32_t length = ParseContentLength(Headers.GetFieldValue("Content-Length"));
  // Room for the announced length at once (up to a sane bound, since the
  // server's word is not proof): no copying as the body grows.
  if (length > 0 && !FDecoder) {
    Body.Reserve(std::min<int32_t>(length, MaxReservedBody));
    Body.SetExpectedSize(length);
  }
  const int64_t received = ReadBlock(BodyTarget(), length);  // -1 reads until the peer closes
  if (length > 0 && received < length)
    RaiseErrorText("The connection closed after " + std::to_string(received) + " of " + std::to_string(length) +
                   " bytes of the body");
  // An answer that has no body by its status (204, 304) has nothing to cut.
  if (length < 0 && FFraming.Kind != TBodyFraming::None && TlsEndedWithoutAlert())
    RaiseErrorText("The server closed the TLS connection without its closing alert: the body may be cut short");
}

void THttpClient::ReadChunkedBody() {
  // Each pass consumes one size line and its chunk, until the size 0 of the
  // last chunk (its trailer lines are read on a kept connection only). The
  // body's memory bounds the number of chunks.
  for (;;) {
    std::string line;
    ReadLine(line);
    if (line.empty() && LastLineComplete()) ReadLine(line);  // the CR LF after the previous chunk's data
    if (!LastLineComplete()) RaiseErrorText(ChunkedCutText);
    const int32_t size = ParseChunkSize(line);
    if (size < 0) {
      FFramingBroken = true;  // what follows on the connection cannot be trusted
      RaiseErrorText("Malformed chunk size line");
    }
    if (size == 0) {
      // The trailer lines up to the empty line end the body; on a kept
      // connection they belong to it and not to the next answer.
      if (KeepAlive) {
        THeaderList trailers;
        ReadHeaderBlock(trailers);
      }
      break;
    }
    if (ReadBlock(BodyTarget(), size) < size) RaiseErrorText(ChunkedCutText);
  }
}

bool THttpClient::FindRedirect() {
  for (const std::string& entry : Headers.Lines()) {
    if (!StartsWithNoCase(entry, "LOCATION: ")) continue;
    // Read against the URL of the page that sent it (never a proxy's), as
    // servers mean it: "page2.html" from /dir/redir is /dir/page2.html.
    const std::string target = ResolveUrlReference(FWireURL, Trim(entry.substr(10)));
    // A target of another scheme (ftp:, mailto:) cannot be fetched here; as a
    // path on this server it would be some other page.
    if (!StartsWithNoCase(target, "HTTP://") && !StartsWithNoCase(target, "HTTPS://"))
      RaiseErrorText("The redirect leads to a URL that is not http or https: " + target);
    FRedirURL = target;
    RequestURI.clear();
    RequestMethod.clear();
    return true;
  }
  return false;
}

bool THttpClient::SendsBody(const std::string& Method) {
  const std::string method = AsciiUpperCase(Method);
  return method == "POST" || method == "PUT" || method == "PATCH";
}
