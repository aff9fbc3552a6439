// The type information a creatable class is served from: its coclass entry
// and its default dual interface, taken from the module's type library.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "ComPtr.h"

// The interface's own member names with their dispatch ids, for the names
// scripts look up before nearly every call. The type information compares
// names with the locale's case-insensitive comparison, which costs far more
// under some platforms than the call it precedes; a name of ASCII letters,
// digits and underscores compares the same with ASCII case folded, so such
// names are answered from here and every other name from the type information.
class TMemberNames {
public:
  void Add(const wchar_t* name, DISPID id);
  // True with id set when name is one of the members; false when the type
  // information must answer (not a member, or not a plain ASCII name).
  bool Find(const wchar_t* name, DISPID& id) const;

private:
  struct TEntry {
    std::string Key;  // the name, upper-cased
    DISPID Id;
  };
  static bool MakeKey(const wchar_t* name, std::string& key);
  std::vector<TEntry> entries_;
};

struct TClassTypeInfo {
  TComPtr<ITypeInfo> ClassInfo;      // the coclass, for IProvideClassInfo
  TComPtr<ITypeInfo> InterfaceInfo;  // the v-table side of the dual interface, for IDispatch
  std::string ClassName;             // "Conn"
  std::string Description;           // "Conn Object"
  IID ErrorInterface;                // named by the error information of failing members
  TMemberNames Members;              // InterfaceInfo's own members
};

// Finds the coclass clsid in lib and checks that its default interface is a
// dual interface with the identifier implemented. Throws Exception with
//   "Type information missing for class %s"    (no such coclass),
//   "Incorrect type information for class %s"  (no usable default interface),
//   "Dispatch interface missing from class %s" (the object lacks that interface),
// %s being className.
TClassTypeInfo LoadClassTypeInfo(ITypeLib* lib, REFCLSID clsid, REFIID implemented,
                                 const std::string& className);
