// The reuse decision (framing, persistence, idle limit) and the decoding of
// compressed bodies, both from data alone: header blocks and zlib streams
// made here.
#include "http/ConnectionReuse.h"
#include "http/ContentDecoding.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

THeaderList Block(const std::vector<std::string>& lines) {
  THeaderList headers;
  for (const std::string& line : lines) headers.Add(line);
  headers.Add("");
  return headers;
}

struct ReuseCase {
  std::vector<std::string> lines;
  int status;
  bool head;
  TBodyFraming framing;
  bool keeps;
};

TEST(ConnectionReuse, FramingAndPersistence) {
  const TBodyFraming None = TBodyFraming::None, Length = TBodyFraming::Length,
                     Chunked = TBodyFraming::Chunked, Close = TBodyFraming::UntilClose;
  const std::vector<ReuseCase> cases = {
      {{"HTTP/1.1 200 OK", "Content-Length: 5"}, 200, false, Length, true},
      {{"HTTP/1.1 200 OK", "Content-Length: 5", "Connection: close"}, 200, false, Length, false},
      {{"HTTP/1.1 200 OK", "Content-Length: 5", "connection: Keep-Alive, CLOSE"}, 200, false, Length, false},
      {{"HTTP/1.0 200 OK", "Content-Length: 5"}, 200, false, Length, false},
      {{"HTTP/1.0 200 OK", "Content-Length: 5", "Connection: keep-alive"}, 200, false, Length, true},
      {{"HTTP/1.1 200 OK"}, 200, false, Close, false},
      {{"HTTP/1.1 200 OK", "Transfer-Encoding: chunked"}, 200, false, Chunked, true},
      {{"HTTP/1.1 200 OK", "Transfer-Encoding: gzip, chunked"}, 200, false, Chunked, true},
      {{"HTTP/1.1 200 OK", "Transfer-Encoding: chunked, gzip"}, 200, false, Close, false},
      // Both framings, or two lengths: the body is read, the connection not trusted.
      {{"HTTP/1.1 200 OK", "Content-Length: 5", "Transfer-Encoding: chunked"}, 200, false, Chunked, false},
      {{"HTTP/1.1 200 OK", "Content-Length: 5", "Content-Length: 6"}, 200, false, Length, false},
      {{"HTTP/1.1 200 OK", "Content-Length: 5, 5"}, 200, false, Length, true},
      {{"HTTP/1.1 200 OK", "Content-Length: 5", "Content-Length: 5"}, 200, false, Length, true},
      {{"HTTP/1.1 200 OK", "Content-Length: five"}, 200, false, Close, false},
      {{"HTTP/1.1 204 No Content"}, 204, false, None, true},
      {{"HTTP/1.1 304 Not Modified"}, 304, false, None, true},
      {{"HTTP/1.1 200 OK", "Content-Length: 100"}, 200, true, None, true},
      {{"HTTP/2 200"}, 200, false, Close, false},
      {{"garbage"}, -1, false, Close, false},
  };
  for (const ReuseCase& rc : cases) {
    const THeaderList headers = Block(rc.lines);
    const TResponseFraming framing = DecideFraming(headers, rc.status, rc.head);
    EXPECT_EQ(framing.Kind, rc.framing) << headers.Text();
    EXPECT_EQ(ResponseKeepsConnection(headers, framing), rc.keeps) << headers.Text();
  }
  EXPECT_TRUE(IsInterimStatus(100));
  EXPECT_TRUE(IsInterimStatus(103));
  EXPECT_FALSE(IsInterimStatus(101));  // switching protocols is final
  EXPECT_FALSE(IsInterimStatus(200));
}

TEST(ConnectionReuse, IdleLimit) {
  EXPECT_EQ(KeepAliveIdleLimitMs(Block({"HTTP/1.1 200 OK"})), DefaultKeepIdleMs);
  EXPECT_EQ(KeepAliveIdleLimitMs(Block({"HTTP/1.1 200 OK", "Keep-Alive: timeout=5, max=100"})), 5000u);
  EXPECT_EQ(KeepAliveIdleLimitMs(Block({"HTTP/1.1 200 OK", "keep-alive: MAX=3, Timeout = 7"})), DefaultKeepIdleMs);
  EXPECT_EQ(KeepAliveIdleLimitMs(Block({"HTTP/1.1 200 OK", "Keep-Alive: max=3, timeout=7"})), 7000u);
  EXPECT_EQ(KeepAliveIdleLimitMs(Block({"HTTP/1.1 200 OK", "Keep-Alive: timeout=-1"})), DefaultKeepIdleMs);
  EXPECT_EQ(KeepAliveIdleLimitMs(Block({"HTTP/1.1 200 OK", "Keep-Alive: timeout=99999999"})), 3600u * 1000);

  TKeptConnection kept;
  EXPECT_FALSE(kept.Fresh(0));
  kept.Hold(TKeptConnection::KeyOf(false, "Host:80", "host:80"), 1000, 5000);
  EXPECT_EQ(kept.Key(), TKeptConnection::KeyOf(false, "host:80", "HOST:80"));
  EXPECT_NE(kept.Key(), TKeptConnection::KeyOf(true, "host:80", "host:80"));
  EXPECT_TRUE(kept.Fresh(1000 + 3999));
  EXPECT_FALSE(kept.Fresh(1000 + 4000));  // a second short of the server's limit
  kept.Hold(kept.Key(), 0xFFFFFF00u, 5000);
  EXPECT_TRUE(kept.Fresh(0x100));  // across the tick count's wrap
  kept.Hold(kept.Key(), 0, 1000);
  EXPECT_TRUE(kept.Fresh(499));
  EXPECT_FALSE(kept.Fresh(500));
  kept.Release();
  EXPECT_FALSE(kept.Fresh(0));
}

std::string Compress(const std::string& data, int windowBits) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, data.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// Decodes data fed in pieces of the given size; the failure's text, if any.
std::string Decode(TContentCoding coding, const std::string& data, size_t piece, std::string& out) {
  out.clear();
  try {
    TContentDecoder decoder(coding, [&](const char* d, size_t n) { out.append(d, n); });
    for (size_t at = 0; at < data.size(); at += piece) decoder.Feed(data.data() + at, std::min(piece, data.size() - at));
    decoder.Finish();
  } catch (const EContentDecodingError& e) {
    return e.Message();
  }
  return "";
}

TEST(ContentDecoding, Codings) {
  EXPECT_EQ(ParseContentCoding(""), TContentCoding::Identity);
  EXPECT_EQ(ParseContentCoding(" Identity "), TContentCoding::Identity);
  EXPECT_EQ(ParseContentCoding("GZIP"), TContentCoding::Gzip);
  EXPECT_EQ(ParseContentCoding("x-gzip"), TContentCoding::Gzip);
  EXPECT_EQ(ParseContentCoding("Deflate"), TContentCoding::Deflate);
  EXPECT_EQ(ParseContentCoding("br"), TContentCoding::Other);
  EXPECT_EQ(ParseContentCoding("gzip, deflate"), TContentCoding::Other);
}

TEST(ContentDecoding, WrappingsAndDamage) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + " of a compressible text\n";
  const std::string gzip = Compress(text, 16 + 15), zlib = Compress(text, 15), raw = Compress(text, -15);
  const std::string prefix = "The compressed body could not be decoded: ";
  struct Case {
    TContentCoding coding;
    std::string data;
    std::string error;  // empty: decodes to text
  };
  std::string flipped = gzip;
  flipped[flipped.size() - 8] ^= 0x55;  // the CRC
  const std::vector<Case> cases = {
      {TContentCoding::Gzip, gzip, ""},
      {TContentCoding::Gzip, gzip + gzip, "twice"},  // two members decode end to end
      {TContentCoding::Deflate, zlib, ""},
      {TContentCoding::Deflate, raw, ""},
      {TContentCoding::Gzip, flipped, prefix + "incorrect data check"},
      {TContentCoding::Gzip, gzip.substr(0, gzip.size() - 1), prefix + "the data ends before the end of the compressed stream"},
      {TContentCoding::Gzip, gzip + "x", prefix + "bytes follow the end of the compressed data"},
      {TContentCoding::Deflate, zlib + "\x1f\x8b", prefix + "bytes follow the end of the compressed data"},
      {TContentCoding::Gzip, "not gzip at all", prefix + "incorrect header check"},
      {TContentCoding::Deflate, "x", prefix + "the data ends before the end of the compressed stream"},
      {TContentCoding::Gzip, "", "empty"},
  };
  for (const Case& c : cases) {
    for (size_t piece : {size_t(1), size_t(7), size_t(1 << 20)}) {
      std::string out;
      const std::string error = Decode(c.coding, c.data, piece, out);
      if (c.error == "twice") {
        EXPECT_EQ(error, "");
        EXPECT_EQ(out, text + text);
      } else if (c.error == "empty") {
        EXPECT_EQ(error, "");
        EXPECT_EQ(out, "");
      } else if (c.error.empty()) {
        EXPECT_EQ(error, "");
        EXPECT_EQ(out, text);
      } else {
        EXPECT_EQ(error, c.error) << "piece " << piece;
      }
    }
  }
}

// Output comes in bounded pieces however much one input byte expands to.
TEST(ContentDecoding, ExpansionComesInPieces) {
  const std::string zeros(64 * 1024 * 1024, '\0');
  const std::string gzip = Compress(zeros, 16 + 15);
  size_t largest = 0, total = 0;
  TContentDecoder decoder(TContentCoding::Gzip, [&](const char*, size_t n) {
    largest = std::max(largest, n);
    total += n;
  });
  decoder.Feed(gzip.data(), gzip.size());
  decoder.Finish();
  EXPECT_EQ(total, zeros.size());
  EXPECT_LE(largest, 256u * 1024);
  EXPECT_EQ(decoder.DecodedSize(), zeros.size());
}

}  // namespace
