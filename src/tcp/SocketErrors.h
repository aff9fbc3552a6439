// The connection's error types and the message table behind every error text.
#pragma once

#include "codecs/Exception.h"

#include <cstdint>
#include <string>

// A failure of the socket library or of the connection itself; the message is
// the table's text for the code (as the OnError handler left it).
class ESocketError : public Exception {
public:
  explicit ESocketError(const std::string& message, int code = 0) : Exception(message), FCode(code) {}
  int ErrorCode() const { return FCode; }

private:
  int FCode;
};

class ETimedOutError : public Exception {
public:
  ETimedOutError() : Exception("Operation timed out") {}
};

class ECanceledError : public Exception {
public:
  ECanceledError() : Exception("Operation has been canceled") {}
};

// The connection's own codes; below 57000 are the socket library's.
enum TSocketErrorCode : uint16_t {
  ErrTimedOut = 57000,
  ErrCanceled = 57001,
  ErrServerRequired = 57002,
  ErrInvalidWinsockVersion = 57003,
  ErrResolvingHost = 57004,
  ErrServiceRequired = 57005,
  ErrProxyPortRequired = 57006,
  ErrInvalidURL = 57007,
  ErrNotConnected = 57008,
  ErrWinsockNotFound = 57010,
  ErrWinsockNotLoaded = 57011,
  ErrFunctionNotFound = 57012,
  ErrHostNameTooLong = 57013,
  ErrLineTooLong = 57014,
};

// The table's text for a code; "Error #" and the code in decimal when the
// table has none. Library codes read "[code] description".
std::string SocketErrorText(int code);
