// Shared by the fuzz targets. A broken invariant aborts, so that libFuzzer
// keeps the input as a crash file just as for a sanitizer finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void Fail(const char* what) {
  fprintf(stderr, "invariant broken: %s\n", what);
  abort();
}

inline void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

// Every byte as a quoted-printable escape ("=" and two hex digits), which
// the decoders must turn back into the bytes.
inline std::string EscapedQuotedPrintable(const std::string& bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += '=';
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}
