#include "http/ContentDecoding.h"

#include "codecs/TextHelpers.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

// Decoded bytes made per call of the inflater: large enough that the calls
// cost nothing beside the work, small enough to stay in the cache.
const size_t OutputPiece = 256 * 1024;

// A zlib stream begins with a method byte of deflate (8) and a window of at
// most 32 KB, and its first two bytes make a multiple of 31; raw deflate
// data meets all three only by chance, and then its first block would not
// decode, which the decoder reports.
bool IsZlibHeader(unsigned char first, unsigned char second) {
  return (first & 0x0F) == 8 && (first >> 4) <= 7 && ((first << 8) | second) % 31 == 0;
}

}  // namespace

TContentCoding ParseContentCoding(const std::string& value) {
  const std::string coding = AsciiLowerCase(Trim(value));
  if (coding.empty() || coding == "identity") return TContentCoding::Identity;
  if (coding == "gzip" || coding == "x-gzip") return TContentCoding::Gzip;
  if (coding == "deflate") return TContentCoding::Deflate;
  return TContentCoding::Other;
}

EContentDecodingError::EContentDecodingError(const std::string& reason)
    : Exception("The compressed body could not be decoded: " + reason) {}

struct TContentDecoder::TState {
  z_stream Stream{};
  std::vector<unsigned char> Output;
  ~TState() { inflateEnd(&Stream); }
};

TContentDecoder::TContentDecoder(TContentCoding Coding, TOutput Output)
    : FCoding(Coding), FOutput(std::move(Output)) {}

TContentDecoder::~TContentDecoder() = default;

void TContentDecoder::Start(bool rawDeflate) {
  std::unique_ptr<TState> state(new TState);
  // 16 + 15: a gzip wrapper with the largest window; -15: raw deflate.
  const int windowBits = FCoding == TContentCoding::Gzip ? 16 + MAX_WBITS : rawDeflate ? -MAX_WBITS : MAX_WBITS;
  if (inflateInit2(&state->Stream, windowBits) != Z_OK) {
    // inflateEnd must not run on a stream that was never set up.
    state.release();
    throw EContentDecodingError("the decoder could not be set up");
  }
  state->Output.resize(OutputPiece);
  FState = std::move(state);
  FStarted = true;
}

void TContentDecoder::Feed(const char* Data, size_t Size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(Data);
  if (!FStarted && FCoding == TContentCoding::Deflate) {
    // Two bytes tell a zlib wrapper from raw deflate.
    const size_t take = std::min(Size, 2 - FHead.size());
    FHead.append(Data, take);
    bytes += take;
    Size -= take;
    if (FHead.size() < 2) return;
    const auto* head = reinterpret_cast<const unsigned char*>(FHead.data());
    Start(!IsZlibHeader(head[0], head[1]));
    Inflate(head, 2);
  } else if (!FStarted) {
    if (Size == 0) return;
    Start(false);
  }
  Inflate(bytes, Size);
}

void TContentDecoder::Inflate(const unsigned char* data, size_t size) {
  z_stream& stream = FState->Stream;
  // Bounded: each pass consumes input or makes output, and ends when the
  // input is used up and the output piece was not filled.
  while (size > 0) {
    if (FStreamEnded) {
      // Only a further gzip member may follow the end of one: a body of
      // several members decodes to their contents end to end.
      if (FCoding != TContentCoding::Gzip || data[0] != 0x1F)
        throw EContentDecodingError("bytes follow the end of the compressed data");
      inflateReset(&stream);
      FStreamEnded = false;
    }
    const uInt chunk = static_cast<uInt>(std::min<size_t>(size, UINT_MAX));
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = chunk;
    int status;
    do {
      stream.next_out = FState->Output.data();
      stream.avail_out = static_cast<uInt>(FState->Output.size());
      status = inflate(&stream, Z_NO_FLUSH);
      if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_MEM_ERROR || status == Z_STREAM_ERROR)
        throw EContentDecodingError(stream.msg ? stream.msg : status == Z_MEM_ERROR ? "out of memory" : "corrupt data");
      const size_t made = FState->Output.size() - stream.avail_out;
      if (made > 0) {
        FDecoded += made;
        FOutput(reinterpret_cast<const char*>(FState->Output.data()), made);
      }
      // Z_BUF_ERROR: no progress was possible, the input is used up.
    } while (status == Z_OK && stream.avail_out == 0);
    const size_t used = chunk - stream.avail_in;
    data += used;
    size -= used;
    if (status == Z_STREAM_END) {
      FStreamEnded = true;
    } else if (used == 0 && stream.avail_in > 0) {
      throw EContentDecodingError("corrupt data");  // no progress on input: never loop on it
    }
  }
}

void TContentDecoder::Finish() {
  // An empty body is an empty result, whatever its coding says.
  if (!FStarted && FHead.empty()) return;
  if (!FStarted || !FStreamEnded) throw EContentDecodingError("the data ends before the end of the compressed stream");
}
