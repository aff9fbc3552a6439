// Decoding a compressed response body (Content-Encoding gzip, x-gzip or
// deflate) as its bytes arrive, with zlib. Plain C++ without sockets, so that
// the native tests and the fuzzers reach it; THttpClient feeds it the bytes it
// receives and hands the decoded bytes on to the body or a file.
#pragma once

#include "codecs/Exception.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

enum class TContentCoding {
  Identity,  // no Content-Encoding, or "identity"
  Gzip,      // "gzip" or "x-gzip"
  Deflate,   // "deflate": zlib-wrapped, or raw deflate as some servers send it
  Other,     // anything else (a list of codings included): returned as received
};

// The coding a Content-Encoding value names; letter case and blanks around it
// do not matter.
TContentCoding ParseContentCoding(const std::string& value);

// Corrupt, truncated or over-long compressed data. The message reads "The
// compressed body could not be decoded: " and the reason.
class EContentDecodingError : public Exception {
public:
  explicit EContentDecodingError(const std::string& reason);
};

class TContentDecoder {
public:
  // Receives each piece of decoded bytes; may throw, which ends the decoding.
  using TOutput = std::function<void(const char* Data, size_t Size)>;

  // Coding is Gzip or Deflate.
  TContentDecoder(TContentCoding Coding, TOutput Output);
  ~TContentDecoder();
  TContentDecoder(const TContentDecoder&) = delete;
  TContentDecoder& operator=(const TContentDecoder&) = delete;

  // Decodes the next Size bytes of the compressed body. Raises
  // EContentDecodingError for corrupt data, a bad checksum, or bytes after the
  // end of the compressed data (other than a further gzip member).
  void Feed(const char* Data, size_t Size);
  // The body has ended: raises EContentDecodingError unless the compressed
  // data was complete.
  void Finish();
  // Decoded bytes handed out so far.
  unsigned long long DecodedSize() const { return FDecoded; }

private:
  struct TState;
  void Start(bool rawDeflate);
  void Inflate(const unsigned char* data, size_t size);

  TContentCoding FCoding;
  TOutput FOutput;
  std::unique_ptr<TState> FState;
  std::string FHead;         // the first bytes of a deflate body, until its wrapping is known
  bool FStarted = false;     // the inflater is set up
  bool FStreamEnded = false; // the last member's end was seen
  unsigned long long FDecoded = 0;
};
