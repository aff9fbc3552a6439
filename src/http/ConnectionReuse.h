// Whether a connection may serve the next request: how a response's body is
// framed, whether the response lets the connection live on, and how long a
// kept connection may stay idle. Plain C++ without sockets (times are
// passed in as milliseconds), so that the native tests and the fuzzers reach
// it; THttpClient asks it after each response and before each request.
#pragma once

#include "codecs/HeaderList.h"

#include <cstdint>
#include <string>

enum class TBodyFraming {
  None,        // no body: HEAD, 1xx, 204, 304
  Length,      // Content-Length bytes
  Chunked,     // chunked transfer coding
  UntilClose,  // everything until the server closes
};

struct TResponseFraming {
  TBodyFraming Kind = TBodyFraming::UntilClose;
  int32_t Length = -1;  // for Length
  // The header lines contradict each other (Content-Length beside
  // Transfer-Encoding, or two different Content-Length values): the body is
  // read as RFC 9112 says, but what follows it cannot be trusted.
  bool Ambiguous = false;
};

// The framing of a response with this status code (of the request's method)
// and these header lines. Transfer-Encoding wins over Content-Length; a
// Transfer-Encoding whose last coding is not chunked reads until the close.
TResponseFraming DecideFraming(const THeaderList& Headers, int Status, bool HeadRequest);

// An interim answer (100 Continue, 103 Early Hints) that a final one follows.
bool IsInterimStatus(int Status);

// The response lets the connection serve another request: an HTTP/1.1 answer
// without "Connection: close", or an HTTP/1.0 answer with "Connection:
// keep-alive"; and its framing is known and unambiguous.
bool ResponseKeepsConnection(const THeaderList& Headers, const TResponseFraming& Framing);

// Longest idle time of a kept connection when the server gives no hint.
constexpr uint32_t DefaultKeepIdleMs = 30 * 1000;

// How long the server keeps an idle connection, from its "Keep-Alive:
// timeout=N" hint; DefaultKeepIdleMs without one.
uint32_t KeepAliveIdleLimitMs(const THeaderList& Headers);

// A connection kept open after a response: where it goes and when it was
// left idle.
class TKeptConnection {
public:
  // Key: scheme, the host and port connected to (the proxy's, if any), and
  // the origin server behind it.
  static std::string KeyOf(bool Secure, const std::string& Server, const std::string& Origin);

  bool Held() const { return FHeld; }
  const std::string& Key() const { return FKey; }
  void Hold(const std::string& Key, uint32_t NowMs, uint32_t IdleLimitMs);
  void Release() { FHeld = false; }
  // The connection may still be used: idle for less than the server's limit
  // (less a margin, since the server's own clock started first).
  bool Fresh(uint32_t NowMs) const;

private:
  bool FHeld = false;
  std::string FKey;
  uint32_t FIdleSince = 0;
  uint32_t FIdleLimit = 0;
};
