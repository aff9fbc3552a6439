// The state of the loaded library, one per process: the counts that decide
// DllCanUnloadNow, and what the library loads on first use (its path, the
// type library and the class factory).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>

#include "ComPtr.h"

class TConnFactory;

// Loaded by the first call that needs it, under the server's lock, and
// released again while nothing uses the library.
struct TComServer {
  std::wstring ModulePath;  // full path of Kestrel.dll
  TComPtr<ITypeLib> TypeLib;
  std::unique_ptr<TConnFactory> ConnFactory;

  ~TComServer();
};

// Live objects, and whatever of theirs can still call into the library, keep
// it loaded.
void CountObject(bool add);

// References held on the class factory; returns the new count.
ULONG CountFactoryReference(bool add);

// Server locks (IClassFactory::LockServer). An unlock without a lock to undo
// changes nothing and returns false.
bool CountServerLock(bool lock);

// The self-registration steps; both throw on failure, an EOleSysError
// carrying SELFREG_E_TYPELIB or SELFREG_E_CLASS (or the system's own code)
// for the step that failed.
void RegisterServer(TComServer& server);
void UnregisterServer(TComServer& server);
