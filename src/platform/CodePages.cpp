#include "platform/CodePages.h"

#include "codecs/Utf8.h"
#include "platform/SystemLibrary.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <new>

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text");

int CheckedLength(size_t length) {
  if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  return static_cast<int>(length);
}

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The code page has no form of its own for some of text: converted with
// stand-ins refused, then, where the code page takes no such request, back
// again and compared.
bool EncodeWithDefaultCheck(unsigned codePage, const std::u16string& text, std::string& out, bool& supported) {
  const int length = CheckedLength(text.size());
  BOOL usedDefault = FALSE;
  int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, Wide(text.data()), length, nullptr, 0, nullptr,
                                 &usedDefault);
  supported = size > 0;
  if (!supported) return false;
  out.resize(static_cast<size_t>(size));
  usedDefault = FALSE;
  size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, Wide(text.data()), length, &out[0], size, nullptr,
                             &usedDefault);
  return size > 0 && !usedDefault;
}

bool EncodeWithRoundTrip(unsigned codePage, const std::u16string& text, std::string& out) {
  const int length = CheckedLength(text.size());
  const int size = WideCharToMultiByte(codePage, 0, Wide(text.data()), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  out.resize(static_cast<size_t>(size));
  if (WideCharToMultiByte(codePage, 0, Wide(text.data()), length, &out[0], size, nullptr, nullptr) != size)
    return false;
  std::u16string back(CodePageUnits(codePage, out.data(), out.size()), u'\0');
  if (!back.empty()) DecodeCodePage(codePage, out.data(), out.size(), &back[0], back.size());
  return back == text;
}

using TIdnToAscii = int(WINAPI*)(DWORD, LPCWSTR, int, LPWSTR, int);

// Kernel32 has it from Windows 7 on, normaliz.dll before; some systems have
// neither, and the DLL must load there all the same.
TIdnToAscii IdnToAsciiEntry() {
  static const TIdnToAscii entry = [] {
    FARPROC proc = nullptr;
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) proc = GetProcAddress(kernel, "IdnToAscii");
    if (!proc) {
      if (HMODULE normaliz = LoadSystemLibrary("normaliz.dll")) proc = GetProcAddress(normaliz, "IdnToAscii");
    }
    return reinterpret_cast<TIdnToAscii>(reinterpret_cast<void*>(proc));
  }();
  return entry;
}

}  // namespace

bool IsCodePageInstalled(unsigned codePage) { return IsValidCodePage(codePage) != 0; }

size_t CodePageUnits(unsigned codePage, const char* data, size_t length) {
  if (length == 0) return 0;
  const int size = MultiByteToWideChar(codePage, 0, data, CheckedLength(length), nullptr, 0);
  return size > 0 ? static_cast<size_t>(size) : 0;
}

void DecodeCodePage(unsigned codePage, const char* data, size_t length, char16_t* target, size_t units) {
  if (length == 0 || units == 0) return;
  MultiByteToWideChar(codePage, 0, data, CheckedLength(length), reinterpret_cast<wchar_t*>(target),
                      CheckedLength(units));
}

bool EncodeCodePage(unsigned codePage, const std::u16string& text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  bool supported = false;
  if (EncodeWithDefaultCheck(codePage, text, out, supported)) return true;
  if (supported) return false;
  // Code pages such as ISO-2022-JP and GB18030 take neither the flag nor the
  // question.
  return EncodeWithRoundTrip(codePage, text, out);
}

bool HostNameToAscii(const std::string& host, std::string& ascii) {
  const TIdnToAscii idnToAscii = IdnToAsciiEntry();
  if (!idnToAscii || host.empty()) return false;
  const std::u16string wide = Utf8ToUtf16(host);
  const int length = CheckedLength(wide.size());
  wchar_t out[256];  // a DNS name has at most 255 characters
  const int size = idnToAscii(0, Wide(wide.data()), length, out, 256);
  if (size <= 0) return false;
  // The system converts any label; what no host name may hold (blanks,
  // controls and the URL's own delimiters) is refused here.
  static const char forbidden[] = " #%/:<>?@[\\]^|";
  ascii.clear();
  for (int i = 0; i < size; ++i) {
    if (out[i] <= 0x20 || out[i] >= 0x7F || std::strchr(forbidden, static_cast<char>(out[i]))) return false;
    ascii += static_cast<char>(out[i]);
  }
  return true;
}
