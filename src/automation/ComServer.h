// The state of the loaded library, one per process: its path, the counts
// that decide DllCanUnloadNow, the type library and the class factory.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>

#include "ComPtr.h"

class TConnFactory;

struct TComServer {
  HMODULE Module = nullptr;
  std::wstring ModulePath;          // full path of Kestrel.dll
  HMODULE OleAut = nullptr;         // OLEAUT32.DLL, kept loaded for UnRegisterTypeLib
  volatile LONG ObjectCount = 0;    // live objects plus server locks
  volatile LONG FactoryRefCount = 0;
  TComPtr<ITypeLib> TypeLib;
  std::unique_ptr<TConnFactory> ConnFactory;

  ~TComServer();
};

TComServer& ComServer();

// Live objects and server locks keep the library loaded.
void CountObject(bool add);

// The self-registration steps; both throw Exception on failure.
void RegisterServer(TComServer& server);
void UnregisterServer(TComServer& server);
