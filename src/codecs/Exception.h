// Error types shared by every layer. Failures are exceptions carrying the
// system's own message text; the automation boundary turns them into results.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Text that does not convert to a number.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// File input/output failures.
class EInOutError : public Exception {
public:
  using Exception::Exception;
};

// A system resource (window, timer, memory) could not be had.
class EOutOfResources : public Exception {
public:
  using Exception::Exception;
};
