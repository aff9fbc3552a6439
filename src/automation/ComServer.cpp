// Start-up and shut-down of the library, and the four standard exports of an
// in-process server.
#include "ComServer.h"

#include <oleauto.h>

#include <string>

#include "ClassFactory.h"
#include "ClassTypeInfo.h"
#include "KestrelTypeLib.h"
#include "TextBoundary.h"
#include "codecs/Exception.h"
#include "platform/ThisModule.h"
#include "platform/WinsockApi.h"

namespace {

TComServer* server = nullptr;

std::wstring ModuleFileName(HMODULE module)
{
  // Paths may be long (\\?\ form); grow until the name fits.
  for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
    std::wstring path(size, L'\0');
    const DWORD length = GetModuleFileNameW(module, &path[0], size);
    if (length == 0) break;
    if (length < size) {
      path.resize(length);
      return path;
    }
  }
  throw Exception("Cannot determine the module's file name");
}

// The programmatic identifier: the type library's name, ".", the class name.
std::wstring ProgIdOf(ITypeLib* lib, const std::string& className)
{
  BSTR name = nullptr;
  lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  std::wstring result = name ? std::wstring(name, SysStringLen(name)) : std::wstring();
  SysFreeString(name);
  return result + L"." + AnsiToWide(className);
}

void StartServer(HMODULE module)
{
  // The socket library was loaded with the module's static objects; without
  // it no request could ever work, so the module does not come up.
  if (!WinsockApi.IsLoaded()) throw EWinsockDLLError(SWinsockNotFound);
  server = new TComServer;
  server->Module = module;
  server->ModulePath = ModuleFileName(module);
  // A missing OLEAUT32 must not pop up a dialog on a server.
  const UINT oldMode = SetErrorMode(SEM_NOOPENFILEERRORBOX | SEM_FAILCRITICALERRORS);
  server->OleAut = LoadLibraryW(L"OLEAUT32.DLL");
  SetErrorMode(oldMode);

  if (FAILED(LoadTypeLibEx(server->ModulePath.c_str(), REGKIND_NONE, server->TypeLib.Receive())))
    throw Exception("Type information missing for class Conn");
  TClassTypeInfo info = LoadClassTypeInfo(server->TypeLib.Get(), CLSID_Conn, IID_IConn2, "Conn");
  // Errors name IConn as they always have, whichever interface the call came
  // through: IConn2 only extends it.
  info.ErrorInterface = IID_IConn;
  std::wstring progId = ProgIdOf(server->TypeLib.Get(), info.ClassName);
  server->ConnFactory.reset(new TConnFactory(CLSID_Conn, std::move(info), std::move(progId)));
}

void StopServer()
{
  delete server;
  server = nullptr;
}

}  // namespace

TComServer::~TComServer()
{
  ConnFactory.reset();
  TypeLib.Reset();
  if (OleAut) FreeLibrary(OleAut);
}

TComServer& ComServer() { return *server; }

void CountObject(bool add)
{
  if (add)
    InterlockedIncrement(&server->ObjectCount);
  else
    InterlockedDecrement(&server->ObjectCount);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
  switch (reason) {
  case DLL_PROCESS_ATTACH:
    DisableThreadLibraryCalls(instance);
    try {
      StartServer(instance);
    } catch (const std::exception& e) {
      // A library whose type information does not match its class must not
      // load; a server has no one to show a dialog to, so the text goes to
      // the debugger.
      OutputDebugStringA(("Kestrel.dll: " + std::string(e.what()) + "\n").c_str());
      StopServer();
      return FALSE;
    }
    return TRUE;
  case DLL_PROCESS_DETACH:
    // At process exit other libraries may already be gone: leave the
    // operating system to reclaim everything.
    if (reserved == nullptr) StopServer();
    return TRUE;
  default:
    return TRUE;
  }
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
  if (!ppv) return E_POINTER;
  TConnFactory* factory = server->ConnFactory.get();
  if (factory && IsEqualCLSID(rclsid, factory->ClassId()))
    return factory->QueryInterface(riid, ppv);
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
  return server->ObjectCount == 0 && server->FactoryRefCount == 0 && !ModuleInUse() ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer()
{
  try {
    RegisterServer(*server);
    return S_OK;
  } catch (const std::exception& e) {
    OutputDebugStringA(("Kestrel.dll: " + std::string(e.what()) + "\n").c_str());
    return E_FAIL;
  }
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
  try {
    UnregisterServer(*server);
    return S_OK;
  } catch (const std::exception& e) {
    OutputDebugStringA(("Kestrel.dll: " + std::string(e.what()) + "\n").c_str());
    return E_FAIL;
  }
}
