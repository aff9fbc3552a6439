#include "AutomationTestSupport.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdlib>

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

namespace {

// prefix + the port in the variable + suffix; empty when the variable is unset.
std::wstring WithServerPort(const char* prefix, const char* portVariable, const char* suffix)
{
  const char* port = std::getenv(portVariable);
  if (!port || !*port) return std::wstring();
  std::string text = std::string(prefix) + port + suffix;
  return std::wstring(text.begin(), text.end());
}

}  // namespace

std::wstring ScenarioBase() { return WithServerPort("http://127.0.0.1:", "KESTREL_SCENARIO_PORT", "/"); }

std::wstring NginxBase() { return WithServerPort("http://127.0.0.1:", "KESTREL_NGINX_PORT", "/"); }

std::wstring TlsBase(const char* portVariable) { return WithServerPort("https://localhost:", portVariable, "/"); }

std::wstring TlsScenarioBase() { return TlsBase("KESTREL_TLS_SCENARIO_PORT"); }

std::wstring ProxyAddress(const char* portVariable) { return WithServerPort("127.0.0.1:", portVariable, ""); }

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

namespace {
constexpr INVOKEKIND M = INVOKE_FUNC, G = INVOKE_PROPERTYGET, P = INVOKE_PROPERTYPUT;
}  // namespace

const TMember kMembers[45] = {
    {L"GetURL", 1, M, VT_EMPTY, nullptr, VT_BSTR},
    {L"Protocol", 2, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"Protocol", 2, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"URL", 3, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"URL", 3, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"FileName", 4, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"FollowRedirects", 5, G, VT_EMPTY, nullptr, VT_BOOL},
    {L"FollowRedirects", 5, P, VT_BOOL, nullptr, VT_EMPTY},
    {L"Port", 6, G, VT_EMPTY, nullptr, VT_I4},
    {L"Port", 6, P, VT_I4, nullptr, VT_EMPTY},
    {L"Proxy", 7, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"Proxy", 7, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"TimeOut", 8, G, VT_EMPTY, nullptr, VT_I4},
    {L"TimeOut", 8, P, VT_I4, nullptr, VT_EMPTY},
    {L"PostData", 9, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"PostData", 9, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"Headers", 10, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"Accept", 11, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"Accept", 11, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"UserAgent", 12, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"UserAgent", 12, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"RequestMethod", 13, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"RequestMethod", 13, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"ContentType", 14, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"ContentType", 14, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"ExtraHeaders", 15, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"Version", 16, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"SaveFileTo", 18, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"SaveFileTo", 18, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"Authorization", 19, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"Authorization", 19, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"AddExtraHeader", 20, M, VT_BSTR, L"strHeader", VT_EMPTY},
    {L"ClearExtraHeaders", 21, M, VT_EMPTY, nullptr, VT_EMPTY},
    {L"HTTPLog", 22, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"HTTPLog", 22, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"URLEncode", 23, M, VT_BSTR, L"strValue", VT_BSTR},
    {L"URLDecode", 24, M, VT_BSTR, L"strValue", VT_BSTR},
    {L"GetHREFs", 25, M, VT_EMPTY, nullptr, VT_VARIANT},
    {L"Error", 26, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"GetHeader", 27, M, VT_BSTR, L"strHeader", VT_BSTR},
    {L"ProxyPassword", 28, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"ProxyPassword", 28, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"Response", 29, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"BinaryData", 30, G, VT_EMPTY, nullptr, VT_VARIANT},
    {L"GetHREFNames", 31, G, VT_EMPTY, nullptr, VT_VARIANT},
};

const TMember kMembers2[13] = {
    {L"Charset", 32, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"Charset", 32, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"ResponseCharset", 33, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"KeepAlive", 34, G, VT_EMPTY, nullptr, VT_BOOL},
    {L"KeepAlive", 34, P, VT_BOOL, nullptr, VT_EMPTY},
    {L"Compression", 35, G, VT_EMPTY, nullptr, VT_BOOL},
    {L"Compression", 35, P, VT_BOOL, nullptr, VT_EMPTY},
    {L"KeepCookies", 36, G, VT_EMPTY, nullptr, VT_BOOL},
    {L"KeepCookies", 36, P, VT_BOOL, nullptr, VT_EMPTY},
    {L"Cookies", 37, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"Cookies", 37, P, VT_BSTR, nullptr, VT_EMPTY},
    {L"TrustedCertificates", 38, G, VT_EMPTY, nullptr, VT_BSTR},
    {L"TrustedCertificates", 38, P, VT_BSTR, nullptr, VT_EMPTY},
};

std::vector<TMember> AllMembers()
{
  std::vector<TMember> all(std::begin(kMembers), std::end(kMembers));
  all.insert(all.end(), std::begin(kMembers2), std::end(kMembers2));
  return all;
}

void TDispatchTest::SetUp()
{
  TComPtr<IConn> conn = NewConn();
  ASSERT_TRUE(conn);
  ASSERT_EQ(S_OK, conn->QueryInterface(IID_IDispatch, disp.ReceiveVoid()));
}

void TDispatchTest::TearDown()
{
  VariantClear(&result);
  ClearException();
}

void TDispatchTest::ClearException()
{
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  exception = EXCEPINFO{};
}

HRESULT TDispatchTest::InvokeWith(DISPID id, WORD flags, std::vector<VARIANT> args, bool namedPut)
{
  VariantClear(&result);
  ClearException();
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), namedPut ? &named : nullptr,
                       static_cast<UINT>(reversed.size()), namedPut ? 1u : 0u};
  UINT argError = 0;
  return disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, namedPut ? nullptr : &result,
                      &exception, &argError);
}
