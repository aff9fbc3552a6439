// Shared by the automation tests: Kestrel.dll loaded from the tree the test
// runs in (../Kestrel.dll next to the tests folder), COM initialised for the
// process, and small helpers for BSTRs and error information.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ComPtr.h"
#include "KestrelTypeLib.h"

struct TKestrelDll {
  HMODULE Module = nullptr;
  std::wstring Path;
  HRESULT(WINAPI* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(WINAPI* CanUnloadNow)() = nullptr;
  HRESULT(WINAPI* RegisterServer)() = nullptr;
  HRESULT(WINAPI* UnregisterServer)() = nullptr;
};

// Loads the library once per process and keeps it loaded.
const TKestrelDll& KestrelDll();
// Loads a library file by path and looks its four exports up; false when
// any is missing.
bool LoadServerExports(const std::wstring& path, TKestrelDll& dll);
// The folder of the running test executable, with a trailing backslash.
std::wstring TestFolder();
// The scenario server's base URL ("http://127.0.0.1:PORT/"), empty when the
// servers are not running.
std::wstring ScenarioBase();
// The same for nginx over the test site.
std::wstring NginxBase();
// "https://localhost:PORT/" of a TLS server (tests/servers/README.md): nginx
// with the good certificate by default, or the server of another
// KESTREL_TLS_*_PORT variable (EXPIRED, WRONGNAME, UNTRUSTED, SILENT, PLAIN,
// GARBAGE, HSCLOSE, HOSTILE). The certificates name localhost, not the
// address. Empty when the servers are not running.
std::wstring TlsBase(const char* portVariable = "KESTREL_TLS_PORT");
// The scenario routes over TLS (tls_server.py): TlsBase("KESTREL_TLS_SCENARIO_PORT").
std::wstring TlsScenarioBase();
// "127.0.0.1:PORT" of a proxy, for Proxy: tinyproxy (tunnels to the TLS
// ports) by default, KESTREL_PROXY_NOCONNECT_PORT (refuses CONNECT) or
// KESTREL_PROXY_AUTH_PORT (wants "kestrel:s3cret:pw"). Empty when unset.
std::wstring ProxyAddress(const char* portVariable = "KESTREL_PROXY_PORT");

// Sentinels that prove a member wrote, or cleared, its out parameter.
inline BSTR SentinelBstr() { return reinterpret_cast<BSTR>(static_cast<ULONG_PTR>(0xdeadbeef)); }
constexpr LONG kSentinelLong = static_cast<LONG>(0xdeadbeef);

// Owns a BSTR for the length of a test.
class TBstr {
public:
  TBstr() = default;
  explicit TBstr(const std::wstring& text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  TBstr(const TBstr&) = delete;
  TBstr& operator=(const TBstr&) = delete;
  ~TBstr() { Free(); }
  BSTR Get() const { return value_; }
  // For out parameters: starts with the sentinel so a missed write shows.
  BSTR* Out() { Free(); value_ = SentinelBstr(); return &value_; }
  bool IsNull() const { return value_ == nullptr; }
  bool IsSentinel() const { return value_ == SentinelBstr(); }
  // The whole text, embedded NULs included.
  std::wstring Text() const;

private:
  void Free() { if (value_ != SentinelBstr()) SysFreeString(value_); value_ = nullptr; }
  BSTR value_ = nullptr;
};

// A new Conn object straight from the library's class object.
TComPtr<IConn> NewConn();

// The error information the last failing call left on this thread.
struct TErrorText {
  bool Present = false;
  std::wstring Description;
  std::wstring Source;
  GUID Interface = GUID_NULL;
  DWORD HelpContext = 0;
  std::wstring HelpFile;
};
TErrorText TakeErrorInfo();

std::wstring GuidText(REFGUID guid);

// The members of IConn, and those IConn2 adds after them, in v-table order,
// as the type library describes them.
struct TMember {
  const wchar_t* name;
  MEMBERID id;
  INVOKEKIND kind;
  VARTYPE in;             // VT_EMPTY: no input parameter
  const wchar_t* inName;  // the input parameter's name; none on property puts
  VARTYPE out;            // VT_EMPTY: no result
};
extern const TMember kMembers[45];
extern const TMember kMembers2[13];
// Both tables, IConn's first: every member a script can name.
std::vector<TMember> AllMembers();

// A new Conn object's IDispatch, with the result and exception information of
// the last call, for tests that invoke members by dispatch identifier.
class TDispatchTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  void ClearException();
  // Invokes with the arguments in call order. With namedPut the value goes as
  // the named put argument and no result is asked for.
  HRESULT InvokeWith(DISPID id, WORD flags, std::vector<VARIANT> args, bool namedPut);

  TComPtr<IDispatch> disp;
  VARIANT result = {};
  EXCEPINFO exception = {};
};
