// Fuzzes the decoding of compressed bodies and the reuse decision. The input
// is decoded as gzip and as deflate, fed whole and in pieces of its first
// byte's size: both ways give the same bytes or the same failure, and
// nothing but EContentDecodingError leaves the decoder. The input's lines
// are also a header block whose framing and persistence are decided: a
// response kept open always has a known, unambiguous framing.
#include "FuzzSupport.h"
#include "codecs/StringList.h"
#include "http/ConnectionReuse.h"
#include "http/ContentDecoding.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

std::string Decode(TContentCoding coding, const uint8_t* data, size_t size, size_t piece, std::string& out) {
  out.clear();
  try {
    TContentDecoder decoder(coding, [&](const char* d, size_t n) {
      out.append(d, n);
      Check(out.size() <= 64 * 1024 * 1024, "bounded output");
    });
    for (size_t at = 0; at < size; at += piece)
      decoder.Feed(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
    decoder.Finish();
  } catch (const EContentDecodingError& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t piece = size > 0 ? std::max<size_t>(1, data[0] % 17) : 1;
  for (TContentCoding coding : {TContentCoding::Gzip, TContentCoding::Deflate}) {
    std::string whole, pieces;
    const std::string error = Decode(coding, data, size, size + 1, whole);
    Check(Decode(coding, data, size, piece, pieces) == error, "pieces change the verdict");
    if (error.empty()) Check(whole == pieces, "pieces change the bytes");
  }

  THeaderList headers;
  headers.SetText(std::string(reinterpret_cast<const char*>(data), size));
  const int status = headers.Count() > 0 ? static_cast<int>(headers[0].size()) % 600 : -1;
  const TResponseFraming framing = DecideFraming(headers, status, size % 2 == 0);
  if (ResponseKeepsConnection(headers, framing)) {
    Check(!framing.Ambiguous, "an ambiguous framing kept");
    Check(framing.Kind != TBodyFraming::UntilClose, "a body until the close kept");
  }
  KeepAliveIdleLimitMs(headers);
  return 0;
}
