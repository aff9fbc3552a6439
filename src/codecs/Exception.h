// Error types shared by every layer. Failures are exceptions carrying the
// system's own message text; the automation boundary turns them into results.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& message) : std::runtime_error(message), message_(message) {}
  // The whole message, including any NUL byte it holds (what() stops there).
  const std::string& Message() const { return message_; }

private:
  std::string message_;
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
