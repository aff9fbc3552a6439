#include "CharsetText.h"

#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "TextBoundary.h"
#include "codecs/Utf8.h"
#include "platform/CodePages.h"
#include "platform/CriticalSection.h"
#include "platform/Pieces.h"

namespace {

// The table of a single-byte code page, built once per process; null for a
// code page whose bytes are not each one character.
const TSingleByteTable* SingleByteTable(unsigned codePage)
{
  static TCriticalSection lock;
  static std::map<unsigned, std::unique_ptr<TSingleByteTable>> tables;
  TLockGuard guard(lock);
  auto found = tables.find(codePage);
  if (found == tables.end()) {
    std::unique_ptr<TSingleByteTable> table(new TSingleByteTable);
    if (!table->Build(codePage)) table.reset();
    found = tables.emplace(codePage, std::move(table)).first;
  }
  return found->second.get();
}

// x-user-defined: ASCII as it is, the bytes 0x80 to 0xFF as U+F780 to U+F7FF.
const TSingleByteTable& UserDefinedTable()
{
  static const TSingleByteTable table = [] {
    TSingleByteTable made;
    for (int c = 0; c < 256; ++c) made.SetUnit(static_cast<unsigned char>(c), static_cast<wchar_t>(c < 0x80 ? c : 0xF700 + c));
    return made;
  }();
  return table;
}

// A text split into pieces that decode on their own to what the whole gives,
// each piece's units counted, so that the pieces can be decoded side by side
// straight into their places in one result.
class TPieces {
public:
  // start(position) gives where a piece meant to begin at position may
  // begin; units(begin, end) counts a piece's units.
  template <class Start, class Units>
  TPieces(size_t length, Start start, Units units)
  {
    starts_.push_back(0);
    for (size_t nominal = PieceBytes; nominal < length; nominal += PieceBytes) {
      const size_t at = start(nominal);
      if (at > starts_.back() && at < length) starts_.push_back(at);
    }
    starts_.push_back(length);
    offsets_.assign(starts_.size(), 0);
    std::vector<size_t>& counts = offsets_;
    auto measure = [&](size_t begin, size_t end) {
      for (size_t i = begin; i < end; ++i) counts[i + 1] = units(starts_[i], starts_[i + 1]);
    };
    RunInPieces(Count(), 1, measure);
    for (size_t i = 1; i < offsets_.size(); ++i) offsets_[i] += offsets_[i - 1];
  }

  size_t Count() const { return starts_.size() - 1; }
  size_t Units() const { return offsets_.back(); }

  // decode(begin, end, target, units) writes one piece's units and returns
  // how many it wrote; false when a piece wrote another number than counted.
  template <class Decode>
  bool DecodeInto(char16_t* target, Decode decode) const
  {
    volatile bool counted = true;  // written only to false, by any thread
    auto work = [&](size_t begin, size_t end) {
      for (size_t i = begin; i < end; ++i) {
        const size_t units = offsets_[i + 1] - offsets_[i];
        if (decode(starts_[i], starts_[i + 1], target + offsets_[i], units) != units) counted = false;
      }
    };
    RunInPieces(Count(), 1, work);
    return counted;
  }

private:
  std::vector<size_t> starts_;   // where each piece begins, and the text's end
  std::vector<size_t> offsets_;  // units before each piece, and the total
};

// Decodes text in a charset: its units first, then into room for them.
// UTF-8 is counted the fast way, exact for valid text; with exact set, or
// after DecodeInto has found the text invalid, by the decoder's own rules.
class TDecoding {
public:
  TDecoding(std::string_view text, const TCharset& charset, bool exact = false) : text_(text), charset_(charset)
  {
    const char* data = text.data();
    const size_t length = text.size();
    switch (charset.Kind) {
      case TCharsetKind::Utf8:
        pieces_.reset(new TPieces(
            length, [&](size_t at) { return Utf8PieceStart(data, length, at); },
            [&](size_t begin, size_t end) {
              return exact ? MeasureUtf8(data + begin, end - begin).Units : CountUtf8Units(data + begin, end - begin);
            }));
        units_ = pieces_->Units();
        break;
      case TCharsetKind::Utf16LE:
      case TCharsetKind::Utf16BE:
        units_ = Utf16BytesUnits(data, length, BigEndian());
        break;
      case TCharsetKind::XUserDefined:
        table_ = &UserDefinedTable();
        units_ = length;
        break;
      case TCharsetKind::CodePage:
        table_ = SingleByteTable(charset.CodePage);
        units_ = table_ ? length : CodePageUnits(charset.CodePage, data, length);
        break;
    }
  }

  size_t Units() const { return units_; }

  // False when the units were not what the count said (invalid UTF-8): the
  // room may then hold anything, and an exact decoding must be made.
  bool DecodeInto(char16_t* target) const
  {
    const char* data = text_.data();
    const size_t length = text_.size();
    if (pieces_) {
      return pieces_->DecodeInto(target, [&](size_t begin, size_t end, char16_t* at, size_t units) {
        return DecodeUtf8(data + begin, end - begin, at, units);
      });
    }
    if (charset_.Kind == TCharsetKind::Utf16LE || charset_.Kind == TCharsetKind::Utf16BE) {
      // A piece of even length holds one unit per two bytes; only the last
      // one can end in an odd byte.
      const bool bigEndian = BigEndian();
      TPieces pieces(
          length, [&](size_t at) { return Utf16PieceStart(data, length, bigEndian, at); },
          [&](size_t begin, size_t end) { return Utf16BytesUnits(data + begin, end - begin, bigEndian); });
      return pieces.DecodeInto(target, [&](size_t begin, size_t end, char16_t* at, size_t) {
        return DecodeUtf16Bytes(data + begin, end - begin, bigEndian, at);
      });
    }
    if (table_) {
      wchar_t* wide = reinterpret_cast<wchar_t*>(target);
      auto convert = [&](size_t begin, size_t end) { table_->Convert(data + begin, end - begin, wide + begin); };
      RunInPieces(length, PieceBytes, convert);
    } else {
      DecodeCodePage(charset_.CodePage, data, length, target, units_);
    }
    return true;
  }

private:
  bool BigEndian() const { return charset_.Kind == TCharsetKind::Utf16BE; }

  std::string_view text_;
  const TCharset& charset_;
  std::unique_ptr<TPieces> pieces_;        // UTF-8: measured in pieces
  const TSingleByteTable* table_ = nullptr;  // a single-byte charset
  size_t units_ = 0;
};

std::string_view TextOf(std::string_view body, const TCharsetChoice& choice)
{
  return body.substr(choice.MarkLength < body.size() ? choice.MarkLength : body.size());
}

// The text decoded into room that make(units) gives, with free(room) for
// room that turns out to be of the wrong size: counted the fast way first,
// and once more exactly when that count was wrong (invalid UTF-8).
template <class Room, class Make, class Free>
Room DecodeInto(std::string_view text, const TCharset& charset, Make make, Free free)
{
  for (bool exact : {false, true}) {
    const TDecoding decoding(text, charset, exact);
    Room room = make(decoding.Units());
    if (decoding.Units() == 0 || decoding.DecodeInto(reinterpret_cast<char16_t*>(&room[0]))) return room;
    free(room);
  }
  throw std::logic_error("an exact decoding does not fit its own count");
}

}  // namespace

BSTR DecodeToBstr(std::string_view body, const TCharsetChoice& choice)
{
  const std::string_view text = TextOf(body, choice);
  if (!choice.Charset) return AnsiToBstr(text);
  return DecodeInto<BSTR>(
      text, *choice.Charset, [](size_t units) { return units ? AllocateForConversion(units) : nullptr; },
      [](BSTR room) { SysFreeString(room); });
}

std::string DecodeToUtf8(std::string_view body, const TCharsetChoice& choice)
{
  const std::string_view text = TextOf(body, choice);
  if (!choice.Charset) return AnsiToUtf8(std::string(text));
  const std::u16string wide = DecodeInto<std::u16string>(
      text, *choice.Charset, [](size_t units) { return std::u16string(units, u'\0'); }, [](std::u16string&) {});
  return Utf16ToUtf8(wide);
}

bool EncodeInCharset(const std::string& utf8, const TCharset& charset, std::string& out)
{
  switch (charset.Kind) {
    case TCharsetKind::Utf8:
      out = SanitizeUtf8(utf8);
      return true;
    case TCharsetKind::Utf16LE:
    case TCharsetKind::Utf16BE:
      out = EncodeUtf16Bytes(utf8, charset.Kind == TCharsetKind::Utf16BE);
      return true;
    case TCharsetKind::XUserDefined: {
      out.clear();
      for (char16_t unit : Utf8ToUtf16(utf8)) {
        if (unit < 0x80) out += static_cast<char>(unit);
        else if (unit >= 0xF780 && unit <= 0xF7FF) out += static_cast<char>(unit - 0xF700);
        else return false;
      }
      return true;
    }
    case TCharsetKind::CodePage:
      break;
  }
  return EncodeCodePage(charset.CodePage, Utf8ToUtf16(utf8), out);
}

bool IsCharsetUsable(const TCharset& charset)
{
  return charset.Kind != TCharsetKind::CodePage || IsCodePageInstalled(charset.CodePage);
}

std::string AnsiCharsetName()
{
  const unsigned codePage = GetACP();
  const TCharset* charset = CharsetOfCodePage(codePage);
  return charset ? charset->Name : "cp" + std::to_string(codePage);
}
