#include "AutomationTestSupport.h"

#include <gtest/gtest.h>
#include <objbase.h>

namespace {

// Script hosts call the object from a single-threaded apartment.
class TComEnvironment : public ::testing::Environment {
public:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

const auto* const comEnvironment = ::testing::AddGlobalTestEnvironment(new TComEnvironment);

template <class Fn>
bool Find(HMODULE module, const char* name, Fn& fn)
{
  fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return fn != nullptr;
}

}  // namespace

std::wstring TestFolder()
{
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

bool LoadServerExports(const std::wstring& path, TKestrelDll& dll)
{
  dll.Path = path;
  dll.Module = LoadLibraryW(path.c_str());
  if (!dll.Module) return false;
  // Plain export names, as regsvr32 and COM look them up.
  return Find(dll.Module, "DllGetClassObject", dll.GetClassObject) &&
         Find(dll.Module, "DllCanUnloadNow", dll.CanUnloadNow) &&
         Find(dll.Module, "DllRegisterServer", dll.RegisterServer) &&
         Find(dll.Module, "DllUnregisterServer", dll.UnregisterServer);
}

const TKestrelDll& KestrelDll()
{
  static TKestrelDll dll;
  static bool loaded = false;
  if (!loaded) {
    std::wstring relative = TestFolder() + L"..\\Kestrel.dll";
    wchar_t full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameW(relative.c_str(), MAX_PATH * 4, full, nullptr);
    loaded = LoadServerExports(std::wstring(full, length), dll);
    if (!loaded) ADD_FAILURE() << "cannot load Kestrel.dll and its exports";
  }
  return dll;
}

std::wstring TBstr::Text() const
{
  if (!value_ || value_ == SentinelBstr()) return std::wstring();
  return std::wstring(value_, SysStringLen(value_));
}

TComPtr<IConn> NewConn()
{
  TComPtr<IClassFactory> factory;
  TComPtr<IConn> conn;
  const TKestrelDll& dll = KestrelDll();
  if (!dll.GetClassObject) return conn;
  if (FAILED(dll.GetClassObject(CLSID_Conn, IID_IClassFactory, factory.ReceiveVoid()))) return conn;
  factory->CreateInstance(nullptr, IID_IConn, conn.ReceiveVoid());
  return conn;
}

TErrorText TakeErrorInfo()
{
  TErrorText result;
  TComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return result;
  result.Present = true;
  BSTR text = nullptr;
  if (SUCCEEDED(info->GetDescription(&text)) && text) result.Description = text;
  SysFreeString(text);
  text = nullptr;
  if (SUCCEEDED(info->GetSource(&text)) && text) result.Source = text;
  SysFreeString(text);
  text = nullptr;
  if (SUCCEEDED(info->GetHelpFile(&text)) && text) result.HelpFile = text;
  SysFreeString(text);
  info->GetGUID(&result.Interface);
  info->GetHelpContext(&result.HelpContext);
  return result;
}

std::wstring GuidText(REFGUID guid)
{
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}
