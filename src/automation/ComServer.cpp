// Start-up and shut-down of the library, and the four standard exports of an
// in-process server.
#include "ComServer.h"

#include <oleauto.h>
#include <olectl.h>

#include <new>
#include <string>

#include "ClassFactory.h"
#include "ClassTypeInfo.h"
#include "ComError.h"
#include "KestrelTypeLib.h"
#include "TextBoundary.h"
#include "codecs/Exception.h"
#include "platform/CriticalSection.h"
#include "platform/ThisModule.h"
#include "platform/WinsockApi.h"

namespace {

// Plain statics changed only with interlocked operations: nothing runs for
// them when the library loads or unloads.
volatile LONG objectCount = 0;
volatile LONG factoryReferences = 0;
volatile LONG lockCount = 0;

// Starting, releasing and registering go one at a time; so do the first
// calls of several threads at once.
TCriticalSection startLock;
TComServer* server = nullptr;  // null until first use, and again once released

// Names the class in failures that come before its type information does.
const TErrorOrigin StartOrigin{IID_IConn, L"Kestrel.Conn"};

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

// The server, loaded now if this is its first use. Call under startLock.
TComServer& StartedServer()
{
  if (server) return *server;
  std::unique_ptr<TComServer> started(new TComServer);
  started->ModulePath = ModuleFileName(ThisModule());
  const HRESULT loaded = LoadTypeLibEx(started->ModulePath.c_str(), REGKIND_NONE, started->TypeLib.Receive());
  if (FAILED(loaded)) throw EOleSysError("Type information missing for class Conn", loaded);
  TClassTypeInfo info = LoadClassTypeInfo(started->TypeLib.Get(), CLSID_Conn, IID_IConn2, "Conn");
  // Errors name IConn as they always have, whichever interface the call came
  // through: IConn2 only extends it.
  info.ErrorInterface = IID_IConn;
  std::wstring progId = ProgIdOf(started->TypeLib.Get(), info.ClassName);
  started->ConnFactory.reset(new TConnFactory(CLSID_Conn, std::move(info), std::move(progId)));
  server = started.release();
  return *server;
}

bool Idle() { return objectCount == 0 && factoryReferences == 0 && lockCount == 0; }

// While nothing uses the library, what it loaded is given back; the next use
// loads it again. Call under startLock.
void ReleaseWhenIdle()
{
  if (!Idle()) return;
  delete server;
  server = nullptr;
  WinsockApi.ReleaseUnused();
}

// A server has no one to show a dialog to: the text goes to the debugger.
void TellDebugger(const std::string& message)
{
  OutputDebugStringA(("Kestrel.dll: " + message + "\n").c_str());
}

// Runs a registration step on the started server and releases what it
// loaded for it. A failure without a code of its own gives otherFailure.
template <class Step>
HRESULT RunRegistrationStep(Step step, HRESULT otherFailure)
{
  TLockGuard lock(startLock);
  HRESULT result = S_OK;
  try {
    step(StartedServer());
  } catch (const EOleSysError& e) {
    TellDebugger(e.Message());
    result = e.ErrorCode() < 0 ? e.ErrorCode() : otherFailure;
  } catch (const std::bad_alloc&) {
    result = E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    TellDebugger(e.what());
    result = otherFailure;
  }
  ReleaseWhenIdle();
  return result;
}

}  // namespace

TComServer::~TComServer() = default;

void CountObject(bool add)
{
  if (add)
    InterlockedIncrement(&objectCount);
  else
    InterlockedDecrement(&objectCount);
}

ULONG CountFactoryReference(bool add)
{
  return static_cast<ULONG>(add ? InterlockedIncrement(&factoryReferences) : InterlockedDecrement(&factoryReferences));
}

bool CountServerLock(bool lock)
{
  if (lock) {
    InterlockedIncrement(&lockCount);
    return true;
  }
  // Never below zero: an unmatched unlock must not hide a live lock or object.
  for (LONG locks = lockCount; locks > 0; locks = lockCount)
    if (InterlockedCompareExchange(&lockCount, locks - 1, locks) == locks) return true;
  return false;
}

// Nothing is loaded here: the loader lock is held, and a failure could only
// show as a library that will not load. What the library needs is loaded on
// first use and released while nothing uses it; at process end the system
// takes back whatever is left, so nothing is called from here then either.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_Conn)) return CLASS_E_CLASSNOTAVAILABLE;
  TLockGuard lock(startLock);
  try {
    return StartedServer().ConnFactory->QueryInterface(riid, ppv);
  } catch (...) {
    TellDebugger(DescribeCurrentException());
    return ReportCurrentException(StartOrigin);
  }
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
  TLockGuard lock(startLock);
  // Windows let go of from another thread still call this module until their
  // thread destroys them.
  if (!Idle() || ModuleInUse()) return S_FALSE;
  ReleaseWhenIdle();
  return S_OK;
}

extern "C" HRESULT WINAPI DllRegisterServer()
{
  return RunRegistrationStep(RegisterServer, SELFREG_E_TYPELIB);
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
  return RunRegistrationStep(UnregisterServer, SELFREG_E_TYPELIB);
}
