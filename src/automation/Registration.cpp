// Self-registration: the type library and the class keys under
// HKEY_CLASSES_ROOT that let hosts find Kestrel.Conn.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "ClassFactory.h"
#include "ComServer.h"
#include "TextBoundary.h"
#include "codecs/Exception.h"

namespace {

std::wstring GuidString(REFGUID guid)
{
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

void SetRegistryValue(const std::wstring& key, const wchar_t* name, const std::wstring& data)
{
  HKEY handle = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &handle, nullptr);
  if (rc == ERROR_SUCCESS) {
    // REG_SZ data includes its terminating zero.
    rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
  }
  if (rc != ERROR_SUCCESS) throw Exception("Error creating system registry entry");
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

std::wstring VersionString(ITypeLib* lib)
{
  TLIBATTR* attr = nullptr;
  if (FAILED(lib->GetLibAttr(&attr))) throw Exception("Error creating system registry entry");
  wchar_t text[16];
  swprintf(text, 16, L"%d.%d", attr->wMajorVerNum, attr->wMinorVerNum);
  lib->ReleaseTLibAttr(attr);
  return text;
}

std::wstring LibraryId(ITypeLib* lib)
{
  TLIBATTR* attr = nullptr;
  if (FAILED(lib->GetLibAttr(&attr))) throw Exception("Error creating system registry entry");
  std::wstring id = GuidString(attr->guid);
  lib->ReleaseTLibAttr(attr);
  return id;
}

void UnregisterTypeLibrary(TComServer& server)
{
  if (!server.OleAut) return;
  using TUnRegisterTypeLib = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
  const auto unregister = reinterpret_cast<TUnRegisterTypeLib>(
      reinterpret_cast<void (*)()>(GetProcAddress(server.OleAut, "UnRegisterTypeLib")));
  if (!unregister) return;
  TLIBATTR* attr = nullptr;
  if (FAILED(server.TypeLib->GetLibAttr(&attr))) return;
  // Already unregistered is as good as done.
  unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
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

void RegisterServer(TComServer& server)
{
  ITypeLib* lib = server.TypeLib.Get();
  std::wstring helpDir = Directory(server.ModulePath);
  if (FAILED(RegisterTypeLib(lib, const_cast<LPOLESTR>(server.ModulePath.c_str()),
                             helpDir.empty() ? nullptr : &helpDir[0])))
    throw Exception("Error registering type library");

  const TConnFactory& factory = *server.ConnFactory;
  const std::wstring classKey = L"CLSID\\" + GuidString(factory.ClassId());
  const std::wstring description = AnsiToWide(factory.TypeInfo().Description);
  const std::wstring& progId = factory.ProgId();

  SetRegistryValue(classKey, nullptr, description);
  SetRegistryValue(classKey + L"\\InprocServer32", nullptr, ServerPath(server.ModulePath));
  SetRegistryValue(classKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
  SetRegistryValue(progId, nullptr, description);
  SetRegistryValue(progId + L"\\Clsid", nullptr, GuidString(factory.ClassId()));
  SetRegistryValue(classKey + L"\\ProgID", nullptr, progId);
  SetRegistryValue(classKey + L"\\Version", nullptr, VersionString(lib));
  SetRegistryValue(classKey + L"\\TypeLib", nullptr, LibraryId(lib));
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
