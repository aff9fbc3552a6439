#include "TextBoundary.h"

#include <climits>
#include <new>

#include "codecs/Utf8.h"
#include "platform/Pieces.h"

namespace {

// The conversion routines count in int; longer text cannot be converted.
int CheckedLength(size_t length)
{
  if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  return static_cast<int>(length);
}

// Number of UTF-16 units that the 8-bit text becomes.
int WideSize(std::string_view text, const TSingleByteTable* table)
{
  if (text.empty()) return 0;
  const int length = CheckedLength(text.size());
  if (table) return length;
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  return size > 0 ? size : 0;
}

void ConvertToWide(std::string_view text, const TSingleByteTable* table, wchar_t* target, int size)
{
  if (!table) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), target, size);
    return;
  }
  // One unit per byte: any piece of the text converts on its own.
  auto convert = [&](size_t begin, size_t end) { table->Convert(text.data() + begin, end - begin, target + begin); };
  RunInPieces(text.size(), PieceBytes, convert);
}

}  // namespace

// Some systems fill a string allocated without a source, none the room a
// string grows by: a long one is grown from the empty string, as a fill would
// be a first write to every fresh page on the calling thread alone. A text
// too short to be worked in pieces is allocated in one call: its fill costs
// less than the second allocation that avoiding it takes.
BSTR AllocateForConversion(size_t size)
{
  if (size > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  if (size < PieceBytes) {
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(size));
    if (!result) throw std::bad_alloc();
    return result;
  }
  BSTR result = SysAllocStringLen(L"", 0);
  if (!result) throw std::bad_alloc();
  if (!SysReAllocStringLen(&result, nullptr, static_cast<UINT>(size))) {
    SysFreeString(result);
    throw std::bad_alloc();
  }
  return result;
}

bool TSingleByteTable::Build(UINT codePage)
{
  CPINFO info;
  if (!GetCPInfo(codePage, &info) || info.MaxCharSize != 1) return false;
  char all[256];
  for (int c = 0; c < 256; ++c) {
    const char byte = static_cast<char>(c);
    wchar_t unit[2];
    if (MultiByteToWideChar(codePage, 0, &byte, 1, unit, 2) != 1) return false;
    units_[c] = unit[0];
    all[c] = byte;
  }
  // Every byte in one run, as text arrives: the same units, one per byte.
  wchar_t run[257];
  if (MultiByteToWideChar(codePage, 0, all, 256, run, 257) != 256) return false;
  for (int c = 0; c < 256; ++c)
    if (run[c] != units_[c]) return false;
  return true;
}

void TSingleByteTable::Convert(const char* text, size_t length, wchar_t* target) const
{
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < length; ++i) target[i] = units_[bytes[i]];
}

const TSingleByteTable* AnsiCodePageTable()
{
  struct TAnsiTable {
    TSingleByteTable table;
    bool valid = table.Build(CP_ACP);
  };
  // The ANSI code page is fixed for the life of the process.
  static const TAnsiTable ansi;
  return ansi.valid ? &ansi.table : nullptr;
}

std::string WideToAnsi(const wchar_t* text, size_t length)
{
  std::string result;
  if (length == 0) return result;
  const int wideLength = CheckedLength(length);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return result;
  result.resize(static_cast<size_t>(size));
  WideCharToMultiByte(CP_ACP, 0, text, wideLength, &result[0], size, nullptr, nullptr);
  return result;
}

std::string BstrToAnsi(BSTR text)
{
  return text ? WideToAnsi(text, SysStringLen(text)) : std::string();
}

std::wstring AnsiToWide(const std::string& text)
{
  const TSingleByteTable* table = AnsiCodePageTable();
  std::wstring result(static_cast<size_t>(WideSize(text, table)), L'\0');
  if (!result.empty()) ConvertToWide(text, table, &result[0], static_cast<int>(result.size()));
  return result;
}

BSTR AnsiToBstr(std::string_view text)
{
  const TSingleByteTable* table = AnsiCodePageTable();
  const int size = WideSize(text, table);
  if (size == 0) return nullptr;
  // Converted straight into the result: no copy of the text in between.
  BSTR result = AllocateForConversion(static_cast<size_t>(size));
  ConvertToWide(text, table, result, size);
  return result;
}

std::string BstrToUtf8(BSTR text)
{
  return text ? Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), SysStringLen(text)) : std::string();
}

BSTR Utf8ToBstr(std::string_view text)
{
  const size_t size = MeasureUtf8(text.data(), text.size()).Units;
  if (size == 0) return nullptr;
  BSTR result = AllocateForConversion(size);
  DecodeUtf8(text.data(), text.size(), reinterpret_cast<char16_t*>(result));
  return result;
}

std::string AnsiToUtf8(const std::string& text)
{
  const std::wstring wide = AnsiToWide(text);
  return Utf16ToUtf8(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
}

std::string Utf8ToAnsi(const std::string& text)
{
  const std::u16string wide = Utf8ToUtf16(text);
  return WideToAnsi(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
}

BSTR TextToBstr(std::string_view text, TTextForm form)
{
  return form == TTextForm::Utf8 ? Utf8ToBstr(text) : AnsiToBstr(text);
}
