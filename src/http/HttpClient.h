// THttpClient: an HTTP/1.0 client on top of TTcpConnection. It splits a URL
// (http or https) into server, path and file name, routes requests through an
// optional proxy (https through a CONNECT tunnel), runs TLS for https,
// composes and sends the request line by line, reads the status line, the
// header lines and the body (by Content-Length, chunked coding or until the
// peer closes), saves the result on request and follows Location redirects.
//
// Execute is the one entry point for callers: it never lets an exception out
// and reports a failure as false plus the message in LastError. HTTP status
// codes are not failures; whatever the server answers is kept.
#pragma once

#include "codecs/HeaderList.h"
#include "codecs/MemoryStream.h"
#include "codecs/StringList.h"
#include "http/ConnectionReuse.h"
#include "http/ContentDecoding.h"
#include "http/CookieStore.h"
#include "http/OriginRule.h"
#include "tcp/TcpConnection.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

class THttpClient : public TTcpConnection {
public:
  using TReceivingEvent = std::function<void(TObject* Sender, int intTotal)>;
  using TRedirectEvent = std::function<void(TObject* Sender)>;

  // Redirects one Execute follows; the next one fails the call.
  static constexpr int MaxRedirects = 20;
  // Bounds of one response's header block (status line included).
  static constexpr int MaxHeaderLines = 10000;
  static constexpr size_t MaxHeaderBytes = 1024 * 1024;

  explicit THttpClient(TComponent* AOwner = nullptr);
  ~THttpClient() override;

  // Published properties with their own writers.
  const std::string& URL() const { return FURL; }
  // Raises ESocketError "Invalid URL" unless the text starts with "http://"
  // or "https://" (any case) and is free of CR, LF and NUL; nothing changes then.
  // Its origin is the one the server's credentials go to (OriginRule.h),
  // whatever origins the redirects of an Execute lead to.
  void SetURL(const std::string& Value);
  // SetURL without taking the URL's origin for the credentials: a redirect's
  // target (also set again by the object in another text form).
  void ApplyURL(const std::string& Value);
  // The URL's scheme is https.
  bool Secure() const { return FSecure; }
  const std::string& Proxy() const { return FProxy; }
  // "host:port", or empty for none. Raises ESocketError "Proxy port is
  // required" for a value without ":"; nothing changes then.
  void SetProxy(const std::string& Value);
  const std::string& RedirURL() const { return FRedirURL; }

  // Published plain properties (Server, DefaultPort and TimeOut are inherited).
  std::string Accept = "*/*";
  bool FollowRedirects = true;
  std::string PostData;      // the body of a POST, PUT or PATCH
  int ThreadID = 0;          // stored only
  std::string Protocol;      // replaces "HTTP/1.0" in the request line when set
  std::string RequestMethod = "GET";
  std::string RequestURI;    // request target; set from the URL's path
  std::string UserAgent;
  std::string AuthentHeader; // "user:password" for the server's Basic authorization
  TStringList ExtraHeaders;  // further request lines, sent unchanged
  std::string HostName;      // the origin server ("host[:port]") of the URL
  std::string LastError;     // message of the failure that ended the last Execute
  std::string SaveToFile;    // receives the body (HEAD: the header lines) after an exchange
  std::string ProxyPassword; // "user:password" for the proxy's Basic authorization
  bool IgnoreAfterHeaders = false;
  // Opt-in behaviours, all off by default.
  bool KeepAlive = false;    // keep the connection for the next request to the same server
  bool Compression = false;  // ask for a compressed body and decode it
  bool KeepCookies = false;  // store the answers' cookies and send them back
  // URLs (and redirect targets) are UTF-8: a non-ASCII host name goes out in
  // its IDNA form. Set before SetURL.
  bool Utf8Urls = false;

  // Not published: read and written by the automation object.
  const std::string& ContentType() const { return FContentType; }
  void SetContentType(const std::string& Value);
  const std::string& FileName() const { return FFileName; }
  const std::string& URLPath() const { return FURLPath; }
  THeaderList Headers;  // the last response's lines
  TMemoryStream Body;   // the last response's body
  // The cookies kept between requests; filled and sent only with KeepCookies.
  TCookieStore Cookies;

  // Events, each fired only when assigned.
  TReceivingEvent OnReceiving;
  TNotifyEvent OnSending;
  TNotifyEvent OnQuerySent;
  TRedirectEvent OnRedirect;
  TNotifyEvent OnRecvdHeaders;
  TNotifyEvent OnSetExtraHeaders;

  // KeepAlive's writer: turning it off closes a kept connection at once.
  void SetKeepAlive(bool Value);
  // TrustedCertificates' writer: another list closes a kept connection, whose
  // certificate was accepted under the old one.
  void SetTrustedCertificates(const std::vector<std::string>& Digests);
  // A file that a compressed body is decoded into as it arrives, instead of
  // Body (which then stays empty): a body that expands without bound never
  // has to fit in memory. Other bodies go to Body as usual. Named in UTF-8.
  std::string DecodedBodyFile;
  // The last body went to DecodedBodyFile.
  bool BodyInFile() const { return FBodyInFile; }
  // Most decoded bytes held in Body; a larger body fails the exchange.
  static constexpr int64_t MaxDecodedBody = 256LL * 1024 * 1024;

  // Runs the exchange and follows redirects; true when the last exchange
  // completed, else false with the message in LastError.
  bool Execute();
  // One exchange, on the kept connection when it serves (KeepAlive), else on
  // a fresh one; raises on failure.
  void Transact();
  // Raises ESocketError "Invalid request header value in <member>" when a
  // value would break its request line or header line (CR, LF, NUL) or the
  // extra lines hold a blank line or a NUL; <member> is the script's name for
  // it (AddExtraHeader for ExtraHeaders). Values stay as they are.
  void CheckRequestHeaderValues();
  // Composes and sends the request on the open connection.
  void SendRequest();
  // Reads the status line and header lines into Headers; returns the status
  // code, -1 when the status line carries none.
  int ReadHeaders();
  bool IsChunked();
  // Empties Body and reads the response body into it. A body that ends
  // before its length, its last chunk or (under TLS, framed by the end of the
  // stream) the server's closing alert raises, as does a malformed chunk-size line.
  void ReadBody();
  // The last exchange failed while its body arrived (closed early, a
  // malformed chunk, a time-out...): Body holds the bytes that came.
  bool BodyIncomplete() const { return FBodyIncomplete; }
  // Looks for a Location line; on success sets RedirURL to its target, read
  // against the URL answered (RFC 3986 section 5), and empties RequestURI and
  // RequestMethod so that the next request is a GET. Raises when the target
  // is not an http or https URL.
  bool FindRedirect();
  // The methods that send PostData, with Content-Type and Content-Length:
  // POST, PUT and PATCH, in any case.
  static bool SendsBody(const std::string& Method);

  // Default port of https URLs.
  static constexpr uint16_t HttpsPort = 443;

  // Standard Base64 without line breaks, for Basic credentials of any length.
  static std::string EncodeBase64(const std::string& Text);

protected:
  void BlockArrived(TMemoryStream& Stream) override;

private:
  void ReadLengthBody();
  void ReadChunkedBody();
  // Reads lines into Lines up to and including the empty line, within the
  // bounds of a header block.
  void ReadHeaderBlock(THeaderList& Lines);
  // Asks the proxy for a tunnel to the origin server; raises unless it agrees.
  void OpenTunnel();
  // The origin server's host and port, the port always written.
  std::string OriginAuthority() const;
  void SaveResult();
  // The authority of a URL ("host[:port]" as written), a non-ASCII host name
  // in its IDNA form when URLs are UTF-8; raises "Invalid URL" when the name
  // has none.
  std::string WireAuthority(const std::string& authority);
  // With KeepCookies: the Cookie line of the stored cookies that go with this
  // request, and the storing of the answer's Set-Cookie lines.
  TCookieRequest CookieRequest() const;
  void SendCookieLine();
  void StoreResponseCookies();

  // Kept connections (HttpKeepAlive.cpp).
  // Opens and connects a fresh connection: tunnel and TLS for https.
  void OpenConnection();
  // The kept connection, when it can serve this request; any other is closed.
  bool TakeKeptConnection();
  // Sends the request and reads the final answer's header block; a request
  // whose kept connection fails before any byte of the answer is sent once
  // more on a fresh one.
  void SendAndReadHead(bool Reused);
  // ReadHeaders, passing over interim answers (1xx) when keeping connections.
  void ReadResponseHead();
  // Keeps the connection after a complete exchange, or closes it.
  void FinishExchange();
  bool ConnectionReusable();
  void CloseKeptConnection(const std::string& Why);
  std::string ConnectedAuthority() const;

  // Compressed bodies (HttpDecoding.cpp).
  // Where the body's bytes go as they are received: the compressed bytes
  // wait in FRawBody for the decoder.
  TMemoryStream& BodyTarget() { return FDecoder ? FRawBody : Body; }
  void StartDecoding();
  void DecodeRawBody();
  void FinishDecoding();
  void AbandonDecoding();
  void WriteDecoded(const char* Data, size_t Size);

  std::string FURL;
  std::string FWireURL;  // FURL with the host as it goes out (proxied request lines)
  std::string FProxy;
  std::string FRedirURL;
  std::string FContentType = "application/x-www-form-urlencoded";
  std::string FFileName;
  std::string FURLPath;
  bool FSecure = false;
  TOrigin FCredentialsOrigin;  // of the URL the script set
  bool FBodyIncomplete = false;

  TKeptConnection FKept;
  std::string FKeptAuthority;  // "host:port" of the kept connection, for the log
  TResponseFraming FFraming;  // of the last response
  bool FFramingBroken = false;  // a chunked body whose framing failed
  std::unique_ptr<TContentDecoder> FDecoder;
  TMemoryStream FRawBody;
  FILE* FDecodedFile = nullptr;
  bool FBodyInFile = false;
};
