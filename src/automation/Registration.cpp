// Self-registration: the type library and the class keys under
// HKEY_CLASSES_ROOT that let hosts find Kestrel.Conn.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include <olectl.h>

#include "ClassFactory.h"
#include "ComError.h"
#include "ComServer.h"
#include "RegistryJournal.h"
#include "TextBoundary.h"

namespace {

std::wstring GuidString(REFGUID guid)
{
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

[[noreturn]] void FailClassKeys()
{
  throw EOleSysError("Error creating system registry entry", SELFREG_E_CLASS);
}

void SetRegistryValue(TRegistryJournal& journal, const std::wstring& key, const wchar_t* name,
                      const std::wstring& data)
{
  if (journal.SetText(key, name, data) != ERROR_SUCCESS) FailClassKeys();
}

bool KeyExists(const std::wstring& key)
{
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::wstring Directory(const std::wstring& path)
{
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Some hosts split the server path at blanks: give them the 8.3 form, when
// the volume has one.
std::wstring ServerPath(const std::wstring& path)
{
  if (path.find(L' ') == std::wstring::npos) return path;
  const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0) return path;
  std::wstring shortPath(size, L'\0');
  const DWORD length = GetShortPathNameW(path.c_str(), &shortPath[0], size);
  if (length == 0 || length >= size) return path;
  shortPath.resize(length);
  return shortPath;
}

// What the registry needs of the type library's attributes.
struct TLibraryId {
  std::wstring Guid;     // {LIBID}
  std::wstring Version;  // "1.0": for the class's Version key
  std::wstring Key;      // TypeLib\{LIBID}\1.0, the version's own key (hexadecimal numbers)
};

TLibraryId LibraryIdOf(ITypeLib* lib)
{
  TLIBATTR* attr = nullptr;
  const HRESULT hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) throw EOleSysError("Error registering type library", hr);
  TLibraryId id;
  id.Guid = GuidString(attr->guid);
  wchar_t text[16];
  swprintf(text, 16, L"%d.%d", attr->wMajorVerNum, attr->wMinorVerNum);
  id.Version = text;
  swprintf(text, 16, L"%x.%x", attr->wMajorVerNum, attr->wMinorVerNum);
  id.Key = L"TypeLib\\" + id.Guid + L"\\" + text;
  lib->ReleaseTLibAttr(attr);
  return id;
}

void UnregisterTypeLibrary(TComServer& server)
{
  TLIBATTR* attr = nullptr;
  if (FAILED(server.TypeLib->GetLibAttr(&attr))) return;
  // Already unregistered is as good as done.
  UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
  server.TypeLib->ReleaseTLibAttr(attr);
}

// On 64-bit Windows each width keeps its class keys in a registry view of its
// own, while the ProgID key is one for both. (32-bit Windows ignores the
// flag: there the view is this one, whose class keys are gone by then.)
bool ClassRegisteredInOtherView(const std::wstring& classKey)
{
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (classKey + L"\\InprocServer32").c_str(), 0, KEY_READ | otherView,
                    &handle) != ERROR_SUCCESS)
    return false;
  RegCloseKey(handle);
  return true;
}

}  // namespace

// The type library first, then the class keys. A step that fails takes back
// what the steps before it wrote; a type library that was registered before
// stays registered.
void RegisterServer(TComServer& server)
{
  ITypeLib* lib = server.TypeLib.Get();
  const TLibraryId libraryId = LibraryIdOf(lib);
  const bool libraryKnown = KeyExists(libraryId.Key);
  std::wstring helpDir = Directory(server.ModulePath);
  if (FAILED(RegisterTypeLib(lib, const_cast<LPOLESTR>(server.ModulePath.c_str()),
                             helpDir.empty() ? nullptr : &helpDir[0]))) {
    if (!libraryKnown) UnregisterTypeLibrary(server);
    throw EOleSysError("Error registering type library", SELFREG_E_TYPELIB);
  }

  const TConnFactory& factory = *server.ConnFactory;
  const std::wstring classKey = L"CLSID\\" + GuidString(factory.ClassId());
  const std::wstring& progId = factory.ProgId();
  TRegistryJournal journal;
  try {
    const std::wstring description = AnsiToWide(factory.TypeInfo().Description);
    SetRegistryValue(journal, classKey, nullptr, description);
    SetRegistryValue(journal, classKey + L"\\InprocServer32", nullptr, ServerPath(server.ModulePath));
    SetRegistryValue(journal, classKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    SetRegistryValue(journal, progId, nullptr, description);
    SetRegistryValue(journal, progId + L"\\Clsid", nullptr, GuidString(factory.ClassId()));
    SetRegistryValue(journal, classKey + L"\\ProgID", nullptr, progId);
    SetRegistryValue(journal, classKey + L"\\Version", nullptr, libraryId.Version);
    SetRegistryValue(journal, classKey + L"\\TypeLib", nullptr, libraryId.Guid);
  } catch (...) {
    journal.Undo();
    if (!libraryKnown) UnregisterTypeLibrary(server);
    throw;
  }
}

void UnregisterServer(TComServer& server)
{
  UnregisterTypeLibrary(server);

  const TConnFactory& factory = *server.ConnFactory;
  const std::wstring classKey = L"CLSID\\" + GuidString(factory.ClassId());
  const std::wstring& progId = factory.ProgId();
  // Children before parents; a key that is already gone is no failure.
  for (const std::wstring& key : {classKey + L"\\TypeLib", classKey + L"\\Version", classKey + L"\\ProgID",
                                  classKey + L"\\InprocServer32", classKey})
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  // The other width's DLL, registered beside this one, still needs the ProgID.
  if (ClassRegisteredInOtherView(classKey)) return;
  for (const std::wstring& key : {progId + L"\\Clsid", progId}) RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
}
