// Failures at the COM boundary. A member's failure reaches the client as
// error information (description = the failure's message) and an HRESULT:
// E_UNEXPECTED, E_OUTOFMEMORY for memory, or the failure's own code when it
// carries one.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "codecs/Exception.h"

// A failure that carries its own (negative) HRESULT.
class EOleSysError : public Exception {
public:
  EOleSysError(const std::string& message, HRESULT errorCode)
      : Exception(message), errorCode_(errorCode) {}
  HRESULT ErrorCode() const { return errorCode_; }

private:
  HRESULT errorCode_;
};

// Where a failure is reported from: the interface and the programmatic
// identifier that the error information names.
struct TErrorOrigin {
  GUID Interface;
  std::wstring Source;
};

// Hands error information to the platform (SetErrorInfo) and returns code,
// which is returned without error information when none can be created.
HRESULT ReportComError(const TErrorOrigin& origin, const std::string& message,
                       HRESULT code = E_UNEXPECTED);

// Drops the thread's error information, so that a member's result never
// comes with a description left by an earlier failure.
inline void ClearComError() { SetErrorInfo(0, nullptr); }

// Reports the exception being handled; call only inside a catch block.
HRESULT ReportCurrentException(const TErrorOrigin& origin);

// The message of the exception being handled, for members that report their
// failures as text; call only inside a catch block.
std::string DescribeCurrentException();
