// The type information a creatable class is served from: its coclass entry
// and its default dual interface, taken from the module's type library.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "ComPtr.h"

struct TClassTypeInfo {
  TComPtr<ITypeInfo> ClassInfo;      // the coclass, for IProvideClassInfo
  TComPtr<ITypeInfo> InterfaceInfo;  // the v-table side of the dual interface, for IDispatch
  std::string ClassName;             // "Conn"
  std::string Description;           // "Conn Object"
  IID ErrorInterface;                // named by the error information of failing members
};

// Finds the coclass clsid in lib and checks that its default interface is a
// dual interface with the identifier implemented. Throws Exception with
//   "Type information missing for class %s"    (no such coclass),
//   "Incorrect type information for class %s"  (no usable default interface),
//   "Dispatch interface missing from class %s" (the object lacks that interface),
// %s being className.
TClassTypeInfo LoadClassTypeInfo(ITypeLib* lib, REFCLSID clsid, REFIID implemented,
                                 const std::string& className);
