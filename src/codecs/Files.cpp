#include "codecs/Files.h"

#include "codecs/Utf8.h"

FILE* OpenFileUtf8(const std::string& name, const char* mode) {
#ifdef _WIN32
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 file names");
  const std::u16string wideName = Utf8ToUtf16(name);
  const std::u16string wideMode = Utf8ToUtf16(mode);
  return _wfopen(reinterpret_cast<const wchar_t*>(wideName.c_str()), reinterpret_cast<const wchar_t*>(wideMode.c_str()));
#else
  return fopen(name.c_str(), mode);
#endif
}

bool RemoveFileUtf8(const std::string& name) {
#ifdef _WIN32
  const std::u16string wideName = Utf8ToUtf16(name);
  return _wremove(reinterpret_cast<const wchar_t*>(wideName.c_str())) == 0;
#else
  return std::remove(name.c_str()) == 0;
#endif
}

std::string TruncateFileName(const std::string& name, size_t count) {
  std::u16string units = Utf8ToUtf16(name);
  if (units.size() <= count) return name;
  if (count > 0 && units[count - 1] >= 0xD800 && units[count - 1] <= 0xDBFF) --count;
  units.resize(count);
  return Utf16ToUtf8(units);
}
