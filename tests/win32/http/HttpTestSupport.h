// Helpers shared by the HTTP client's network tests: the loopback servers'
// ports (exported by tests/servers/servers.sh) and small file helpers.
#pragma once

#include "codecs/WordUtils.h"
#include "http/HttpClient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// The port a test server listens on, from the environment; empty when unset
// (the test then fails with the variable's name).
inline std::string ServerPort(const char* variable) {
  const char* value = std::getenv(variable);
  return value ? value : "";
}

#define REQUIRE_PORT(var, name)                                                                  \
  const std::string var = ServerPort(name);                                                     \
  ASSERT_FALSE(var.empty()) << name << " is not set: start the servers with tests/servers/servers.sh"

// A TLS server's URL: its certificates name localhost, not the address.
inline std::string TlsUrl(const std::string& port, const std::string& path) {
  return "https://localhost:" + port + path;
}

// The site's big.bin (4 MiB) and big32.bin (32 MiB) pattern: byte i of
// 256-byte block b is (i + b) mod 256.
inline ::testing::AssertionResult IsSitePattern(const std::string& data, size_t size) {
  if (data.size() != size) return ::testing::AssertionFailure() << "size " << data.size();
  for (size_t k = 0; k < data.size(); ++k) {
    const unsigned char expected = static_cast<unsigned char>((k % 256 + k / 256) % 256);
    if (static_cast<unsigned char>(data[k]) != expected)
      return ::testing::AssertionFailure() << "byte " << k << " differs";
  }
  return ::testing::AssertionSuccess();
}

// The body of the TLS scenarios tls-body and tls-until-close (and the
// /tls/ routes built on them): "0123456789" 10000 times.
inline std::string TlsScenarioDigits() {
  std::string digits;
  for (int i = 0; i < 10000; ++i) digits += "0123456789";
  return digits;
}

// The whole content of a file; empty when it cannot be read. Bounded by the file's size.
inline std::string ReadWholeFile(const std::string& name) {
  std::string data;
  if (FILE* f = std::fopen(name.c_str(), "rb")) {
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) data.append(buffer, n);
    std::fclose(f);
  }
  return data;
}

inline bool FileExists(const std::string& name) {
  if (FILE* f = std::fopen(name.c_str(), "rb")) {
    std::fclose(f);
    return true;
  }
  return false;
}

// Replaces every "%P" of the text with the port.
inline std::string WithPort(std::string text, const std::string& port) {
  for (size_t at; (at = text.find("%P")) != std::string::npos;) text.replace(at, 2, port);
  return text;
}

inline std::string BodyText(const THttpClient& c) { return c.Body.ToString(); }


// A client with a short time-out, so that a fault shows as a failure in
// seconds rather than a minute.
inline void PrepareClient(THttpClient& c, int timeOutSeconds = 15) { c.SetTimeOut(timeOutSeconds); }
