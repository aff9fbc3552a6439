// Fuzzes the charset codecs and the charset choice. For every input:
// - measuring UTF-8 counts exactly the units decoding writes, and says valid
//   exactly when no U+FFFD was made for invalid bytes; the fast count agrees
//   for valid text, and decoding bounded by it never writes past its room;
// - decoding in two pieces split where Utf8PieceStart allows gives what the
//   whole gives (the parallel conversion relies on it), and the same for
//   UTF-16 bytes of either order with Utf16PieceStart;
// - UTF-16 back to UTF-8 and again is stable, and valid UTF-8 comes back as
//   it was;
// - the <meta> prescan, the Content-Type parameter and the auto choice run
//   without fault on the input as a page and as a header value, and the
//   choice's byte order mark lies inside the body.
#include "FuzzSupport.h"
#include "codecs/Charsets.h"
#include "codecs/Entities.h"
#include "codecs/Utf8.h"

#include <cstdint>
#include <string>

namespace {

std::u16string DecodeUtf8Bytes(const std::string& bytes) {
  const TUtf8Measure measure = MeasureUtf8(bytes.data(), bytes.size());
  std::u16string out(measure.Units, u'\0');
  const size_t written = out.empty() ? 0 : DecodeUtf8(bytes.data(), bytes.size(), &out[0]);
  Check(written == measure.Units, "measured units differ from decoded units");
  return out;
}

std::u16string DecodeUtf16(const std::string& bytes, bool bigEndian) {
  std::u16string out(Utf16BytesUnits(bytes.data(), bytes.size(), bigEndian), u'\0');
  const size_t written = out.empty() ? 0 : DecodeUtf16Bytes(bytes.data(), bytes.size(), bigEndian, &out[0]);
  Check(written == out.size(), "UTF-16 units differ from the count ahead");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const size_t split = size > 0 ? data[0] % (size + 1) : 0;

  const std::u16string text = DecodeUtf8Bytes(bytes);
  const bool valid = IsValidUtf8(bytes);
  // The fast count is exact for valid text; decoding into the room it gives
  // fits exactly or says it does not, never writing past the room.
  const size_t counted = CountUtf8Units(bytes.data(), bytes.size());
  Check(!valid || counted == text.size(), "the fast count is wrong for valid text");
  std::u16string room(counted + 1, u'#');
  const size_t written = DecodeUtf8(bytes.data(), bytes.size(), &room[0], counted);
  Check(written == NotDecoded || (written <= counted && room.compare(0, written, text, 0, written) == 0),
        "a bounded decoding differs");
  Check(written != text.size() || written == NotDecoded || room.substr(0, written) == text, "a bounded decoding differs");
  Check(room[counted] == u'#', "a bounded decoding wrote past its room");
  Check(valid == (Utf16ToUtf8(text) == bytes), "validity does not match the round trip");
  const size_t start = Utf8PieceStart(bytes.data(), bytes.size(), split);
  Check(start >= split && start <= split + 3, "a piece starts too far on");
  Check(DecodeUtf8Bytes(bytes.substr(0, start)) + DecodeUtf8Bytes(bytes.substr(start)) == text,
        "pieces decode differently from the whole");
  const std::string utf8 = Utf16ToUtf8(text);
  Check(utf8 == SanitizeUtf8(bytes), "sanitising differs from the round trip");
  Check(IsValidUtf8(utf8) && Utf16ToUtf8(Utf8ToUtf16(utf8)) == utf8, "UTF-8 made here is not stable");

  for (bool bigEndian : {false, true}) {
    const std::u16string whole = DecodeUtf16(bytes, bigEndian);
    const size_t at = Utf16PieceStart(bytes.data(), bytes.size(), bigEndian, split);
    Check(at % 2 == 0 || at == bytes.size(), "a UTF-16 piece starts at an odd byte");
    Check(DecodeUtf16(bytes.substr(0, at), bigEndian) + DecodeUtf16(bytes.substr(at), bigEndian) == whole,
          "UTF-16 pieces decode differently from the whole");
    Check(DecodeUtf16(EncodeUtf16Bytes(utf8, bigEndian), bigEndian) == text, "encoding UTF-16 changed the text");
  }

  // References in the Unicode form never make a text longer.
  std::string decoded = bytes;
  DecodeEntitiesFrom(decoded, 0, TReferenceForm::Unicode);
  Check(decoded.size() <= bytes.size(), "decoding references made the text longer");

  const std::string label = PrescanMetaCharset(bytes);
  Check(label.size() <= 1024, "a declaration longer than the prescan");
  ContentTypeCharset(bytes);
  IsJsonMediaType(bytes);
  const TCharsetChoice choice = ChooseCharsetAuto(bytes.substr(0, split), bytes, [](const TCharset&) { return true; });
  Check(choice.MarkLength <= bytes.size(), "a byte order mark past the body");
  return 0;
}
