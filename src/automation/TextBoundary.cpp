#include "TextBoundary.h"

#include <climits>
#include <new>

namespace {

// The conversion routines count in int; longer text cannot be converted.
int CheckedLength(size_t length)
{
  if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  return static_cast<int>(length);
}

// Number of UTF-16 units that the 8-bit text becomes.
int WideSize(std::string_view text)
{
  if (text.empty()) return 0;
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), CheckedLength(text.size()), nullptr, 0);
  return size > 0 ? size : 0;
}

void ConvertToWide(std::string_view text, wchar_t* target, int size)
{
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), target, size);
}

}  // namespace

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
  std::wstring result(static_cast<size_t>(WideSize(text)), L'\0');
  if (!result.empty()) ConvertToWide(text, &result[0], static_cast<int>(result.size()));
  return result;
}

BSTR AnsiToBstr(std::string_view text)
{
  const int size = WideSize(text);
  if (size == 0) return nullptr;
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(size));
  if (!result) throw std::bad_alloc();
  ConvertToWide(text, result, size);
  return result;
}
